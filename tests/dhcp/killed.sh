#!/bin/bash
# Killed between the ACK and the disk: in a private network namespace, scripted DHCP
# clients (killed_client.py, in a peer namespace across a veth) take leases one after
# another while the headless server is SIGKILLed and started again: each time by one of
# the clients the moment a randomly chosen ACK reaches it (a server that sent the ACK
# before its lease was synced dies with it unsynced), or at a random moment.
# After the last kill every address a client holds an ACK for is in the lease file for
# that client, no address was ACKed to two clients, and the server started once more
# offers each client its own address again.
#   killed.sh SERVER_BIN      (root; exit 77: skipped; SEED=n repeats a run)
set -u
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
SERVER_IP=198.51.100.1
PEER=vkillp0

if [ "${1:-}" != --inside ]; then
    server=$(readlink -f "$1")
    [ "$(id -u)" -eq 0 ] || skip "needs root for the network namespace and port 67"
    for tool in unshare nsenter ip timeout python3; do
        command -v $tool >/dev/null || skip "$tool is missing"
    done
    unshare -n true 2>/dev/null || skip "network namespaces are unavailable here"
    # On a disk, not tmpfs: a sync there takes the time a kill can fall into.
    work=$(mktemp -d /var/tmp/killed.XXXXXX)
    timeout -k 10 200 unshare -n bash "$0" --inside "$server" "$work"
    rc=$?
    rm -rf "$work"
    exit $rc
fi

# ---- inside the namespace: nothing here reaches beyond veth0 ----
server=$2 work=$3
seed=${SEED:-$RANDOM}
RANDOM=$seed
echo "seed $seed"
pids=()
spid=
cleanup() {
    local p
    [ -n "$spid" ] && kill -9 "$spid" 2>/dev/null
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT
trap 'exit 143' TERM INT

ip link set lo up
. "$here/../support/peer.sh"
peer_up veth0 $PEER
ip link set veth0 up
ip addr add $SERVER_IP/24 dev veth0

mkdir -p "$work/root" "$work/home" "$work/state"
printf '[WorkingDir]\nDirName=%s\n[Dhcp]\nEnabled=1\nInterface=veth0\nPoolFirst=198.51.100.10\nPoolLast=198.51.100.250\nLeaseSeconds=3600\n' \
    "$work/root" >"$work/dhcp.ini"
round=0
start() {
    round=$((round + 1))
    STATE_DIRECTORY=$work/state HOME=$work/home XDG_CONFIG_HOME=$work/home/xdg \
        "$server" --headless --address $SERVER_IP --port 6969 --settings "$work/dhcp.ini" \
        >"$work/server.$round.out" 2>&1 &
    spid=$!
    for _ in $(seq 100); do grep -q '^dhcp on' "$work/server.$round.out" && return 0; sleep 0.1; done
    echo "FAIL: the server did not start"; cat "$work/server.$round.out"; exit 1
}

# Four clients at once, 55 leases each (220 of the pool's 241), at their own pace.
for c in 1 2 3 4; do
    nsp python3 "$here/killed_client.py" run $PEER "$c" 55 "$work/acks.$c" "$work/stop" 20 \
        "$work/kill.$c" &
    pids+=("$!")
done
kills=0
for r in 1 2 3 4 5 6 7 8; do
    start
    if [ $((r % 4)) -eq 0 ]; then
        # It asks the link for four seconds before its first answer; then a while of leases.
        sleep "4.$((3 + RANDOM % 7))$((RANDOM % 10))"
    else
        # Behind the N-th ACK one client receives.
        echo "$spid $((1 + RANDOM % 8))" >"$work/kill.$((1 + RANDOM % 4))"
        for _ in $(seq 100); do kill -0 "$spid" 2>/dev/null || break; sleep 0.1; done
        rm -f "$work"/kill.*
    fi
    kill -9 "$spid" 2>/dev/null
    { wait "$spid"; } 2>/dev/null
    spid=
    kills=$((kills + 1))
    acks=$(cat "$work"/acks.* 2>/dev/null | wc -l)
    echo "kill $kills: $acks ACKs so far"
    [ "$acks" -ge 220 ] && break
done
touch "$work/stop"
for p in "${pids[@]:1}"; do wait "$p"; done

failed=0
check() { # WHAT COMMAND...
    local what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failed=1; fi
}
cat "$work"/acks.* >"$work/acks"
check "leases were given between the kills ($(wc -l <"$work/acks") ACKs)" test "$(wc -l <"$work/acks")" -ge 20
check "no address ACKed to two clients" \
    test -z "$(awk '{print $2}' "$work/acks" | sort | uniq -d)"
# The file as a restart reads it: a later line for an address wins.
check "every ACKed lease is in the file, for its client" python3 - "$work/state/dhcp-leases" "$work/acks" <<'PY'
import sys
table = {}
text = open(sys.argv[1]).read()
for line in text[:text.rfind("\n") + 1].splitlines():
    f = line.split()
    if len(f) == 3 and not line.startswith("#"):
        table[f[1]] = f[0]
missing = [l for l in open(sys.argv[2]) if table.get(l.split()[1]) != l.split()[0]]
for l in missing[:20]:
    print("  not in the file:", l.strip(), "(the file has %s)" % table.get(l.split()[1]))
sys.exit(1 if missing else 0)
PY
start
sleep 4.5
check "after a restart each client is offered its own address again" \
    nsp python3 "$here/killed_client.py" verify $PEER "$work/acks"
if [ $failed -ne 0 ]; then
    for f in "$work"/server.*.out; do echo "--- $f"; tail -20 "$f"; done
fi
exit $failed
