#!/bin/bash
# Interfaces that come and go, for real: in a private network namespace the headless
# server starts with its DHCP server on veth0 while veth0 is down and has no address,
# and a second server on a fixed listen address that is not there yet. Both wait; once
# the link is up and has its address they bind by themselves: a real DHCP client
# (klibc's ipconfig) in the peer namespace gets a lease and fetches a file over TFTP.
# The link goes down and up again, and the DHCP server still answers.
# Exit code 77: skipped (not root, no namespaces, a tool missing).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/peer.sh"
skip() { echo "SKIP: $*"; exit 77; }
IPCONFIG=/usr/lib/klibc/bin/ipconfig
SERVER_IP=198.51.100.1
PEER=vlinkp0 # its /run/net-$PEER.conf is in the shared /run: a name of this test's own

if [ "${1:-}" != --inside ]; then
    server=$(readlink -f "$1")
    [ "$(id -u)" -eq 0 ] || skip "needs root for the network namespace and ports 67 and 69"
    for tool in unshare nsenter ip timeout curl $IPCONFIG; do
        command -v $tool >/dev/null || skip "$tool is missing"
    done
    unshare -n true 2>/dev/null || skip "network namespaces are unavailable here"
    run_inside 240 "$(mktemp -d /tmp/link.XXXXXX)" "$0" "$server"
fi

# ---- inside the namespace: nothing here reaches beyond veth0 ----
server=$2 work=$3
root=$work/root
mkdir -p "$root" "$work/home"
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    rm -f "/run/net-$PEER.conf"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
failed=0
check() { # WHAT COMMAND...: one line per check
    local what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failed=1; fi
}
# Waits up to ten seconds for a line matching PATTERN in FILE beyond its first SKIP lines.
wait_line() { # FILE SKIP PATTERN
    for _ in $(seq 100); do
        tail -n +"$(($2 + 1))" "$1" | grep -q -- "$3" && return 0
        sleep 0.1
    done
    echo "  no \"$3\" in $1:"
    sed 's/^/    /' "$1"
    return 1
}
lines() { wc -l <"$1"; }

ip link set lo up
# The peer: a namespace of its own on the other end of veth0, its end up.
peer_up veth0 $PEER

echo hello >"$root/hello.txt"
printf '[WorkingDir]\nDirName=%s\n[Dhcp]\nEnabled=1\nInterface=veth0\n' "$root" >"$work/dhcp.ini"
printf '[WorkingDir]\nDirName=%s\n' "$root" >"$work/fixed.ini"
start() { # NAME ADDRESS PORT
    HOME=$work/home XDG_CONFIG_HOME=$work/home/xdg XDG_DATA_HOME=$work/home/data "$server" \
        --headless --address "$2" --port "$3" --settings "$work/$1.ini" \
        >"$work/$1.out" 2>"$work/$1.err" &
    pids+=("$!")
}

# 1. veth0 down, no address: the DHCP server waits; so does the listener on its address.
start dhcp 127.0.0.1 69
start fixed $SERVER_IP 6969
check "DHCP server waits for its link" wait_line "$work/dhcp.out" 0 "^DHCP waits: veth0 link down"
check "listener waits for its address" wait_line "$work/fixed.out" 0 "^waiting for $SERVER_IP"

# 2. The link comes up without an address, then NetworkManager (here: ip) gives one.
ip link set veth0 up
check "DHCP server waits for an address" wait_line "$work/dhcp.out" 0 "^DHCP waits: veth0 has no IPv4 address"
ip addr add $SERVER_IP/24 dev veth0
check "DHCP server binds by itself" wait_line "$work/dhcp.out" 0 "^dhcp on veth0 ($SERVER_IP), pool "
check "listener binds by itself" wait_line "$work/fixed.out" 0 "^listening on $SERVER_IP:6969"

# A lease for the peer (after the server asked the link whether another server answers).
lease() {
    rm -f "/run/net-$PEER.conf"
    nsp ip addr flush dev $PEER
    nsp timeout 30 $IPCONFIG -c dhcp -t 20 $PEER >"$work/ipconfig.log" 2>&1
    # shellcheck disable=SC1090
    (. "/run/net-$PEER.conf" 2>/dev/null && echo "${IPV4ADDR:-none}")
}
sleep 4.5
first=$(lease)
check "a real client gets a lease ($first)" test "${first%.*}" = 198.51.100
check "and fetches a file from the listener that waited" \
    bash -c "nsenter -t $peer_pid -n curl -s --max-time 10 tftp://$SERVER_IP:6969/hello.txt | grep -q hello"

# 3. The device reboots: the link drops and comes back; the server follows it.
before=$(lines "$work/dhcp.out")
ip link set veth0 down
check "DHCP server says the link is down" wait_line "$work/dhcp.out" "$before" "^DHCP waits: veth0 link down"
ip link set veth0 up
check "DHCP server binds again" wait_line "$work/dhcp.out" "$before" "^dhcp on veth0 ($SERVER_IP)"
sleep 4.5
again=$(lease)
check "it still answers, with the same address ($again)" test "$again" = "$first"

if [ $failed -ne 0 ]; then
    echo "--- dhcp.out"; cat "$work/dhcp.out"; echo "--- dhcp.err"; cat "$work/dhcp.err"
    echo "--- fixed.out"; cat "$work/fixed.out"; echo "--- ipconfig.log"; cat "$work/ipconfig.log"
fi
exit $failed
