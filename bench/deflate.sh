#!/usr/bin/env bash
# Benchmark of -w's compression of the capture (libdeflate) on the
# benchmark's generated capture (bench/make_capture.cpp; 1,000,000 lines
# unless LINES is given), against the build of another revision (BASE, a
# git revision: main unless given):
#
#   bash bench/deflate.sh [LINES [BASE]]
#
# Prints, with the machine's load: vornlog -w against the report, each
# writing a new file (wall and processor time, best of REPEAT=5, in turns,
# both builds); the page's size with each build (the same small page
# around the capture, so that only the compressed capture differs), and
# its share of the text dump; then libdeflate's levels on the capture in
# parts of 2 MiB (bench/deflate_levels.cpp: size and speed on one thread),
# from which -w's level was chosen. Writes to build-bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
lines=${1:-1000000}
base=${2:-main}
repeat=${REPEAT:-5}
bash scripts/deps.sh >/dev/null
source bench/tree.sh
bench_tree vornlog
g++ -O2 -std=c++20 bench/deflate_levels.cpp -ldeflate -o "$out/deflate_levels"

# The build of BASE, from its files as git holds them.
rm -rf "$out/base-src"
mkdir -p "$out/base-src"
git archive "$base" | tar -x -C "$out/base-src"
cmake -S "$out/base-src" -B "$out/base-tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNLOG_BUILD_TESTS=OFF \
  -DVORNLOG_BUILD_LAUNCHER=OFF >/dev/null
cmake --build "$out/base-tree" -j2 --target vornlog >/dev/null

# Each program in a folder of its own, beside the same small viewer page.
page='<html><body>page
<script type="application/octet-stream" id="capture" data-name="" data-device=""></script>
</body></html>'
for side in new base; do
  mkdir -p "$out/deflate-$side/bin" "$out/deflate-$side/viewer"
  printf '%s\n' "$page" >"$out/deflate-$side/viewer/vornlog-viewer.html"
done
cp "$vornlog" "$out/deflate-new/bin/vornlog"
cp "$out/base-tree/decoder/vornlog" "$out/deflate-base/bin/vornlog"

# Wall and processor (user + system) seconds of one run.
timed() {
  local TIMEFORMAT='%R %U %S'
  sync
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f %.3f", $1, $2 + $3 }'
}
declare -A W C
best() { # NAME "WALL CPU"
  local wall=${2% *} cpu=${2#* }
  if [[ -z ${W[$1]:-} ]] || awk -v a="$wall" -v b="${W[$1]}" 'BEGIN { exit !(a < b) }'; then W[$1]=$wall; fi
  if [[ -z ${C[$1]:-} ]] || awk -v a="$cpu" -v b="${C[$1]}" 'BEGIN { exit !(a < b) }'; then C[$1]=$cpu; fi
}
for ((i = 0; i < repeat; i++)); do
  for side in new base; do
    program="$out/deflate-$side/bin/vornlog"
    rm -f "$out/report.txt" "$out/page-$side.html"
    best "report-$side" "$(timed "$program" -n "$dump" "$out/report.txt")"
    best "page-$side" "$(timed "$program" -n -w "$dump" "$out/page-$side.html")"
  done
done
rm -f "$out/report.txt"
dump_bytes=$(stat -c %s "$dump")
echo "deflate benchmark, $lines lines ($((dump_bytes / 1000000)) MB text dump), $(nproc) cores," \
  "load $(cut -d' ' -f1-3 /proc/loadavg), best of $repeat in turns"
for side in new base; do
  label=$([[ $side == new ]] && echo "this build" || echo "$base")
  bytes=$(stat -c %s "$out/page-$side.html")
  printf '  %-12s -w %6.3f s (%6.3f s processor)   report %6.3f s (%6.3f s processor)   page %6.1f MB (%4.1f %% of the dump)\n' \
    "$label" "${W[page-$side]}" "${C[page-$side]}" "${W[report-$side]}" "${C[report-$side]}" \
    "$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')" "$(awk -v b="$bytes" -v d="$dump_bytes" 'BEGIN { print 100 * b / d }')"
done
echo "  libdeflate's levels, the capture in parts of 2 MiB (base64 in the page adds a third):"
"$out/deflate_levels" "$dump" 1 6
