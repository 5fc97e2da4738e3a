#!/usr/bin/env python3
"""The live page (vornlog -l -f) in Debian's headless Chromium, watching a
capture that this test writes as it goes: the messages written appear in
the page (data-messages as many as -j writes of the file so far), an
underrun shows as ongoing while nothing more comes, the list follows the newest message
until it is scrolled and again after Follow; Ctrl-C ends it, the page says
where the session was saved and draws its views as the saved page does,
and the page saved is the -w page of the same capture. A pcapng written in two parts, the first cut in the middle of a
packet: the packets before the cut, then all. Everything is waited for,
with generous limits.

usage: live_page_test.py VORNLOG CAPTURE PCAPNG
"""
import json
import os
import subprocess
import sys
import tempfile
import time

from live_run import LIMIT, Live

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def body(driver):
    return driver.execute_script("const b = document.body.dataset; return {state: b.state, live: b.live,"
                                 " messages: b.messages, following: b.following, saved: b.saved,"
                                 " findings: document.querySelectorAll('#findings .finding').length,"
                                 " finding: (document.querySelector('#findings .finding') || {}).textContent || '',"
                                 " status: document.getElementById('status').textContent};")


def views(driver):
    """The timeline's, the tool path's and the S3 panel's drawing under the
    selection, their data attributes, the legend and the findings; the
    status line emptied and the Follow button hidden first, so that the
    panes have the same size in a live page and in a saved one. None until
    each drawing has the size of its canvas."""
    return driver.execute_script(
        "document.getElementById('status').textContent = ''; document.getElementById('follow').hidden = true;"
        "const r = window.devicePixelRatio || 1;"
        "const sized = (e) => e.base && e.base.width === Math.round(e.clientWidth * r) &&"
        " e.base.height === Math.round(e.clientHeight * r);"
        "if (!['timeline', 'plan', 's3'].every((id) => sized(document.getElementById(id)))) return null;"
        "const c = (id) => document.getElementById(id).base.toDataURL();"
        "const text = (id) => document.getElementById(id).textContent;"
        "return [c('timeline'), c('plan'), c('s3'), JSON.stringify(document.getElementById('timeline').dataset),"
        " JSON.stringify(document.getElementById('plan').dataset), text('timeline-legend'), text('findings')];")


def wait(driver, what, test):
    """The page's body until test(body) holds; a failure after LIMIT."""
    deadline = time.monotonic() + 4 * LIMIT
    while True:
        now = body(driver)
        if now["state"] == "failed" or test(now):
            return now
        if time.monotonic() > deadline:
            check(False, f"{what}: the page stayed at {now}")
            return now
        time.sleep(0.05)


def last_row_shown(driver):
    """The number of the last message row drawn in the list."""
    return driver.execute_script("const rows = [...document.querySelectorAll('#list .row')];"
                                 "return rows.length ? Math.max(...rows.map((r) => Number(r.dataset.number))) : -1;")


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    vornlog, sample, pcapng = (os.path.abspath(a) for a in sys.argv[1:4])
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "viewer"))
    from browser import Browser

    def count(path, mode, cut=False):
        """The JSON lines of -j or -e (a capture cut short: those before
        the cut, its status 1)."""
        out = subprocess.run([vornlog, "-n", "-q", mode, path, "-"], capture_output=True, check=not cut).stdout
        return [json.loads(line) for line in out.splitlines()]

    lines = open(sample, "rb").read().splitlines(keepends=True)
    with tempfile.TemporaryDirectory() as folder:
        # The capture written in two parts: the first ends with the first
        # message of the capture's first finding (the buffer ran dry), so
        # that while nothing more comes the finding is shown as it stands
        # (ongoing) once the page's clock has run on for a second.
        findings = count(sample, "-e")
        check(findings, f"{sample} makes no finding")
        split = min(f["first"] for f in findings)
        grown = os.path.join(folder, "grown.txt")
        with open(grown, "wb") as f:
            f.writelines(lines[:split])
        first = len(count(grown, "-j"))

        live = Live(vornlog, ["-n", "-q", "-f", "-l", grown, "live.html"], folder)
        browser = Browser(folder, size="1400,900")
        try:
            driver = browser.driver
            driver.get(live.url)
            now = wait(driver, "the first part", lambda b: b["messages"] == str(first))
            check(now["live"] in ("live", "waiting") and now["following"] == "true", f"the first part: {now}")
            now = wait(driver, "the ongoing finding", lambda b: b["findings"] == 1 and "still open" in b["finding"])
            check(now["findings"] == 1 and "still open" in now["finding"] and now["messages"] == str(first),
                  f"the ongoing finding: {now}")

            with open(grown, "ab") as f:
                f.writelines(lines[split:])
            total = len(count(grown, "-j"))
            now = wait(driver, "the second part", lambda b: b["messages"] == str(total) and b["findings"] >= 1)
            check(now["messages"] == str(total) and now["findings"] >= 1 and now["live"] in ("live", "waiting"),
                  f"the second part: {now}")
            # Following: the newest message in view.
            number = count(grown, "-j")[-1]["number"]
            wait(driver, "following the newest", lambda b: last_row_shown(driver) == number)
            check(last_row_shown(driver) == number, "the list does not show the newest message")
            # Scrolled to the top, the list stops following; Follow takes it
            # back to the newest message.
            driver.execute_script("document.getElementById('list').scrollTop = 0;")
            wait(driver, "scrolled", lambda b: b["following"] == "false")
            driver.find_element("id", "follow").click()
            now = wait(driver, "Follow", lambda b: b["following"] == "true" and last_row_shown(driver) == number)
            check(now["following"] == "true" and last_row_shown(driver) == number, f"Follow: {now}")

            # Ctrl-C: the input ends, the page says where it was saved.
            check(live.stop() == 0, "Ctrl-C: status not 0")
            saved = os.path.join(folder, "live.html")
            now = wait(driver, "the end", lambda b: b["live"] == "ended" and b["saved"] is not None)
            check(now["live"] == "ended" and os.path.samefile(now["saved"], saved) and now["saved"] in now["status"],
                  f"the end: {now}")
            check(now["messages"] == str(total) and now["findings"] == len(count(grown, "-e")),
                  f"the end: {now['messages']} messages and {now['findings']} findings, not {total} and "
                  f"{len(count(grown, '-e'))}")
            problems = [e for e in driver.get_log("browser") if e.get("level") == "SEVERE"]
            check(not problems, f"the page's console: {problems}")
            # The ended page's views are drawn as the saved page draws them
            # (the session whole, not as it grew), at the same size.
            deadline = time.monotonic() + LIMIT
            while (ended := views(driver)) is None and time.monotonic() < deadline:
                time.sleep(0.05)
            driver.get("file://" + saved)
            deadline = time.monotonic() + 4 * LIMIT
            while views(driver) != ended and time.monotonic() < deadline:
                time.sleep(0.05)
            names = ("timeline", "tool path", "S3 panel", "timeline's attributes", "tool path's attributes", "legend",
                     "findings")
            differ = [(name, a if len(a) < 400 else "", b if len(b) < 400 else "")
                      for name, a, b in zip(names, ended or [""] * 7, views(driver) or [""] * 7) if a != b]
            check(not differ, f"the ended live page's views differ from the saved page's: {differ}")
        finally:
            browser.quit()
            if live.proc.poll() is None:
                live.proc.kill()
                live.proc.wait()
        reference = os.path.join(folder, "reference.html")
        subprocess.run([vornlog, "-n", "-q", "-w", grown, reference], check=True)
        check(open(os.path.join(folder, "live.html"), "rb").read() == open(reference, "rb").read(),
              "the saved page differs from the -w page of the same capture")

        # A pcapng written in two parts, the first cut in the middle of a
        # packet's block: the page has the packets before the cut (as many
        # messages as -j finds before the cut), then all of them.
        data = open(pcapng, "rb").read()
        cut = len(data) * 6 // 10 + 3
        grown = os.path.join(folder, "grown.pcapng")
        with open(grown, "wb") as f:
            f.write(data[:cut])
        first = len(count(grown, "-j", cut=True))
        check(0 < first, "the pcapng's first part holds no message")
        live = Live(vornlog, ["-n", "-q", "-f", "-l", grown, "live-usb.html"], folder)
        browser = Browser(folder, size="1400,900")
        try:
            driver = browser.driver
            driver.get(live.url)
            now = wait(driver, "the pcapng's first part", lambda b: b["messages"] == str(first))
            check(now["messages"] == str(first), f"the pcapng's first part: {now}, not {first} messages")
            with open(grown, "ab") as f:
                f.write(data[cut:])
            total = len(count(grown, "-j"))
            now = wait(driver, "the whole pcapng", lambda b: b["messages"] == str(total))
            check(now["messages"] == str(total) and now["live"] != "ended", f"the whole pcapng: {now}, not {total}")
            check(live.stop() == 0, "the pcapng, Ctrl-C: status not 0")
        finally:
            browser.quit()
            if live.proc.poll() is None:
                live.proc.kill()
                live.proc.wait()

    if failures:
        sys.exit(f"{len(failures)} failures")
    print("the live page grows with the capture and keeps the session")


main()
