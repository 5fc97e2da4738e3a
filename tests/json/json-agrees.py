#!/usr/bin/env python3
"""The JSON Lines of vornlog (-j) judged with tools nobody here wrote (jq,
Python's json module, tshark) and against vornlog's own report:

    json-agrees.py VORNLOG CAPTURE[@BUS.ADDR] ... [--random N] [--schema SCHEMA]

For each capture (and N random text dumps and pcapng files), every line of
the JSON Lines must be one JSON object, valid UTF-8, that jq and Python both
read; each object is a message of the report, in order, and holds what the
report shows of it: the instruction, every field line's name and hex value
(and its meaning when the line gives one), every bit row under its field,
and exactly the report's error texts. The number of a text dump's message is
the capture line that holds it, and its time is that line's date and time;
the number of a pcapng message is the frame that tshark shows with the same
bytes, device and time. Every field object has the same keys; a quantity's
`value` is the number its text shows, in the unit it names; the moves of the
Data messages that the controller stored are the steps CSV's rows (vornlog
-s); every error has a kind that docs/json-lines.md lists. With --schema, every line
is valid against the JSON Schema (python3-jsonschema, draft 2020-12).
"""
import datetime
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import random_captures  # noqa: E402

failures = []


def fail(where, what):
    failures.append(f"{where}: {what}"[:400])


# ---- The report, read back -------------------------------------------------------

ECHO = (b"PC     :  ", b" QMR5V :  ")
FIELD = re.compile(r"^     ([A-Za-z][A-Za-z0-9_]*(?: max)?)=\t?0x( ?[0-9A-F]+)(\t-> | -> |->\t|=|$)(.*)$", re.S)
ROW = re.compile(r"C(\d)=0x( ?[0-9A-F]+) ")


def text_of(raw):
    """Report bytes as the JSON must give them."""
    return raw.decode("utf-8", errors="replace")


def read_report(report):
    """The report's messages: (from, field text, items), items being
    ('instruction', code, name), ('field', name, raw, text), ('bit', bit,
    value, text) and ('error', text) in report order."""
    messages = []
    pos = 0
    last_length = 0
    while pos < len(report):
        end = report.find(b"\n", pos)
        end = len(report) if end < 0 else end
        line = report[pos:end]
        nxt = end + 1
        if line.startswith(ECHO):
            messages.append(["PC" if line.startswith(ECHO[0]) else "QMR5V", line[10:], []])
            pos = nxt
            continue
        if not messages:
            fail("report", f"a line before any message: {line!r}")
            pos = nxt
            continue
        items = messages[-1][2]
        # Texts of the message's own characters, whatever bytes they hold.
        for prefix, size in ((b"     Version=\t", 11), (b"     Table name:\t", 8), (b"     STRING=", None)):
            if line.startswith(prefix):
                start = pos + len(prefix)
                if prefix.startswith(b"     Table") and report.startswith(b"empty name...\n", start):
                    size = len(b"empty name...")
                size = last_length if size is None else size
                name = prefix.strip().rstrip(b"=:").decode()
                items.append(("field", name, None, text_of(report[start:start + size]) or None))
                nxt = start + size + 1
                break
        else:
            parse_line(line.decode("latin-1"), items)
            m = re.search(r"LEN=0x ?[0-9A-F]+=(\d+)", line.decode("latin-1"))
            if m:
                last_length = int(m.group(1))
        pos = nxt
    return messages


def parse_line(line, items):
    if line == "" or line == "     No paramters":
        return
    m = re.match(r"^   => Inst 0x([0-9A-F]{2})=(.*)$", line)
    if m:
        items.append(("instruction", int(m.group(1), 16), m.group(2)))
        return
    m = re.match(r"^       \.(\d)=([01])\t-> (.*)$", line)
    if m:
        items.append(("bit", int(m.group(1)), int(m.group(2)), m.group(3)))
        return
    m = re.match(r"^       (Axe=\d+|Axe is not used)$", line)
    if m:  # the meaning of the OUTn field above
        kind, name, raw, _ = items[-1]
        items[-1] = (kind, name, raw, m.group(1))
        return
    m = re.match(r"^       (Axe \d+ is invalid)$", line)
    if m:
        items.append(("error", m.group(1)))
        return
    if re.match(r"^     (C\d=0x( ?[0-9A-F]+) ){8}$", line):
        for row in ROW.finditer(line):
            items.append(("field", f"C{row.group(1)}", int(row.group(2), 16), None))
        return
    m = re.match(r"^     Reset sequence 0x([0-9A-F]{4}) OK$", line)
    if m:
        items.append(("field", "Reset sequence", int(m.group(1), 16), "OK"))
        return
    error = re.search(r"ERROR|Error:", line)  # "Error not in USB mode" is a status
    if error:
        head = line[: error.start()]
        m = FIELD.match(head)
        if m:
            items.append(("field", m.group(1), int(m.group(2), 16), None))
        elif head.strip() not in ("", "=>"):
            fail("report", f"an unknown line: {line!r}")
        items.append(("error", line[error.start():]))
        return
    m = FIELD.match(line)
    if not m:
        fail("report", f"an unknown line: {line!r}")
        return
    name, raw, rest = m.group(1), int(m.group(2), 16), m.group(4)
    if rest.startswith("     ") and FIELD.match(rest):  # the next field continues the line
        items.append(("field", name, raw, None))
        parse_line(rest, items)
        return
    items.append(("field", name, raw, rest or None))


# ---- The capture, read back -------------------------------------------------------

def capture_lines(raw):
    """A text dump's capture lines: "\\r\\n" folded, 254 characters at most."""
    folded = raw.replace(b"\r\n", b"\n")
    lines, piece = [], bytearray()
    for b in folded:
        piece.append(b)
        if b == 0x0A or len(piece) == 254:
            lines.append(bytes(piece))
            piece = bytearray()
    if piece:
        lines.append(bytes(piece))
    return lines


def ns_of_rfc3339(text):
    m = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.(\d{1,9}))?Z", text)
    if not m:
        return None
    stamp = datetime.datetime(*map(int, m.groups()[:6]), tzinfo=datetime.timezone.utc)
    fraction = (m.group(7) or "").ljust(9, "0")
    return int(stamp.timestamp()) * 10**9 + int(fraction)


def dump_time(column):
    """The date and time of a text dump's third column, as JSON must write it."""
    m = re.fullmatch(r"(\d{4}-\d\d-\d\d)[ T](\d\d:\d\d:\d\d)(\.\d+)?Z?", column.strip())
    return f"{m.group(1)}T{m.group(2)}{m.group(3) or ''}Z" if m else None


HOME = tempfile.TemporaryDirectory()


def own_home():
    """tshark's environment with a home of its own: no personal plugin or
    preference sways it."""
    config = os.path.join(HOME.name, ".config")
    os.makedirs(config, exist_ok=True)
    return dict(os.environ, HOME=HOME.name, XDG_CONFIG_HOME=config)


def tshark_frames(capture):
    """frame number -> (time in ns, "BUS.ADDR", payload in hex)."""
    out = subprocess.run(["tshark", "-r", capture, "-T", "fields", "-e", "frame.number", "-e", "frame.time_epoch",
                          "-e", "usb.bus_id", "-e", "usb.device_address", "-e", "usb.capdata"],
                         capture_output=True, text=True, check=True, env=own_home()).stdout
    frames = {}
    for row in out.splitlines():
        number, epoch, bus, address, data = (row.split("\t") + [""] * 5)[:5]
        seconds, _, fraction = epoch.partition(".")
        frames[int(number)] = (int(seconds) * 10**9 + int(fraction.ljust(9, "0")[:9]), f"{bus}.{address}",
                               data.replace(":", "").upper())
    return frames


# ---- The check ---------------------------------------------------------------------

def run(vornlog, args):
    result = subprocess.run([vornlog, "-n", "-q"] + args + ["-"], capture_output=True)
    if result.returncode != 0:
        raise RuntimeError(f"vornlog {' '.join(args)} ended with {result.returncode}: {result.stderr!r}")
    return result.stdout


def check(vornlog, arg):
    capture, _, device = arg.partition("@")
    options = ["-d", device] if device else []
    where = os.path.basename(capture)
    report = run(vornlog, options + [capture])
    jsonl = run(vornlog, options + ["-j", capture])

    if jsonl and not jsonl.endswith(b"\n"):
        fail(where, "the JSON Lines do not end with a line end")
    lines = jsonl.splitlines()
    jq = subprocess.run(["jq", "-e", "-n", '[inputs | type == "object"] | all and length == ' + str(len(lines))],
                        input=jsonl, capture_output=True)
    if lines and jq.returncode != 0:
        fail(where, f"jq does not read one object per line: {jq.stderr!r}")
    objects = []
    for n, line in enumerate(lines, 1):
        try:
            objects.append(json.loads(line.decode("utf-8", errors="strict")))
        except ValueError as e:
            fail(where, f"line {n} is not JSON in UTF-8: {e}: {line[:200]!r}")
            return

    messages = read_report(report)
    if len(messages) != len(objects):
        fail(where, f"{len(messages)} messages in the report, {len(objects)} JSON lines")
        return

    keys = ["number", "from", "time", "t", "device", "bytes", "code", "instruction", "fields", "errors"]
    textual = capture.endswith(".txt")
    raw = open(capture, "rb").read()
    dump = capture_lines(raw) if textual else None
    frames = tshark_frames(capture) if not textual and shutil.which("tshark") else None
    first_ns = None
    last_number = 0
    for (sender, echo, items), o in zip(messages, objects):
        at = f"{where} message {o.get('number')}"
        expected_keys = [k for k in keys if k != "device" or not textual]
        if list(o) != expected_keys:
            fail(at, f"keys {list(o)}")
            continue
        if o["from"] != sender:
            fail(at, f"from {o['from']}, the report says {sender}")
        if o["number"] <= last_number:
            fail(at, "numbers do not rise")
        last_number = o["number"]
        echo_text = echo.decode("latin-1").rstrip("\n")
        if re.fullmatch(r"([0-9A-Fa-f]{2} )*[0-9A-Fa-f]{2}", echo_text) and o["bytes"] != echo_text.replace(" ", "").upper():
            fail(at, f"bytes {o['bytes']}, the report echoes {echo_text}")
        if textual:
            line = dump[o["number"] - 1] if 0 < o["number"] <= len(dump) else b""
            columns = line.split(b"\t")
            if len(columns) < 5 or columns[4].split(b"\n")[0] != echo.rstrip(b"\n"):
                fail(at, f"capture line {o['number']} is not the message: {line!r}")
            elif o["time"] != dump_time(columns[2].decode("latin-1")):
                fail(at, f"time {o['time']}, the capture line says {columns[2]!r}")
        elif frames is not None:
            frame = frames.get(o["number"])
            if not frame or frame[2] != o["bytes"] or frame[1] != o["device"] or ns_of_rfc3339(o["time"]) != frame[0]:
                fail(at, f"tshark's frame {o['number']} is {frame}")
        if o["time"] is not None:
            ns = ns_of_rfc3339(o["time"])
            first_ns = ns if first_ns is None else first_ns
            if ns is None or abs(o["t"] - (ns - first_ns) / 1e9) > 1e-6:
                fail(at, f"t {o['t']} for the time {o['time']}")

        fields = o["fields"]
        errors = []
        k = 0  # the JSON field that the next report field may be
        for item in items:
            if item[0] == "instruction":
                if (o["code"], o["instruction"]) != item[1:]:
                    fail(at, f"instruction {o['code']} {o['instruction']}, the report says {item[1:]}")
            elif item[0] == "error":
                errors.append(item[1])
            elif item[0] == "field":
                _, name, raw, text = item
                while k < len(fields) and (fields[k]["name"], fields[k].get("raw")) != (name, raw):
                    k += 1
                if k == len(fields):
                    fail(at, f"the report's field {name}={raw} is not among {fields}")
                    break
                if fields[k].get("text") != text:
                    fail(at, f"field {name}: text {fields[k].get('text')!r}, the report says {text!r}")
                fields[k]["report bits"] = []
                k += 1
            elif item[0] == "bit":
                if k == 0 or "report bits" not in fields[k - 1]:
                    fail(at, f"a bit row without its field: {item}")
                else:
                    fields[k - 1]["report bits"].append({"bit": item[1], "value": item[2], "text": item[3]})
        if not any(i[0] == "instruction" for i in items) and o["instruction"] is not None:
            fail(at, "an instruction the report does not know")
        for f in fields:
            if "report bits" in f and f.pop("report bits") != f.get("bits"):
                fail(at, f"field {f['name']}: bits {f.get('bits')}, the report has them otherwise")
        if [e.get("text") for e in o["errors"]] != errors:
            fail(at, f"errors {o['errors']}, the report has {errors}")
        check_values(at, o)
    check_moves(where, objects, run(vornlog, options + ["-s", capture]))
    if VALIDATOR is not None:
        for o in objects:
            for e in VALIDATOR.iter_errors(o):
                fail(f"{where} message {o.get('number')}", f"not valid against the schema: {e.message}")
                break


FIELD_KEYS = ["name", "raw", "value", "unit", "move", "text", "bits"]
ERROR_KEYS = ["kind", "field", "text"]
# The word that a quantity's text shows for each unit.
UNIT_WORDS = {"pulses": "pulses", "steps": "steps", "%": "%", "kHz": "kHz", "steps/mm": "steps for 1mm",
              "steps/s": "steps/s", "s": "sec", None: ""}


def check_values(at, o):
    names = [f["name"] for f in o["fields"]]
    for f in o["fields"]:
        if list(f) != FIELD_KEYS:
            fail(at, f"field keys {list(f)}")
            continue
        text = f["text"] or ""
        if f["value"] is None:
            if f["unit"] is not None or f["move"] is not None:
                fail(at, f"field {f['name']}: a unit or a move without a value")
            continue
        # The number the text shows: the percentage of "192 => 75%", else its first number.
        numbers = re.findall(r"-?\d+(?=%)" if f["unit"] == "%" else r"-?\d+", text)
        if not numbers or int(numbers[0]) != f["value"]:
            fail(at, f"field {f['name']}: value {f['value']}, its text says {text!r}")
        if f["unit"] not in UNIT_WORDS or UNIT_WORDS[f["unit"]] not in text:
            fail(at, f"field {f['name']}: unit {f['unit']!r}, its text says {text!r}")
        if (f["move"] is not None) != (o["instruction"] == "Data" and o["from"] == "PC" and f["name"] in AXES):
            fail(at, f"field {f['name']}: move {f['move']}")
    for e in o["errors"]:
        if list(e) != ERROR_KEYS or e["kind"] not in KINDS or (e["field"] is not None and e["field"] not in names):
            fail(at, f"error {e}: keys, a kind that docs/json-lines.md lists, a field of the message")


AXES = ["S1", "S2", "S3", "S4", "S5"]


def check_moves(where, objects, csv):
    """The stored segments summed up from the JSON: the PC's last Data
    message, confirmed by a Data reply whose ST is 1, gives the steps CSV's
    next row: the moves of S1 to S5, with the reply's SEG and BUF."""
    rows = csv.decode("latin-1").splitlines()[1:]
    pending, expected = None, []
    for o in objects:
        if o["instruction"] != "Data":
            continue
        fields = {f["name"]: f for f in o["fields"]}
        if o["from"] == "PC":
            pending = o
        elif "ST" in fields and fields["ST"]["raw"] == 1 and pending is not None:
            seg = fields["SEG"]["raw"]
            moves = [f["move"] for f in pending["fields"] if f["name"] in AXES]
            if not moves:  # the end of the data
                expected.append(f"{seg};-")
            else:
                expected.append(f"{seg};{fields['BUF']['value']}%;" + ";".join(str(m) for m in moves))
    got = [r if r.endswith(";-") else ";".join(r.split(";")[:2] + r.split(";")[3:8]) for r in rows]
    if got != expected:
        diff = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
        fail(where, f"the moves of the stored Data messages are not the steps CSV: row {diff + 1}: "
                    f"{got[diff:diff + 1]} against {expected[diff:diff + 1]} ({len(got)} rows, {len(expected)} stored)")


def readme_kinds():
    """The error kinds that the table of docs/json-lines.md lists: | `kind` | meaning |."""
    page = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "json-lines.md")
    text = open(page, encoding="utf-8").read()
    section = text[text.index("\n## Error kinds\n"):]
    end = re.search(r"\n#{1,2} ", section[1:])
    section = section[:end.start() + 1] if end else section
    return set(re.findall(r"^\| `([a-z_]+)` \|", section, re.M))


KINDS = readme_kinds()
VALIDATOR = None


def main():
    args = sys.argv[1:]
    count = 0
    if "--random" in args:
        i = args.index("--random")
        count = int(args[i + 1])
        del args[i:i + 2]
    if "--schema" in args:
        i = args.index("--schema")
        global VALIDATOR
        try:
            import jsonschema
        except ImportError:
            print("python3-jsonschema is not installed", file=sys.stderr)
            return 77
        schema = json.load(open(args[i + 1], encoding="utf-8"))
        jsonschema.Draft202012Validator.check_schema(schema)
        VALIDATOR = jsonschema.Draft202012Validator(schema)
        del args[i:i + 2]
    vornlog, captures = args[0], args[1:]
    if not shutil.which("jq"):
        print("jq is not installed", file=sys.stderr)
        return 77
    with tempfile.TemporaryDirectory() as folder:
        for n in range(1, count + 1):
            rng, messages = random_captures.session(n)
            for suffix, data in ((".txt", random_captures.text_dump(rng, messages)),
                                 (".pcapng", random_captures.pcapng(rng, messages))):
                path = os.path.join(folder, f"random-{n}{suffix}")
                with open(path, "wb") as f:
                    f.write(data)
                captures.append(path + ("@1.7" if suffix == ".pcapng" else ""))
        for capture in captures:
            check(vornlog, capture)
    for f in failures[:30]:
        print("FAIL:", f, file=sys.stderr)
    if failures:
        return 1
    print(f"JSON Lines agree with the report and the steps CSV on {len(captures)} captures"
          + (", and the schema" if VALIDATOR else "")
          + ("" if shutil.which("tshark") else " (tshark missing: frames not compared)"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
