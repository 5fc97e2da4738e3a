#!/usr/bin/env python3
"""The live page (vornlog -l -f) in Debian's headless Chromium when its
stream is broken or its capture starts again: its capture stream cut in the
middle (as the server cuts a client that reads too slowly), the page asks
again from the byte it had got to and decodes nothing twice; the followed
file truncated and written anew, the page decodes the new capture from its
start; another USB device chosen while the capture grows, the page decodes
the capture again for that device and goes on following it. Everything is
waited for, with generous limits.

usage: live_page_again_test.py VORNLOG CAPTURE PCAPNG
"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

from live_run import LIMIT, Live

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


class Relay:
    """Between the browser and vornlog -l, as a network in between would
    be: each connection passed on both ways, each request's Host header
    naming vornlog's port; cut() breaks the capture streams open then."""

    def __init__(self, port):
        self.port = port
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.address = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.requests = []  # the request lines, in order
        self.streams = []  # the connections whose last request asked for the capture stream
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                browser, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(("127.0.0.1", self.port))
            threading.Thread(target=self._requests, args=(browser, server), daemon=True).start()
            threading.Thread(target=self._pass, args=(server, browser), daemon=True).start()

    def _requests(self, browser, server):
        """The browser's requests (GET and HEAD: heads without a body)."""
        pending = b""
        try:
            while chunk := browser.recv(65536):
                pending += chunk
                while b"\r\n\r\n" in pending:
                    head, pending = pending.split(b"\r\n\r\n", 1)
                    head = re.sub(rb"(?im)^host:[^\r\n]*", b"Host: 127.0.0.1:%d" % self.port, head)
                    line = head.split(b"\r\n", 1)[0].decode()
                    with self.lock:
                        self.requests.append(line)
                        if "/capture" in line:
                            self.streams.append((browser, server))
                    server.sendall(head + b"\r\n\r\n")
        except OSError:
            pass
        self._close(browser, server)

    def _pass(self, source, to):
        try:
            while chunk := source.recv(65536):
                to.sendall(chunk)
        except OSError:
            pass
        self._close(source, to)

    @staticmethod
    def _close(*ends):
        for end in ends:
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            end.close()

    def cut(self):
        with self.lock:
            streams, self.streams = self.streams, []
        for ends in streams:
            self._close(*ends)
        return len(streams)

    def capture_requests(self):
        with self.lock:
            return [line for line in self.requests if "/capture" in line]


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    vornlog, sample, pcapng = (os.path.abspath(a) for a in sys.argv[1:4])
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "viewer"))
    from browser import Browser
    from selenium.webdriver.support.ui import Select

    def messages(path, *options):
        out = subprocess.run([vornlog, "-n", "-q", *options, "-j", path, "-"], capture_output=True, check=True).stdout
        return len(out.splitlines())

    def wait(driver, what, test):
        """The page's body until test(body) holds; a failure after the limit."""
        deadline = time.monotonic() + 4 * LIMIT
        while True:
            now = driver.execute_script("const b = document.body.dataset; return {state: b.state, live: b.live,"
                                        " messages: b.messages, lowered: window.lowered,"
                                        " status: document.getElementById('status').textContent};")
            if now["state"] == "failed" or test(now):
                return now
            if time.monotonic() > deadline:
                check(False, f"{what}: the page stayed at {now}")
                return now
            time.sleep(0.05)

    # Whether the count of messages ever went down (decoded again).
    watch_count = """
        window.lowered = false;
        let before = 0;
        new MutationObserver(() => {
          const n = Number(document.body.dataset.messages);
          if (n < before) window.lowered = true;
          before = n;
        }).observe(document.body, { attributes: true, attributeFilter: ['data-messages'] });"""

    lines = open(sample, "rb").read().splitlines(keepends=True)
    with tempfile.TemporaryDirectory() as folder:
        browser = Browser(folder, size="1400,900")
        live = None
        try:
            driver = browser.driver
            # The stream cut in the middle of the session: the page asks
            # again from the offset it has, and nothing is decoded twice.
            grown = os.path.join(folder, "grown.txt")
            first = lines[:len(lines) // 2]
            with open(grown, "wb") as f:
                f.writelines(first)
            live = Live(vornlog, ["-n", "-q", "-f", "-l", grown, "live.html"], folder)
            relay = Relay(live.port)
            driver.get(live.url.replace(str(live.port), str(relay.address), 1))
            driver.execute_script(watch_count)
            count = messages(grown)
            wait(driver, "the first half", lambda b: b["messages"] == str(count))
            check(relay.cut() >= 1, "no capture stream to cut")
            with open(grown, "ab") as f:
                f.writelines(lines[len(lines) // 2:])
            count = messages(grown)
            now = wait(driver, "the whole capture after the cut",
                       lambda b: b["messages"] == str(count) and b["live"] != "ended")
            check(now["messages"] == str(count) and not now["lowered"], f"after the cut: {now}, not {count} messages")
            size = len(b"".join(first))
            asked = relay.capture_requests()
            check(any(re.search(rf"[?&]from={size}\b", line) for line in asked[1:]),
                  f"the page did not ask again from byte {size}: {asked}")

            # The followed file truncated and written anew: a new capture,
            # decoded from its start.
            with open(grown, "wb") as f:
                f.writelines(lines[:len(lines) // 4])
            count = messages(grown)
            now = wait(driver, "the capture written anew", lambda b: b["messages"] == str(count))
            check(now["messages"] == str(count) and now["live"] in ("live", "waiting"),
                  f"the capture written anew: {now}, not {count} messages")
            with open(grown, "ab") as f:
                f.writelines(lines[len(lines) // 4:])
            count = messages(grown)
            now = wait(driver, "the new capture grown", lambda b: b["messages"] == str(count))
            check(now["messages"] == str(count), f"the new capture grown: {now}, not {count} messages")
            check(live.stop() == 0, "Ctrl-C: status not 0")
            now = wait(driver, "the end", lambda b: b["live"] == "ended")
            check(now["messages"] == str(count), f"the end: {now}, not {count} messages")

            # Another USB device chosen while the capture grows: a device
            # that sent nothing (given with -d), then the one recognised.
            data = open(pcapng, "rb").read()
            usb = os.path.join(folder, "grown.pcapng")
            with open(usb, "wb") as f:
                f.write(data[:len(data) // 2])
            live = Live(vornlog, ["-n", "-q", "-f", "-d", "1.9", "-l", usb, "live-usb.html"], folder)
            driver.get(live.url)
            device = Select(driver.find_element("id", "device"))
            wait(driver, "device 1.9", lambda b: b["messages"] == "0" and b["live"] in ("live", "waiting"))
            device.select_by_value("")
            count = subprocess.run([vornlog, "-n", "-q", "-j", usb, "-"], capture_output=True).stdout.count(b"\n")
            check(count > 0, "the first half of the pcapng holds no message")
            now = wait(driver, "the device recognised", lambda b: b["messages"] == str(count))
            check(now["messages"] == str(count), f"the device recognised: {now}, not {count} messages")
            with open(usb, "ab") as f:
                f.write(data[len(data) // 2:])
            count = messages(usb)
            now = wait(driver, "the whole pcapng", lambda b: b["messages"] == str(count))
            check(now["messages"] == str(count) and now["live"] != "ended", f"the whole pcapng: {now}, not {count}")
            device.select_by_value("1.9")
            now = wait(driver, "device 1.9 again", lambda b: b["messages"] == "0")
            check(now["messages"] == "0" and now["live"] != "ended", f"device 1.9 again: {now}")
            check(live.stop() == 0, "the pcapng, Ctrl-C: status not 0")
            # (The stream cut is a failed request: the browser says so.)
            problems = [e for e in driver.get_log("browser")
                        if e.get("level") == "SEVERE" and "/capture" not in e.get("message", "")]
            check(not problems, f"the page's console: {problems}")
        finally:
            browser.quit()
            if live and live.proc.poll() is None:
                live.proc.kill()
                live.proc.wait()

    if failures:
        sys.exit(f"{len(failures)} failures")
    print("the live page resumes a cut stream, follows a capture written anew and another device")


main()
