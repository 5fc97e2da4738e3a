#!/usr/bin/env bash
# The main job: decodes the sample capture into a full-details report, a
# steps CSV and a picture, in build/, with everything installed and built first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
./build/decoder/vornlog examples/session.txt build/session-report.txt
echo
./build/decoder/vornlog -s examples/session.txt build/session-steps.csv
echo
./build/decoder/vornlog -p examples/session.txt build/session-picture.svg
echo
echo "Report:    build/session-report.txt"
echo "Steps CSV: build/session-steps.csv"
echo "Picture:   build/session-picture.svg"
