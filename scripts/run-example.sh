#!/usr/bin/env bash
# The main job: decodes the sample capture into a full-details report, a
# steps CSV, a picture and a viewer page (the session in a browser, with
# nothing to install there), in build/, with what it needs installed and
# built first: vornlog and the viewer page only (scripts/test.sh builds the
# rest).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --wasm
bash scripts/build.sh vornlog viewer_page
./build/decoder/vornlog examples/session.txt build/session-report.txt
echo
./build/decoder/vornlog -s examples/session.txt build/session-steps.csv
echo
./build/decoder/vornlog -p examples/session.txt build/session-picture.svg
echo
./build/decoder/vornlog -w examples/session.txt build/session.html
echo
echo "Report:      build/session-report.txt"
echo "Steps CSV:   build/session-steps.csv"
echo "Picture:     build/session-picture.svg"
echo "Viewer page: build/session.html"
