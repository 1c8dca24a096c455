#!/usr/bin/env python3
"""A TFTP server that breaks the protocol on purpose, for the client's tests: what no
real server can be made to do. Answers one read request on 127.0.0.1:PORT from a port
of its own, then writes what the client sent back (opcode and code) to REPORT.

    misbehaving_server.py PORT MODE REPORT
MODE: oversize (DATA 1 of 2100 bytes), endless (512-byte blocks without end), short
(an OACK telling tsize 2000, then 100 bytes), slow (a block every 0.3 s), small (10 bytes).
"""
import socket
import struct
import sys
import time

port, mode, report = int(sys.argv[1]), sys.argv[2], sys.argv[3]
listen = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
listen.bind(("127.0.0.1", port))
listen.settimeout(30)
request, client = listen.recvfrom(2048)
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
s.settimeout(3)
heard = []


def data(block, payload):
    return struct.pack("!HH", 3, block & 0xFFFF) + payload


def send_and_hear(packet):
    s.sendto(packet, client)
    try:
        reply, _ = s.recvfrom(70000)
    except socket.timeout:
        return None
    op, code = struct.unpack("!HH", reply[:4])
    heard.append("%s %d" % ({4: "ACK", 5: "ERROR"}.get(op, str(op)), code))
    return op


deadline = time.monotonic() + 60
if mode == "oversize":
    send_and_hear(data(1, b"o" * 2100))
elif mode == "short":
    if send_and_hear(b"\0\6tsize\0002000\0") == 4:
        send_and_hear(data(1, b"s" * 100))
elif mode == "small":
    send_and_hear(data(1, b"0123456789"))
else:
    pause = 0.3 if mode == "slow" else 0
    for block in range(1, 100001):
        if send_and_hear(data(block, b"e" * 512)) != 4 or time.monotonic() > deadline:
            break
        time.sleep(pause)
with open(report, "w") as f:
    f.write("\n".join(heard[-3:]) + "\n")
