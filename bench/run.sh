#!/usr/bin/env bash
# Benchmark of vornlog on generated captures of 10,000, 100,000 and
# 1,000,000 lines (bench/make_capture.cpp: Data messages with their
# replies, status and table traffic, CRLF line ends).
#
#   bash bench/run.sh [LINES ...]      (REPEAT=3 runs each, the best is kept)
#
# For each size it measures, with /usr/bin/time and bash's clock:
#   report      vornlog DUMP REPORT
#   steps       vornlog -s DUMP CSV
#   picture     vornlog -p DUMP SVG
#   summary     vornlog -t DUMP SUMMARY
#   json        vornlog -j DUMP JSONL
#   findings    vornlog -e DUMP FINDINGS
#   I/O floor   cat DUMP > /dev/null; cat REPORT > COPY   (reading the
#               capture and writing a report of the same size, nothing else)
#   awk cut     awk -F'\t' 'length($0) > 40 {print $5}' DUMP > /dev/null
#   pcapng      vornlog PCAPNG REPORT, the same messages as a usbmon pcapng
#               (two packets each: submission and completion)
#   pcapng I/O  cat PCAPNG > /dev/null; cat ITS REPORT > COPY
#   pcapng pipe vornlog - REPORT < <(cat PCAPNG): read in one pass from a
#               pipe; once more under strace, outside the timing, to list
#               every file it opens for writing (the dest alone)
# taking turns, each after a sync outside the timing, and prints wall
# time, MB/s and lines/s of the capture, peak resident memory, and the
# ratios the targets are set on:
#   report <= 2 x I/O floor, steps <= awk cut (1,000,000 lines);
#   picture <= 2 x steps and its SVG under 10 MB (1,000,000 lines);
#   pcapng <= report of the text dump and <= 1.25 x pcapng I/O;
#   peak RSS < 8 MiB, the same for 10,000 and 1,000,000 lines (within the
#   512 KiB of I/O buffers that a small capture does not fill);
#   time per line the same at 100,000 and 1,000,000 lines (linear);
#   summary <= report, summary peak RSS < 16 MiB (1,000,000 lines);
#   json <= 1.5 x report, json peak RSS < 8 MiB (1,000,000 lines);
#   findings <= summary, findings peak RSS < 8 MiB (1,000,000 lines).
#   pcapng pipe peak RSS < 8 MiB and no file written but the dest.
# BASELINE=PATH/TO/vornlog also times another build (say, the one before a
# change) in every mode, in turns with this one, and prints each mode's
# time against it: decoding files must stay as fast.
# Everything is written to build-bench/. A fake xdg-open comes first on
# PATH so that no viewer opens.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
repeat="${REPEAT:-3}"
sizes=("$@")
((${#sizes[@]})) || sizes=(10000 100000 1000000)

if [[ ! -x /usr/bin/time ]]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time >/dev/null
fi
command -v strace >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq strace >/dev/null
baseline="${BASELINE:-}"
bash scripts/deps.sh >/dev/null

source bench/tree.sh
bench_build vornlog

# once COMMAND...: one timed run; wall time (s) into $t, peak RSS (KiB)
# into $k. The dest files are removed and dirty pages written back first,
# outside the timing, so that every command starts from the same state and
# none pays for the write-back of another.
once() {
  rm -f "$out/report.txt" "$out/steps.csv" "$out/copy.txt" "$out/picture.svg" "$out/summary.txt" "$out/json.jsonl" \
    "$out/findings.jsonl"
  sync
  local t0=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o "$out/time.txt" "$@" >/dev/null
  local t1=$EPOCHREALTIME
  t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')
  k=$(tail -n 1 "$out/time.txt")
}

# keep NAME: the best time and the largest peak RSS of NAME so far.
keep() {
  if [[ -z ${T[$1,$n]:-} ]] || awk -v a="$t" -v b="${T[$1,$n]}" 'BEGIN { exit !(a < b) }'; then
    T[$1,$n]=$t
  fi
  ((k > ${R[$1,$n]:-0})) && R[$1,$n]=$k
  return 0
}

row() { # what lines bytes wall rss
  awk -v what="$1" -v n="$2" -v bytes="$3" -v t="$4" -v kib="$5" 'BEGIN {
    printf "%-12s %9d %9.3f %9.1f %12.0f %9.2f\n", what, n, t, bytes / 1e6 / t, n / t, kib / 1024 }'
}

echo "vornlog benchmark on $(nproc) cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "best of $repeat runs; MB/s and lines/s are of the capture read"
printf "%-12s %9s %9s %9s %12s %9s\n" what lines "wall s" "MB/s" "lines/s" "RSS MiB"
declare -A T R S J
big=${sizes[-1]}
small=${sizes[0]}
for n in "${sizes[@]}"; do
  dump="$out/capture-$n.txt"
  pcapng="$out/capture-$n.pcapng"
  [[ -f $dump && -f $pcapng ]] || "$out/make_capture" "$n" "$dump" "$pcapng"
  bytes=$(stat -c %s "$dump")
  usb_bytes=$(stat -c %s "$pcapng")
  cat "$dump" "$pcapng" >/dev/null # in the page cache, like the runs that follow

  # Reports written outside the timing, for the I/O floors to copy.
  "$vornlog" "$dump" "$out/report.keep" >/dev/null
  "$vornlog" "$pcapng" "$out/usb-report.keep" >/dev/null

  # The four commands take turns, so that they meet the same machine.
  for ((i = 0; i < repeat; i++)); do
    once "$vornlog" "$dump" "$out/report.txt"; keep report
    once "$vornlog" -s "$dump" "$out/steps.csv"; keep steps
    once "$vornlog" -p "$dump" "$out/picture.svg"; keep picture
    S[$n]=$(stat -c %s "$out/picture.svg")
    once "$vornlog" -t "$dump" "$out/summary.txt"; keep summary
    once "$vornlog" -j "$dump" "$out/json.jsonl"; keep json
    J[$n]=$(stat -c %s "$out/json.jsonl")
    once "$vornlog" -e "$dump" "$out/findings.jsonl"; keep findings
    once sh -c 'cat "$1" > /dev/null; cat "$2" > "$3"' sh "$dump" "$out/report.keep" "$out/copy.txt"; keep floor
    once awk -F'\t' 'length($0) > 40 {print $5}' "$dump"; keep awk
    once "$vornlog" "$pcapng" "$out/report.txt"; keep pcapng
    once sh -c 'cat "$1" > /dev/null; cat "$2" > "$3"' sh "$pcapng" "$out/usb-report.keep" "$out/copy.txt"; keep usbfloor
    once "$vornlog" - "$out/report.txt" < <(cat "$pcapng"); keep pipe
    if [[ -n $baseline ]]; then
      once "$baseline" "$dump" "$out/report.txt"; keep old-report
      once "$baseline" -s "$dump" "$out/steps.csv"; keep old-steps
      once "$baseline" -p "$dump" "$out/picture.svg"; keep old-picture
      once "$baseline" -t "$dump" "$out/summary.txt"; keep old-summary
      once "$baseline" -j "$dump" "$out/json.jsonl"; keep old-json
      once "$baseline" "$pcapng" "$out/report.txt"; keep old-pcapng
    fi
  done
  row report "$n" "$bytes" "${T[report,$n]}" "${R[report,$n]}"
  row steps "$n" "$bytes" "${T[steps,$n]}" "${R[steps,$n]}"
  row picture "$n" "$bytes" "${T[picture,$n]}" "${R[picture,$n]}"
  row summary "$n" "$bytes" "${T[summary,$n]}" "${R[summary,$n]}"
  row json "$n" "$bytes" "${T[json,$n]}" "${R[json,$n]}"
  row findings "$n" "$bytes" "${T[findings,$n]}" "${R[findings,$n]}"
  row "I/O floor" "$n" "$bytes" "${T[floor,$n]}" "${R[floor,$n]}"
  row "awk cut" "$n" "$bytes" "${T[awk,$n]}" "${R[awk,$n]}"
  echo "           report: $(stat -c %s "$out/report.keep") bytes, picture: ${S[$n]} bytes, JSON Lines: ${J[$n]} bytes"
  row pcapng "$n" "$usb_bytes" "${T[pcapng,$n]}" "${R[pcapng,$n]}"
  row "pcapng I/O" "$n" "$usb_bytes" "${T[usbfloor,$n]}" "${R[usbfloor,$n]}"
  row "pcapng pipe" "$n" "$usb_bytes" "${T[pipe,$n]}" "${R[pipe,$n]}"
  echo "           pcapng: $usb_bytes bytes, report: $(stat -c %s "$out/usb-report.keep") bytes"
  if [[ -n $baseline ]]; then
    for mode in report steps picture summary json pcapng; do
      row "old $mode" "$n" "$([[ $mode == pcapng ]] && echo "$usb_bytes" || echo "$bytes")" "${T[old-$mode,$n]}" "${R[old-$mode,$n]}"
    done
  fi
done
# Every file the piped run opens for writing, by strace: the dest alone.
rm -f "$out/report.txt"
strace -f -qq -e trace=open,openat,creat -o "$out/strace.txt" "$vornlog" - "$out/report.txt" \
  < <(cat "$out/capture-$small.pcapng") >/dev/null
written=$(grep -E 'O_WRONLY|O_RDWR|O_CREAT|O_TMPFILE|creat\(' "$out/strace.txt" | grep -v '= -1' |
  grep -v -F "\"$out/report.txt\"" | grep -v -F '"/dev/null"' || true)
rm -f "$out/report.keep" "$out/usb-report.keep" "$out/report.txt" "$out/copy.txt" "$out/summary.txt" "$out/json.jsonl"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v limit="$2" 'BEGIN { print (r <= limit ? "held" : "MISSED") }'; }

echo

r=$(ratio "${T[report,$big]}" "${T[floor,$big]}")
echo "report / I/O floor at $big lines:   $r   (target <= 2: $(verdict "$r" 2))"
r=$(ratio "${T[steps,$big]}" "${T[awk,$big]}")
echo "steps / awk cut at $big lines:      $r   (target <= 1: $(verdict "$r" 1))"
r=$(ratio "${T[picture,$big]}" "${T[steps,$big]}")
echo "picture / steps at $big lines:      $r   (target <= 2: $(verdict "$r" 2))"
echo "picture SVG at $big lines: ${S[$big]} bytes (target < 10 MB: $(awk -v s="${S[$big]}" 'BEGIN { print (s < 10e6 ? "held" : "MISSED") }'))"
r=$(ratio "${T[summary,$big]}" "${T[report,$big]}")
echo "summary / report at $big lines:     $r   (target <= 1: $(verdict "$r" 1))"
mib=$(awk -v k="${R[summary,$big]}" 'BEGIN { printf "%.2f", k / 1024 }')
echo "summary peak RSS: $mib MiB at $big lines (target < 16 MiB: $(awk -v m="$mib" 'BEGIN { print (m < 16 ? "held" : "MISSED") }'))"
r=$(ratio "${T[json,$big]}" "${T[report,$big]}")
echo "json / report at $big lines:        $r   (target <= 1.5: $(verdict "$r" 1.5))"
mib=$(awk -v k="${R[json,$big]}" 'BEGIN { printf "%.2f", k / 1024 }')
echo "json peak RSS: $mib MiB at $big lines (target < 8 MiB: $(awk -v m="$mib" 'BEGIN { print (m < 8 ? "held" : "MISSED") }'))"
r=$(ratio "${T[findings,$big]}" "${T[summary,$big]}")
echo "findings / summary at $big lines:   $r   (target <= 1: $(verdict "$r" 1))"
mib=$(awk -v k="${R[findings,$big]}" 'BEGIN { printf "%.2f", k / 1024 }')
echo "findings peak RSS: $mib MiB at $big lines (target < 8 MiB: $(awk -v m="$mib" 'BEGIN { print (m < 8 ? "held" : "MISSED") }'))"
r=$(ratio "${T[pcapng,$big]}" "${T[report,$big]}")
echo "pcapng / text report at $big:      $r   (target <= 1: $(verdict "$r" 1))"
r=$(ratio "${T[pcapng,$big]}" "${T[usbfloor,$big]}")
echo "pcapng / pcapng I/O at $big:       $r   (target <= 1.25: $(verdict "$r" 1.25))"
mib=$(awk -v k="${R[pipe,$big]}" 'BEGIN { printf "%.2f", k / 1024 }')
echo "pcapng pipe peak RSS: $mib MiB at $big, $(awk -v k="${R[pipe,$small]}" 'BEGIN { printf "%.2f", k / 1024 }') MiB at $small" \
  "(target < 8 MiB: $(awk -v m="$mib" 'BEGIN { print (m < 8 ? "held" : "MISSED") }'))"
if [[ -z $written ]]; then
  echo "pcapng pipe files written: the dest alone (held)"
else
  echo "pcapng pipe files written beside the dest (MISSED):"
  echo "$written"
fi
if [[ -n $baseline ]]; then
  for mode in report steps picture summary json pcapng; do
    r=$(ratio "${T[$mode,$big]}" "${T[old-$mode,$big]}")
    echo "$mode / baseline at $big:  $r   (target <= 1, within the noise: $(verdict "$r" 1.05))"
  done
fi
# "The same": the peak may differ by what a small capture leaves of the
# 256 KiB input and output buffers untouched, never by more.
for mode in report steps pcapng; do
  mib=$(awk -v k="${R[$mode,$big]}" 'BEGIN { printf "%.2f", k / 1024 }')
  grow=$(awk -v a="${R[$mode,$big]}" -v b="${R[$mode,$small]}" 'BEGIN { printf "%d", a - b }')
  echo "$mode peak RSS: $mib MiB at $big lines, $(awk -v k="${R[$mode,$small]}" 'BEGIN { printf "%.2f", k / 1024 }') MiB at $small lines" \
    "(target < 8 MiB and the same: $(awk -v m="$mib" -v g="$grow" 'BEGIN { print (m < 8 && g < 512 ? "held" : "MISSED") }'))"
done
if ((${#sizes[@]} >= 2)); then
  mid=${sizes[-2]}
  for mode in report steps; do
    a=$(awk -v t="${T[$mode,$mid]}" -v n="$mid" 'BEGIN { printf "%.3f", t / n * 1e6 }')
    b=$(awk -v t="${T[$mode,$big]}" -v n="$big" 'BEGIN { printf "%.3f", t / n * 1e6 }')
    r=$(ratio "$b" "$a")
    echo "$mode time per line: $a us at $mid lines, $b us at $big lines, ratio $r" \
      "(linear: $(awk -v r="$r" 'BEGIN { print (r < 1.25 ? "held" : "MISSED") }'))"
  done
fi
