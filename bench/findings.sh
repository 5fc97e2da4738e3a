#!/usr/bin/env bash
# Times the findings pass (-e) of two builds in turns on generated
# captures of 1,000,000 lines: one full of findings (make_capture
# --findings) and a plain job. Prints the best processor time (user +
# system) and wall time of each, of REPEAT (11) runs, and the machine's
# load before and after.
#
#   bash bench/findings.sh OLD/vornlog NEW/vornlog [LINES]
set -euo pipefail
cd "$(dirname "$0")/.."
old=$(realpath "$1")
new=$(realpath "$2")
lines=${3:-1000000}
repeat=${REPEAT:-11}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -O2 -std=c++20 bench/make_capture.cpp -o "$work/make_capture"
"$work/make_capture" --findings "$lines" "$work/findings.txt"
"$work/make_capture" "$lines" "$work/plain.txt"
ms() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'; }
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for capture in findings plain; do
  best_old=999999999 best_new=999999999 wall_old=999999999 wall_new=999999999
  for ((i = 0; i < repeat; i++)); do
    for side in old new; do
      exe=${!side}
      # Processor time to the microsecond, from the child's resource use.
      read -r cpu wall < <(python3 -c '
import os, resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
wall = time.monotonic() - start
use = resource.getrusage(resource.RUSAGE_CHILDREN)
print(int((use.ru_utime + use.ru_stime) * 1e6), int(wall * 1e6))
' "$exe" -q -e "$work/$capture.txt" "$work/out.jsonl")
      b=best_$side w=wall_$side
      ((cpu < ${!b})) && printf -v "$b" '%s' "$cpu"
      ((wall < ${!w})) && printf -v "$w" '%s' "$wall"
    done
  done
  printf '%-9s old %7.1f ms cpu %7.1f ms wall   new %7.1f ms cpu %7.1f ms wall   new/old cpu %s\n' "$capture" \
    "$(ms "$best_old")" "$(ms "$wall_old")" "$(ms "$best_new")" "$(ms "$wall_new")" "$(awk -v a="$best_new" -v b="$best_old" 'BEGIN { printf "%.3f", a / b }')"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
