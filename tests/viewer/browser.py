"""Debian's headless Chromium, driven through Debian's chromedriver, for
the viewer's test, its screenshots and its benchmark.

chromedriver is started here and spoken to at 127.0.0.1: selenium's own
service speaks to "localhost", which a minimal system without /etc/hosts
cannot resolve.
"""
import socket
import subprocess
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.remote.file_detector import UselessFileDetector


class Browser:
    def __init__(self, work, size="1400,900", extra=()):
        self.profile = tempfile.mkdtemp(prefix="chromium-", dir=work)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        self.log = open(self.profile + ".chromedriver.log", "wb")
        self.service = subprocess.Popen(["/usr/bin/chromedriver", f"--port={port}"],
                                        stdout=self.log, stderr=subprocess.STDOUT)
        url = f"http://127.0.0.1:{port}"
        # chromedriver answers /status once it listens; a limit only
        # against a chromedriver that never starts.
        deadline = time.monotonic() + 120
        while True:
            try:
                urllib.request.urlopen(url + "/status", timeout=5).read()
                break
            except OSError:
                if self.service.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("chromedriver did not start; see " + self.log.name)
                time.sleep(0.05)
        o = webdriver.ChromeOptions()
        o.binary_location = "/usr/bin/chromium"
        for a in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--disable-dev-shm-usage", "--user-data-dir=" + self.profile, "--window-size=" + size, *extra]:
            o.add_argument(a)
        o.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        self.driver = webdriver.Remote(command_executor=url, options=o)
        # File inputs get the local path itself, as with a local driver.
        self.driver.file_detector = UselessFileDetector()

    def quit(self):
        try:
            self.driver.quit()
        finally:
            self.service.terminate()
            self.service.wait()
            self.log.close()
