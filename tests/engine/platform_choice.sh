#!/bin/bash
# Which platform the real server runs on: io_uring where the kernel allows it (and the
# build has it), epoll where io_uring_setup is refused by a seccomp filter on the
# server's own process, and epoll when VANTREL_PLATFORM=epoll asks for it. The platform
# shows in the server's descriptors: anon_inode:[io_uring] or anon_inode:[eventpoll].
#   platform_choice.sh SERVER URING_GATE HAVE_URING(1|0)
set -u
server=$1 gate=$2 have_uring=$3
work=$(mktemp -d /tmp/platform.XXXXXX)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/served" "$work/home"
printf '[WorkingDir]\nDirName=%s\n' "$work/served" >"$work/server.conf"

# Starts the server on $port (PREFIX... before it) and waits, 10 s at most, for a line
# that matches WAIT in its output.
start_server() { # WAIT PREFIX...
    local wait=$1
    shift
    : >"$work/out" # else the wait may read the last run's line
    HOME=$work/home XDG_CONFIG_HOME=$work/home/xdg XDG_DATA_HOME=$work/home/data \
        "$@" "$server" --headless --address 127.0.0.1 --port $port \
        --settings "$work/server.conf" >"$work/out" 2>"$work/err" &
    pid=$!
    for _ in $(seq 100); do
        grep -q "$wait" "$work/out" && break
        sleep 0.1
    done
}

# Starts the server (PREFIX... before it), waits until it listens, prints its platform.
platform_of() {
    local port=$((20000 + RANDOM % 5000)) kind="neither io_uring nor epoll" fd
    start_server '^listening on\|^cannot listen' "$@"
    if grep -q '^listening on' "$work/out"; then
        for fd in /proc/$pid/fd/*; do
            case $(readlink "$fd") in
            'anon_inode:[io_uring]') kind=io_uring; break ;;
            'anon_inode:[eventpoll]') kind=epoll ;;
            esac
        done
    else
        kind="not listening: $(cat "$work/out" "$work/err")"
    fi
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=
    echo "$kind"
}

failed=0
expect() { # WHAT WANT GOT
    if [ "$2" = "$3" ]; then echo "PASS: $1: $3"; else echo "FAIL: $1: $3, not $2"; failed=1; fi
}

want=epoll
if [ "$have_uring" = 1 ]; then
    # The kernel's own answer, outside any filter of ours.
    "$gate" probe && want=io_uring
else
    echo "built without liburing: epoll everywhere"
fi
expect "the default where the kernel has its say" $want "$(platform_of)"
expect "io_uring_setup refused by a seccomp filter" epoll "$(platform_of "$gate" refuse)"
expect "VANTREL_PLATFORM=epoll" epoll "$(platform_of env VANTREL_PLATFORM=epoll)"

# [Limits] EngineThreads=2: two UDP sockets of the server's on the port, on either
# platform, and the start says so; Qt's platform cannot share the port and says that.
printf '[WorkingDir]\nDirName=%s\n[Limits]\nEngineThreads=2\n' "$work/served" >"$work/server.conf"
sockets_on_port() { # PREFIX...: the server's UDP sockets on its port, and its note
    local port=$((25000 + RANDOM % 5000)) hex inodes=0 fd inode
    start_server 'engine thread\|^cannot listen' "$@"
    hex=$(printf '0100007F:%04X' $port)
    for inode in $(awk -v a="$hex" '$2 == a { print $10 }' /proc/net/udp); do
        for fd in /proc/$pid/fd/*; do
            [ "$(readlink "$fd")" = "socket:[$inode]" ] && inodes=$((inodes + 1))
        done
    done
    echo "$inodes: $(grep 'engine thread' "$work/out")"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=
}
expect "EngineThreads=2, default platform" "2: 2 engine threads on the port" "$(sockets_on_port)"
expect "EngineThreads=2, epoll" "2: 2 engine threads on the port" "$(sockets_on_port env VANTREL_PLATFORM=epoll)"
expect "EngineThreads=2, Qt's platform" "1: one engine thread: this platform cannot share the port" \
    "$(sockets_on_port env VANTREL_PLATFORM=qt)"
exit $failed
