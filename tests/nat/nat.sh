#!/bin/bash
# TFTP through a NAT that maps only UDP port 69, as a container's published port or a
# Kubernetes Service does. Three private namespaces: the client (203.0.113.2), a router
# (this script's own namespace: 203.0.113.1 outside, 198.51.100.1 inside) and the server
# (198.51.100.2). The router forwards UDP 69 to the server (DNAT) and, besides, only what
# belongs to a flow it already tracks; it has no TFTP connection-tracking helper. With a
# port per transfer the server's answers open new flows and are dropped: tftp-hpa, atftp
# (blksize 1428, windowsize 16) and curl all fail. In single-port mode every answer
# belongs to the client's flow to port 69: 20 downloads and 20 uploads at once per client
# arrive byte for byte.
# Exit code 77: skipped (not root, no namespaces, no NAT in a namespace, a tool missing).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/peer.sh"
skip() { echo "SKIP: $*"; exit 77; }
OUTSIDE=203.0.113.1 CLIENT_IP=203.0.113.2 INSIDE=198.51.100.1 SERVER_IP=198.51.100.2
COUNT=20

if [ "${1:-}" != --inside ]; then
    server=$(readlink -f "$1")
    [ "$(id -u)" -eq 0 ] || skip "needs root for the network namespaces"
    for tool in unshare nsenter ip nft timeout cmp tftp atftp curl; do
        command -v $tool >/dev/null || skip "$tool is missing"
    done
    unshare -n true 2>/dev/null || skip "network namespaces are unavailable here"
    unshare -n nft add table ip probe 2>/dev/null || skip "nftables is unavailable in a namespace"
    run_inside 280 "$(mktemp -d /tmp/nat.XXXXXX)" "$0" "$server"
fi

# ---- inside the router's namespace: nothing here reaches beyond the two veths ----
server=$2 work=$3
root=$work/root
mkdir -p "$root" "$work/home" "$work/got"
pids=()
server_pid=
cleanup() {
    local p
    for p in $server_pid "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in $server_pid "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT
trap 'exit 143' TERM INT
failed=0
check() { # WHAT COMMAND...
    local what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failed=1; fi
}

ip link set lo up
echo 1 >/proc/sys/net/ipv4/ip_forward
peer_ns client_ns
peer_ns server_ns
nsc() { nsenter -t "$client_ns" -n "$@"; }
nss() { nsenter -t "$server_ns" -n "$@"; }
veth_into "$client_ns" vnatc0 vnatc1
veth_into "$server_ns" vnats0 vnats1
ip addr add $OUTSIDE/24 dev vnatc0
ip addr add $INSIDE/24 dev vnats0
ip link set vnatc0 up
ip link set vnats0 up
nsc ip addr add $CLIENT_IP/24 dev vnatc1
nsc ip route add default via $OUTSIDE
nss ip addr add $SERVER_IP/24 dev vnats1
nss ip route add default via $INSIDE

check "the router's rules load" nft -f - <<EOF
table ip nat {
    chain pre {
        type nat hook prerouting priority dstnat;
        iifname "vnatc0" udp dport 69 dnat to $SERVER_IP:69
    }
}
table ip filter {
    chain through {
        type filter hook forward priority filter; policy drop;
        ct state established,related accept
        iifname "vnatc0" oifname "vnats0" ct status dnat udp dport 69 accept
    }
}
EOF
[ $failed -eq 0 ] || exit 1
check "the router has no connection-tracking helper" \
    bash -c "! nft list ruleset | grep -q helper && [ \"\$(cat /proc/sys/net/netfilter/nf_conntrack_helper 2>/dev/null || echo 0)\" = 0 ]"

head -c 300000 /dev/urandom >"$root/down.bin"
head -c 180000 /dev/urandom >"$work/up.bin"

start_server() { # SINGLEPORT
    printf '[WorkingDir]\nDirName=%s\nTimeOut=2\nSoundOn=0\n[Protocol]\nSinglePort=%s\n' \
        "$root" "$1" >"$work/server.ini"
    : >"$work/server.out"
    # nsenter itself, not the function: $! must be the server's own pid.
    nsenter -t "$server_ns" -n env HOME=$work/home XDG_CONFIG_HOME=$work/home/xdg XDG_DATA_HOME=$work/home/data \
        "$server" --headless --address $SERVER_IP --port 69 --settings "$work/server.ini" \
        >>"$work/server.out" 2>"$work/server.err" &
    server_pid=$!
    for _ in $(seq 100); do
        grep -q "^listening on" "$work/server.out" && return 0
        sleep 0.1
    done
    echo "  the server did not start:"; sed 's/^/    /' "$work/server.out" "$work/server.err"
    return 1
}
stop_server() {
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=
}

# One transfer by CLIENT: get (I) or put (I); its files are named after it.
transfer() { # CLIENT get|put I
    local got=$work/got/$1-$3 up=up-$1-$3.bin
    case $1-$2 in
    tftp-get) printf 'binary\ntimeout 8\nget down.bin %s\n' "$got" | nsc timeout 20 tftp $OUTSIDE ;;
    tftp-put) printf 'binary\ntimeout 8\nput %s %s\n' "$work/up.bin" "$up" | nsc timeout 20 tftp $OUTSIDE ;;
    atftp-get) nsc timeout 20 atftp --option "blksize 1428" --option "windowsize 16" \
        --tftp-timeout 1 -g -r down.bin -l "$got" $OUTSIDE 69 ;;
    atftp-put) nsc timeout 20 atftp --option "blksize 1428" --option "windowsize 16" \
        --tftp-timeout 1 -p -l "$work/up.bin" -r "$up" $OUTSIDE 69 ;;
    curl-get) nsc curl -s --max-time 12 -o "$got" tftp://$OUTSIDE/down.bin ;;
    curl-put) nsc curl -s --max-time 12 -T "$work/up.bin" tftp://$OUTSIDE/"$up" ;;
    esac
}
# COUNT downloads and COUNT uploads at once; prints how many of each arrived whole.
batch() { # CLIENT
    local i jobs=()
    rm -f "$work"/got/* "$root"/up-*
    for i in $(seq $COUNT); do
        transfer "$1" get "$i" >>"$work/$1.log" 2>&1 &
        jobs+=($!)
        transfer "$1" put "$i" >>"$work/$1.log" 2>&1 &
        jobs+=($!)
    done
    for i in "${jobs[@]}"; do wait "$i"; done
    sleep 0.5 # an upload's file takes its name as its last ACK goes, maybe after the client ended
    local down=0 up=0
    for i in $(seq $COUNT); do
        cmp -s "$work/got/$1-$i" "$root/down.bin" && down=$((down + 1))
        cmp -s "$root/up-$1-$i.bin" "$work/up.bin" && up=$((up + 1))
    done
    echo "$down $up"
}

for mode in 0 1; do
    check "the server starts (SinglePort=$mode)" start_server $mode || break
    for client in tftp atftp curl; do
        read -r down up < <(batch $client)
        if [ $mode = 0 ]; then
            check "$client through the NAT with a port per transfer: nothing arrives ($down, $up of $COUNT)" \
                test "$down $up" = "0 0"
        else
            check "$client through the NAT in single-port mode: $down and $up of $COUNT whole" \
                test "$down $up" = "$COUNT $COUNT"
        fi
    done
    # Not a check (the system's maximum may cap the listener's room), but what explains
    # a time-out: the datagrams the server's namespace dropped for want of room.
    echo "  receive buffer drops in the server's namespace so far: $(nss awk \
        '/^Udp:/ && n++ { print $6 }' /proc/net/snmp)"
    stop_server
done

if [ $failed -ne 0 ]; then
    for f in server.out server.err tftp.log atftp.log curl.log; do
        echo "--- $f"; tail -n 40 "$work/$f" 2>/dev/null
    done
fi
exit $failed
