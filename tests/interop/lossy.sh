#!/usr/bin/env bash
# Transfers over a bad network: the relay (bench/relay.cpp) between the load client and
# the headless server loses 5 %, duplicates 5 % and holds back 10 % of the packets in
# each direction, after a 1 ms delay. 20 downloads and 20 uploads of 512 KiB run at once
# through it: each must arrive byte for byte or end with an ERROR its client saw, and
# none may hang (the client gives up after 6 s of silence).
#
#   lossy.sh SERVER RELAY LOADCLIENT [--count N] [--size BYTES] [--seed N] [--windowed]
#
# --windowed: the server negotiates, the clients ask for blksize 1428 and windowsize 16,
# and the relay loses 5 %, duplicates 2 % and reorders 2 %; the files are 512 KiB to
# 1 MiB (one a whole number of blocks, so its last block is empty).
#
# SERVER is the vantrel-server binary, or "tftpd-hpa" (plain only) or "atftpd" (windowed
# too; $ATFTPD, by default /usr/sbin/atftpd) to run the same transfers against a peer (a
# check of the relay, the client and this test). Runs in a private network namespace
# on its 127.0.0.1; exits 77 (skipped) where no namespace can be made.
set -u

if [[ -z ${LOSSY_INSIDE:-} ]]; then
    for how in "-n" "-r -n"; do # as root, else as root of a user namespace
        # shellcheck disable=SC2086
        if unshare $how true 2>/dev/null; then
            exec unshare $how env LOSSY_INSIDE=1 bash "$0" "$@"
        fi
    done
    echo "SKIP: cannot make a private network namespace (unshare -n needs root or user namespaces)"
    exit 77
fi

server_bin=$1 relay_bin=$2 load_bin=$3
shift 3
count=20 size=$((512 * 1024)) seed=8 windowed=
while [[ $# -gt 0 ]]; do
    case $1 in
    --count) count=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --windowed) windowed=1; shift ;;
    *) echo "usage: lossy.sh SERVER RELAY LOADCLIENT [--count N] [--size BYTES] [--seed N] [--windowed]" >&2; exit 2 ;;
    esac
done
relay_args=(--loss 5 --dup 5 --reorder 10)
client_args=()
sizes=("$size")
if [[ -n $windowed ]]; then
    relay_args=(--loss 5 --dup 2 --reorder 2)
    client_args=(--blksize 1428 --windowsize 16)
    sizes=($((512 * 1024)) $((1428 * 512)) 900001 $((1024 * 1024)))
fi
groups=${#sizes[@]}
((count % groups == 0)) || { echo "lossy.sh: --count must be a multiple of $groups" >&2; exit 2; }
per=$((count / groups))

ip link set lo up || exit 1
# Transfer ports of the server from 29000 up; the clients' and the relay's own below.
sysctl -q -w net.ipv4.ip_local_port_range="10000 28999" 2>/dev/null || true

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

server_port=6969 relay_port=7070
for g in "${!sizes[@]}"; do head -c "${sizes[$g]}" /dev/urandom >"$work/file$g.bin"; done
if [[ $server_bin == tftpd-hpa ]]; then
    # in.tftpd wants an address besides 127/8 before it takes IPv4 (AI_ADDRCONFIG).
    ip addr add 192.0.2.1/32 dev lo
    root=$work/root
    mkdir -m 777 "$root"
    for g in "${!sizes[@]}"; do install -m 644 "$work/file$g.bin" "$root/down$g.bin"; done
    # Its first retransmission after 200 ms, as soon as the client's: it ignores a
    # repeated ACK, so a lost block waits for its own timer.
    /usr/sbin/in.tftpd -L -c -T 200000 -a 127.0.0.1:$server_port -s "$root" \
        >"$work/server.log" 2>&1 &
elif [[ $server_bin == atftpd ]]; then
    root=$work/root
    mkdir -m 777 "$root"
    for g in "${!sizes[@]}"; do install -m 644 "$work/file$g.bin" "$root/down$g.bin"; done
    # Retransmits after 1 s (its shortest); runs as nobody, hence the open folder.
    "${ATFTPD:-/usr/sbin/atftpd}" --daemon --no-fork --port $server_port --bind-address 127.0.0.1 \
        --retry-timeout 1 --maxthread 200 --logfile "$work/server.log" "$root" \
        >>"$work/server.log" 2>&1 &
else
    export HOME=$work/home XDG_CONFIG_HOME=$work/xdg
    root=$HOME/tftp
    mkdir -p "$root" "$XDG_CONFIG_HOME/Zelk TFTP Server"
    for g in "${!sizes[@]}"; do cp "$work/file$g.bin" "$root/down$g.bin"; done
    # The shortest time-out, so what is lost is repeated soon.
    printf '[WorkingDir]\nTimeOut=1\nSoundOn=0\n' >"$XDG_CONFIG_HOME/Zelk TFTP Server/ZAZO_Dize.conf"
    [[ -n $windowed ]] && printf '[Protocol]\nNegotiate=1\n' >>"$XDG_CONFIG_HOME/Zelk TFTP Server/ZAZO_Dize.conf"
    "$server_bin" --headless --address 127.0.0.1 --port $server_port >"$work/server.log" 2>&1 &
fi
pids+=($!)
"$relay_bin" --listen 127.0.0.1:$relay_port --server 127.0.0.1:$server_port --delay-ms 1 \
    "${relay_args[@]}" --seed "$seed" 2>"$work/relay.log" &
relay_pid=$!
pids+=($relay_pid)
for port in $server_port $relay_port; do
    for _ in $(seq 50); do
        ss -Hlun "sport = :$port" | grep -q . && break
        sleep 0.1
    done
    ss -Hlun "sport = :$port" | grep -q . || { echo "nothing listens on $port"; cat "$work/server.log"; exit 1; }
done

# 200 ms between repeats (a fifth of the server's time-out: a lost block costs that, not
# a second), 30 repeats: a transfer silent for 6 s counts as hung.
# atftpd ignores blocks it already has and acknowledges again only after a second of
# silence: its clients repeat more slowly (1.1 s, 8 times), or they would never be heard.
repeat_ms=200 repeats=30
[[ $server_bin == atftpd ]] && repeat_ms=1100 repeats=8
# Each group of files of one size has its own client.
load() { # MODE FILE RESULTS GROUP
    timeout 90 "$load_bin" --server 127.0.0.1 --port $relay_port --mode "$1" --file "$2" \
        --expect "$work/file$4.bin" --count "$per" --concurrency "$per" --timeout $repeat_ms \
        --retries $repeats --wall-limit 75 --results "$3" "${client_args[@]}" >"$3.out" 2>"$3.err"
}
start=$SECONDS
load_pids=()
for g in "${!sizes[@]}"; do
    load get "down$g.bin" "$work/get$g" "$g" &
    load_pids+=($!)
    load put "up$g-%d.bin" "$work/put$g" "$g" &
    load_pids+=($!)
done
wait "${load_pids[@]}"
seconds=$((SECONDS - start))
sleep 0.2 # the server's last renames
kill -TERM $relay_pid && wait $relay_pid 2>/dev/null

# One verdict per transfer: ok, error_seen (both pass), corrupt or hung (both fail).
failed=0
for kind in get put; do
    declare -A tally=([ok]=0 [error_seen]=0 [corrupt]=0 [hung]=0)
    for j in $(seq 0 $((count - 1))); do
        g=$((j / per)) i=$((j % per))
        r=$(awk -v i="$i" '$1 == i { print $2 }' "$work/$kind$g" 2>/dev/null)
        [[ -n $r ]] || r=hung # the client itself was stopped
        if [[ $kind == put && ($r == ok || $r == unconfirmed) ]]; then
            # Only the stored file says whether an upload arrived whole.
            if cmp -s "$work/file$g.bin" "$root/up$g-$i.bin"; then
                r=ok
            elif [[ $r == unconfirmed && ! -e $root/up$g-$i.bin ]]; then
                r=hung # given up by the server without a word
            else
                r=corrupt
            fi
        fi
        [[ $r == failed ]] && r=hung
        tally[$r]=$((tally[$r] + 1))
        [[ $r == ok || $r == error_seen ]] || failed=1
    done
    echo "$([[ $kind == get ]] && echo downloads || echo uploads): ok=${tally[ok]} error_seen=${tally[error_seen]} corrupt=${tally[corrupt]} hung=${tally[hung]}"
    unset tally
done
echo "seconds=$seconds"
cat "$work/relay.log"
sed -E 's/transfer [0-9]+: //; s/^/client: /' "$work"/get*.err "$work"/put*.err | sort | uniq -c | sort -rn | head -n 10
if [[ $server_bin != tftpd-hpa && $server_bin != atftpd ]]; then
    echo "server rows: $(awk -F'\t' '$1 == "row" { last[$2] = $3 } END { for (r in last) n[last[r]]++; for (s in n) printf "%s=%d ", s, n[s] }' "$work/server.log")"
    awk -F'\t' '$3 == "FAILED" { print "server: " $NF }' "$work/server.log" | sort | uniq -c | sort -rn | head -n 10
fi
[[ $failed -eq 0 ]] && echo PASS || echo FAIL
exit $failed
