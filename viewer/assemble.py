#!/usr/bin/env python3
"""Writes the viewer page: one HTML file with its style, its script, the
worker's script and the decoder's WebAssembly (base64) inside it, and a
Content-Security-Policy that lets in only those: the inline script and
style by their hashes, WebAssembly, and the worker made from a blob.

The page's script is made of SCRIPT files (the session, the decoding, one
file per panel, the input) put together in the order given, in one scope
of their own; the worker's of the WORKERS files (separated by commas: the
pipe to the decoder, the live stream's reading, the inflating). The
messages between page and worker (messages.js, beside the worker's
script) go first in both the page's script and the worker's.

usage: assemble.py TEMPLATE CSS WORKERS WASM OUTPUT SCRIPT...
"""
import base64
import os
import sys

from page_parts import inline, sha256


def main():
    if len(sys.argv) < 7:
        sys.exit(__doc__)
    template, css, workers, wasm, output = sys.argv[1:6]
    workers = workers.split(",")
    scripts = sys.argv[6:]
    read = lambda p: open(p, encoding="utf-8").read()
    style = inline(css, read(css))
    shared = os.path.join(os.path.dirname(workers[0]), "messages.js")
    messages = inline(shared, read(shared))
    main_script = ("'use strict';\n\n(() => {\n" + messages + "\n" + "\n".join(inline(p, read(p)) for p in scripts) +
                   "})();\n")
    worker_source = "'use strict';\n\n" + messages + "\n" + "\n".join(inline(p, read(p)) for p in workers)
    wasm_text = base64.b64encode(open(wasm, "rb").read()).decode()
    csp = "; ".join([
        "default-src 'none'",
        "script-src " + sha256(main_script) + " 'wasm-unsafe-eval'",
        "style-src " + sha256(style),
        "worker-src blob:",
    ])
    page = read(template)
    for key, value in (("@CSP@", csp), ("@STYLE@", style), ("@SCRIPT@", main_script),
                       ("@WORKER@", worker_source), ("@WASM@", wasm_text),
                       ("@CAPTURE_NAME@", ""), ("@CAPTURE_DEVICE@", ""), ("@CAPTURE@", "")):
        if page.count(key) != 1:
            sys.exit(f"assemble.py: {template} must hold {key} once")
        page = page.replace(key, value)
    # The place where vornlog -w puts a capture: exactly once in the page.
    marker = '<script type="application/octet-stream" id="capture" data-name="" data-device=""></script>'
    if page.count(marker) != 1:
        sys.exit("assemble.py: the capture's element is not in the page once")
    # The page's script hands the capture's parts on as the browser reads
    # them: it comes before them.
    if page.index("<script>") > page.index(marker):
        sys.exit("assemble.py: the capture's element comes before the page's script")
    with open(output + ".part", "w", encoding="utf-8", newline="\n") as f:
        f.write(page)
    os.replace(output + ".part", output)


main()
