#!/usr/bin/env bash
# The hardening check, run by CI after the tests:
#   1. every test again, built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (any report stops the test that made it);
#   2. bounded fuzzing of the report, the steps CSV and the picture (FUZZ_SECONDS
#      each, 120 by default) from the seed captures, the saved findings,
#      the sample capture and the test captures; then the USB capture
#      reader (pcap, pcapng) on its own, USB_FUZZ_SECONDS (60), from the
#      USB capture fixtures;
#   3. the fast targets (one output each, decoded once from memory),
#      FAST_FUZZ_SECONDS (20) each, from the corpus kept in tests/fuzz/corpus/;
#   4. the Wireshark dissector through tshark on random controller payloads
#      of every code and every length: no Lua error.
# Long campaigns: scripts/fuzz-campaign.sh MINUTES.
# Anything found fails the check. A finding is kept in
# build-fuzz/findings/; replay it with build/tests/fuzz/vornlog_replay_report
# (or _steps) FILE, fix it, and add the file to tests/fuzz/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh clang libclang-rt-14-dev tshark

jobs="${JOBS:-2}"
fuzz_seconds="${FUZZ_SECONDS:-120}"
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

echo "== Tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-sanitize -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORNLOG_SANITIZE=ON -DVORNLOG_BUILD_LAUNCHER=OFF >/dev/null
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ctest --output-on-failure -j"$jobs")

echo "== Fuzzing, ${fuzz_seconds} s for each mode"
cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORNLOG_FUZZ=ON -DVORNLOG_BUILD_TESTS=OFF -DVORNLOG_BUILD_LAUNCHER=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"

# Whole captures make poor fuzz inputs: they are cut into pieces of 40 lines.
seeds=build-fuzz/seed-pieces
rm -rf "$seeds" build-fuzz/findings
mkdir -p "$seeds" build-fuzz/findings
while IFS= read -r -d '' capture; do
  if grep -qP '\t(OUT|IN)\t' "$capture"; then
    split -l 40 -d -a 4 "$capture" "$seeds/$(echo "$capture" | tr '/' '_')-"
  fi
done < <(find examples tests -name '*.txt' -not -path 'tests/fuzz/*' -print0 2>/dev/null)

for mode in report steps picture; do
  corpus="build-fuzz/corpus-$mode"
  mkdir -p "$corpus"
  echo "-- $mode: $(find "$seeds" -type f | wc -l) seed pieces"
  build-fuzz/tests/fuzz/vornlog_fuzz_$mode -dict=tests/fuzz/vornlog.dict -max_len=4096 -timeout=10 \
    -rss_limit_mb=2048 -max_total_time="$fuzz_seconds" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/findings/$mode-" \
    "$corpus" tests/fuzz/seeds tests/fuzz/regressions "$seeds" 2>"build-fuzz/fuzz-$mode.log" || {
      tail -n 60 "build-fuzz/fuzz-$mode.log"
      echo "FUZZING FOUND A FAULT in the $mode mode: see build-fuzz/findings/" >&2
      exit 1
    }
  grep -E '^(stat::number_of_executed_units|stat::new_units_added|Done)' "build-fuzz/fuzz-$mode.log" || true
done
usb_seconds="${USB_FUZZ_SECONDS:-60}"
corpus=build-fuzz/corpus-usb_capture
usb_seeds=build-fuzz/seeds-usb_capture
mkdir -p "$corpus" "$usb_seeds"
cp tests/usb/captures/* examples/session.pcapng "$usb_seeds"/
echo "-- USB capture reader: ${usb_seconds} s"
build-fuzz/tests/fuzz/vornlog_fuzz_usb_capture -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
  -max_total_time="$usb_seconds" -print_final_stats=1 -artifact_prefix="build-fuzz/findings/usb_capture-" \
  "$corpus" "$usb_seeds" 2>"build-fuzz/fuzz-usb_capture.log" || {
    tail -n 60 "build-fuzz/fuzz-usb_capture.log"
    echo "FUZZING FOUND A FAULT in the USB capture reader: see build-fuzz/findings/" >&2
    exit 1
  }
grep -E '^(stat::number_of_executed_units|stat::new_units_added|Done)' "build-fuzz/fuzz-usb_capture.log" || true

fast_seconds="${FAST_FUZZ_SECONDS:-20}"
for mode in report steps picture summary json usb; do
  corpus="build-fuzz/corpus-fast_$mode"
  mkdir -p "$corpus" "tests/fuzz/corpus/$mode"
  if [[ "$mode" == usb ]]; then
    inputs=(-dict=tests/fuzz/usb.dict -max_len=16384 "$corpus" tests/fuzz/corpus/usb tests/fuzz/regressions-usb "$usb_seeds")
  else
    inputs=(-dict=tests/fuzz/vornlog.dict -max_len=4096 "$corpus" "tests/fuzz/corpus/$mode" tests/fuzz/seeds tests/fuzz/regressions)
  fi
  echo "-- fast $mode: ${fast_seconds} s"
  build-fuzz/tests/fuzz/vornlog_fuzz_fast_$mode -timeout=10 -rss_limit_mb=2048 -max_total_time="$fast_seconds" \
    -print_final_stats=1 -artifact_prefix="build-fuzz/findings/fast_$mode-" "${inputs[@]}" \
    2>"build-fuzz/fuzz-fast_$mode.log" || {
      tail -n 60 "build-fuzz/fuzz-fast_$mode.log"
      echo "FUZZING FOUND A FAULT in the fast $mode target: see build-fuzz/findings/" >&2
      exit 1
    }
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "build-fuzz/fuzz-fast_$mode.log" || true
done

echo "== The Wireshark dissector on random controller payloads"
seed=$(( $(date +%s) % 100000 ))
echo "seed $seed"
python3 tests/wireshark/dissector_fuzz.py build-fuzz/wireshark/qmr5v.lua "$seed" 90
echo "== Hardening check passed"
