#!/usr/bin/env bash
# Drives the Qt launcher under Xvfb as a person would, on an English system:
# tick "Data", click "Lancer Vornlog", type the capture's and the report's
# names into Qt's file dialogs, answer the question "Tri" with Yes. The
# dialogs and the question must speak French (read back by OCR), the report
# must be the decoder's own and the sorted copy must hold exactly the lines
# before the first PC message and the Data blocks. Every step has a time
# limit: a hung dialog fails the check. Run as root on Debian 12.
set -euo pipefail
# The whole drive has a time limit too; being stopped still cleans up.
if [[ -z ${VORNLOG_DRIVE_LIMITED:-} ]]; then
  VORNLOG_DRIVE_LIMITED=1 exec timeout -k 10 "${VORNLOG_DRIVE_LIMIT:-3600}" bash "$0" "$@"
fi
trap 'exit 1' TERM INT
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh xvfb xdotool imagemagick tesseract-ocr tesseract-ocr-fra qt6-translations-l10n
source scripts/xdrive.sh

echo "== VornlogRun (Qt)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target VornlogRun vornlog -j2 >/dev/null

# Screenshots and logs stay in the build folder for a look after a failure.
work=$root/build/launcher-qt-drive
rm -rf "$work"
mkdir -p "$work"
xdrive_dir=$work
launcher_pid=
cleanup() {
  [[ -n $launcher_pid ]] && kill "$launcher_pid" 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The viewer: a do-nothing xdg-open that records what it was asked to show.
mkdir -p "$work/bin" "$work/captures" "$work/sortie"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"%s/viewer.log"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
cp examples/session.txt "$work/captures/session.txt"

start_xvfb "$work"
# An English system: the French comes from the launcher itself.
LC_ALL=C LANG=C LANGUAGE= PATH="$root/build/decoder:$work/bin:$PATH" QT_QPA_PLATFORM=xcb \
  timeout -k 5 1200 build/launcher/VornlogRun >"$work/launcher.log" 2>&1 &
launcher_pid=$!

main=$(wait_window '^Vornlog launcher$')
# Places in pixels, from the window's table (15 twips to a pixel), with its
# six output options: the box "Data" at 480, 7320 twips and "Lancer Vornlog"
# at 3480, 10080 (1695 x 495). An output option more moves both down.
click_in "$main" 62 496
click_in "$main" 288 688

dialog=$(wait_new_window "$main")
ocr_until "$dialog" "$work/open" 'Annuler' >"$work/open.txt" || true
grep -q 'Annuler' "$work/open.txt" || fail "the capture dialog does not say \"Annuler\": $(tr '\n' ' ' <"$work/open.txt")"
grep -qi 'Cancel' "$work/open.txt" && fail "the capture dialog says \"Cancel\""
type_in "$dialog" "$work/captures/session.txt"

# The report's dialog, once the capture's has gone.
wait_gone "$dialog" || fail "the capture dialog did not take the capture's name"
dialog=$(wait_new_window "$main" "$dialog")
type_in "$dialog" "$work/sortie/rapport.txt"

question=$(wait_window '^Tri$')
ocr_until "$question" "$work/tri" 'Oui' 'Non' >"$work/tri.txt" || true
grep -q 'Oui' "$work/tri.txt" || fail "the question \"Tri\" offers no \"Oui\": $(tr '\n' ' ' <"$work/tri.txt")"
grep -q 'Non' "$work/tri.txt" || fail "the question \"Tri\" offers no \"Non\""
grep -qwE 'Yes|No' "$work/tri.txt" && fail "the question \"Tri\" speaks English"
xdo windowfocus --sync "$question" 2>/dev/null || true
xdo key Return

# The sorted copy, shown in the viewer once written.
sorted=$work/sortie/rapportTrié.txt
for _ in $(seq 1 600); do
    [[ -f $sorted ]] && grep -q 'rapportTri' "$work/viewer.log" 2>/dev/null && break
  sleep 0.2
done
# The desktop hands the viewer a file URL.
sed 's|^file://||; s|%C3%A9|é|g' "$work/viewer.log" 2>/dev/null | grep -qxF "$sorted" ||
  fail "the sorted copy was not shown in the viewer"

# The report as the decoder writes it by hand; the sorted copy by an awk
# of its own: a PC line starts a block, kept when its code is 44 (Data).
(cd "$work/captures" && PATH="$work/bin:$PATH" timeout 60 "$root/build/decoder/vornlog" -v session.txt ref.txt \
  >/dev/null)
cmp -s "$work/captures/ref.txt" "$work/sortie/rapport.txt" || fail "the launcher's report is not the decoder's"
awk 'BEGIN { keep = 1 } /^PC/ { keep = (toupper(substr($0, 11, 2)) == "44") } keep' "$work/captures/ref.txt" \
  >"$work/expected-sorted.txt"
grep -q '^PC     :  44' "$work/expected-sorted.txt" || fail "the sample holds no Data message"
cmp -s "$work/expected-sorted.txt" "$sorted" || fail "the sorted copy does not hold exactly the Data blocks"

kill "$launcher_pid" 2>/dev/null || true
if ((failures)); then
  echo "Qt launcher drive: $failures failures (screenshots and OCR in $work)" >&2
  exit 1
fi
echo "Qt launcher drive passed: French dialogs and question, report and sorted copy"
