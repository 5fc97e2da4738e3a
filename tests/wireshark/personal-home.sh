#!/usr/bin/env bash
# Runs a check as a Wireshark user would: in a home that holds a personal
# copy of the dissector (where docs/wireshark.md tells Wireshark users to put it)
# and personal preferences that would change what tshark shows (another
# device for the dissector, no USB heuristics). A
# check that runs tshark in a home of its own is not swayed by any of it.
#
#   personal-home.sh DISSECTOR COMMAND [ARG...]
set -euo pipefail
dissector=$1
shift
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/.local/lib/wireshark/plugins" "$home/.config/wireshark"
cp "$dissector" "$home/.local/lib/wireshark/plugins/qmr5v.lua"
printf 'qmr5v.device: 9.9\nusb.try_heuristics: FALSE\n' >"$home/.config/wireshark/preferences"
export HOME=$home XDG_CONFIG_HOME=$home/.config
status=0
"$@" || status=$?
exit "$status"
