#!/usr/bin/env python3
"""What tshark shows of the controller's messages with the QMR5V dissector,
against a golden file: what it showed when it was last changed on purpose.

    dissector_golden.py LUA GOLDEN [--update]

Over the crafted messages (crafted.py: every way through every layout),
tshark dissects in two passes and this writes, for every frame, its Info
column, then every item of the protocol's tree: its filter name, its value
and the text Wireshark shows (the expert items with theirs). That text must
equal GOLDEN byte for byte; --update writes it there instead. Exits 77
(skipped) when tshark is not installed.
"""
import difflib
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import crafted  # noqa: E402


def tshark(lua, home, args):
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
    run = subprocess.run(["tshark", "-X", "lua_script:" + lua, "-2"] + args, capture_output=True, env=env)
    err = [l for l in run.stderr.decode(errors="replace").splitlines() if "Running as user" not in l]
    if run.returncode != 0 or err:
        raise SystemExit("FAIL: tshark %s: %s" % (" ".join(args), "\n".join(err)))
    return run.stdout.decode()


def item_lines(field, depth, out):
    name = field.get("name")
    shown = field.get("showname")
    if name or shown:
        line = "  " * depth + (name or "")
        if field.get("show") is not None and field.get("show") != shown:
            line += " = " + field.get("show")
        if shown is not None:
            line += "  | " + shown
        out.append(line)
    for child in field.findall("field"):
        item_lines(child, depth + 1, out)


def shown(lua, home, capture, device):
    prefs = ["-o", "qmr5v.device:" + device] if device else []
    info = {}
    for line in tshark(lua, home, prefs + ["-r", capture, "-Y", "qmr5v", "-T", "fields", "-e", "frame.number",
                                           "-e", "_ws.col.Info"]).splitlines():
        number, _, text = line.partition("\t")
        info[number] = text
    out = []
    pdml = tshark(lua, home, prefs + ["-r", capture, "-Y", "qmr5v", "-T", "pdml"])
    for packet in ET.fromstring(pdml).iter("packet"):
        number = packet.find("proto[@name='frame']/field[@name='frame.number']").get("show")
        out.append("frame %s: %s" % (number, info.get(number)))
        for proto in packet.findall("proto[@name='qmr5v']"):
            item_lines(proto, 1, out)
    return "\n".join(out) + "\n"


def main():
    if not shutil.which("tshark"):
        print("tshark is not installed", file=sys.stderr)
        return 77
    lua, golden = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        home = os.path.join(work, "home")
        os.makedirs(os.path.join(home, ".config"))
        capture = os.path.join(work, "crafted.pcapng")
        crafted.write(capture)
        got = shown(lua, home, capture, "1.7")
    if "--update" in sys.argv[3:]:
        with open(golden, "w", encoding="utf-8") as f:
            f.write(got)
        return 0
    with open(golden, encoding="utf-8") as f:
        want = f.read()
    if got != want:
        diff = difflib.unified_diff(want.splitlines(), got.splitlines(), golden, "tshark", lineterm="", n=2)
        print("FAIL: tshark's output differs:\n%s" % "\n".join(list(diff)[:60]), file=sys.stderr)
        return 1
    print("ok: %d frames, %d lines" % (want.count("\nframe ") + 1, want.count("\n")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
