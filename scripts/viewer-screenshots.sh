#!/usr/bin/env bash
# Makes the pictures of the viewer page (README.md, docs/viewer.md,
# docs/findings.md): docs/viewer-session.png (the -w page of the sample with
# a Data message selected), docs/viewer-filtered.png (the same page filtered
# to the Data and Stop messages, a range of the timeline selected) and
# docs/viewer-findings.png (the page of examples/stall.txt, its first
# finding gone to with the F key). Debian's headless Chromium
# driven by python3-selenium. Run after a build, as root on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh chromium chromium-driver python3-selenium
[[ -x build/decoder/vornlog && -f build/viewer/vornlog-viewer.html ]] ||
  { echo "FAIL: no build/decoder/vornlog or viewer page: build first (bash scripts/deps.sh --wasm)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/decoder/vornlog -n -q -w examples/session.txt "$work/session.html"
build/decoder/vornlog -n -q -w examples/stall.txt "$work/stall.html"
/usr/bin/python3 - "$work" "$root/docs" "$root" <<'PY'
import os, sys
sys.path.insert(0, os.path.join(sys.argv[3], "tests", "viewer"))
from browser import Browser
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

work, docs = sys.argv[1:3]
browser = Browser(work, extra=["--hide-scrollbars"])
d = browser.driver
ready = lambda: WebDriverWait(d, 120, 0.1).until(
    lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-state") == "ready")
shown = lambda n: WebDriverWait(d, 30, 0.05).until(
    lambda d: d.find_element(By.CSS_SELECTOR, "#details [data-message]").get_attribute("data-message") == n)
# The Data message of 2400 pulses: its segment marked on the tool path.
d.get("file://" + work + "/session.html#m=45")
ready()
shown("45")
d.save_screenshot(docs + "/viewer-session.png")
# Data and Stop only, then the middle half of the timeline (shift+drag),
# then a Stop message by its link.
f = d.find_element(By.ID, "f-instructions")
f.send_keys("D,S")
t = d.find_element(By.ID, "timeline")
w = t.size["width"]
ActionChains(d).move_to_element_with_offset(t, int(-w * 0.25), 0).key_down(Keys.SHIFT).click_and_hold() \
    .move_by_offset(int(w * 0.5), 0).release().key_up(Keys.SHIFT).perform()
d.execute_script("location.hash = '#m=63'")
shown("63")
d.save_screenshot(docs + "/viewer-filtered.png")
# The stall example: F goes to its first finding.
d.get("file://" + work + "/stall.html")
ready()
ActionChains(d).send_keys("f").perform()
first = d.find_element(By.CSS_SELECTOR, "#findings [data-finding]").get_attribute("data-first")
shown(first)
d.save_screenshot(docs + "/viewer-findings.png")
browser.quit()
PY
echo "docs/viewer-session.png, docs/viewer-filtered.png and docs/viewer-findings.png written"
