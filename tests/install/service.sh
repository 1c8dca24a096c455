#!/usr/bin/env bash
# The systemd unit's ExecStart, exactly as written, run the way the unit runs it but
# without systemd: as an unprivileged user (nobody stands in for the package's
# vantrel-server) holding only CAP_NET_BIND_SERVICE, in its state folder, inside
# private mount and network namespaces where the installed tree sits at its real
# prefix and /var/lib is a throw-away tmpfs. A client fetches and uploads a file on
# port 69; every row reaches the output while the server runs (a journal sees it at
# once); SIGTERM ends it with status 0. The unit's seccomp sandbox holds throughout
# (unit_sandbox.py: its SystemCallFilter=, RestrictAddressFamilies=,
# MemoryDenyWriteExecute= and the other filters, read from the installed unit, as
# systemd loads them), and so do its user, CapabilityBoundingSet= and
# AmbientCapabilities=: under it the DHCP server and the boot offers start on veths
# of their own and each answers a DISCOVER (busybox's udhcpc) from a client namespace.
#   service.sh BUILD_DIR WORK_DIR
set -u
# A server left running would outlive the test and hold what it inherited (the test
# lock's descriptor among them): a failure ends it first.
fail() {
    echo "FAIL: $*"
    [ -n "${pid:-}" ] && kill -KILL "$pid" 2>/dev/null
    [ -n "${out:-}" ] && cat "$out" "$err" 2>/dev/null
    exit 1
}
skip() { echo "SKIP: $*"; exit 77; }

if [ "${1:-}" = --inside ]; then
    trap 'exit 1' TERM INT
    trap '[ -n "${pid:-}" ] && kill -KILL "$pid" 2>/dev/null' EXIT
    # In the namespaces: the mounts and the loopback interface are ours alone.
    set -e
    mount --bind "$WORK/root/usr/local" /usr/local
    mount -t tmpfs -o mode=755 tmpfs /var/lib
    ip link set lo up
    set +e
    state=/var/lib/$STATE_NAME
    mkdir -p "$state"
    head -c 300000 /dev/urandom >"$state/boot.img"
    head -c 70000 /dev/urandom >"$WORK/upload.bin"
    chown -R nobody:nogroup "$state"
    out=$WORK/server.out err=$WORK/server.err
    read -ra cmd <<<"$EXEC_START"
    # As the unit runs it: the user with the one capability (bounding set too), then
    # the unit's seccomp filters, loaded last before the command as systemd does. A
    # sanitizer build's leak check needs ptrace at exit, which the filters forbid.
    start() {
        : >"$out" # else a wait may read the last run's lines
        (cd "$state" && exec env HOME="$state" STATE_DIRECTORY="$state" \
            ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
            setpriv --reuid=nobody --regid=nogroup --clear-groups \
            --bounding-set=-all,+net_bind_service \
            --inh-caps=+net_bind_service --ambient-caps=+net_bind_service \
            /usr/bin/python3 "$WORK/unit_sandbox.py" "$UNIT" \
            "${cmd[@]}") >"$out" 2>"$err" &
        pid=$!
    }
    # The filters bite: as root, a mount (no @mount in the unit's list) and a packet
    # socket (no AF_PACKET) fail under them and work without.
    sandboxed() { /usr/bin/python3 "$WORK/unit_sandbox.py" "$UNIT" "$@" 2>/dev/null; }
    mkdir -p "$WORK/m"
    sandboxed mount -t tmpfs none "$WORK/m" && fail "a mount passed the unit's filters"
    mount -t tmpfs none "$WORK/m" && umount "$WORK/m" || fail "a mount without the filters"
    packet='import socket; socket.socket(socket.AF_PACKET, socket.SOCK_RAW)'
    sandboxed /usr/bin/python3 -c "$packet" && fail "a packet socket passed the unit's filters"
    /usr/bin/python3 -c "$packet" || fail "a packet socket without the filters"
    start
    for _ in $(seq 100); do
        grep -q '^listening on' "$out" && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    grep -qx "listening on 0.0.0.0:69, serving $state" "$out" || fail "not listening on 69"
    grep -q "^unit_sandbox.py: SystemCallFilter RestrictAddressFamilies MemoryDenyWriteExecute" "$err" ||
        fail "the unit's filters were not applied"
    curl -s --max-time 30 --tftp-no-options -o "$WORK/got.img" tftp://127.0.0.1/boot.img ||
        fail "download"
    cmp "$state/boot.img" "$WORK/got.img" || fail "downloaded file differs"
    curl -s --max-time 30 --tftp-no-options -T "$WORK/upload.bin" tftp://127.0.0.1/up.bin ||
        fail "upload"
    cmp "$WORK/upload.bin" "$state/up.bin" || fail "uploaded file differs"
    [ "$(stat -c %U "$state/up.bin")" = nobody ] || fail "the server did not run as nobody"
    # Both rows are in the output while the server still runs: flushed per line.
    for _ in $(seq 50); do
        grep -q $'\tSENT\t' "$out" && grep -q $'\tRECEIVED\t' "$out" && break
        sleep 0.1
    done
    kill -0 $pid 2>/dev/null || fail "the server ended early"
    grep -q $'\tSENT\t.*boot.img' "$out" && grep -q $'\tRECEIVED\t.*up.bin' "$out" ||
        fail "rows not on the output while running"
    kill -TERM $pid
    wait $pid
    rc=$?
    [ $rc -eq 0 ] || fail "exit status $rc after SIGTERM"
    cat "$out"

    # The DHCP server on one veth and the boot offers on another, each answering a
    # DISCOVER from a client namespace: both read the interfaces over netlink, which
    # the unit must allow.
    # The client namespace's name lives in a /run/netns of this mount namespace alone.
    mkdir -p /run/netns && mount -t tmpfs -o mode=755 tmpfs /run/netns
    ip netns add vtc
    ip link add vsa type veth peer name vca netns vtc
    ip link add vsb type veth peer name vcb netns vtc
    ip addr add 198.51.100.1/24 dev vsa && ip link set vsa up
    ip addr add 203.0.113.1/24 dev vsb && ip link set vsb up
    for l in lo vca vcb; do ip -n vtc link set $l up; done
    printf '[Protocol]\nListenAddress=203.0.113.1\n[Boot]\nProxyDhcp=1\nBootFileBios=boot.img\n[Dhcp]\nEnabled=1\nInterface=vsa\n' >>"$CONF"
    start
    for _ in $(seq 100); do
        grep -q '^dhcp on vsa' "$out" && grep -q 'boot offers on vsb' "$out" && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    grep -q '^dhcp on vsa (198.51.100.1)' "$out" || fail "the DHCP server did not start on vsa"
    grep -q 'boot offers on vsb (203.0.113.1)' "$out" || fail "the boot offers did not start on vsb"
    # It first listens 4 s for another DHCP server on the link, silent meanwhile.
    ip netns exec vtc busybox udhcpc -i vca -n -q -f -t 10 -T 1 -s /bin/true >"$WORK/udhcpc.out" 2>&1 ||
        fail "no lease from our DHCP server: $(cat "$WORK/udhcpc.out")"
    grep -q 'lease of 198\.51\.100\.[0-9]* obtained from 198\.51\.100\.1' "$WORK/udhcpc.out" || fail "lease: $(cat "$WORK/udhcpc.out")"
    # A PXE client's DISCOVER on the other side: only the boot offers answer it.
    ip netns exec vtc timeout 15 tcpdump -l -n -i vcb -c 1 'udp and src host 203.0.113.1 and src port 67' \
        >"$WORK/offer.txt" 2>/dev/null &
    dump=$!
    sleep 1
    ip netns exec vtc busybox udhcpc -i vcb -n -q -f -t 3 -T 1 -V PXEClient -s /bin/true >/dev/null 2>&1
    wait $dump
    grep -q '203.0.113.1.67 >' "$WORK/offer.txt" || fail "no boot offer answered the PXE DISCOVER"
    kill -TERM $pid
    wait $pid
    [ $? -eq 0 ] || fail "exit status after SIGTERM, with DHCP and boot offers"
    cat "$out"
    echo PASS
    exit 0
fi

build=$1 WORK=$2
[ "$(id -u)" -eq 0 ] || skip "needs root to make the namespaces and become nobody"
for tool in unshare setpriv curl ip busybox tcpdump; do
    command -v $tool >/dev/null || skip "$tool is missing"
done
getent passwd nobody >/dev/null && getent group nogroup >/dev/null ||
    skip "no user nobody or group nogroup"
unshare -m -n true 2>/dev/null || skip "mount and network namespaces are unavailable here"
/usr/bin/python3 -c 'import seccomp' 2>/dev/null || skip "python3-seccomp is missing"
command -v systemd-analyze >/dev/null || skip "systemd-analyze (its call groups) is missing"

rm -rf "$WORK" && mkdir -p "$WORK"
DESTDIR=$WORK/root cmake --install "$build" --prefix /usr/local >"$WORK/install.log" 2>&1 ||
    { cat "$WORK/install.log"; fail "cmake --install"; }
unit=$WORK/root/usr/local/lib/systemd/system/vantrel-server.service
EXEC_START=$(sed -n 's/^ExecStart=//p' "$unit")
STATE_NAME=$(sed -n 's/^StateDirectory=//p' "$unit")
grep -q '^SystemCallFilter=' "$unit" && grep -q '^RestrictAddressFamilies=' "$unit" ||
    fail "no SystemCallFilter or RestrictAddressFamilies in the unit"
[ -n "$EXEC_START" ] && [ -n "$STATE_NAME" ] || fail "no ExecStart or StateDirectory in the unit"
CONF=$(sed -n 's/.*--settings \([^ ]*\).*/\1/p' <<<"$EXEC_START")
grep -qx 'AmbientCapabilities=CAP_NET_BIND_SERVICE' "$unit" || fail "the unit grants no port 69"
grep -qx 'CapabilityBoundingSet=CAP_NET_BIND_SERVICE' "$unit" || fail "the unit bounds other capabilities otherwise"
UNIT=$unit
# nobody runs it: a copy beside the tree it can read.
cp "$(dirname "$0")/unit_sandbox.py" "$WORK/"
# nobody must reach the tree through the work folder's parents.
chmod o+x "$WORK" && chmod -R o+rX "$WORK/root"
export WORK EXEC_START STATE_NAME CONF UNIT
exec timeout 120 unshare -m -n bash "$0" --inside
