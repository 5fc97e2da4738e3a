#!/usr/bin/env python3
"""Crafted pcapng files judged by tshark, block options and time stamps:

    crafted-pcapng-agrees.py VORNLOG

Each file holds a controller's Version request and reply, then the block
under test, then another request and reply. Where tshark refuses the file
as damaged, vornlog must end with "Damaged capture file", the block's byte
offset and status 1, having written the messages before it; where tshark
reads the file, vornlog must read it too and list the very messages tshark
shows. A capture whose interface adds 9223372036 s to its time stamps (past
what 64-bit nanoseconds hold) must get, in the JSON Lines and the summary,
the times tshark shows, and `t` counted from the first message.
Exits 77 (skipped) when tshark is not installed.
"""
import datetime
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

if not shutil.which("tshark"):
    print("tshark is not installed", file=sys.stderr)
    sys.exit(77)

vornlog = os.path.abspath(sys.argv[1])
work = tempfile.mkdtemp()
# tshark gets a home of its own: no personal plugin or preference sways it.
os.makedirs(os.path.join(work, "home", ".config"))
env = dict(os.environ, HOME=os.path.join(work, "home"), XDG_CONFIG_HOME=os.path.join(work, "home", ".config"))
os.makedirs(os.path.join(work, "bin"))
with open(os.path.join(work, "bin", "xdg-open"), "w") as f:
    f.write("#!/bin/sh\nexit 0\n")
os.chmod(os.path.join(work, "bin", "xdg-open"), 0o755)
env["PATH"] = os.path.join(work, "bin") + ":" + env["PATH"]


def pad(b):
    return b + b"\0" * (-len(b) % 4)


def block(kind, body):
    n = len(body) + 12
    return struct.pack("<II", kind, n) + body + struct.pack("<I", n)


def option(code, value, length=None):
    return struct.pack("<HH", code, len(value) if length is None else length) + pad(value)


def shb(options=b""):
    return block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1) + options)


def idb(options=b""):
    return block(1, struct.pack("<HHI", 220, 0, 0) + options)  # usbmon, 64-byte headers


def usbmon(event, endpoint, data):
    return (struct.pack("<QcBBBHcc", 0x1234, event, 3, endpoint, 7, 1, b"-", b"=") +
            struct.pack("<qiiII", 1796047331, 0, 0, len(data), len(data)) + bytes(24) + bytes(data))


def epb(packet, options=b"", ms=0, kind=6):
    stamp = 1796047331000000 + 1000 * ms
    if kind == 2:  # the obsolete Packet Block
        head = struct.pack("<HHIIII", 0, 0, stamp >> 32, stamp & 0xFFFFFFFF, len(packet), len(packet))
    else:
        head = struct.pack("<IIIII", 0, stamp >> 32, stamp & 0xFFFFFFFF, len(packet), len(packet))
    return block(kind, head + pad(packet) + options)


REQUEST = [0x56]
REPLY = [0x56, 0x51, 0x4D, 0x52, 0x35, 0x56]


def pair(ms):
    return epb(usbmon(b"S", 0x01, REQUEST), ms=ms) + epb(usbmon(b"C", 0x81, REPLY), ms=ms + 1)


def hexpairs(data):
    return "".join("%02X" % b for b in data)


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, env=env, cwd=work, **kw)


def tshark_messages(path):
    """tshark's verdict and the payloads of the frames it reads."""
    r = run(["tshark", "-r", path, "-T", "fields", "-e", "usb.capdata"])
    damaged = "appears to be damaged or corrupt" in r.stderr
    if r.returncode != 0 and not damaged:
        raise SystemExit("tshark failed on %s: %s" % (path, r.stderr))
    return damaged, [line.replace(":", "").upper() for line in r.stdout.splitlines() if line]


def vornlog_json(path):
    r = run([vornlog, "-n", "-j", path, "out.jsonl"])
    lines = []
    if os.path.exists(os.path.join(work, "out.jsonl")):
        with open(os.path.join(work, "out.jsonl")) as f:
            lines = [json.loads(line) for line in f]
        os.remove(os.path.join(work, "out.jsonl"))
    return r, lines


P = lambda options, kind=6: epb(usbmon(b"S", 0x01, REQUEST), options, ms=5, kind=kind)
CASES = {
    # Read by tshark.
    "flags and the end of options": P(option(2, b"\1\0\0\0") + option(0, b"")),
    "no end of options": P(option(2, b"\1\0\0\0")),
    "bytes after the end of options": P(option(0, b"") + b"\xff\xff\xff\xff"),
    "an end of options with a value": P(option(0, b"abcd")),
    "an empty hash and comment": P(option(3, b"") + option(1, b"")),
    "an unknown option": P(option(0x1234, b"xyz")),
    "a custom option of 4 bytes": P(option(2988, b"abcd")),
    "a verdict of 1 byte": P(option(7, b"\x09")),
    "a packet block with flags": P(option(2, b"abcd"), kind=2),
    "interface options after their end": idb(option(0, b"") + b"\xff\xff\xff\xff"),
    # Refused by tshark.
    "an option past its block": P(struct.pack("<HH", 1, 8) + b"abcd"),
    "an option of length 65535": P(struct.pack("<HH", 1, 65535) + b"abcd"),
    "an option of length 5 in 4 bytes": P(struct.pack("<HH", 1, 5) + b"abcd"),
    "an end of options past its block": P(struct.pack("<HH", 0, 100)),
    "flags of 3 bytes": P(option(2, b"\1\0\0")),
    "flags of 8 bytes": P(option(2, bytes(8))),
    "a drop count of 4 bytes": P(option(4, bytes(4))),
    "a packet id of 4 bytes": P(option(5, bytes(4))),
    "a queue of 8 bytes": P(option(6, bytes(8))),
    "an empty verdict": P(option(7, b"")),
    "a custom option of 2 bytes": P(option(19373, b"ab")),
    "a packet block's option past its block": P(struct.pack("<HH", 1, 8) + b"abcd", kind=2),
    "a packet block's flags of 3 bytes": P(option(2, b"abc"), kind=2),
    "an interface option past its block": idb(struct.pack("<HH", 2, 12) + b"abcd"),
    "an interface's custom option of 2 bytes": idb(option(2988, b"ab")),
    "a section option past its block": shb(struct.pack("<HH", 2, 12) + b"abcd") + idb(),
}

failures = 0


def fail(name, why):
    global failures
    failures += 1
    print("FAIL: %s: %s" % (name, why), file=sys.stderr)


for number, (name, under_test) in enumerate(CASES.items()):
    before = shb() + idb() + pair(0)
    capture = before + under_test + pair(10)
    path = os.path.join(work, "case%d.pcapng" % number)
    with open(path, "wb") as f:
        f.write(capture)
    damaged, shown = tshark_messages(path)
    r, lines = vornlog_json(path)
    listed = [line["bytes"] for line in lines]
    if damaged:
        expected = "Damaged capture file, "
        where = " at byte offset %d: %s\n" % (len(before), path)
        if r.returncode != 1 or not r.stderr.startswith(expected) or not r.stderr.endswith(where):
            fail(name, "tshark refuses it; vornlog ends with %d: %r" % (r.returncode, r.stderr))
        elif listed != shown:
            fail(name, "the messages before the damage: tshark %s, vornlog %s" % (shown, listed))
        else:
            print("ok: %s: damaged, as tshark finds (%s)" % (name, r.stderr.strip()))
    elif r.returncode != 0:
        fail(name, "tshark reads it; vornlog ends with %d: %r" % (r.returncode, r.stderr))
    elif listed != shown:
        fail(name, "tshark shows %s, vornlog %s" % (shown, listed))
    else:
        print("ok: %s: %d messages, as tshark shows" % (name, len(listed)))

# Times past what 64-bit nanoseconds hold: the interface adds 9223372036 s
# (if_tsoffset) to time stamps of milliseconds (if_tsresol 3).
stamps = [0, 1, 2, 3]
blocks = b""
for i, ms in enumerate(stamps):
    packet = usbmon(b"S", 0x01, REQUEST) if i % 2 == 0 else usbmon(b"C", 0x81, REPLY)
    stamp = 1796047331000 + ms
    blocks += block(6, struct.pack("<IIIII", 0, stamp >> 32, stamp & 0xFFFFFFFF, len(packet), len(packet)) + pad(packet))
offset = option(9, b"\x03") + option(14, struct.pack("<q", 9223372036)) + option(0, b"")
path = os.path.join(work, "far.pcapng")
with open(path, "wb") as f:
    f.write(shb() + idb(offset) + blocks)
r = run(["tshark", "-r", path, "-T", "fields", "-e", "frame.time_epoch"])
epochs = [line.strip() for line in r.stdout.splitlines() if line.strip()]
r2 = run(["tshark", "-r", path, "-t", "ud"])
tshark_dates = [" ".join(line.split()[1:3]) for line in r2.stdout.splitlines()]
r, lines = vornlog_json(path)
if r.returncode != 0 or len(lines) != len(stamps) or len(epochs) != len(stamps):
    fail("far times", "vornlog %d %r, %d lines; tshark %d frames" % (r.returncode, r.stderr, len(lines), len(epochs)))
else:
    ok = True
    first = None
    for line, epoch, shown in zip(lines, epochs, tshark_dates):
        seconds, _, fraction = epoch.partition(".")
        day = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=int(seconds))
        expected = day.strftime("%Y-%m-%dT%H:%M:%S") + "." + (fraction + "000000000")[:3] + "Z"
        # tshark's own line shows the same date and time, to the millisecond.
        if not shown.startswith(expected[:10] + " " + expected[11:23]):
            fail("far times", "tshark's fields %s and its line %s disagree" % (expected, shown))
            ok = False
        if first is None:
            first = int(seconds) * 1000 + int((fraction + "000")[:3])
        ms = int(seconds) * 1000 + int((fraction + "000")[:3]) - first
        if line["time"] != expected or line["t"] != ms / 1000:
            fail("far times", "tshark shows %s (t %.3f), vornlog %r (t %r)" % (expected, ms / 1000, line["time"], line["t"]))
            ok = False
    # The summary's start and end, to the microsecond.
    run([vornlog, "-n", "-t", path, "summary.txt"])
    with open(os.path.join(work, "summary.txt")) as f:
        summary = f.read()
    for label, epoch in (("Start", epochs[0]), ("End", epochs[-1])):
        seconds, _, fraction = epoch.partition(".")
        day = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=int(seconds))
        expected = day.strftime("%Y-%m-%d %H:%M:%S") + "." + (fraction + "000000")[:6] + " UTC"
        if not any(line.startswith("  " + label + " ") and line.endswith(" " + expected) for line in summary.splitlines()):
            fail("far times", "the summary's %s is not %s:\n%s" % (label, expected, summary))
            ok = False
    if ok:
        print("ok: far times: %s ... as tshark shows, in the JSON Lines and the summary" % lines[0]["time"])

shutil.rmtree(work)
sys.exit(1 if failures else 0)
