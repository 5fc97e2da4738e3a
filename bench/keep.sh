#!/usr/bin/env bash
# The recorder for hours (vornlog -e --keep=DIR through a pipe): a capture of
# HOURS hours (8 by default) at 500 messages a second, written fast with its
# time stamps spread over the hours, stalls planted every 45 minutes and one
# of 100 s. Prints the peak resident memory, the time taken, the pages
# kept, and whether every finding that the same capture decoded afterwards
# (from the file) has was kept as a page.
#
# usage: bash bench/keep.sh [HOURS]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
hours=${1:-8}
bash scripts/deps.sh time >/dev/null
mkdir -p "$out"

cmake -S . -B "$out/tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNLOG_BUILD_TESTS=OFF \
  -DVORNLOG_BUILD_LAUNCHER=OFF >/dev/null
cmake --build "$out/tree" -j2 --target vornlog viewer_page >/dev/null
vornlog="$root/$out/tree/decoder/vornlog"
g++ -O2 -std=c++20 bench/make_stalls.cpp -o "$out/make_stalls"
dump="$out/stalls-$hours.txt"
[[ -f $dump ]] || "$out/make_stalls" "$hours" 45 >"$dump"
kept="$out/kept-$hours"
rm -rf "$kept"
mkdir -p "$kept"

echo "recorder benchmark: $hours h at 500 messages/s, $(($(stat -c %s "$dump") / 1000000)) MB text dump, $(nproc) cores"
cat "$dump" | /usr/bin/time -f '%e %M' -o "$out/keep.time" "$vornlog" -n -q -e --keep="$kept" - "$out/live.jsonl"
read -r seconds kb <"$out/keep.time"
"$vornlog" -n -q -e "$dump" "$out/after.jsonl"
python3 - "$out/live.jsonl" "$out/after.jsonl" "$kept" "$seconds" "$kb" <<'PY'
import json, os, sys
live, after, kept, seconds, kb = sys.argv[1:]
def findings(path):
    last = {}
    for line in open(path):
        f = json.loads(line)
        last[f["id"]] = f
    return last.values()
def name(f):
    ms = round(f["start"] * 1000)
    return "finding-%04d-%d.%03ds-%s.html" % (f["id"], ms // 1000, ms % 1000, f["kind"])
made = {(f["kind"], f["start"], f["end"]) for f in findings(after)}
told = list(findings(live))
pages = set(os.listdir(kept))
missed = made - {(f["kind"], f["start"], f["end"]) for f in told}
without = [f["id"] for f in told if name(f) not in pages]
size = sum(os.path.getsize(os.path.join(kept, p)) for p in pages)
print(f"  -e --keep through a pipe: {float(seconds):.1f} s, peak resident {int(kb) / 1024:.1f} MiB (goal: under 32 MiB)")
print(f"  findings decoded afterwards: {len(made)}; told live: {len(told)}; pages kept: {len(pages)}"
      f" ({size / len(pages) / 1e6 if pages else 0:.2f} MB each on average)")
print(f"  findings of the capture decoded afterwards not told live: {len(missed)}; told without a page: {len(without)}")
PY
