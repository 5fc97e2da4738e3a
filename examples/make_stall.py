#!/usr/bin/env python3
"""Writes examples/stall.txt, a text dump with a stall story, for the
walk-through of docs/findings.md ("Why did it stall?"):

    python3 examples/make_stall.py > examples/stall.txt

It plays a PC program streaming Data segments to a simulated controller
whose buffer holds 7 segments and executes 100 pulses a millisecond once
told to: the buffer fills, "buffer full" replies pace the PC (the normal
flow control), then

  1. the PC program falls silent for 180 ms, then for 120 ms (it is busy
     elsewhere): the buffer runs dry twice within half a second;
  2. after a "buffer full" reply the PC program backs off 150 ms before it
     sends the segment again: the buffer runs dry once more;
  3. the tool hits an axis limit switch: the controller stops with segments
     still waiting in its buffer, and the PC asks for its state until the
     operator clears the switch.

Each line is the capture tool's: number, OUT or IN, seconds since the
capture began, byte count, the message in hex pairs, and the bytes as
text. The same run always writes the same file.
"""
import sys

RATE = 100  # pulses a millisecond
SEGMENT = 500  # pulses a segment: 5 ms each


class Controller:
    def __init__(self):
        self.lines = []
        self.now = 0  # microseconds
        self.buffer = []  # [pulses, steps]
        self.running = False
        self.in_progress = False
        self.left = 0
        self.seg = 0
        self.stop = 0

    def line(self, pc, data):
        pairs = " ".join(f"{b:02X}" for b in data)
        text = "".join(chr(b) if 0x20 <= b < 0x7F else "." for b in data)
        number = len(self.lines) + 1
        self.lines.append(f"{number}\t{'OUT' if pc else 'IN'}\t{self.now / 1e6:.6f}\t{len(data)}\t{pairs}\t{text}")

    def status(self):
        flag = 0x48 | (1 if self.in_progress else 0)  # source USB, motors on
        return ([len(self.buffer)] + list(self.seg.to_bytes(3, "little")) +
                [flag, 0x00, 0x00, 0x00, 0x04, self.stop] + list(self.left.to_bytes(4, "little")))

    def wait(self, ms):
        for _ in range(ms):
            self.now += 1000
            budget = RATE if self.running else 0
            while budget:
                if self.left == 0:
                    if not self.buffer:
                        self.in_progress = False
                        self.stop |= 0x80  # ran dry
                        break
                    pulses, _ = self.buffer.pop(0)
                    self.seg += 1
                    if pulses == 0:  # the end-of-data mark
                        self.running = self.in_progress = False
                        self.stop |= 0x80
                        break
                    self.left, self.in_progress = pulses, True
                    self.stop &= ~0x80
                take = min(budget, self.left)
                self.left -= take
                budget -= take

    def data(self, steps, end=False):
        cmd = 0x80 if end else 0x1F
        msg = [0x44, cmd] + list((0 if end else SEGMENT).to_bytes(4, "little"))
        msg += list((steps * 2).to_bytes(4, "little", signed=True)) + [0] * 16
        self.line(True, msg)
        stored = len(self.buffer) < 7
        if stored:
            self.buffer.append([0 if end else SEGMENT, steps])
        reply = [0x44, 0x01 if stored else 0xFF] + self.status()
        self.wait(1)
        self.line(False, reply)
        return stored

    def exchange(self, pc, reply):
        self.line(True, pc)
        self.wait(1)
        self.line(False, reply)

    def information(self):
        self.line(True, [0x49])  # a one-byte request: a line of 40 characters or fewer
        reply = [0x49, 0xFF if len(self.buffer) >= 7 else 0x00] + self.status()
        self.wait(1)
        self.line(False, reply)


def stream(c, count, backoff=2):
    for _ in range(count):
        while not c.data(2):
            c.wait(backoff)
        c.wait(1)


def main():
    c = Controller()
    c.line(True, [0x56])
    c.wait(1)
    c.line(False, [0x56] + list(b"V1.05   "))
    c.exchange([0x42, 0x00], [0x42, 0xFF])  # reset the buffer
    c.exchange([0x42, 0x01], [0x42, 0xFF])  # source USB
    stream(c, 7)
    c.exchange([0x42, 0x80], [0x42, 0xFF])  # execute
    c.running = True
    stream(c, 80)
    c.wait(180)  # 1. the PC program is busy elsewhere, twice
    stream(c, 12)
    c.wait(120)
    stream(c, 150)
    while c.data(2):  # 2. a "buffer full" reply, then a long back-off
        c.wait(1)
    c.wait(150)
    stream(c, 60)
    c.wait(3)
    c.stop |= 0x12  # 3. an axis limit switch: stopped
    c.running = c.in_progress = False
    for _ in range(4):
        c.wait(100)
        c.information()
    c.stop = 0  # the operator clears the switch; the PC resets the buffer
    c.exchange([0x42, 0x00], [0x42, 0xFF])
    c.buffer, c.left = [], 0
    c.information()
    sys.stdout.write("\n".join(c.lines) + "\n")


if __name__ == "__main__":
    main()
