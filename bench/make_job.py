#!/usr/bin/env python3
"""Writes a text dump of one long machining job: LINES lines, a Data message
and its reply every 4 ms, each segment of its own (NBR and S1 to S3 drawn
from the segment's number, the same in every run of the job). With
STALL_EVERY > 0, every STALL_EVERY segments the PC program falls silent for
300 ms and the buffer runs dry: the same job that stalls. The same
arguments always give the same bytes.

    python3 bench/make_job.py LINES STALL_EVERY > job.txt
"""
import sys


def main():
    lines, every = int(sys.argv[1]), int(sys.argv[2])
    out = sys.stdout
    write = out.write
    number = 0

    def line(pc, ms, hex_):
        nonlocal number
        number += 1
        write(f"{number}\t{'OUT' if pc else 'IN'}\t{ms // 1000}.{ms % 1000:03d}000\t{(len(hex_) + 1) // 3}\t{hex_}\t.\r\n")

    def le(v, n):
        return " ".join(f"{(v >> (8 * i)) & 0xFF:02X}" for i in range(n))

    line(True, 0, "56")
    line(False, 1, "56 56 31 2E 30 35 20 20 20")
    # The job: the buffer reset, USB mode, then Execute after the first
    # segment.
    line(True, 2, "42 00")
    line(False, 3, "42 FF")
    line(True, 4, "42 01")
    line(False, 5, "42 FF")
    ms, seg, fill, k = 10, 0, 1, 0
    while number + 2 <= lines:
        k += 1
        if k == 2:
            line(True, ms, "42 80")
            line(False, ms + 1, "42 FF")
            ms += 4
        seg = (seg + 1) & 0xFF
        nbr = 400 + (k * 7919) % 200
        steps = [2 * ((k * 104729) % 400), 2 * ((k * 1299709) % 300), 2 * ((k * 15485863) % 100), 0, 0]
        data = "44 1F " + le(nbr, 4) + " " + " ".join(le(s, 4) for s in steps)
        if every and k % every == 0:
            ms += 300
            dry = "00 " + f"{seg:02X}" + " 00 00 48 00 00 00 04 80 00 00 00 00"
            line(True, ms, data)
            line(False, ms + 1, "44 01 " + dry)
        else:
            line(True, ms, data)
            line(False, ms + 1, f"44 01 {fill:02X} {seg:02X} 00 00 49 00 00 00 04 00 2C 01 00 00")
            fill = 3 - fill
        ms += 4
    return 0


if __name__ == "__main__":
    sys.exit(main())
