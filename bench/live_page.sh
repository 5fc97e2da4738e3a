#!/usr/bin/env bash
# The live page (vornlog -l -f) in Debian's headless Chromium, fed by a
# followed file that this script writes (the benchmark's generated capture,
# bench/make_capture.cpp):
#
#   bash bench/live_page.sh [LINES]
#
# Prints: the latency from a message written into the followed file to the
# page counting it (data-messages; the median, the 90th percentile and the
# slowest of 200 messages written one by one at random moments); a capture
# written at 20,000 messages a second for 10 s (how far the page lags
# behind while it is written, how long after the last write it has
# every message, and the median and 90th percentile of the time from a
# block's write to the page counting it); and a capture of LINES lines (1,000,000 unless given)
# streamed into the page at once: the time until it has every message (and
# how much of it the page took to load), and the memory of the page's
# renderer then. Writes to build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
lines=${1:-1000000}
bash scripts/deps.sh --wasm chromium chromium-driver python3-selenium >/dev/null
source bench/tree.sh
bench_tree vornlog vornlog_live viewer_page

echo "live page benchmark, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 - "$root" "$vornlog" "$root/$dump" "$lines" <<'PY'
import json, os, random, subprocess, sys, tempfile, time
root, vornlog, dump, lines = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
sys.path.insert(0, os.path.join(root, "tests", "viewer"))
sys.path.insert(0, os.path.join(root, "tests", "live"))
from browser import Browser
from live_run import Live

work = tempfile.mkdtemp(prefix="live-page-bench-")
# The capture's first lines, and which of them hold a message (a text
# dump's message number is its line), as -j tells.
with open(dump, "rb") as f:
    capture = [next(f) for _ in range(min(lines, 300000))]
part = os.path.join(work, "part.txt")
with open(part, "wb") as f:
    f.writelines(capture)
numbers = {json.loads(line)["number"] for line in
           subprocess.run([vornlog, "-n", "-q", "-j", part, "-"], capture_output=True, check=True).stdout.splitlines()}
is_message = [n + 1 in numbers for n in range(len(capture))]
browser = Browser(work)
d = browser.driver
d.set_script_timeout(600)

# Every change of data-messages, with the moment it came (ms since the
# epoch, the clock this script reads too).
WATCH = """
window.seen = [];
new MutationObserver(() => window.seen.push([Number(document.body.dataset.messages), Date.now()]))
  .observe(document.body, { attributes: true, attributeFilter: ['data-messages'] });
"""


def when_counted(count, limit=600):
    """The moment the page counted `count` messages (ms since the epoch)."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        for n, at in d.execute_script("return window.seen"):
            if n >= count:
                return at
        time.sleep(0.005)
    raise SystemExit(f"the page never counted {count} messages")


def watch(name, first):
    """A followed file with the capture's first `first` lines, its live
    page open and counting them."""
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.writelines(capture[:first])
    live = Live(vornlog, ["-n", "-q", "-f", "-l", path, os.path.join(work, name + ".html")], work)
    d.get(live.url)
    d.execute_script(WATCH)
    when_counted(sum(is_message[:first]))
    return path, live


# Latency: one message at a time, each written at a random moment once the
# last is in the page.
path, live = watch("latency.txt", 1000)
at, count, latencies = 1000, sum(is_message[:1000]), []
with open(path, "ab", buffering=0) as f:
    while len(latencies) < 200:
        time.sleep(random.uniform(0.02, 0.2))
        while not is_message[at]:
            f.write(capture[at])
            at += 1
        written = time.time() * 1000
        f.write(capture[at])
        at += 1
        count += 1
        latencies.append(when_counted(count) - written)
live.stop()
latencies.sort()
print(f"  message written to page    median {latencies[len(latencies) // 2]:.0f} ms, 90% within "
      f"{latencies[len(latencies) * 9 // 10]:.0f} ms, slowest {latencies[-1]:.0f} ms (200 messages, "
      "the followed file looked at every 80 ms)")

# 20,000 lines a second for 10 s, a block every 50 ms: how far the page's
# count lags behind the messages written (the page's counts and their
# moments, against the writes and theirs).
path, live = watch("rate.txt", 1000)
at, count, writes = 1000, sum(is_message[:1000]), []
first = count
d.execute_script("window.seen = [];")
began = time.monotonic()
with open(path, "ab", buffering=0) as f:
    for k in range(200):
        time.sleep(max(0, began + k * 0.05 - time.monotonic()))
        block = []
        while len(block) < 1000 and at < len(capture):
            block.append(capture[at])
            count += is_message[at]
            at += 1
        f.write(b"".join(block))
        writes.append((time.time() * 1000, count))
elapsed = time.monotonic() - began
caught = when_counted(count) - writes[-1][0]
seen = d.execute_script("return window.seen")
# The lag at each write: the messages written then, less those the page
# counted by then.
lag = 0
took = []
for moment, written in writes:
    shown = max([n for n, t in seen if t <= moment] or [first])
    lag = max(lag, written - shown)
    # (Each block's latency: from its write to the page counting its last line.)
    took.append(min([t for n, t in seen if n >= written] or [caught + writes[-1][0]]) - moment)
took.sort()
live.stop()
print(f"  {count - first:,} messages written in {elapsed:.1f} s ({(count - first) / elapsed:,.0f} a second): the page "
      f"at most {lag:,} messages behind, every message in the page {caught:.0f} ms after the last write; a block "
      f"written to the page median {took[len(took) // 2]:.0f} ms, 90% within {took[len(took) * 9 // 10]:.0f} ms")

# The whole capture, read at full speed.
live = Live(vornlog, ["-n", "-q", "-l", dump, os.path.join(work, "whole.html")], work)
t0 = time.monotonic()
d.get(live.url)
loaded = time.monotonic() - t0
while d.execute_script("return document.body.dataset.live") != "ended" or \
        d.execute_script("return document.body.dataset.saved") is None:
    time.sleep(0.1)
took = time.monotonic() - t0
messages = int(d.execute_script("return document.body.dataset.messages"))
by_kind, page = browser.memory()
live.stop()
print(f"  {messages:,} messages streamed live: all in the page {took:.1f} s after it was opened (the page loaded in "
      f"{loaded:.1f} s of them); the page's renderer {page[0] / 1024:.0f} MiB resident ({page[1] / 1024:.0f} MiB "
      "proportional)")
browser.quit()
PY
