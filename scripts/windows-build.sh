#!/usr/bin/env bash
# Cross-builds vornlog.exe and VornlogRun.exe with MinGW-w64 into
# build-windows/, beside the Wireshark dissector qmr5v.lua and the viewer
# page, and fails when the
# build is not warning-free. Called by the Windows checks; the toolchain is
# installed by them.
set -euo pipefail
cd "$(dirname "$0")/.."
# The Wireshark dissector is written by a program linked with the decoder's
# tables, which the cross-build cannot run: a native build writes it.
cmake -S . -B build-windows/native -DCMAKE_BUILD_TYPE=Release -DVORNLOG_BUILD_LAUNCHER=OFF \
  -DVORNLOG_BUILD_TESTS=OFF >/dev/null
cmake --build build-windows/native -j2 --target qmr5v_dissector >/dev/null
# So is the viewer page (clang for WASI), when its compiler and C library
# are there (bash scripts/deps.sh --wasm).
viewer=()
if command -v clang++-14 >/dev/null && [[ -f /usr/lib/wasm32-wasi/crt1-reactor.o ]]; then
  cmake --build build-windows/native -j2 --target viewer_page >/dev/null
  viewer=(-DVORNLOG_VIEWER_PAGE="$PWD/build-windows/native/viewer/vornlog-viewer.html")
fi
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVORNLOG_BUILD_LAUNCHER=ON -DVORNLOG_BUILD_TESTS=OFF \
  -DVORNLOG_WIRESHARK_LUA="$PWD/build-windows/native/wireshark/qmr5v.lua" "${viewer[@]}" >/dev/null
if cmake --build build-windows -j2 2>&1 | grep -E 'warning:|error:'; then
  echo "FAIL: the Windows build is not warning-free" >&2
  exit 1
fi
