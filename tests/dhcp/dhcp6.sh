#!/bin/bash
# The DHCPv6 server with real peers, in a private network namespace on 2001:db8:1::/64:
# ISC dhclient -6 across a veth gets an address from our pool (and the boot URL); with
# dnsmasq answering DHCPv6 on the same link our server stands down and says so.
#   dhcp6.sh SERVER_BIN      (root; exit 77: skipped)
set -u
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
PEER=vdhcp6p0

if [ "${1:-}" != --inside ]; then
    server=$(readlink -f "$1")
    [ "$(id -u)" -eq 0 ] || skip "needs root for the network namespace and ports 546/547"
    for tool in unshare nsenter ip timeout dhclient dnsmasq; do
        command -v $tool >/dev/null || skip "$tool is missing"
    done
    unshare -n true 2>/dev/null || skip "network namespaces are unavailable here"
    . "$here/../support/peer.sh"
    run_inside 60 "$(mktemp -d /tmp/dhcp6.XXXXXX)" "$0" "$server"
fi

# ---- inside the namespace: nothing here reaches beyond veth0 ----
server=$2 work=$3
pids=()
spid=
cleanup() {
    local p
    [ -n "$spid" ] && kill "$spid" 2>/dev/null
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# No duplicate address detection: addresses are usable at once, in both namespaces.
sysctl -qw net.ipv6.conf.default.accept_dad=0 net.ipv6.conf.all.accept_dad=0
ip link set lo up
. "$here/../support/peer.sh"
peer_up veth0 $PEER
nsp sysctl -qw net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.$PEER.accept_dad=0
ip link set veth0 up
ip addr add 198.51.100.1/24 dev veth0
ip addr add 2001:db8:1::1/64 dev veth0 nodad
for _ in $(seq 50); do # the link-local addresses, on both ends
    ip -6 addr show dev veth0 scope link | grep -q inet6 &&
        nsp ip -6 addr show dev $PEER scope link | grep -q inet6 && break
    sleep 0.1
done

mkdir -p "$work/root" "$work/home" "$work/state"
: >"$work/root/grubx64.efi"
printf '[WorkingDir]\nDirName=%s\n[Dhcp]\nEnabled=1\nInterface=veth0\nIPv6=1\n' \
    "$work/root" >"$work/dhcp.ini"
start() { # OUT WAITFOR
    STATE_DIRECTORY=$work/state HOME=$work/home XDG_CONFIG_HOME=$work/home/xdg \
        "$server" --headless --address 198.51.100.1 --port 6969 --settings "$work/dhcp.ini" \
        >"$work/$1" 2>&1 </dev/null &
    spid=$!
    for _ in $(seq 100); do grep -q "$2" "$work/$1" && return 0; sleep 0.1; done
    echo "FAIL: the server never said '$2'"; cat "$work/$1"; return 1
}
stop() { kill "$spid" 2>/dev/null; wait "$spid" 2>/dev/null; spid=; }

failed=0
check() { # WHAT COMMAND...
    local what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failed=1; fi
}

# 1. A real client gets an address from the pool (after our look at the link, 2 s).
start server1.out 'dhcpv6 on veth0 (2001:db8:1::1), pool' || exit 1
client() { # OUT SECONDS: dhclient in the foreground until it holds a lease, at most SECONDS
    rm -f "$work/client.leases"
    nsenter -t "$peer_pid" -n dhclient -6 -d -v -sf /bin/true -lf "$work/client.leases" -pf "$work/dhclient.pid" \
        $PEER >"$work/$1" 2>&1 </dev/null &
    local c=$!
    for _ in $(seq $(($2 * 10))); do grep -q iaaddr "$work/client.leases" 2>/dev/null && break; sleep 0.1; done
    kill -9 $c 2>/dev/null # its pid is dhclient's (nsenter execs it)
    wait $c 2>/dev/null
}
client dhclient.out 15
check "dhclient -6 was given an address from our pool" \
    grep -q 'iaaddr 2001:db8:1::10[0-9a-f][0-9a-f] ' "$work/client.leases"
check "the lease is in our lease file" test -s "$work/state/dhcp6-leases"
peer_mac=$(nsp ip -o link show dev $PEER | sed -n 's|.*link/ether \([0-9a-f:]*\).*|\1|p')
check "its row names the peer's MAC (${peer_mac:-none read})" \
    sh -c '[ -n "$1" ] && grep "DHCPv6" "$2" | grep -q "$1"' - "$peer_mac" "$work/server1.out"
check "our router advertisement reached the peer" \
    nsp timeout 5 python3 - $PEER <<'PY'
import socket, struct, sys
s = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, sys.argv[1].encode())
s.sendto(bytes([133, 0, 0, 0, 0, 0, 0, 0]), ("ff02::2", 0, 0, socket.if_nametoindex(sys.argv[1])))
while True:
    data = s.recv(1500)
    if data[0] == 134:
        sys.exit(0 if data[5] & 0xc0 == 0xc0 else 1)  # M and O
PY
stop
[ $failed -ne 0 ] && { cat "$work/dhclient.out" "$work/server1.out"; exit 1; }

# 2. dnsmasq answers DHCPv6 on the link: ours hands out nothing and says why.
nsp ip addr add 2001:db8:1::2/64 dev $PEER nodad
nsenter -t "$peer_pid" -n dnsmasq --keep-in-foreground --port=0 --interface=$PEER --bind-interfaces \
    --dhcp-range=2001:db8:1::2000,2001:db8:1::20ff,64 --pid-file="$work/dnsmasq.pid" \
    --dhcp-leasefile="$work/dnsmasq.leases" --log-facility="$work/dnsmasq.log" \
    >/dev/null 2>&1 </dev/null &
pids+=("$!")
sleep 0.5
check "another DHCPv6 server stops ours" start server2.out 'Another DHCPv6 server (fe80::'
client dhclient2.out 10
check "the client's address came from dnsmasq, not from us" \
    grep -q 'iaaddr 2001:db8:1::20[0-9a-f][0-9a-f] ' "$work/client.leases"
stop
[ $failed -ne 0 ] && cat "$work/server2.out" "$work/dnsmasq.log" 2>/dev/null
exit $failed
