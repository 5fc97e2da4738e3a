#!/usr/bin/env bash
# tshark, as an independent judge, against vornlog on USB capture files:
#
#   tshark-agrees.sh VORNLOG CAPTURE[@BUS.ADDR] ...
#
# For each capture, vornlog writes its report (with -d BUS.ADDR when one is
# given) and names the device it took. tshark lists, for that device, the
# data of every bulk or interrupt packet on an endpoint other than 0: OUT
# data at its submission, IN data at its completion (usbmon's URB type, or
# USBPcap's IRP direction). Those packets, in order, with their direction
# and payload bytes, must be exactly the messages echoed in the report.
# Exits 77 (skipped) when tshark is not installed.
set -euo pipefail
vornlog=$1
shift
command -v tshark >/dev/null || { echo "tshark is not installed" >&2; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# tshark gets a home of its own: no personal plugin or preference sways it.
mkdir -p "$work/home/.config"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$work/bin"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"

failures=0
for arg in "$@"; do
  capture=$(realpath -- "${arg%@*}")
  opts=()
  [[ $arg == *@* ]] && opts=(-d "${arg##*@}")
  console=$(cd "$work" && PATH="$work/bin:$PATH" "$vornlog" "${opts[@]}" "$capture" report.txt) || {
    echo "FAIL: $arg: vornlog failed" >&2
    failures=$((failures + 1))
    continue
  }
  device=$(sed -n 's/^USB device \([0-9]*\)\.\([0-9]*\) .*/\1 \2/p' <<<"$console")
  if [[ -z $device ]]; then
    echo "FAIL: $arg: vornlog named no device" >&2
    failures=$((failures + 1))
    continue
  fi
  read -r bus address <<<"$device"
  grep -E '^(PC     |  ?QMR5V ):  ' "$work/report.txt" | tr -d '\r' >"$work/vornlog.txt" || true
  tshark -r "$capture" -Y "usb.bus_id == $bus && usb.device_address == $address" -T fields -E separator=/t \
    -e usb.transfer_type -e usb.endpoint_address.number -e usb.endpoint_address.direction -e usb.urb_type \
    -e usb.irp_info.direction -e usb.capdata 2>/dev/null |
    awk -F'\t' '
      ($1 == "0x01" || $1 == "0x03") && $2 != 0 && $6 != "" {
        # usbmon: the URB type; USBPcap: 0 on the way to the device, 1 back.
        done = ($4 == "'"'"'C'"'"'" || $5 == "0x01")
        if ($3 == 0 && done) next
        if ($3 == 1 && !done) next
        hex = toupper($6); gsub(/:/, "", hex); out = ""
        for (i = 1; i <= length(hex); i += 2) out = out (i > 1 ? " " : "") substr(hex, i, 2)
        print ($3 == 0 ? "PC     :  " : " QMR5V :  ") out
      }' >"$work/tshark.txt"
  if [[ ! -s $work/tshark.txt ]]; then
    echo "FAIL: $arg: tshark found no message of device $bus.$address" >&2
    failures=$((failures + 1))
  elif ! diff "$work/tshark.txt" "$work/vornlog.txt" >"$work/diff.txt"; then
    echo "FAIL: $arg: vornlog's messages are not the packets tshark shows" >&2
    head -n 20 "$work/diff.txt" >&2
    failures=$((failures + 1))
  else
    echo "ok: $arg: $(wc -l <"$work/tshark.txt") messages of device $bus.$address"
  fi
done
exit $((failures > 0))
