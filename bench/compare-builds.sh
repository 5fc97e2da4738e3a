#!/usr/bin/env bash
# Compares two builds of vornlog run for run: for every input and every
# mode, the dest file, standard output, standard error and exit status
# must be the same bytes.
#
#   bash bench/compare-builds.sh OLD/vornlog NEW/vornlog [RANDOM_COUNT]
#
# Inputs: the examples, the USB and Windows fixtures, the fuzz seeds, a
# slice of each fuzz corpus, RANDOM_COUNT (50) random text dumps
# (bench/random_captures.py) and two benchmark captures as text dump and
# pcapng. Modes: the report (plain and -v), -s, -p, -t, -j, -w with a fixed
# page, -i in three spellings with the modes that list messages and with
# -s and -p, --fail-on with each mode that decodes (the findings made from
# the writer's decoding), -d on the USB captures, -q, and dest "-". Each program is
# copied into a folder of its own with the same fixed viewer page, so that
# both find the same one. A -w page's compressed capture is compared by
# the bytes it inflates to (how they are compressed may change from build
# to build). Prints the runs that differ and a count; exits 1 when any
# does.
set -euo pipefail
cd "$(dirname "$0")/.."
old=$(realpath "$1")
new=$(realpath "$2")
count=${3:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

page='<html><body>fixed page
<script type="application/octet-stream" id="capture" data-name="" data-device=""></script>
</body></html>'
for side in old new; do
  mkdir -p "$work/$side/bin" "$work/$side/viewer"
  cp "${!side}" "$work/$side/bin/vornlog"
  printf '%s\n' "$page" > "$work/$side/viewer/vornlog-viewer.html"
done
# No viewer opens at the end of a run.
mkdir -p "$work/path"
printf '#!/bin/sh\nexit 0\n' > "$work/path/xdg-open"
chmod +x "$work/path/xdg-open"
export PATH="$work/path:$PATH"

in="$work/in"
mkdir -p "$in"
python3 bench/random_captures.py "$count" "$in"
g++ -O2 -std=c++20 bench/make_capture.cpp -o "$work/make_capture"
"$work/make_capture" 3000 "$in/bench-3000.txt" "$in/bench-3000.pcapng"
"$work/make_capture" 777 "$in/bench-777.txt" "$in/bench-777.pcapng"
cp examples/* "$in/"
for f in tests/fuzz/seeds/*; do cp "$f" "$in/seed-$(basename "$f")"; done
for f in tests/usb/captures/* tests/windows/captures/*; do
  [[ -f $f ]] && cp "$f" "$in/$(basename "$(dirname "$(dirname "$f")")")-$(basename "$f")"
done
for d in tests/fuzz/corpus/*; do
  ls "$d" | sort | awk 'NR % 12 == 1' | while read -r f; do cp "$d/$f" "$in/corpus-$(basename "$d")-$f"; done
done

modes=("" "-v" "-s" "-p" "-t" "-j" "-w" "-q" "-i D" "-iM,P,G" "-i 0x44" "-v -i D" "-t -i D"
       "-t -iM,P,G" "-j -i D" "-j -i 0x44,0x53" "-s -i D" "-p -i S" "-w -i D" "-q -t"
       "--fail-on=any" "-j --fail-on=any" "-t --fail-on=any" "-s --fail-on=any" "-p --fail-on=stop"
       "-e --fail-on=any" "-j -i D --fail-on=any" "-t -i D --fail-on=any")
usb_modes=("-d 1.7" "-t -d 1.7" "-j -d 1.7" "-d 9.9" "-s -d 1.7" "-i D -d 1.7")

# A -w page (FILE) with its compressed capture replaced by the bytes it
# inflates to (parts each behind its length, or one zlib stream).
viewer_tests=$PWD/tests/viewer
inflated_page() {
  python3 - "$viewer_tests" "$1" <<'PY'
import sys, zlib
sys.path.insert(0, sys.argv[1])
from page_capture import compressed_capture, inflate_parts, with_capture
page = open(sys.argv[2], encoding="utf-8", errors="surrogateescape").read()
if 'data-encoding="deflate"' in page:
    stream = compressed_capture(page)
    try:
        data = inflate_parts(stream)
    except ValueError:
        data = zlib.decompress(stream)
    open(sys.argv[2], "w", encoding="utf-8", errors="surrogateescape").write(with_capture(page, data))
PY
}

runs=0
differ=0
one() { # mode-words... -- file dest
  local args=() dest
  while [[ $1 != -- ]]; do args+=("$1"); shift; done
  shift
  local file=$1 dest=$2
  for side in old new; do
    rm -f "$work/dest"
    (cd "$work" && "$work/$side/bin/vornlog" "${args[@]}" "$file" "$dest" \
      > "$work/$side.out" 2> "$work/$side.err" < /dev/null; echo $? > "$work/$side.rc") || true
    if [[ $dest == - ]]; then : > "$work/$side.dest"; else mv "$work/dest" "$work/$side.dest" 2>/dev/null || : > "$work/$side.dest"; fi
    if [[ " ${args[*]} " == *" -w "* ]]; then
      inflated_page "$work/$side.dest"
      inflated_page "$work/$side.out"
    fi
  done
  runs=$((runs + 1))
  local what
  for what in dest out err rc; do
    if ! cmp -s "$work/old.$what" "$work/new.$what"; then
      differ=$((differ + 1))
      echo "DIFFERS ($what): vornlog ${args[*]} $(basename "$file") $dest"
      return
    fi
  done
}

for file in "$in"/*; do
  for mode in "${modes[@]}"; do
    # shellcheck disable=SC2086
    one -n $mode -- "$file" dest
  done
  one -n -- "$file" -
  one -n -j -- "$file" -
  case $file in
    *.pcap | *.pcapng)
      for mode in "${usb_modes[@]}"; do
        # shellcheck disable=SC2086
        one -n $mode -- "$file" dest
      done
      ;;
  esac
done
one -- "$in/session.txt" dest
one -n -- "$work/no such file" dest
one -n -- "$in/session.txt" "$work/no/such/folder/dest"
one -n -- - dest
echo "$runs runs, $differ differ"
((differ == 0))
