#!/usr/bin/env bash
# What a small file costs each thread of the server with the window open: 1 KiB
# downloads one after another from ours with the window (offscreen), headless, and from
# dnsmasq, each a fresh server warmed up by 50 files, on one CPU (server and client on
# CPU 0) and on two (client on CPU 1). CPU is on-CPU time from schedstat, per thread:
# the window's thread (gui), the engine threads (engine) and the rest (other). CPU
# figures hold on a loaded machine where times do not.
#
#   bench/rowcost.sh SERVER LOADCLIENT [COUNT]      (COUNT: files per figure, 2000)
#
# As root it runs in a private network namespace (dnsmasq serves TFTP on port 69 only);
# otherwise on 127.0.0.1:16990 without dnsmasq. ROWCOST_PERF=FILE records the window's
# thread with perf (call graphs) in FILE.same and FILE.diff; ROWCOST_WARM=N warms up with
# N files (a long list already shown: 10000). Prints name=value lines.
set -euo pipefail
SERVER=$(realpath "$1")
LOAD=$(realpath "$2")
COUNT=${3:-2000}
if [[ $(id -u) -eq 0 && -z ${ROWCOST_INSIDE:-} ]]; then
    exec unshare -n env ROWCOST_INSIDE=1 "$0" "$SERVER" "$LOAD" "$COUNT"
fi
[[ -n ${ROWCOST_INSIDE:-} ]] && ip link set lo up
WORK=$(mktemp -d /tmp/vantrel-rowcost.XXXXXX)
chmod 755 "$WORK"
PID=
trap '[[ -n $PID ]] && kill $PID 2>/dev/null; wait 2>/dev/null; rm -rf "$WORK"' EXIT
head -c 1024 /dev/urandom >"$WORK/small1k.bin"

start() { # NAME CPU: sets PID and PORT
    local name=$1 home=$WORK/$1
    rm -rf "$home" && mkdir -p "$home/home/tftp" "$home/xdg" "$home/run" && chmod 700 "$home/run"
    chmod 755 "$home" "$home/home" "$home/home/tftp"
    cp "$WORK/small1k.bin" "$home/home/tftp/" && chmod 644 "$home/home/tftp/small1k.bin"
    case $name in
    window | headless)
        PORT=16990
        local args=(--no-splash)
        [[ $name == headless ]] && args=(--headless)
        HOME=$home/home XDG_CONFIG_HOME=$home/xdg XDG_RUNTIME_DIR=$home/run QT_QPA_PLATFORM=offscreen \
            taskset -c "$2" "$SERVER" "${args[@]}" --address 127.0.0.1 --port $PORT >/dev/null 2>&1 &
        ;;
    dnsmasq)
        PORT=69
        taskset -c "$2" dnsmasq --no-daemon --conf-file=/dev/null --port=0 --enable-tftp \
            --tftp-root="$home/home/tftp" --listen-address=127.0.0.1 --bind-interfaces \
            --tftp-no-blocksize --quiet-tftp --pid-file= --log-facility="$home/log" >/dev/null 2>&1 &
        ;;
    esac
    PID=$!
    for _ in $(seq 150); do
        ss -Hlun "sport = :$PORT" | grep -q . && return 0
        sleep 0.1
    done
    echo "rowcost: nothing listens on $PORT" >&2
    return 1
}

# gui engine other, on-CPU nanoseconds so far; the window thread's wake-ups
threads() {
    local gui=0 engine=0 other=0 t ns
    for t in /proc/$PID/task/*; do
        ns=$(awk '{ print $1 }' "$t/schedstat" 2>/dev/null) || continue
        if [[ ${t##*/} == "$PID" ]]; then gui=$((gui + ns))
        elif [[ $(cat "$t/comm" 2>/dev/null) == engine* ]]; then engine=$((engine + ns))
        else other=$((other + ns)); fi
    done
    echo "$gui $engine $other $(awk '/^voluntary_ctxt/ { print $2 }' /proc/$PID/task/$PID/status)"
}

run() { # NAME PLACEMENT SERVER_CPU CLIENT_CPU
    local name=$1 pl=$2 out perf=
    start "$name" "$3"
    taskset -c "$4" "$LOAD" --port $PORT --mode get --file small1k.bin --expect "$WORK/small1k.bin" --count "${ROWCOST_WARM:-50}" >/dev/null
    read -r g0 e0 o0 w0 < <(threads)
    if [[ $name == window && -n ${ROWCOST_PERF:-} ]]; then
        perf record -q --call-graph dwarf,8192 -F 5000 -t "$PID" -o "$ROWCOST_PERF.$pl" 2>/dev/null &
        perf=$!
        sleep 0.5
    fi
    out=$(taskset -c "$4" "$LOAD" --port $PORT --mode get --file small1k.bin --expect "$WORK/small1k.bin" \
        --count "$COUNT" --wall-limit 300)
    [[ -n $perf ]] && kill -INT $perf && wait $perf || true
    read -r g1 e1 o1 w1 < <(threads)
    kill $PID && wait $PID 2>/dev/null || true
    PID=
    awk -v p="$pl.$name" -v n="$COUNT" -v g=$((g1 - g0)) -v e=$((e1 - e0)) -v o=$((o1 - o0)) -v w=$((w1 - w0)) \
        -v us="$(sed -n 's/.*us_per_transfer=\([0-9.]*\).*/\1/p' <<<"$out")" 'BEGIN {
        printf "%s.us_per_file=%s\n", p, us
        if (p ~ /dnsmasq/) { printf "%s.cpu_us_per_file=%.1f\n", p, (g + e + o) / 1000 / n; exit }
        printf "%s.gui_cpu_us_per_file=%.1f\n%s.engine_cpu_us_per_file=%.1f\n", p, g / 1000 / n, p, e / 1000 / n
        printf "%s.other_cpu_us_per_file=%.1f\n%s.cpu_us_per_file=%.1f\n", p, o / 1000 / n, p, (g + e + o) / 1000 / n
        printf "%s.gui_wakes_per_file=%.3f\n", p, w / n }'
}

echo "load_average=$(cut -d' ' -f1-3 /proc/loadavg | tr ' ' /)"
for pl in same:0:0 diff:0:1; do
    IFS=: read -r name scpu ccpu <<<"$pl"
    for server in window headless $([[ -n ${ROWCOST_INSIDE:-} ]] && echo dnsmasq); do
        run "$server" "$name" "$scpu" "$ccpu"
    done
done
