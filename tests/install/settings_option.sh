#!/usr/bin/env bash
# --settings FILE: the server serves the folder that the file names (not the user's
# profile), and refuses a file that is not there rather than serve another folder.
# --address: four dotted parts or IPv6, nothing the system would also read as IPv4.
#   settings_option.sh SERVER WORK_DIR
set -u
server=$1 work=$2
fail() { echo "FAIL: $*"; cat "$work/out" "$work/err" 2>/dev/null; exit 1; }
rm -rf "$work" && mkdir -p "$work/served"
printf '[WorkingDir]\nDirName=%s\n' "$work/served" >"$work/server.conf"
echo hello >"$work/served/a.txt"

"$server" --headless --settings "$work/nothing.conf" >/dev/null 2>"$work/err"
rc=$?
[ $rc -eq 2 ] || fail "a missing settings file gave status $rc, not 2"
grep -q -- --settings "$work/err" || fail "no word on standard error about --settings"

# Each would listen somewhere the administrator did not mean (10.1 is 10.0.0.1).
for bad in 10.1 127.1 0x7f000001 2130706433 1.2.3.256 127.0.0.01.1 ::1::2 ""; do
    timeout 10 "$server" --headless --address "$bad" --port 1 >"$work/out" 2>"$work/err"
    rc=$?
    [ $rc -eq 2 ] && grep -q -- '--address needs an IPv4 address of four parts' "$work/err" ||
        fail "--address '$bad' gave status $rc"
done

port=$((20000 + RANDOM % 5000))
"$server" --headless --address 127.0.0.1 --port $port --settings "$work/server.conf" \
    >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 100); do
    grep -q '^listening on\|^cannot listen' "$work/out" && break
    sleep 0.1
done
grep -qx "listening on 127.0.0.1:$port, serving $work/served" "$work/out" ||
    { kill $pid; fail "does not serve the folder of the settings file"; }
if command -v curl >/dev/null; then
    curl -s --max-time 20 --tftp-no-options -o "$work/got" "tftp://127.0.0.1:$port/a.txt" &&
        cmp -s "$work/served/a.txt" "$work/got" || { kill $pid; fail "download"; }
fi
kill -TERM $pid
wait $pid

# listen_once ARGUMENTS...: started until it says where it listens (at most 10 s), stopped.
# The output is emptied first: the shell opens it only after the fork, so a wait could
# otherwise read the last run's line and stop the server before it starts.
listen_once() {
    : >"$work/out"
    "$server" --headless "$@" --settings "$work/server.conf" >"$work/out" 2>"$work/err" &
    local pid=$!
    for _ in $(seq 100); do
        grep -q '^listening on\|^cannot listen' "$work/out" && break
        sleep 0.1
    done
    kill -TERM $pid 2>/dev/null
    wait $pid
}

# IPv6 as it was.
listen_once --address ::1 --port $port
grep -q "^listening on \[::1\]:$port," "$work/out" || fail "--address ::1 is not taken"

# The port from the settings (Setup's Port) when there is no --port; --port wins.
port2=$((port + 1))
printf '[Protocol]\nPort=%s\n' $port2 >>"$work/server.conf"
for args in "" "--port $port"; do
    want=$port2
    [ -n "$args" ] && want=$port
    # shellcheck disable=SC2086
    listen_once --address 127.0.0.1 $args
    grep -q "^listening on 127.0.0.1:$want," "$work/out" ||
        fail "listens elsewhere than port $want (arguments: ${args:-none})"
done
echo PASS
