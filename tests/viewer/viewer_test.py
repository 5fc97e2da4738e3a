#!/usr/bin/env python3
"""The viewer page in Debian's headless Chromium, judged against the native
decoder: every message's details (data-field, data-raw, data-text, data-bit,
data-value, data-error) must say what vornlog -j says of it, on -w pages of
the sample text dump and pcapng, of random captures, and on the empty page
given a capture through its file input. Also: clicking a tool-path segment
selects the Data message of that steps CSV row; the timeline counts the
errors, refusals and requests without a reply that -j and the summary count;
the findings list holds what -e writes, and a click or a key goes to each;
texts from a capture are shown as text, never as markup; a damaged capture
shows what was decoded and the console's message; no console error and no
network request.

    viewer_test.py VORNLOG EMPTY_PAGE EXAMPLES_DIR RANDOM_CAPTURES_PY
"""
import base64
import datetime
from decimal import Decimal, ROUND_HALF_UP
import json
import random
import os
import re
import struct
import subprocess
import sys
import tempfile
import time

try:
    from browser import Browser, Wait
    from page_capture import compressed_capture, embedded_capture, with_capture
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    print("SKIP: python3-selenium is not installed")
    sys.exit(77)

vornlog, empty_page, examples, random_captures = sys.argv[1:5]
work = tempfile.mkdtemp(prefix="viewer-test-")
failures = []


def fail(text):
    failures.append(text)
    print("FAIL:", text)


def run(*args, **kw):
    return subprocess.run([vornlog, "-n", "-q", *args], capture_output=True, **kw)


def native_json(capture):
    out = run("-j", capture, "-").stdout.decode()
    return [json.loads(line) for line in out.splitlines()]


def page_of(capture):
    dest = os.path.join(work, os.path.basename(capture) + ".html")
    r = run("-w", capture, dest)
    if r.returncode != 0:
        fail(f"vornlog -w {capture}: exit {r.returncode}: {r.stderr.decode()}")
    embedded_is(dest, capture)
    return dest


def embedded_is(page, capture):
    """The page carries the capture's very bytes (compressed, base64, in
    the capture element and the parts after it) and their size."""
    with open(page, encoding="utf-8") as f:
        found = embedded_capture(f.read())
    with open(capture, "rb") as f:
        want = f.read()
    if found != (len(want), want):
        fail(f"vornlog -w {capture}: the page does not carry the capture's bytes")


browser = Browser(work)
driver = browser.driver


def wait_ready(limit=300):
    Wait(driver, limit, poll_frequency=0.1).until(
        lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-state") in ("ready", "failed"))
    return driver.find_element(By.TAG_NAME, "body").get_attribute("data-state")


# Every message's details, read in the page: each number given to #m=, and
# the details element read once it shows that message.
READ_ALL = """
const numbers = arguments[0], done = arguments[arguments.length - 1];
const out = [];
(async () => {
  for (const n of numbers) {
    location.hash = '#m=' + n;
    let box = null;
    for (let tries = 0; tries < 2000; tries++) {
      box = document.querySelector('#details [data-message]');
      if (box && box.dataset.message === String(n)) break;
      await new Promise((r) => setTimeout(r, 0));
    }
    if (!box || box.dataset.message !== String(n)) { out.push(null); continue; }
    const fields = [], errors = [];
    for (const el of box.children) {
      if ('field' in el.dataset) {
        const f = { name: el.dataset.field };
        if ('raw' in el.dataset) f.raw = el.dataset.raw;
        if ('text' in el.dataset) f.text = el.dataset.text;
        const bits = [...el.querySelectorAll('[data-bit]')].map((b) => [b.dataset.bit, b.dataset.value, b.dataset.text]);
        if (bits.length) f.bits = bits;
        fields.push(f);
      } else if ('error' in el.dataset) {
        errors.push(el.dataset.error);
      }
    }
    const row = document.querySelector('#list .row.selected');
    const pairing = {};
    for (const key of ['request', 'delay', 'reply']) if (key in box.dataset) pairing[key] = box.dataset[key];
    if ('unanswered' in box.dataset) pairing.unanswered = true;
    out.push({ number: box.dataset.message, fields, errors, pairing,
               shown: box.textContent + ' / ' + (row && row.dataset.number === String(n) ? row.textContent : '') });
  }
  done(out);
})();
"""


def pairing_of(objects):
    """Each message's request and reply by the summary's rule: a PC message
    is answered by the first controller message of its code before the next
    PC message; the delay in ms, three decimals, from the times' exact
    nanoseconds (rounded as the browser's toFixed rounds the same double)."""
    ns = lambda o: int(Decimal(repr(o["t"])) * 10**9)
    out = {o["number"]: {} for o in objects}
    waiting = None
    for o in objects:
        if o["from"] == "PC":
            if waiting:
                out[waiting["number"]]["unanswered"] = True
            waiting = o
        elif waiting and o["code"] == waiting["code"]:
            out[o["number"]]["request"] = str(waiting["number"])
            out[waiting["number"]]["reply"] = str(o["number"])
            if o["t"] is not None and waiting["t"] is not None:
                delay = Decimal((ns(o) - ns(waiting)) / 1e6).quantize(Decimal("0.001"), rounding=ROUND_HALF_UP)
                out[o["number"]]["delay"] = str(delay)
            waiting = None
    if waiting:
        out[waiting["number"]]["unanswered"] = True
    return out


def expected(o, pairing=None):
    fields = []
    for f in o["fields"]:
        e = {"name": f["name"]}
        # Every field has every key; a null one has no attribute.
        if f.get("raw") is not None:
            e["raw"] = str(f["raw"])
        if f.get("text") is not None:
            e["text"] = f["text"]
        if f.get("bits"):
            e["bits"] = [[str(b["bit"]), str(b["value"]), b["text"]] for b in f["bits"]]
        fields.append(e)
    errors = [e["text"] if isinstance(e, dict) else e for e in o["errors"]]
    return {"number": str(o["number"]), "fields": fields, "errors": errors, "pairing": (pairing or {}).get(o["number"], {})}


def compare_details(what, objects, firefox=None, only=None):
    if firefox:
        n = firefox.script("return document.body.dataset.messages")
    else:
        n = driver.find_element(By.TAG_NAME, "body").get_attribute("data-messages")
    if n != str(len(objects)):
        fail(f"{what}: the page has {n} messages, vornlog -j {len(objects)}")
        return
    pairing = pairing_of(objects)
    if only is not None:
        objects = [o for o in objects if o["number"] in only]
    if firefox:
        got = firefox.async_script(READ_ALL, [o["number"] for o in objects])
    else:
        driver.set_script_timeout(600)
        got = driver.execute_async_script(READ_ALL, [o["number"] for o in objects])
    wrong = 0
    for o, g in zip(objects, got):
        # No "null" on the screen (details, list row) that the message's
        # own texts do not hold.
        shown = g.pop("shown") if g else ""
        own = " ".join([f["text"] for f in o["fields"] if f.get("text")] + expected(o)["errors"])
        if re.search(r"\bnull\b", shown) and not re.search(r"\bnull\b", own):
            wrong += 1
            if wrong <= 3:
                fail(f"{what}: message {o['number']}: the page shows a null: {shown!r}")
            continue
        if g != expected(o, pairing):
            wrong += 1
            if wrong <= 3:
                fail(f"{what}: message {o['number']}: the page shows {json.dumps(g)}, "
                     f"vornlog -j {json.dumps(expected(o, pairing))}")
    if wrong > 3:
        fail(f"{what}: {wrong} messages differ in all")
    rows = (firefox.script if firefox else driver.execute_script)(
        "return [...document.querySelectorAll('#list [data-number]')].length")
    if not rows:
        fail(f"{what}: the list shows no row with data-number")
    print(f"ok: {what}: {len(objects)} messages, {'their' if only is not None else 'every one' + chr(39) + 's'} "
          "details as vornlog -j")


def check_console_and_network(what):
    for e in driver.get_log("browser"):
        if e["level"] in ("SEVERE", "WARNING"):
            fail(f"{what}: console: {e['message']}")
    pages = 0
    for e in driver.get_log("performance"):
        m = json.loads(e["message"])["message"]
        if m["method"] == "Network.requestWillBeSent":
            url = m["params"]["request"]["url"]
            if m["params"].get("documentURL", "").startswith("chrome://") or url.startswith("chrome://"):
                continue  # the browser's own start page, not the viewer's
            if not (url.startswith("file://") or url.startswith("blob:")):
                fail(f"{what}: network request for {url}")
            elif url.startswith("file://") and not url.split("#")[0].endswith(".html"):
                fail(f"{what}: the page read {url}")
            elif url.startswith("file://"):
                pages += 1
    if pages == 0:
        fail(f"{what}: the browser's network log does not even show the page being opened")


def timeline_counts():
    c = driver.find_element(By.ID, "timeline")
    return {k: int(c.get_attribute("data-" + k)) for k in ("errors", "refusals", "no-reply", "stops")}


def summary_count(summary, pattern):
    m = re.search(pattern, summary, re.M)
    return int(m.group(1)) if m else 0


def check_markers(what, capture, objects):
    summary = run("-t", capture, "-").stdout.decode()
    # The summary panel: the -t page, but for the file's name (the page
    # knows the file's own name, the console the path it was given).
    Wait(driver, 300, 0.05).until(lambda d: d.find_element(By.ID, "summary").get_attribute("data-ready"))
    panel = driver.find_element(By.ID, "summary").get_attribute("textContent")
    if panel.replace(os.path.basename(capture), capture, 1) != summary:
        fail(f"{what}: the summary panel is not the -t page")
    got = timeline_counts()
    want = {
        "errors": sum(1 for o in objects if o["errors"]),
        "refusals": summary_count(summary, r"^\s*buffer full, not stored\s+(\d+)"),
        "no-reply": summary_count(summary, r"^\s*PC messages without a reply[^:]*: (\d+)"),
        # A Stop that asks for the status is no stop.
        "stops": summary_count(summary, r"^\s*Stop messages\s+(\d+)")
        - summary_count(summary, r"^\s*Stop messages\s+\d+\n(?:\s+\d+\s+\w.*\n)*?\s+(\d+)\s+Get status$"),
    }
    for k, v in want.items():
        if got[k] != v:
            fail(f"{what}: the timeline marks {got[k]} {k}, the JSON Lines and summary count {v}")


def selected_number(d):
    # In one script: the worker's details may replace the box meanwhile.
    number = d.execute_script(
        "const box = document.querySelector('#details [data-message]'); return box && box.dataset.message;")
    return int(number) if number else None


def open_page(path, fragment=""):
    driver.get("file://" + path + fragment)
    return wait_ready()


# -w pages: the sample, the random captures.
subprocess.run([sys.executable, random_captures, work, "2", "27"], check=True)
captures = [os.path.join(examples, "session.txt"), os.path.join(examples, "session.pcapng")]
captures += [os.path.join(work, f"random-{i}.{ext}") for i in (1, 2) for ext in ("txt", "pcapng")]
for capture in captures:
    what = "-w " + os.path.basename(capture)
    objects = native_json(capture)
    state = open_page(page_of(capture))
    if state != "ready":
        fail(f"{what}: the page is {state}: {driver.find_element(By.ID, 'status').text}")
        continue
    compare_details(what, objects)
    check_markers(what, capture, objects)
    check_console_and_network(what)

# The sample's tool path: a click on the middle of each stored segment that
# moves S1 or S2 (by 8 pixels or more) selects a PC Data message with that
# row's steps.
sample = os.path.join(examples, "session.txt")
open_page(page_of(sample))
csv = run("-s", sample, "-").stdout.decode().splitlines()[1:]
plan = driver.find_element(By.ID, "plan")
ox, oy, scale = (float(plan.get_attribute(a)) for a in ("data-origin-x", "data-origin-y", "data-scale"))
width, height = plan.size["width"], plan.size["height"]
# The position after each row of the steps CSV (S1, S2, S3; first the start).
points = [(0, 0, 0)]
for row in csv:
    cells = row.split(";")
    moves = (0, 0, 0) if cells[1] == "-" else (int(cells[3]), int(cells[4]), int(cells[5]))
    points.append(tuple(p + m for p, m in zip(points[-1], moves)))
clicked = 0
for number, row in enumerate(csv, 1):
    cells = row.split(";")
    if cells[1] == "-":
        continue
    s1, s2, s3 = int(cells[3]), int(cells[4]), int(cells[5])
    mx, my = ox + (points[number - 1][0] + s1 / 2) * scale, oy - (points[number - 1][1] + s2 / 2) * scale
    x, y, z = points[number]
    # A segment a few pixels long cannot be told from its neighbours by a
    # click in whole pixels.
    if (s1 * s1 + s2 * s2) ** 0.5 * scale < 8:
        continue
    ActionChains(driver).move_to_element_with_offset(plan, int(mx - width / 2), int(my - height / 2)).click().perform()
    want = {"S1": f"{abs(s1)} steps", "S2": f"{abs(s2)} steps", "S3": f"{abs(s3)} steps"}

    def shown(d):
        # The details come from the worker: the message selected, once
        # there. Read in one go, since the worker's details may replace
        # the box between two reads of it.
        return d.execute_script("""
            const box = document.querySelector('#details [data-message]');
            const texts = {};
            if (!box) return ['', texts];
            for (const el of box.querySelectorAll('[data-field]')) texts[el.dataset.field] = el.getAttribute('data-text');
            const head = box.querySelector('.head');
            return [head ? head.innerText : '', texts];
        """)

    def selected(d):
        head, texts = shown(d)
        return " PC " in " " + head + " " and "Data" in head and all(texts.get(k) == v for k, v in want.items())
    try:
        Wait(driver, 30, 0.02).until(selected)
    except TimeoutException:
        fail(f"tool path: row {row!r} selected {shown(driver)}")
    # The position said under the path: the steps CSV's sums down to the row.
    hover = driver.find_element(By.ID, "path-hover")
    said = [hover.get_attribute(a) for a in ("data-row", "data-s1", "data-s2", "data-s3")]
    if said != [str(number), str(x), str(y), str(z)] or f"S1 {x}, S2 {y}, S3 {z}" not in hover.text:
        fail(f"tool path: row {number} hovered says {said} {hover.text!r}, the CSV's sums {[x, y, z]}")
    clicked += 1
if clicked < 3:
    fail(f"tool path: only {clicked} segments clicked")
# The steps for a millimetre: the last Table message's that gives them.
per_mm = None
for o in native_json(sample):
    given = {f["name"]: f["value"] for f in o["fields"] if f["unit"] == "steps/mm" and f["value"]}
    if o["code"] == 0x54 and given.get("S1") and given.get("S2"):
        per_mm = [str(given["S1"]), str(given["S2"]), str(given.get("S3", ""))]
try:
    Wait(driver, 30, 0.05).until(lambda d: plan.get_attribute("data-s1-per-mm"))
except TimeoutException:
    pass
said = [plan.get_attribute(f"data-s{k}-per-mm") for k in (1, 2, 3)]
if not per_mm or said != per_mm:
    fail(f"tool path: steps for a millimetre {said}, the Table messages' {per_mm}")
print(f"ok: tool path: {clicked} segments hovered and clicked, each says its position and selects its Data message")

# The tool path zoomed and moved as a person does it: the wheel zooms in
# about the pointer (the position in steps under it stays under it), and a
# click there still selects the Data message of that segment and says its
# row; a drag moves the path by as far as the pointer went and its click
# selects nothing; + on the focused plan zooms in, 0 shows the whole path
# again.
def plan_view(d):
    return [float(plan.get_attribute(a)) for a in ("data-origin-x", "data-origin-y", "data-scale")]


rows = []
for number, row in enumerate(csv, 1):
    cells = row.split(";")
    if cells[1] != "-":
        s1, s2 = int(cells[3]), int(cells[4])
        rows.append((abs(s1) + abs(s2), number, *points[number - 1][:2], s1, s2))
_, row_number, x0, y0, s1, s2 = max(rows)
fitted = plan_view(driver)
ox, oy, scale = fitted
at_x, at_y = ox + (x0 + s1 / 4) * scale, oy - (y0 + s2 / 4) * scale
ActionChains(driver).scroll_from_origin(
    ScrollOrigin.from_element(plan, int(at_x - width / 2), int(at_y - height / 2)), 0, -120).perform()
try:
    Wait(driver, 30, 0.02).until(lambda d: plan_view(d)[2] > fitted[2] * 1.1)
except TimeoutException:
    fail(f"tool path: the wheel left the view at {plan_view(driver)}")
zx, zy, zscale = plan_view(driver)
# Whole CSS pixels: the pointer's place is the page's, rounded.
if abs((at_x - ox) / scale - (at_x - zx) / zscale) > 1 / scale or abs((oy - at_y) / scale - (zy - at_y) / zscale) > 1 / scale:
    fail(f"tool path: zoomed about ({at_x}, {at_y}): the steps there moved, {fitted} to {[zx, zy, zscale]}")
driver.execute_script("location.hash = '#m=1'")
Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == 1)
ActionChains(driver).move_to_element_with_offset(plan, int(at_x - width / 2), int(at_y - height / 2)).click().perform()
try:
    Wait(driver, 30, 0.02).until(
        lambda d: d.find_element(By.ID, "path-hover").get_attribute("data-row") == str(row_number) and selected_number(d) != 1)
except TimeoutException:
    fail(f"tool path: zoomed, a click on row {row_number} said row "
         f"{driver.find_element(By.ID, 'path-hover').get_attribute('data-row')} and selected #{selected_number(driver)}")
driver.execute_script("location.hash = '#m=1'")
Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == 1)
ActionChains(driver).move_to_element_with_offset(plan, int(at_x - width / 2), int(at_y - height / 2)).click_and_hold() \
    .move_by_offset(20, 10).move_by_offset(20, 20).release().perform()
try:
    Wait(driver, 30, 0.02).until(lambda d: abs(plan_view(d)[0] - zx - 40) <= 1 and abs(plan_view(d)[1] - zy - 30) <= 1)
except TimeoutException:
    fail(f"tool path: a drag by (40, 30) moved the origin from {[zx, zy]} to {plan_view(driver)[:2]}")
if selected_number(driver) != 1:
    fail(f"tool path: the drag's click selected #{selected_number(driver)}")
driver.execute_script("document.getElementById('plan').focus()")
before = plan_view(driver)[2]
ActionChains(driver).send_keys("+").perform()
try:
    Wait(driver, 30, 0.02).until(lambda d: abs(plan_view(d)[2] - before * 1.25) < 1e-9 * before)
    ActionChains(driver).send_keys("0").perform()
    Wait(driver, 30, 0.02).until(lambda d: plan_view(d) == fitted)
    print("ok: tool path: zoomed by the wheel about the pointer, moved by a drag, + and 0 on the focused plan")
except TimeoutException:
    fail(f"tool path: + from scale {before}, then 0, left the view at {plan_view(driver)}, the whole path's {fitted}")

# The S3 strip follows the plan's zoom: it shows the positions after the
# rows from the first to the last that the plan's view holds (0 the start;
# within 2 pixels of the view's edges, which the page measures without its
# border), and all of them for the whole path.
s3 = driver.find_element(By.ID, "s3")
def strip_rows(d):
    return [int(s3.get_attribute(a) or -1) for a in ("data-from", "data-to")]
def in_view(p, view, margin):
    sx, sy = view[0] + p[0] * view[2], view[1] - p[1] * view[2]
    return -margin <= sx <= width + margin and -margin <= sy <= height + margin
if strip_rows(driver) != [0, len(csv)]:
    fail(f"tool path: the whole path's S3 strip shows rows {strip_rows(driver)}, not 0 to {len(csv)}")
ActionChains(driver).send_keys("+" * 6).perform()
try:
    Wait(driver, 30, 0.02).until(lambda d: abs(plan_view(d)[2] - fitted[2] * 1.25 ** 6) < 1e-6 * fitted[2])
    view, shown_rows = plan_view(driver), strip_rows(driver)
    held = [k for k, p in enumerate(points) if in_view(p, view, 0)]
    if not held or held == list(range(len(points))):
        fail(f"tool path: zoomed in six times, the view holds rows {held}: no test of the S3 strip")
    elif not (all(in_view(points[k], view, 2) for k in shown_rows) and
              not any(in_view(p, view, -2) for k, p in enumerate(points) if k < shown_rows[0] or k > shown_rows[1])):
        fail(f"tool path: zoomed, the S3 strip shows rows {shown_rows}; the view holds rows {held}")
    else:
        print(f"ok: tool path: the S3 strip follows the zoom (rows {shown_rows[0]} to {shown_rows[1]} of 0 to {len(csv)})")
    ActionChains(driver).send_keys("0").perform()
    Wait(driver, 30, 0.02).until(lambda d: plan_view(d) == fitted)
except TimeoutException:
    fail(f"tool path: + six times from scale {fitted[2]} left the view at {plan_view(driver)}")

# The timeline's markers, as a person uses them: a click on the sample's
# "buffer full" marker (found by its colour in the picture) selects the
# refusal, not a message near it in time; the keys E, B, R, N and S go to
# the next message with errors, "buffer full", another refusal, request
# without a reply and stop (with shift: the previous), marks found here from
# the JSON Lines and the findings.
def field_text(o, name):
    return next((f["text"] or "" for f in o["fields"] if f["name"] == name), "")


open_page(page_of(sample))
objects = native_json(sample)
marked = {
    "e": [o["number"] for o in objects if o["errors"]],
    "b": [o["number"] for o in objects if o["code"] == 0x44 and o["from"] == "QMR5V"
          and field_text(o, "ST").startswith("Buffer full")],
    "n": [n for n, p in pairing_of(objects).items() if p.get("unanswered")],
    "s": [o["number"] for o in objects if o["code"] == 0x53 and o["from"] == "PC" and field_text(o, "CMD") != "Get status"],
}
# The lowest pixel of the timeline in the colour [r, g, b], in CSS pixels.
FIND_COLOUR = """
const c = document.getElementById('timeline'), [r, g, b] = arguments[0];
// Read from a copy: the page's own canvas is not one made for reading.
const copy = document.createElement('canvas');
copy.width = c.width;
copy.height = c.height;
const k2d = copy.getContext('2d', { willReadFrequently: true });
k2d.drawImage(c, 0, 0);
const p = k2d.getImageData(0, 0, c.width, c.height).data;
const ratio = c.width / c.clientWidth;
for (let y = c.height - 1; y >= 0; y--)
  for (let x = 0; x < c.width; x++) {
    const k = 4 * (y * c.width + x);
    if (p[k] === r && p[k + 1] === g && p[k + 2] === b) return [x / ratio, y / ratio];
  }
return null;
"""
marker = driver.execute_script(FIND_COLOUR, [0xff, 0x7b, 0x00])
timeline = driver.find_element(By.ID, "timeline")
if not marker or len(marked["b"]) != 1:
    fail(f"timeline: no 'buffer full' marker drawn ({marker}) or not one refusal in the sample ({marked['b']})")
else:
    ActionChains(driver).move_to_element_with_offset(timeline, int(marker[0] + 1 - timeline.size["width"] / 2),
                                                     int(marker[1] + 1 - timeline.size["height"] / 2)).click().perform()
    try:
        Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == marked["b"][0])
        print(f"ok: timeline: the 'buffer full' marker's click selects #{marked['b'][0]}")
    except TimeoutException:
        fail(f"timeline: the 'buffer full' marker's click selected #{selected_number(driver)}, not #{marked['b'][0]}")
# The sample's failed table write (a "refused" finding of vornlog -e): its
# marker, in its cause's colour, selects the reply that refused.
failed = [f["last"] for f in map(json.loads, run("-e", sample, "-").stdout.decode().splitlines())
          if f["kind"] == "refused" and f["cause"] == "table-write-failed"]
marked["r"] = failed
marker = driver.execute_script(FIND_COLOUR, [0x8d, 0x55, 0x24])
if not marker or len(failed) != 1 or timeline.get_attribute("data-refused") != "1":
    fail(f"timeline: no marker of the failed table write {failed} ({marker}, "
         f"data-refused {timeline.get_attribute('data-refused')})")
else:
    ActionChains(driver).move_to_element_with_offset(timeline, int(marker[0] + 1 - timeline.size["width"] / 2),
                                                     int(marker[1] + 1 - timeline.size["height"] / 2)).click().perform()
    try:
        Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == failed[0])
        print(f"ok: timeline: the failed table write's marker selects #{failed[0]}")
    except TimeoutException:
        fail(f"timeline: the failed table write's marker selected #{selected_number(driver)}, not #{failed[0]}")

# Table writes that fail a few milliseconds apart (one finding of -e) in a
# session of minutes, in one pixel column of the timeline: every failure is marked (data-refused), and clicks
# on their marker reach each of them, one after the other.
def dump_line(n, pc, ms, hex_bytes):
    at = datetime.datetime(2026, 11, 30, 14, 2, 11) + datetime.timedelta(milliseconds=ms)
    return f"{n:06d}\t{'OUT' if pc else 'IN'}\t{at:%Y-%m-%d %H:%M:%S}.{ms % 1000:03d}\t{len(hex_bytes.split())}\t{hex_bytes}\t.\n"


close = os.path.join(work, "close-refusals.txt")
with open(close, "w") as f:
    lines = [(True, 0, "56"), (False, 4, "56 51 4D 52 35 56 20 76 31 2E 30 32")]
    for k in range(4):
        lines += [(True, 500 + 2 * k, "54 00"), (False, 501 + 2 * k, "54 00 01")]
    lines += [(True, 200000, "56"), (False, 200004, "56 51 4D 52 35 56 20 76 31 2E 30 32")]
    f.writelines(dump_line(n, pc, ms, b) for n, (pc, ms, b) in enumerate(lines, 1))
refusals = [o["number"] for o in native_json(close) if o["code"] == 0x54 and o["from"] == "QMR5V"
            and any(fl["name"] == "RET" and fl["raw"] == 0 for fl in o["fields"])]
open_page(page_of(close))
timeline = driver.find_element(By.ID, "timeline")
marker = driver.execute_script(FIND_COLOUR, [0x8d, 0x55, 0x24])
reached = []
if len(refusals) != 4 or timeline.get_attribute("data-refused") != "4" or not marker:
    fail(f"timeline: the close table write failures {refusals}: data-refused "
         f"{timeline.get_attribute('data-refused')}, marker {marker}")
else:
    for _ in refusals:
        at = selected_number(driver)
        ActionChains(driver).move_to_element_with_offset(timeline, int(marker[0] + 1 - timeline.size["width"] / 2),
                                                         int(marker[1] + 1 - timeline.size["height"] / 2)).click().perform()
        try:
            Wait(driver, 30, 0.02).until(lambda d: selected_number(d) != at)
        except TimeoutException:
            pass
        reached.append(selected_number(driver))
    if sorted(reached) != refusals:
        fail(f"timeline: clicks on the close failures' marker selected {reached}, not each of {refusals}")
    else:
        print(f"ok: timeline: {len(refusals)} close table write failures marked, each reached by a click")
open_page(page_of(sample))
driver.execute_script("location.hash = '#m=1'")
Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == 1)
for key in "bNnsSeBEbrR":
    at = selected_number(driver)
    numbers = marked[key.lower()]
    if key.islower():
        want = next((m for m in numbers if m > at), at)
    else:
        want = next((m for m in reversed(numbers) if m < at), at)
    ActionChains(driver).send_keys(key).perform()
    try:
        Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == want)
    except TimeoutException:
        fail(f"timeline: key {key!r} from #{at} selected #{selected_number(driver)}, not #{want}")

# The timeline's keys once it has the focus: + zooms in around the
# selection (the view narrower, the selection still in it), - out again,
# Right pans later by an eighth of the view.
def view_of(d):
    t = d.find_element(By.ID, "timeline")
    return float(t.get_attribute("data-from")), float(t.get_attribute("data-to"))


driver.execute_script("document.getElementById('timeline').focus()")
at = driver.execute_script("return Number(document.querySelector('#details [data-message]').dataset.message)")
t_at = next(o["t"] for o in objects if o["number"] == at)
for key, check in (("+", lambda old, new: new[1] - new[0] < 0.9 * (old[1] - old[0]) and new[0] <= t_at <= new[1]),
                   ("-", lambda old, new: new[1] - new[0] > 1.1 * (old[1] - old[0])),
                   (Keys.ARROW_RIGHT, lambda old, new: abs((new[0] - old[0]) - (old[1] - old[0]) / 8) < 1e-6 * (old[1] - old[0]) + 1e-9)):
    old = view_of(driver)
    ActionChains(driver).send_keys(key).perform()
    try:
        Wait(driver, 30, 0.02).until(lambda d: check(old, view_of(d)))
    except TimeoutException:
        fail(f"timeline: key {key!r} on the focused timeline left the view {old} as {view_of(driver)}")
if selected_number(driver) != at:
    fail(f"timeline: the timeline's keys moved the selection from #{at} to #{selected_number(driver)}")
print("ok: timeline: +, - and Right on the focused timeline zoom and pan its view")

# The handles: a drag on the one under the timeline makes the timeline (and
# its canvas) taller by as much; the one between the list and the details
# gives the list more rows.
def height(d, id):
    return d.execute_script(f"return document.getElementById('{id}').getBoundingClientRect().height")


for handle, pane in (('[data-resize="timeline"]', "timeline"), ('[data-resize="list"]', "list")):
    before = height(driver, pane)
    ActionChains(driver).drag_and_drop_by_offset(driver.find_element(By.CSS_SELECTOR, handle), 0, 60).perform()
    try:
        Wait(driver, 30, 0.02).until(lambda d: abs(height(d, pane) - before - 60) <= 2)
    except TimeoutException:
        fail(f"layout: a drag of {handle} by 60 pixels made #{pane} {height(driver, pane)} tall, from {before}")
if driver.execute_script("const c = document.getElementById('timeline'); "
                         "return Math.abs(c.height / (window.devicePixelRatio || 1) - c.clientHeight) > 1"):
    fail("layout: the timeline's canvas was not drawn again at its new height")
print("ok: layout: the handles under the timeline and under the list resize them")

# The handle between the left and the right: Left on it (focused) widens
# the right by 20 pixels, a double-click gives back the first width.
def width_of(d, id):
    return d.execute_script(f"return document.getElementById('{id}').getBoundingClientRect().width")


along = driver.find_element(By.CSS_SELECTOR, '[data-resize="right"]')
first_width = width_of(driver, "right")
driver.execute_script("arguments[0].focus()", along)
ActionChains(driver).send_keys(Keys.ARROW_LEFT).perform()
try:
    Wait(driver, 30, 0.02).until(lambda d: abs(width_of(d, "right") - first_width - 20) <= 1)
    ActionChains(driver).double_click(along).perform()
    Wait(driver, 30, 0.02).until(lambda d: abs(width_of(d, "right") - first_width) <= 1)
except TimeoutException:
    fail(f"layout: Left and a double-click on the right's handle made it {width_of(driver, 'right')} wide, from {first_width}")

# Collapsed to their headings, the timeline, the details and the tool path
# leave their room to the list, which draws its rows down to its new
# bottom (a canvas of no size stops no view from being drawn); expanded
# again, the timeline's and the tool path's canvases are drawn at their
# size.
RENDERED = """const l = document.getElementById('list'), rows = [...l.querySelectorAll('.row')];
return [l.clientHeight, Math.max(...rows.map((r) => r.offsetTop + r.offsetHeight)) - l.scrollTop];"""
DRAWN = """return ['timeline', 'plan'].every((id) => { const c = document.getElementById(id);
  return c.clientHeight > 20 && Math.abs(c.height / (window.devicePixelRatio || 1) - c.clientHeight) <= 1; });"""
driver.execute_script("location.hash = '#m=1'")
list_before = height(driver, "list")
folds = [driver.find_element(By.CSS_SELECTOR, f"#{pane} .fold") for pane in ("timeline-panel", "details-panel", "path-panel")]
for button in folds:
    button.click()
try:
    Wait(driver, 30, 0.02).until(lambda d: height(d, "list") > list_before + 100 and
                                          driver.execute_script(RENDERED)[1] >= driver.execute_script(RENDERED)[0])
except TimeoutException:
    fail(f"layout: with three panes collapsed the list is {height(driver, 'list')} tall (from {list_before}); "
         f"its height and its rows' bottom: {driver.execute_script(RENDERED)}")
if any(f.get_attribute("aria-expanded") != "false" for f in folds):
    fail("layout: a collapsed pane's button does not say so")
for button in folds:
    button.click()
try:
    Wait(driver, 30, 0.02).until(lambda d: abs(height(d, "list") - list_before) <= 1 and d.execute_script(DRAWN))
except TimeoutException:
    fail(f"layout: expanded again, the list is {height(driver, 'list')} tall (first {list_before}), "
         f"the canvases drawn at their size: {driver.execute_script(DRAWN)}")
check_console_and_network("layout")
print("ok: layout: the right's handle by keys and double-click; three panes collapsed and expanded again")

# The summary's line numbers are links: the stop's line selects it; the
# copy-link button copies the address of the selection.
stop_line = marked["s"][0]
driver.find_element(By.XPATH, f'//pre[@id="summary"]/a[text()="{stop_line}"]').click()
try:
    Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == stop_line)
    driver.find_element(By.ID, "copy-link").click()
    Wait(driver, 30, 0.02).until(
        lambda d: (d.find_element(By.ID, "copy-link").get_attribute("data-copied") or "").endswith(f"#m={stop_line}"))
    print(f"ok: summary: line {stop_line} is a link to its message; the copy-link button gives its address")
except TimeoutException:
    fail(f"summary: the link to line {stop_line} selected #{selected_number(driver)}, copied "
         f"{driver.find_element(By.ID, 'copy-link').get_attribute('data-copied')}")

# The findings of the stall example: the findings list holds one element
# per line of vornlog -e (its id, kind, cause and first message), in the
# order of their first message; a click on one selects that message and
# zooms the timeline to it; F and Shift+F go to the next and previous one.
stall = os.path.join(examples, "stall.txt")
found = [json.loads(line) for line in run("-e", stall, "-").stdout.decode().splitlines()]
found.sort(key=lambda f: (f["first"], f["id"]))
times = {o["number"]: o["t"] for o in native_json(stall)}
open_page(page_of(stall))
elements = driver.execute_script("""return [...document.querySelectorAll('#findings [data-finding]')].map(
  (e) => [e.dataset.finding, e.dataset.kind, e.dataset.cause, e.dataset.first])""")
want = [[str(f["id"]), f["kind"], f["cause"], str(f["first"])] for f in found]
if elements != want or not {"underrun", "stop"} <= {f["kind"] for f in found}:
    fail(f"findings: the page lists {elements}, vornlog -e {want}")
if driver.find_element(By.ID, "timeline").get_attribute("data-findings") != str(len(found)):
    fail("findings: the timeline does not count vornlog -e's findings")
whole = times[max(times)] - times[min(times)]
for f in found:
    driver.find_element(By.CSS_SELECTOR, f'#findings [data-finding="{f["id"]}"]').click()
    try:
        Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == f["first"])
    except TimeoutException:
        fail(f"findings: a click on #{f['id']} selected #{selected_number(driver)}, not #{f['first']}")
    c = driver.find_element(By.ID, "timeline")
    lo, hi = float(c.get_attribute("data-from")), float(c.get_attribute("data-to"))
    if not (lo <= times[f["first"]] <= hi and hi - lo < whole / 2):
        fail(f"findings: after a click on #{f['id']} (t {times[f['first']]}) the timeline shows {lo} to {hi} of {whole} s")
driver.execute_script("location.hash = '#m=1'")
Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == 1)
firsts = [f["first"] for f in found]
for key, want in [("f", n) for n in firsts] + [("f", firsts[-1]), ("F", firsts[-2]), ("F", firsts[-3])]:
    ActionChains(driver).send_keys(key).perform()
    try:
        Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == want)
    except TimeoutException:
        fail(f"findings: key {key!r} selected #{selected_number(driver)}, not #{want}")
print(f"ok: findings: {len(found)} as vornlog -e lists them; a click and F, shift+F go to each")
# --fail-on with -w: status 3 for a finding of those kinds, the same page.
for kinds, status in (("underrun,stop", 3), ("no-reply", 0)):
    dest = os.path.join(work, "fail-on.html")
    r = run("-w", f"--fail-on={kinds}", stall, dest)
    if r.returncode != status or open(dest, "rb").read() != open(page_of(stall), "rb").read():
        fail(f"-w --fail-on={kinds}: status {r.returncode}, not {status}, or not the page of -w")

# The buffer fill is the motion model's, one curve at every zoom: the
# timeline's data-buffer gives, for each pixel column, the fewest and the
# most segments waiting over its span. The stall example seen whole, zoomed
# to its first finding, zoomed in further, and zoomed out past its ends:
# each column of a finer view lies within the columns of a coarser one
# that cover it, each column of the coarser view is reached by the finer
# columns over it, and nothing is drawn past the capture's first and last
# messages.
def curve(d):
    view = d.execute_script("const c = document.getElementById('timeline');"
                            "return [c.dataset.from, c.dataset.to, c.dataset.buffer];")
    if view[2] is None:
        return None
    values = [tuple(map(int, v.split("-"))) if v else None for v in view[2].split(",")]
    values = [(v[0], v[-1]) if v else None for v in values]
    return float(view[0]), float(view[1]), values


def covering(view, a, b):
    """The columns of `view` whose span meets [a, b) (those a rounding away
    from it too)."""
    lo, hi, values = view
    span = (hi - lo) / len(values)
    eps = 1e-6
    first = max(0, int((a - lo) / span - eps))
    last = min(len(values) - 1, int((b - lo) / span + eps))
    return range(first, max(first, last) + 1)


def same_curve(what, coarse, fine):
    """Each column of the finer view within the range of the coarser
    columns that cover it; each coarser column within the view's span
    within the range of the finer columns over it."""
    wrong = []
    for view, other in ((fine, coarse), (coarse, fine)):
        lo, hi, values = view
        span = (hi - lo) / len(values)
        for c, v in enumerate(values):
            a, b = lo + c * span, lo + (c + 1) * span
            if v is None or view is coarse and (a < other[0] or b > other[1]):
                continue
            over = [other[2][k] for k in covering(other, a, b)]
            if None in over:
                if view is fine:
                    wrong.append((round(a, 6), v, over))
                continue
            least, most = min(o[0] for o in over), max(o[1] for o in over)
            if not least <= v[0] <= v[1] <= most:
                wrong.append((round(a, 6), v, over))
    if wrong:
        fail(f"timeline: {what}: the buffer fill differs between the zooms at {len(wrong)} columns, first {wrong[:3]}")
    return not wrong


open_page(page_of(stall))
whole_view = curve(driver)
first_time, last_time = times[min(times)], times[max(times)]
views = [("the whole session", whole_view)]
if not whole_view:
    fail("timeline: the stall example's timeline carries no data-buffer")
else:
    driver.find_element(By.CSS_SELECTOR, '#findings [data-finding="1"]').click()
    views.append(("zoomed to finding #1", Wait(driver, 30, 0.02).until(
        lambda d: (v := curve(d)) and v[:2] != whole_view[:2] and v)))
    driver.execute_script("document.getElementById('timeline').focus()")
    ActionChains(driver).send_keys("++++").perform()
    views.append(("zoomed in further", Wait(driver, 30, 0.02).until(
        lambda d: (v := curve(d)) and v[1] - v[0] < 0.5 * (views[1][1][1] - views[1][1][0]) and v)))
    ActionChains(driver).send_keys("Z").perform()
    Wait(driver, 30, 0.02).until(lambda d: curve(d)[:2] == whole_view[:2])
    ActionChains(driver).send_keys("--").perform()
    out = Wait(driver, 30, 0.02).until(lambda d: (v := curve(d)) and v[0] < first_time and v)
    values = [(c, v) for c, v in enumerate(out[2]) if v is not None]
    span = (out[1] - out[0]) / len(out[2])
    beyond = [c for c, _ in values if out[0] + (c + 1) * span <= first_time or out[0] + c * span > last_time]
    if beyond or not values:
        fail(f"timeline: zoomed out past the ends, the buffer fill is drawn at columns {beyond[:5]} beyond them")
    levels = {v for _, view in views[1:] for v in view[2] if v}
    if not {0, 7} <= {x for v in levels for x in v}:
        fail(f"timeline: zoomed in, the buffer fill never shows the buffer empty and full: {sorted(levels)}")
    ok = all(same_curve(what, whole_view, view) for what, view in views[1:])
    ok = same_curve("zoomed out", out, whole_view) and ok
    if ok:
        print(f"ok: timeline: the buffer fill is the same curve at {len(views) + 1} zooms, none past the capture's ends")

# The instruction filter by name, a name it does not know, Esc; the list's
# End and Home; an unknown #m= number said on the page.
open_page(page_of(sample), "#m=99999")
note = driver.find_elements(By.CSS_SELECTOR, "#details [data-unknown-message]")
if not note or note[0].get_attribute("data-unknown-message") != "99999" or "99999" not in note[0].text:
    fail(f"#m=99999: the page does not say that no message has that number: {driver.find_element(By.ID, 'details').text!r}")
objects = native_json(sample)
count = lambda: driver.find_element(By.ID, "f-count").text
for text, want in (("Data", f"{sum(o['code'] == 0x44 for o in objects)} of {len(objects)} messages"),
                   ("Buffer Management, S", f"{sum(o['code'] in (0x42, 0x53) for o in objects)} of {len(objects)} messages"),
                   ("Dta", "no instruction \"a\" (letters, codes or names)")):
    driver.execute_script("const e = document.getElementById('f-instructions'); e.value = arguments[0];"
                          "e.dispatchEvent(new Event('input'));", text)
    if count() != want:
        fail(f"instruction filter {text!r}: {count()!r}, not {want!r}")
driver.find_element(By.ID, "f-instructions").send_keys(Keys.ESCAPE)
if count() != f"{len(objects)} messages" or driver.find_element(By.ID, "f-instructions").get_attribute("value"):
    fail(f"Esc: the filters are not cleared: {count()!r}")
for key, want in ((Keys.END, objects[-1]["number"]), (Keys.HOME, objects[0]["number"])):
    ActionChains(driver).send_keys(key).perform()
    try:
        Wait(driver, 30, 0.02).until(lambda d: selected_number(d) == want)
    except TimeoutException:
        fail(f"list: {key!r} selected #{selected_number(driver)}, not #{want}")
print("ok: #m= of no message, the instruction filter by name, Esc, End and Home")

# The empty page, given the sample through its file input; #m= given
# before the capture is there selects once it is decoded.
driver.get("file://" + empty_page + "#m=35")
driver.find_element(By.ID, "file").send_keys(sample)
if wait_ready() != "ready":
    fail("empty page: the sample was not decoded")
else:
    if driver.find_element(By.CSS_SELECTOR, "#details [data-message]").get_attribute("data-message") != "35":
        fail("empty page: #m=35 did not select message 35")
    compare_details("empty page + file input", native_json(sample))
check_console_and_network("empty page")

# The worker, driven as the page drives it: a question asked while a long
# capture is decoded is answered as soon as the decoding is done (its
# summary, made in the same pass, just before), before the device scan
# that follows it; another capture given while that scan runs stops it,
# and the summary and devices that come are the new capture's.
long_dump = os.path.join(work, "long.txt")
with open(sample, "rb") as f:
    one = f.read()
with open(long_dump, "wb") as f:
    f.write(one * 2000)
pcapng = os.path.join(examples, "session.pcapng")
with open(pcapng, "rb") as f:
    second = f.read()
driver.set_script_timeout(600)
seen = driver.execute_async_script("""
const [one, times, second, secondName] = arguments, done = arguments[arguments.length - 1];
const bytes = (text) => Uint8Array.from(atob(text.replace(/\\s/g, '')), (c) => c.charCodeAt(0));
const first = bytes(one);
const long = new Uint8Array(first.length * times);
for (let k = 0; k < times; k++) long.set(first, k * first.length);
const source = document.getElementById('worker-source').textContent;
const w = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
const seen = [];
let decoded = 0;
w.onmessage = (e) => {
  const m = e.data;
  if (m.type === 'progress' || m.type === 'indexed') return;
  seen.push(m.type === 'lines' ? 'lines ' + m.lines[0] : m.type === 'summary' ? 'summary ' + m.summary : m.type);
  if (m.type === 'done' && ++decoded === 1)
    w.postMessage({ type: 'decode', parts: [bytes(second).buffer], name: secondName, device: '' });
  else if (m.type === 'devices') w.postMessage({ type: 'lines', id: 2, indices: Int32Array.of(0) });
  else if (m.type === 'lines' && m.id === 2 || m.type === 'failed' || seen.length > 20) { w.terminate(); done(seen); }
};
w.postMessage({ type: 'decode', wasm: bytes(document.getElementById('decoder').textContent).buffer,
  parts: [long.buffer], name: 'long.txt', device: '' });
w.postMessage({ type: 'lines', id: 1, indices: Int32Array.of(0) });
""", base64.b64encode(one).decode(), 2000, base64.b64encode(second).decode(), "session.pcapng")
first_line = lambda capture: run("-j", capture, "-").stdout.decode().splitlines()[0]
want = ["done", "summary " + run("-t", long_dump, "-").stdout.decode().replace(long_dump, "long.txt", 1),
        "lines " + first_line(long_dump), "done",
        "summary " + run("-t", pcapng, "-").stdout.decode().replace(pcapng, "session.pcapng", 1),
        "devices", "lines " + first_line(pcapng)]
if seen != want:
    fail("worker: questions during the device scan, another capture: " + repr([t[:80] for t in seen]))
else:
    print("ok: worker: a question answered before the device scan; another capture stops the last one's scan")

# A -w page of a capture that comes in several parts, inflated and decoded
# as the browser reads the page, in pieces of 1 MiB that cut lines (the
# long text dump) and packet blocks (the pcapng sample's sections again and
# again): the messages, markers and summary of vornlog -j and -t, and the
# details of the messages about each cut as vornlog -j gives them.
sections = os.path.join(work, "sections.pcapng")
with open(sections, "wb") as f:
    f.write(second * 80)


def cut_records(capture):
    """The numbers of the records (lines, packet blocks) that hold a byte
    at a multiple of 1 MiB, and of their neighbours."""
    data = open(capture, "rb").read()
    ends, number = [], 0
    if capture.endswith(".txt"):
        at = 0
        for line in data.split(b"\n"):
            at += len(line) + 1
            number += 1
            ends.append((at, number))
    else:
        at = 0
        while at + 12 <= len(data):
            kind, length = struct.unpack_from("<II", data, at)
            at += length
            if kind in (2, 3, 6):
                number += 1
                ends.append((at, number))
    cuts = set()
    for k in range(1, (len(data) >> 20) + 1):
        first = next(n for end, n in ends if end > k << 20)
        cuts.update(range(first - 3, first + 4))
    return cuts


for capture in (long_dump, sections):
    what = "-w " + os.path.basename(capture) + " in pieces"
    objects = native_json(capture)
    if open_page(page_of(capture)) != "ready":
        fail(f"{what}: the page is {driver.find_element(By.ID, 'status').text}")
        continue
    check_markers(what, capture, objects)
    compare_details(what, objects, only=cut_records(capture))

# A -w page whose compressed capture was damaged on its way: cut inside a
# part, or a byte changed in a part's data (its checksum). The page says
# so, and does not wait for ever.
with open(page_of(long_dump), encoding="utf-8") as f:
    whole = f.read()
stream = compressed_capture(whole)
changed = bytearray(stream)
changed[len(stream) // 2] ^= 0x10
for damage, bytes_ in (("cut", stream[:-20]), ("changed", bytes(changed))):
    damaged_page = os.path.join(work, damage + ".html")
    with open(damaged_page, "w", encoding="utf-8") as f:
        f.write(with_capture(whole, bytes_))
    state = open_page(damaged_page)
    status = driver.find_element(By.ID, "status").text
    if state != "failed" or not status.startswith("The embedded capture is damaged"):
        fail(f"-w page, capture {damage}: state {state}, status {status!r}")
    else:
        print(f"ok: -w page, capture {damage}: {status}")
    check_console_and_network(f"-w page, capture {damage}")

# Markup in a capture and in its file name: shown as those characters.
markup = os.path.join(work, "<b onmouseover=a>.txt")
lcd = b"<i onerror=a>"
with open(markup, "wb") as f:
    body = bytes([0x4C, 0x00, 0x00, len(lcd)]) + lcd
    f.write(b"000001\tOUT\t2026-11-30 14:02:11.899\t%d\t%s\tL\r\n" % (len(body), " ".join("%02X" % b for b in body).encode()))
    f.write(b"000002\tIN\t2026-11-30 14:02:11.903\t2\t4C 00\tL.\r\n")
open_page(page_of(markup), "#m=1")
text = driver.find_element(By.ID, "details").text
if "<i onerror=a>" not in text or driver.find_elements(By.CSS_SELECTOR, "i, b"):
    fail(f"markup capture: the LCD text is not shown as text: {text!r}")
if driver.find_element(By.ID, "capture-name").text != "<b onmouseover=a>.txt":
    fail("markup capture: the file name is not shown as text")
compare_details("markup capture", native_json(markup))
check_console_and_network("markup capture")

# Text search, A to Z as a to z: the messages whose JSON line holds the text
# in one of its parts (the sender with the instruction, a field's object,
# the errors); the hit count and F3 to the next hit.
def parts_of(line):
    o = json.loads(line)
    decoded = line[line.index(',"code":'):]
    errors = decoded.rindex('],"errors":[')
    cuts = [m.start() for m in re.finditer(r'\{"name":"', decoded[:errors])] + [errors]
    head = f'"from":"{o["from"]}"' + decoded[: cuts[0]]
    return [head] + [decoded[a:b] for a, b in zip(cuts, cuts[1:])] + [decoded[errors:]]


def searched(lines, query):
    return sum(1 for line in lines if any(query.lower() in part.lower() for part in parts_of(line)))


def search_count(d):
    text = d.find_element(By.ID, "f-count").text
    return None if text.startswith("searching") else text


open_page(page_of(sample))
lines = run("-j", sample, "-").stdout.decode().splitlines()
for query in ("BUFFER full", "slow STOP", "Buffer Management", "zz-nowhere"):
    driver.execute_script("const e = document.getElementById('f-search'); e.value = arguments[0];"
                          "e.dispatchEvent(new Event('input'));", query)
    got = Wait(driver, 60, 0.05).until(search_count)
    want = searched(lines, query)
    if got != f"{want} of {len(lines)} messages":
        fail(f"search {query!r}: {got!r}, -j lines holding it: {want}")
    hits = driver.find_element(By.ID, "f-hits").text
    if hits != (f"1 of {want} hit" + ("s" if want > 1 else "") if want else "no hit"):
        fail(f"search {query!r}: the hit count says {hits!r} for {want} hits")
    if want > 1:
        first = selected_number(driver)
        ActionChains(driver).send_keys(Keys.F3).perform()
        Wait(driver, 30, 0.02).until(lambda d: selected_number(d) != first)
        if driver.find_element(By.ID, "f-hits").text != f"2 of {want} hits":
            fail(f"search {query!r}: F3 gives {driver.find_element(By.ID, 'f-hits').text!r}")
print("ok: search: hits as the -j lines' parts, the hit count, F3")

# A newer search cancels the older in the worker: two searches asked while
# the long capture's index is being made; the first is answered cancelled,
# the second with its hits.
long_lines = run("-j", long_dump, "-").stdout.decode().splitlines()
seen = driver.execute_async_script("""
const [one, times, first, second] = arguments, done = arguments[arguments.length - 1];
const bytes = (text) => Uint8Array.from(atob(text.replace(/\\s/g, '')), (c) => c.charCodeAt(0));
const sample = bytes(one);
const long = new Uint8Array(sample.length * times);
for (let k = 0; k < times; k++) long.set(sample, k * sample.length);
const source = document.getElementById('worker-source').textContent;
const w = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
const seen = [];
w.onmessage = (e) => {
  const m = e.data;
  if (m.type === 'done') {
    w.postMessage({ type: 'search', id: 1, query: first });
    w.postMessage({ type: 'search', id: 2, query: second });
  } else if (m.type === 'search') {
    seen.push(m.id + (m.cancelled ? ' cancelled' : ' ' + m.hits.reduce((a, b) => a + b, 0)));
    if (seen.length === 2) { w.terminate(); done(seen); }
  } else if (m.type === 'failed') { w.terminate(); done(['failed ' + m.text]); }
};
w.postMessage({ type: 'decode', wasm: bytes(document.getElementById('decoder').textContent).buffer,
  parts: [long.buffer], name: 'long.txt', device: '' });
""", base64.b64encode(one).decode(), 2000, "buffer", "stop")
if seen != ["1 cancelled", f"2 {searched(long_lines, 'stop')}"]:
    fail(f"search: a newer search does not cancel the older one: {seen}")
else:
    print("ok: search: a newer search cancels the older one in the worker")

# The USB device choice, as the console's: the one recognised, or one of the
# capture's devices; picking one decodes it as -d does.
two = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "usb", "captures", "two-devices.pcapng")
open_page(page_of(two))
console = subprocess.run([vornlog, "-n", "-j", two, os.devnull], capture_output=True)
said = re.search(r"USB device (\d+\.\d+)", (console.stdout + console.stderr).decode())
Wait(driver, 60, 0.05).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#device option")) > 1)
options = [(o.get_attribute("value"), o.text) for o in driver.find_elements(By.CSS_SELECTOR, "#device option")]
devices = [v for v, _ in options if v]
if not said or options[0] != ("", "recognised: " + said.group(1)) or said.group(1) not in devices or len(devices) < 2:
    fail(f"device choice: {options}, the console: {said and said.group(0)}")
else:
    other = next(d for d in devices if d != said.group(1))
    driver.execute_script("const e = document.getElementById('device'); e.value = arguments[0];"
                          "e.dispatchEvent(new Event('change'));", other)
    objects = [json.loads(line) for line in run("-j", "-d", other, two, "-").stdout.decode().splitlines()]
    body_is = lambda d: (d.find_element(By.TAG_NAME, "body").get_attribute("data-state"),
                         d.find_element(By.TAG_NAME, "body").get_attribute("data-messages"))
    Wait(driver, 120, 0.05).until(lambda d: body_is(d) == ("ready", str(len(objects))))
    compare_details(f"device {other} picked", objects)

# A damaged capture: the pcapng cut short in a block. The page shows the
# messages before the damage and the console's message.
damaged = os.path.join(work, "damaged.pcapng")
with open(os.path.join(examples, "session.pcapng"), "rb") as f:
    whole = f.read()
with open(damaged, "wb") as f:
    f.write(whole[: len(whole) * 2 // 3])
console = run("-j", damaged, os.devnull).stderr.decode().strip()
state = open_page(page_of(damaged))
status = driver.find_element(By.ID, "status").text
fault = console[: -len(damaged)] if console.endswith(damaged) else "?"
if state != "ready" or fault not in status:
    fail(f"damaged capture: state {state}, status {status!r}, console {console!r}")
else:
    compare_details("damaged capture", native_json(damaged))
check_console_and_network("damaged capture")

browser.quit()

# Firefox ESR (through its own remote protocol): the -w pages of the sample
# text dump and pcapng decode there too, every message's details as -j.
firefox = None
if os.path.exists("/usr/bin/firefox-esr"):
    from firefox import Firefox, FirefoxError
    try:
        firefox = Firefox(work)
    except (FirefoxError, OSError) as e:
        # Installed by the test command, so it must start: a page that only
        # one browser has seen is not checked.
        fail(f"Firefox: {e}")
else:
    print("SKIP: Firefox: firefox-esr is not installed")
if firefox:
    for capture in captures[:2]:
        what = "Firefox: -w " + os.path.basename(capture)
        firefox.get("file://" + page_of(capture))
        # A limit only against a page that never gets there.
        deadline = time.monotonic() + 300
        while firefox.script("return document.body.dataset.state") not in ("ready", "failed"):
            if time.monotonic() > deadline:
                break
            time.sleep(0.05)
        state = firefox.script("return document.body.dataset.state")
        if state != "ready":
            status = firefox.script("return document.getElementById('status').textContent")
            fail(f"{what}: the page is {state}: {status}")
            continue
        compare_details(what, native_json(capture), firefox)
    firefox.quit()

if failures:
    print(f"{len(failures)} failures")
    sys.exit(1)
print("viewer: all checks passed")
