#!/usr/bin/env python3
"""The viewer page's script, read as text: each panel finds the elements it
names in the page, each colour a canvas asks of the style sheet is defined
there (an undefined one draws nothing), and no script holds an instruction
code or a colour of its own: those come from the decoder and from
viewer.css.

    page_parts_test.py PAGE_DIR PROTOCOL_DIR
"""
import glob
import os
import re
import sys

page, protocol = sys.argv[1:3]
failures = []


def fail(text):
    failures.append(text)
    print("FAIL:", text)


def code_of(text):
    """The text without its comments and with its strings kept (a crude
    reading: no comment marker inside a string in these scripts)."""
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    return re.sub(r"(^|[^:'\\])//.*$", r"\1", text, flags=re.M)


html = open(os.path.join(page, "viewer.html"), encoding="utf-8").read()
ids = set(re.findall(r'\bid="([^"]+)"', html))
css = open(os.path.join(page, "viewer.css"), encoding="utf-8").read()
defined = set(re.findall(r"^\s*--([\w-]+)\s*:", css, flags=re.M))
codes = set()
for header in glob.glob(os.path.join(protocol, "instructions", "*.h")):
    codes.update(int(c, 16) for c in re.findall(r"k\w*Code\s*=\s*0x([0-9A-Fa-f]{2})", open(header).read()))
if not codes:
    fail(f"no instruction code found in {protocol}/instructions")

scripts = sorted(glob.glob(os.path.join(page, "*.js")))
panels = 0
for path in scripts:
    name = os.path.basename(path)
    text = code_of(open(path, encoding="utf-8").read())
    for panel, named in re.findall(r"\bpanel\('([\w-]+)',\s*\[([^\]]*)\]", text):
        panels += 1
        for element in re.findall(r"'([^']+)'", named):
            if element not in ids:
                fail(f"{name}: panel {panel} names #{element}, which viewer.html does not hold")
    for table in re.findall(r"cssColours\(\{(.*?)\}\)", text, flags=re.S):
        for colour in re.findall(r":\s*'([\w-]+)'", table):
            if colour not in defined:
                fail(f"{name}: the colour --{colour} is not defined in viewer.css")
    for literal in re.findall(r"'#[0-9A-Fa-f]{3,8}'", text):
        fail(f"{name}: the colour {literal} is written in the script, not in viewer.css")
    for literal in re.findall(r"\b0x([0-9A-Fa-f]{1,2})\b", text):
        if int(literal, 16) in codes:
            fail(f"{name}: the instruction code 0x{literal} is written in the script")
    if re.search(r"^(let|var)\s", text, flags=re.M) and not name.startswith("worker"):
        fail(f"{name}: state shared by the page's parts (a top-level let or var)")
for cause in re.findall(r"^\s*'([\w-]+)':", re.search(r"kRefusalCauses = \{(.*?)\};",
                        open(os.path.join(page, "session.js")).read(), flags=re.S).group(1), flags=re.M):
    if "cause-" + cause not in defined:
        fail(f"session.js: the refusal cause {cause} has no --cause-{cause} in viewer.css")
if panels < 8:
    fail(f"only {panels} panels registered")

print(f"{len(scripts)} scripts, {panels} panels, {len(codes)} instruction codes, {len(defined)} colours")
sys.exit(1 if failures else 0)
