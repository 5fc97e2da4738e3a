"""Debian's headless Chromium, driven through Debian's chromedriver, for
the viewer's test, its screenshots and its benchmark.

Chromium and chromedriver are started here and spoken to at 127.0.0.1:
chromedriver would speak to both at "localhost", which a minimal system
without /etc/hosts cannot resolve. Chromium picks its DevTools port and
writes it into its profile (DevToolsActivePort); chromedriver attaches to
it there.
"""
import atexit
import os
import re
import signal
import socket
import subprocess
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.remote.file_detector import UselessFileDetector
from selenium.webdriver.support.ui import WebDriverWait


class Wait(WebDriverWait):
    """A wait whose condition may read an element that the page replaces
    meanwhile (the details box, when the worker's details come): that
    reading is tried again at the next poll, as one that found nothing."""

    def __init__(self, driver, timeout, poll_frequency=0.02):
        super().__init__(driver, timeout, poll_frequency, ignored_exceptions=(StaleElementReferenceException,))


def wait_for(what, check, process, log):
    """check() until it gives something; a limit only against a program
    that never starts."""
    deadline = time.monotonic() + 120
    while True:
        value = check()
        if value:
            return value
        if process.poll() is not None or time.monotonic() > deadline:
            raise RuntimeError(f"{what} did not start; see {log}")
        time.sleep(0.05)


class Browser:
    def __init__(self, work, size="1400,900", extra=()):
        self.profile = tempfile.mkdtemp(prefix="chromium-", dir=work)
        self.logs = []
        self.processes = []
        chromium_log = self._log("chromium")
        self.chromium = subprocess.Popen(
            ["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--user-data-dir=" + self.profile, "--window-size=" + size,
             "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0", *extra, "about:blank"],
            stdout=chromium_log, stderr=subprocess.STDOUT, start_new_session=True)
        self.processes.append(self.chromium)
        active = os.path.join(self.profile, "DevToolsActivePort")

        def devtools_port():
            try:
                with open(active) as f:
                    first = f.readline().strip()
                return int(first) if first.isdigit() else None
            except OSError:
                return None

        port = wait_for("chromium", devtools_port, self.chromium, chromium_log.name)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            driver_port = s.getsockname()[1]
        driver_log = self._log("chromedriver")
        self.service = subprocess.Popen(["/usr/bin/chromedriver", f"--port={driver_port}"],
                                        stdout=driver_log, stderr=subprocess.STDOUT)
        self.processes.append(self.service)
        url = f"http://127.0.0.1:{driver_port}"

        def listening():
            try:
                return urllib.request.urlopen(url + "/status", timeout=5).read()
            except OSError:
                return None

        wait_for("chromedriver", listening, self.service, driver_log.name)
        o = webdriver.ChromeOptions()
        o.debugger_address = f"127.0.0.1:{port}"
        o.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        # Whatever happens to the script, its browser ends with it.
        atexit.register(self.quit)
        self.driver = webdriver.Remote(command_executor=url, options=o)
        # File inputs get the local path itself, as with a local driver.
        self.driver.file_detector = UselessFileDetector()

    def memory(self):
        """The memory of the browser's processes (the one started with this
        profile and everything under it), in KiB: by their kind (--type=:
        renderer, gpu-process, utility; "browser" for the browser itself),
        (resident, proportional, how many), and (resident, proportional)
        of the largest renderer, the page's (the others are blank).
        Resident memory counts the libraries a process shares in every
        process; proportional memory (Pss) shares them out."""
        parent, ours, kind_of = {}, set(), {}
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/stat") as f:
                    parent[int(pid)] = int(f.read().rsplit(")", 1)[1].split()[1])
                # (Chromium's children write their arguments anew, as one text.)
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    args = f.read()
                if self.profile.encode() in args:
                    ours.add(int(pid))
                kind = re.search(rb"--type=([\w-]+)", args)
                kind_of[int(pid)] = kind.group(1).decode() if kind else "browser"
            except (OSError, IndexError, ValueError):
                pass

        def under(pid):
            while pid > 1:
                if pid in ours:
                    return True
                pid = parent.get(pid, 0)
            return False

        def memory(pid):
            rss = pss = 0
            try:
                with open(f"/proc/{pid}/smaps_rollup") as f:
                    for line in f:
                        if line.startswith("Rss:"):
                            rss = int(line.split()[1])
                        elif line.startswith("Pss:"):
                            pss = int(line.split()[1])
            except OSError:
                pass
            return rss, pss

        by_kind = {}
        page = (0, 0)
        for pid in kind_of:
            if under(pid) and kind_of[pid] != "browser" or pid in ours and kind_of[pid] == "browser":
                rss, pss = memory(pid)
                r, p, c = by_kind.get(kind_of[pid], (0, 0, 0))
                by_kind[kind_of[pid]] = (r + rss, p + pss, c + 1)
                if kind_of[pid] == "renderer" and rss > page[0]:
                    page = (rss, pss)
        return by_kind, page

    def _log(self, name):
        f = open(os.path.join(self.profile + "." + name + ".log"), "wb")
        self.logs.append(f)
        return f

    def quit(self):
        if not self.processes:
            return
        try:
            self.driver.quit()
        except Exception:  # the browser may have gone already
            pass
        finally:
            for p in reversed(self.processes):
                if p.poll() is None:
                    p.terminate()
                    try:
                        p.wait(timeout=60)
                    except subprocess.TimeoutExpired:
                        p.kill()
                        p.wait()
            self._wait_session_gone()
            for f in self.logs:
                f.close()
            self.processes = []

    def _session(self):
        """The live processes of Chromium's session: the browser and every
        process it started (renderers, utilities, the crash handler), which
        may outlive it for a moment and write into its profile."""
        ours = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                # state, parent, group, session
                if fields[0] != "Z" and int(fields[3]) == self.chromium.pid:
                    ours.append(int(pid))
            except (OSError, IndexError, ValueError):
                pass
        return ours

    def _wait_session_gone(self):
        """Waits until nothing of Chromium's session is left, so that its
        profile can be removed: what is still there after a minute is
        killed."""
        killed = False
        deadline = time.monotonic() + 60
        while left := self._session():
            if time.monotonic() > deadline:
                if killed:
                    raise RuntimeError(f"Chromium's processes {left} do not end")
                for pid in left:
                    try:
                        os.kill(pid, signal.SIGKILL)
                    except OSError:
                        pass
                killed = True
                deadline = time.monotonic() + 60
            time.sleep(0.05)
