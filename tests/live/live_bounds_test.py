#!/usr/bin/env python3
"""The live viewer's server (vornlog -l) under what could take it down: a
GET of the page with thousands of byte ranges gets the page whole, once,
and the server's peak memory stays small; a request line over 8 KiB gets
414 and a TLS hello 400; fifty clients that send a byte every two seconds
keep no new client out, and are cut; a store folder that cannot take the
capture any more (a file size limit on the run) is said once on the
console and on the page, the run ends with status 1, and the page written
to the dest file is still the -w page.

usage: live_bounds_test.py VORNLOG CAPTURE
"""
import os
import re
import resource
import select
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


def exchange(port, data):
    """Sends raw bytes; (what came back before the server closed, seconds)."""
    started = time.monotonic()
    s = socket.create_connection(("127.0.0.1", port), timeout=LIMIT)
    got = b""
    try:
        s.sendall(data)
        while chunk := s.recv(1 << 20):
            got += chunk
    except OSError:
        pass
    s.close()
    return got, time.monotonic() - started


def peak_kib(pid):
    return int(re.search(r"VmHWM:\s+(\d+) kB", open(f"/proc/{pid}/status").read()).group(1))


def ranges(live, page_size):
    """2,600 ranges of the whole page in one 8 KB request, on 16 connections
    at once: each gets the page once (200), and the server's peak memory
    stays well under 64 MiB."""
    host = f"127.0.0.1:{live.port}"
    request = (f"GET /{live.token}/ HTTP/1.1\r\nHost: {host}\r\nRange: bytes=" + ",".join(["0-"] * 2600) +
               "\r\nConnection: close\r\n\r\n").encode()
    before = peak_kib(live.proc.pid)
    replies = [None] * 16

    def ask(i):
        replies[i] = exchange(live.port, request)[0]

    threads = [threading.Thread(target=ask, args=(i,)) for i in range(16)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got in replies:
        head, _, body = got.partition(b"\r\n\r\n")
        check(head.startswith(b"HTTP/1.1 200") and len(body) == page_size,
              f"2,600 ranges: {head[:40]!r}, {len(body)} bytes, not the page's {page_size}")
    got, _ = exchange(live.port, request.replace(b"GET", b"HEAD", 1))
    check(got.startswith(b"HTTP/1.1 200") and got.endswith(b"\r\n\r\n"), f"HEAD with 2,600 ranges: {got[:80]!r}")
    peak = peak_kib(live.proc.pid)
    print(f"peak resident memory: {before // 1024} MiB before, {peak // 1024} MiB after 16 GETs of 2,600 ranges")
    check(peak < 64 * 1024, f"the server's peak memory after 2,600 ranges: {peak // 1024} MiB")


def refused(live):
    """What the library cannot serve is answered at once, then closed."""
    got, seconds = exchange(live.port, b"GET /" + b"a" * 9000 + b" HTTP/1.1\r\nHost: x\r\n\r\n")
    print(f"a 9,000-byte request line: {got[:30]!r} in {seconds:.3f} s")
    check(got.startswith(b"HTTP/1.1 414"), f"a request line over 8 KiB: {got[:60]!r}")
    hello = bytes.fromhex("160301020001") + os.urandom(256)  # the start of a TLS ClientHello
    got, seconds = exchange(live.port, hello)
    print(f"a TLS hello: {got[:30]!r} in {seconds:.3f} s")
    check(got.startswith(b"HTTP/1.1 400"), f"a TLS hello: {got[:60]!r}")


def slow_clients(live):
    """Fifty clients that send their request a byte every two seconds, and
    come again when cut: a new client is served all the same, and a slow
    one is cut once its time is up."""
    host = f"127.0.0.1:{live.port}"
    request = f"GET /{live.token}/ HTTP/1.1\r\nHost: {host}\r\n\r\n".encode()
    stop = threading.Event()
    cuts = []

    def trickle():
        while not stop.is_set():
            s = socket.create_connection(("127.0.0.1", live.port), timeout=LIMIT)
            opened = time.monotonic()
            try:
                for byte in request:
                    s.sendall(bytes([byte]))
                    ready, _, _ = select.select([s], [], [], 2)
                    if ready and not s.recv(1):
                        cuts.append(time.monotonic() - opened)
                        break
                    if stop.is_set():
                        break
            except OSError:
                cuts.append(time.monotonic() - opened)
            s.close()

    threads = [threading.Thread(target=trickle) for _ in range(50)]
    for t in threads:
        t.start()
    try:
        deadline = time.monotonic() + LIMIT
        while len(cuts) < 50 and time.monotonic() < deadline:
            time.sleep(0.1)
        check(len(cuts) >= 50, f"the slow clients were not cut: {len(cuts)} in {LIMIT} s")
        for attempt in range(3):
            got, seconds = exchange(live.port, request.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n"))
            print(f"a new client among 50 slow ones: {got[:15]!r} in {seconds:.3f} s")
            check(got.startswith(b"HTTP/1.1 200"), f"a new client among 50 slow ones: {got[:60]!r}")
    finally:
        stop.set()
        for t in threads:
            t.join()
    # One alone is cut after 5 s (in the crowd, often sooner).
    s = socket.create_connection(("127.0.0.1", live.port), timeout=LIMIT)
    started = time.monotonic()
    s.sendall(b"GET /")
    try:
        closed = s.recv(1) == b""
    except socket.timeout:
        closed = False
    except OSError:
        closed = True
    seconds = time.monotonic() - started
    s.close()
    print(f"a client that stops in its request line: cut after {seconds:.1f} s")
    check(closed and seconds >= 4, f"a client that stops in its request line: closed {closed} after {seconds:.1f} s")


def full_store(vornlog, sample, folder):
    """The capture's store on a folder that takes no more than 64 KiB a file
    (a file size limit, set for the run alone): the console says it once,
    the stream gives what was kept then why, the page shows it, the run
    ends with status 1, and the page written to standard output (a pipe,
    which the limit leaves alone) is the -w page."""
    store = os.path.join(folder, "store")
    os.mkdir(store)
    capture = os.path.join(folder, "store.txt")
    lines = open(sample, "rb").read()
    with open(capture, "wb") as f:
        while f.tell() < 8 << 20:
            f.write(lines)
    w_page = subprocess.run([vornlog, "-n", "-q", "-w", capture, "-"], capture_output=True, check=True).stdout

    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (64 << 10, 64 << 10))
        ctrl_c_as_a_terminal()

    proc = subprocess.Popen([vornlog, "-n", "-q", "-f", "-l", capture, "-"], cwd=folder, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=dict(os.environ, TMPDIR=store), preexec_fn=limit)
    page = []
    reader = threading.Thread(target=lambda: page.append(proc.stdout.read()))
    reader.start()
    console = b""
    deadline = time.monotonic() + LIMIT
    while b"the capture could not be kept" not in console and time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stderr], [], [], 1)
        if ready:
            chunk = os.read(proc.stderr.fileno(), 65536)
            if not chunk:
                break
            console += chunk
    m = re.search(rb"Live viewer: (http://127\.0\.0\.1:(\d+)/([0-9a-f]{32})/)\n", console)
    check(m and b"the capture could not be kept in " + store.encode() in console,
          f"the console on a full store: {console!r}")
    if not m or b"could not be kept" not in console:
        proc.kill()
        return
    url, port, token = m.group(1).decode(), int(m.group(2)), m.group(3).decode()
    got, _ = exchange(port, f"GET /{token}/capture?start=0&from=0 HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                            "Connection: close\r\n\r\n".encode())
    body = got.partition(b"\r\n\r\n")[2]
    # The chunked body's frames: the bytes kept, then X and why.
    data, at = b"", 0
    while True:
        size_end = body.index(b"\r\n", at)
        size = int(body[at:size_end], 16)
        if size == 0:
            break
        data += body[size_end + 2:size_end + 2 + size]
        at = size_end + 4 + size
    kept, kind, why, at = b"", None, b"", 0
    while at < len(data):
        kind, size = data[at:at + 1], struct.unpack("<I", data[at + 1:at + 5])[0]
        if kind == b"B":
            kept += data[at + 5:at + 5 + size]
        else:
            why = data[at + 5:at + 5 + size]
        at += 5 + size
    check(kind == b"X" and b"could not be kept in " + store.encode() in why and
          0 < len(kept) < os.path.getsize(capture) and open(capture, "rb").read().startswith(kept),
          f"the stream of a full store: {len(kept)} bytes, then {kind} {why!r}")
    shown_on_page(url, store, folder)
    proc.send_signal(signal.SIGINT)
    status = proc.wait(LIMIT)
    reader.join(LIMIT)
    console += proc.stderr.read()
    check(status == 1, f"a full store: status {status}, not 1")
    check(console.count(b"could not be kept") == 1, f"a full store is said more than once: {console!r}")
    check(page and page[0] == w_page, "a full store: the page written differs from the -w page")
    check(os.listdir(store) == [], f"the store's files outlive the run: {os.listdir(store)}")


def shown_on_page(url, store, folder):
    """The page says that the server could not go on, and why."""
    try:
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "viewer"))
        from browser import Browser
    except ImportError as e:
        check(False, f"no headless Chromium through selenium (Debian: chromium chromium-driver python3-selenium): {e}")
        return
    browser = Browser(folder)
    try:
        driver = browser.driver
        driver.get(url)
        deadline = time.monotonic() + 10 * LIMIT
        state = None
        while time.monotonic() < deadline and state != "error":
            state = driver.execute_script("return document.body.dataset.live")
            time.sleep(0.1)
        error = driver.execute_script("return document.body.dataset.error") or ""
        status = driver.execute_script("return document.getElementById('status').textContent")
        check(state == "error" and "could not be kept in " + store in error and error in status,
              f"the page on a full store: {state}, {error!r}, {status!r}")
    finally:
        browser.quit()


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    vornlog, sample = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with tempfile.TemporaryDirectory() as folder:
        live = Live(vornlog, ["-n", "-l", sample, "live.html"], folder)
        live.wait_for(rb"serves until Ctrl-C")
        page = exchange(live.port, f"GET /{live.token}/ HTTP/1.1\r\nHost: 127.0.0.1:{live.port}\r\n"
                                   "Connection: close\r\n\r\n".encode())[0].partition(b"\r\n\r\n")[2]
        ranges(live, len(page))
        refused(live)
        slow_clients(live)
        check(live.stop() == 0, "Ctrl-C: status not 0")
        full_store(vornlog, sample, folder)
    if failures:
        sys.exit(f"{len(failures)} failures")
    print("the live viewer's server stays within its bounds")


main()
