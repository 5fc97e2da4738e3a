#!/usr/bin/env python3
"""Random captures of the controller's traffic, for checks that compare
outputs: text dumps and usbmon pcapng files whose messages follow each
instruction's layout loosely (known sub-commands most of the time, any byte
now and then, messages cut short or longer than their layout), with texts
of any bytes (UTF-8, invalid UTF-8, control characters, NUL, quotes).

    random_captures.py DIR COUNT [SEED]

writes DIR/random-N.txt and DIR/random-N.pcapng for N from 1 to COUNT.
"""
import random
import struct
import sys

KNOWN = [0x42, 0x44, 0x46, 0x47, 0x49, 0x4C, 0x4D, 0x4F, 0x50, 0x53, 0x54, 0x56, 0x5A]


def pick(rng, choices, other=0.15):
    """One of the choices, or now and then any byte."""
    return rng.randrange(256) if rng.random() < other else rng.choice(choices)


def some(rng, n):
    return bytes(rng.randrange(256) for _ in range(n))


def text(rng, n):
    """n bytes of text: printable, UTF-8, or anything at all."""
    kind = rng.random()
    if kind < 0.4:
        return bytes(rng.randrange(0x20, 0x7F) for _ in range(n))
    if kind < 0.6:
        s = "".join(rng.choice("aé€𝄞\"\\/<>") for _ in range(n)).encode()
        return s[:n].ljust(n, b" ")
    return some(rng, n)


def value(rng, width):
    return rng.randrange(1 << (8 * width)).to_bytes(width, "little")


def layout(rng, code, pc):
    """The bytes after the instruction code."""
    if code == 0x44 and pc:
        cmd = rng.randrange(256) if rng.random() < 0.3 else rng.randrange(128)
        body = bytes([cmd]) + value(rng, 4) + b"".join(value(rng, 4) for _ in range(5))
        if cmd & 0x40:
            body += some(rng, 1)
        if cmd & 0x20:
            body += some(rng, 2) + value(rng, 4)
        return body
    if code in (0x44, 0x49) and not pc:
        return bytes([pick(rng, [0, 1, 0xFF], 0.3)]) + some(rng, 14)
    if code == 0x42:
        if not pc:
            return bytes([pick(rng, [0, 1, 0xFF])])
        cmd = pick(rng, [0, 1, 2, 0x80])
        return bytes([cmd]) + (some(rng, 3) if cmd == 2 else b"")
    if code == 0x53:
        return bytes([pick(rng, [0, 1, 3])]) if pc else some(rng, 8)
    if code == 0x54:
        first = pick(rng, list(range(9)) if pc else [0, 3, 5, 7, 0xFF])
        body = bytes([first, pick(rng, [0, 1, 2])])
        part = {3: 30, 4: 30, 5: 30, 6: 30, 7: 10, 8: 10}.get(first, 0)
        if part == 30 and first in (3, 4):
            name = b"\0" + some(rng, 7) if rng.random() < 0.2 else text(rng, 8)
            axes = bytes(pick(rng, [0, 4, 5, 8, 0x0C, 0x10, 0x20, 0x23, 0x32]) for _ in range(5))
            outs = bytes(rng.choice([0, 0x81, 0x02, 0x43, 0xC5]) if rng.random() < 0.7 else rng.randrange(256)
                         for _ in range(10))
            rest = bytes([rng.randrange(256), pick(rng, list(range(16))), rng.randrange(256),
                          pick(rng, [0, 30, 127, 128]), rng.randrange(256), rng.randrange(256), rng.randrange(256)])
            body += name + axes + outs + rest
        elif part == 30:
            steps = b"".join(value(rng, 2) if rng.random() < 0.7 else b"\0\0" for _ in range(5))
            body += steps + some(rng, 20)
        else:
            body += some(rng, part)
        return body
    if code == 0x4C:
        if not pc:
            return bytes([pick(rng, [0, 1])])
        first = pick(rng, [0, 1, 0x10, 0x11, 2, 3, 4, 5, 6])
        if first in (0, 1, 0x10, 0x11):
            length = pick(rng, list(range(1, 21)), 0.2)
            return bytes([first, pick(rng, list(range(20)), 0.2), length]) + text(rng, length)
        if first == 6:
            return bytes([first, pick(rng, list(range(8)), 0.3)]) + some(rng, 8)
        return bytes([first])
    if code == 0x4D:
        return bytes([pick(rng, [0, 1, 2, 3]) if pc else pick(rng, [0, 1]), pick(rng, [0, 30, 127, 200])])
    if code == 0x47:
        return bytes([pick(rng, [0, 1, 2, 3]) if pc else pick(rng, [0, 1]), rng.randrange(256)])
    if code == 0x4F:
        return bytes([pick(rng, [0, 1, 2])]) if pc else some(rng, 1)
    if code == 0x50:
        return bytes([pick(rng, [0, 1, 2]), rng.randrange(256)]) if pc else bytes([pick(rng, [0, 1])]) + some(rng, 3)
    if code == 0x56:
        return b"" if pc else text(rng, 11)
    if code == 0x46:
        return b"" if pc else some(rng, 4)
    if code == 0x5A:
        return (b"\x55\xAA" if rng.random() < 0.7 else some(rng, 2)) + bytes([pick(rng, [0, 1])])
    return some(rng, rng.randrange(12))


def message(rng):
    pc = rng.random() < 0.5
    code = rng.choice(KNOWN) if rng.random() < 0.9 else rng.randrange(256)
    body = layout(rng, code, pc)
    r = rng.random()
    if r < 0.08:
        body = body[: rng.randrange(len(body) + 1)]
    elif r < 0.14:
        body += some(rng, rng.randrange(1, 6))
    return pc, bytes([code]) + body[:70]


def hex_pairs(data, lower=False):
    s = " ".join(f"{b:02X}" for b in data)
    return s.lower() if lower else s


def time_column(form, ns):
    seconds, fraction = divmod(ns, 10**9)
    if form == "none":
        return "-"
    if form == "seconds":
        return f"{seconds - 1_796_000_000}.{fraction // 1000:06d}"
    import datetime
    stamp = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=seconds)
    clock = f"{stamp:%H:%M:%S}.{fraction // 10**6:03d}"
    if form == "clock":
        return clock
    if form == "iso":
        return f"{stamp:%Y-%m-%d}T{clock}Z"
    return f"{stamp:%Y-%m-%d} {clock}"


def text_dump(rng, messages):
    """A text dump of the messages, with short and broken lines among them."""
    form = rng.choice(["date", "iso", "clock", "seconds", "none"])
    end = "\r\n" if rng.random() < 0.5 else "\n"
    lines = []
    for n, (pc, data, ns) in enumerate(messages, 1):
        r = rng.random()
        if r < 0.03:
            lines.append(f"{n}\tOUT\t-\t1\t56{end}")  # 40 characters or fewer
            continue
        if r < 0.05:
            lines.append(f"a line without columns of any kind, long enough to pass{end}")
            continue
        ascii_column = "".join(chr(b) if 0x20 <= b < 0x7F else "." for b in data)
        line = f"{n:06d}\t{'OUT' if pc else 'IN'}\t{time_column(form, ns)}\t{len(data)}\t"
        line += hex_pairs(data, lower=rng.random() < 0.05)
        if rng.random() < 0.8 or len(line) < 41:
            line += "\t" + ascii_column + " " * max(0, 41 - len(line) - len(ascii_column))
        lines.append(line + end)
    return "".join(lines).encode("latin-1")


def pcapng(rng, messages, bus=1, address=7):
    """A usbmon pcapng (link type 220) of the messages, with a second device's
    interrupt packets among them."""
    nano = rng.random() < 0.5
    units = 10**9 if nano else 10**6

    def block(kind, body):
        body += b"\0" * (-len(body) % 4)
        return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)

    out = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    options = struct.pack("<HHB3x", 9, 1, 9 if nano else 6) + struct.pack("<HH", 0, 0)
    out += block(1, struct.pack("<HHI", 220, 0, 262144) + options)

    def packet(ns, event, endpoint, dev, data, transfer=3):
        header = struct.pack("<QBBBBHbb", rng.randrange(1 << 32), ord(event), transfer, endpoint, dev, bus,
                             ord("-"), ord("=" if data else "<"))
        header += struct.pack("<qiiII", ns // 10**9, (ns % 10**9) // 1000, 0, len(data), len(data))
        header += b"\0" * 8 + struct.pack("<iiII", 0, 0, 0, 0)
        stamp = ns * units // 10**9
        frame = header + data
        return block(6, struct.pack("<IIIII", 0, stamp >> 32, stamp & 0xFFFFFFFF, len(frame), len(frame)) + frame)

    for pc, data, ns in messages:
        if rng.random() < 0.1:
            out += packet(ns - 50_000, "C", 0x81, 3, some(rng, 4), transfer=1)  # a mouse
        if pc:
            out += packet(ns, "S", 0x01, address, data) + packet(ns + 150_000, "C", 0x01, address, b"")
        else:
            out += packet(ns - 150_000, "S", 0x81, address, b"") + packet(ns, "C", 0x81, address, data)
    return out


def session(seed, count=None):
    rng = random.Random(seed)
    ns = 1_796_047_331_521_000_000 + rng.randrange(10**12)
    messages = []
    for _ in range(count or rng.randrange(20, 120)):
        ns += rng.randrange(1_000_000, 40_000_000) + rng.randrange(1000)
        pc, data = message(rng)
        messages.append((pc, data, ns))
    return rng, messages


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    for n in range(1, count + 1):
        rng, messages = session(seed * 100_003 + n)
        with open(f"{folder}/random-{n}.txt", "wb") as f:
            f.write(text_dump(rng, messages))
        with open(f"{folder}/random-{n}.pcapng", "wb") as f:
            f.write(pcapng(rng, messages))


if __name__ == "__main__":
    main()
