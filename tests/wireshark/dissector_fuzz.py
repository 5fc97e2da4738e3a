#!/usr/bin/env python3
"""The dissector against random controller payloads, through tshark.

    dissector_fuzz.py LUA [SEED] [MAX_LENGTH]

A usbmon pcapng of device 1.7 holds, for every first byte (every instruction
code and every other one), a message of every length from 1 to MAX_LENGTH
(90 by default) with random bytes after the code, from the PC and from the
controller. tshark dissects it in two passes with the dissector loaded (the
device named by preference) and shows every frame's details: no Lua error
may appear, tshark must end with status 0 and say nothing on its standard
error. Exits 77 (skipped) when tshark is not installed."""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile


def block(kind, body):
    body += b"\0" * (-len(body) % 4)
    return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)


def capture(rng, max_length):
    out = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    out += block(1, struct.pack("<HHI", 220, 0, 262144) + struct.pack("<HH", 0, 0))
    us = 1_796_047_331_000_000
    for code in range(256):
        for length in range(1, max_length + 1):
            pc = rng.random() < 0.5
            data = bytes([code]) + bytes(rng.randrange(256) for _ in range(length - 1))
            header = struct.pack("<QBBBBHbb", rng.randrange(1 << 32), ord("S" if pc else "C"), 3,
                                 0x01 if pc else 0x81, 7, 1, ord("-"), ord("="))
            header += struct.pack("<qiiII", us // 10**6, us % 10**6, 0, len(data), len(data))
            header += b"\0" * 8 + struct.pack("<iiII", 0, 0, 0, 0)
            frame = header + data
            out += block(6, struct.pack("<IIIII", 0, us >> 32, us & 0xFFFFFFFF, len(frame), len(frame)) + frame)
            us += 1000
    return out


def main():
    if not shutil.which("tshark"):
        print("tshark is not installed", file=sys.stderr)
        return 77
    lua = sys.argv[1]
    seed = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    max_length = int(sys.argv[3]) if len(sys.argv) > 3 else 90
    with tempfile.TemporaryDirectory() as home:
        path = os.path.join(home, "random.pcapng")
        with open(path, "wb") as f:
            f.write(capture(random.Random(seed), max_length))
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
        run = subprocess.run(["tshark", "-X", "lua_script:" + lua, "-o", "qmr5v.device:1.7", "-2", "-V",
                              "-r", path], capture_output=True, env=env)
    out = run.stdout.decode(errors="replace")
    err = [l for l in run.stderr.decode(errors="replace").splitlines() if "Running as user" not in l]
    frames = out.count("\nQMR5V stepper-motor controller") + out.startswith("QMR5V")
    errors = [l.strip() for l in out.splitlines() if "Lua Error" in l]
    if run.returncode != 0 or err or errors:
        print("FAIL: status %d; %s" % (run.returncode, "\n".join((err + errors)[:20])), file=sys.stderr)
        return 1
    if frames != 256 * max_length:
        print("FAIL: %d frames dissected, not %d" % (frames, 256 * max_length), file=sys.stderr)
        return 1
    print("ok: %d random messages of every code and length 1 to %d, no Lua error" % (frames, max_length))
    return 0


if __name__ == "__main__":
    sys.exit(main())
