#!/usr/bin/env bash
# Builds the Windows vornlog.exe with MinGW-w64 and checks it under Wine
# against the Linux build: on the sample capture and the captures under
# tests/ (text dumps, and the pcap and pcapng USB captures), in report and
# CSV mode, each dest file must be the Linux one with
# "\r\n" line ends, and the console, the exit status and the viewer's
# argument (the dest file's full path) must match. Notepad must be the
# system's, not a notepad.exe lying beside vornlog.exe and the capture; a
# dest file that is the capture reached through another drive letter must
# be refused. A text dump and a pcapng are also fed through a pipe in
# pieces and followed (-f) as they grow, then interrupted (Ctrl-C, which
# Wine hands to the console's control handler); followed while truncated
# and written anew (-f), and while renamed or deleted and started anew by
# Windows programs (-F). The viewer page (-w) of a capture compressed on two
# threads must carry its bytes. vornlog.exe started without its standard output
# or input must fail to write or read them as on Linux. File and folder names carry
# an "é". Run as root on Debian 12: installs g++-mingw-w64-x86-64 and wine64
# when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# (--wasm: the viewer page that vornlog.exe -w fills.)
bash scripts/deps.sh --wasm g++-mingw-w64-x86-64 wine64 procps python3

echo "== Linux vornlog (reference)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target vornlog viewer_page -j2 >/dev/null
linux_exe=$root/build/decoder/vornlog

echo "== vornlog.exe (MinGW-w64)"
bash scripts/windows-build.sh
windows_exe=$root/build-windows/decoder/vornlog.exe
imports=$(x86_64-w64-mingw32-objdump -p "$windows_exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
if [[ $imports != "kernel32.dll msvcrt.dll shell32.dll " ]]; then
  echo "FAIL: vornlog.exe needs DLLs beyond Windows' own: $imports" >&2
  exit 1
fi

source scripts/wine.sh
work=$(mktemp -d)
export LC_ALL=C.UTF-8
# No display: nothing may pop up.
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  wine_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

echo "== Wine prefix"
wine_start "$work"

# The viewers: a probe that records its arguments, as Notepad in the system
# folder and as the program that opens .csv files. Another copy lies as
# notepad.exe beside vornlog.exe, in the folder it runs in: a program
# started by its bare name would be that one, and it must never run.
win="$work/win/Données é"
lin="$work/linux/Données é"
mkdir -p "$win" "$lin" "$work/bin"
system32=$WINEPREFIX/drive_c/windows/system32
x86_64-w64-mingw32-g++ -std=c++20 -O2 -Wall -Wextra -static -o "$work/csvview.exe" \
  tests/windows/viewer_probe.cpp -lshell32
cp "$work/csvview.exe" "$system32/notepad.exe"
cp "$work/csvview.exe" "$win/notepad.exe"
cp "$windows_exe" "$win/vornlog.exe"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
w reg-csv reg add 'HKCR\.csv' /ve /d VornlogCheck.csv /f >/dev/null 2>&1 &&
  w reg-csv-open reg add 'HKCR\VornlogCheck.csv\shell\open\command' /ve /d "\"$(winpath "$work/csvview.exe")\" \"%1\"" \
    /f >/dev/null 2>&1 || { echo "FAIL: the CSV viewer could not be registered" >&2; exit 1; }

# On Linux the viewer is a do-nothing xdg-open.
printf '#!/bin/sh\nexit 0\n' > "$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"

captures=()
[[ -f examples/session.txt ]] && captures+=(examples/session.txt)
while IFS= read -r -d '' f; do captures+=("$f"); done \
  < <(find tests -path '*/captures/*' -type f -name '*.txt' -print0 | sort -z)
[[ -f examples/session.pcapng ]] && captures+=(examples/session.pcapng)
while IFS= read -r -d '' f; do captures+=("$f"); done \
  < <(find tests -path '*/captures/*' -type f \( -name '*.pcap' -o -name '*.pcapng' \) -print0 | sort -z)
# A capture whose report fills many output buffers, so that vornlog.exe's
# output buffer holds only a part of it.
if [[ -f examples/session.txt ]]; then
  for _ in $(seq 1 60); do cat examples/session.txt; done >"$work/session-many.txt"
  captures+=("$work/session-many.txt")
fi
if ((${#captures[@]} == 0)); then
  echo "FAIL: no capture to check" >&2
  exit 1
fi

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
crlf() { perl -0777 -pe 's/\n/\r\n/g' "$1"; }
lf() { perl -0777 -pe 's/\r\n/\n/g' "$1"; }

# Runs one command line on both builds, each in its own folder; keeps the
# console of each in NAME.{out,err,status}. Where they differ, the Windows
# call's whole standard error (Wine's messages too) goes into the log.
both() {
  local name=$1
  shift
  (cd "$lin" && PATH="$work/bin:$PATH" timeout 300 "$linux_exe" "$@" >"$work/$name.lin.out" 2>"$work/$name.lin.err"
   echo $? >"$work/$name.lin.status") || true
  (cd "$win" && WINE_EXPECT=$(cat "$work/$name.lin.status") w "$name" ./vornlog.exe "$@" >"$work/$name.win.out" \
     2>"$work/$name.win.err"
   echo $? >"$work/$name.win.status") || true
  cmp -s "$work/$name.lin.status" "$work/$name.win.status" ||
    fail "$name: exit status $(cat "$work/$name.win.status") on Windows, $(cat "$work/$name.lin.status") on Linux"
  local stream differs=
  for stream in out err; do
    if ! cmp -s <(lf "$work/$name.win.$stream") "$work/$name.lin.$stream"; then
      fail "$name: standard $([[ $stream == out ]] && echo output || echo error) differs (< Windows, > Linux)"
      diff <(lf "$work/$name.win.$stream") "$work/$name.lin.$stream" | head -n 8 >&2 || true
      differs=1
    fi
  done
  # (A status that differs has been explained by w already.)
  if [[ -n $differs ]] && cmp -s "$work/$name.lin.status" "$work/$name.win.status"; then explain "$name"; fi
}

expected_notepad=()
expected_csv=()
i=0
for capture in "${captures[@]}"; do
  i=$((i + 1))
  dump="capture $i é.txt"
  cp "$capture" "$lin/$dump"
  cp "$capture" "$win/$dump"
  for mode in report v s; do
    case $mode in
      report) opts=() dest="rapport $i é & co.txt" ;;
      v) opts=(-v) dest="rapport $i -v é.txt" ;;
      s) opts=(-s) dest="pas $i é.csv" ;;
    esac
    both "$i-$mode" "${opts[@]}" "$dump" "$dest"
    if [[ ! -f $win/$dest ]]; then
      fail "$capture ($mode): vornlog.exe wrote no dest file"
    elif ! cmp -s <(crlf "$lin/$dest") "$win/$dest"; then
      fail "$capture ($mode): the Windows dest file is not the Linux one with CRLF line ends"
    fi
    if [[ $mode == s ]]; then
      expected_csv+=("1	$(winpath "$win/$dest")")
    else
      expected_notepad+=("1	$(winpath "$win/$dest")")
    fi
  done
  echo "   $capture: report, -v and -s"
done

echo "== Error cases"
touch "$lin/kept.txt" "$win/kept.txt"
both usage-none
both usage-one "capture 1 é.txt"
both usage-h -h "capture 1 é.txt" out.txt
both usage-x -x "capture 1 é.txt" out.txt
both missing-dump "manquant é.txt" kept.txt
both missing-dump-dest "manquant é.txt" "jamais créé.txt"
[[ -e "$win/jamais créé.txt" ]] && fail "missing dump: vornlog.exe created the dest file"
[[ -s "$win/kept.txt" ]] && fail "missing dump: vornlog.exe wrote to the dest file"
both missing-folder "capture 1 é.txt" "absent é/rapport.txt"
cp "$win/capture 1 é.txt" "$work/capture-before.txt"
both dest-is-dump "capture 1 é.txt" "./capture 1 é.txt"
cmp -s "$work/capture-before.txt" "$win/capture 1 é.txt" || fail "dest is dump: vornlog.exe changed the capture"
ln "$lin/capture 1 é.txt" "$lin/lien é.txt"
ln "$win/capture 1 é.txt" "$win/lien é.txt"
both dest-is-dump-link "capture 1 é.txt" "lien é.txt"
cmp -s "$work/capture-before.txt" "$win/capture 1 é.txt" || fail "dest is a hard link of the dump: vornlog.exe changed the capture"
# The capture's folder as drive Y: too (as SUBST or a mapped drive gives it).
ln -s "$win" "$WINEPREFIX/dosdevices/y:"
(cd "$win" && WINE_EXPECT=1 w dest-is-dump-drive ./vornlog.exe "$(winpath "$win/capture 1 é.txt")" \
   'Y:\capture 1 é.txt' >/dev/null 2>"$work/dest-is-dump-drive.win.err"
 echo $? >"$work/dest-is-dump-drive.win.status") || true
cmp -s "$work/capture-before.txt" "$win/capture 1 é.txt" ||
  fail "dest is the dump through another drive letter: vornlog.exe changed the capture"
[[ $(lf "$work/dest-is-dump-drive.win.err") == "Can't write to file: Y:\capture 1 é.txt" ]] ||
  fail "dest is the dump through another drive letter: not refused ($(cat "$work/dest-is-dump-drive.win.err"))"
mkdir "$lin/dossier é" "$win/dossier é"
both dump-is-folder "dossier é" out.txt
# A damaged USB capture: the same message and status 1 on both.
head -c 4000 examples/session.pcapng >"$lin/abîmé.pcapng"
cp "$lin/abîmé.pcapng" "$win/abîmé.pcapng"
both damaged-capture "abîmé.pcapng" "rapport abîmé.txt"
grep -q "Damaged capture file, .* at byte offset [0-9]*: abîmé.pcapng" "$work/damaged-capture.win.err" ||
  fail "damaged capture: no message naming the fault, its offset and the file"
for f in "$work"/{usage,missing,dest,dump,damaged}*.win.status; do
  [[ $(cat "$f") == 1 ]] || fail "$(basename "$f" .win.status): exit status $(cat "$f"), not 1"
done
grep -q "Can't read the file: manquant é.txt" "$work/missing-dump.win.err" ||
  fail "missing dump: the name with é is not shown as given"

echo "== The viewer page (-w)"
# A capture of several compression parts, which vornlog.exe compresses two
# at a time on two threads: the page must carry its very bytes.
cp build-windows/viewer/vornlog-viewer.html "$win/"
for _ in $(seq 1 1000); do cat examples/session.txt; done >"$lin/grand é.txt"
cp "$lin/grand é.txt" "$win/grand é.txt"
# (-n: which browser Wine would start is not the question here.)
both viewer-page -n -w "grand é.txt" "page é.html"
[[ $(cat "$work/viewer-page.win.status") == 0 ]] || fail "-w: exit status $(cat "$work/viewer-page.win.status")"
python3 - "$win/page é.html" "$win/grand é.txt" "$root/tests/viewer" <<'PY' || fail "-w: the page does not carry the capture's bytes"
import sys
sys.path.insert(0, sys.argv[3])
from page_capture import embedded_capture
found = embedded_capture(open(sys.argv[1], encoding="utf-8").read())
sys.exit(0 if found and found[1] == open(sys.argv[2], "rb").read() else 1)
PY

echo "== Standard input and output, -n and -q"
for mode in report s; do
  if [[ $mode == s ]]; then opts=(-s) ref="$lin/pas 1 é.csv"; else opts=() ref="$lin/rapport 1 é & co.txt"; fi
  # Through a pipe in and out: the dest file's bytes, and no viewer.
  (cd "$win" && cat "capture 1 é.txt" | w "pipe-$mode" ./vornlog.exe "${opts[@]}" - - >"$work/pipe-$mode.out" \
     2>/dev/null) ||
    fail "- - ($mode): vornlog.exe failed"
  cmp -s <(crlf "$ref") "$work/pipe-$mode.out" ||
    fail "- - ($mode): standard output is not the Linux dest file with CRLF line ends"
  # Quiet and without a viewer: nothing on the console, the same dest file.
  (cd "$win" && w "quiet-$mode" ./vornlog.exe -n -q "${opts[@]}" "capture 1 é.txt" "silencieux é.txt" \
     >"$work/quiet-$mode.out" 2>&1) ||
    fail "-n -q ($mode): vornlog.exe failed"
  [[ -s $work/quiet-$mode.out ]] && fail "-n -q ($mode): vornlog.exe wrote to the console"
  cmp -s <(crlf "$ref") "$win/silencieux é.txt" || fail "-n -q ($mode): the dest file differs"
done

echo "== Live input: a pipe fed in pieces, a followed file, Ctrl-C"
# Where the records of a capture end: after a line of a text dump, after a
# block of a pcapng. The half-way one.
halfway() {
  perl -0777 -ne '
    my @ends;
    if (substr($_, 0, 4) eq "\x0a\x0d\x0d\x0a") {
      for (my $p = 0; $p + 8 <= length; $p += unpack("V", substr($_, $p + 4, 4))) { push @ends, $p + unpack("V", substr($_, $p + 4, 4)); }
    } else {
      while (/\n/g) { push @ends, pos; }
    }
    print $ends[int(@ends / 2)];' "$1"
}
# Waits for FILE to hold what EXPECTED holds. The limit (five minutes) is
# for a program that never writes it, never a measure of speed.
holds() {
  local start=$SECONDS
  until cmp -s "$1" "$2"; do
    ((SECONDS - start < 300)) || return 1
    sleep 0.2
  done
}
# Waits, as holds does, for FILE to hold the line TEXT.
says() {
  local start=$SECONDS
  until lf "$1" | grep -qxF "$2"; do
    ((SECONDS - start < 300)) || return 1
    sleep 0.2
  done
}
# A live case that failed: the message, then what the program said so far
# (Wine's messages too) and whether it still runs.
live_fail() { # WHAT CONSOLE
  fail "$1"
  {
    echo "   its console ($(kill -0 "$follower" 2>/dev/null && echo "still running" || echo "ended")):"
    sed 's/^/   | /' "$2" 2>/dev/null | head -n 40
  } >&2
}
# A follower: vornlog.exe under Wine in the background, its console (both
# streams) in FOLDER/CONSOLE, with a time limit that only a hang reaches.
follow() { # FOLDER CONSOLE VORNLOG-ARGUMENTS...
  local folder=$1 console=$2
  shift 2
  (cd "$folder" && exec timeout -k 5 600 "$wine" "$win/vornlog.exe" "$@" >"$console" 2>&1 {wine_log}>&-) &
  follower=$!
}
# One Ctrl-C to the follower started last, to Wine alone: timeout would
# hand it on to Wine twice (itself and its process group), and a second
# Ctrl-C ends the program at once, as it should, before it has said where
# reading stopped. It must then end with status 0.
interrupt() { # WHAT CONSOLE
  pkill -INT -P "$follower"
  local status=0
  wait "$follower" || status=$?
  [[ $status == 0 ]] || live_fail "$1: exit status $status after Ctrl-C" "$2"
}
for capture in examples/session.txt tests/usb/captures/two-devices.pcapng; do
  name=$(basename "$capture")
  half=$(halfway "$capture")
  live="$work/live-$name"
  mkdir -p "$live"
  head -c "$half" "$capture" >"$live/part"
  (cd "$live" && PATH="$work/bin:$PATH" "$linux_exe" -n part part.lin >/dev/null)
  crlf "$live/part.lin" >"$live/part.expected"
  crlf "$root/tests/e2e/golden/session.report.txt" >"$live/whole.expected"

  # A pipe: the first piece ends a little way into a record; its whole
  # records show before the rest is sent.
  rm -f "$live/go"
  { head -c $((half + 5)) "$capture"; while [[ ! -e $live/go ]]; do sleep 0.1; done; tail -c +$((half + 6)) "$capture"; } |
    (cd "$live" && w "piped-$name" "$win/vornlog.exe" -n - piped.txt >piped.console 2>&1; echo $? >piped.status) &
  feeder=$!
  follower=$feeder
  holds "$live/piped.txt" "$live/part.expected" ||
    live_fail "$name through a pipe: the first piece did not show before the rest was sent" "$wine_calls/piped-$name.stderr"
  touch "$live/go"
  wait "$feeder" || true
  [[ $(cat "$live/piped.status") == 0 ]] || fail "$name through a pipe: exit status $(cat "$live/piped.status")"
  cmp -s "$live/piped.txt" "$live/whole.expected" || fail "$name through a pipe: the report is not the Linux one with CRLF line ends"

  # -f on a file that grows, then Ctrl-C: status 0 and the whole report.
  head -c $((half + 5)) "$capture" >"$live/growing"
  follow "$live" followed.console -n -f growing followed.txt
  holds "$live/followed.txt" "$live/part.expected" || live_fail "$name followed: the first piece did not show" "$live/followed.console"
  tail -c +$((half + 6)) "$capture" >>"$live/growing"
  holds "$live/followed.txt" "$live/whole.expected" || live_fail "$name followed: the rest did not show" "$live/followed.console"
  interrupt "$name followed" "$live/followed.console"
  grep -q "Reading interrupted after " "$live/followed.console" ||
    live_fail "$name followed: the console does not say where reading stopped" "$live/followed.console"
  cmp -s "$live/followed.txt" "$live/whole.expected" || fail "$name followed: the report is not the Linux one with CRLF line ends"

  # -f on a file truncated and written anew: read again from its start.
  head -c "$half" "$capture" >"$live/truncated"
  follow "$live" truncated.console -n -f truncated truncated.txt
  holds "$live/truncated.txt" "$live/part.expected" || live_fail "$name truncated: the first part did not show" "$live/truncated.console"
  : >"$live/truncated"
  says "$live/truncated.console" "File truncated: read again from its start" ||
    live_fail "$name truncated: the console does not say so" "$live/truncated.console"
  cat "$capture" >>"$live/truncated"
  cat "$live/part.expected" "$live/whole.expected" >"$live/truncated.expected"
  holds "$live/truncated.txt" "$live/truncated.expected" ||
    live_fail "$name truncated: the new content did not show from its start" "$live/truncated.console"
  interrupt "$name truncated" "$live/truncated.console"
  cmp -s "$live/truncated.txt" "$live/truncated.expected" || fail "$name truncated: the report is not the old part then the whole"

  # -F on a name given to new files: the followed file renamed by a Windows
  # program (Wine's cmd, which honours the sharing of vornlog.exe's handle)
  # while vornlog.exe reads it, finished by its writer, and a new one
  # started; then deleted and started anew. The deletion is rm's: Windows 10
  # and later take the name away at once, as rm does, while Wine keeps it
  # until the last handle is closed (a new file under it would be the old
  # one).
  head -c $((half + 5)) "$capture" >"$live/rotated"
  follow "$live" rotated.console -n -F rotated rotated.txt
  holds "$live/rotated.txt" "$live/part.expected" || live_fail "$name rotated: the first part did not show" "$live/rotated.console"
  (cd "$live" && w "move-$name" cmd /c move rotated rotated.1 >/dev/null 2>&1) || true
  if [[ -e $live/rotated || ! -e $live/rotated.1 ]]; then
    fail "$name rotated: the followed file could not be renamed while vornlog.exe read it"
    explain "move-$name"
  else
    tail -c +$((half + 6)) "$capture" >>"$live/rotated.1"
    cp "$capture" "$live/rotated"
    cat "$live/whole.expected" "$live/whole.expected" >"$live/rotated.expected"
    holds "$live/rotated.txt" "$live/rotated.expected" ||
      live_fail "$name rotated: the old file's end and the new file did not show" "$live/rotated.console"
    says "$live/rotated.console" "File replaced: read the new file from its start" ||
      live_fail "$name rotated: the console does not say so" "$live/rotated.console"
    rm "$live/rotated"
    cp "$capture" "$live/rotated"
    cat "$live/whole.expected" >>"$live/rotated.expected"
    holds "$live/rotated.txt" "$live/rotated.expected" ||
      live_fail "$name rotated: the file started after the deletion did not show" "$live/rotated.console"
  fi
  interrupt "$name rotated" "$live/rotated.console"
  cmp -s "$live/rotated.txt" "$live/rotated.expected" || fail "$name rotated: the report is not each file's in turn"
  echo "   $name: through a pipe in pieces, followed (-f) then interrupted, truncated (-f), renamed and deleted (-F)"
done

echo "== Standard handles missing at start"
# vornlog.exe started without its standard output (or input): the files it
# opens never take its place, and writing to it (or reading it) fails with
# the usual message and status 1, as on Linux.
x86_64-w64-mingw32-g++ -std=c++20 -O2 -Wall -Wextra -static -o "$win/sans-std.exe" \
  tests/windows/no_std_handle_probe.cpp -lshell32
nostd() { # NAME STATUS PROBE-ARGUMENTS...
  local name=$1 expect=$2
  shift 2
  (cd "$win" && WINE_EXPECT=$expect w "$name" ./sans-std.exe "$@" >/dev/null 2>"$work/$name.err"
   echo $? >"$work/$name.status") || true
}
for quiet in "" -q; do
  nostd "no-out$quiet" 1 out vornlog.exe -n $quiet -j "capture 1 é.txt" -
  [[ $(cat "$work/no-out$quiet.status") == 1 ]] ||
    fail "no standard output ($quiet): exit status $(cat "$work/no-out$quiet.status"), not 1"
  [[ $(lf "$work/no-out$quiet.err" | tail -n 1) == "Can't write to file: -" ]] ||
    fail "no standard output ($quiet): not the usual message ($(cat "$work/no-out$quiet.err"))"
done
nostd no-out-file 0 out vornlog.exe -n -q "capture 1 é.txt" "sans sortie é.txt"
[[ $(cat "$work/no-out-file.status") == 0 ]] || fail "no standard output, a dest file: exit status $(cat "$work/no-out-file.status")"
cmp -s <(crlf "$lin/rapport 1 é & co.txt") "$win/sans sortie é.txt" ||
  fail "no standard output, a dest file: the dest file differs"
nostd no-in 1 in vornlog.exe -n - "depuis rien é.txt"
[[ $(cat "$work/no-in.status") == 1 ]] || fail "no standard input: exit status $(cat "$work/no-in.status"), not 1"
[[ $(lf "$work/no-in.err" | tail -n 1) == "Can't read the file: -" ]] ||
  fail "no standard input: not the usual message ($(cat "$work/no-in.err"))"
echo "   without standard output (report to -, -q, a dest file) and without standard input"

echo "== Viewers"
# vornlog.exe does not wait for its viewers, but each of its calls above
# started its viewer before it ended. Wait until every expected line is in
# and no viewer of the prefix still runs, so that a viewer started twice, or
# the notepad.exe beside vornlog.exe, has written its line too. The limit
# is for a viewer that never comes or hangs. (The wineserver lives on till
# the end: its own end is nothing to wait for.)
lines() { cat "$1" 2>/dev/null | wc -l; }
started=$SECONDS
while (($(lines "$system32/notepad.log") < ${#expected_notepad[@]} ||
        $(lines "$work/csvview.log") < ${#expected_csv[@]})) || wine_running notepad.exe csvview.exe; do
  if ((SECONDS - started >= 600)); then
    fail "the viewers had not all written their line and ended after ten minutes"
    break
  fi
  sleep 0.2
done
check_log() {
  local log=$1 what=$2
  shift 2
  local expected
  expected=$(printf '%s\n' "$@" | sort)
  if [[ "$(sort "$log" 2>/dev/null)" != "$expected" ]]; then
    fail "$what was not started once per run with the dest file as its one argument"
    {
      echo "   missing:"
      comm -23 <(echo "$expected") <(sort "$log" 2>/dev/null) | sed 's/^/   | /'
      echo "   not expected (or more than once):"
      comm -13 <(echo "$expected") <(sort "$log" 2>/dev/null) | sed 's/^/   | /'
      echo "   what the Wine calls' standard error says of the viewers:"
      wine_said 'notepad|csvview|viewer probe'
    } >&2
  fi
}
check_log "$system32/notepad.log" "Notepad" "${expected_notepad[@]}"
check_log "$work/csvview.log" "The CSV viewer" "${expected_csv[@]}"
[[ -e $win/notepad.log ]] && fail "the notepad.exe beside vornlog.exe was started: $(cat "$win/notepad.log")"

if ((failures)); then
  echo "Windows check: $failures failures" >&2
  exit 1
fi
echo "Windows check passed: ${#captures[@]} captures in 3 modes, 13 error cases, standard input and output, the viewer page (-w) compressed on two threads, live input (pipe, -f, truncated, -F), missing standard handles, both viewers (Notepad the system's)"
