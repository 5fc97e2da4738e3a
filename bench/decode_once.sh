#!/usr/bin/env bash
# Times the modes that decode every message, alone and with --fail-on
# (the findings then take the writer's decoding), for two builds in turns
# on a generated capture of 1,000,000 lines. Prints the best processor
# time (user + system) of REPEAT (3) runs of each, and the machine's load
# before and after.
#
#   [REPEAT=N] [MODES=M,M] bash bench/decode_once.sh OLD/vornlog NEW/vornlog [LINES] [--findings]
set -euo pipefail
cd "$(dirname "$0")/.."
old=$(realpath "$1")
new=$(realpath "$2")
lines=${3:-1000000}
kind=${4:-}
repeat=${REPEAT:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -O2 -std=c++20 bench/make_capture.cpp -o "$work/make_capture"
# shellcheck disable=SC2086
"$work/make_capture" $kind "$lines" "$work/capture.txt"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
modes=("-v" "-v --fail-on=any" "-e" "-t" "-t --fail-on=any" "-j" "-j --fail-on=any" "-s" "-s --fail-on=any")
# MODES="-t,-t --fail-on=any": those alone.
[[ -n ${MODES:-} ]] && IFS=, read -ra modes <<< "$MODES"
printf '%-20s %10s %10s %8s\n' mode "old ms" "new ms" change
for mode in "${modes[@]}"; do
  best_old=999999999 best_new=999999999
  for ((i = 0; i < repeat; i++)); do
    for side in old new; do
      # Processor time to the microsecond, from the child's resource use
      # (--fail-on exits 3 when a finding was made).
      # shellcheck disable=SC2086
      cpu=$(python3 -c '
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
use = resource.getrusage(resource.RUSAGE_CHILDREN)
print(int((use.ru_utime + use.ru_stime) * 1e6))
' "${!side}" -q -n $mode "$work/capture.txt" "$work/out")
      b=best_$side
      ((cpu < ${!b})) && printf -v "$b" '%s' "$cpu"
    done
  done
  awk -v m="$mode" -v o="$best_old" -v n="$best_new" \
    'BEGIN { printf "%-20s %10.1f %10.1f %+7.1f%%\n", m, o / 1000, n / 1000, (n - o) * 100 / o }'
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
