"""A vornlog -l run as the live viewer's tests drive it: started with its
arguments, its address read from its standard output."""
import os
import re
import select
import signal
import subprocess
import time

LIMIT = 60  # seconds: a generous limit for what is waited for


def ctrl_c_as_a_terminal():
    """For a child that the test stops with SIGINT (preexec_fn): Ctrl-C as a
    terminal gives it, even when the test runs in the background of a
    shell, which starts it with SIGINT ignored (vornlog keeps a SIGINT
    ignored as it found it)."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


class Live:
    """A vornlog -l run; its address is read from its standard output."""

    def __init__(self, vornlog, args, cwd, stdin=None):
        self.proc = subprocess.Popen([vornlog] + args, cwd=cwd, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     preexec_fn=ctrl_c_as_a_terminal)
        self.out = b""
        self.wait_for(rb"Live viewer: (http://127\.0\.0\.1:(\d+)/([0-9a-f]{32})/)\n")
        m = re.search(rb"Live viewer: (http://127\.0\.0\.1:(\d+)/([0-9a-f]{32})/)\n", self.out)
        self.url, self.port, self.token = m.group(1).decode(), int(m.group(2)), m.group(3).decode()

    def wait_for(self, pattern):
        deadline = time.monotonic() + LIMIT
        while not re.search(pattern, self.out):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.proc.stdout], [], [], max(left, 0))
            if not ready:
                raise SystemExit(f"no {pattern!r} on the console in {LIMIT} s: {self.out!r}")
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                raise SystemExit(f"vornlog ended before {pattern!r}: {self.out!r} {self.proc.stderr.read()!r}")
            self.out += chunk

    def stop(self):
        self.proc.send_signal(signal.SIGINT)
        return self.proc.wait(LIMIT)
