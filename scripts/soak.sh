#!/usr/bin/env bash
# Endurance: 100,000 transfers against one server process, in batches of 10,000:
# downloads, uploads, refusals (missing file, refused client, bad mode), clients that
# vanish after the first block (TimeOut is 1 second, so the server gives them up after
# 6) and clients that answer with an ERROR. After every batch it prints the server's
# open descriptors and resident memory; after warm-up both must stay flat.
#
#   scripts/soak.sh [--batches N]     (default 10, i.e. 100,000 transfers)
#
# Runs inside a private network namespace (unshare -n, needs root): the server listens
# on its 127.0.0.1, and the refused client speaks from 127.0.0.2 on the same loopback.
# Not run by CI; about 5-10 minutes on two cores.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VANTREL_BENCH_BUILD:-$ROOT/build-release}
BATCHES=10
while [[ $# -gt 0 ]]; do
    case $1 in
    --batches) BATCHES=$2; shift 2 ;;
    *) echo "usage: $0 [--batches N]" >&2; exit 2 ;;
    esac
done

if [[ -z ${VANTREL_SOAK_INSIDE:-} ]]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD" -j2 --target vantrel-server >/dev/null
    cmake -S "$ROOT/bench" -B "$BUILD/benchtools" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD/benchtools" -j2 >/dev/null
    exec unshare --net env VANTREL_SOAK_INSIDE=1 VANTREL_BENCH_BUILD="$BUILD" "$0" --batches "$BATCHES"
fi

ip link set lo up
# The server hands out transfer ports from 29000 to 65000; keep this namespace's
# ephemeral ports (the clients' own) below that range so the two never collide.
sysctl -q -w net.ipv4.ip_local_port_range="10000 28999"
LOAD=$BUILD/benchtools/loadclient
WORK=$(mktemp -d /tmp/vantrel-soak.XXXXXX)
SERVER_PID=
cleanup() {
    if [[ -n $SERVER_PID ]]; then
        kill "$SERVER_PID" 2>/dev/null || true
        wait "$SERVER_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

PORT=16969
SERVE=$WORK/home/tftp
mkdir -p "$SERVE" "$WORK/xdg/Zelk TFTP Server"
head -c 2500 /dev/urandom >"$SERVE/small.bin"
cp "$SERVE/small.bin" "$WORK/small.bin"
# TimeOut 1 s so vanished clients are given up quickly; only 127.0.0.1 is served.
cat >"$WORK/xdg/Zelk TFTP Server/ZAZO_Dize.conf" <<EOF
[WorkingDir]
TimeOut=1
SoundOn=0
AllowClient=1
Client1=127.0.0.1
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
