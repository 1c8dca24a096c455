#!/usr/bin/env python3
"""Rebuilds HTTP responses from a capture and checks one carried a file whole.

    httpcheck.py CAPTURE.pcap SERVER_PORT LOCAL_FILE

Each TCP connection's bytes from SERVER_PORT are put back in order by sequence number
(a segment sent again must carry the same bytes, a gap fails the connection); each
response in it is its headers and Content-Length bytes (none for the answer to a HEAD,
which edk2's HTTP boot sends first; the client's requests tell). Exit 0 when a 200 response's
body hashes like LOCAL_FILE and no complete 200 response of that length differs."""
import hashlib
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pcapcheck import packets  # noqa: E402


def tcp(frame):
    """(client port, seq, flags, payload) of an IPv4/TCP frame, or None."""
    off = 12
    ethertype = struct.unpack("!H", frame[off:off + 2])[0]
    off += 2
    while ethertype == 0x8100:
        ethertype = struct.unpack("!H", frame[off + 2:off + 4])[0]
        off += 4
    if ethertype != 0x0800:
        return None
    ip = frame[off:]
    if len(ip) < 20 or ip[0] >> 4 != 4 or ip[9] != 6:
        return None
    ihl = (ip[0] & 15) * 4
    total = struct.unpack("!H", ip[2:4])[0]
    seg = ip[ihl:total]
    if len(seg) < 20:
        return None
    sport, dport, seq = struct.unpack("!HHI", seg[:8])
    doff = (seg[12] >> 4) * 4
    return sport, dport, seq, seg[13], seg[doff:]


def streams(path, port, towards=False):
    """Each connection's bytes from the server, or (towards) to it."""
    isn, segments = {}, {}
    for frame in packets(path):
        t = tcp(frame)
        if not t or t[1 if towards else 0] != port:
            continue
        client, seq, flags, payload = t[0 if towards else 1], t[2], t[3], t[4]
        if flags & 0x02:  # SYN(-ACK): that side's first sequence number
            isn[client] = seq
            segments[client] = []
        elif client in isn and payload:
            segments[client].append(((seq - isn[client] - 1) % (1 << 32), payload))
    for client, segs in segments.items():
        data = bytearray()
        for at, payload in sorted(segs, key=lambda s: s[0]):
            if at > len(data):
                print("connection %d: %d bytes missing at %d" % (client, at - len(data), len(data)))
                break
            overlap = len(data) - at
            if data[at:at + min(overlap, len(payload))] != payload[:overlap]:
                sys.exit("connection %d: a segment sent again differs" % client)
            data += payload[overlap:]
        yield client, bytes(data)


def main():
    capture, port, local = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    want = open(local, "rb").read()
    want_sum = hashlib.sha256(want).hexdigest()
    good = bad = 0
    methods = {client: [line.split(b" ")[0] for line in data.split(b"\r\n")
                        if line.startswith((b"GET ", b"HEAD "))]
               for client, data in streams(capture, port, towards=True)}
    for client, data in streams(capture, port):
        asked = iter(methods.get(client, []))
        while data:
            end = data.find(b"\r\n\r\n")
            if end < 0:
                break
            head, data = data[:end].decode("latin-1").split("\r\n"), data[end + 4:]
            fields = {k.strip().lower(): v.strip() for k, _, v in (h.partition(":") for h in head[1:])}
            length = int(fields.get("content-length", "0"))
            if next(asked, b"GET") == b"HEAD":
                continue
            body, data = data[:length], data[length:]
            if not head[0].split()[1:2] == ["200"] or length != len(want):
                continue
            if len(body) < length:
                print("connection %d: %d of %d bytes captured" % (client, len(body), length))
            elif hashlib.sha256(body).hexdigest() == want_sum:
                good += 1
            else:
                bad += 1
    print("http %s: %d whole, %d differing" % (os.path.basename(local), good, bad))
    sys.exit(0 if good >= 1 and bad == 0 else 1)


if __name__ == "__main__":
    main()
