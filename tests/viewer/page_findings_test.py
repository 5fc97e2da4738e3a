#!/usr/bin/env python3
"""The viewer page in Debian's headless Chromium on what used to break it:
a session of 100,000 findings (the findings list keeps only the rows in
view in the page, scrolls, and a click and F go to a finding); a link
followed while the page itself selects another message or while the
previous selection's details are on their way (the link wins); a line
with a bad time (the others keep their times, as vornlog -j gives them).

    page_findings_test.py VORNLOG RANDOM_CAPTURES_PY
"""
import json
import os
import subprocess
import sys
import tempfile

try:
    from browser import Browser, Wait
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(77)

vornlog, random_captures = sys.argv[1:3]
work = tempfile.mkdtemp(prefix="page-findings-test-")
failures = []


def fail(text):
    failures.append(text)
    print("FAIL:", text)


def ok(since, text):
    if len(failures) == since:
        print("ok:", text)


def run(*args):
    return subprocess.run([vornlog, "-n", "-q", *args], capture_output=True, text=True)


def page_of(capture):
    dest = capture + ".html"
    r = run("-w", capture, dest)
    if r.returncode != 0:
        fail(f"vornlog -w {capture}: exit {r.returncode}: {r.stderr}")
    return dest


browser = Browser(work)
d = browser.driver


def open_page(page):
    d.get("file://" + page)
    Wait(d, 600, 0.1).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-state") in ("ready", "failed"))


def js(script, *args):
    return d.execute_script(script, *args)


SELECTED = """const b = document.querySelector('#details [data-message]'), r = document.querySelector('#list .row.selected');
return [location.hash, b && b.dataset.message, r && r.dataset.number];"""

# 100,001 Information requests 0.7 s apart that the controller never
# answers: 100,000 "no reply" findings, each apart from the next.
many = os.path.join(work, "unanswered.txt")
with open(many, "w") as f:
    for k in range(100001):
        ms = k * 700
        f.write(f"{k + 1}\tOUT\t{ms // 3600000:02}:{ms // 60000 % 60:02}:{ms // 1000 % 60:02}.{ms % 1000:03}\t1\t49\tI\n")
since = len(failures)
found = [json.loads(line) for line in run("-e", many, "-").stdout.splitlines()]
if len(found) < 100000:
    fail(f"vornlog -e finds {len(found)} findings in the 100,001 unanswered requests")
open_page(page_of(many))
ROWS = "return document.querySelectorAll('#findings .finding').length"
if js("return document.getElementById('findings-count').textContent") != str(len(found)):
    fail("many findings: the page does not count vornlog -e's findings")
first_rows = js(ROWS)
if not 0 < first_rows <= 100:
    fail(f"many findings: {first_rows} rows in the page for {len(found)} findings")
by_first = sorted(found, key=lambda f: (f["first"], f["id"]))
for place in (len(by_first) // 2, len(by_first) - 1):
    js("const box = document.getElementById('findings'); box.scrollTop = arguments[0] * box.scrollHeight / arguments[1];",
       place, len(by_first))
    want = by_first[place]
    try:
        row = Wait(d, 60).until(lambda d: d.find_element(By.CSS_SELECTOR, f'#findings [data-place="{place}"]'))
        row.click()
        Wait(d, 60).until(lambda d: js(SELECTED) == [f"#m={want['first']}", str(want["first"]), str(want["first"])])
    except Exception:
        fail(f"many findings: a click on place {place} (#{want['id']}) selected {js(SELECTED)}, not #{want['first']}")
    rows = js(ROWS)
    if not 0 < rows <= 100:
        fail(f"many findings: {rows} rows in the page after scrolling to place {place}")
    if want["text"] not in js("return document.getElementById('finding-said').textContent"):
        fail(f"many findings: the sentence of #{want['id']} is not shown over the list")
# F from the middle: the next finding; from the last: none, said so.
d.find_element(By.TAG_NAME, "body").send_keys("f")
said = Wait(d, 30).until(lambda d: d.find_element(By.ID, "status").get_attribute("data-nothing"))
if "No finding after" not in said or js(SELECTED)[1] != str(by_first[-1]["first"]):
    fail(f"many findings: F after the last finding says {said!r} and selects {js(SELECTED)}")
d.get_screenshot_as_file(os.path.join(work, "many-findings.png"))
ok(since, f"many findings: {len(found)} listed with at most {max(first_rows, rows)} rows in the page; "
   "scrolled, clicked, F at the end said")

# A random capture of some 300 lines: a link followed while the page
# selects another message (a click in the list between the link and its
# hashchange), and a link followed while the details of the message
# selected just before are on their way: the link wins.
since = len(failures)
subprocess.run([sys.executable, random_captures, "3", work, "7"], check=True)
capture = os.path.join(work, "random-02.txt")
numbers = [json.loads(line)["number"] for line in run("-j", capture, "-").stdout.splitlines()]
open_page(page_of(capture))
for k in range(0, 40, 7):
    link, far = numbers[k + 2], numbers[-1 - k]
    js("document.getElementById('list').scrollTop = arguments[0] * 20;", k)
    Wait(d, 30).until(lambda d: d.find_elements(By.CSS_SELECTOR, f'#list .row[data-number="{numbers[k]}"]'))
    js(f"""location.hash = '#m={link}';
document.querySelector('#list .row[data-number="{numbers[k]}"]').click();""")
    try:
        Wait(d, 30).until(lambda d: js(SELECTED) == [f"#m={link}", str(link), str(link)])
    except Exception:
        fail(f"link race: #m={link} followed while the list selected #{numbers[k]}: the page shows {js(SELECTED)}")
    js(f"""location.hash = '#m={far}';
addEventListener('hashchange', () => setTimeout(() => {{ location.hash = '#m={link}'; }}), {{ once: true }});""")
    Wait(d, 30).until(lambda d: js(SELECTED)[1] == str(link))
    # Every line asked before is in once the rows at the list's end (asked
    # after them) are: the worker answers in turn.
    js("const l = document.getElementById('list'); l.scrollTop = l.scrollHeight;")
    Wait(d, 30).until(lambda d: js("""const rows = [...document.querySelectorAll('#list .row')];
return rows.length > 0 && rows.some((r) => r.dataset.number === arguments[0]) && rows.every((r) => 'line' in r.dataset);""",
                                   str(numbers[-1])))
    if js(SELECTED)[:2] != [f"#m={link}", str(link)]:
        fail(f"link race: #m={link} followed while #{far}'s details came: the page shows {js(SELECTED)}")
ok(since, "link race: the link followed wins")

# A line with a bad time: it has none, the others keep theirs, and the
# timeline stays along the time.
since = len(failures)
bad = os.path.join(work, "bad-time.txt")
with open(many) as f, open(bad, "w") as out:
    for k, line in enumerate(f):
        if k == 60:
            break
        out.write(line.replace("00:00:14.000", "00:00:60.000"))
times = {o["number"]: o["t"] for o in map(json.loads, run("-j", bad, "-").stdout.splitlines())}
open_page(page_of(bad))
shown = js("""return [...document.querySelectorAll('#list .row')].map((r) => [r.dataset.number, r.children[1].textContent]);""")
want = [[str(n), "" if times[int(n)] is None else f"{times[int(n)]:.3f}"] for n, _ in shown]
if shown != want or times[21] is not None:
    fail(f"bad time: the list shows {shown}, vornlog -j {want}")
legend = d.find_element(By.ID, "timeline-legend").text
span = float(d.find_element(By.ID, "timeline").get_attribute("data-to"))
if "no times" in legend or abs(span - times[60]) > 1e-6:
    fail(f"bad time: the timeline spans to {span} ({legend!r}), not the last message's {times[60]} s")
ok(since, "bad time: one line without its time, the others with theirs")

logs = [e for e in d.get_log("browser") if e["level"] == "SEVERE"]
if logs:
    fail(f"console errors: {logs}")
browser.quit()
if failures:
    print(f"{len(failures)} failures; pages and screenshots in {work}")
    sys.exit(1)
