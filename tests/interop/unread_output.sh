#!/usr/bin/env bash
# The headless server with its output going to a pipe that nobody reads: downloads
# keep being served, and SIGTERM still ends it at once.
# Usage: unread_output.sh /path/to/vantrel-server
set -u
server_bin=$1
work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill -9 "$server_pid" 2>/dev/null
    exec 3>&- 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
command -v curl >/dev/null || { echo "missing client: curl"; exit 1; }

export HOME=$work/home XDG_CONFIG_HOME=$work/xdg
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$HOME/tftp" "$work/out"
for i in $(seq 1 1000); do echo "file $i" >"$HOME/tftp/f$i"; done
# Held open for reading and writing here, never read: the server's writes fill it.
mkfifo "$work/pipe"
exec 3<>"$work/pipe"

port=$((40000 + RANDOM % 20000))
"$server_bin" --headless --address 127.0.0.1 --port $port >"$work/pipe" 2>"$work/pipe" &
server_pid=$!
for i in $(seq 1 50); do
    curl -s --max-time 2 -o "$work/out/probe" "tftp://127.0.0.1:$port/f1" && break
    kill -0 $server_pid 2>/dev/null || { echo "server did not start"; exit 1; }
    sleep 0.1
done

# Each download writes at least two lines: 1000 of them overflow a 64 KiB pipe.
timeout 120 curl -s --max-time 5 -o "$work/out/#1" "tftp://127.0.0.1:$port/f[1-1000]"
got=$(ls "$work/out" | grep -c '^[0-9]')
if [ "$got" -lt 1000 ] || ! cmp -s "$work/out/1000" "$HOME/tftp/f1000"; then
    echo "FAIL only $got of 1000 downloads arrived"
    exit 1
fi

kill -TERM $server_pid
for i in $(seq 1 50); do
    kill -0 $server_pid 2>/dev/null || break
    sleep 0.1
done
if kill -0 $server_pid 2>/dev/null; then
    echo "FAIL SIGTERM did not end the server within 5 s"
    exit 1
fi
wait $server_pid 2>/dev/null
server_pid=
echo "PASS 1000 downloads with unread output; SIGTERM ends the server"
