#!/usr/bin/env bash
# The comparison of two sessions (-c) against the summary (-t): two text
# dumps of one job of 1,000,000 lines each (bench/make_job.py; the second
# stalls every 2,000 segments), -t on each and -c on both. Prints the
# machine's load, each run's time and peak memory, the segments, whether -c
# took at most twice the two summaries' time together, and its memory per
# million segments.
#
# usage: bash bench/compare.sh [LINES]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
lines=${1:-1000000}
bash scripts/deps.sh time >/dev/null
mkdir -p "$out"

cmake -S . -B "$out/tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNLOG_BUILD_TESTS=OFF \
  -DVORNLOG_BUILD_LAUNCHER=OFF >/dev/null
cmake --build "$out/tree" -j2 --target vornlog >/dev/null
vornlog="$root/$out/tree/decoder/vornlog"
before="$out/job-$lines.txt"
after="$out/job-$lines-stalls.txt"
[[ -f $before ]] || python3 bench/make_job.py "$lines" 0 >"$before"
[[ -f $after ]] || python3 bench/make_job.py "$lines" 2000 >"$after"

echo "compare benchmark: two text dumps of one job, $lines lines each, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
/usr/bin/time -f '%e %M' -o "$out/t1.time" "$vornlog" -n -q -t "$before" "$out/before.summary.txt"
/usr/bin/time -f '%e %M' -o "$out/t2.time" "$vornlog" -n -q -t "$after" "$out/after.summary.txt"
/usr/bin/time -f '%e %M' -o "$out/c.time" "$vornlog" -n -q -j -c "$before" "$after" "$out/compare.jsonl"
read -r t1 m1 <"$out/t1.time"
read -r t2 m2 <"$out/t2.time"
read -r tc mc <"$out/c.time"
python3 - "$t1" "$m1" "$t2" "$m2" "$tc" "$mc" "$out/compare.jsonl" <<'PY'
import json, sys
t1, m1, t2, m2, tc, mc = (float(v) for v in sys.argv[1:7])
lines = [json.loads(l) for l in open(sys.argv[7])]
runs = lines[-1]
segments = runs["before"]["segments"] + runs["after"]["segments"]
print(f"  -t BEFORE                {t1:7.2f} s  {m1 / 1024:7.1f} MiB peak")
print(f"  -t AFTER                 {t2:7.2f} s  {m2 / 1024:7.1f} MiB peak")
print(f"  -c BEFORE AFTER          {tc:7.2f} s  {mc / 1024:7.1f} MiB peak")
print(f"  segments: {runs['before']['segments']} + {runs['after']['segments']}, aligned {runs['aligned']:.4f}, "
      f"{len(lines) - 1} differences")
print(f"  -c / (-t BEFORE + -t AFTER): {tc / (t1 + t2):.2f} (goal: at most 2): {'met' if tc <= 2 * (t1 + t2) else 'NOT met'}")
per = (mc / 1024) / (segments / 1e6)
print(f"  memory: {per:.1f} MiB per million segments of both runs (goal: at most 64): {'met' if per <= 64 else 'NOT met'}")
PY
