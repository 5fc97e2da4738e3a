#!/usr/bin/env python3
"""Puts the comparison's page together: one HTML file with its style and
script inside it and a Content-Security-Policy that lets in only those (by
their hashes); nothing is fetched. Writes the page, and a C++ source that
holds it for the program (comparePageText).

usage: assemble.py TEMPLATE CSS SCRIPT PAGE CPP
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from page_parts import inline, sha256  # noqa: E402


def write(path, text):
    with open(path + ".part", "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(path + ".part", path)


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    template, css, script, page_path, cpp_path = sys.argv[1:]
    read = lambda p: open(p, encoding="utf-8").read()
    style = inline(css, read(css))
    code = "'use strict';\n\n(() => {\n" + inline(script, read(script)) + "})();\n"
    csp = "; ".join(["default-src 'none'", "script-src " + sha256(code), "style-src " + sha256(style)])
    page = read(template)
    for key, value in (("@CSP@", csp), ("@STYLE@", style), ("@SCRIPT@", code)):
        if page.count(key) != 1:
            sys.exit(f"assemble.py: {template} must hold {key} once")
        page = page.replace(key, value)
    marker = '<script type="application/json" id="comparison"></script>'
    if page.count(marker) != 1:
        sys.exit("assemble.py: the data element is not in the page once")
    # The data comes before the script that reads it.
    if page.index(marker) > page.index("<script>"):
        sys.exit("assemble.py: the page's script comes before its data element")
    os.makedirs(os.path.dirname(page_path) or ".", exist_ok=True)
    write(page_path, page)
    data = page.encode("utf-8")
    rows = [",".join(str(b) for b in data[i:i + 24]) for i in range(0, len(data), 24)]
    write(cpp_path, "// Made by viewer/compare/assemble.py from viewer/compare/.\n"
          "#include \"program/compare_page_text.h\"\n\n"
          "namespace {\nconst unsigned char kPage[] = {\n" + ",\n".join(rows) + ",0};\n}\n\n"
          "std::string_view vornlog::comparePageText()\n{\n    return {reinterpret_cast<const char*>(kPage), sizeof kPage - 1};\n}\n")


main()
