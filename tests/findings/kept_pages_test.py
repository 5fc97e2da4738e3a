#!/usr/bin/env python3
"""The pages kept of the findings (--keep=DIR), end to end: long generated
captures with a planted stall (a text dump read through a pipe that stays
open, a followed file that stops growing, the same messages as a pcapng
file), a stall longer than a minute and one still open where the capture
ends. Each page is named by its number,
start time and kind, holds exactly the part of the capture around its
finding (its embedded capture compared with that slice of the input; the
pcapng part read by tshark), and a second run never overwrites it. Then the
usage errors.

    kept_pages_test.py VORNLOG
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "viewer"))
from page_capture import embedded_capture  # noqa: E402

VORNLOG = os.path.abspath(sys.argv[1])
PATIENCE = 120  # seconds: a generous limit, never a measure
EPOCH = 1_700_000_000  # the pcapng's first second
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


DATA = bytes.fromhex("44 1F F4 01 00 00 04 00" + " 00" * 18)


def session(seconds, stall_at, stall_for, info_stall=False, end_in_stall=False):
    """Messages (ms, from_pc, bytes): a Data exchange every 50 ms; at
    `stall_at` the PC falls silent for `stall_for` s (or asks for
    Information, whose replies show the buffer dry) and the buffer runs
    dry, until the next Data message."""
    messages = [(0, True, bytes.fromhex("56")), (1, False, bytes.fromhex("56 56 31 2E 30 35 20 20 20"))]
    ms, seg, fill, stalled = 10, 0, 1, False
    while ms < seconds * 1000:
        seg = (seg + 1) % 256
        if not stalled and ms >= stall_at * 1000:
            stalled = True
            dry = bytes.fromhex("00 %02X 00 00 48 00 00 00 04 80 00 00 00 00" % seg)
            end = ms + stall_for * 1000
            while info_stall and ms < end:
                messages += [(ms, True, b"\x49"), (ms + 1, False, b"\x49\x00" + dry)]
                ms += 50
            if end_in_stall:
                return messages
            # The block of the reply shows the buffer as the segment came.
            messages += [(end, True, DATA), (end + 1, False, b"\x44\x01" + dry)]
            ms = end
        else:
            reply = "44 01 %02X %02X 00 00 49 00 00 00 04 00 2C 01 00 00" % (fill, seg)
            messages += [(ms, True, DATA), (ms + 1, False, bytes.fromhex(reply))]
            fill = 3 - fill
        ms += 50
    return messages


def text_dump(messages):
    """Capture lines as the capture tool writes them, CRLF; with each
    line's time in seconds."""
    lines = []
    for n, (ms, pc, m) in enumerate(messages, 1):
        text = "".join(chr(c) if 32 <= c < 127 else "." for c in m)
        hexes = " ".join("%02X" % c for c in m)
        line = "%d\t%s\t%d.%03d000\t%d\t%s\t%s\r\n" % (n, "OUT" if pc else "IN", ms // 1000, ms % 1000, len(m), hexes, text)
        lines.append((ms / 1000, line.encode()))
    return lines


def block(kind, body):
    body += b"\0" * (-len(body) % 4)
    return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)


def pcapng(messages, late_interface=None):
    """The messages as usbmon records them (bus 1, device 7, bulk): the
    header blocks, then (time, block) for each message. `late_interface`
    (a block): a second interface, declared after the first packet, that
    the packets after it are captured on."""
    header = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1)) + block(1, struct.pack("<HHI", 220, 0, 262144))
    packets = []
    for n, (ms, pc, m) in enumerate(messages):
        if n == 1 and late_interface:
            packets.append((None, late_interface))
        sec, usec = EPOCH + ms // 1000, (ms % 1000) * 1000
        usb = struct.pack("<QBBBBHBBqiiII8siiII", n, ord("S" if pc else "C"), 3, 0x01 if pc else 0x81, 7, 1, 0, 0,
                          sec, usec, 0, len(m), len(m), b"\0" * 8, 0, 0, 0, 0) + m
        ts = sec * 1_000_000 + usec
        interface = 1 if late_interface and n >= 1 else 0
        packets.append((ms / 1000, block(6, struct.pack("<IIIII", interface, ts >> 32, ts & 0xFFFFFFFF, len(usb),
                                                        len(usb)) + usb)))
    return header, packets


def kept_capture(path):
    found = embedded_capture(open(path, encoding="utf-8").read())
    return found[1] if found else None


def between(records, ranges):
    return b"".join(b for t, b in records if t is not None and any(lo - 1e-9 <= t <= hi + 1e-9 for lo, hi in ranges))


def window(finding):
    """The parts of the capture a finding's page keeps."""
    start, end = finding["start"], finding["end"]
    if end - start <= 60:
        return [(start - 60, end + 10)]
    return [(start - 60, start + 60), (end - 10, end + 10)]


def findings(jsonl):
    done = {}
    for line in open(jsonl):
        f = json.loads(line)
        done[f["id"]] = f  # the last word on each
    return list(done.values())


def page_name(f, again=""):
    ms = round(f["start"] * 1000)
    return "finding-%04d-%d.%03ds-%s%s.html" % (f["id"], ms // 1000, ms % 1000, f["kind"], again)


def run(box, args, **kw):
    return subprocess.run([VORNLOG, "-n"] + args, cwd=box, capture_output=True, timeout=PATIENCE, **kw)


def main():
    box = tempfile.mkdtemp(prefix="vornlog-keep-")
    try:
        keep = os.path.join(box, "kept")
        os.mkdir(keep)

        # A text dump of five minutes through a pipe that stays open: the
        # page comes while vornlog still reads.
        lines = text_dump(session(300, 150, 3))
        dump = b"".join(b for _, b in lines)
        open(os.path.join(box, "long.txt"), "wb").write(dump)
        p = subprocess.Popen([VORNLOG, "-n", "-e", "--keep=kept", "-", "found.jsonl"], cwd=box, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        said = []
        reader = threading.Thread(target=lambda: said.extend(iter(p.stdout.readline, b"")), daemon=True)
        reader.start()
        p.stdin.write(dump)
        p.stdin.flush()
        deadline = time.monotonic() + PATIENCE
        while not any(b"Finding kept:" in line for line in said) and time.monotonic() < deadline:
            time.sleep(0.05)
        check(any(b"Finding kept: kept/" in line for line in said), "the page is written while the pipe is open")
        p.stdin.close()
        check(p.wait(PATIENCE) == 0, "the run through a pipe ends with status 0: %s" % p.stderr.read())
        reader.join(PATIENCE)
        found = findings(os.path.join(box, "found.jsonl"))
        check([(f["kind"], f["cause"]) for f in found] == [("underrun", "host-gap")], "the planted stall: %s" % found)
        names = sorted(os.listdir(keep))
        check(names == [page_name(found[0])], "the page's name: %s" % names)
        stall = found[0]
        first = open(os.path.join(keep, names[0]), "rb").read() if names else b""
        check(kept_capture(os.path.join(keep, names[0])) == between(lines, window(found[0])),
              "the page holds the capture from 60 s before the stall to 10 s after it")

        # A second run never overwrites it; the same capture read from the
        # file makes the same finding.
        r = run(box, ["-q", "-e", "--keep=kept", "long.txt", "again.jsonl"])
        check(r.returncode == 0, "the second run: %s" % r.stderr)
        check(sorted(os.listdir(keep)) == sorted([page_name(found[0]), page_name(found[0], "-2")]),
              "the second run's page gets a name of its own: %s" % os.listdir(keep))
        check(open(os.path.join(keep, page_name(found[0])), "rb").read() == first, "the first page is untouched")
        check(kept_capture(os.path.join(keep, page_name(found[0], "-2"))) == kept_capture(os.path.join(keep, names[0])),
              "the same page from the file")

        # A followed file that goes on for 77 s after a stall: its page
        # comes once the capture has passed the stall's end by 70 s, while
        # vornlog waits, before Ctrl-C.
        lines = text_dump(session(200, 120, 3))
        open(os.path.join(box, "followed.txt"), "wb").write(b"".join(b for _, b in lines))
        os.mkdir(os.path.join(box, "waited"))
        p = subprocess.Popen([VORNLOG, "-n", "-q", "-e", "-f", "--keep=waited", "followed.txt", "waited.jsonl"], cwd=box)
        deadline = time.monotonic() + PATIENCE
        while not os.listdir(os.path.join(box, "waited")) and time.monotonic() < deadline:
            time.sleep(0.1)
        check(p.poll() is None and len(os.listdir(os.path.join(box, "waited"))) == 1,
              "the page of a followed file comes while it waits")
        p.terminate()
        check(p.wait(PATIENCE) == 0, "a followed file's run ends with status 0")
        found = findings(os.path.join(box, "waited.jsonl"))
        if found:
            kept = kept_capture(os.path.join(box, "waited", page_name(found[0])))
            check(kept == between(lines, window(found[0])), "the page of the followed file")

        # The live viewer keeps the same page (where its module is built).
        if os.path.exists(os.path.join(os.path.dirname(VORNLOG), "vornlog-live.so")):
            os.mkdir(os.path.join(box, "served"))
            p = subprocess.Popen([VORNLOG, "-n", "-l", "--keep=served", "long.txt", "served.html"], cwd=box,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            said = b""
            while b"serves until Ctrl-C" not in said:
                chunk = p.stdout.read1(65536)
                if not chunk:
                    break
                said += chunk
            p.terminate()
            p.wait(PATIENCE)
            check(os.listdir(os.path.join(box, "served")) == [page_name(stall)] and
                  kept_capture(os.path.join(box, "served", page_name(stall))) ==
                  kept_capture(os.path.join(keep, page_name(stall))), "-l keeps the same page: %s" % said)

        # A stall of 100 s, the PC asking for Information meanwhile: its
        # first minute and its last 10 s; and one still open at the end.
        for name, messages in (("longstall.txt", session(400, 150, 100, info_stall=True)),
                               ("open.txt", session(200, 150, 20, info_stall=True, end_in_stall=True))):
            lines = text_dump(messages)
            open(os.path.join(box, name), "wb").write(b"".join(b for _, b in lines))
            folder = os.path.join(box, name + ".kept")
            os.mkdir(folder)
            r = run(box, ["-q", "-e", "--keep=" + name + ".kept", name, name + ".jsonl"])
            check(r.returncode == 0, "%s: %s" % (name, r.stderr))
            found = findings(os.path.join(box, name + ".jsonl"))
            check([f["kind"] for f in found] == ["underrun"], "%s: one underrun: %s" % (name, found))
            check(sorted(os.listdir(folder)) == [page_name(f) for f in found], "%s: %s" % (name, os.listdir(folder)))
            for f in found:
                if name == "longstall.txt":
                    check(f["end"] - f["start"] > 90 and not f["ongoing"], "%s lasts: %s" % (name, f))
                else:
                    check(f["ongoing"], "%s is open at the end: %s" % (name, f))
                kept = kept_capture(os.path.join(folder, page_name(f)))
                check(kept == between(lines, window(f)), "%s: the page's part of the capture" % name)

        # The pcapng of the same messages, their packets on an interface
        # declared after the first packet: the page holds the header
        # blocks, that interface's and the blocks around the stall, which
        # tshark reads.
        late = block(1, struct.pack("<HHI", 220, 0, 262144))
        header, packets = pcapng(session(300, 150, 3), late)
        open(os.path.join(box, "long.pcapng"), "wb").write(header + b"".join(b for _, b in packets))
        os.mkdir(os.path.join(box, "usb"))
        r = run(box, ["-q", "-e", "--keep=usb", "long.pcapng", "usb.jsonl"])
        check(r.returncode == 0, "pcapng: %s" % r.stderr)
        found = findings(os.path.join(box, "usb.jsonl"))
        check([f["kind"] for f in found] == ["underrun"], "pcapng: the planted stall: %s" % found)
        names = os.listdir(os.path.join(box, "usb"))
        check(names == [page_name(found[0])] if found else False, "pcapng: the page's name: %s" % names)
        if names and found:
            kept = kept_capture(os.path.join(box, "usb", names[0]))
            expected = header + late + between(packets, [(lo + 0.0, hi) for lo, hi in window(found[0])])
            check(kept == expected, "pcapng: the page holds the header and the blocks around the stall")
            if shutil.which("tshark"):
                open(os.path.join(box, "part.pcapng"), "wb").write(kept or b"")
                t = subprocess.run(["tshark", "-r", "part.pcapng", "-T", "fields", "-e", "frame.time_epoch"], cwd=box,
                                   capture_output=True, text=True, timeout=PATIENCE)
                times = [float(x) - EPOCH for x in t.stdout.split()]
                expected = [round(at, 3) for at, b in packets if between([(at, b)], window(found[0]))]
                check(t.returncode == 0 and [round(at, 3) for at in times] == expected,
                      "tshark reads the kept part: %s %s" % (t.returncode, t.stderr))

        # Usage errors: the usage text, status 1; a folder that is not one.
        for args in (["--keep", "-e"], ["--keep=", "-e"], ["-v", "--keep=kept"], ["--keepkept", "-e"]):
            r = run(box, args + ["long.txt", "out.txt"])
            check(r.returncode == 1 and b"Usage:" in r.stdout, "usage text for %s" % args)
        r = run(box, ["-e", "--keep=long.txt", "long.txt", "out.txt"])
        check(r.returncode == 1 and b"not a folder one may write to: long.txt" in r.stderr, "a file for a folder: %s" % r.stderr)
        check(not os.path.exists(os.path.join(box, "out.txt")), "nothing written after a usage error")
    finally:
        shutil.rmtree(box, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("kept pages: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
