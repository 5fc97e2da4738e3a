#!/usr/bin/env python3
"""The pages kept of the findings (--keep=DIR), end to end: long generated
captures with a planted stall (a text dump read through a pipe that stays
open, a followed file that stops growing, the same messages as a pcapng
file), a stall longer than a minute and one still open where the capture
ends. Each page is named by its number,
start time and kind, holds exactly the part of the capture around its
finding (its embedded capture compared with that slice of the input; the
pcapng part read by tshark), and a second run never overwrites it. Then a
capture with a finding every 44 lines (a PC program that sends another
segment after each "buffer full"): its findings share pages of at most 10
minutes, the pages stay within --keep-max (the oldest removed, a file of
the user's untouched) and the memory within 64 MiB; a page that cannot be
written (a file size limit) is told once, leaves nothing behind and ends
the run with status 1. Then the usage errors.

    kept_pages_test.py VORNLOG
"""
import json
import os
import resource
import signal
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "viewer"))
from page_capture import embedded_capture  # noqa: E402

VORNLOG = os.path.abspath(sys.argv[1]) if __name__ == "__main__" else None
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


def resending(lines, step_ms, every=20):
    """Text dump lines (bytes) of a PC program that, after each "buffer
    full" reply, sends another segment instead of the one refused: a
    resend-differs finding every `every` exchanges, a line every `step_ms`
    ms."""
    out = []
    seg = 0

    def put(pc, hexes):
        n = len(out) + 1
        ms = n * step_ms
        m = bytes.fromhex(hexes)
        out.append(b"%d\t%s\t%d.%03d000\t%d\t%s\t.\r\n" % (n, b"OUT" if pc else b"IN", ms // 1000, ms % 1000, len(m),
                                                          " ".join("%02X" % c for c in m).encode()))

    def data(x):
        return "44 00 %02X %02X 00 00" % (x & 0xFF, x >> 8 & 0xFF) + " 10 00 00 00" * 5

    def status(st, buf):
        return "44 %02X %02X %02X %02X 00 59 26 80 40 00 02 00 00 00 00" % (st, buf, seg & 0xFF, seg >> 8 & 0xFF)

    while len(out) < lines:
        for k in range(every):
            seg += 1
            put(True, data(seg))
            put(False, status(0x01, 1 + k % 6))
        put(True, data(seg + 1))
        put(False, status(0xFF, 7))  # buffer full: segment seg + 1 refused
        seg += 1
        put(True, data(seg + 7))     # and another one sent
        put(False, status(0x01, 6))
    return out[:lines]


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

        # A finding every 44 lines, a line every 20 ms (2,000 s): findings
        # share pages of at most 10 minutes, named by the first and the
        # last; the pages within --keep-max, the oldest removed; a file
        # that is not the run's own untouched; the memory bounded.
        heavy = b"".join(resending(100000, 20))
        open(os.path.join(box, "heavy.txt"), "wb").write(heavy)
        os.mkdir(os.path.join(box, "capped"))
        open(os.path.join(box, "capped", "notes.txt"), "w").write("the user's")
        with open(os.path.join(box, "capped.out"), "wb+") as said, open(os.path.join(box, "capped.err"), "wb+") as err:
            p = subprocess.Popen([VORNLOG, "-n", "-e", "--keep=capped", "--keep-max=4M", "heavy.txt", "heavy.jsonl"],
                                 cwd=box, stdout=said, stderr=err)
            _, status, usage = os.wait4(p.pid, 0)  # the peak resident memory of this run alone
            said.seek(0)
            err.seek(0)
            out, err = said.read(), err.read()
        peak = usage.ru_maxrss
        check(os.waitstatus_to_exitcode(status) == 0, "the capped run: %s" % err)
        check(peak < 64 * 1024, "peak resident memory %d KiB" % peak)
        found = sorted(findings(os.path.join(box, "heavy.jsonl")), key=lambda f: f["id"])
        said = [line.split(b": ", 1) for line in out.split(b"\n") if line.startswith((b"Finding kept", b"Finding page"))]
        kept = [name.decode()[len("capped/"):] for what, name in said if what == b"Finding kept"]
        removed = [name.decode()[len("capped/"):] for what, name in said if what != b"Finding kept"]
        pages = sorted(n for n in os.listdir(os.path.join(box, "capped")) if n != "notes.txt")
        check(len(found) > 2000 and len(kept) == 4, "%d findings, pages %s" % (len(found), kept))
        ids = [int(n.split("-")[1]) for n in kept] + [found[-1]["id"] + 1]
        starts = {f["id"]: f["start"] for f in found}
        check(kept == ["finding-%04d-%.3fs-resend-differs-to-%04d.html" % (a, starts[a], b - 1)
                       for a, b in zip(ids, ids[1:])] and
              all(starts[b - 1] + 10 - (starts[a] - 60) <= 600 for a, b in zip(ids, ids[1:])),
              "pages named by their first and last findings, within 10 minutes: %s" % kept)
        check(removed == kept[:len(removed)] and pages == sorted(kept[len(removed):]) and len(removed) > 0,
              "the oldest removed, each said once: %s; left %s" % (removed, pages))
        size = sum(os.path.getsize(os.path.join(box, "capped", n)) for n in pages)
        check(size <= 4 << 20, "the pages take %d bytes" % size)
        check(open(os.path.join(box, "capped", "notes.txt")).read() == "the user's", "the user's file untouched")
        last = [f for f in found if f["id"] >= ids[-2]]
        check(kept_capture(os.path.join(box, "capped", kept[-1])) ==
              b"".join(heavy.splitlines(keepends=True)[last[0]["first"] - 1 - 3000:]),
              "the last page holds the capture from 60 s before its first finding")

        # A page the file size limit refuses (the second; the first fits):
        # said once, nothing of it left, no page after it tried, status 1.
        sparse = b"".join(resending(6000, 200))
        open(os.path.join(box, "sparse.txt"), "wb").write(sparse)
        os.mkdir(os.path.join(box, "free"))
        r = run(box, ["-q", "-e", "--keep=free", "sparse.txt", "free.jsonl"])
        free = sorted(os.listdir(os.path.join(box, "free")))
        check(r.returncode == 0 and len(free) == 3, "the sparse capture's pages: %s %s" % (free, r.stderr))
        if len(free) == 3:
            first = os.path.join(box, "free", free[0])
            limit = os.path.getsize(first)
            check(len(sparse) < limit < os.path.getsize(os.path.join(box, "free", free[1])), "the limit's place")
            os.mkdir(os.path.join(box, "limited"))

            def limited():
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

            r = run(box, ["-e", "--keep=limited", "sparse.txt", "limited.jsonl"], preexec_fn=limited)
            check(r.returncode == 1 and r.stderr == b"Can't write to file: limited/%s\n" % free[1].encode(),
                  "one word of the failed page, status 1: %s %s" % (r.returncode, r.stderr))
            check(os.listdir(os.path.join(box, "limited")) == [free[0]] and
                  open(os.path.join(box, "limited", free[0]), "rb").read() == open(first, "rb").read(),
                  "only the page written whole is left: %s" % os.listdir(os.path.join(box, "limited")))

        # Usage errors: the usage text, status 1; a folder that is not one.
        for args in (["--keep", "-e"], ["--keep=", "-e"], ["-v", "--keep=kept"], ["--keepkept", "-e"],
                     ["-e", "--keep-max=1G"], ["-e", "--keep=kept", "--keep-max=0"], ["-e", "--keep=kept", "--keep-max=2T"],
                     ["-e", "--keep=kept", "--keep-max="], ["-e", "--keep=kept", "--keep-max=M"]):
            r = run(box, args + ["long.txt", "out.txt"])
            check(r.returncode == 1 and b"Usage:" in r.stdout, "usage text for %s" % args)
        r = run(box, ["-e", "--keep=long.txt", "long.txt", "out.txt"])
        check(r.returncode == 1 and b"not a folder one may write to: long.txt" in r.stderr, "a file for a folder: %s" % r.stderr)
        check(not os.path.exists(os.path.join(box, "out.txt")), "nothing written after a usage error")
        r = subprocess.run([VORNLOG, "-n", "-e", "--keep=kept", "long.txt", "out.txt"], cwd=box, capture_output=True,
                           timeout=PATIENCE, env=dict(os.environ, TMPDIR=os.path.join(box, "nowhere")))
        check(r.returncode == 1 and
              r.stderr == b"Can't keep the findings' pages, no temporary file in: %s\n" % os.path.join(box, "nowhere").encode() and
              not os.path.exists(os.path.join(box, "out.txt")), "no temporary folder: %s" % r.stderr)
    finally:
        shutil.rmtree(box, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("kept pages: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
