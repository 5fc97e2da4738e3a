#!/usr/bin/env python3
"""The comparison's page (vornlog -c -w) in Debian's headless Chromium, on
the example pair of one job: the page becomes ready without a console
error; its differences list holds what -c -j lists, in order; a click on
each difference selects in both runs the Data message that stored the
segment at that place (its number as -j numbers it, its NBR and steps as
the steps CSV's row); a capture's name full of markup stays text.

    compare_page_test.py VORNLOG EXAMPLES_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

try:
    from browser import Browser, Wait
    from selenium.webdriver.common.by import By
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(77)

vornlog, examples = sys.argv[1:3]
work = tempfile.mkdtemp(prefix="compare-page-test-")
failures = []


def fail(text):
    failures.append(text)
    print("FAIL:", text)


def run(*args):
    done = subprocess.run([vornlog, "-n", "-q", *args], capture_output=True, cwd=work)
    if done.returncode != 0:
        sys.exit(f"vornlog {' '.join(args)}: status {done.returncode}: {done.stderr.decode()}")
    return done.stdout.decode()


def stored_segments(capture):
    """Each stored segment's Data message number (from -j: the PC's Data
    message that a "stored" reply confirmed) and its steps CSV row."""
    numbers, last = [], None
    for line in run("-j", capture, "-").splitlines():
        o = json.loads(line)
        if o["instruction"] != "Data":
            continue
        if o["from"] == "PC":
            last = o["number"]
        elif any(f["name"] == "ST" and f["raw"] == 1 for f in o["fields"]) and last is not None:
            numbers.append(last)
            last = None
    rows = [r.split(";") for r in run("-s", capture, "-").splitlines()[1:]]
    # The end-of-data mark's row has no steps.
    return [(n, {"NBR": r[2], "S1": r[3], "S2": r[4], "S3": r[5], "S4": r[6], "S5": r[7]} if len(r) > 7 else {})
            for n, r in zip(numbers, rows)]


# The captures under a name of markup: it must stay text in the page.
name = "<img src=x onerror=alert(1)>&amp;.txt"
before = os.path.join(work, name)
shutil.copy(os.path.join(examples, "compare-before.txt"), before)
after = os.path.join(work, "after.txt")
shutil.copy(os.path.join(examples, "compare-after.txt"), after)
lines = [json.loads(l) for l in run("-j", "-c", name, "after.txt", "-").splitlines()]
differences = lines[:-1]
run("-w", "-c", name, "after.txt", "compare.html")
page = open(os.path.join(work, "compare.html"), encoding="utf-8").read()
if "<img" in page:
    fail("the capture's name became markup in the page")
segments = {"before": stored_segments(name), "after": stored_segments("after.txt")}
if not differences or not any(d["kind"] == "underrun" for d in differences):
    fail(f"the example pair gives no stand-still to compare: {differences}")

browser = Browser(work)
d = browser.driver
try:
    started = time.monotonic()
    d.get("file://" + os.path.join(work, "compare.html"))
    Wait(d, 120).until(lambda d: d.execute_script("return document.body.dataset.state") != "loading")
    print(f"ready in {time.monotonic() - started:.2f} s, page {len(page)} bytes")
    if d.execute_script("return document.body.dataset.state") != "ready":
        fail("the page did not become ready: " + d.find_element(By.ID, "verdict").text)
    shown = d.find_element(By.ID, "runs").text
    if name not in shown:
        fail(f"the capture's name is not shown as text: {shown!r}")

    items = d.find_elements(By.CSS_SELECTOR, "#differences li[data-difference]")
    got = [(li.get_attribute("data-difference"), li.get_attribute("data-kind"), li.get_attribute("data-segment"))
           for li in items]
    want = [(str(i + 1), x["kind"], "" if x["segment"] is None else str(x["segment"]))
            for i, x in enumerate(differences)]
    if got != want:
        fail(f"the differences list {got} is not what -c -j lists {want}")

    for item, x in zip(items, differences):
        item.click()
        if x["segment"] is None:
            continue
        mine, other = x["in"] if x["in"] != "both" else "after", "before" if x["in"] != "before" else "after"
        places = {mine: x["segment"], other: x["other_segment"]}
        for side in ("before", "after"):
            box = d.find_element(By.ID, "selected-" + side)
            k = places[side]
            if not k:
                if box.get_attribute("data-message") is not None:
                    fail(f"difference {item.get_attribute('data-difference')}: {side} has no place, yet a message is selected")
                continue
            number, row = segments[side][k - 1]
            if box.get_attribute("data-message") != str(number) or box.get_attribute("data-segment") != str(k):
                fail(f"difference {item.get_attribute('data-difference')}: {side} selects message "
                     f"{box.get_attribute('data-message')} (segment {box.get_attribute('data-segment')}), "
                     f"not message {number} of segment {k}")
            text = box.text
            for field, value in row.items():
                value = value if value.startswith("-") or value == "0" or field == "NBR" else "+" + value
                if f"{field} {value}" not in text:
                    fail(f"difference {item.get_attribute('data-difference')}: {side} does not show {field} {value}: {text!r}")
        if "selected" not in item.get_attribute("class"):
            fail(f"difference {item.get_attribute('data-difference')} is not marked selected after its click")

    errors = [e for e in d.get_log("browser") if e["level"] == "SEVERE"]
    if errors:
        fail(f"console errors: {errors}")
finally:
    browser.quit()

if failures:
    sys.exit(f"{len(failures)} failures; the files are in {work}")
shutil.rmtree(work, ignore_errors=True)
print("ok")
