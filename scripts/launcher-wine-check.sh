#!/usr/bin/env bash
# Builds VornlogRun.exe and vornlog.exe with MinGW-w64, runs the launcher
# core's tests as a Windows program under Wine, and drives the launcher
# under Wine and Xvfb as a person would: tick "Data", click
# "Lancer Vornlog", type the capture's and the report's names into the
# Windows file dialogs, answer the question "Tri" with Yes. The report must
# be the Linux one with "\r\n" line ends, the sorted copy must hold exactly
# the lines before the first PC message and the Data blocks, replace last
# session's copy and be shown in the system's Notepad (never in a
# notepad.exe lying in the user's folder), and a screenshot of the window
# read back by French OCR must show its labels. A second run on a capture
# the decoder refuses must show the decoder's message in the error box and
# make no sorted copy. Every step has a time limit: a hung dialog fails the
# check. Run as root on Debian 12.
set -euo pipefail
# The whole drive has a time limit too; being stopped still cleans up.
if [[ -z ${VORNLOG_DRIVE_LIMITED:-} ]]; then
  VORNLOG_DRIVE_LIMITED=1 exec timeout -k 10 "${VORNLOG_DRIVE_LIMIT:-3600}" bash "$0" "$@"
fi
trap 'exit 1' TERM INT
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh g++-mingw-w64-x86-64 wine64 xvfb xdotool imagemagick tesseract-ocr tesseract-ocr-fra
source scripts/xdrive.sh
source scripts/wine.sh

echo "== Linux vornlog (reference)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target vornlog -j2 >/dev/null

echo "== VornlogRun.exe and vornlog.exe (MinGW-w64)"
bash scripts/windows-build.sh
launcher_exe=$root/build-windows/launcher/VornlogRun.exe
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# A GUI program that needs nothing beyond Windows' own DLLs.
headers=$(x86_64-w64-mingw32-objdump -p "$launcher_exe")
imports=$(sed -n 's/.*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
[[ $imports == "comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll user32.dll " ]] ||
  fail "VornlogRun.exe needs DLLs beyond Windows' own: $imports"
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" ||
  fail "VornlogRun.exe is not a GUI program"

# Screenshots and logs stay in the build folder for a look after a failure.
work=$root/build-windows/launcher-wine-drive
rm -rf "$work"
mkdir -p "$work"
xdrive_dir=$work
export LC_ALL=C.UTF-8
launcher_pid=
cleanup() {
  local status=$?
  # A drive stopped by a failed wait still says what the launcher and Wine
  # printed.
  if ((status)) && [[ -s $work/launcher.log ]]; then
    echo "   the launcher's console, Wine's messages included:" >&2
    sed 's/^/   | /' "$work/launcher.log" | tail -n 60 >&2
  fi
  [[ -n $launcher_pid ]] && kill "$launcher_pid" 2>/dev/null || true
  wine_stop
  stop_xvfb
  rm -rf "$work/prefix"
}
trap cleanup EXIT

# The prefix and its one wineserver (see scripts/wine.sh), on the check's
# own X display from the start: the session that the launcher's windows
# need is the one the prefix was made in.
echo "== Wine prefix"
start_xvfb "$work"
wine_start "$work"

echo "== The launcher core's tests under Wine"
cmake -S tests/launcher/windows -B build-windows/core-tests -DCMAKE_SYSTEM_NAME=Windows \
  -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++-posix \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
if cmake --build build-windows/core-tests -j2 2>&1 | grep -E 'warning:|error:'; then
  fail "the launcher core's tests do not build warning-free for Windows"
fi
mkdir -p "$work/core-tests"
if ! (cd "$work/core-tests" && w core-tests "$root/build-windows/core-tests/launcher_core_tests.exe" \
      >"$work/core-tests.log" 2>&1); then
  grep -E 'FAILED|Failure' "$work/core-tests.log" >&2 || tail -20 "$work/core-tests.log" >&2
  fail "the launcher core's tests fail on Windows"
fi
grep -E '^\[  PASSED  \]' "$work/core-tests.log" | sed 's/^/   /'

# The folder of a user: both programs, the capture and last session's
# sorted copy. Notepad is a probe that records its arguments, in the system
# folder; another copy lies in the user's folder, where a program started
# by its bare name would be found first, and must never run.
win=$work/vornlog
mkdir -p "$win"
cp "$launcher_exe" "$root/build-windows/decoder/vornlog.exe" "$win/"
system32=$WINEPREFIX/drive_c/windows/system32
x86_64-w64-mingw32-g++ -std=c++20 -O2 -Wall -Wextra -static -o "$win/notepad.exe" \
  tests/windows/viewer_probe.cpp -lshell32
cp "$win/notepad.exe" "$system32/notepad.exe"
cp examples/session.txt "$win/session.txt"
printf 'last session\r\n' >"$win/rapportTrié.txt"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Wine takes keys only once it has made the window the X server just
# focused its own active one, which a busy machine can delay past the first
# keys: they are then lost (the Open dialog kept "*.txt" and stayed). A
# click is taken in turn with the keys that follow it, so every answer
# starts with a click, as a person's would: into a file dialog's name field
# (300, 304 in the 650 x 360 dialog), or on the bare left edge of a message
# box, whose default button then takes Return.
#
# A click alone did not always do (the first Open dialog of a CI run kept
# "*.txt" for 300 s), so a file name is typed only once the field shows
# that it takes keys: "qq" is put at its end, again while the field read by
# OCR does not show it, and only then is the field's whole text replaced by
# the name and Return pressed. Keys after one that the field has shown are
# taken in turn, and the name is typed once: a Return that reached the
# dialog late can never meet a second name.
name_field() { # the name field of dialog $1, read by OCR (screenshot $2.png)
  shot -window "$1" "$2.png"
  convert "$2.png" -crop 312x22+216+293 +repage -resize 400% -colorspace Gray "$2-read.png"
  ocr "$2-read.png" - --psm 7 2>/dev/null || true
  rm -f "$2-read.png"
}
file_name_in() {
  local start=$SECONDS read
  xdo windowfocus --sync "$1" 2>/dev/null || true
  while :; do
    click_in "$1" 300 304
    xdo key End
    xdo type --delay 20 qq
    read=$(name_field "$1" "$work/name-field")
    grep -q qq <<<"$read" && break
    if ((SECONDS - start >= wait_limit)); then
      echo "FAIL: the name field of window $1 did not take keys within ${wait_limit}s (it reads \"$read\")" >&2
      screen_said "name-field-$1"
      return 1
    fi
  done
  xdo key Home shift+End
  xdo type --delay 20 "$2"
  xdo key Return
  wait_gone "$1"
}
answer_box() {
  xdo windowfocus --sync "$1" 2>/dev/null || true
  click_in "$1" 4 4
  xdo key Return
  wait_gone "$1"
}

# (Its time limit is the drive's: only a hang reaches it.)
(cd "$win" && exec timeout -k 5 1200 "$wine" VornlogRun.exe >"$work/launcher.log" 2>&1 {wine_log}>&-) &
launcher_pid=$!

echo "== Drive"
main=$(wait_window '^Vornlog launcher$')
ocr_until "$main" "$work/window" "Lancement du programme DOS VORNLOG" "Lancer Vornlog" \
  "Garder toutes les instructions" "image SVG" "Fichier de sortie" >"$work/window.txt"
for label in "Lancement du programme DOS VORNLOG" "Lancer Vornlog" "Garder toutes les instructions" \
  "image SVG" "Fichier de sortie"; do
  grep -qF "$label" "$work/window.txt" || fail "the window read by OCR does not show \"$label\""
done

# The information line shows while the mouse is over the title, and hides
# over the bare window.
xdo mousemove --window "$main" 288 30
info=$(ocr_quick_until "$main" "$work/info" 'juin 2012' present)
grep -q 'juin 2012' <<<"$info" || fail "the information line does not show over the title"
xdo mousemove --window "$main" 20 300
info=$(ocr_quick_until "$main" "$work/no-info" 'juin 2012' absent)
grep -q 'juin 2012' <<<"$info" && fail "the information line stays over the bare window"

# Places in pixels, from the window's table (15 twips to a pixel), with its
# six output options: the box "Data" at 480, 7320 twips and "Lancer Vornlog"
# at 3480, 10080 (1695 x 495). An output option more moves both down.
click_in "$main" 40 496
click_in "$main" 288 688

# Wine's own dialogs, named in the language of the system.
dialog=$(wait_window '^(Open|Ouvrir)$')
file_name_in "$dialog" "$(winpath "$win/session.txt")"
dialog=$(wait_window '^(Save As|Enregistrer sous)$')
file_name_in "$dialog" "$(winpath "$win/rapport.txt")"

question=$(wait_window '^Tri$')
answer_box "$question"

# The sorted copy, shown in Notepad once written.
sorted_windows=$(winpath "$win/rapportTrié.txt")
for _ in $(seq 1 600); do
  grep -qF "rapportTri" "$system32/notepad.log" 2>/dev/null && break
  sleep 0.2
done
grep -qxF "1	$sorted_windows" "$system32/notepad.log" 2>/dev/null ||
  fail "Notepad was not started with the sorted copy: $(cat "$system32/notepad.log" 2>/dev/null)"
compgen -G "$win/*.part" >/dev/null && fail "a part file was left beside the sorted copy: $(ls "$win")"

# A second run on a capture the decoder refuses (a pcap of Ethernet
# frames): its message in the error box, and no sorted copy.
printf '\xd4\xc3\xb2\xa1\x02\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x04\x00\x01\x00\x00\x00' \
  >"$win/ether.txt"
click_in "$main" 288 688
dialog=$(wait_window '^(Open|Ouvrir)$')
file_name_in "$dialog" "$(winpath "$win/ether.txt")"
dialog=$(wait_window '^(Save As|Enregistrer sous)$')
file_name_in "$dialog" "$(winpath "$win/refus.txt")"
question=$(wait_window '^Tri$')
answer_box "$question"
if box=$(wait_window '^VornlogRun$'); then
  ocr_until "$box" "$work/error-box" "USB interface" "ether.txt" >"$work/error-box.txt"
  grep -qF "USB interface" "$work/error-box.txt" && grep -qF "ether.txt" "$work/error-box.txt" ||
    fail "the error box read by OCR does not show the decoder's message: $(tr '\n' ' ' <"$work/error-box.txt")"
  # The box is the run's last step: once it has taken its answer, the
  # launcher has made all it would make; a Notepad it started has ended.
  answer_box "$box" || fail "the error box did not take its answer"
  started=$SECONDS
  while wine_running notepad.exe && ((SECONDS - started < 120)); do sleep 0.2; done
else
  fail "no error box after a refused capture"
fi
[[ -e "$win/refusTrié.txt" ]] && fail "a sorted copy was made after the decoder failed"
grep -qF "refus" "$system32/notepad.log" && fail "Notepad was started after the decoder failed"
[[ -e $win/notepad.log ]] && fail "the notepad.exe in the user's folder was started: $(cat "$win/notepad.log")"

# The report of the Linux build, with "\r\n" line ends; the sorted copy by
# an awk of its own: a PC line starts a block, kept when its code is 44.
mkdir -p "$work/linux" "$work/bin"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
cp examples/session.txt "$work/linux/session.txt"
(cd "$work/linux" && PATH="$work/bin:$PATH" timeout 60 "$root/build/decoder/vornlog" -s -v session.txt ref.txt \
  >/dev/null)
perl -0777 -pe 's/\n/\r\n/g' "$work/linux/ref.txt" >"$work/expected-report.txt"
cmp -s "$work/expected-report.txt" "$win/rapport.txt" ||
  fail "the report written under Wine is not the Linux one with \"\\r\\n\" line ends"
awk 'BEGIN { keep = 1 } /^PC/ { keep = (toupper(substr($0, 11, 2)) == "44") } keep' "$work/expected-report.txt" \
  >"$work/expected-sorted.txt"
grep -q '^PC     :  44' "$work/expected-sorted.txt" || fail "the sample holds no Data message"
cmp -s "$work/expected-sorted.txt" "$win/rapportTrié.txt" || fail "the sorted copy does not hold exactly the Data blocks"

if ((failures)); then
  echo "Wine launcher drive: $failures failures (screenshots and OCR in $work)" >&2
  exit 1
fi
echo "Wine launcher drive passed: French window, report and sorted copy as on Linux, the system's Notepad, the decoder's message after a refused capture"
