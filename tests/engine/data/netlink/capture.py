#!/usr/bin/env python3
# Captures what the kernel's routing socket says (links, IPv4 and IPv6 addresses) for
# each step below, one file per step. Run as root; it makes a network namespace of its
# own, so nothing of this machine's network is touched:  unshare -n ./capture.py
import socket, subprocess, sys, time, os

RTMGRP_LINK, RTMGRP_IPV4_IFADDR, RTMGRP_IPV6_IFADDR = 0x1, 0x10, 0x100
s = socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, socket.NETLINK_ROUTE)
s.bind((0, RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR))
s.settimeout(0.5)
here = os.path.dirname(os.path.abspath(__file__))

def step(name, *commands):
    for c in commands:
        subprocess.run(c.split(), check=True)
    data = b''
    deadline = time.time() + 1.5
    while time.time() < deadline:
        try:
            data += s.recv(65536)
        except socket.timeout:
            break
    with open(os.path.join(here, name + '.bin'), 'wb') as f:
        f.write(data)
    print(name, len(data))

step('veth_added', 'ip link add veth0 type veth peer name veth1')
step('ipv4_added', 'ip addr add 198.51.100.1/24 dev veth0')
step('up_no_carrier', 'ip link set veth0 up')
step('carrier', 'ip link set veth1 up')
step('ipv6_added', 'ip -6 addr add 2001:db8::1/64 dev veth0 nodad')
step('peer_down', 'ip link set veth1 down')
step('ipv4_removed', 'ip addr del 198.51.100.1/24 dev veth0')
step('veth_removed', 'ip link del veth0')
