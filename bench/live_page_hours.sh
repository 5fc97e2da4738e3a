#!/usr/bin/env bash
# The live page (vornlog -l -f) over a long session, in Debian's headless
# Chromium: a fast writer appends text-dump lines to the followed file, a
# session of SECONDS seconds at RATE messages a second (the benchmark's
# generated capture, bench/make_capture.cpp, over and over, its numbers and
# time stamps written on so that the session's time spreads over SECONDS),
# written at WRITE lines a second of the wall clock:
#
#   bash bench/live_page_hours.sh [--pipe] [SECONDS [RATE [WRITE]]]
#
# 28800 and 20000 unless given (8 hours); WRITE as RATE unless given (the
# session written as it would happen; more: simulated faster). --pipe: the
# lines go to vornlog -l through a pipe (its standard input), not a file:
# no file of the whole session is kept (8 hours are some 26 GB of text).
#
# Prints, every minute and at the end: the messages written and counted by
# the page, the messages that left it, the memory of the page's renderer
# (resident and proportional, and its resident bytes for each message the
# page keeps), of it the decoder's WebAssembly memory, the room of the
# page's columns and the page's JavaScript heap, and the machine's load. Writes to
# build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
pipe=0
if [ "${1:-}" = --pipe ]; then pipe=1; shift; fi
seconds=${1:-28800}
rate=${2:-20000}
write=${3:-$rate}
lines=200000
bash scripts/deps.sh --wasm chromium chromium-driver python3-selenium >/dev/null
source bench/tree.sh
bench_tree vornlog vornlog_live viewer_page

echo "long live page benchmark, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/python3 - "$root" "$vornlog" "$root/$dump" "$seconds" "$rate" "$write" "$pipe" <<'PY'
import os, subprocess, sys, tempfile, time
root, vornlog, dump, seconds, rate = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), int(sys.argv[5])
write, pipe = int(sys.argv[6]), sys.argv[7] == "1"
sys.path.insert(0, os.path.join(root, "tests", "viewer"))
sys.path.insert(0, os.path.join(root, "tests", "live"))
from browser import Browser
from live_run import Live

# The capture's lines without their number and time: written again with
# running ones.
with open(dump, "rb") as f:
    tails = [line.split(b"\t", 3)[3] for line in f if line.count(b"\t") >= 3]
heads = [line.split(b"\t", 3)[1] for line in open(dump, "rb") if line.count(b"\t") >= 3]

work = tempfile.mkdtemp(prefix="live-page-hours-")
path = os.path.join(work, "long.txt")
open(path, "wb").close()
browser = Browser(work, extra=["--enable-precise-memory-info"])
d = browser.driver
live = Live(vornlog, ["-n", "-q"] + (["-l", "-"] if pipe else ["-f", "-l", path]) + [os.path.join(work, "long.html")],
            work, stdin=subprocess.PIPE if pipe else None)
d.get(live.url)


def resident(pid):
    """A process's resident memory, in KiB."""
    with open(f"/proc/{pid}/status") as status:
        return next((int(line.split()[1]) for line in status if line.startswith("VmRSS:")), 0)


def report(written):
    state = d.execute_script("const b = document.body.dataset, h = window.vornlogHeld(); return [b.messages, "
                             "b.gone || '0', h.decoder, h.columns, h.messages, "
                             "performance.memory ? performance.memory.usedJSHeapSize : 0];")
    _, page = browser.memory()
    kept = max(int(state[4] or 0), 1)
    seen = int(state[0] or 0)
    print(f"  {time.monotonic() - began:6.0f} s: {written:,} lines written, {seen:,} messages in the "
          f"page (about the session's first {seen / rate / 3600:.2f} hours), {int(state[1]):,} left it; vornlog "
          f"{resident(live.proc.pid) / 1024:.0f} MiB resident; renderer {page[0] / 1024:.0f} MiB resident ({page[1] / 1024:.0f} MiB "
          f"proportional, {page[0] * 1024 / kept:.0f} bytes a message kept), of it the decoder's memory "
          f"{state[2] / 2**20:.0f} MiB, the page's columns {state[3] / 2**20:.0f} MiB and its JavaScript heap "
          f"{state[5] / 2**20:.0f} MiB; load average "
          f"{' '.join(open('/proc/loadavg').read().split()[:3])}", flush=True)


began = time.monotonic()
written, block, next_report = 0, max(write // 20, 1), 60
# (The pipe is left open at the end: its end would have vornlog write the
# whole session's page.)
f = live.proc.stdin if pipe else open(path, "ab", buffering=0)
while written < seconds * rate:
    time.sleep(max(0, began + written / write - time.monotonic()))
    chunk = []
    for _ in range(block):
        ms = written * 1000 // rate
        k = written % len(tails)
        chunk.append(b"%d\t%s\t%02d:%02d:%02d.%03d\t%s" % (written + 1, heads[k], ms // 3600000 % 24,
                                                            ms // 60000 % 60, ms // 1000 % 60, ms % 1000, tails[k]))
        written += 1
    f.write(b"".join(chunk))
    if time.monotonic() - began >= next_report:
        report(written)
        next_report += 60
deadline = time.monotonic() + 600
while time.monotonic() < deadline and int(d.execute_script("return document.body.dataset.messages") or 0) < written * 0.9:
    time.sleep(0.5)
report(written)
if pipe:
    live.proc.kill()
else:
    f.close()
    live.stop()
browser.quit()
PY
