# shellcheck shell=bash
# Sourced by the benchmarks. bench_build TARGETS...: the tree
# $out/tree with the targets given, a do-nothing xdg-open first on PATH (no
# browser opens) and the capture maker $out/make_capture
# (bench/make_capture.cpp); sets $tree and $vornlog. With VORNLOG_BENCH_TREE set, the
# build tree it names is used instead (its targets built as it is
# configured). bench_tree TARGETS...: the same,
# and the benchmark capture of $lines lines as $dump, made once (with
# $findings set: the capture full of findings, make_capture --findings).
bench_build() {
  mkdir -p "$out/bin"
  printf '#!/bin/sh\nexit 0\n' >"$out/bin/xdg-open"
  chmod +x "$out/bin/xdg-open"
  export PATH="$root/$out/bin:$PATH"
  if [[ -n ${VORNLOG_BENCH_TREE:-} ]]; then
    cmake --build "$VORNLOG_BENCH_TREE" -j2 --target "$@" >/dev/null
    tree="$(cd "$VORNLOG_BENCH_TREE" && pwd)"
  else
    cmake -S . -B "$out/tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNLOG_BUILD_TESTS=OFF \
      -DVORNLOG_BUILD_LAUNCHER=OFF >/dev/null
    cmake --build "$out/tree" -j2 --target "$@" >/dev/null
    tree="$root/$out/tree"
  fi
  vornlog="$tree/decoder/vornlog"
  g++ -O2 -std=c++20 bench/make_capture.cpp -o "$out/make_capture"
}

bench_tree() {
  bench_build "$@"
  if [[ -n ${findings:-} ]]; then
    dump="$out/findings-$lines.txt"
    [[ -f $dump ]] || "$out/make_capture" --findings "$lines" "$dump"
    return
  fi
  dump="$out/capture-$lines.txt"
  [[ -f $dump ]] || "$out/make_capture" "$lines" "$dump" "$out/capture-$lines.pcapng"
}
