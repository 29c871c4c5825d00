#!/usr/bin/env python3
"""Figures of `razivu serve` under load and under a slow-drip attack.

    scripts/serve_figures.py [TOOL]      (TOOL: out/default/tools/razivu)

Load: CLIENTS processes make CALLS Echo calls between them, each over a
connection of its own kept open, and time every call; the server's memory
(the listening process, and its workers) is read from /proc before and after.
Slow drip: 32 connections from 127.0.0.1 send one byte of a call every 8
seconds, as in the report that led to the call time; a client from 127.0.0.2
is timed meanwhile, and the drippers' ends are timed from their first byte.
Everything runs on 127.0.0.1 with a temporary RAZIVU_PREFIX.
"""
import multiprocessing
import os
import socket
import subprocess
import sys
import tempfile
import time

CLIENTS = 8
CALLS = 20000
CALL = b"#00004|Echo|s00005|hello|i00002|42|a00003|\x00\xff||"
REPLY = b"r00010|s00005|hello|i00002|42|a00003|\x00\xff||"
LEAP = b"#00014|VIZIIsLeapYear|i00004|2000|"
LEAP_REPLY = b"r00010|i00001|1|"
DRIPPERS = 32
DRIP_SECONDS = 8


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def connect(port, source="127.0.0.1"):
    s = socket.socket()
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def recv_exactly(s, n):
    data = b""
    while len(data) < n:
        got = s.recv(n - len(data))
        if not got:
            break
        data += got
    return data


def closed(s, seconds):
    """True when the server closes (or resets) s within seconds."""
    s.settimeout(seconds)
    try:
        return s.recv(1) == b""
    except socket.timeout:
        return False
    except OSError:
        return True


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                        found.append(int(entry))
            except (OSError, IndexError, ValueError):
                pass
    return found


def memory(pid):
    workers = children(pid)
    return rss_kib(pid), len(workers), sum(rss_kib(w) for w in workers)


def start(tool, prefix, *args):
    port = free_port()
    env = dict(os.environ, RAZIVU_PREFIX=prefix)
    env.pop("RAZIVU_DEBUG", None)
    server = subprocess.Popen([tool, "serve", "--port", str(port), *args], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            connect(port).close()
            break
        except OSError:
            time.sleep(0.1)
    time.sleep(0.3)  # the worker of the probe ends
    return server, port


def client(port, calls, out):
    s = connect(port)
    times = []
    for _ in range(calls):
        t = time.perf_counter()
        s.sendall(CALL)
        if recv_exactly(s, len(REPLY)) != REPLY:
            raise SystemExit("wrong reply")
        times.append(time.perf_counter() - t)
    s.close()
    out.put(times)


def load(tool, prefix):
    server, port = start(tool, prefix, "--quiet")
    before = memory(server.pid)
    out = multiprocessing.Queue()
    procs = [multiprocessing.Process(target=client, args=(port, CALLS // CLIENTS, out))
             for _ in range(CLIENTS)]
    t = time.perf_counter()
    for p in procs:
        p.start()
    times = sorted(x for _ in procs for x in out.get())
    for p in procs:
        p.join()
    took = time.perf_counter() - t
    time.sleep(0.3)
    after = memory(server.pid)
    server.terminate()
    server.wait()
    print(f"load: {len(times)} Echo calls by {CLIENTS} clients in {took:.2f} s: "
          f"{len(times) / took:.0f} calls/s; latency p50 {times[len(times) // 2] * 1e3:.3f} ms, "
          f"p99 {times[int(len(times) * 0.99)] * 1e3:.3f} ms, max {times[-1] * 1e3:.3f} ms")
    print(f"memory of the listening process: {before[0]} KiB before, {after[0]} KiB after; "
          f"workers left running after: {after[1]} ({after[2]} KiB)")


def slow_drip(tool, prefix):
    server, port = start(tool, prefix, "--quiet")
    drippers = [connect(port) for _ in range(DRIPPERS)]
    time.sleep(0.3)
    served = []
    for s in drippers:
        if closed(s, 0.01):
            s.close()
        else:
            served.append(s)
    refused = DRIPPERS - len(served)
    first_byte = time.monotonic()
    for s in served:
        s.send(LEAP[:1])
    waits = []
    for _ in range(10):
        t = time.monotonic()
        c = connect(port, "127.0.0.2")
        c.sendall(LEAP)
        ok = recv_exactly(c, len(LEAP_REPLY)) == LEAP_REPLY
        waits.append((time.monotonic() - t) * 1e3 if ok else float("inf"))
        c.close()
        time.sleep(0.5)
    ends = []
    sent = 1
    while served and time.monotonic() - first_byte < 3 * DRIP_SECONDS:
        for s in list(served):
            if closed(s, 0.05):
                ends.append(time.monotonic() - first_byte)
                served.remove(s)
                s.close()
        if time.monotonic() - first_byte >= sent * DRIP_SECONDS:
            for s in served:
                try:
                    s.send(LEAP[sent:sent + 1])
                except OSError:
                    pass
            sent += 1
    server.terminate()
    server.wait()
    print(f"slow drip: {DRIPPERS} connections from 127.0.0.1, one byte every {DRIP_SECONDS} s: "
          f"{refused} refused at once, {len(ends)} served and cut "
          f"{min(ends, default=0):.2f} to {max(ends, default=0):.2f} s after their first byte, "
          f"{len(served)} never cut")
    print(f"another client (127.0.0.2) meanwhile: answered in {min(waits):.2f} to "
          f"{max(waits):.2f} ms (10 calls)")


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "out", "default", "tools", "razivu")
    with tempfile.TemporaryDirectory(prefix="razivu-figures.") as prefix:
        load(tool, prefix)
        slow_drip(tool, prefix)


if __name__ == "__main__":
    main()
