#!/usr/bin/env python3
"""A scripted DHCP client for killed.sh: many made-up clients one after another, each
DISCOVER, REQUEST, ACK, with the broadcast flag (it holds no address). Every ACK it
receives is written to the log as `MAC ADDRESS`. It rides out a server that vanishes
(retries, then starts over), so it can run while the server is killed and restarted.

  killed_client.py run IFACE PREFIX COUNT LOG STOPFILE PACE_MS [KILLFILE]
     with KILLFILE: when it holds `PID N`, the N-th ACK after that kills PID (SIGKILL)
     the moment it arrives, and the file is removed: a kill right behind an ACK.
  killed_client.py verify IFACE LOG...   each logged MAC must be offered its address
"""
import os
import random
import socket
import struct
import sys
import time

COOKIE = b"\x63\x82\x53\x63"
DISCOVER, OFFER, REQUEST, ACK, NAK = 1, 2, 3, 5, 6


def open_socket(iface):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, iface.encode())
    s.bind(("0.0.0.0", 68))
    return s


def packet(kind, mac, xid, requested=None, server=None):
    head = struct.pack("!BBBBIHHIIII16s64s128s", 1, 1, 6, 0, xid, 0, 0x8000, 0, 0, 0, 0,
                       mac + bytes(10), b"", b"")
    opts = COOKIE + bytes([53, 1, kind])
    if requested:
        opts += bytes([50, 4]) + requested
    if server:
        opts += bytes([54, 4]) + server
    out = head + opts + b"\xff"
    return out + bytes(max(0, 300 - len(out)))


def options(data):
    out, i = {}, 240
    while i < len(data) and data[i] != 255:
        if data[i] == 0:
            i += 1
            continue
        if i + 1 >= len(data):
            break
        n = data[i + 1]
        out[data[i]] = data[i + 2:i + 2 + n]
        i += 2 + n
    return out


def answer(s, mac, xid, deadline):
    """(type, yiaddr bytes, server id bytes) of the answer to xid, or None by deadline."""
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        s.settimeout(left)
        try:
            data = s.recv(2048)
        except socket.timeout:
            return None
        if len(data) < 244 or data[0] != 2 or data[236:240] != COOKIE:
            continue
        if struct.unpack("!I", data[4:8])[0] != xid or data[28:34] != mac:
            continue
        o = options(data)
        if 53 not in o:
            continue
        return o[53][0], data[16:20], o.get(54, b"")


def exchange(s, mac, rng, stop):
    """One client's way to an ACK: its address, or None when told to stop."""
    while not stop():
        xid = rng.getrandbits(32)
        s.sendto(packet(DISCOVER, mac, xid), ("255.255.255.255", 67))
        got = answer(s, mac, xid, time.monotonic() + 0.3)
        if not got or got[0] != OFFER:
            continue
        _, offered, server = got
        for _ in range(4):
            s.sendto(packet(REQUEST, mac, xid, offered, server), ("255.255.255.255", 67))
            got = answer(s, mac, xid, time.monotonic() + 0.3)
            if got:
                break
        if got and got[0] == ACK:
            return got[1]
    return None


def killer(killfile):
    """Called after each ACK: kills the server when the file says this is the one."""
    state = {"seen": 0}

    def after_ack():
        try:
            pid, n = (int(x) for x in open(killfile).read().split())
        except (OSError, ValueError):
            state["seen"] = 0
            return
        state["seen"] += 1
        if state["seen"] >= n:
            try:
                os.kill(pid, 9)
            except OSError:
                pass
            os.remove(killfile)
            state["seen"] = 0
    return after_ack


def run(iface, prefix, count, log, stopfile, pace_ms, killfile=None):
    s = open_socket(iface)
    after_ack = killer(killfile) if killfile else (lambda: None)
    rng = random.Random(os.getpid())
    stop = lambda: os.path.exists(stopfile)
    with open(log, "a") as out:
        for n in range(count):
            mac = bytes([0x02, 0x00, prefix, 0x00, n >> 8, n & 0xFF])
            got = exchange(s, mac, rng, stop)
            if got is None:
                return
            after_ack()
            out.write("%s %s\n" % (mac.hex(":"), socket.inet_ntoa(got)))
            out.flush()
            time.sleep(pace_ms / 1000.0)


def verify(iface, logs):
    s = open_socket(iface)
    rng = random.Random(1)
    held, bad = [], 0
    for log in logs:
        with open(log) as f:
            held += [line.split() for line in f if line.strip()]
    for mac_text, address in held:
        mac = bytes.fromhex(mac_text.replace(":", ""))
        got = None
        for _ in range(5):
            xid = rng.getrandbits(32)
            s.sendto(packet(DISCOVER, mac, xid), ("255.255.255.255", 67))
            got = answer(s, mac, xid, time.monotonic() + 0.5)
            if got:
                break
        offered = socket.inet_ntoa(got[1]) if got and got[0] == OFFER else "nothing"
        if offered != address:
            print("  %s holds an ACK for %s, offered %s after the restart" % (mac_text, address, offered))
            bad += 1
    print("  %d clients asked again, %d not offered their address" % (len(held), bad))
    return bad == 0


if __name__ == "__main__":
    if sys.argv[1] == "run":
        run(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6], int(sys.argv[7]),
            sys.argv[8] if len(sys.argv) > 8 else None)
    else:
        sys.exit(0 if verify(sys.argv[2], sys.argv[3:]) else 1)
