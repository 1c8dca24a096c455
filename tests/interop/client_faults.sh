#!/usr/bin/env bash
# The command line's client against devices that misbehave and networks that do not
# reach them: a server that sends a block too long, never stops, tells a size it does
# not keep, names hostile bytes (misbehaving_server.py: faults no real server makes);
# SIGINT and SIGTERM in the middle; and each reason a device does not answer, told
# apart with real sockets in a private network namespace (no route at all, no address
# in the device's network, a closed port, a port that never answers). Exits 77 where
# no namespace can be made.
#
#   client_faults.sh BINARY
set -u

if [[ -z ${FAULTS_INSIDE:-} ]]; then
    for how in "-n" "-r -n"; do
        # shellcheck disable=SC2086
        if unshare $how true 2>/dev/null; then
            exec unshare $how env FAULTS_INSIDE=1 bash "$0" "$@"
        fi
    done
    echo "SKIP: cannot make a private network namespace"
    exit 77
fi

bin=$(realpath "$1")
server=$(realpath "$(dirname "$0")")/misbehaving_server.py
ip link set lo up || exit 1
work=$(mktemp -d)
pids=()
passed=0 failed=0
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
export HOME=$work

check() { # name, command...
    local name=$1
    shift
    if "$@" >"$work/check.out" 2>&1; then
        passed=$((passed + 1))
        echo "PASS $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        sed 's/^/    /' "$work/check.out" | tail -n 20
    fi
}

# misbehave PORT MODE: the fault server in the background, its report in MODE.heard.
misbehave() {
    python3 "$server" "$1" "$2" "$work/$2.heard" &
    pids+=($!)
    sleep 0.3
}
# fetch PORT NAME [options]: the client's exit status; its standard error in err.txt.
fetch() {
    local port=$1 name=$2
    shift 2
    rm -f got.bin
    timeout 60 "$bin" --get "tftp://127.0.0.1:$port/$name" --output got.bin "$@" 2>err.txt
}
nothing_kept() { [[ ! -e got.bin ]] && ! ls -A | grep -q '^\.\?got'; }

oversize() {
    misbehave 7001 oversize
    fetch 7001 f.bin
    local rc=$?
    wait "${pids[-1]}"
    cat err.txt oversize.heard
    [[ $rc -eq 1 ]] && nothing_kept && grep -q 'block of 2100 bytes' err.txt && grep -qx 'ERROR 4' oversize.heard
}
check "a DATA longer than the block: ERROR 4, exit 1, nothing kept" oversize

endless() {
    misbehave 7002 endless
    local start=$SECONDS
    fetch 7002 f.bin --max-bytes 100K
    local rc=$?
    wait "${pids[-1]}"
    cat err.txt endless.heard
    [[ $rc -eq 1 ]] && nothing_kept && grep -q '102400 bytes, the most' err.txt &&
        grep -qx 'ERROR 3' endless.heard && ((SECONDS - start < 20))
}
check "a server that never stops: stopped at --max-bytes, ERROR 3, exit 1" endless

short() {
    misbehave 7003 short
    fetch 7003 f.bin --tsize
    local rc=$?
    wait "${pids[-1]}"
    cat err.txt short.heard
    [[ $rc -eq 1 ]] && nothing_kept && grep -q 'sent 100 bytes, not the 2000 it told' err.txt &&
        grep -qx 'ERROR 0' short.heard
}
check "fewer bytes than the told tsize: exit 1, nothing kept" short

interrupted() { # SIGNAL STATUS
    misbehave 7004 slow
    rm -f got.bin
    # timeout(1) would send the signal twice (to the client and its group): a plain
    # child, bounded by the server's own end within 60 s.
    "$bin" --get tftp://127.0.0.1:7004/f.bin --output got.bin 2>err.txt &
    local client=$!
    sleep 1.5
    kill "-$1" $client
    wait $client
    local rc=$?
    wait "${pids[-1]}"
    cat err.txt slow.heard
    echo "exit $rc"
    [[ $rc -eq $2 ]] && nothing_kept && grep -q "stopped by SIG$1" err.txt && grep -qx 'ERROR 0' slow.heard
}
check "SIGINT: ERROR 0 to the server, exit 130" interrupted INT 130
check "SIGTERM: ERROR 0 to the server, exit 143" interrupted TERM 143

max_bytes_usage() {
    timeout 10 "$bin" --get tftp://127.0.0.1/x --max-bytes lots 2>err.txt
    [[ $? -eq 2 ]] && grep -q 'max-bytes needs a number of bytes' err.txt
}
check "usage: --max-bytes not a size" max_bytes_usage

existing_output() {
    printf 'mine' >kept.txt
    timeout 10 "$bin" --get tftp://127.0.0.1:7008/x --output kept.txt 2>err.txt
    local rc=$?
    cat err.txt
    [[ $rc -eq 2 ]] && grep -q 'kept.txt exists: --overwrite replaces it' err.txt && [[ $(cat kept.txt) == mine ]]
}
check "an existing output file: refused without --overwrite" existing_output
missing_send() {
    timeout 10 "$bin" --put "$work/nothing.bin" tftp://127.0.0.1/ 2>err.txt
    local rc=$?
    cat err.txt
    [[ $rc -eq 2 ]] && grep -q 'nothing.bin does not exist' err.txt
}
check "a file to send that does not exist: said so" missing_send

hostile_name() {
    misbehave 7005 small
    # ESC ] 0 ; x BEL and ESC [ 2 J in the name as the URL gives it.
    fetch 7005 '%1b%5d0%3bx%07name%1b%5b2J'
    local rc=$?
    wait "${pids[-1]}"
    cat -v err.txt
    [[ $rc -eq 0 ]] && ! grep -q $'[\x1b\x07]' err.txt && grep -q '\\x1b' err.txt
}
check "a name with control characters: escaped on the progress line" hostile_name

# ---------------------------------------------------------------- why nothing answered
closed_port() {
    local start=$SECONDS
    fetch 7006 f.bin
    local rc=$?
    cat err.txt
    [[ $rc -eq 5 ]] && grep -q 'refused (ICMP port unreachable)' err.txt && nothing_kept &&
        ((SECONDS - start < 15))
}
check "a closed port: refused, exit 5" closed_port

silent_port() {
    python3 -c 'import socket,time; s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM); s.bind(("127.0.0.1",7007)); time.sleep(30)' &
    pids+=($!)
    sleep 0.3
    fetch 7007 f.bin
    local rc=$?
    cat err.txt
    [[ $rc -eq 3 ]] && grep -q 'nothing answered at 127.0.0.1 port 7007' err.txt && nothing_kept
}
check "a port that never answers: nothing answered, exit 3" silent_port

no_route() {
    local start=$SECONDS
    timeout 60 "$bin" --get tftp://203.0.113.5/f.bin --output got.bin 2>err.txt
    local rc=$?
    cat err.txt
    [[ $rc -eq 4 ]] && grep -q 'no route to 203.0.113.5' err.txt &&
        grep -q 'no address in 203.0.113.0/24' err.txt && ((SECONDS - start < 3))
}
check "no route at all: said at once, exit 4" no_route

# A laptop with an address and a default route, but none in the device's network.
ip link add v0 type veth peer name v1 && ip link set v1 up && ip link set v0 up &&
    ip addr add 198.51.100.2/24 dev v0 && ip route add default via 198.51.100.1 || exit 1
no_address() {
    timeout 60 "$bin" --get tftp://203.0.113.1/f.bin --output got.bin 2>err.txt
    local rc=$?
    cat err.txt
    [[ $rc -eq 4 ]] && grep -q "no address in 203.0.113.0/24 (the device's network)" err.txt &&
        grep -q 'ipv4.addresses 203.0.113.10/24' err.txt && nothing_kept
}
check "no address in the device's network: the nmcli command for it, exit 4" no_address

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
