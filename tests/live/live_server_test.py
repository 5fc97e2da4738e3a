#!/usr/bin/env python3
"""The live viewer's server (vornlog -l) as a stranger meets it: every
request without the token, with another Host, another method or another
path is refused as it must be; headers over the limit, 100 connections at
once and a client that never reads leave the server answering the others;
the page it serves is the viewer page with its capture, its stream gives
the capture's bytes and where the page was saved, and the page saved at the
end is the one -w writes.

usage: live_server_test.py VORNLOG CAPTURE
"""
import http.client
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

from live_run import LIMIT, Live, ctrl_c_as_a_terminal

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def request(port, method, path, host=None, headers=(), family=socket.AF_INET):
    """One request; (status, headers, body)."""
    conn = http.client.HTTPConnection("::1" if family == socket.AF_INET6 else "127.0.0.1", port, timeout=LIMIT)
    conn.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
    if host is not None:
        conn.putheader("Host", host)
    for name, value in headers:
        conn.putheader(name, value)
    conn.endheaders()
    response = conn.getresponse()
    body = response.read()
    conn.close()
    return response.status, dict((k.lower(), v) for k, v in response.getheaders()), body


def frames(body):
    """The capture stream's frames: (kind, payload)."""
    out, at = [], 0
    while at < len(body):
        kind, size = body[at:at + 1], struct.unpack("<I", body[at + 1:at + 5])[0]
        out.append((kind, body[at + 5:at + 5 + size]))
        at += 5 + size
    return out


def frames_so_far(body):
    """The whole frames at the start of a stream still coming."""
    out, at = [], 0
    while at + 5 <= len(body):
        kind, size = body[at:at + 1], struct.unpack("<I", body[at + 1:at + 5])[0]
        if at + 5 + size > len(body):
            break
        out.append((kind, body[at + 5:at + 5 + size]))
        at += 5 + size
    return out


def refusals(live):
    port, token = live.port, live.token
    host = f"127.0.0.1:{port}"
    page = f"/{token}/"
    other = token[:-1] + ("0" if token[-1] != "0" else "1")
    cases = [
        ("no token", "GET", "/", host, 403),
        ("no token, the stream", "GET", "/capture", host, 403),
        ("a wrong token", "GET", f"/{other}/", host, 403),
        ("a token too short", "GET", f"/{token[:-1]}/", host, 403),
        ("the token without its slash", "GET", f"/{token}", host, 403),
        ("the token in the query", "GET", f"/?t={token}", host, 403),
        ("another site's name for 127.0.0.1", "GET", page, f"rebind.example:{port}", 403),
        ("another port", "GET", page, f"127.0.0.1:{port + 1}", 403),
        ("no port", "GET", page, "127.0.0.1", 403),
        ("no Host", "GET", page, None, 403),
        ("a wrong token with another method", "POST", f"/{other}/", host, 403),
        ("another Host with another method", "DELETE", page, "rebind.example", 403),
        ("POST", "POST", page, host, 405),
        ("PUT", "PUT", page, host, 405),
        ("DELETE", "DELETE", page, host, 405),
        ("OPTIONS (a CORS preflight)", "OPTIONS", page, host, 405),
        ("another path", "GET", page + "x", host, 404),
        ("a path that climbs out", "GET", page + "../" + token + "/", host, 404),
        ("a path that climbs out, encoded", "GET", page + "%2e%2e/%2e%2e/etc/passwd", host, 404),
        ("a file of the disk", "GET", page + "session.txt", host, 404),
        ("the stream as a folder", "GET", page + "capture/", host, 404),
        ("the page with a query", "GET", page + "?x=1", host, 404),
    ]
    for what, method, path, host_header, status in cases:
        got, headers, body = request(port, method, path, host_header)
        check(got == status, f"{what}: {got}, not {status}")
        if status != 200:
            check(body == b"", f"{what}: the refusal has a body {body[:80]!r}")
        if status == 405:
            check(headers.get("allow") == "GET, HEAD", f"{what}: Allow {headers.get('allow')!r}")
    # The names the browser may give the server.
    for name in (f"localhost:{port}", f"LOCALHOST:{port}", f"127.0.0.1:{port}"):
        got, _, _ = request(port, "HEAD", page, name)
        check(got == 200, f"Host {name}: {got}")
    try:
        got, _, _ = request(port, "GET", page, f"[::1]:{port}", family=socket.AF_INET6)
        check(got == 200, f"over ::1: {got}")
    except OSError as e:
        print("no IPv6 loopback here:", e)
    # The same through curl, as a person tries it.
    if shutil.which("curl"):
        base = f"http://127.0.0.1:{port}"
        for what, args, status in [
            ("curl: the page", [live.url], 200),
            ("curl: no token", [base + "/"], 403),
            ("curl: another Host", ["-H", "Host: rebind.example", live.url], 403),
            ("curl: a path that climbs out", ["--path-as-is", live.url + "../../etc/passwd"], 404),
            ("curl: POST", ["-X", "POST", "-d", "x=1", live.url], 405),
        ]:
            got = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", str(LIMIT)] +
                                 args, capture_output=True, text=True).stdout
            check(got == str(status), f"{what}: {got}, not {status}")
    else:
        check(False, "no curl (Debian: curl)")
    # No CORS: a request from another origin gets no permission.
    _, headers, _ = request(port, "GET", page, host, [("Origin", "http://rebind.example")])
    check(not any(k.startswith("access-control-") for k in headers), f"CORS headers: {headers}")


def raw_exchange(port, data, read_limit=1 << 20):
    """Sends raw bytes; returns what came back before the server closed."""
    s = socket.create_connection(("127.0.0.1", port), timeout=LIMIT)
    try:
        s.sendall(data)
    except OSError:
        pass
    got = b""
    try:
        while len(got) < read_limit:
            chunk = s.recv(65536)
            if not chunk:
                break
            got += chunk
    except OSError:
        pass
    s.close()
    return got


def limits(live, capture_size):
    port, token, host = live.port, live.token, f"127.0.0.1:{live.port}"
    # A request whose headers pass 8 KiB is not served, and its connection
    # closes.
    big = (f"GET /{token}/ HTTP/1.1\r\nHost: {host}\r\n" + "X-Filler: " + "a" * 65536 + "\r\n\r\n").encode()
    got = raw_exchange(port, big)
    check(not got.startswith(b"HTTP/1.1 200"), f"a 64 KiB header was served: {got[:60]!r}")
    many = (f"GET /{token}/ HTTP/1.1\r\nHost: {host}\r\n" + "".join(f"X-{i}: {'b' * 100}\r\n" for i in range(640)) +
            "\r\n").encode()
    got = raw_exchange(port, many)
    check(not got.startswith(b"HTTP/1.1 200"), f"640 headers of 100 bytes were served: {got[:60]!r}")

    # A client that asks for the stream and never reads: its stream is cut
    # (the connection reset) while the others are answered.
    stalled = socket.socket()
    stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    stalled.connect(("127.0.0.1", port))
    stalled.sendall(f"GET /{token}/capture?start=0&from=0 HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
    status, _, body = request(port, "GET", f"/{token}/capture?start=0&from=0", host)
    check(status == 200 and sum(len(p) for k, p in frames(body) if k == b"B") == capture_size,
          "the stream beside a client that does not read")
    poller = select.poll()
    poller.register(stalled, select.POLLERR | select.POLLHUP | select.POLLRDHUP)
    cut = False
    deadline = time.monotonic() + LIMIT
    while time.monotonic() < deadline and not cut:
        for _, events in poller.poll(1000):
            cut = bool(events & (select.POLLERR | select.POLLHUP | select.POLLRDHUP))
    check(cut, "the stream of a client that never reads was not cut")
    stalled.close()


def crowd(live):
    """100 connections at once, each asking for the stream of a followed
    capture (which goes on until Ctrl-C): at most 16 are served, the others
    are closed at once; once they are all closed, the server answers
    again."""
    port, token, host = live.port, live.token, f"127.0.0.1:{live.port}"
    socks = []
    for _ in range(100):
        s = socket.create_connection(("127.0.0.1", port), timeout=LIMIT)
        try:
            s.sendall(f"GET /{token}/capture?start=0&from=0 HTTP/1.1\r\nHost: {host}\r\n\r\n".encode())
        except OSError:
            pass
        socks.append(s)
    served = 0
    for s in socks:
        try:
            if s.recv(12).startswith(b"HTTP/1.1 200"):
                served += 1
        except OSError:
            pass
    print(f"{served} of 100 connections at once were served")
    check(1 <= served <= 16, f"{served} of 100 connections at once were served")
    for s in socks:
        s.close()
    deadline = time.monotonic() + LIMIT
    while True:
        try:
            if request(port, "HEAD", f"/{token}/", host)[0] == 200:
                break
        except OSError:
            pass
        if time.monotonic() > deadline:
            check(False, "the server did not answer again after 100 connections")
            break


def shown(live, vornlog, capture, folder):
    """The page served, in Debian's headless Chromium: every message of the
    capture read so far decoded, as many as -j writes, and no error in the
    browser's console (its policy lets the page's own parts in)."""
    try:
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "viewer"))
        from browser import Browser
    except ImportError as e:
        check(False, f"no headless Chromium through selenium (Debian: chromium chromium-driver python3-selenium): {e}")
        return
    jsonl = subprocess.run([vornlog, "-n", "-q", "-j", capture, "-"], capture_output=True, check=True).stdout
    browser = Browser(folder)
    try:
        driver = browser.driver
        driver.get(live.url)
        deadline = time.monotonic() + 10 * LIMIT
        state = None
        # Ended: the stream said so, and the worker decoded its last bytes.
        while time.monotonic() < deadline and state not in ("ready ended", "failed"):
            state = driver.execute_script("const b = document.body.dataset;"
                                          "return b.state === 'failed' ? 'failed' : b.state + ' ' + b.live + "
                                          "(b.saved !== undefined ? '' : ' not saved yet')")
            time.sleep(0.1)
        messages = driver.execute_script("return document.body.dataset.messages")
        expected = str(jsonl.count(b"\n"))
        check(state == "ready ended" and messages == expected,
              f"the page in Chromium: {state}, {messages} messages, not {expected}")
        problems = [e for e in driver.get_log("browser") if e.get("level") == "SEVERE"]
        check(not problems, f"the page's console: {problems}")
    finally:
        browser.quit()


def opened(vornlog, sample, folder):
    """Without -n, the browser is handed a page of this user's that sends
    it to the address: the token is on no command line (which any user may
    read), and the page goes when the run ends."""
    bin_dir = os.path.join(folder, "bin")
    os.mkdir(bin_dir)
    opener = os.path.join(bin_dir, "xdg-open")
    with open(opener, "w") as f:
        f.write(f"#!/bin/sh\nstat -c %a \"$1\" \"$(dirname \"$1\")\" > '{bin_dir}/modes'\n"
                f"cat -- \"$1\" > '{bin_dir}/seen'\nprintf '%s\\n' \"$@\" > '{bin_dir}/calls'\n")
    os.chmod(opener, 0o700)
    env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""))
    proc = subprocess.Popen([vornlog, "-q", "-l", sample, "opened.html"], cwd=folder, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=ctrl_c_as_a_terminal)
    line = proc.stdout.readline().decode()
    calls = os.path.join(bin_dir, "calls")
    deadline = time.monotonic() + LIMIT
    while not os.path.exists(calls) and time.monotonic() < deadline:
        time.sleep(0.05)
    address = line.split("Live viewer: ")[-1].strip()
    token = address.rstrip("/").rsplit("/", 1)[-1]
    given = open(calls).read().splitlines() if os.path.exists(calls) else []
    check(len(given) == 1 and token not in given[0], f"xdg-open was given {given}, the token {token}")
    check(address and address in open(os.path.join(bin_dir, "seen")).read(), "the page handed over does not lead there")
    check(open(os.path.join(bin_dir, "modes")).read().split() == ["600", "700"], "the page handed over is not private")
    proc.send_signal(signal.SIGINT)
    check(proc.wait(LIMIT) == 0, "Ctrl-C: status not 0")
    check(given and not os.path.exists(given[0]), "the page handed over outlives the run")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    vornlog, sample = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as folder:
        # A capture larger than what the sockets hold: the sample many times.
        lines = open(sample, "rb").read()
        capture = os.path.join(folder, "long.txt")
        with open(capture, "wb") as f:
            while f.tell() < 12 << 20:
                f.write(lines)
        data = open(capture, "rb").read()
        subprocess.run([vornlog, "-n", "-q", "-w", capture, os.path.join(folder, "w.html")], check=True)
        w_page = open(os.path.join(folder, "w.html"), "rb").read()

        live = Live(vornlog, ["-n", "-q", "-l", capture, "live.html"], folder)
        host = f"127.0.0.1:{live.port}"
        # The stream: every byte of the capture, then where the page was
        # saved, once it is.
        status, headers, body = request(live.port, "GET", f"/{live.token}/capture?start=0&from=0", host)
        check(status == 200 and headers.get("content-type") == "application/octet-stream", f"stream: {status} {headers}")
        got = frames(body)
        check(b"".join(p for k, p in got if k == b"B") == data, "the stream's bytes are not the capture")
        saved = os.path.join(folder, "live.html")
        check(got and got[-1] == (b"E", os.path.realpath(saved).encode()) or got[-1] == (b"E", saved.encode()),
              f"the stream's end: {got[-1] if got else None}")
        check(open(saved, "rb").read() == w_page, "the saved page differs from the -w page")
        # Resuming from an offset gives the rest.
        _, headers, body = request(live.port, "GET", f"/{live.token}/capture?start=0&from={len(data) - 1000}", host)
        check(b"".join(p for k, p in frames(body) if k == b"B") == data[-1000:] and
              headers.get("x-capture-from") == str(len(data) - 1000), "resuming at an offset")

        # The page: the -w page's policy plus connect-src 'self', its
        # capture element empty and naming the stream it reads it from.
        status, headers, body = request(live.port, "GET", f"/{live.token}/", host)
        page = body.decode()
        policy = lambda text: re.search(r'http-equiv="Content-Security-Policy" content="([^"]*)"', text).group(1)
        check(status == 200 and headers.get("content-type", "").startswith("text/html"), f"page: {status}")
        check(policy(page) == policy(w_page.decode()) + "; connect-src 'self'", f"the page's policy: {policy(page)}")
        embedded = re.search(r'<script type="application/octet-stream" id="capture"([^>]*)>([^<]*)</script>', page)
        check(embedded and 'data-stream="capture"' in embedded.group(1) and embedded.group(2).strip() == "",
              "the page's capture element")
        status, headers, body = request(live.port, "HEAD", f"/{live.token}/", host)
        check(status == 200 and body == b"", "HEAD")

        # The page in headless Chromium: it decodes the capture it reads
        # from the stream.
        shown(live, vornlog, capture, folder)

        refusals(live)
        limits(live, len(data))
        opened(vornlog, sample, folder)
        check(live.stop() == 0, "Ctrl-C after the end of the file: status not 0")

        # A port in use.
        taken = socket.socket()
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        run = subprocess.run([vornlog, "-n", "-q", f"--port={port}", "-l", sample, "x.html"], cwd=folder,
                             capture_output=True, timeout=LIMIT)
        check(run.returncode == 1 and run.stderr == f"Can't listen on port {port}\n".encode(),
              f"a port in use: {run.returncode} {run.stderr!r}")
        taken.close()
        check(not os.path.exists(os.path.join(folder, "x.html")), "a port in use: the page was written")

        # Followed with -f: Ctrl-C ends the reading, and the open page hears
        # where the page of everything read was saved.
        followed = os.path.join(folder, "followed.txt")
        with open(followed, "wb") as f:
            f.write(lines)
        live = Live(vornlog, ["-n", "-f", "-l", followed, "followed.html"], folder)
        crowd(live)
        stream = http.client.HTTPConnection("127.0.0.1", live.port, timeout=LIMIT)
        stream.request("GET", f"/{live.token}/capture?start=0&from=0")
        response = stream.getresponse()
        seen = b""

        def bytes_seen():
            return sum(len(p) for k, p in frames_so_far(seen) if k == b"B")

        while bytes_seen() < len(lines):
            seen += response.read1(65536)
        with open(followed, "ab") as f:
            f.write(lines)
        while bytes_seen() < 2 * len(lines):
            seen += response.read1(65536)
        live.proc.send_signal(signal.SIGINT)
        got = frames(seen + response.read())
        check(b"".join(p for k, p in got if k == b"B") == lines * 2, "the followed file's bytes")
        check(got[-1][0] == b"E" and got[-1][1].endswith(b"followed.html"), f"-f, Ctrl-C: the end {got[-1]}")
        check(live.proc.wait(LIMIT) == 0, "-f, Ctrl-C: status not 0")
        reference = os.path.join(folder, "followed-w.html")
        subprocess.run([vornlog, "-n", "-q", "-w", followed, reference], check=True)
        check(open(os.path.join(folder, "followed.html"), "rb").read() == open(reference, "rb").read(),
              "-f: the saved page differs from the -w page")

        # --fail-on: the run that Ctrl-C ends has status 3 when the capture
        # made a finding of those kinds (the sample: a Stop command), else 0.
        for kinds, status in (("stop", 3), ("slow-reply", 0)):
            live = Live(vornlog, ["-n", f"--fail-on={kinds}", "-l", sample, "fail-on.html"], folder)
            live.wait_for(rb"serves until Ctrl-C")
            got = live.stop()
            check(got == status, f"-l --fail-on={kinds}: status {got}, not {status}")

    if failures:
        sys.exit(f"{len(failures)} failures")
    print("the live viewer's server refuses and serves as it must")


main()
