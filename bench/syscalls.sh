#!/usr/bin/env bash
# System calls per block and per small file: strace -c -f on the headless server (all
# its threads) for one 16 MiB download in lock-step (blksize 512 and 1468), one with
# windowsize 16 (blksize 1468), and 100 sequential 1 KiB downloads, each on a fresh
# server on 127.0.0.1, driven by the bench's load client. Prints the calls per case
# less what an idle start and stop costs (a server started, sent nothing, stopped).
#
#   bench/syscalls.sh SERVER LOADCLIENT [OUTDIR]
#
# Not run by CI. Needs strace; run as any user (ports 16980 and up on loopback).
set -euo pipefail
SERVER=$1
LOAD=$2
OUT=${3:-$(mktemp -d /tmp/vantrel-syscalls.XXXXXX)}
WORK=$(mktemp -d /tmp/vantrel-sc.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$OUT" "$WORK/tftp"
head -c $((16 * 1024 * 1024)) /dev/urandom >"$WORK/tftp/big16.bin"
head -c 1024 /dev/urandom >"$WORK/tftp/small1k.bin"
printf '[WorkingDir]\nDirName=%s\nSoundOn=0\n[Protocol]\nNegotiate=1\nMaxWindowSize=64\n' \
    "$WORK/tftp" >"$WORK/settings.ini"
PORT=16980

one() { # NAME LOADARGS...
    local name=$1 pid
    shift
    HOME=$WORK XDG_CONFIG_HOME=$WORK/xdg strace -f -c -o "$OUT/$name.txt" "$SERVER" --headless \
        --settings "$WORK/settings.ini" --address 127.0.0.1 --port $PORT >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 50); do
        ss -Hlun "sport = :$PORT" | grep -q . && break
        sleep 0.1
    done
    if [[ $# -gt 0 ]]; then
        "$LOAD" --port $PORT --wall-limit 120 "$@" >"$OUT/$name.load"
    fi
    sleep 0.3
    kill -TERM "$(pgrep -P "$pid")" # the server; strace then writes its counts
    wait "$pid" || true
    PORT=$((PORT + 1))
}

total() { awk '$NF == "total" { print $4 }' "$1"; }
calls() { awk -v s="$2" '$NF == s { print $4 }' "$1"; }

one idle
one lock512 --mode get --file big16.bin --expect "$WORK/tftp/big16.bin"
one lock1468 --mode get --file big16.bin --expect "$WORK/tftp/big16.bin" --blksize 1468
one win16 --mode get --file big16.bin --expect "$WORK/tftp/big16.bin" --blksize 1468 --windowsize 16
one small100 --mode get --file small1k.bin --expect "$WORK/tftp/small1k.bin" --count 100

idle=$(total "$OUT/idle.txt")
for c in lock512:32768 lock1468:11429 win16:11429 small100:100; do
    name=${c%%:*} per=${c##*:}
    t=$(total "$OUT/$name.txt")
    printf '%s calls=%s less_idle=%s per_%s=%.2f\n' "$name" "$t" $((t - idle)) \
        "$([[ $name == small100 ]] && echo file || echo block)" "$(echo "($t - $idle) / $per" | bc -l)"
    awk 'NR > 2 && $NF != "total" && $NF !~ /^-/ { printf "    %s %s\n", $NF, ($4 ~ /^[0-9]+$/ ? $4 : $4) }' "$OUT/$name.txt" |
        sort -k2 -n -r | head -8
done
echo "raw: $OUT"
