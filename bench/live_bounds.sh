#!/usr/bin/env bash
# The live viewer's server (vornlog -l) under load, with the machine's
# load average: its peak resident memory after 16 GETs at once of the page
# with 2,600 byte ranges each; how long a new client waits for the page
# while 50 slow clients send their requests a byte every 2 s (and come
# again when cut); its resident memory while a followed file grows by
# COPIES times the benchmark capture of LINES lines (1,000,000 by default)
# as fast as it can be written, one client reading the stream, and its
# peak until the page of the whole session is saved. Prints the figures.
#
# usage: bash bench/live_bounds.sh [LINES] [COPIES]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=build-bench
lines=${1:-1000000}
copies=${2:-4}
source bench/tree.sh
bench_tree vornlog vornlog_live viewer_page
cat "$dump" >/dev/null

echo "live viewer bounds benchmark, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$vornlog" "$dump" "$out" "$copies" <<'EOF'
import os, re, resource, select, signal, socket, statistics, subprocess, sys, threading, time

vornlog, dump, out, copies = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])


def status(pid, field):
    return int(re.search(field + r":\s+(\d+) kB", open(f"/proc/{pid}/status").read()).group(1)) // 1024


def start(args):
    proc = subprocess.Popen([vornlog, "-n"] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    seen = b""
    while not (m := re.search(rb"Live viewer: http://127\.0\.0\.1:(\d+)/([0-9a-f]{32})/\n", seen)):
        seen += os.read(proc.stdout.fileno(), 65536)
    return proc, int(m.group(1)), m.group(2).decode()


def exchange(port, data):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(data)
    got = b""
    while chunk := s.recv(1 << 20):
        got += chunk
    s.close()
    return got


# 1. Ranges.
small = f"{out}/small.txt"
with open(small, "wb") as f, open(dump, "rb") as d:
    f.write(d.read(1 << 20).rpartition(b"\n")[0] + b"\n")
proc, port, token = start(["-l", small, f"{out}/small.html"])
host = f"127.0.0.1:{port}"
attack = (f"GET /{token}/ HTTP/1.1\r\nHost: {host}\r\nRange: bytes=" + ",".join(["0-"] * 2600) +
          "\r\nConnection: close\r\n\r\n").encode()
before = status(proc.pid, "VmHWM")
sizes = []
threads = [threading.Thread(target=lambda: sizes.append(len(exchange(port, attack)))) for _ in range(16)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print(f"  16 GETs at once of 2,600 ranges ({len(attack)} bytes each): {max(sizes) / 1e6:.2f} MB each at most; "
      f"peak resident {before} MiB before, {status(proc.pid, 'VmHWM')} MiB after")

# 2. Fifty slow clients.
request = f"GET /{token}/ HTTP/1.1\r\nHost: {host}\r\n\r\n".encode()
stop = threading.Event()


def trickle():
    while not stop.is_set():
        s = socket.create_connection(("127.0.0.1", port))
        try:
            for byte in request:
                s.sendall(bytes([byte]))
                ready, _, _ = select.select([s], [], [], 2)
                if (ready and not s.recv(1)) or stop.is_set():
                    break
        except OSError:
            pass
        s.close()


slow = [threading.Thread(target=trickle) for _ in range(50)]
for t in slow:
    t.start()
time.sleep(6)
waits, refused = [], 0
for _ in range(20):
    t0 = time.monotonic()
    try:
        ok = exchange(port, request.replace(b"\r\n\r\n", b"\r\nConnection: close\r\n\r\n")).startswith(b"HTTP/1.1 200")
    except OSError:
        ok = False
    waits.append(time.monotonic() - t0)
    refused += not ok
    time.sleep(0.5)
stop.set()
for t in slow:
    t.join()
print(f"  a new client among 50 slow ones: the page in {statistics.median(waits) * 1000:.0f} ms (median), "
      f"{max(waits) * 1000:.0f} ms at most, {refused} of 20 refused")
proc.send_signal(signal.SIGTERM)  # (a run in the background ignores SIGINT)
proc.wait()

# 3. A long, fast capture into a followed file.
followed = f"{out}/followed.txt"
open(followed, "wb").close()
proc, port, token = start(["-f", "-l", followed, f"{out}/followed.html"])
received = [0]


def read_stream():
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(f"GET /{token}/capture?start=0&from=0 HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
    while chunk := s.recv(1 << 20):
        received[0] += len(chunk)


reader = threading.Thread(target=read_stream)
reader.start()
t0 = time.monotonic()
rss = []
with open(followed, "ab") as f, open(dump, "rb") as d:
    for _ in range(copies):
        d.seek(0)
        while block := d.read(1 << 20):
            f.write(block)
            f.flush()
            rss.append(status(proc.pid, "VmRSS"))
written = os.path.getsize(followed)
wrote = time.monotonic() - t0
while received[0] < written:
    time.sleep(0.1)
caught = time.monotonic() - t0
rss.append(status(proc.pid, "VmRSS"))
store = sum(os.path.getsize(f"/proc/{proc.pid}/fd/{fd}") for fd in os.listdir(f"/proc/{proc.pid}/fd")
            if os.readlink(f"/proc/{proc.pid}/fd/{fd}").startswith("/tmp/vornlog-live-"))
proc.send_signal(signal.SIGTERM)  # (a run in the background ignores SIGINT)
proc.wait()
reader.join()
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024
print(f"  {written / 1e6:.0f} MB written into a followed file in {wrote:.1f} s, all streamed to a client "
      f"{caught:.1f} s after the start; the store {store / 1e6:.0f} MB on disk; resident memory at most {max(rss)} MiB "
      f"while reading ({rss[-1]} MiB at the end), peak {peak} MiB until the page of the session was saved")
EOF
