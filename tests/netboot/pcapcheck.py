#!/usr/bin/env python3
"""Rebuilds a file's TFTP downloads from a capture and checks one arrived whole.

    pcapcheck.py CAPTURE.pcap NAME LOCAL_FILE [COUNT]

Every read request for NAME starts a candidate transfer: the server's DATA blocks to
that client port are taken once each (a block sent again must carry the same bytes),
at the block size the server's OACK granted (512 without one), with block numbers
unwrapped past 65535. Exit 0 when COUNT (default 1) transfers end in a short block
with bytes that hash like LOCAL_FILE and no finished transfer differs."""
import hashlib
import struct
import sys


def packets(path):
    with open(path, "rb") as f:
        head = f.read(24)
        magic = struct.unpack("<I", head[:4])[0]
        order = "<" if magic in (0xA1B2C3D4, 0xA1B23C4D) else ">"
        linktype = struct.unpack(order + "I", head[20:24])[0]
        if linktype != 1:
            sys.exit("not an Ethernet capture (link type %d)" % linktype)
        while True:
            rec = f.read(16)
            if len(rec) < 16:
                return
            incl = struct.unpack(order + "IIII", rec)[2]
            frame = f.read(incl)
            if len(frame) < incl:
                return
            yield frame


def udp(frame, fragments):
    """(src ip, src port, dst ip, dst port, payload) of an IPv4 or IPv6 UDP frame. IPv4
    fragments are left out (TFTP there must fit the link); IPv6 ones are joined by
    source, destination and id in `fragments`, the datagram coming with its last part."""
    off = 12
    ethertype = struct.unpack("!H", frame[off:off + 2])[0]
    off += 2
    while ethertype == 0x8100:  # VLAN tags, should a bridge add any
        ethertype = struct.unpack("!H", frame[off + 2:off + 4])[0]
        off += 4
    if ethertype == 0x86DD:
        return udp6(frame[off:], fragments)
    if ethertype != 0x0800:
        return None
    ip = frame[off:]
    if len(ip) < 20 or ip[0] >> 4 != 4 or ip[9] != 17:
        return None
    ihl = (ip[0] & 15) * 4
    total = struct.unpack("!H", ip[2:4])[0]
    frag = struct.unpack("!H", ip[6:8])[0]
    if frag & 0x3FFF:  # a fragment: TFTP here must fit the link
        return None
    return udp_segment(ip[12:16], ip[16:20], ip[ihl:total])


def udp_segment(src, dst, seg):
    if len(seg) < 8:
        return None
    sport, dport, ulen = struct.unpack("!HHH", seg[:6])
    return src, sport, dst, dport, seg[8:ulen]


def udp6(ip, fragments):
    """A UDP datagram straight after the 40-byte header, or after a Fragment header
    (44), the parts kept until the one without "more" has come and none is missing."""
    if len(ip) < 40 or ip[0] >> 4 != 6:
        return None
    length = struct.unpack("!H", ip[4:6])[0]
    src, dst, body = ip[8:24], ip[24:40], ip[40:40 + length]
    if ip[6] == 17:
        return udp_segment(src, dst, body)
    if ip[6] != 44 or len(body) < 8 or body[0] != 17:
        return None
    word, ident = struct.unpack("!HI", body[2:8])
    key = (src, dst, ident)
    parts = fragments.setdefault(key, {"parts": {}, "end": None})
    at = word & 0xFFF8
    parts["parts"][at] = body[8:]
    if not word & 1:
        parts["end"] = at + len(body) - 8
    if parts["end"] is None:
        return None
    joined, at = b"", 0
    while at < parts["end"]:
        piece = parts["parts"].get(at)
        if piece is None:
            return None
        joined += piece
        at += len(piece)
    del fragments[key]
    return udp_segment(src, dst, joined)


def options(payload):
    parts = payload.split(b"\0")
    return {parts[i].lower(): parts[i + 1] for i in range(0, len(parts) - 1, 2)}


def main():
    capture, name, local = sys.argv[1], sys.argv[2].encode(), sys.argv[3]
    need = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    with open(local, "rb") as f:
        want = hashlib.sha256(f.read()).hexdigest()
    transfers = {}  # (client ip, client port) -> state
    order = []
    fragments = {}
    for frame in packets(capture):
        u = udp(frame, fragments)
        if not u or len(u[4]) < 4:
            continue
        sip, sport, dip, dport, data = u
        op = struct.unpack("!H", data[:2])[0]
        if op == 1 and dport == 69:
            fields = data[2:].split(b"\0")
            if fields[0].lstrip(b"/") == name.lstrip(b"/"):
                key = (sip, sport)
                transfers[key] = {"blksize": 512, "blocks": {}, "top": 0, "end": None,
                                  "clash": False, "server": None, "window": 1}
                order.append(key)
            continue
        key = (dip, dport)
        t = transfers.get(key)
        if t is None or sport == 69:
            continue
        if t["server"] is None:
            t["server"] = sport
        elif t["server"] != sport:
            continue
        if op == 6:
            granted = options(data[2:])
            t["blksize"] = int(granted.get(b"blksize", b"512"))
            t["window"] = int(granted.get(b"windowsize", b"1"))
        elif op == 3:
            blk = struct.unpack("!H", data[2:4])[0]
            # The block nearest the highest seen so far: numbers wrap at 65535 to 0.
            base = t["top"] - (t["top"] % 65536)
            cands = [base - 65536 + blk, base + blk, base + 65536 + blk]
            index = min((c for c in cands if c >= 0), key=lambda c: abs(c - t["top"]))
            t["top"] = max(t["top"], index)
            body = data[4:]
            old = t["blocks"].get(index)
            if old is None:
                t["blocks"][index] = body
            elif old != body:
                t["clash"] = True
            if len(body) < t["blksize"]:
                t["end"] = index
    if not order:
        print("no read request for %s in the capture" % name.decode())
        return 1
    notes = []
    good = bad = 0
    for n, key in enumerate(order, 1):
        t = transfers[key]
        if t["end"] is None:
            notes.append("#%d: no last block (%d blocks)" % (n, len(t["blocks"])))
            continue
        missing = [i for i in range(1, t["end"] + 1) if i not in t["blocks"]]
        if missing:
            notes.append("#%d: %d blocks missing, first %d" % (n, len(missing), missing[0]))
            continue
        body = b"".join(t["blocks"][i] for i in range(1, t["end"] + 1))
        got = hashlib.sha256(body).hexdigest()
        if t["clash"]:
            bad += 1
            notes.append("#%d: a block sent again with other bytes" % n)
        elif got == want:
            good += 1
            notes.append("#%d: blksize %d window %d, %d bytes, sha256 matches"
                         % (n, t["blksize"], t["window"], len(body)))
        else:
            bad += 1
            notes.append("#%d: %d bytes, sha256 differs" % (n, len(body)))
    ok = good >= need and bad == 0
    print("capture %s: %s of %d requests: %s" % ("ok" if ok else "BAD", name.decode(), len(order),
                                             "; ".join(notes)))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
