#!/usr/bin/env bash
# Benchmark of the viewer page on the benchmark's generated capture
# (bench/make_capture.cpp; 1,000,000 lines unless LINES is given):
#
#   bash bench/viewer.sh [--findings] [LINES]
#
# With --findings, the capture full of findings (make_capture --findings:
# about 23,000 findings over 4 hours on 1,000,000 lines).
#
# Prints: vornlog -w against the report (wall time, best of REPEAT=3, in
# turns); the page's size against the text dump's and the empty page's; then
# in Debian's headless Chromium (chromium-driver, python3-selenium): the time
# from opening the page to data-state="ready" (list and timeline drawn), the
# time from a #m= change to the details of that message (the median and the
# slowest of 20 messages spread over the capture, asked from ready on while
# the summary is written, then once more after it), the time to filter the list by
# instruction (D, then all again) and by "errors only", the text search
# (from Enter to the hit count, once the search index is made), a mouse
# move over the tool path to the position it says, a wheel notch on the
# tool path to its next frame drawn, and the browser's
# memory at the end (the resident memory of all its processes, and the
# page's JavaScript heap). Writes to build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
findings=
if [[ ${1:-} == --findings ]]; then
  findings=1
  shift
fi
lines=${1:-1000000}
repeat=${REPEAT:-3}
bash scripts/deps.sh --wasm chromium chromium-driver python3-selenium >/dev/null
source bench/tree.sh
bench_tree vornlog viewer_page
empty="$tree/viewer/vornlog-viewer.html"
cat "$dump" >/dev/null

best() { # NAME SECONDS
  if [[ -z ${B[$1]:-} ]] || awk -v a="$2" -v b="${B[$1]}" 'BEGIN { exit !(a < b) }'; then B[$1]=$2; fi
}
timed() {
  sync
  local t0=$EPOCHREALTIME
  "$@" >/dev/null
  local t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
declare -A B
# Each run writes a new file, as a run usually does: a file written over
# is first truncated, which for the report's 664 MB costs more than
# writing them.
for ((i = 0; i < repeat; i++)); do
  rm -f "$out/report.txt"
  best report "$(timed "$vornlog" -n "$dump" "$out/report.txt")"
  rm -f "$out/session.html"
  best page "$(timed "$vornlog" -n -w "$dump" "$out/session.html")"
done
rm -f "$out/report.txt"
dump_bytes=$(stat -c %s "$dump")
page_bytes=$(stat -c %s "$out/session.html")
empty_bytes=$(stat -c %s "$empty")
echo "viewer benchmark, $lines lines${findings:+ full of findings} ($((dump_bytes / 1000000)) MB text dump), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '  vornlog -w        %8.3f s   (report %.3f s)\n' "${B[page]}" "${B[report]}"
printf '  page              %8.1f MB  (text dump / 2 + empty page = %.1f MB; empty page %.2f MB)\n' \
  "$(awk -v b="$page_bytes" 'BEGIN { print b / 1e6 }')" \
  "$(awk -v d="$dump_bytes" -v e="$empty_bytes" 'BEGIN { print (d / 2 + e) / 1e6 }')" \
  "$(awk -v e="$empty_bytes" 'BEGIN { print e / 1e6 }')"

/usr/bin/python3 - "$root/$out/session.html" "$root" "$root/$dump" "$vornlog" <<'PY'
import os, re, subprocess, sys, tempfile, time
sys.path.insert(0, os.path.join(sys.argv[2], "tests", "viewer"))
from browser import Browser
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

page, root, dump, vornlog = sys.argv[1:5]
work = tempfile.mkdtemp(prefix="viewer-bench-")
# 20 messages spread over the capture: a text dump's message number is its
# line, and a line of more than 40 characters holds a message.
with open(dump, "rb") as f:
    lengths = [len(line.rstrip(b"\r\n")) for line in f]
def spread(start):
    found = []
    for k in range(20):
        i = (start + 2 * k) * len(lengths) // 42
        while lengths[i] <= 40:
            i += 1
        found.append(i + 1)
    return found
targets, others = spread(2), spread(3) # others: messages not asked for before
browser = Browser(work, extra=["--enable-precise-memory-info"])
profile = browser.profile
d = browser.driver
d.set_script_timeout(600)
d.get("about:blank")
t0 = time.monotonic()
d.get("file://" + page)
WebDriverWait(d, 600, 0.02).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-state") == "ready")
ready = time.monotonic() - t0
n = int(d.find_element(By.TAG_NAME, "body").get_attribute("data-messages"))
found = d.find_element(By.ID, "timeline").get_attribute("data-findings")
print(f"  ready             {ready:8.2f} s   ({n} messages, {found} findings, from opening the page; selenium's polling included)")
# Where the time went, from the page's own marks (s since the page was
# asked for; the steps overlap): the capture's first part read, the page
# read to its last part, the capture inflated (each part as it was read),
# decoded (the worker's module made ready meanwhile, and its decoding from
# the first bytes on), then the columns taken and the first draw.
t = d.execute_script("""
const nav = performance.getEntriesByType('navigation')[0];
const m = {};
for (const e of performance.getEntriesByType('mark')) m[e.name] = { at: e.startTime, detail: e.detail };
return { parsed: nav.domInteractive, marks: m };
""")
mk = t["marks"]
at = lambda k: mk[k]["at"] / 1000 if k in mk else float("nan")
w = mk.get("vornlog-decoded", {}).get("detail") or {}
print(f"    at {at('vornlog-start'):.2f} s the first part read, {at('vornlog-base64'):.2f} s the page read, "
      f"{at('vornlog-inflated'):.2f} s inflated, {at('vornlog-decoded'):.2f} s decoded (worker: module "
      f"{w.get('module', float('nan')) / 1000:.2f} s, decoding {w.get('decode', float('nan')) / 1000:.2f} s from its "
      f"first bytes), {at('vornlog-ready'):.2f} s columns and first draw; module memory {w.get('memory', 0) / 2**20:.0f} MiB")
# Inside the page: from setting #m= to its details in the page.
SELECT = """
const targets = arguments[0], done = arguments[arguments.length - 1];
(async () => {
  const times = [];
  for (const n of targets) {
    const target = String(n);
    const t0 = performance.now();
    location.hash = '#m=' + target;
    for (;;) {
      const box = document.querySelector('#details [data-message]');
      if (box && box.dataset.message === target) break;
      if (performance.now() - t0 > 10000) break;
      await new Promise((r) => setTimeout(r, 0));
    }
    times.push(performance.now() - t0);
  }
  times.sort((a, b) => a - b);
  done([times[10], times[19]]);
})();
"""
# Right at ready, while the worker writes the summary in the background
# (the worst case), then again once the summary is in.
select_ms = d.execute_async_script(SELECT, targets)
WebDriverWait(d, 600, 0.02).until(lambda d: d.find_element(By.ID, "summary").get_attribute("data-ready"))
summary_in = time.monotonic() - t0
print(f"  select (#m=)      {select_ms[0]:8.1f} ms  median, {select_ms[1]:.1f} ms slowest of 20, from ready on; "
      f"summary in {summary_in:.2f} s from opening")
select_ms = d.execute_async_script(SELECT, others)
print(f"    once the summary is in: {select_ms[0]:.1f} ms median, {select_ms[1]:.1f} ms slowest of 20")
filter_ms = d.execute_script("""
const input = (id, v) => { const e = document.getElementById(id); e.value = v; e.dispatchEvent(new Event('input')); };
const t = [];
let t0 = performance.now(); input('f-instructions', 'D'); t.push(performance.now() - t0);
const shown = document.getElementById('f-count').textContent;
t0 = performance.now(); input('f-instructions', ''); t.push(performance.now() - t0);
const e = document.getElementById('f-errors');
t0 = performance.now(); e.checked = true; e.dispatchEvent(new Event('change')); t.push(performance.now() - t0);
e.checked = false; e.dispatchEvent(new Event('change'));
return [t, shown];
""")
t, shown = filter_ms
print(f"  filter -i D       {t[0]:8.1f} ms  ({shown}); all again {t[1]:.1f} ms; errors only {t[2]:.1f} ms")
# The text search, once its index is made: from Enter in the search box to
# the hit count on the page (the worker's search, the list filtered), each
# query asked twice (the slower counts).
WebDriverWait(d, 600, 0.05).until(lambda d: d.find_element(By.ID, "f-search").get_attribute("data-indexed"))
indexed_in = time.monotonic() - t0
searches = d.execute_async_script("""
const queries = arguments[0], done = arguments[arguments.length - 1];
const box = document.getElementById('f-search');
const count = document.getElementById('f-count');
(async () => {
  const out = [];
  for (const q of queries) {
    let slowest = 0;
    for (const again of [0, 1]) {
      box.value = '';
      box.dispatchEvent(new Event('input'));
      box.value = q;
      const t0 = performance.now();
      box.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', bubbles: true }));
      while (count.textContent.startsWith('searching')) await new Promise((r) => setTimeout(r, 0));
      slowest = Math.max(slowest, performance.now() - t0);
    }
    out.push([q, slowest, count.textContent]);
  }
  box.value = '';
  box.dispatchEvent(new Event('input'));
  done(out);
})();
""", ["Buffer full", "no stop", "steps", "S1", "1234", "zz-nowhere"])
print(f"  search            {max(s[1] for s in searches):8.1f} ms  slowest query, from Enter to the hit count "
      f"(index made {indexed_in:.2f} s from opening)")
for q, ms, shown in searches:
    print(f"    {q!r:14} {ms:7.1f} ms  {shown}")
# Tool path hover: mouse moves over the middles of 40 stored segments
# spread over the path, each timed from the event to the position said.
# (The segments' places from the steps CSV: the sums of its rows.)
rows = subprocess.run([vornlog, "-s", dump, "-"], capture_output=True, text=True).stdout.splitlines()[1:]
x = y = 0
middles = []
for k, row in enumerate(rows):
    cells = row.split(";")
    s1, s2 = (int(cells[3]), int(cells[4])) if cells[1] != "-" else (0, 0)
    if k % max(1, len(rows) // 40) == len(rows) // 80:
        middles.append((x + s1 / 2, y + s2 / 2))
    x, y = x + s1, y + s2
hover = d.execute_script("""
const plan = document.getElementById('plan'), line = document.getElementById('path-hover');
const box = plan.getBoundingClientRect();
const ox = Number(plan.dataset.originX), oy = Number(plan.dataset.originY), scale = Number(plan.dataset.scale);
const middles = arguments[0], rows = Number(plan.dataset.rows);
const times = [];
for (const [mx, my] of middles.slice(0, 40)) {
  const px = ox + mx * scale, py = oy - my * scale;
  line.textContent = '';
  const t0 = performance.now();
  plan.dispatchEvent(new MouseEvent('mousemove', { clientX: box.left + px, clientY: box.top + py, bubbles: true }));
  const said = line.textContent !== '';
  times.push(performance.now() - t0);
  if (!said) return [rows, NaN, NaN];
}
times.sort((a, b) => a - b);
return [rows, times[times.length >> 1], times[times.length - 1]];
""", middles)
print(f"  path hover        {hover[1]:8.2f} ms  median, {hover[2]:.2f} ms slowest of 40 moves ({hover[0]} stored segments)")
# Tool path zoom: 8 wheel notches in about the start (0, 0), then 8 out,
# each timed from the event to the frame after the plan is drawn again.
zoom = d.execute_async_script("""
const done = arguments[arguments.length - 1];
const plan = document.getElementById('plan'), box = plan.getBoundingClientRect();
const frame = () => new Promise((ok) => requestAnimationFrame(() => ok()));
(async () => {
  const times = [];
  for (const deltaY of [-100, -100, -100, -100, -100, -100, -100, -100, 100, 100, 100, 100, 100, 100, 100, 100]) {
    const clientX = box.left + Number(plan.dataset.originX), clientY = box.top + Number(plan.dataset.originY);
    const t0 = performance.now();
    plan.dispatchEvent(new WheelEvent('wheel', { deltaY, clientX, clientY, bubbles: true, cancelable: true }));
    await frame();
    await frame();
    times.push(performance.now() - t0);
  }
  times.sort((a, b) => a - b);
  done([times[times.length >> 1], times[times.length - 1]]);
})();
""")
print(f"  path zoom         {zoom[0]:8.1f} ms  median, {zoom[1]:.1f} ms slowest of 16 wheel notches, to the next frame drawn")
heap = d.execute_script("return performance.memory ? performance.memory.usedJSHeapSize : 0")
by_kind, page = browser.memory()
total = [sum(v[i] for v in by_kind.values()) for i in (0, 1)]
print(f"  memory            {page[0] / 1024:8.0f} MiB resident in the page's renderer ({page[1] / 1024:.0f} MiB proportional; "
      f"main thread's JavaScript heap {heap / 2**20:.0f} MiB)")
print("    all Chromium processes: " + ", ".join(f"{k} x{c} {r / 1024:.0f} MiB" for k, (r, p, c) in sorted(by_kind.items()))
      + f"; together {total[0] / 1024:.0f} MiB resident, {total[1] / 1024:.0f} MiB proportional")
browser.quit()
PY
