#!/usr/bin/env python3
"""Figures of `razivu serve` under load and under attack.

    scripts/serve_figures.py [TOOL]      (TOOL: out/default/tools/razivu)

Load: CLIENTS processes make CALLS Echo calls between them, each over a
connection of its own kept open, and time every call; the server's memory
(the listening process, and its workers) is read from /proc before and after.
Slow drip: 32 connections from 127.0.0.1 send one byte of a call every 8
seconds, as in the report that led to the call time; a client from 127.0.0.2
is timed meanwhile, and the drippers' ends are timed from their first byte.
Many addresses: 64 addresses (127.0.0.10 to 127.0.0.73) hold 8 connections
each, opening again every one that is closed; they stay silent, drip a call
a byte every 0.5 s, or make a call every 20 s and hold the connection. A
client from 127.1.0.1 makes a call every 0.25 s meanwhile, a new connection
each, and every call is timed.
Everything runs on 127.0.0.x with a temporary RAZIVU_PREFIX.
"""
import multiprocessing
import os
import selectors
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
ATTACK_ADDRESSES = 64
ATTACK_CONNECTIONS = 8
ATTACK_SECONDS = 25
ATTACK_DRIP_SECONDS = 0.5
KEEP_ALIVE_SECONDS = 20


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
    first_byte = time.monotonic()
    for s in drippers:
        s.send(LEAP[:1])
    time.sleep(1)
    served = []
    for s in drippers:
        if closed(s, 0.01):
            s.close()
        else:
            served.append(s)
    refused = DRIPPERS - len(served)
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
          f"{refused} refused at their first byte, {len(ends)} served and cut "
          f"{min(ends, default=0):.2f} to {max(ends, default=0):.2f} s after their first byte, "
          f"{len(served)} never cut")
    print(f"another client (127.0.0.2) meanwhile: answered in {min(waits):.2f} to "
          f"{max(waits):.2f} ms (10 calls)")


def attacker(port, kind, seconds):
    """Holds ATTACK_CONNECTIONS connections from each of ATTACK_ADDRESSES addresses."""
    sel = selectors.DefaultSelector()
    state = {}

    def open_one(address):
        s = socket.socket()
        s.setblocking(False)
        s.bind((f"127.0.0.{10 + address}", 0))
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        state[s] = {"address": address, "sent": 0, "next": time.monotonic() + 0.05}
        sel.register(s, selectors.EVENT_READ)

    for address in range(ATTACK_ADDRESSES):
        for _ in range(ATTACK_CONNECTIONS):
            open_one(address)
    reopened = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for key, _ in sel.select(0.05):
            s = key.fileobj
            try:
                gone = not s.recv(4096)
            except BlockingIOError:
                gone = False
            except OSError:
                gone = True
            if gone:
                address = state.pop(s)["address"]
                sel.unregister(s)
                s.close()
                open_one(address)
                reopened += 1
        now = time.monotonic()
        for s, st in state.items():
            if kind == "idle" or now < st["next"]:
                continue
            try:
                if kind == "drip":
                    s.send(LEAP[st["sent"] % len(LEAP):][:1])
                    st["sent"] += 1
                    st["next"] = now + ATTACK_DRIP_SECONDS
                else:
                    s.send(LEAP)
                    st["next"] = now + KEEP_ALIVE_SECONDS
            except OSError:
                pass
    print(f"  the attackers opened {reopened} connections again", flush=True)


def many_addresses(tool, prefix, kind):
    server, port = start(tool, prefix, "--quiet")
    attack = multiprocessing.Process(target=attacker, args=(port, kind, ATTACK_SECONDS))
    attack.start()
    time.sleep(2)
    times = []
    answered = 0
    end = time.monotonic() + ATTACK_SECONDS - 4
    while time.monotonic() < end:
        t = time.monotonic()
        try:
            c = connect(port, "127.1.0.1")
            c.settimeout(10)
            c.sendall(LEAP)
            answered += recv_exactly(c, len(LEAP_REPLY)) == LEAP_REPLY
            c.close()
        except OSError:
            pass
        times.append(time.monotonic() - t)
        time.sleep(0.25)
    attack.join()
    server.terminate()
    server.wait()
    times.sort()
    print(f"{ATTACK_ADDRESSES} addresses x {ATTACK_CONNECTIONS} connections, {kind}: another client "
          f"answered {answered} of {len(times)} calls, median {times[len(times) // 2] * 1e3:.0f} ms, "
          f"slowest {times[-1] * 1e3:.0f} ms")


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "out", "default", "tools", "razivu")
    with tempfile.TemporaryDirectory(prefix="razivu-figures.") as prefix:
        load(tool, prefix)
        slow_drip(tool, prefix)
        for kind in ("idle", "drip", "keep-alive"):
            many_addresses(tool, prefix, kind)


if __name__ == "__main__":
    main()
