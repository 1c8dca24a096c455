#!/usr/bin/env bash
# How the golden packets here were captured (run as root; needs busybox, klibc-utils,
# dnsmasq, dnsmasq-utils, tcpdump, python3). Two private namespaces on a veth pair,
# 203.0.113.0/24 only: dnsmasq answers in one, real clients ask from the other, and
# tcpdump keeps what the clients sent. Each packet is the UDP payload, whole.
#   capture.sh OUT_DIR
# ovmf-solicit6.bin and ipxe-solicit6.bin are not made here: they are the Solicits (UDP
# payload) of Debian 12's OVMF PXE over IPv6 (IPv4 PXE off through fw_cfg
# opt/org.tianocore/IPv4PXESupport=n, MAC 52:54:00:4e:42:16) and of the snponly.efi it
# chained, under QEMU on a tap device in a private namespace, with dnsmasq answering
# (--enable-ra, range 2001:db8:51::1000-10ff/64, option6:bootfile-url). OVMF sends 61 and
# vendor class 16 and a DUID-LLT; iPXE also user class 15 and a DUID-UUID of zeros.
set -eu
out=$(readlink -f "${1:-.}")
work=$(mktemp -d /tmp/dhcpcap.XXXXXX)
s=dhcpcap-s$$ c=dhcpcap-c$$
cleanup() {
    [ -f "$work/dnsmasq.pid" ] && kill "$(cat "$work/dnsmasq.pid")" 2>/dev/null
    ip netns del $s 2>/dev/null; ip netns del $c 2>/dev/null; ip netns del $o 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
ip netns add $s; ip netns add $c
ip -n $s link add v0 type veth peer name v1 netns $c
ip -n $s addr add 203.0.113.1/24 dev v0
ip -n $s link set v0 up; ip -n $s link set lo up
ip -n $c link set v1 address 02:00:00:00:00:0c
ip -n $c link set v1 up; ip -n $c link set lo up
# The server's side is a bridge, with a third namespace on it holding an address the
# server will give: the client that gets it must find it in use and decline it.
o=dhcpcap-o$$
ip netns add $o
ip -n $s link add br0 type bridge; ip -n $s link set v0 master br0
ip -n $s link add w0 type veth peer name w1 netns $o; ip -n $s link set w0 master br0
ip -n $s addr del 203.0.113.1/24 dev v0
ip -n $s addr add 203.0.113.1/24 dev br0
ip -n $s link set br0 up; ip -n $s link set w0 up
ip -n $o addr add 203.0.113.77/24 dev w1; ip -n $o link set w1 up
ip netns exec $s dnsmasq --port=0 --bind-interfaces --interface=br0 --no-ping \
    --dhcp-range=203.0.113.10,203.0.113.20,255.255.255.0,10m --dhcp-leasefile="$work/leases" \
    --pid-file="$work/dnsmasq.pid" --dhcp-host=02:00:00:00:00:0d,203.0.113.77
ip netns exec $s tcpdump -U -s 0 -i any -w "$work/c.pcap" 'udp dst port 67' >/dev/null 2>&1 &
tcpd=$!
sleep 1
# The client's script takes the address given (a RELEASE leaves from it).
noscript=$work/script.sh
printf '#!/bin/sh\n[ "$1" = bound ] && ip addr add "$ip/$mask" dev "$interface"\n[ "$1" = deconfig ] && ip addr flush dev "$interface"\nexit 0\n' >"$noscript"
chmod +x "$noscript"
# udhcpc: DISCOVER, REQUEST, then RELEASE when it is stopped (-R).
ip netns exec $c timeout 5 busybox udhcpc -f -R -i v1 -s "$noscript" -t 3 -T 1 -n || true
# udhcpc of another MAC, given an address in use, declines it after its ARP check (-a).
ip -n $c link set v1 address 02:00:00:00:00:0d
ip netns exec $c timeout 20 busybox udhcpc -f -q -a -i v1 -s "$noscript" -t 3 -T 1 -n -A 1 || true
ip -n $c link set v1 address 02:00:00:00:00:0e
# klibc ipconfig: plain BOOTP, no DHCP message type.
ip netns exec $c timeout 10 /usr/lib/klibc/bin/ipconfig -c bootp -t 3 v1 >/dev/null 2>&1 || true
# dhcp_release: a RELEASE made for another client, as tools send it.
# dhcp_release runs beside the server and sends to its address (the loopback way).
ip netns exec $s dhcp_release br0 203.0.113.15 02:00:00:00:00:0e
# Firmware under QEMU (TCG) on a tap on the bridge: SeaBIOS with QEMU's iPXE ROM, and
# OVMF's own UEFI PXE; each runs long enough to ask.
ip netns exec $s ip tuntap add tap0 mode tap
ip -n $s link set tap0 master br0; ip -n $s link set tap0 up
qemu=(qemu-system-x86_64 -accel tcg -m 256 -display none -monitor none -nodefaults -vga none)
ip netns exec $s timeout 40 "${qemu[@]}" -boot n \
    -netdev tap,id=n0,ifname=tap0,script=no,downscript=no -device virtio-net-pci,netdev=n0,mac=02:00:00:00:00:10 || true
cp /usr/share/OVMF/OVMF_VARS.fd "$work/vars.fd"
ip netns exec $s timeout 90 "${qemu[@]}" \
    -drive if=pflash,format=raw,readonly=on,file=/usr/share/OVMF/OVMF_CODE.fd \
    -drive if=pflash,format=raw,file="$work/vars.fd" \
    -netdev tap,id=n0,ifname=tap0,script=no,downscript=no \
    -device virtio-net-pci,netdev=n0,mac=02:00:00:00:00:11,romfile=,bootindex=1 || true
sleep 1
kill -INT $tcpd; wait $tcpd || true
python3 - "$work/c.pcap" "$out" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at, n = 24, 0
# "any" captures with a cooked header: 16 bytes (SLL) or 20 (SLL2), then IPv4.
link = struct.unpack('<I', data[20:24])[0]
head = {113: 16, 276: 20, 1: 14}[link]
names = {1: 'discover', 3: 'request', 4: 'decline', 7: 'release', 8: 'inform', 0: 'bootp'}
seen = {}
while at + 16 <= len(data):
    caplen = struct.unpack('<I', data[at + 8:at + 12])[0]
    frame = data[at + 16:at + 16 + caplen]
    at += 16 + caplen
    ihl = (frame[head] & 15) * 4
    payload = frame[head + ihl + 8:]
    mac = payload[28:34].hex()[-2:]
    mtype, i = 0, 240
    while payload[236:240] == b'\x63\x82\x53\x63' and i < len(payload):
        code = payload[i]
        if code == 255: break
        if code == 0: i += 1; continue
        if code == 53: mtype = payload[i + 2]
        i += 2 + payload[i + 1]
    key = (mac, mtype)
    seen[key] = seen.get(key, 0) + 1
    if seen[key] > 1: continue
    name = '%s-%s.bin' % ({'0c': 'udhcpc', '0d': 'udhcpc-declining', '0e': 'klibc' if mtype == 0 else 'dhcp_release',
                          '10': 'ipxe', '11': 'ovmf'}.get(mac, mac),
                         names.get(mtype, str(mtype)))
    open(sys.argv[2] + '/' + name, 'wb').write(payload)
    print(name, len(payload))
PY
