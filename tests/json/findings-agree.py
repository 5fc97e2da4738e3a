#!/usr/bin/env python3
"""The findings of vornlog -e judged with tools nobody here wrote (jq,
python3-jsonschema) and against the session summary:

    findings-agree.py VORNLOG SCHEMA CAPTURE ... [--random N]

For each capture (and N random text dumps and pcapng files), every line of
-e is one JSON object that jq and Python read, valid against the JSON
Schema (draft 2020-12); the ids are 1 to the number of lines, each once (a
file read without -f writes each finding once), first <= last and start <= end; and the
summary's Findings section counts as many, with the same kinds and causes.
Exits 77 (skipped) without jq or python3-jsonschema.
"""
import collections
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import random_captures  # noqa: E402

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed: skipped")
    sys.exit(77)
if not shutil.which("jq"):
    print("jq is not installed: skipped")
    sys.exit(77)

failures = []


def run(vornlog, args):
    result = subprocess.run([vornlog, "-n", "-q"] + args + ["-"], capture_output=True)
    if result.returncode != 0:
        failures.append(f"{args}: status {result.returncode}: {result.stderr[:300]!r}")
    return result.stdout


def check(vornlog, validator, capture):
    where = os.path.basename(capture)
    out = run(vornlog, ["-e", capture])
    lines = out.splitlines()
    jq = subprocess.run(["jq", "-e", "-n", "[inputs | type == \"object\"] | all and length == " + str(len(lines))],
                        input=out, capture_output=True)
    if lines and jq.returncode != 0:
        failures.append(f"{where}: jq does not read one object per line: {jq.stderr!r}")
    found = collections.Counter()
    ids = []
    for n, line in enumerate(lines, 1):
        try:
            f = json.loads(line.decode("utf-8", errors="strict"))
        except ValueError as e:
            failures.append(f"{where}: line {n} is not JSON: {e}")
            continue
        for error in validator.iter_errors(f):
            failures.append(f"{where}: line {n} is not valid against the schema: {error.message}")
        ids.append(f.get("id"))
        if f.get("first", 0) > f.get("last", 0):
            failures.append(f"{where}: finding {n} ends before it begins")
        if f.get("start") is not None and f.get("end") is not None and f["start"] > f["end"]:
            failures.append(f"{where}: finding {n} ends before it starts")
        found[(f.get("kind"), f.get("cause"))] += 1

    if sorted(ids) != list(range(1, len(ids) + 1)):
        failures.append(f"{where}: the ids are not 1 to {len(ids)}, each once")
    summary = run(vornlog, ["-t", capture]).decode("utf-8", errors="replace")
    counted = collections.Counter()
    section = summary.split("\nFindings\n--------\n", 1)[-1].split("\n\n", 1)[0]
    for kind, cause, count in re.findall(r"^  ([a-z-]+) +([a-z-]+) +(\d+)$", section, re.M):
        counted[(kind, cause)] += int(count)
    if counted != found:
        failures.append(f"{where}: the summary counts {dict(counted)}, -e wrote {dict(found)}")
    return len(lines)


def main():
    args = sys.argv[1:]
    count = 0
    if "--random" in args:
        i = args.index("--random")
        count = int(args[i + 1])
        del args[i:i + 2]
    vornlog, schema, captures = args[0], args[1], args[2:]
    validator = jsonschema.Draft202012Validator(json.load(open(schema)))
    validator.check_schema(validator.schema)
    with tempfile.TemporaryDirectory() as folder:
        for n in range(1, count + 1):
            rng, messages = random_captures.session(7919 + n, 400)
            for kind, data in (("txt", random_captures.text_dump(rng, messages)),
                               ("pcapng", random_captures.pcapng(rng, messages))):
                path = f"{folder}/random-{n}.{kind}"
                with open(path, "wb") as f:
                    f.write(data)
                captures.append(path)
        total = sum(check(vornlog, validator, capture) for capture in captures)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{total} findings of {len(captures)} captures checked")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
