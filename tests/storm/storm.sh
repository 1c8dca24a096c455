#!/usr/bin/env bash
# A storm of DHCP clients against the headless server's DHCP server, in a private
# network namespace holding one veth pair: the server on vs0 (198.51.100.1/24, pool
# .2-.251: 250 addresses), the clients (dhcpstorm, one MAC each, raw broadcasts from
# port 68) on vc0. Two bursts, each against a fresh server:
#   full:      250 clients at once, 250 addresses: every client gets a lease;
#   exhausted: 500 clients at once, 250 addresses: 250 leases, the rest refused on one
#              red row, not one each.
# During each burst tftp-hpa downloads a file, which must arrive byte for byte. Prints
# the figures: time until the last lease, leases per second, the server's memory, rows.
#   storm.sh SERVER_BIN DHCPSTORM_BIN
# Exit 77: skipped (not root, no namespaces, a tool missing).
set -u
skip() { echo "SKIP: $*"; exit 77; }
if [ "${1:-}" != --inside ]; then
    server=$(readlink -f "$1") storm=$(readlink -f "$2")
    [ "$(id -u)" -eq 0 ] || skip "needs root for the network namespace, ports 67 and 69 and raw sockets"
    for tool in unshare ip tftp timeout cmp awk; do
        command -v $tool >/dev/null || skip "$tool is missing"
    done
    unshare -n true 2>/dev/null || skip "network namespaces are unavailable here"
    work=$(mktemp -d /tmp/storm.XXXXXX)
    timeout -k 10 600 unshare -n bash "$0" --inside "$server" "$storm" "$work"
    rc=$?
    rm -rf "$work"
    exit $rc
fi

# ---- inside the namespace: nothing here reaches beyond the veth pair ----
server=$2 storm=$3 work=$4
SERVER_IP=198.51.100.1
POOL_FIRST=198.51.100.2 POOL_LAST=198.51.100.251 POOL_SIZE=250
root=$work/root
mkdir -p "$root"
pid=
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null' EXIT
trap 'exit 143' TERM INT

ip link set lo up
ip link add vs0 type veth peer name vc0 || skip "cannot make a veth pair"
ip addr add $SERVER_IP/24 dev vs0
ip link set vs0 up
ip link set vc0 up
head -c $((2 * 1024 * 1024)) /dev/urandom >"$root/big.bin"
printf '[WorkingDir]\nDirName=%s\n[Dhcp]\nEnabled=1\nPoolFirst=%s\nPoolLast=%s\n' \
    "$root" $POOL_FIRST $POOL_LAST >"$work/storm.ini"

failed=0
check() { # WHAT CONDITION...
    local what=$1
    shift
    if "$@"; then echo "  ok: $what"; else echo "  FAIL: $what"; failed=$((failed + 1)); fi
}
figure() { sed -n "s/.*\<$2=\([^ ]*\).*/\1/p" "$1"; }

burst() { # NAME CLIENTS MAC_BASE
    local name=$1 clients=$2 out=$work/$1 tftp_rc rss hwm
    mkdir -p "$out"
    HOME=$out/home XDG_CONFIG_HOME=$out/xdg XDG_DATA_HOME=$out/data "$server" --headless \
        --address $SERVER_IP --port 69 --settings "$work/storm.ini" \
        >"$out/server.out" 2>"$out/server.err" &
    pid=$!
    for _ in $(seq 100); do
        grep -q '^dhcp on' "$out/server.out" && break
        sleep 0.1
    done
    grep -q "^dhcp on vs0 ($SERVER_IP), pool $POOL_FIRST-$POOL_LAST" "$out/server.out" ||
        { cat "$out/server.out" "$out/server.err"; echo "FAIL: the DHCP server did not start"; exit 1; }
    sleep 4.5 # it asks the link before its first answer

    (cd "$out" && start=$(date +%s%N) && timeout 120 tftp -m binary $SERVER_IP -c get big.bin got.bin &&
        echo $((($(date +%s%N) - start) / 1000000)) >tftp.ms) &
    local tftp_pid=$!
    timeout 120 "$storm" --iface vc0 --clients "$clients" --mac-base "$3" --tries 6 \
        --wall-limit 60 >"$out/storm.txt" 2>&1
    wait $tftp_pid
    tftp_rc=$?
    sleep 0.5 # the last rows
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status")
    hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status")
    kill "$pid"
    wait "$pid" 2>/dev/null
    pid=

    # Each row's last line: its handle, state and Information.
    awk -F'\t' '$1 == "row" && $7 == "DHCP" { last[$2] = $3 "\t" $8 }
        END { for (r in last) print r "\t" last[r] }' "$out/server.out" >"$out/rows"
    local rows leased_rows red_rows red_text leased unanswered
    rows=$(wc -l <"$out/rows")
    leased_rows=$(grep -c $'\tSENT\tLeased ' "$out/rows")
    red_rows=$(grep -c $'\tFAILED\t' "$out/rows")
    red_text=$(grep $'\tFAILED\t' "$out/rows" | cut -f3 | head -n 3 | tr '\n' ';')
    leased=$(figure "$out/storm.txt" leased)
    unanswered=$(figure "$out/storm.txt" unanswered)
    echo "$name: $clients clients at once, $POOL_SIZE addresses"
    echo "  $(cat "$out/storm.txt")"
    printf '  figures: %s leases, the last after %s s (%s leases/s); server RSS %s KiB (peak %s KiB); %s DHCP rows (%s leased, %s red: %s); tftp-hpa 2 MiB in %s ms\n' \
        "$leased" "$(figure "$out/storm.txt" seconds_to_last_lease)" \
        "$(figure "$out/storm.txt" leases_per_s)" "$rss" "$hwm" "$rows" "$leased_rows" "$red_rows" "$red_text" \
        "$(cat "$out/tftp.ms" 2>/dev/null)"
    local want=$((clients < POOL_SIZE ? clients : POOL_SIZE))
    check "$want clients leased" [ "${leased:-0}" = $want ]
    check "no address given twice" [ "$(figure "$out/storm.txt" duplicates)" = 0 ]
    check "one row for each lease" [ "$leased_rows" = $want ]
    check "tftp-hpa's download during the storm is byte-exact" \
        bash -c "[ $tftp_rc = 0 ] && cmp -s '$out/got.bin' '$root/big.bin'"
    if [ "$clients" -gt $POOL_SIZE ]; then
        check "$((clients - POOL_SIZE)) refused" [ "${unanswered:-0}" = $((clients - POOL_SIZE)) ]
        check "the refusals are one red row" [ "$red_rows" = 1 ]
        check "which counts the clients" \
            grep -q $'\tFAILED\tNo free address in the pool '"$POOL_FIRST-$POOL_LAST ($((clients - POOL_SIZE)) clients)\$" "$out/rows"
        check "rows stay bounded: leases and the one red row" [ "$rows" = $((want + 1)) ]
    else
        check "no red row" [ "$red_rows" = 0 ]
        check "rows stay bounded: one per lease" [ "$rows" = $want ]
    fi
    [ $failed -eq 0 ] || { tail -n 5 "$out/server.out" "$out/server.err"; }
}

burst full $POOL_SIZE 0x1000
burst exhausted $((2 * POOL_SIZE)) 0x2000
[ $failed -eq 0 ] || { echo "FAIL: $failed check(s)"; exit 1; }
echo PASS
