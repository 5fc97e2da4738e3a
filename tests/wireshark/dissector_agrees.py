#!/usr/bin/env python3
"""tshark with the QMR5V dissector against vornlog's JSON Lines.

    dissector_agrees.py VORNLOG LUA CAPTURE[@BUS.ADDR] ... [--crafted] [--random N]
                        [--writer FIXTURE_WRITER SEED ...]

For each capture, vornlog -j lists the controller's messages (of device
BUS.ADDR when one is given, which the dissector's preference then names too)
and tshark dissects the capture with the Lua dissector loaded, in two passes
(-2), with and without a display filter, and in one. --crafted adds the
crafted messages (crafted.py, device 1.7 named), --random N captures of
random messages of all kinds (device 1.7 named); --writer adds, for each seed, a capture of random
requests and replies beside a mouse and a disk, where the dissector finds the
controller itself. With two passes, the frame of
every message is dissected as qmr5v, with the message's sender and code, and
each of its fields that has a value shows that value (and the meaning, when it
gives one) under qmr5v.<instruction>.<field>, in order; a message with errors
carries as many expert warnings; no other frame is dissected as qmr5v. In one
pass, the frames dissected are the same from the first reply that showed the
controller on. tshark must print nothing on its standard error, and the
dissector's fields must be registered.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "json"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crafted  # noqa: E402
import random_captures  # noqa: E402


def filter_name(name):
    return re.sub(r"[^a-z0-9]+", "_", name.lower()).strip("_")


HOME = tempfile.TemporaryDirectory()


def own_home():
    """tshark's environment with a home of its own: no personal plugin or
    preference sways it."""
    config = os.path.join(HOME.name, ".config")
    os.makedirs(config, exist_ok=True)
    return dict(os.environ, HOME=HOME.name, XDG_CONFIG_HOME=config)


def tshark(lua, args, first=()):
    run = subprocess.run(["tshark"] + list(first) + ["-X", "lua_script:" + lua] + args, capture_output=True,
                         env=own_home())
    # tshark warns of running as root on its standard error: that line alone
    # is not the dissector's.
    err = [l for l in run.stderr.decode(errors="replace").splitlines() if "Running as user" not in l]
    return run.returncode, run.stdout, err


def dissected(lua, capture, device, two_pass, filtered=True):
    """{frame number: {"fields": [(abbr, value, label)], "warnings": n}} of the qmr5v frames,
    chosen by a display filter or, without one, from every frame."""
    args = (["-2"] if two_pass else []) + (["-o", "qmr5v.device:" + device] if device else [])
    status, out, err = tshark(lua, args + ["-r", capture, "-T", "pdml"] + (["-Y", "qmr5v"] if filtered else []))
    if status != 0 or err:
        raise AssertionError("tshark failed on %s: %s" % (capture, "\n".join(err)))
    frames = {}
    for packet in ET.fromstring(out).iter("packet"):
        number = None
        fields, warnings = [], 0
        for proto in packet.iter("proto"):
            if proto.get("name") == "frame":
                number = int(proto.find("field[@name='frame.number']").get("show"))
            if proto.get("name") == "qmr5v":
                for f in proto.iter("field"):
                    name = f.get("name")
                    if name.startswith("qmr5v."):
                        fields.append((name, f.get("show"), f.get("showname")))
                    if name == "_ws.expert.severity" and f.get("show") == str(0x00600000):
                        warnings += 1
        if any(proto.get("name") == "qmr5v" for proto in packet.iter("proto")):
            frames[number] = {"fields": fields, "warnings": warnings}
    return frames


def messages(vornlog, capture, device):
    with tempfile.TemporaryDirectory() as work:
        out = work + "/messages.jsonl"
        args = [vornlog, "-j"] + (["-d", device] if device else []) + [capture, out]
        subprocess.run(args, cwd=work, check=True, capture_output=True, env={"PATH": "/usr/bin:/bin"})
        with open(out, encoding="utf-8") as f:
            return [json.loads(line) for line in f]


def number_value(show):
    return int(show, 16) if show.startswith("0x") else int(show)


def check_message(message, frame):
    """The faults of one message's frame, as texts."""
    faults = []
    fields = frame["fields"]
    by_abbr = {abbr: (value, label) for abbr, value, label in fields}
    if number_value(by_abbr.get("qmr5v.code", ("-1", ""))[0]) != message["code"]:
        faults.append("code %s, not %#x" % (by_abbr.get("qmr5v.code"), message["code"]))
    if by_abbr.get("qmr5v.from", ("", ""))[0] != message["from"]:
        faults.append("sender %s, not %s" % (by_abbr.get("qmr5v.from"), message["from"]))
    # The expert information: one qmr5v.error.<kind> for each error, in order.
    kinds = [abbr for abbr, _, _ in fields if abbr.startswith("qmr5v.error.")]
    if kinds != ["qmr5v.error." + e["kind"] for e in message["errors"]]:
        faults.append("expert fields %s for the errors %s" % (kinds, message["errors"]))
    fields = [f for f in fields if not f[0].startswith("qmr5v.error.") and f[0] != "qmr5v.short"]
    # Each field of the message, in order, among the dissector's fields.
    at = 0
    for field in message["fields"]:
        if field["raw"] is None:
            continue
        suffix = "." + filter_name(field["name"])
        while at < len(fields) and not (fields[at][0].endswith(suffix) and fields[at][0].count(".") == 2):
            at += 1
        if at == len(fields):
            faults.append("no field %s = %#x" % (field["name"], field["raw"]))
            break
        abbr, value, label = fields[at]
        at += 1
        if number_value(value) != field["raw"]:
            faults.append("%s = %s, not %#x" % (abbr, value, field["raw"]))
        if field["text"] is not None and not label.endswith(" -> " + field["text"]):
            faults.append("%s reads \"%s\", not the meaning \"%s\"" % (abbr, label, field["text"]))
        # Under it: its quantity (.value), a Data axis's move (.move), a
        # boolean field for each bit row.
        below = []
        while at < len(fields) and fields[at][0].startswith(abbr + "."):
            below.append(fields[at])
            at += 1
        values = {a[len(abbr) + 1:]: v for a, v, _ in below}
        for key in ("value", "move"):
            got = int(values.pop(key)) if key in values else None
            if got != field[key]:
                faults.append("%s.%s = %s, not %s" % (abbr, key, got, field[key]))
        if len(values) != len(field["bits"]):
            faults.append("%s has the bit fields %s, not the rows %s" % (abbr, sorted(values), field["bits"]))
    if frame["warnings"] != len(message["errors"]):
        faults.append("%d expert warnings for the errors %s" % (frame["warnings"], message["errors"]))
    return faults


def check(vornlog, lua, arg):
    capture, _, device = arg.partition("@")
    capture = os.path.abspath(capture)
    listed = messages(vornlog, capture, device)
    two = dissected(lua, capture, device, True)
    one = dissected(lua, capture, device, False)
    faults = []
    # Two passes without a display filter: tshark's first pass builds no
    # protocol tree then, and the dissector must still find the controller.
    if dissected(lua, capture, device, True, filtered=False) != two:
        faults.append("with -2 and no display filter, the frames differ from those with -Y qmr5v")
    numbers = [m["number"] for m in listed]
    for message in listed:
        frame = two.get(message["number"])
        if frame is None:
            faults.append("frame %d (%s) is not dissected" % (message["number"], message["bytes"]))
            continue
        faults += ["frame %d: %s" % (message["number"], f) for f in check_message(message, frame)]
    for number in sorted(set(two) - set(numbers)):
        faults.append("frame %d is dissected but holds no message of the controller" % number)
    # One pass: the device is known from its first answered request on.
    if one:
        first = min(one)
        expected = {n for n in numbers if n >= first}
        if set(one) != expected:
            faults.append("in one pass, frames %s are dissected, not %s" %
                          (sorted(set(one) ^ expected)[:10], "the same"))
    else:
        faults.append("in one pass, no frame is dissected")
    if not listed:
        faults.append("vornlog lists no message")
    # A short message is valid (its missing bytes read as 0): no frame of
    # the capture is filed as malformed.
    args = ["-2"] + (["-o", "qmr5v.device:" + device] if device else [])
    status, out, err = tshark(lua, args + ["-r", capture, "-Y", "_ws.malformed", "-T", "fields", "-e", "frame.number"])
    malformed = out.decode().split()
    if malformed:
        faults.append("frames %s are filed as malformed" % malformed[:10])
    for f in faults[:20]:
        print("FAIL: %s: %s" % (arg, f), file=sys.stderr)
    if not faults:
        print("ok: %s: %d messages, %d dissected in one pass" % (arg, len(listed), len(one)))
    return not faults


def main():
    if not shutil.which("tshark"):
        print("tshark is not installed", file=sys.stderr)
        return 77
    args = sys.argv[1:]
    extra = []
    work = tempfile.TemporaryDirectory()
    if "--writer" in args:
        i = args.index("--writer")
        writer, seeds = args[i + 1], args[i + 2:]
        del args[i:]
        for seed in seeds:
            path = os.path.join(work.name, "devices-%s.pcapng" % seed)
            subprocess.run([writer, "random", seed, path], check=True)
            extra.append(path)
    if "--crafted" in args:
        args.remove("--crafted")
        path = os.path.join(work.name, "crafted.pcapng")
        crafted.write(path)
        extra.append(path + "@1.7")
    if "--random" in args:
        i = args.index("--random")
        for n in range(1, int(args[i + 1]) + 1):
            rng, listed = random_captures.session(n)
            path = os.path.join(work.name, "random-%d.pcapng" % n)
            with open(path, "wb") as f:
                f.write(random_captures.pcapng(rng, listed))
            extra.append(path + "@1.7")
        del args[i:i + 2]
    vornlog, lua, captures = args[0], args[1], args[2:] + extra
    status, out, err = tshark(lua, [], first=["-G", "fields"])
    ok = status == 0 and not err and b"\tqmr5v.code\t" in out and b"\tqmr5v.data.nbr\t" in out
    if not ok:
        print("FAIL: the dissector does not load: %s" % "\n".join(err), file=sys.stderr)
    for capture in captures:
        ok = check(vornlog, lua, capture) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
