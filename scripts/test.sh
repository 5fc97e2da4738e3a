#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
# librsvg2-bin, libxml2-utils, imagemagick: the picture tests render the SVG,
# validate it and read its pixels. tshark: it judges the USB capture fixtures
# and runs the Wireshark dissector.
# qt6-translations-l10n: Qt's own French texts in the launcher's dialogs.
# bash-completion: the completion is also tried with its helpers loaded.
# jq and python3: they read the JSON Lines; python3-jsonschema checks them
# against their JSON Schema.
# --wasm: the viewer page's decoder as WebAssembly; chromium,
# chromium-driver and python3-selenium: the page's test in headless
# Chromium; firefox-esr: the same page in headless Firefox, driven through
# its own remote protocol. curl: a client of the live viewer's server
# besides Python's. nodejs: the decoder module through its one entry,
# outside a browser.
bash scripts/deps.sh --wasm librsvg2-bin libxml2-utils imagemagick tshark qt6-translations-l10n bash-completion jq \
  python3 python3-jsonschema chromium chromium-driver python3-selenium firefox-esr curl nodejs
bash scripts/build.sh
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
