#!/usr/bin/env bash
# The pages kept of the findings (vornlog -e --keep=DIR), in three parts.
#
# recorder: a capture of HOURS hours (8 by default) at 500 messages a
# second, written fast with its time stamps spread over the hours, stalls
# planted every 45 minutes and one of 100 s, read through a pipe. Prints
# the peak resident memory, the time taken, the pages kept, and whether
# every finding that the same capture decoded afterwards (from the file)
# has was kept as a page.
#
# heavy: 100,000 lines of a PC program that sends another segment after
# each "buffer full" (a finding every 44 lines, a line every 5 ms): the
# time, the peak resident memory and the disk the pages take; then the
# same with 1,000,000 lines, with and without --keep.
#
# follow: 400,000 lines of that capture written at 20,000 lines a second
# (and at 200,000) into a file that vornlog -e -f follows, with and without
# --keep (into a 1G folder): how long after the writer's end the findings
# are all out, and the lines read a second.
#
# usage: [VORNLOG=PATH] bash bench/keep.sh [HOURS | heavy | follow]   (all three without)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
what=${1:-all}
hours=8
[[ $what =~ ^[0-9]+$ ]] && hours=$what && what=recorder
bash scripts/deps.sh time >/dev/null
mkdir -p "$out"

# VORNLOG=PATH: that build of vornlog instead of the tree's own.
if [[ -n ${VORNLOG:-} ]]; then
  vornlog=$(realpath "$VORNLOG")
else
  cmake -S . -B "$out/tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNLOG_BUILD_TESTS=OFF \
    -DVORNLOG_BUILD_LAUNCHER=OFF >/dev/null
  cmake --build "$out/tree" -j2 --target vornlog viewer_page >/dev/null
  vornlog="$root/$out/tree/decoder/vornlog"
fi
echo "kept pages benchmark, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

if [[ $what == all || $what == recorder ]]; then
g++ -O2 -std=c++20 bench/make_stalls.cpp -o "$out/make_stalls"
dump="$out/stalls-$hours.txt"
[[ -f $dump ]] || "$out/make_stalls" "$hours" 45 >"$dump"
kept="$out/kept-$hours"
rm -rf "$kept"
mkdir -p "$kept"

echo "recorder: $hours h at 500 messages/s, $(($(stat -c %s "$dump") / 1000000)) MB text dump"
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
made = {(f["kind"], f["start"], f["end"]) for f in findings(after)}
told = list(findings(live))
pages = os.listdir(kept)
# A page names its first finding's number and, when it holds more, its
# last's: every finding told falls within one page's numbers.
spans = []
for p in pages:
    parts = p[:-len(".html")].split("-")
    first = int(parts[1])
    last = int(parts[parts.index("to") + 1]) if "to" in parts else first
    spans.append((first, last))
missed = made - {(f["kind"], f["start"], f["end"]) for f in told}
without = [f["id"] for f in told if not any(a <= f["id"] <= b for a, b in spans)]
size = sum(os.path.getsize(os.path.join(kept, p)) for p in pages)
print(f"  -e --keep through a pipe: {float(seconds):.1f} s, peak resident {int(kb) / 1024:.1f} MiB (goal: under 64 MiB)")
print(f"  findings decoded afterwards: {len(made)}; told live: {len(told)}; pages kept: {len(pages)}"
      f" ({size / len(pages) / 1e6 if pages else 0:.2f} MB each on average)")
print(f"  findings of the capture decoded afterwards not told live: {len(missed)}; told without a page: {len(without)}")
PY
fi

# The finding-heavy capture of LINES lines, a line every STEP ms, made once.
heavy() {
  local file="$out/resending-$1-$2.txt"
  [[ -f $file ]] || python3 -c '
import sys
sys.path.insert(0, "tests/findings")
from kept_pages_test import resending
sys.stdout.buffer.write(b"".join(resending(int(sys.argv[1]), int(sys.argv[2]))))' "$1" "$2" >"$file"
  echo "$file"
}

if [[ $what == all || $what == heavy ]]; then
for lines in 100000 1000000; do
  dump=$(heavy "$lines" 5)
  findings=$("$vornlog" -n -q -e "$dump" - | wc -l)
  echo "heavy: $lines lines, a finding every 44 lines ($findings findings), $(($(stat -c %s "$dump") / 1000)) kB"
  for keep in without with; do
    best=
    for run in 1 2 3; do
      rm -rf "$out/heavy-kept"
      mkdir -p "$out/heavy-kept"
      args=(-n -q -e)
      [[ $keep == with ]] && args+=(--keep="$out/heavy-kept")
      /usr/bin/time -f '%e %M' -o "$out/heavy.time" "$vornlog" "${args[@]}" "$dump" "$out/heavy.jsonl"
      read -r seconds kb <"$out/heavy.time"
      if [[ -z $best ]] || awk "BEGIN { exit !($seconds < $best) }"; then
        best=$seconds
        peak=$kb
      fi
    done
    kept=
    if [[ $keep == with ]]; then
      pages=$(find "$out/heavy-kept" -type f | wc -l)
      kept=", $pages pages, $(find "$out/heavy-kept" -type f -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1000) }') kB"
    fi
    echo "  $keep --keep: $best s (best of 3), peak resident $((peak / 1024)) MiB$kept"
  done
done
fi

if [[ $what == all || $what == follow ]]; then
dump=$(heavy 400000 5)
for rate in 20000 200000; do
echo "follow: a file written at $rate lines/s (400,000 lines), read by vornlog -e -f"
for keep in without with; do
  rm -rf "$out/follow-kept" "$out/followed.txt"
  mkdir -p "$out/follow-kept"
  args=(-n -q -e -f)
  [[ $keep == with ]] && args+=(--keep="$out/follow-kept" --keep-max=1G)
  python3 - "$vornlog" "$dump" "$out" "$keep" "$rate" "${args[@]}" <<'PY'
import os, subprocess, sys, time
vornlog, dump, out, keep, rate, *args = sys.argv[1:]
lines = open(dump, "rb").read().splitlines(keepends=True)
want = len(subprocess.run([vornlog, "-n", "-q", "-e", dump, "-"], capture_output=True).stdout.splitlines())
followed = os.path.join(out, "followed.txt")
found = os.path.join(out, "followed.jsonl")
with open(followed, "wb") as f:
    p = subprocess.Popen([vornlog] + args + [followed, found])
    start = time.monotonic()
    rate = int(rate)
    for n in range(0, len(lines), 1000):
        f.write(b"".join(lines[n:n + 1000]))
        f.flush()
        pause = start + (n + 1000) / rate - time.monotonic()
        if pause > 0:
            time.sleep(pause)
    written = time.monotonic()
    count = 0
    while time.monotonic() < written + 120:
        count = sum(1 for _ in open(found, "rb")) if os.path.exists(found) else 0
        if count >= want - 1:
            break
        time.sleep(0.02)
    caught = time.monotonic()
    p.terminate()
    p.wait()
behind = caught - written
print(f"  {keep} --keep: writing took {written - start:.2f} s; all but the last of the {want} findings out"
      f" {behind:.2f} s after the writer's end; {len(lines) / (caught - start):.0f} lines read a second")
PY
done
pages=$(find "$out/follow-kept" -type f | wc -l)
done
echo "  pages kept while following: $pages, $(find "$out/follow-kept" -type f -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1000) }') kB"
fi
