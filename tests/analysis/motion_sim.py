#!/usr/bin/env python3
"""Whole sessions between a PC program and a simulated QMR5V, with their truth.

Writes a text dump (the capture tool's lines, as examples/make_stall.py
writes them, times to the millisecond) and a JSON file of what really
happened on the machine: every stand-still while a job ran, and every stop
with the position the tool had reached.

    python3 tests/analysis/motion_sim.py --list
    python3 tests/analysis/motion_sim.py host-gap/b -o capture.txt -t truth.json
    python3 tests/analysis/motion_sim.py random-2/c --seed 7 -o capture.txt -t truth.json

A scenario is NAME/CONVENTION. The same scenario and seed always write the
same files. tests/analysis/motion_sim_check.py runs vornlog on each one and
compares its findings with the truth; import this module for scenarios(),
simulate() and write_capture().

The controller
--------------
- It executes its stored segments at a fixed pulse rate (10, 20, 25 or 40
  pulses a millisecond, one per scenario). Its buffer holds 7 segments
  waiting besides the one under way; BUF counts the ones waiting.
- A job: the PC resets the buffer (42 00), chooses USB (42 01), stores up to
  7 segments, then sends Execute (42 80): the first segment starts when the
  Execute arrives. Later, a segment stored into an empty buffer while the job
  runs starts at once. The end-of-data mark (Data with CMD bit 7) takes a
  place in the buffer; reaching it ends the job (STOP bit 7) and starts no
  segment, so SEG does not count it.
- Every request is handled by the controller 0 to 1 ms after its time
  stamp, and its status block is taken then, under one of three conventions:
    a: before the segment the request carries is stored;
    b: after it is stored, before it starts;
    c: after it is stored and, when the buffer was empty during a running
       job, after it started (BUF 0, FLAG bit 0 set, NBR left = its pulses).
  Whatever the convention, the segment starts at that moment.
- Data reply ST: 0x01 stored, 0xFF buffer full (not stored). Information
  reply ST: 0xFF when 7 segments wait, else 0x00. Buffer Management replies
  RET 0xFF.
- SEG counts segments started (24 bits, wraps) from an arbitrary value.
  STOP bit 7 is set when the buffer ran dry or the end-of-data mark was
  reached and cleared when a segment starts; a limit switch sets bits 4 and
  1, the PROG/STOP button bits 6 and 1, until the PC resets the buffer.
  After a stop, NBR left stays at what the stopped segment had left.

The truth (milliseconds from the capture's first message)
---------------------------------------------------------
- stalls: while a job ran, the buffer ran dry (``dry``: the last pulse of
  the segment before) until the next stored segment started (``resume``).
  A dry buffer that the job's end closed instead (end-of-data mark reached,
  buffer reset) is listed under ``closed_by_job_end``: it is no stall.
- stops: cause, moment, position on S1..S5 in steps since the capture began
  (a segment's steps are done in proportion to its pulses done, truncated
  toward zero), the steps stored in that job on each axis (absolute sum),
  the segments of the job that were stored but never executed, and whether
  the end-of-data mark was among those waiting (it counts in BUF).
"""
import argparse
import json
import random
import sys
import zlib
from collections import deque

CAPACITY = 7
RATES = (10, 20, 25, 40)  # pulses a millisecond: a whole number of microseconds a pulse
CONVENTIONS = ("a", "b", "c")
AXES = ("S1", "S2", "S3", "S4", "S5")
NAMED = ("clean", "host-gap", "slow-replies", "refusals", "short-segments",
         "limit-switch", "button", "mixed")
RANDOM_SESSIONS = 6
LIMIT, BUTTON = "limit-switch", "button"
STOP_BITS = {LIMIT: 0x12, BUTTON: 0x42}  # the cause's bit and "step activity stopped"


def le(value, width):
    return list((value & ((1 << (8 * width)) - 1)).to_bytes(width, "little"))


def trunc_part(steps, done, pulses):
    """The steps of an axis done after `done` of `pulses`, truncated toward zero."""
    part = abs(steps) * done // pulses
    return part if steps >= 0 else -part


class Segment:
    def __init__(self, job, ordinal, pulses, steps, pwm=None, end=False):
        self.job, self.ordinal = job, ordinal
        self.pulses, self.steps, self.pwm, self.end = pulses, steps, pwm, end
        self.plan = {}
        self.stored = 0  # its number among the segments stored, from 1

    def message(self):
        if self.end:
            return [0x44, 0x80] + [0] * 24
        cmd = sum(1 << n for n, s in enumerate(self.steps) if s >= 0)
        if self.pwm is not None:
            cmd |= 0x40
        msg = [0x44, cmd] + le(self.pulses, 4)
        for s in self.steps:
            msg += le(2 * abs(s), 4)
        if self.pwm is not None:
            msg.append(self.pwm)
        return msg


class Controller:
    """The QMR5V's segment buffer, on a clock in microseconds."""

    def __init__(self, rate, convention, seg_start):
        self.period = 1000 // rate  # microseconds a pulse
        self.convention = convention
        self.waiting = deque()
        self.cur = None  # the segment under way (or stopped half-way)
        self.cur_start = self.cur_end = 0
        self.running = False  # a job runs (Execute came, no end, no stop)
        self.halted = False  # stopped by a switch or the button until a reset
        self.halt_plan = None  # (moment, pulse, cause) of a planted stop
        self.frozen_done = 0
        self.seg = seg_start & 0xFFFFFF
        self.stop = 0
        self.input = 0x2A  # limits open, PWM input off, PROG/STOP open
        self.position = [0] * 5
        self.dry_since = None
        self.stalls, self.closed_by_end, self.stops = [], [], []
        self.job_stored = [0] * 5
        self.stored = 0  # segments stored, end-of-data marks included

    # -- the clock --------------------------------------------------------
    def advance(self, t):
        while self.cur is not None and not self.halted:
            if self.halt_plan and self.halt_plan[0] <= t:
                self._halt()
                break
            if self.cur_end > t:
                break
            self._finish()

    def _start(self, t):
        seg = self.waiting.popleft()
        if seg.end:
            self.running = False
            self.stop |= 0x80
            self._close_dry(t, stall=False)
            return
        self.cur, self.cur_start = seg, t
        self.cur_end = t + seg.pulses * self.period
        self.seg = (self.seg + 1) & 0xFFFFFF
        self.stop &= ~0x80
        self._close_dry(t, stall=True)
        if "stop" in seg.plan:
            cause, fraction = seg.plan["stop"]
            pulse = min(seg.pulses - 1, max(1, int(seg.pulses * fraction)))
            self.halt_plan = (t + pulse * self.period, pulse, cause)

    def _finish(self):
        seg, end = self.cur, self.cur_end
        for n in range(5):
            self.position[n] += seg.steps[n]
        self.cur = None
        if self.waiting:
            self._start(end)
        else:
            self.stop |= 0x80
            if self.running:
                self.dry_since = end

    def _close_dry(self, t, stall):
        if self.dry_since is None:
            return
        if stall:
            self.stalls.append({"dry": self.dry_since, "resume": t, "job": self.cur.job, "segment": self.cur.stored})
        else:
            self.closed_by_end.append({"dry": self.dry_since, "closed": t})
        self.dry_since = None

    def _halt(self):
        t, pulse, cause = self.halt_plan
        self.halt_plan = None
        seg = self.cur
        self.halted, self.running, self.frozen_done = True, False, pulse
        for n in range(5):
            self.position[n] += trunc_part(seg.steps[n], pulse, seg.pulses)
        self.stop |= STOP_BITS[cause]
        self.input &= ~(0x02 if cause == LIMIT else 0x20)
        self.stops.append({
            "cause": cause, "at": t, "job": seg.job, "segment": seg.ordinal, "stored": seg.stored,
            "pulses_done": pulse, "pulses": seg.pulses, "waiting": len(self.waiting),
            "end_mark_waiting": any(s.end for s in self.waiting),
            "position": dict(zip(AXES, self.position)),
            "stored_abs": dict(zip(AXES, self.job_stored)),
        })

    def remaining_work(self, t):
        """Microseconds of motion the buffer still holds at t."""
        self.advance(t)
        if self.halted or not self.running:
            return 0
        left = self.cur_end - t if self.cur is not None else 0
        return left + sum(s.pulses for s in self.waiting) * self.period

    # -- the status block -------------------------------------------------
    def status(self, t):
        left = 0
        if self.cur is not None:
            done = self.frozen_done if self.halted else min(self.cur.pulses, (t - self.cur_start) // self.period)
            left = self.cur.pulses - done
        moving = self.cur is not None and not self.halted
        flag = 0x48 | (1 if moving else 0)  # source USB, motors on
        return ([len(self.waiting)] + le(self.seg, 3) +
                [flag, self.input, 0x00, 0x00, 0x04, self.stop] + le(left, 4))

    # -- the requests, each handled at its moment t ------------------------
    def data(self, t, seg):
        self.advance(t)
        before = self.status(t)
        stored = len(self.waiting) < CAPACITY
        if stored:
            self.stored += 1
            seg.stored = self.stored
            self.waiting.append(seg)
            if not seg.end:
                for n in range(5):
                    self.job_stored[n] += abs(seg.steps[n])
        after_store = self.status(t)
        if stored and self.running and self.cur is None and not self.halted:
            self._start(t)
        block = {"a": before, "b": after_store, "c": self.status(t)}[self.convention]
        return [0x44, 0x01 if stored else 0xFF] + block

    def information(self, t):
        self.advance(t)
        return [0x49, 0xFF if len(self.waiting) >= CAPACITY else 0x00] + self.status(t)

    def buffer_management(self, t, cmd):
        self.advance(t)
        if cmd == 0x00:  # reset: what waits and what was under way are dropped
            if self.halted:
                stop = self.stops[-1]
                stop["never_executed"] = [s.ordinal for s in self.waiting if not s.end]
                unreached = [0] * 5
                for s in self.waiting:
                    for n in range(5):
                        unreached[n] += s.steps[n]
                for n in range(5):
                    unreached[n] += self.cur.steps[n] - trunc_part(self.cur.steps[n], self.frozen_done, self.cur.pulses)
                stop["unreached"] = dict(zip(AXES, unreached))
            self._close_dry(t, stall=False)
            self.waiting.clear()
            self.cur, self.halted, self.running, self.halt_plan = None, False, False, None
            self.stop, self.input = 0, 0x2A
            self.job_stored = [0] * 5
        elif cmd == 0x80:  # execute
            self.running = True
            if self.cur is None and self.waiting and not self.halted:
                self._start(t)
        return [0x42, 0xFF]


class PcProgram:
    """The PC side: one message, then its reply, then the next after a think time."""

    def __init__(self, rng, controller, origin_ms):
        self.rng, self.c = rng, controller
        self.origin = origin_ms * 1000
        self.now = 0  # microseconds since the first message; line times fall on whole ms
        self.lines = []

    def line(self, pc, data):
        pairs = " ".join(f"{b:02X}" for b in data)
        text = "".join(chr(b) if 0x20 <= b < 0x7F else "." for b in data)
        seconds = (self.origin + self.now) / 1e6
        self.lines.append(f"{len(self.lines) + 1}\t{'OUT' if pc else 'IN'}\t{seconds:.3f}\t{len(data)}\t{pairs}\t{text}")

    def wait(self, ms):
        self.now += ms * 1000

    def think(self):
        self.wait(self.rng.choice((0, 1, 1, 1, 2)))

    def exchange(self, msg, handle, delay_ms=None):
        self.line(True, msg)
        reply = handle(self.now + self.rng.randint(0, 1000))
        self.wait(delay_ms if delay_ms is not None else self.rng.choice((1, 1, 1, 2, 2, 3)))
        self.line(False, reply)
        return reply

    def bm(self, cmd):
        self.exchange([0x42, cmd], lambda t: self.c.buffer_management(t, cmd))
        self.think()

    def information(self):
        reply = self.exchange([0x49], self.c.information)
        self.think()
        return reply

    def send(self, seg):
        """Sends one segment until it is stored; False when the machine stopped."""
        plan, first = seg.plan, True
        if "gap" in plan:  # the PC program is busy elsewhere for longer than the buffer lasts
            self.wait(min(900, max(200, self.c.remaining_work(self.now) // 1000 + plan["gap"])))
        while True:
            slow = "slow" in plan or ("slow_once" in plan and first)
            delay = self.rng.randint(80, 300) if slow else None
            reply = self.exchange(seg.message(), lambda t: self.c.data(t, seg), delay)
            if reply[11] & 0x70:  # STOP bits 4 to 6: the machine stopped
                return False
            if reply[1] == 0x01:
                if "short" in plan:  # the PC program works out each tiny segment
                    self.wait(self.rng.randint(3, 6))
                else:
                    self.think()
                return True
            if "backoff" in plan and first:  # backs off far too long after "buffer full"
                self.wait(min(900, max(150, self.c.remaining_work(self.now) // 1000 + plan["backoff"])))
            else:
                self.wait(self.rng.randint(2, 12))
            first = False

    def job(self, segments, end_mark):
        self.bm(0x00)
        self.bm(0x01)
        prefill = min(CAPACITY, len(segments))
        for seg in segments[:prefill]:
            self.send(seg)
        self.bm(0x80)
        for seg in segments[prefill:]:
            if not self.send(seg):
                return self.after_stop()
        if not self.send(end_mark):
            return self.after_stop()
        while True:  # waits for the end of the job
            self.wait(self.rng.randint(50, 250))
            reply = self.information()
            if reply[11] & 0x70:
                return self.after_stop()
            if reply[2] == 0 and not reply[6] & 1 and reply[11] & 0x80:
                return False

    def after_stop(self):
        for _ in range(self.rng.randint(3, 6)):
            self.wait(self.rng.randint(50, 200))
            self.information()
        self.wait(self.rng.randint(100, 400))
        self.bm(0x00)  # the operator cleared the cause; the PC drops the job
        self.information()
        return True


# -- scenarios ------------------------------------------------------------

def make_job(rng, rate, job, count, events, pwm=False):
    """count segments of 50 to 500 ms, shortened around the planted events."""
    ms = [rng.randint(50, 500) for _ in range(count)]
    short = set()
    plans = [{} for _ in range(count)]

    def shorten(first, last, least, most):
        for j in range(max(0, first), min(count, last)):
            if j not in short:
                ms[j] = rng.randint(least, most)

    for kind, k, *arg in events:
        if kind in ("gap", "backoff"):
            # segments short enough that a silence of 200 to 900 ms empties the buffer
            shorten(k - 9, k + 3, 50, 80)
            plans[k][kind] = rng.randint(30, 250)  # ms past the buffer's work
        elif kind == "slow":
            m = rng.randint(10, 14)
            shorten(k - 9, k + m, 50, 60)
            for j in range(k, min(count, k + m)):
                plans[j]["slow"] = True
        elif kind == "slow_once":  # one slow reply while the buffer is full: no stall
            plans[k]["slow_once"] = True
        elif kind == "short":  # segments shorter than a round trip
            burst = range(k, min(count, k + rng.randint(30, 60)))
            shorten(burst.start, burst.stop, 2, 5)
            short.update(burst)
            for j in burst:
                plans[j]["short"] = True
        elif kind == "stop":
            plans[k]["stop"] = (arg[0], rng.uniform(0.2, 0.8))
    segments = []
    for i in range(count):
        pulses = ms[i] * rate
        steps = []
        for share in (1.0, 0.8, 0.5, 0.15, 0.1):
            steps.append(rng.randint(0, pulses) * rng.choice((1, -1)) if rng.random() < share else 0)
        seg = Segment(job, i + 1, pulses, steps, rng.randint(0, 255) if pwm and rng.random() < 0.1 else None)
        seg.plan = plans[i]
        segments.append(seg)
    return segments, Segment(job, count + 1, 0, [0] * 5, end=True)


def named_jobs(name, rng):
    """(count, events) of each job of a named scenario."""
    n = rng.randint(28, 40)
    if name == "clean":
        return [(n, [("slow_once", 12)])]
    if name == "host-gap":  # two gaps less than 0.5 s apart, then one alone
        return [(n, [("gap", 10), ("gap", 12), ("gap", 24)])]
    if name == "slow-replies":
        return [(n, [("slow_once", 9), ("slow", 16)])]
    if name == "refusals":
        return [(n, [("backoff", 10), ("backoff", 24)])]
    if name == "short-segments":
        return [(n + 60, [("short", 12)])]
    if name == "limit-switch":  # mid-job: the end-of-data mark not sent yet
        return [(n, [("stop", rng.randint(14, n - 12), LIMIT)])]
    if name == "button":  # near the end: the end-of-data mark waits in the buffer too
        return [(n, [("gap", 10), ("stop", n - rng.randint(2, 4), BUTTON)])]
    if name == "mixed":
        return [(n, [("gap", 9), ("backoff", 20), ("slow", 28)]),
                (n + 70, [("short", 10), ("stop", 80, BUTTON)]),
                (n, [("slow_once", 8), ("gap", 14), ("gap", 16)])]
    raise KeyError(name)


def random_jobs(rng):
    """Jobs of random length with a random mixture of events, some ending in a stop."""
    span = {"slow": 16, "short": 62}
    jobs = []
    while sum(count for count, _ in jobs) < 150:
        count = rng.randint(20, 90)
        events, k = [], 8 + rng.randint(0, 10)
        while True:
            kind = rng.choice(("gap", "backoff", "slow", "short", "slow_once", "none"))
            if k + span.get(kind, 3) + 8 > count:
                break
            if kind != "none":
                events.append((kind, k))
            k += span.get(kind, 3) + rng.randint(2, 20)
        end = rng.random()
        if end < 0.35:
            events.append(("stop", count - rng.randint(2, 14), LIMIT if end < 0.2 else BUTTON))
        jobs.append((count, events))
    return jobs


def scenarios():
    """Every scenario's name: the named ones under each convention, then the random sessions."""
    names = [f"{name}/{conv}" for name in NAMED for conv in CONVENTIONS]
    return names + [f"random-{i}/{CONVENTIONS[(i - 1) % 3]}" for i in range(1, RANDOM_SESSIONS + 1)]


def simulate(scenario, seed=None, plain=False, timing_seed=None):
    """(lines of the dump, truth) of a scenario NAME/CONVENTION.

    With `plain` or `timing_seed`, the run is one of a pair of runs of the
    same job: every job's segments are made first from the scenario's seed,
    then the PC program's and controller's timing comes from `timing_seed`
    (the scenario's seed without it). `plain` leaves out the planted events
    (the gaps, slow replies, backoffs and stops), not the segments they
    shortened: the same job run clean."""
    name, _, conv = scenario.partition("/")
    if conv not in CONVENTIONS or not (name in NAMED or name.startswith("random-")):
        raise ValueError(f"unknown scenario {scenario!r} (see --list)")
    if seed is None:
        seed = zlib.crc32(scenario.encode())
    rng = random.Random(seed)
    rate = rng.choice(RATES)
    seg_start = 0xFFFFFF - rng.randint(3, 30) if name == "mixed" else rng.randrange(1 << 24)
    c = Controller(rate, conv, seg_start)
    pc = PcProgram(rng, c, rng.randint(0, 60000))
    jobs = random_jobs(rng) if name.startswith("random-") else named_jobs(name, rng)
    made = None
    if plain or timing_seed is not None:
        made = [make_job(rng, rate, number, count, events, pwm=name.startswith("random-"))
                for number, (count, events) in enumerate(jobs, 1)]
        for segments, _ in made:
            for seg in segments:
                if plain:
                    seg.plan = {}
        rng = pc.rng = random.Random(seed if timing_seed is None else timing_seed)

    pc.exchange([0x56], lambda t: [0x56] + list(b"QMR5V v1.05"))
    pc.think()
    ends_in_stop = False
    for number, (count, events) in enumerate(jobs, 1):
        if made:
            segments, end_mark = made[number - 1]
        else:
            segments, end_mark = make_job(rng, rate, number, count, events, pwm=name.startswith("random-"))
        ends_in_stop = pc.job(segments, end_mark)
        pc.wait(rng.randint(200, 1000))
    pc.information()

    ms = lambda us: round(us / 1000, 3)
    truth = {
        "scenario": scenario, "seed": seed, "convention": conv, "rate": rate,
        "seg_start": seg_start, "capacity": CAPACITY, "lines": len(pc.lines),
        "first_time": pc.origin / 1e6,
        "stalls": [{"dry": ms(s["dry"]), "resume": ms(s["resume"]),
                    "stood": ms(s["resume"] - s["dry"]), "job": s["job"], "segment": s["segment"]} for s in c.stalls],
        "closed_by_job_end": [{"dry": ms(s["dry"]), "closed": ms(s["closed"])} for s in c.closed_by_end],
        "stops": [dict(s, at=ms(s["at"])) for s in c.stops],
        "ends_in_stop": ends_in_stop,
    }
    return pc.lines, truth


def write_capture(path, lines):
    with open(path, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def main():
    ap = argparse.ArgumentParser(description="Simulated QMR5V sessions with their truth.")
    ap.add_argument("scenario", nargs="?", help="NAME/CONVENTION, e.g. host-gap/b")
    ap.add_argument("--list", action="store_true", help="list the scenarios")
    ap.add_argument("--seed", type=int, help="another seed than the scenario's own")
    ap.add_argument("-o", "--capture", default="-", help="the dump to write (default: standard output)")
    ap.add_argument("-t", "--truth", help="the truth's JSON file")
    ap.add_argument("--plain", action="store_true",
                    help="the same job without its planted events (its segments made first, as --timing-seed does)")
    ap.add_argument("--timing-seed", type=int,
                    help="the job's segments made first from the scenario's seed, the timing from this one")
    args = ap.parse_args()
    if args.list or not args.scenario:
        print("\n".join(scenarios()))
        return 0
    try:
        lines, truth = simulate(args.scenario, args.seed, args.plain, args.timing_seed)
    except ValueError as e:
        ap.error(str(e))
    if args.capture == "-":
        sys.stdout.write("\n".join(lines) + "\n")
    else:
        write_capture(args.capture, lines)
    if args.truth:
        with open(args.truth, "w") as f:
            json.dump(truth, f, indent=1)
            f.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
