#!/usr/bin/env bash
# Makes docs/wireshark-details.png: Wireshark itself, under Xvfb, with the
# dissector the build wrote, on the sample capture filtered to its Data
# messages: the window with a Data message's details, then the details pane
# with its reply's. Run after a build, as root on Debian 12 (installs
# wireshark, Xvfb, xdotool and ImageMagick when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/deps.sh wireshark xvfb xdotool imagemagick
lua=$root/build/wireshark/qmr5v.lua
[[ -f $lua ]] || { echo "FAIL: no $lua: build first" >&2; exit 1; }
source scripts/xdrive.sh

work=$(mktemp -d)
pid=
cleanup() {
  [[ -n $pid ]] && kill "$pid" 2>/dev/null || true
  stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT
start_xvfb "$work" 1024x1100
# A fresh profile: Wireshark's first start, as a new user sees it.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The Data message with 1000 pulses is frame 81, its reply frame 84; the
# packet list shows the Data messages and their replies only, the bytes pane
# is left out.
wireshark -X "lua_script:$lua" -o gui.layout_content_3:NONE -r examples/session.pcapng \
  -Y 'qmr5v.code == 0x44' -g 81 >"$work/wireshark.log" 2>&1 &
pid=$!
win=$(wait_window 'session.pcapng')
sleep 2
xdo windowmove "$win" 0 0 windowsize "$win" 1024 1100
sleep 2

# The details pane's third line is the QMR5V tree: a click on it, and
# Shift+Right opens it with all its subtrees.
expand_qmr5v() {
  click_in "$win" 200 629
  xdo key --window "$win" shift+Right
  sleep 1
}
expand_qmr5v
shot -window root "$work/data.png"
# The reply: the packet list's second row.
click_in "$win" 300 137
sleep 1
expand_qmr5v
shot -window root "$work/reply.png"
grep -q "Lua Error\|lua_script" "$work/wireshark.log" && { cat "$work/wireshark.log" >&2; exit 1; }

# The window with the Data message, then the reply's details pane below it.
convert "$work/data.png" -crop 1024x${DATA_HEIGHT:-975}+0+0 +repage "$work/top.png"
convert "$work/reply.png" -crop 1024x${REPLY_HEIGHT:-493}+0+585 +repage "$work/bottom.png"
convert "$work/top.png" "$work/bottom.png" -append -strip docs/wireshark-details.png
echo "Wrote docs/wireshark-details.png"
