#!/usr/bin/env python3
"""vornlog -c on simulated pairs of runs of one job (motion_sim.py), whose
truth is known:

    python3 tests/analysis/compare_sim_check.py build/decoder/vornlog docs/vornlog-compare.schema.json examples

  1. a clean run, then the same job with planted stand-stills and stops:
     every planted stand-still of 20 ms or more is listed at its segment,
     with the cause planted and its time stood (within 20 ms + 10 %), every
     stop at the segment it cut short with its cause, and no other
     difference in the motion, no changed segment; --fail-on=underrun,stop
     gives status 3, and 0 with the runs the other way round (the
     differences then are BEFORE's);
  2. a run compared with itself, and a clean run with a clean rerun that
     differs only by the timing's jitter: "No difference in the motion";
  3. runs of two different jobs: "Different jobs", same_job false;
     the sample session as a text dump and as pcapng: one job, no
     difference in the motion;
  4. every JSON line valid against the JSON Schema, the last one the runs.
Exits 1 on any failure; 77 (skipped) without python3-jsonschema.
"""
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import motion_sim  # noqa: E402

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed: skipped")
    sys.exit(77)

TOLERANCE_MS = 20.0
LEAST_MS = 20.0
# The scenario and the causes its planted stand-stills are told by.
PLANTED = {"host-gap/a": {"host-gap"}, "host-gap/c": {"host-gap"}, "refusals/b": {"refusals"},
           "slow-replies/c": {"slow-replies"}, "limit-switch/a": set(), "button/b": {"host-gap"},
           "mixed/a": {"host-gap", "refusals", "slow-replies", "short-segments"}}
JITTER = ("clean/b", "host-gap/b", "limit-switch/c")

failures = []
checked = {"stand-stills": 0, "stops": 0}


def fail(text):
    failures.append(text)


def vornlog(binary, args, status=0):
    done = subprocess.run([binary, "-n", "-q"] + args + ["-"], capture_output=True, text=True, timeout=300)
    if done.returncode != status:
        fail(f"vornlog {' '.join(args)} exited with {done.returncode}, not {status}: {done.stderr.strip()}")
    return done.stdout


def write(folder, name, scenario, **kw):
    lines, truth = motion_sim.simulate(scenario, **kw)
    path = os.path.join(folder, name)
    motion_sim.write_capture(path, lines)
    return path, truth


def lines_of(binary, validator, before, after):
    out = [json.loads(l) for l in vornlog(binary, ["-j", "-c", before, after]).splitlines()]
    for n, line in enumerate(out, 1):
        for e in validator.iter_errors(line):
            fail(f"{os.path.basename(after)} line {n}: {e.message}")
    if not out or out[-1]["kind"] != "runs" or any(l["kind"] == "runs" for l in out[:-1]):
        fail(f"{os.path.basename(after)}: the runs object is not the last line, alone")
    return out[:-1], out[-1] if out else {}


def motion(differences):
    return [d for d in differences if d["kind"] in ("underrun", "stop")]


def check_planted(binary, validator, folder, scenario, causes):
    clean, clean_truth = write(folder, "clean.txt", scenario, plain=True, timing_seed=11)
    planted, truth = write(folder, "planted.txt", scenario, timing_seed=12)
    if clean_truth["stalls"] or clean_truth["stops"]:
        fail(f"{scenario}: the clean run stood still or stopped: the pair proves nothing")
    differences, runs = lines_of(binary, validator, clean, planted)
    if not runs.get("same_job"):
        fail(f"{scenario}: not the same job: {runs.get('aligned')}")
    listed = motion(differences)
    for d in listed:
        if d["in"] != "after":
            fail(f"{scenario}: a difference in the clean run: {d}")
    stills = [d for d in listed if d["kind"] == "underrun"]
    for s in truth["stalls"]:
        found = [d for d in stills if d["segment"] == s["segment"]]
        if s["stood"] < LEAST_MS - TOLERANCE_MS:
            continue
        if not found:
            if s["stood"] > LEAST_MS + TOLERANCE_MS:
                fail(f"{scenario}: stand-still of {s['stood']} ms at segment {s['segment']} not listed")
            continue
        d = found[0]
        stills.remove(d)
        checked["stand-stills"] += 1
        if abs(d["stood"] * 1000 - s["stood"]) > TOLERANCE_MS + 0.1 * s["stood"]:
            fail(f"{scenario}: segment {s['segment']} stood {d['stood']} s, truth {s['stood']} ms")
        if d["cause"] not in causes:
            fail(f"{scenario}: segment {s['segment']} told by {d['cause']}, planted {sorted(causes)}")
        if d["difference"] != "only" or d["after"] is None:
            fail(f"{scenario}: segment {s['segment']}: {d}")
    for d in stills:
        fail(f"{scenario}: stand-still listed at segment {d['segment']} ({d['stood']} s) that was not planted")
    stops = [d for d in listed if d["kind"] == "stop"]
    for s in truth["stops"]:
        found = [d for d in stops if d["segment"] == s["stored"] and d["cause"] == s["cause"]]
        if not found:
            fail(f"{scenario}: {s['cause']} stop at segment {s['stored']} not listed ({stops})")
        else:
            stops.remove(found[0])
            checked["stops"] += 1
    for d in stops:
        fail(f"{scenario}: stop listed at segment {d['segment']} that was not planted")
    if any(d["kind"] == "changed-segment" for d in differences):
        fail(f"{scenario}: changed segments listed in runs of one job")
    if listed:
        vornlog(binary, ["--fail-on=underrun,stop", "-c", clean, planted], status=3)
        vornlog(binary, ["--fail-on=underrun,stop", "-c", planted, clean], status=0)
    return planted


def main():
    binary, schema, examples = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(schema) as f:
        validator = jsonschema.Draft202012Validator(json.load(f))
    with tempfile.TemporaryDirectory(prefix="compare-sim-") as folder:
        planted = {}
        for scenario, causes in PLANTED.items():
            planted[scenario] = check_planted(binary, validator, folder, scenario, causes)
            os.rename(planted[scenario], planted[scenario] + "." + scenario.replace("/", "-"))
            planted[scenario] += "." + scenario.replace("/", "-")

        # A run with itself, and clean reruns that differ by jitter only.
        pairs = [(planted["mixed/a"], planted["mixed/a"]),
                 (os.path.join(examples, "session.txt"), os.path.join(examples, "session.pcapng"))]
        for scenario in JITTER:
            a, _ = write(folder, scenario.replace("/", "-") + ".1.txt", scenario, plain=True, timing_seed=1)
            b, _ = write(folder, scenario.replace("/", "-") + ".2.txt", scenario, plain=True, timing_seed=2)
            pairs.append((a, b))
        for a, b in pairs:
            differences, runs = lines_of(binary, validator, a, b)
            if not runs.get("same_job") or motion(differences) or runs.get("motion_differs"):
                fail(f"{os.path.basename(a)} and {os.path.basename(b)}: {motion(differences)}")
            if "No difference in the motion" not in vornlog(binary, ["-c", a, b]):
                fail(f"{os.path.basename(a)} and {os.path.basename(b)}: the text does not say no difference")

        # Two different jobs.
        a, b = planted["host-gap/a"], planted["refusals/b"]
        differences, runs = lines_of(binary, validator, a, b)
        if runs.get("same_job") is not False or motion(differences):
            fail(f"different jobs taken for one: {runs.get('aligned')}")
        if "Different jobs" not in vornlog(binary, ["-c", a, b]):
            fail("different jobs: the text does not say so")
    print("\n".join(failures) if failures else
          f"compared pairs: all checks passed ({checked['stand-stills']} planted stand-stills, {checked['stops']} stops)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
