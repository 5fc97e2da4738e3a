#!/usr/bin/env python3
"""The live page bounded to its newest messages (#keep=N in its address),
fed a capture of more at its own pace: it counts every message, the list
holds from 7/8 of N to N with a note above it saying how many left, its rows are
the newest messages with their own lines (as -j writes them), the findings
stay, and the ended session's summary is the whole capture's, as -t writes
it. Everything is waited for, with generous limits.

usage: live_page_bounded_test.py VORNLOG CAPTURE
"""
import json
import os
import subprocess
import sys
import tempfile
import time

from live_run import LIMIT, Live

KEEP = 300
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


STATE = ("const b = document.body.dataset; return {messages: b.messages, gone: b.gone, live: b.live,"
         " note: document.getElementById('list-gone').hidden ? null : document.getElementById('list-gone').textContent,"
         " listed: document.getElementById('f-count').textContent,"
         " findings: document.getElementById('findings-count').textContent,"
         " summary: document.getElementById('summary').textContent};")


def wait(driver, what, test):
    deadline = time.monotonic() + 4 * LIMIT
    while True:
        now = driver.execute_script(STATE)
        if test(now) or time.monotonic() > deadline:
            check(test(now), f"{what}: {now}")
            return now
        time.sleep(0.1)


def rows(driver):
    """The rows drawn in the list: (number, instruction, summary, line come)."""
    return driver.execute_script(
        "return [...document.querySelectorAll('#list .row')].map((r) => [Number(r.dataset.number),"
        " r.children[3].textContent, r.children[4].textContent, r.dataset.line !== undefined])"
        ".sort((a, b) => a[0] - b[0]);")


def replay(path, lines):
    """Appends the text dump's `lines` to `path` at the pace of their time
    stamps (the third column, in seconds), each written with its time plus
    what the writer lost so far."""
    began = time.monotonic()
    lost = 0.0
    with open(path, "ab", buffering=0) as f:
        waiting = []
        for line in lines:
            cells = line.split(b"\t", 3)
            try:
                at = float(cells[2])
            except (IndexError, ValueError):
                waiting.append(line)
                continue
            late = time.monotonic() - began - (at + lost)
            if late < 0:
                f.write(b"".join(waiting))
                waiting = []
                time.sleep(-late)
            elif late > 0.005:
                lost += late
            cells[2] = b"%.6f" % (at + lost)
            waiting.append(b"\t".join(cells))
        f.write(b"".join(waiting))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    vornlog, sample = (os.path.abspath(a) for a in sys.argv[1:3])
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "viewer"))
    from browser import Browser

    def lines_of(path, mode):
        out = subprocess.run([vornlog, "-n", "-q", mode, path, "-"], capture_output=True, check=True).stdout
        return [json.loads(line) for line in out.splitlines()]

    lines = open(sample, "rb").read().splitlines(keepends=True)
    with tempfile.TemporaryDirectory() as folder:
        grown = os.path.join(folder, "grown.txt")
        open(grown, "wb").close()
        live = Live(vornlog, ["-n", "-q", "-f", "-l", grown, "live.html"], folder)
        browser = Browser(folder, size="1400,900")
        try:
            driver = browser.driver
            driver.get(live.url + "#keep=" + str(KEEP))
            # Written at the capture's own pace, as a machine would: the page
            # lets messages go several times on the way. A writer held up
            # writes the time it lost into the time stamps that follow, so
            # that the file's clock never lags the page's: the findings the
            # page makes while the input is quiet are those of the file.
            replay(grown, lines)
            total = len(lines_of(grown, "-j"))
            wait(driver, "every message", lambda b: b["messages"] == str(total))
            messages = lines_of(grown, "-j")
            # (The list's count follows the messages' count: waited for.)
            settled = lambda b: b["gone"] and b["note"] and b["listed"] and \
                int(b["gone"]) + int(b["listed"].split()[0]) == len(messages)
            now = wait(driver, "the note", settled)
            gone = int(now["gone"] or 0)
            listed = int(now["listed"].split()[0]) if now["listed"] else -1
            check(KEEP - KEEP // 8 <= listed <= KEEP and gone + listed == len(messages),
                  f"{gone} gone and {listed} listed of {len(messages)} (keep {KEEP})")
            check(now["note"] and f"{gone:,} earlier messages left the page" in now["note"], f"the note: {now['note']}")
            # The newest rows, each written from its own line.
            by_number = {m["number"]: m for m in messages}
            want = lambda: [r for r in rows(driver) if r[3]]
            deadline = time.monotonic() + LIMIT
            # (A row's line comes after the row: the newest is waited for.)
            while not ((w := want()) and len(w) >= 5 and w[-1][0] == messages[-1]["number"]) \
                    and time.monotonic() < deadline:
                time.sleep(0.1)
            drawn = want()
            check(drawn and drawn[-1][0] == messages[-1]["number"], f"the newest rows: {drawn[-3:]}")
            for number, instruction, _, _ in drawn:
                m = by_number.get(number)
                check(m and instruction == (m["instruction"] or instruction), f"row {number}: {instruction} for {m}")
            # The list's first row: the first message kept.
            driver.execute_script("document.getElementById('list').scrollTop = 0;")
            m = messages[gone]
            # (The list draws its rows again once it hears of the scroll, and
            # a row's line comes after the row: both are waited for.)
            deadline = time.monotonic() + LIMIT
            while time.monotonic() < deadline and not ((r := rows(driver)) and r[0][3] and r[0][0] == m["number"]):
                time.sleep(0.1)
            first = rows(driver)[0]
            check(first[0] == m["number"] and first[1] == (m["instruction"] or first[1]),
                  f"the first row kept: {first}, message {m['number']} {m['instruction']}")
            # The findings stay: as many as -e finds in the whole capture.
            findings = {f["id"] for f in lines_of(grown, "-e")}
            now = wait(driver, "the findings", lambda b: b["findings"] == str(len(findings)))
            live.stop()
            # The summary of the whole session, messages that left included,
            # as -t writes it (but for the file's name, which the page gives
            # as the server names the capture).
            now = wait(driver, "the end", lambda b: b["live"] == "ended" and "Messages decoded" in b["summary"])
            told = subprocess.run([vornlog, "-n", "-q", "-t", grown, "-"], capture_output=True, check=True).stdout
            unnamed = lambda text: [line for line in text.splitlines() if not line.lstrip().startswith("File ")]
            check(unnamed(now["summary"]) == unnamed(told.decode()), f"the summary: {now['summary']}")
        finally:
            browser.quit()
            if live.proc.poll() is None:
                live.stop()
    if failures:
        sys.exit(f"{len(failures)} failures")
    print("ok")


if __name__ == "__main__":
    main()
