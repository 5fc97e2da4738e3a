#!/usr/bin/env bash
# Takes docs/windows.md's picture of VornlogRun.exe under Wine: cross-builds the
# launcher, starts it under Wine on a private X display (Xvfb) and saves its
# window as a PNG (docs/launcher-wine.png, or the path given) once French OCR
# reads its labels, the last output option included, so the picture shows a
# finished window. Run as root on Debian 12.
set -euo pipefail
out=$(realpath -m "${1:-$(dirname "$0")/../docs/launcher-wine.png}")
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh g++-mingw-w64-x86-64 wine64 xvfb xdotool imagemagick tesseract-ocr tesseract-ocr-fra
source scripts/xdrive.sh

echo "== VornlogRun.exe (MinGW-w64)"
bash scripts/windows-build.sh

# Debian's wine64 alone keeps its loader and server out of PATH.
export PATH=$PATH:/usr/lib/wine
# The 64-bit loader and server as scripts/wine.sh picks them: Debian's
# /usr/bin/wine wrapper writes lines of its own on every call.
source scripts/wine.sh
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
launcher_pid=
cleanup() {
  [[ -n $launcher_pid ]] && kill "$launcher_pid" 2>/dev/null || true
  timeout 30 "$wineserver" -k >/dev/null 2>&1 || true
  stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' TERM INT

echo "== Wine prefix"
(unset DISPLAY WAYLAND_DISPLAY; timeout -k 5 300 "$wine" wineboot --init >/dev/null 2>&1)
# The prefix's server, started without a display, must be gone before the
# launcher starts, or the launcher's windows get no display either.
timeout -k 5 120 "$wineserver" -w

mkdir -p "$work/vornlog"
cp "$root/build-windows/launcher/VornlogRun.exe" "$root/build-windows/decoder/vornlog.exe" "$work/vornlog/"
start_xvfb "$work"
(cd "$work/vornlog" && exec timeout -k 5 300 "$wine" VornlogRun.exe >"$work/launcher.log" 2>&1) &
launcher_pid=$!

echo "== Window"
main=$(wait_window '^Vornlog launcher$')
# The mouse over the bare window, away from the title's information line.
xdo mousemove --window "$main" 20 300
text=$(ocr_until "$main" "$work/window" "Lancer Vornlog" "page HTML")
for label in "Lancer Vornlog" "page HTML"; do
  grep -qF "$label" <<<"$text" || { echo "FAIL: the window read by OCR does not show \"$label\"" >&2; exit 1; }
done
mkdir -p "$(dirname "$out")"
cp "$work/window.png" "$out"
echo "Saved $out"
