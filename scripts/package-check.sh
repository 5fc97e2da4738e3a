#!/usr/bin/env bash
# Builds the packages and checks them: the Debian package of vornlog (and
# VornlogRun, when the launcher is built) must install with dpkg, bring its
# manual page and desktop entry, and its vornlog must decode the sample
# capture as the build tree's does, and tshark must load the Wireshark
# dissector from the installed place and decode the sample with it; the
# package is removed again afterwards. The ZIP for Windows must hold
# vornlog.exe, VornlogRun.exe, the README, the sample capture and qmr5v.lua.
# Both carry the pages of docs/ beside the README, with every file and
# heading their links lead to.
# Run as root on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh --wasm dpkg-dev g++-mingw-w64-x86-64 tshark python3

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

sample=examples/session.txt
[[ -f $sample ]] || sample=tests/windows/captures/session-crlf.txt

echo "== Debian package"
rm -f build-package/vornlog_*.deb
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DVORNLOG_BUILD_TESTS=OFF >/dev/null
cmake --build build-package -j2 >/dev/null
(cd build-package && cpack -G DEB >/dev/null)
debs=(build-package/vornlog_*.deb)
deb=${debs[0]}
[[ -f $deb ]] || { echo "FAIL: cpack made no .deb" >&2; exit 1; }
echo "   $deb"

if dpkg-query -W -f='${Status}' vornlog 2>/dev/null | grep -q "install ok installed"; then
  echo "FAIL: a vornlog package is installed already; remove it first" >&2
  exit 1
fi

work=$(mktemp -d)
cleanup() {
  if dpkg-query -W -f='${Status}' vornlog 2>/dev/null | grep -q "installed"; then
    dpkg -r vornlog >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
if ! dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
  # Missing dependencies: let apt bring them and finish the install.
  apt-get -f install -y -qq >/dev/null
fi
dpkg-query -W -f='${Status}' vornlog | grep -q "install ok installed" || { cat "$work/dpkg.log" >&2; exit 1; }

[[ $(command -v vornlog) == /usr/bin/vornlog ]] || fail "vornlog is not on PATH as /usr/bin/vornlog"
[[ -f /usr/share/man/man1/vornlog.1 ]] || fail "no manual page vornlog(1)"
if command -v man >/dev/null; then
  warnings=$(MANWIDTH=80 man --warnings -l /usr/share/man/man1/vornlog.1 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "the manual page has roff warnings: $warnings"
fi
for doc in README.md CHANGELOG.md vornlog-jsonl.schema.json; do
  [[ -f /usr/share/doc/vornlog/$doc ]] || fail "no $doc in /usr/share/doc/vornlog"
done
python3 scripts/docs-links.py /usr/share/doc/vornlog --pages docs ||
  fail "the documentation in /usr/share/doc/vornlog is not whole (docs/ pages, their links)"
# The installed schema is the repository's, and the installed vornlog's JSON
# Lines of the sample are valid against it.
cmp -s docs/vornlog-jsonl.schema.json /usr/share/doc/vornlog/vornlog-jsonl.schema.json ||
  fail "the installed JSON Schema is not docs/vornlog-jsonl.schema.json"
if python3 -c 'import jsonschema' 2>/dev/null; then
  vornlog -n -q -j "$sample" - | python3 -c '
import json, sys, jsonschema
v = jsonschema.Draft202012Validator(json.load(open(sys.argv[1])))
bad = [e.message for line in sys.stdin for e in v.iter_errors(json.loads(line))]
sys.exit(bad[0] if bad else 0)' /usr/share/doc/vornlog/vornlog-jsonl.schema.json ||
    fail "the installed vornlog's JSON Lines are not valid against the installed schema"
fi
[[ -f /usr/share/bash-completion/completions/vornlog ]] || fail "no bash completion for vornlog"
if [[ -x build-package/launcher/VornlogRun ]]; then
  [[ -x /usr/bin/VornlogRun ]] || fail "VornlogRun is not installed"
  desktop=/usr/share/applications/VornlogRun.desktop
  [[ -f $desktop ]] || fail "no desktop entry for VornlogRun"
  grep -qx 'Exec=VornlogRun' "$desktop" 2>/dev/null || fail "the desktop entry does not start VornlogRun"
  # Qt's French texts for the launcher's dialogs.
  depends=$(dpkg-deb -f "$deb" Depends)
  grep -q 'qt6-translations-l10n' <<<"$depends" || fail "the package does not depend on qt6-translations-l10n"
fi

# The installed program on the sample capture, in a folder of its own, with
# a do-nothing viewer; its output must be the build tree's.
mkdir -p "$work/bin" "$work/run"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
cp "$sample" "$work/run/session.txt"
for mode in report steps; do
  opts=()
  [[ $mode == steps ]] && opts=(-s)
  (cd "$work/run" && PATH="$work/bin:$PATH" timeout 60 vornlog "${opts[@]}" session.txt "installed-$mode.txt" \
     >/dev/null) || fail "the installed vornlog failed in $mode mode"
  (cd "$work/run" && PATH="$work/bin:$PATH" timeout 60 "$root/build-package/decoder/vornlog" "${opts[@]}" \
     session.txt "built-$mode.txt" >/dev/null) || fail "the built vornlog failed in $mode mode"
  [[ -s $work/run/installed-$mode.txt ]] || fail "the installed vornlog wrote nothing in $mode mode"
  cmp -s "$work/run/installed-$mode.txt" "$work/run/built-$mode.txt" ||
    fail "the installed vornlog's $mode differs from the build tree's"
done
if [[ -f examples/session.txt ]]; then
  cmp -s examples/session.txt /usr/share/doc/vornlog/examples/session.txt || fail "the sample capture is not installed"
fi
if [[ -f examples/session.pcapng ]]; then
  cmp -s examples/session.pcapng /usr/share/doc/vornlog/examples/session.pcapng ||
    fail "the sample USB capture is not installed"
fi

# The dissector, in the folder where Wireshark looks for Lua plugins, loaded
# by tshark without any option: it lists it among its plugins and decodes the
# sample's controller messages with it.
# tshark gets a home of its own: a personal copy of the plugin or personal
# preferences must not sway the check.
tshark_home=$work/tshark-home
mkdir -p "$tshark_home/.config"
tshark() { HOME=$tshark_home XDG_CONFIG_HOME=$tshark_home/.config command tshark "$@"; }
lua_plugins=$(tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
[[ -f $lua_plugins/qmr5v.lua ]] || fail "qmr5v.lua is not in Wireshark's Lua plugins folder $lua_plugins"
tshark -G plugins 2>/dev/null | grep -q "	$lua_plugins/qmr5v.lua\$" || fail "tshark does not load $lua_plugins/qmr5v.lua"
if [[ -f examples/session.pcapng ]]; then
  count=$(tshark -2 -r examples/session.pcapng -Y 'qmr5v.code == 0x44' 2>/dev/null | wc -l)
  ((count > 0)) || fail "tshark decodes no Data message of the sample with the installed dissector"
  echo "   tshark loads $lua_plugins/qmr5v.lua: $count Data messages in the sample"
fi

# The viewer page, where the installed vornlog -w finds it.
cmp -s build-package/viewer/vornlog-viewer.html /usr/share/vornlog/vornlog-viewer.html ||
  fail "the viewer page is not installed as /usr/share/vornlog/vornlog-viewer.html"
(cd "$work/run" && PATH="$work/bin:$PATH" timeout 60 vornlog -n -q -w session.txt installed-page.html) ||
  fail "the installed vornlog -w failed"
grep -q 'id="capture"[^>]*data-encoding="deflate"' "$work/run/installed-page.html" 2>/dev/null ||
  fail "the installed vornlog -w wrote no page with the capture"

# The live viewer's server, where the installed vornlog -l finds it: it
# prints its address and, at the end of the file, saves the -w page.
[[ -f /usr/lib/vornlog/vornlog-live.so ]] || fail "the live viewer's server is not installed as /usr/lib/vornlog/vornlog-live.so"
(cd "$work/run" && PATH="$work/bin:$PATH" exec vornlog -n -l session.txt live-page.html >live.out) &
live=$!
timeout 60 bash -c "until grep -q Done '$work/run/live.out'; do sleep 0.1; done" || fail "the installed vornlog -l did not end"
kill -TERM "$live"
wait "$live" || fail "the installed vornlog -l did not end with status 0 on SIGTERM"
grep -q '^Live viewer: http://127.0.0.1:[0-9]*/[0-9a-f]\{32\}/$' "$work/run/live.out" ||
  fail "the installed vornlog -l printed no address"
cmp -s "$work/run/live-page.html" "$work/run/installed-page.html" || fail "the installed vornlog -l saved another page than -w"

dpkg -r vornlog >/dev/null
[[ ! -e /usr/bin/vornlog ]] || fail "/usr/bin/vornlog is left after removing the package"
echo "   installed, decoded $sample, removed"

echo "== Windows ZIP"
rm -f build-windows/vornlog-*.zip
bash scripts/windows-build.sh
(cd build-windows && cpack -G ZIP >/dev/null)
zips=(build-windows/vornlog-*.zip)
zip=${zips[0]}
if [[ ! -f $zip ]]; then
  fail "cpack made no ZIP"
else
  echo "   $zip"
  listing=$(cd "$work" && cmake -E tar tf "$root/$zip")
  wanted=(vornlog.exe VornlogRun.exe README.md CHANGELOG.md vornlog-jsonl.schema.json qmr5v.lua vornlog-viewer.html)
  [[ -f examples/session.txt ]] && wanted+=(examples/session.txt)
  [[ -f examples/session.pcapng ]] && wanted+=(examples/session.pcapng)
  for f in "${wanted[@]}"; do
    grep -q "/$f\$" <<<"$listing" || fail "the ZIP has no $f"
  done
  mkdir "$work/zip"
  (cd "$work/zip" && cmake -E tar xf "$root/$zip")
  unpacked=$(dirname "$(find "$work/zip" -name README.md -print -quit)")
  python3 scripts/docs-links.py "$unpacked" --pages docs ||
    fail "the documentation in the ZIP is not whole (docs/ pages, their links)"
fi

if ((failures)); then
  echo "Package check: $failures failures" >&2
  exit 1
fi
echo "Package check passed"
