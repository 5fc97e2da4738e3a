#!/usr/bin/env python3
"""Checks the links of the README and of the pages in docs/ under ROOT (the
source tree, or where a package installed them): every link to a file leads
to a file that is there, every #anchor to a heading of its page, and every
page of docs/ is linked from the README. With --pages DIR, every page of DIR
(the source tree's docs/) must be in ROOT/docs too, the same bytes."""
import os
import re
import sys

LINK = re.compile(r"\]\(([^)\s]+)\)")


def slug(heading):
    """The anchor that GitHub and most Markdown viewers give a heading."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def outside_code(text):
    lines, fence = [], False
    for line in text.split("\n"):
        if line.startswith("```"):
            fence = not fence
        elif not fence:
            lines.append(line)
    return lines


def anchors(path):
    lines = outside_code(open(path, encoding="utf-8").read())
    return {slug(line.lstrip("#")) for line in lines if re.match(r"#{1,6} ", line)}


def main():
    args = sys.argv[1:]
    pages_dir = None
    if "--pages" in args:
        i = args.index("--pages")
        pages_dir = args[i + 1]
        del args[i:i + 2]
    root = args[0]
    docs = os.path.join(root, "docs")
    pages = sorted(f for f in os.listdir(docs) if f.endswith(".md")) if os.path.isdir(docs) else []
    faults = []
    if pages_dir:
        for name in sorted(f for f in os.listdir(pages_dir) if f.endswith(".md")):
            there = os.path.join(docs, name)
            if not os.path.isfile(there):
                faults.append(f"docs/{name} is missing")
            elif open(there, "rb").read() != open(os.path.join(pages_dir, name), "rb").read():
                faults.append(f"docs/{name} is not the source tree's")
    linked = set()
    for name in ["README.md"] + [os.path.join("docs", p) for p in pages]:
        path = os.path.join(root, name)
        if not os.path.isfile(path):
            faults.append(f"{name} is missing")
            continue
        for line in outside_code(open(path, encoding="utf-8").read()):
            for target in LINK.findall(line):
                if re.match(r"[a-z]+:", target):
                    continue
                file, _, anchor = target.partition("#")
                dest = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
                if not os.path.isfile(dest):
                    faults.append(f"{name}: {target}: no such file")
                    continue
                if name == "README.md":
                    linked.add(os.path.relpath(dest, root))
                if anchor and dest.endswith(".md") and anchor not in anchors(dest):
                    faults.append(f"{name}: {target}: no such heading")
    for page in pages:
        if os.path.join("docs", page) not in linked:
            faults.append(f"docs/{page} is not linked from the README")
    for fault in faults:
        print("FAIL:", fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
