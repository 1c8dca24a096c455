#!/usr/bin/env bash
# Endurance: 100,000 transfers against one server process, in batches of 10,000:
# downloads, uploads, refusals (missing file, refused client, bad mode), clients that
# vanish after the first block (TimeOut is 1 second, so the server gives them up after
# 6) and clients that answer with an ERROR. After every batch it prints the server's
# open descriptors and resident memory; after warm-up both must stay flat.
# Then a lossy phase: rounds of 50 downloads and 50 uploads of 512 KiB at once through
# the relay (bench/relay.cpp: 1 ms delay, 5 % loss, 5 % duplication, 10 % reordering)
# until its time is up; every transfer must arrive byte for byte or end with an ERROR
# its client saw, none may hang, and descriptors and memory must come back afterwards.
# Then the same windowed: 1 MiB files with blksize 1428 and windowsize 16 through 5 %
# loss, 2 % duplication and 2 % reordering.
#
#   scripts/soak.sh [--batches N] [--lossy-seconds S] [--windowed-seconds S]
#                   (defaults 10, i.e. 100,000 transfers, 180 and 120; 0 skips a phase)
#
# Runs inside a private network namespace (unshare -n, needs root): the server listens
# on its 127.0.0.1, and the refused client speaks from 127.0.0.2 on the same loopback.
# Not run by CI; about 5-10 minutes on two cores.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VANTREL_BENCH_BUILD:-$ROOT/build-release}
BATCHES=10
LOSSY_SECONDS=180
WINDOWED_SECONDS=120
while [[ $# -gt 0 ]]; do
    case $1 in
    --batches) BATCHES=$2; shift 2 ;;
    --lossy-seconds) LOSSY_SECONDS=$2; shift 2 ;;
    --windowed-seconds) WINDOWED_SECONDS=$2; shift 2 ;;
    *) echo "usage: $0 [--batches N] [--lossy-seconds S] [--windowed-seconds S]" >&2; exit 2 ;;
    esac
done

if [[ -z ${VANTREL_SOAK_INSIDE:-} ]]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD" -j2 --target vantrel-server >/dev/null
    cmake -S "$ROOT/bench" -B "$BUILD/benchtools" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD/benchtools" -j2 >/dev/null
    exec unshare --net env VANTREL_SOAK_INSIDE=1 VANTREL_BENCH_BUILD="$BUILD" "$0" \
        --batches "$BATCHES" --lossy-seconds "$LOSSY_SECONDS" --windowed-seconds "$WINDOWED_SECONDS"
fi

ip link set lo up
# The server hands out transfer ports from 29000 to 65000; keep this namespace's
# ephemeral ports (the clients' own) below that range so the two never collide.
sysctl -q -w net.ipv4.ip_local_port_range="10000 28999"
LOAD=$BUILD/benchtools/loadclient
WORK=$(mktemp -d /tmp/vantrel-soak.XXXXXX)
SERVER_PID=
RELAY_PID=
cleanup() {
    for pid in $RELAY_PID $SERVER_PID; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

PORT=16969
SERVE=$WORK/home/tftp
mkdir -p "$SERVE" "$WORK/xdg/Zelk TFTP Server"
head -c 2500 /dev/urandom >"$SERVE/small.bin"
cp "$SERVE/small.bin" "$WORK/small.bin"
# TimeOut 1 s so vanished clients are given up quickly; only 127.0.0.1 is served.
# Negotiation is on for the windowed phase; clients without options never see it.
cat >"$WORK/xdg/Zelk TFTP Server/ZAZO_Dize.conf" <<EOF
[WorkingDir]
TimeOut=1
SoundOn=0
AllowClient=1
Client1=127.0.0.1
[Protocol]
Negotiate=1
EOF

HOME=$WORK/home XDG_CONFIG_HOME=$WORK/xdg "$BUILD/app/vantrel-server" --headless \
    --address 127.0.0.1 --port $PORT >"$WORK/rows.txt" 2>"$WORK/stderr.txt" &
SERVER_PID=$!
for _ in $(seq 50); do ss -Hlun "sport = :$PORT" | grep -q . && break; sleep 0.1; done

load() { "$LOAD" --port $PORT --wall-limit 120 "$@" >>"$WORK/load.txt"; }

sample() {
    local fds rss
    fds=$(find "/proc/$SERVER_PID/fd" -mindepth 1 | wc -l)
    rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$SERVER_PID/status")
    echo "transfers=$1 open_fds=$fds rss_kib=$rss seconds=$SECONDS"
}

sample 0
failed=0
for batch in $(seq "$BATCHES"); do
    start=$SECONDS
    # 100 clients that vanish, all at once, while the rest of the batch runs. They ask
    # for a file of their own: the server takes a request from the same address and
    # port for the same file as the client repeating it while the transfer lives (six
    # seconds for a vanished client), and this namespace's small range of client ports
    # comes round again within that time.
    cp "$SERVE/small.bin" "$SERVE/vanish-$batch.bin"
    load --mode vanish --file "vanish-$batch.bin" --count 100 --concurrency 100 &
    vanish=$!
    load --mode get --file small.bin --expect "$WORK/small.bin" --count 4000 --concurrency 8 || failed=1
    load --mode put --file "up%d.bin" --expect "$WORK/small.bin" --count 2500 --concurrency 8 || failed=1
    load --mode missing --file nothing.bin --count 1000 --concurrency 8 || failed=1
    load --mode refused --bind 127.0.0.2 --file small.bin --count 1000 --concurrency 8 || failed=1
    load --mode badmode --file small.bin --count 1000 || failed=1
    load --mode error --file small.bin --count 400 --concurrency 8 || failed=1
    wait "$vanish" || failed=1
    # Let the server give up the vanished ones (6 intervals of 1 s) before sampling.
    while ((SECONDS - start < 8)); do sleep 0.5; done
    cmp -s "$SERVE/up2499.bin" "$WORK/small.bin" || { echo "soak: upload differs" >&2; failed=1; }
    sample $((batch * 10000))
    [[ $failed -eq 0 ]] || break
done

# A lossy phase: the same server behind the relay, rounds of 50 downloads and 50
# uploads at once until SECONDS are up.
#   lossy_phase NAME SECONDS SIZE RELAY_ARGS... -- CLIENT_ARGS...
lossy_transfers=0
lossy_phase() {
    local name=$1 seconds=$2 size=$3 relay_args=() client_args=()
    shift 3
    while [[ $# -gt 0 && $1 != -- ]]; do relay_args+=("$1"); shift; done
    [[ $# -gt 0 ]] && shift
    client_args=("$@")
    head -c "$size" /dev/urandom >"$SERVE/lossy.bin"
    cp "$SERVE/lossy.bin" "$WORK/lossy.bin"
    RELAY_PORT=16970
    # Sessions are forgotten after 20 s of silence: longer than the server's 6 repeats.
    "$BUILD/benchtools/relay" --listen 127.0.0.1:$RELAY_PORT --server 127.0.0.1:$PORT \
        --delay-ms 1 "${relay_args[@]}" --seed 8 --idle-s 20 2>"$WORK/relay.txt" &
    RELAY_PID=$!
    for _ in $(seq 50); do ss -Hlun "sport = :$RELAY_PORT" | grep -q . && break; sleep 0.1; done
    declare -A tally=([ok]=0 [error_seen]=0 [corrupt]=0 [hung]=0)
    # 200 ms between repeats, 30 repeats: 6 s of silence is a hang.
    lossy() { timeout 150 "$LOAD" --port $RELAY_PORT --count 50 --concurrency 50 --timeout 200 \
        --retries 30 --wall-limit 120 --expect "$WORK/lossy.bin" "${client_args[@]}" "$@" \
        >/dev/null 2>&1 || true; }
    local lossy_start=$SECONDS round=0 getter r i kind
    while ((SECONDS - lossy_start < seconds)); do
        round=$((round + 1))
        lossy --mode get --file lossy.bin --results "$WORK/get.txt" &
        getter=$!
        lossy --mode put --file "lossy-$round-%d.bin" --results "$WORK/put.txt"
        wait "$getter"
        sleep 0.2 # the server's last renames
        for i in $(seq 0 49); do
            for kind in get put; do
                r=$(awk -v i="$i" '$1 == i { print $2 }' "$WORK/$kind.txt" 2>/dev/null || true)
                [[ -n $r && $r != failed ]] || r=hung
                if [[ $kind == put && ($r == ok || $r == unconfirmed) ]]; then
                    # Only the stored file says whether an upload arrived whole.
                    if cmp -s "$WORK/lossy.bin" "$SERVE/lossy-$round-$i.bin"; then
                        r=ok
                    elif [[ $r == unconfirmed && ! -e $SERVE/lossy-$round-$i.bin ]]; then
                        r=hung
                    else
                        r=corrupt
                    fi
                fi
                tally[$r]=$((tally[$r] + 1))
            done
        done
        rm -f "$WORK/get.txt" "$WORK/put.txt" "$SERVE"/lossy-"$round"-*
    done
    kill "$RELAY_PID" && wait "$RELAY_PID" 2>/dev/null || true
    RELAY_PID=
    echo "$name: rounds=$round transfers=$((round * 100)) ok=${tally[ok]} error_seen=${tally[error_seen]} corrupt=${tally[corrupt]} hung=${tally[hung]} seconds=$((SECONDS - lossy_start))"
    cat "$WORK/relay.txt"
    ((tally[corrupt] + tally[hung] == 0)) || failed=1
    # The server gives up what the relay left unfinished (6 intervals of 1 s).
    sleep 8
    lossy_transfers=$((lossy_transfers + round * 100))
    sample "$((BATCHES * 10000 + lossy_transfers))"
}

if ((LOSSY_SECONDS > 0)); then
    lossy_phase lossy "$LOSSY_SECONDS" $((512 * 1024)) --loss 5 --dup 5 --reorder 10
fi
if ((WINDOWED_SECONDS > 0)); then
    lossy_phase windowed "$WINDOWED_SECONDS" $((1024 * 1024)) --loss 5 --dup 2 --reorder 2 \
        -- --blksize 1428 --windowsize 16
fi

kill -0 "$SERVER_PID" || { echo "soak: the server died" >&2; exit 1; }
# The last state of every row.
echo "rows: $(awk -F'\t' '$1 == "row" { last[$2] = $3 } END { for (r in last) n[last[r]]++; for (s in n) printf "%s=%d ", s, n[s] }' "$WORK/rows.txt")"
echo "server cpu_s=$(awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$SERVER_PID/stat")"
if [[ -s $WORK/stderr.txt ]]; then
    echo "server messages: $(wc -l <"$WORK/stderr.txt")"
    sort "$WORK/stderr.txt" | uniq -c | head -5
    cp "$WORK/stderr.txt" /tmp/vantrel-soak-stderr.txt
fi
exit $failed
