#!/usr/bin/env bash
# A fuzzing campaign: every fuzz target runs MINUTES minutes of wall time,
# all at once and at the lowest priority (the machine stays usable), from
# the corpus kept in tests/fuzz/corpus/, the seeds and the saved findings.
# At the end it prints, for each target, the executions a second of wall
# time and of its own processor time (the targets share the cores, so the
# second is the target's speed alone), the coverage (edges, features), the
# corpus size and the findings.
#   bash scripts/fuzz-campaign.sh 60        # an hour
#   TARGETS="fast_report fast_usb" bash scripts/fuzz-campaign.sh 10
#   MERGE=1 ...: the campaign's corpus minimised back into tests/fuzz/corpus/
# Everything it writes is under build-fuzz/campaign/; a finding is kept in
# build-fuzz/campaign/findings/ and makes the exit status 1.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:?usage: fuzz-campaign.sh MINUTES}"
[[ "$minutes" =~ ^[0-9]+$ ]] || { echo "MINUTES must be a whole number" >&2; exit 2; }
bash scripts/deps.sh clang libclang-rt-14-dev time
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORNLOG_FUZZ=ON -DVORNLOG_BUILD_TESTS=OFF -DVORNLOG_BUILD_LAUNCHER=OFF >/dev/null
nice -n 19 cmake --build build-fuzz -j"${JOBS:-2}" >/dev/null

targets="${TARGETS:-fast_report fast_steps fast_picture fast_summary fast_json fast_usb fast_findings report steps picture usb_capture}"
out=build-fuzz/campaign
mkdir -p "$out/findings"

# The text dump seeds, cut into pieces of 40 lines (whole captures make
# poor fuzz inputs); the USB seeds are the capture fixtures.
text_seeds="$out/text-seeds" usb_seeds="$out/usb-seeds"
rm -rf "$text_seeds" "$usb_seeds"
mkdir -p "$text_seeds" "$usb_seeds"
while IFS= read -r -d '' capture; do
  if grep -qP '\t(OUT|IN)\t' "$capture"; then
    split -l 40 -d -a 4 "$capture" "$text_seeds/$(echo "$capture" | tr '/' '_')-"
  fi
done < <(find examples tests -name '*.txt' -not -path 'tests/fuzz/*' -print0 2>/dev/null)
cp tests/usb/captures/* examples/session.pcapng "$usb_seeds"/

seconds=$((minutes * 60))
pids=()
for target in $targets; do
  mode="${target#fast_}"
  [[ "$target" == usb_capture ]] && mode=usb
  corpus="$out/corpus-$target"
  mkdir -p "$corpus" "tests/fuzz/corpus/$mode"
  if [[ "$mode" == usb ]]; then
    args=(-dict=tests/fuzz/usb.dict -max_len=16384 "$corpus" "tests/fuzz/corpus/$mode" tests/fuzz/regressions-usb "$usb_seeds")
  else
    args=(-dict=tests/fuzz/vornlog.dict -max_len=4096 "$corpus" "tests/fuzz/corpus/$mode" tests/fuzz/seeds tests/fuzz/regressions "$text_seeds")
  fi
  # A target stops at its first finding (kept in findings/); the others
  # go on. New inputs go to the campaign's corpus, the first folder named.
  nice -n 19 /usr/bin/time -f "%U %S" -o "$out/$target.cpu" \
    "build-fuzz/tests/fuzz/vornlog_fuzz_$target" -timeout=10 -rss_limit_mb=2048 \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/findings/$target-" \
    "${args[@]}" >"$out/$target.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

printf '%-14s %12s %10s %12s %8s %8s %8s %s\n' target executions exec/s exec/cpu-s cov ft corpus findings
for target in $targets; do
  log="$out/$target.log"
  runs=$(grep -oP '^stat::number_of_executed_units:\s+\K\d+' "$log" || echo "?")
  rate=$(grep -oP '^stat::average_exec_per_sec:\s+\K\d+' "$log" || echo "?")
  last=$(grep -P '^#\d+\s' "$log" | tail -n 1)
  cov=$(grep -oP 'cov: \K\d+' <<<"$last" || echo "?")
  ft=$(grep -oP 'ft: \K\d+' <<<"$last" || echo "?")
  corpus=$(find "$out/corpus-$target" -type f | wc -l)
  found=$(find "$out/findings" -name "$target-*" -type f | wc -l)
  cpu=$(tail -n 1 "$out/$target.cpu" 2>/dev/null | awk '{ print $1 + $2 }')
  per_cpu=$(awk -v r="$runs" -v c="$cpu" 'BEGIN { if (c > 0 && r ~ /^[0-9]+$/) printf "%d", r / c; else print "?" }')
  printf '%-14s %12s %10s %12s %8s %8s %8s %s\n' "$target" "$runs" "$rate" "$per_cpu" "$cov" "$ft" "$corpus" "$found"
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

if [[ "${MERGE:-0}" == 1 ]]; then
  for target in $targets; do
    [[ "$target" == fast_* ]] || continue
    mode="${target#fast_}"
    dict=tests/fuzz/vornlog.dict
    [[ "$mode" == usb ]] && dict=tests/fuzz/usb.dict
    kept="$out/merged-$mode"
    rm -rf "$kept" && mkdir -p "$kept"
    nice -n 19 "build-fuzz/tests/fuzz/vornlog_fuzz_$target" -merge=1 -dict="$dict" "$kept" \
      "tests/fuzz/corpus/$mode" "$out/corpus-$target" >/dev/null 2>&1
    rm -rf "tests/fuzz/corpus/$mode" && mv "$kept" "tests/fuzz/corpus/$mode"
    echo "tests/fuzz/corpus/$mode: $(find "tests/fuzz/corpus/$mode" -type f | wc -l) inputs"
  done
fi
if [[ "$status" != 0 || -n "$(ls -A "$out/findings")" ]]; then
  echo "THE CAMPAIGN FOUND FAULTS: see $out/findings/ and $out/*.log" >&2
  exit 1
fi
echo "No finding."
