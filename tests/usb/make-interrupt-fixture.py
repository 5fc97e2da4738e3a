#!/usr/bin/env python3
"""Writes captures/interrupt-between-request-and-reply.pcapng: a usbmon
pcapng where every answer of the controller (1.7) comes after an interrupt
IN message of its own (00 00 on endpoint 0x82). vornlog and the dissector
must both recognise it by the answer to its last PC message."""
import os
import struct


def block(kind, body):
    body += b"\0" * (-len(body) % 4)
    return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)


out = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
out += block(1, struct.pack("<HHI", 220, 0, 262144) + struct.pack("<HH", 0, 0))
count = 0
t = 1_796_047_331_000_000  # microseconds


def packet(us, event, endpoint, data, transfer=3, bus=1, dev=7):
    global count
    count += 1
    header = struct.pack("<QBBBBHbb", 0x1000 + count, ord(event), transfer, endpoint, dev, bus, ord("-"),
                         ord("=" if data else "<"))
    header += struct.pack("<qiiII", us // 10**6, us % 10**6, 0, len(data), len(data))
    header += b"\0" * 8 + struct.pack("<iiII", 0, 0, 0, 0)
    frame = header + data
    return block(6, struct.pack("<IIIII", 0, us >> 32, us & 0xFFFFFFFF, len(frame), len(frame)) + frame)


def pc(data):
    global t
    t += 1000
    return packet(t, "S", 0x01, data) + packet(t + 100, "C", 0x01, b"")


def qmr(data):
    global t
    t += 1000
    return packet(t - 500, "S", 0x81, b"") + packet(t, "C", 0x81, data)


def interrupt(data):
    global t
    t += 300
    return packet(t, "C", 0x82, data, transfer=1)


out += pc(b"\x56") + interrupt(b"\0\0") + qmr(b"\x56QMR5V v2.14")
out += pc(b"\x53\x00") + interrupt(b"\0\0") + qmr(b"\x53\x00")
here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "captures", "interrupt-between-request-and-reply.pcapng"), "wb") as f:
    f.write(out)
