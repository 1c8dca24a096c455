#!/usr/bin/env bash
# Windowed transfers by atftp over a bad network: the relay (bench/relay.cpp) loses 5 %,
# duplicates 5 % and holds back 10 % of the packets in each direction; 8 atftp downloads
# and 8 atftp uploads run at once with blksize 1428 and windowsize 16, once per seed of
# the relay. atftp keeps the blocks after a lost one and acknowledges a gap only once,
# then ignores what it does not expect: a download recovers only when the server sends
# the window again after a time-out, an upload only when the server acknowledges again
# the last block it took in order. Every file must arrive byte for byte; the one
# exception is a client that gave up on an OACK it saw twice ("unexpected OACK": a copy
# the relay made, or the OACK sent again after a lost ACK 0, which atftp 0.8 does not
# survive; no server can help that). Runs in a private network namespace on its
# 127.0.0.1; exits 77 (skipped) where no namespace can be made.
#
#   lossy_atftp.sh SERVER RELAY [--count N] [--seeds "N M ..."] [--size BYTES]
#
# LOSSY_TRACE=1 runs atftp with --trace; LOSSY_KEEP=1 keeps the work folder (its logs).
set -u

if [[ -z ${LOSSY_INSIDE:-} ]]; then
    for how in "-n" "-r -n"; do
        # shellcheck disable=SC2086
        if unshare $how true 2>/dev/null; then
            exec unshare $how env LOSSY_INSIDE=1 bash "$0" "$@"
        fi
    done
    echo "SKIP: cannot make a private network namespace"
    exit 77
fi
command -v atftp >/dev/null || { echo "SKIP: no atftp client"; exit 77; }

server_bin=$1 relay_bin=$2
shift 2
count=8 seeds="8 9 10" size=$((1024 * 1024 + 777))
while [[ $# -gt 0 ]]; do
    case $1 in
    --count) count=$2; shift 2 ;;
    --seeds) seeds=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    *) echo "usage: lossy_atftp.sh SERVER RELAY [--count N] [--seeds \"N M ...\"] [--size BYTES]" >&2; exit 2 ;;
    esac
done

ip link set lo up || exit 1
sysctl -q -w net.ipv4.ip_local_port_range="10000 28999" 2>/dev/null || true
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    [[ -n ${LOSSY_KEEP:-} ]] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

wait_port() {
    for _ in $(seq 50); do
        ss -Hlun "sport = :$1" | grep -q . && return 0
        sleep 0.1
    done
    echo "nothing listens on $1"
    cat "$work/server.log"
    exit 1
}

server_port=6969 relay_port=7070
export HOME=$work/home XDG_CONFIG_HOME=$work/xdg
root=$HOME/tftp
mkdir -p "$root" "$XDG_CONFIG_HOME/Zelk TFTP Server"
head -c "$size" /dev/urandom >"$root/image.bin"
head -c "$size" /dev/urandom >"$work/upload.bin"
printf '[WorkingDir]\nTimeOut=1\nSoundOn=0\n[Protocol]\nNegotiate=1\n' \
    >"$XDG_CONFIG_HOME/Zelk TFTP Server/ZAZO_Dize.conf"
"$server_bin" --headless --address 127.0.0.1 --port $server_port >"$work/server.log" 2>&1 &
pids+=($!)
wait_port $server_port

# One line per transfer that is not whole; the counts go to the summary.
stalled=0 oack=0 whole=0
start=$SECONDS
for seed in $seeds; do
    "$relay_bin" --listen 127.0.0.1:$relay_port --server 127.0.0.1:$server_port --delay-ms 1 \
        --loss 5 --dup 5 --reorder 10 --seed "$seed" 2>"$work/relay$seed.log" &
    relay_pid=$!
    wait_port $relay_port
    clients=()
    for i in $(seq 1 "$count"); do
        timeout 120 atftp ${LOSSY_TRACE:+--trace} --option "blksize 1428" --option "windowsize 16" --tftp-timeout 1 \
            -g -r image.bin -l "$work/got$seed-$i.bin" 127.0.0.1 $relay_port >"$work/get$seed-$i.log" 2>&1 &
        clients+=($!)
        timeout 120 atftp ${LOSSY_TRACE:+--trace} --option "blksize 1428" --option "windowsize 16" --tftp-timeout 1 \
            -p -l "$work/upload.bin" -r "up$seed-$i.bin" 127.0.0.1 $relay_port >"$work/put$seed-$i.log" 2>&1 &
        clients+=($!)
    done
    wait "${clients[@]}"
    kill -TERM $relay_pid && wait $relay_pid 2>/dev/null
    # An upload's file is complete once its last ACK went; that may lag atftp's exit.
    sleep 1
    for i in $(seq 1 "$count"); do
        for kind in get put; do
            if [[ $kind == get ]]; then
                cmp -s "$root/image.bin" "$work/got$seed-$i.bin"
            else
                cmp -s "$work/upload.bin" "$root/up$seed-$i.bin"
            fi && { whole=$((whole + 1)); continue; }
            if grep -q "unexpected OACK" "$work/$kind$seed-$i.log"; then
                oack=$((oack + 1))
            else
                stalled=$((stalled + 1))
                echo "seed $seed, $kind $i:"
                grep -v '^Option' "$work/$kind$seed-$i.log" | tail -n 5 | sed 's/^/    /'
            fi
        done
    done
    echo "seed $seed: $(cat "$work/relay$seed.log")"
done
seconds=$((SECONDS - start))
total=$((2 * count * $(wc -w <<<"$seeds")))
echo "atftp windowed transfers: $whole of $total whole, $oack given up by atftp on a second OACK, $stalled stalled, in ${seconds} s"
echo "server rows: $(awk -F'\t' '$1 == "row" { last[$2] = $3 } END { for (r in last) n[last[r]]++; for (s in n) printf "%s=%d ", s, n[s] }' "$work/server.log")"
awk -F'\t' '$3 == "FAILED" { print "server: " $NF }' "$work/server.log" | sort | uniq -c | sort -rn | head
[[ $stalled -eq 0 ]] && echo PASS || { echo FAIL; exit 1; }
