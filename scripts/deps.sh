#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages that building and testing
# need and that the machine does not have yet, and those named. Run as root.
# Waits up to ten minutes for another apt-get or dpkg to finish rather than
# failing.
#
#   bash scripts/deps.sh [--wasm] [PACKAGE...]
#
# --wasm: also what builds the viewer page (clang for WASI, its linker and
# Debian's WASI C and C++ libraries, about 12 MB beside clang, for its
# WebAssembly; python3, which puts the page together).
set -euo pipefail

# locales: the French locale that the speed test builds comes from it.
# libcpp-httplib-dev and pkgconf: the live viewer's HTTP server (vornlog -l)
# and the flags its library was built with. libdeflate-dev: what compresses
# the viewer page's capture (-w).
packages=(g++ cmake make libgtest-dev libgmock-dev qt6-base-dev locales libcpp-httplib-dev pkgconf libdeflate-dev)
if [[ ${1:-} == --wasm ]]; then
  shift
  packages+=(clang-14 lld-14 python3 wasi-libc libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32)
fi
missing=()
for p in "${packages[@]}" "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
