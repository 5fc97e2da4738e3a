#!/usr/bin/env python3
"""The capture compressed for the viewer page, inflated by Python's zlib
(part by part, as the browser inflates them): the very bytes must come
back, for what breaks a compressor: nothing, a byte, runs longer than a
match, repeats at the window's edge, noise (which does not shrink), output
spread over several blocks, the sample dump and pcapng; each whole, then in
parts of a few kilobytes (a part ends on a match's way); and the parts
taken as they are made (the live viewer's store), each of which must
inflate by itself to its own bytes.

    deflate_agrees.py DEFLATE_TOOL EXAMPLES_DIR
"""
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "viewer"))
from page_capture import inflate_parts  # noqa: E402

tool, examples = sys.argv[1:3]
rng = random.Random(27)
hexline = lambda: " ".join("%02X" % rng.randrange(256) for _ in range(rng.randrange(1, 40))).encode()
cases = {
    "empty": b"",
    "one byte": b"A",
    "seven bytes": b"0123456",
    "eight bytes": b"01234567",
    "zeros": bytes(300_000),
    "period 32768": bytes(rng.randrange(256) for _ in range(32768)) * 3,
    "period 32769": bytes(rng.randrange(256) for _ in range(32769)) * 3,
    "noise": rng.randbytes(1_500_000),
    "hex lines": b"\r\n".join(b"%d\tOUT\t00:00:%02d.%03d\t%s" % (i, i // 1000 % 60, i % 1000, hexline())
                              for i in range(40_000)),
    "sample dump": open(os.path.join(examples, "session.txt"), "rb").read(),
    "sample pcapng": open(os.path.join(examples, "session.pcapng"), "rb").read(),
}
failed = 0
with tempfile.TemporaryDirectory() as work:
    for name, data in cases.items():
        path = os.path.join(work, "in")
        with open(path, "wb") as f:
            f.write(data)
        for parts in ([], ["4099"], ["32768"], ["32768", "taken"]):
            run = subprocess.run([tool, path] + parts, capture_output=True, check=True)
            z = run.stdout
            try:
                back = inflate_parts(z)
            except ValueError as e:
                back = e
            what = f"{name}" + (f" in parts of {parts[0]}" if parts else "") + (", taken" if len(parts) > 1 else "")
            # Each part taken, inflated alone, gives its own bytes.
            at, offset = 0, 0
            for line in run.stderr.split(b"\n")[:-1]:
                length, size = map(int, line.split())
                try:
                    alone = inflate_parts(z[at:at + length])
                except ValueError as e:
                    alone = e
                if alone != data[offset:offset + size]:
                    back = f"the part at {at} does not inflate alone to its {size} bytes: {alone!r:.60}"
                at, offset = at + length, offset + size
            if back != data:
                failed += 1
                print(f"FAIL: {what}: {len(data)} bytes, inflated: {back if not isinstance(back, bytes) else len(back)}")
            else:
                print(f"ok: {what}: {len(data)} bytes -> {len(z)}")
sys.exit(1 if failed else 0)
