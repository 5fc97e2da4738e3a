#!/usr/bin/env bash
# The live viewer (vornlog -l) on a capture of LINES lines (1,000,000 by
# default): the time until the page of everything read is saved and the
# peak resident memory, against -w on the same capture; and how fast a
# client receives the whole capture stream. Prints the figures.
#
# usage: bash bench/live.sh [LINES]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
lines=${1:-1000000}
bash scripts/deps.sh time >/dev/null
source bench/tree.sh
bench_tree vornlog vornlog_live viewer_page
cat "$dump" >/dev/null

echo "live viewer benchmark, $lines lines ($(($(stat -c %s "$dump") / 1000000)) MB text dump), $(nproc) cores"
/usr/bin/time -f '%e %M' -o "$out/w.time" "$vornlog" -n -q -w "$dump" "$out/w.html"
read -r w_seconds w_kb <"$out/w.time"
echo "  -w: page written in $w_seconds s, peak resident $((w_kb / 1024)) MiB"

python3 - "$vornlog" "$dump" "$out" <<'EOF'
import http.client, os, re, resource, select, signal, subprocess, sys, time
vornlog, dump, out = sys.argv[1:]
size = os.path.getsize(dump)
start = time.monotonic()
proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", f"{out}/l.time", vornlog, "-n", "-l", dump,
                         f"{out}/l.html"], stdout=subprocess.PIPE)
seen = b""
while b"Done" not in seen:
    seen += os.read(proc.stdout.fileno(), 65536)
    if m := re.search(rb"Live viewer: http://127\.0\.0\.1:(\d+)/([0-9a-f]{32})/\n", seen):
        port, token = int(m.group(1)), m.group(2).decode()
saved = time.monotonic() - start
# One client reads the whole stream.
t0 = time.monotonic()
conn = http.client.HTTPConnection("127.0.0.1", port)
conn.request("GET", f"/{token}/capture?start=0&from=0")
response = conn.getresponse()
received = 0
while chunk := response.read(1 << 20):
    received += len(chunk)
streamed = time.monotonic() - t0
# SIGTERM, to vornlog itself (time passes it on to nobody; a run started in
# the background ignores SIGINT).
subprocess.run(["pkill", "-TERM", "-P", str(proc.pid)])
proc.wait()
kb = int(open(f"{out}/l.time").read().split()[-1])
same = open(f"{out}/l.html", "rb").read() == open(f"{out}/w.html", "rb").read()
print(f"  -l: page saved in {saved:.2f} s (the same bytes as -w: {same}), peak resident {kb // 1024} MiB")
print(f"  -l: the whole capture stream ({received / 1e6:.0f} MB with its frames) received in {streamed:.2f} s "
      f"({received / 1e6 / streamed:.0f} MB/s)")
EOF
