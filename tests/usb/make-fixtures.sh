#!/usr/bin/env bash
# Makes the USB capture fixtures of tests/usb/captures/ and
# examples/session.pcapng from the sample session examples/session.txt,
# with Wireshark's own tools where they can (text2pcap, editcap, mergecap)
# and the helper fixture_writer.cpp where they cannot (big-endian usbmon,
# pcap and pcapng).
# The files are kept in the repository; run this again only to change them.
#
#   session-usbmon220.pcap      usbmon, 64-byte headers, little-endian pcap
#   session-usbmon189-be.pcap   usbmon, 48-byte headers, big-endian pcap
#   session-usbmon189-ns.pcap   usbmon, 48-byte headers, nanosecond pcap
#   session-usbmon220-be.pcapng usbmon, 64-byte headers, big-endian pcapng
#   session-usbpcap.pcapng      USBPcap, pcapng
#   two-devices.pcapng          the session beside a mouse, with control
#                               transfers, an error event and a zero-length
#                               packet (mergecap of two captures)
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/deps.sh tshark wireshark-common g++

out=tests/usb/captures
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Wireshark's tools get a home of their own: no personal setting sways them.
mkdir -p "$work/home/.config"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$out"
g++ -std=c++20 -O1 -o "$work/fixture_writer" tests/usb/fixture_writer.cpp
fw=$work/fixture_writer
session=examples/session.txt
t2p() { text2pcap -q -t '%s.%f' "$@" 2>/dev/null; }

"$fw" hex 220 "$session" >"$work/s220.hex"
"$fw" hex 189 "$session" >"$work/s189.hex"
"$fw" hex 249 "$session" >"$work/s249.hex"
"$fw" other-device "$session" >"$work/other.hex"

t2p -F pcap -l 220 "$work/s220.hex" "$out/session-usbmon220.pcap"
"$fw" pcap-be 189 "$session" "$out/session-usbmon189-be.pcap"
"$fw" pcapng-be 220 "$session" "$out/session-usbmon220-be.pcapng"
t2p -F pcap -l 189 "$work/s189.hex" "$work/s189.pcap"
editcap -F nsecpcap "$work/s189.pcap" "$out/session-usbmon189-ns.pcap"
t2p -l 249 "$work/s249.hex" "$out/session-usbpcap.pcapng"
t2p -l 220 "$work/s220.hex" examples/session.pcapng
t2p -l 220 "$work/other.hex" "$work/other.pcapng"
mergecap -w "$out/two-devices.pcapng" examples/session.pcapng "$work/other.pcapng"
ls -l "$out" examples/session.pcapng
