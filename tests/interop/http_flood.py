#!/usr/bin/env python3
"""Connection floods against the HTTP side (used by http.sh).

  http_flood.py starve PORT     1,200 idle or half-sent connections from 127.0.0.2, then
                                a GET from 127.0.0.1: prints how long it took; fails
                                unless it was served within 2 s.
  http_flood.py halfsent PORT   one connection that sends half a request and waits:
                                fails unless the server closes it within 15 s.
  http_flood.py oldest PORT     keep-alive connections from several addresses up to near
                                the limit: fails unless the oldest idle one is closed to
                                make room and a newcomer is served.
"""
import resource
import socket
import sys
import time

soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 8192), hard))


def connect(port, source, timeout=5.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def closed(s, wait):
    """True when the server closed (or reset) the connection within `wait` seconds."""
    s.settimeout(wait)
    try:
        while True:
            data = s.recv(65536)
            if not data:
                return True
    except socket.timeout:
        return False
    except OSError:
        return True


def get(port, path="/small.bin", source="127.0.0.1", timeout=30.0):
    """Seconds until a whole 200 answer came, or None."""
    start = time.monotonic()
    try:
        s = connect(port, source, timeout)
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())
        answer = b""
        while True:
            data = s.recv(65536)
            if not data:
                break
            answer += data
        s.close()
    except OSError:
        return None
    return time.monotonic() - start if answer.startswith(b"HTTP/1.1 200") else None


def starve(port):
    held = []
    for i in range(1200):
        try:
            s = connect(port, "127.0.0.2", 2.0)
            if i % 2:
                s.sendall(b"GET /small.bin HTTP/1.1\r\nHost: x\r\n")  # never ends
            held.append(s)
        except OSError:
            pass
    took = get(port, timeout=30.0)
    print(f"another client served in {took:.3f} s" if took is not None else "another client not served")
    return took is not None and took < 2.0


def halfsent(port):
    s = connect(port, "127.0.0.1")
    s.sendall(b"GET /small.bin HTTP/1.1\r\nHost: x\r\n")
    start = time.monotonic()
    gone = closed(s, 15.0)
    print(f"half-sent request closed after {time.monotonic() - start:.1f} s" if gone else "still open after 15 s")
    return gone


def oldest(port):
    conns = []
    for n in range(1000 - 20):
        source = f"127.0.0.{3 + n // 120}"
        s = connect(port, source)
        s.sendall(b"HEAD /small.bin HTTP/1.1\r\nHost: x\r\n\r\n")
        s.settimeout(5.0)
        head = b""
        while b"\r\n\r\n" not in head:
            data = s.recv(4096)
            if not data:
                break
            head += data
        conns.append(s)
    first_gone = closed(conns[0], 0.1)
    more = [connect(port, "127.0.0.1") for _ in range(8)]
    took = get(port, timeout=10.0)
    first_gone = closed(conns[0], 2.0)
    youngest_open = not closed(conns[-1], 0.2)
    print(f"oldest idle closed: {first_gone}, youngest still open: {youngest_open}, newcomer served: {took is not None}")
    for s in conns + more:
        s.close()
    return first_gone and youngest_open and took is not None


if __name__ == "__main__":
    what, port = sys.argv[1], int(sys.argv[2])
    sys.exit(0 if {"starve": starve, "halfsent": halfsent, "oldest": oldest}[what](port) else 1)
