"""Debian's Firefox ESR, headless, driven through its own remote protocol
(Marionette: JSON over a local TCP socket, built into Firefox; no driver
program to install), for the viewer's test.

Firefox is started with a profile of its own, Marionette on a port it
picks (written into the profile as MarionetteActivePort) and spoken to at
127.0.0.1.
"""
import atexit
import json
import os
import socket
import subprocess
import tempfile
import time


class FirefoxError(RuntimeError):
    pass


class Firefox:
    def __init__(self, work, size=(1400, 900)):
        self.profile = tempfile.mkdtemp(prefix="firefox-", dir=work)
        home = tempfile.mkdtemp(prefix="firefox-home-", dir=work)
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            # Marionette on a free port; no first-run pages, updates or
            # reports; nothing fetched by the browser itself.
            for key, value in (("marionette.port", 0), ("browser.shell.checkDefaultBrowser", False),
                               ("browser.startup.homepage_override.mstone", "ignore"),
                               ("datareporting.policy.dataSubmissionEnabled", False),
                               ("toolkit.telemetry.reportingpolicy.firstRun", False),
                               ("app.update.disabledForTesting", True), ("network.proxy.type", 0),
                               ("browser.startup.page", 0)):
                f.write(f"user_pref({json.dumps(key)}, {json.dumps(value)});\n")
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), MOZ_HEADLESS="1")
        self.log = open(self.profile + ".log", "wb")
        self.process = subprocess.Popen(
            ["/usr/bin/firefox-esr", "--headless", "--marionette", "--no-remote", "--profile", self.profile,
             f"--width={size[0]}", f"--height={size[1]}", "about:blank"],
            stdout=self.log, stderr=subprocess.STDOUT, env=env)
        atexit.register(self.quit)
        active = os.path.join(self.profile, "MarionetteActivePort")
        deadline = time.monotonic() + 120  # only against a browser that never starts
        port = None
        while port is None:
            try:
                with open(active) as f:
                    text = f.read().strip()
                port = int(text) if text.isdigit() else None
            except OSError:
                pass
            if port is None:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.log.flush()
                    with open(self.log.name, "rb") as f:
                        said = f.read()[-2000:].decode(errors="replace")
                    raise FirefoxError(f"firefox did not start; it said:\n{said}")
                time.sleep(0.05)
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=600)
        self.buffer = b""
        self.id = 0
        self._read()  # the server's greeting
        self.command("WebDriver:NewSession", {"capabilities": {"alwaysMatch": {"acceptInsecureCerts": False}}})

    def _read(self):
        while b":" not in self.buffer:
            self._more()
        size, _, rest = self.buffer.partition(b":")
        size = int(size)
        while len(rest) < size:
            rest += self._chunk()
        self.buffer = rest[size:]
        return json.loads(rest[:size])

    def _chunk(self):
        data = self.socket.recv(1 << 16)
        if not data:
            raise FirefoxError("Marionette closed the connection")
        return data

    def _more(self):
        self.buffer += self._chunk()

    def command(self, name, params=None):
        self.id += 1
        body = json.dumps([0, self.id, name, params or {}]).encode()
        self.socket.sendall(str(len(body)).encode() + b":" + body)
        while True:
            kind, id, error, result = self._read()
            if kind == 1 and id == self.id:
                break
        if error:
            raise FirefoxError(f"{name}: {error.get('error')}: {error.get('message')}")
        return result.get("value") if isinstance(result, dict) and "value" in result else result

    def get(self, url):
        self.command("WebDriver:Navigate", {"url": url})

    def script(self, source, *args):
        return self.command("WebDriver:ExecuteScript", {"script": source, "args": list(args)})

    def async_script(self, source, *args, timeout_ms=600000):
        self.command("WebDriver:SetTimeouts", {"script": timeout_ms})
        return self.command("WebDriver:ExecuteAsyncScript", {"script": source, "args": list(args)})

    def quit(self):
        if not self.process:
            return
        try:
            self.command("Marionette:Quit", {"flags": ["eForceQuit"]})
        except Exception:  # the browser may have gone already
            pass
        try:
            self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()
        self.process = None
