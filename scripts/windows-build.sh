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
# libdeflate, which compresses the viewer page's capture, linked in
# statically: built with MinGW from Debian's source package of the version
# that the Linux build uses (libdeflate-dev), fetched by apt-get through a
# list of deb-src entries of the build's own, made from the system's deb
# entries (the system's lists and cache are left alone).
libdeflate=$PWD/build-windows/libdeflate
if [[ ! -f $libdeflate/libdeflatestatic.lib ]]; then
  bash scripts/deps.sh libdeflate-dev dpkg-dev make >/dev/null
  version=$(dpkg-query -W -f='${source:Version}' libdeflate-dev)
  apt_dir=$PWD/build-windows/apt
  rm -rf "$apt_dir" "$libdeflate"
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/source"
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] && sed 's/^Types:.*\bdeb\b.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/${f##*/}"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -f $f ]] && sed -n 's/^deb \(.*\)/deb-src \1/p' "$f" >"$apt_dir/sources.list.d/$(basename "$f" .list).list"
  done
  apt=(apt-get -q -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" -o APT::Sandbox::User=root)
  if ! "${apt[@]}" update >"$apt_dir/log" 2>&1 ||
    ! (cd "$apt_dir/source" && "${apt[@]}" source "libdeflate=$version") >>"$apt_dir/log" 2>&1; then
    cat "$apt_dir/log" >&2
    echo "FAIL: could not fetch Debian's source of libdeflate $version for the Windows build" >&2
    exit 1
  fi
  mv "$apt_dir"/source/libdeflate-*/ "$libdeflate"
  if ! make -C "$libdeflate" -j2 CC=x86_64-w64-mingw32-gcc AR=x86_64-w64-mingw32-ar libdeflatestatic.lib \
    >"$apt_dir/log" 2>&1; then
    cat "$apt_dir/log" >&2
    echo "FAIL: libdeflate did not build with MinGW" >&2
    exit 1
  fi
  rm -rf "$apt_dir"
fi
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVORNLOG_BUILD_LAUNCHER=ON -DVORNLOG_BUILD_TESTS=OFF \
  -DVORNLOG_LIBDEFLATE="$libdeflate/libdeflatestatic.lib" -DVORNLOG_LIBDEFLATE_INCLUDE="$libdeflate" \
  -DVORNLOG_WIRESHARK_LUA="$PWD/build-windows/native/wireshark/qmr5v.lua" "${viewer[@]}" >/dev/null
if cmake --build build-windows -j2 2>&1 | grep -E 'warning:|error:'; then
  echo "FAIL: the Windows build is not warning-free" >&2
  exit 1
fi
