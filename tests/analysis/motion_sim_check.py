#!/usr/bin/env python3
"""Runs vornlog on every simulated session of motion_sim.py and compares its
findings with what really happened on the machine.

    python3 tests/analysis/motion_sim_check.py build/decoder/vornlog [--verbose] [--only NAME]

For each scenario it writes the capture into a temporary folder, reads the
findings (vornlog -n -q -e CAPTURE -), the summary (-t) and the report (-v),
and checks:

  0. the report has no error text (the simulated messages are well formed);
  1. every stand-still the truth holds is found by an underrun finding, and
     every stop by a stop finding of its cause; no other underrun or stop
     finding exists;
  2. an underrun's start lies within 20 ms of the moment the buffer ran dry
     and its end within 20 ms of the moment motion resumed; a finding that
     groups several (less than 0.5 s apart) runs from the first dry moment to
     the last resumption, and stand-stills far apart are not grouped;
  3. its `stood` (seconds stood still) within 20 ms + 10 % of the truth;
  4. a stop's `position` on each axis within 1 % of the steps stored on that
     axis in the job, or 10 steps, whichever is larger;
  5. when the session ends in a stop with no later motion, the summary's
     "Position reached, estimated" equals the stop finding's position.

Prints a table, one row a scenario, and the failures; exits 1 on any failure.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import motion_sim  # noqa: E402

TOLERANCE_MS = 20.0
GROUP_MS = 500.0
GROUP_SLACK_MS = 40.0  # a gap this close to 0.5 s may go either way
NOTICEABLE_MS = 5.0  # a group of stand-stills shorter than this in all need not be found


def run(binary, mode, capture):
    done = subprocess.run([binary, "-n", "-q", mode, capture, "-"], capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise RuntimeError(f"vornlog {mode} exited with {done.returncode}: {done.stderr.strip()}")
    return done.stdout


def truth_groups(stalls):
    """Stand-stills less than 0.5 s apart, as the findings group them."""
    groups = []
    for s in stalls:
        if groups and s["dry"] - groups[-1][-1]["resume"] < GROUP_MS:
            groups[-1].append(s)
        else:
            groups.append([s])
    return groups


def overlaps(stall, finding):
    start, end = finding["start"] * 1000, finding["end"] * 1000
    return stall["dry"] - TOLERANCE_MS <= end and start <= stall["resume"] + TOLERANCE_MS


def check_underruns(truth, findings, fail, row, verbose):
    stalls = truth["stalls"]
    underruns = [f for f in findings if f["kind"] == "underrun"]
    matched = {id(f): [s for s in stalls if overlaps(s, f)] for f in underruns}
    owner = {}
    for f in underruns:
        for s in matched[id(f)]:
            owner.setdefault(id(s), []).append(f["id"])

    groups = truth_groups(stalls)
    required = [g for g in groups if sum(s["stood"] for s in g) >= NOTICEABLE_MS]
    found = [g for g in required if any(id(s) in owner for s in g)]
    row["found"] += len(found)
    row["expected"] += len(required)
    for g in required:
        if g not in found:
            fail(1, f"stand-still not found: dry {g[0]['dry']:.3f} ms to {g[-1]['resume']:.3f} ms, {len(g)} time(s)")
    for f in underruns:
        if not matched[id(f)]:
            row["extra"] += 1
            fail(1, f"underrun #{f['id']} ({f['cause']}) {f['start']:.3f} to {f['end']:.3f} s matches no stand-still")

    for a, b in zip(stalls, stalls[1:]):  # grouping, where the truth leaves no doubt
        gap = b["dry"] - a["resume"]
        ia, ib = owner.get(id(a), []), owner.get(id(b), [])
        if not ia or not ib:
            continue
        if gap < GROUP_MS - GROUP_SLACK_MS and not set(ia) & set(ib):
            fail(2, f"stand-stills {gap:.0f} ms apart split between findings #{ia[0]} and #{ib[0]}")
        if gap > GROUP_MS + GROUP_SLACK_MS and set(ia) & set(ib):
            fail(2, f"stand-stills {gap:.0f} ms apart grouped in finding #{sorted(set(ia) & set(ib))[0]}")

    # A finding covers its stand-stills' whole group: the ones of the group
    # next to them that no other finding claims belong to it too.
    index = {id(s): n for n, s in enumerate(stalls)}
    for f in underruns:
        mine = matched[id(f)]
        if not mine:
            continue
        first, last = index[id(mine[0])], index[id(mine[-1])]
        while first > 0 and stalls[first]["dry"] - stalls[first - 1]["resume"] < GROUP_MS and id(stalls[first - 1]) not in owner:
            first -= 1
        while last + 1 < len(stalls) and stalls[last + 1]["dry"] - stalls[last]["resume"] < GROUP_MS and id(stalls[last + 1]) not in owner:
            last += 1
        mine = stalls[first:last + 1]
        dry, resume = min(s["dry"] for s in mine), max(s["resume"] for s in mine)
        stood = sum(s["stood"] for s in mine)
        start_err, end_err = f["start"] * 1000 - dry, f["end"] * 1000 - resume
        row["start"] = max(row["start"] or 0, abs(start_err))
        row["end"] = max(row["end"] or 0, abs(end_err))
        if abs(start_err) > TOLERANCE_MS:
            fail(2, f"underrun #{f['id']} starts at {f['start']:.3f} s, the buffer ran dry at {dry / 1000:.4f} s ({start_err:+.1f} ms)")
        if abs(end_err) > TOLERANCE_MS:
            fail(2, f"underrun #{f['id']} ends at {f['end']:.3f} s, motion resumed at {resume / 1000:.4f} s ({end_err:+.1f} ms)")
        if "stood" not in f:
            row["stood"] = "missing"
            fail(3, f"underrun #{f['id']} has no `stood`")
            continue
        stood_err = f["stood"] * 1000 - stood
        if row["stood"] != "missing":
            row["stood"] = max(row["stood"] or 0, abs(stood_err))
        if abs(stood_err) > TOLERANCE_MS + 0.1 * stood:
            fail(3, f"underrun #{f['id']} stood {f['stood'] * 1000:.1f} ms, truth {stood:.1f} ms")
        if verbose:
            print(f"    underrun #{f['id']} {f['cause']}: count {f['count']} for {len(mine)}, "
                  f"start {start_err:+.1f} ms, end {end_err:+.1f} ms, stood {stood:.1f} ms")


def check_stops(truth, findings, summary, fail, row, verbose):
    stops = [f for f in findings if f["kind"] == "stop"]
    row["expected"] += len(truth["stops"])
    unmatched = list(stops)
    last = None
    for stop in truth["stops"]:
        f = next((f for f in unmatched if f["cause"] == stop["cause"] and f["start"] * 1000 >= stop["at"] - TOLERANCE_MS), None)
        if f is None:
            fail(1, f"stop not found: {stop['cause']} at {stop['at'] / 1000:.4f} s")
            continue
        unmatched.remove(f)
        row["found"] += 1
        last = (stop, f)
        if "position" not in f:
            fail(4, f"stop #{f['id']} has no position")
            continue
        for axis in motion_sim.AXES:
            err = abs(f["position"][axis] - stop["position"][axis])
            row["position"] = max(row["position"] or 0, err)
            if err > max(0.01 * stop["stored_abs"][axis], 10):
                fail(4, f"stop #{f['id']} {axis} at {f['position'][axis]}, truth {stop['position'][axis]} "
                        f"(of {stop['stored_abs'][axis]} stored)")
        if verbose:
            print(f"    stop #{f['id']} {f['cause']}: starts {f['start'] * 1000 - stop['at']:+.1f} ms after the stop, "
                  f"position {f['position']}, truth {stop['position']}")
    for f in unmatched:
        row["extra"] += 1
        fail(1, f"stop #{f['id']} ({f['cause']}) at {f['start']:.3f} s matches no stop")

    if truth["ends_in_stop"] and last and "position" in last[1]:
        line = next((l for l in summary.splitlines() if l.startswith("  Position reached, estimated")), None)
        reached = dict(re.findall(r"(S[1-5]) (-?\d+)", line or ""))
        reached = {k: int(v) for k, v in reached.items()}
        row["summary"] = "same" if reached == last[1]["position"] else "differs"
        if reached != last[1]["position"]:
            fail(5, f"summary's position reached {reached or 'missing'}, stop #{last[1]['id']} says {last[1]['position']}")


def check(binary, scenario, folder, verbose):
    lines, truth = motion_sim.simulate(scenario)
    capture = os.path.join(folder, scenario.replace("/", "-") + ".txt")
    motion_sim.write_capture(capture, lines)
    with open(capture[:-4] + ".truth.json", "w") as f:
        json.dump(truth, f, indent=1)

    row = {"scenario": scenario, "lines": len(lines), "found": 0, "expected": 0, "extra": 0,
           "start": None, "end": None, "stood": None, "position": None, "summary": "-", "failed": set()}
    failures = []

    def fail(check_number, text):
        row["failed"].add(check_number)
        failures.append(f"[{check_number}] {text}")

    try:
        report = run(binary, "-v", capture)
        findings = {}
        for l in run(binary, "-e", capture).splitlines():
            f = json.loads(l)
            findings[f["id"]] = f  # a finding told again keeps its id
        summary = run(binary, "-t", capture)
    except (RuntimeError, ValueError, subprocess.TimeoutExpired) as e:
        fail(0, str(e))
        return row, failures
    for n, l in enumerate(report.splitlines(), 1):
        if "ERROR" in l or "Error" in l:
            fail(0, f"report line {n}: {l.strip()}")
            break
    findings = sorted(findings.values(), key=lambda f: f["id"])
    if verbose:
        print(f"  {scenario}: {capture}")
    check_underruns(truth, findings, fail, row, verbose)
    check_stops(truth, findings, summary, fail, row, verbose)
    return row, failures


def main():
    ap = argparse.ArgumentParser(description="vornlog's findings against simulated sessions of known truth.")
    ap.add_argument("vornlog", help="the vornlog program to check")
    ap.add_argument("--verbose", action="store_true", help="every finding's errors, and where the captures are kept")
    ap.add_argument("--only", help="the scenarios whose name contains this")
    args = ap.parse_args()
    binary = os.path.abspath(args.vornlog)

    names = [s for s in motion_sim.scenarios() if not args.only or args.only in s]
    rows, all_failures = [], []
    kept = tempfile.mkdtemp(prefix="motion-sim-") if args.verbose else None  # the captures stay for a look
    with tempfile.TemporaryDirectory(prefix="motion-sim-") as folder:
        for scenario in names:
            row, failures = check(binary, scenario, kept or folder, args.verbose)
            rows.append(row)
            all_failures += [f"{scenario}: {f}" for f in failures]

    ms = lambda v: "-" if v is None else v if isinstance(v, str) else f"{v:.1f}"
    print(f"{'scenario':<20} {'lines':>6} {'found':>7} {'extra':>5} {'start ms':>9} {'end ms':>8} "
          f"{'stood ms':>9} {'pos steps':>9} {'summary':>8}  result")
    for r in rows:
        result = "ok" if not r["failed"] else "FAIL " + ",".join(str(n) for n in sorted(r["failed"]))
        print(f"{r['scenario']:<20} {r['lines']:>6} {r['found']:>3}/{r['expected']:<3} {r['extra']:>5} "
              f"{ms(r['start']):>9} {ms(r['end']):>8} {ms(r['stood']):>9} "
              f"{'-' if r['position'] is None else r['position']:>9} {r['summary']:>8}  {result}")
    print("(start, end, stood: the worst error of the scenario's underruns; pos: the worst axis of its stops)")
    failed = [r for r in rows if r["failed"]]
    for check_number in range(6):
        n = sum(1 for r in rows if check_number in r["failed"])
        if n:
            print(f"check {check_number} failed in {n} of {len(rows)} scenarios")
    if all_failures:
        print()
        print("\n".join(all_failures if args.verbose else all_failures[:40]))
        if not args.verbose and len(all_failures) > 40:
            print(f"... and {len(all_failures) - 40} more (--verbose)")
    print(f"{len(rows) - len(failed)} of {len(rows)} scenarios pass")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
