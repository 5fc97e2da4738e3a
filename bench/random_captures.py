#!/usr/bin/env python3
"""Writes random text dumps of sessions with the controller, for comparing
two builds of vornlog on many shapes of input:

    random_captures.py COUNT FOLDER [SEED]

Each dump mixes messages of every instruction code the controller knows
(and a few it does not), in both directions, with random lengths around
the right ones, random bytes, short lines, lines without a data field,
odd time columns and now and then a CRLF line end. The same SEED gives
the same files."""
import random
import sys

CODES = [0x42, 0x44, 0x46, 0x47, 0x49, 0x4C, 0x4D, 0x4F, 0x50, 0x53, 0x54, 0x56, 0x5A]
LENGTHS = {0x42: 4, 0x44: 40, 0x46: 6, 0x47: 4, 0x49: 1, 0x4C: 24, 0x4D: 3,
           0x4F: 3, 0x50: 4, 0x53: 4, 0x54: 64, 0x56: 17, 0x5A: 3}


def message(rng):
    code = rng.choice(CODES) if rng.random() < 0.95 else rng.randrange(256)
    base = LENGTHS.get(code, 8)
    length = max(1, base + rng.choice([0, 0, 0, 0, -1, 1, -3, 5, rng.randrange(-base, 20)]))
    data = [code] + [rng.choice([0, 1, 2, 0xFF, rng.randrange(256)]) for _ in range(length - 1)]
    return " ".join("%02X" % b for b in data)


def line(rng, n, ms):
    direction = rng.choice(["OUT", "IN"])
    stamp = "2026-%02d-%02d %02d:%02d:%02d.%03d" % (rng.choice([11, 12]), rng.randrange(1, 29), ms // 3600000 % 24,
                                                 ms // 60000 % 60, ms // 1000 % 60, ms % 1000)
    kind = rng.random()
    if kind < 0.03:
        text = "%d\t%s\tshort" % (n, direction)
    elif kind < 0.05:
        text = "%d\t%s\t%s\tno data field here, just words and more words" % (n, direction, stamp)
    else:
        data = message(rng)
        shown = "".join(chr(int(b, 16)) if 0x20 <= int(b, 16) < 0x7F else "." for b in data.split())
        text = "%06d\t%s\t%s\t%d\t%s\t%s" % (n, direction, stamp, len(data.split()), data, shown)
    return text + ("\r\n" if rng.random() < 0.2 else "\n")


def main():
    count, folder = int(sys.argv[1]), sys.argv[2]
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 26
    for i in range(count):
        rng = random.Random(seed * 1000 + i)
        ms = rng.randrange(86400000)
        with open("%s/random-%02d.txt" % (folder, i), "w", newline="") as f:
            for n in range(1, rng.randrange(20, 400)):
                ms += rng.randrange(1, 50)
                f.write(line(rng, n, ms))


main()
