#!/usr/bin/env bash
# Benchmark: our server (headless and with the window), tftpd-hpa, dnsmasq and the
# lock-step limit, on loopback, in two CPU placements, 3 runs each.
#
#   bench/run.sh [--runs N] [--only NAME[,NAME...]] [--placements same,diff]
#                [--platform uring|epoll|qt[,...]]
#
# Builds a release build (build-release/), installs the peers from Debian's packages
# when missing, then re-runs itself inside a private network namespace (unshare -n):
# every server listens on that namespace's 127.0.0.1, so nothing can reach another
# host, and dnsmasq, which serves TFTP only on port 69, gets a port 69 of its own.
# Prints one name=value line per figure (median, with min and max over the runs),
# then the ratios. Not run by CI; takes about 10-15 minutes on two cores.
# "--platform" runs our server on that platform (VANTREL_PLATFORM); with several, each
# of ours_headless and ours_window runs once per platform, side by side in every run,
# its figures under NAME@PLATFORM.
# "--only relay" (not in the default set) measures the lossy test's relay instead:
# transfers to our headless server direct and through the relay without loss, the
# relay's CPU time, and 20 transfers at once through a 20 ms round trip.
# "--only rtt" (not in the default set) times one download through the relay at 0.5 ms
# and 20 ms round trip, plain and with blksize/windowsize, for ours, dnsmasq, atftpd and
# tftpd-hpa (run_rtt below; about 8 minutes a run).
# "--only scale" (not in the default set) holds 10, 1,000 and 10,000 transfers live at
# once on our headless server and on dnsmasq and times one download among them (run_scale
# below; VANTREL_SCALE_N="10 1000 10000" sets the numbers).
# "--only small" (not in the default set) times 1 KiB downloads from ours (window and
# headless) and from dnsmasq taking turns, with each server's CPU time per file (run_small below).
# "--only threads" (not in the default set) runs 100 streams of 1 KiB files against ours with
# the window and one engine thread, the same with two, and dnsmasq, server and client free
# to use both CPUs (run_threads below).
# "--only negotiated" (not in the default set) downloads with options on loopback: 16 MiB
# with blksize 1468 from ours (headless and window), dnsmasq, tftpd-hpa and atftpd, the
# same with windowsize 4, 16 and 64 from ours and atftpd, and 100 concurrent 2 MiB with
# blksize 1468 from all five (run_negotiated below; under a minute a run and placement).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VANTREL_BENCH_BUILD:-$ROOT/build-release}
RUNS=3
ONLY=limit,ours_headless,ours_window,tftpd_hpa,dnsmasq
PLACEMENTS=same,diff
PLATFORMS=${VANTREL_BENCH_PLATFORMS:-}
while [[ $# -gt 0 ]]; do
    case $1 in
    --runs) RUNS=$2; shift 2 ;;
    --only) ONLY=$2; shift 2 ;;
    --placements) PLACEMENTS=$2; shift 2 ;;
    --platform) PLATFORMS=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--only names] [--placements same,diff] [--platform names]" >&2; exit 2 ;;
    esac
done

if [[ -z ${VANTREL_BENCH_INSIDE:-} ]]; then
    if [[ $(id -u) -ne 0 ]]; then
        echo "bench: needs root (private network namespace, package installs)" >&2
        exit 1
    fi
    missing=()
    [[ -x /usr/sbin/in.tftpd ]] || missing+=(tftpd-hpa)
    command -v dnsmasq >/dev/null || missing+=(dnsmasq)
    command -v curl >/dev/null || missing+=(curl)
    if [[ ${#missing[@]} -gt 0 ]]; then
        # Keep the packages' services from starting: the benchmark starts its own.
        policy=/usr/sbin/policy-rc.d
        created_policy=
        if [[ ! -e $policy ]]; then
            printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod +x "$policy" && created_policy=1
        fi
        DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}" >/dev/null
        [[ -n $created_policy ]] && rm -f "$policy"
    fi
    # atftpd's package conflicts with tftpd-hpa's (both are /usr/sbin/in.tftpd): the rtt
    # and negotiated groups run atftpd from its package unpacked under the build folder,
    # never installed.
    if [[ (,$ONLY, == *,rtt,* || ,$ONLY, == *,negotiated,*) && ! -x $BUILD/peers/usr/sbin/atftpd ]]; then
        mkdir -p "$BUILD/peers"
        (cd "$BUILD/peers" && rm -f atftpd_*.deb && apt-get download atftpd >/dev/null &&
            dpkg-deb -x atftpd_*.deb .)
        DEBIAN_FRONTEND=noninteractive apt-get install -y libwrap0 libpcre2-8-0 >/dev/null
    fi
    echo "bench: building release build in $BUILD" >&2
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD" -j2 --target vantrel-server >/dev/null
    cmake -S "$ROOT/bench" -B "$BUILD/benchtools" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$BUILD/benchtools" -j2 >/dev/null
    exec unshare --net env VANTREL_BENCH_INSIDE=1 VANTREL_BENCH_BUILD="$BUILD" \
        VANTREL_BENCH_PLATFORMS="$PLATFORMS" "$0" \
        --runs "$RUNS" --only "$ONLY" --placements "$PLACEMENTS"
fi

# ---------------------------------------------------------------- inside the namespace
ip link set lo up
# tftpd-hpa resolves its address with AI_ADDRCONFIG, which wants one address besides
# 127/8 before it admits IPv4: a documentation address on this namespace's loopback.
ip addr add 192.0.2.1/32 dev lo
# The server hands out transfer ports from 29000 to 65000; keep this namespace's
# ephemeral ports (the clients' own) below that range so the two never collide.
sysctl -q -w net.ipv4.ip_local_port_range="10000 28999"
SERVER=$BUILD/app/vantrel-server
LOAD=$BUILD/benchtools/loadclient
LIMIT=$BUILD/benchtools/limit
HOLDER=$BUILD/benchtools/holder
ATFTPD=$BUILD/peers/usr/sbin/atftpd
WORK=$(mktemp -d /tmp/vantrel-bench.XXXXXX)
chmod 755 "$WORK"
RESULTS=$WORK/results.txt
: >"$RESULTS"
SERVER_PID=
ECHO_PID=
HOLDER_PID=

cleanup() {
    for pid in $SERVER_PID $ECHO_PID $HOLDER_PID; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# The same files for every server.
FILES=$WORK/files
mkdir -p "$FILES"
head -c $((16 * 1024 * 1024)) /dev/urandom >"$FILES/big16.bin"
head -c $((2 * 1024 * 1024)) /dev/urandom >"$FILES/mid2.bin"
head -c 1024 /dev/urandom >"$FILES/small1k.bin"
head -c 65536 /dev/urandom >"$FILES/mid64k.bin"

record() { echo "$1 $2 $3 $4" >>"$RESULTS"; } # placement server figure value

field() { sed -n "s/.*\b$1=\([0-9.]*\).*/\1/p"; }

# Server CPU seconds so far: own and reaped children's (tftpd-hpa forks per transfer).
cpu_seconds() {
    awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15 + $16 + $17) / hz }' "/proc/$1/stat"
}

# Proportional set of a process and its children, KiB.
pss_tree() {
    local total=0 p
    for p in $1 $(pgrep -P "$1" || true); do
        total=$((total + $(awk '/^Pss:/ { print $2 }' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)))
    done
    echo "$total"
}

wait_port() { # wait until something listens on UDP port $1 (15 s at most: a busy machine)
    for _ in $(seq 150); do
        ss -Hlun "sport = :$1" | grep -q . && return 0
        sleep 0.1
    done
    echo "bench: nothing listens on port $1" >&2
    return 1
}

# start_server NAME CPU [negotiate]: sets SERVER_PID, PORT and SERVE (the folder it
# serves). "negotiate": dnsmasq answers blksize too (our server, tftpd-hpa and atftpd
# negotiate in any case; the load client asks for options only when told to).
start_server() {
    local name=$1 cpu=$2 home=$WORK/$1 blksize=(--tftp-no-blocksize)
    [[ ${3:-} == negotiate ]] && blksize=()
    rm -rf "$home"
    mkdir -p "$home"
    case $name in
    ours_headless | ours_window)
        PORT=16969
        SERVE=$home/home/tftp
        mkdir -p "$SERVE" "$home/xdg" "$home/run"
        chmod 700 "$home/run"
        cp "$FILES"/* "$SERVE/"
        local args=(--headless)
        [[ $name == ours_window ]] && args=(--no-splash)
        if [[ -n ${ENGINE_THREADS:-} ]]; then
            mkdir -p "$home/xdg/Zelk TFTP Server"
            printf '[Limits]\nEngineThreads=%d\n' "$ENGINE_THREADS" \
                >"$home/xdg/Zelk TFTP Server/ZAZO_Dize.conf"
        fi
        # A runtime folder of its own: the window's single-instance guard lives there, and
        # a copy of ours started by anyone else on the machine would otherwise take the
        # window's start for a second copy (it exits, and nothing listens).
        HOME=$home/home XDG_CONFIG_HOME=$home/xdg XDG_RUNTIME_DIR=$home/run QT_QPA_PLATFORM=offscreen \
            taskset -c "$cpu" "$SERVER" "${args[@]}" --address 127.0.0.1 --port $PORT \
            >"$home/stdout" 2>"$home/stderr" &
        ;;
    tftpd_hpa)
        PORT=16970
        SERVE=$home/root
        mkdir -p "$SERVE" && chmod 777 "$SERVE"
        cp "$FILES"/* "$SERVE/" && chmod 644 "$SERVE"/*
        taskset -c "$cpu" /usr/sbin/in.tftpd -L -c -a 127.0.0.1:$PORT -s "$SERVE" &
        ;;
    dnsmasq)
        PORT=69 # dnsmasq serves TFTP on 69 only: the private namespace makes that fine
        SERVE=$home/root
        mkdir -p "$SERVE" && chmod 755 "$home" "$SERVE"
        cp "$FILES"/* "$SERVE/" && chmod 644 "$SERVE"/*
        taskset -c "$cpu" dnsmasq --no-daemon --conf-file=/dev/null --port=0 --enable-tftp \
            --tftp-root="$SERVE" --listen-address=127.0.0.1 --bind-interfaces --tftp-max=1000 \
            "${blksize[@]}" --quiet-tftp --pid-file= --log-facility="$home/log" \
            >"$home/stdout" 2>"$home/stderr" &
        ;;
    atftpd)
        PORT=16974
        SERVE=$home/root
        mkdir -p "$SERVE" && chmod 755 "$home" "$SERVE" # it serves as nobody
        cp "$FILES"/* "$SERVE/" && chmod 644 "$SERVE"/*
        : >"$home/log" && chmod 666 "$home/log" # and writes its log as nobody
        # A thread per transfer, 100 at most by default: room for 100 at once and then
        # some. No multicast (never asked for here); errors only in its log, as dnsmasq's
        # --quiet-tftp (its default logs every request).
        taskset -c "$cpu" "$ATFTPD" --daemon --no-fork --port $PORT --bind-address 127.0.0.1 \
            --maxthread 256 --no-multicast --verbose=3 --logfile "$home/log" "$SERVE" \
            >"$home/stdout" 2>"$home/stderr" &
        ;;
    limit)
        PORT=16971
        SERVE=$home/root
        mkdir -p "$SERVE"
        cp "$FILES"/* "$SERVE/"
        taskset -c "$cpu" "$LIMIT" pollserver $PORT "$SERVE" &
        ;;
    esac
    SERVER_PID=$!
    wait_port $PORT
}

stop_server() {
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
    SERVER_PID=
}

# load CPU ARGS...: runs the load client pinned, fails the benchmark on any bad transfer.
load() {
    local cpu=$1
    shift
    local out
    if ! out=$(taskset -c "$cpu" "$LOAD" --port "$PORT" --wall-limit 300 "$@"); then
        echo "bench: transfers failed: $out" >&2
        return 1
    fi
    echo "$out"
}

# The window is there when the program without --headless does not fall back to rows
# on standard output.
window_available() {
    start_server ours_window 0 || return 1
    "$LOAD" --port "$PORT" --mode get --file small1k.bin --expect "$FILES/small1k.bin" >/dev/null || true
    local rows
    rows=$(grep -c '^row' "$WORK/ours_window/stdout" || true)
    stop_server
    [[ $rows -eq 0 ]]
}

run_server() { # NAME[@PLATFORM] PLACEMENT SERVER_CPU CLIENT_CPU RUN
    local name=$1 pl=$2 scpu=$3 ccpu=$4 run=$5 out cpu0
    if [[ $name == *@* ]]; then
        VANTREL_PLATFORM=${name#*@} start_server "${name%@*}" "$scpu"
    else
        start_server "$name" "$scpu"
    fi
    cpu0=$(cpu_seconds "$SERVER_PID")

    out=$(load "$ccpu" --mode get --file big16.bin --expect "$FILES/big16.bin")
    record "$pl" "$name" get16_mib_s "$(field mib_per_s <<<"$out")"

    if [[ $name != dnsmasq ]]; then # dnsmasq's TFTP server is read-only
        out=$(load "$ccpu" --mode put --file "up$run-%d.bin" --expect "$FILES/big16.bin")
        cmp -s "$FILES/big16.bin" "$SERVE/up$run-0.bin" || { echo "bench: $name upload differs" >&2; return 1; }
        record "$pl" "$name" put16_mib_s "$(field mib_per_s <<<"$out")"
    fi

    out=$(load "$ccpu" --mode get --file small1k.bin --expect "$FILES/small1k.bin" --count 500)
    record "$pl" "$name" small1k_us_per_file "$(field us_per_transfer <<<"$out")"

    out=$(load "$ccpu" --mode get --file mid2.bin --expect "$FILES/mid2.bin" --count 20 --concurrency 20)
    record "$pl" "$name" c20_mib_s "$(field mib_per_s <<<"$out")"

    # Memory: the resident set before, the peak during 100 concurrent transfers.
    local rss0 hwm sampler=
    rss0=$(awk '/^VmRSS:/ { print $2 }' "/proc/$SERVER_PID/status")
    echo 5 >"/proc/$SERVER_PID/clear_refs" 2>/dev/null || true # resets the peak
    if [[ $name == tftpd_hpa ]]; then
        (peak=0; for _ in $(seq 600); do v=$(pss_tree "$SERVER_PID"); ((v > peak)) && peak=$v
            echo $peak >"$WORK/pss_peak"; sleep 0.05; done) &
        sampler=$!
    fi
    local c100cpu0
    c100cpu0=$(cpu_seconds "$SERVER_PID")
    out=$(load "$ccpu" --mode get --file mid2.bin --expect "$FILES/mid2.bin" --count 100 --concurrency 100)
    record "$pl" "$name" c100_mib_s "$(field mib_per_s <<<"$out")"
    # What one server thread carries: DATA blocks sent per second of its CPU (100 files
    # of 4,096 blocks and the empty last one).
    record "$pl" "$name" c100_kblocks_per_cpu_s "$(awk -v a="$(cpu_seconds "$SERVER_PID")" \
        -v b="$c100cpu0" 'BEGIN { printf "%.1f", (a > b ? 409.7 / (a - b) : 0) }')"
    if [[ -n $sampler ]]; then
        kill "$sampler" 2>/dev/null || true
        wait "$sampler" 2>/dev/null || true
        record "$pl" "$name" mem_pss_peak_kib "$(cat "$WORK/pss_peak")"
    elif [[ $name != limit ]]; then
        hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$SERVER_PID/status")
        record "$pl" "$name" mem_peak_kib "$hwm"
        record "$pl" "$name" mem_growth_kib_per_transfer "$(awk -v a="$hwm" -v b="$rss0" 'BEGIN { printf "%.1f", (a - b) / 100 }')"
    fi

    record "$pl" "$name" cpu_s "$(awk -v a="$(cpu_seconds "$SERVER_PID")" -v b="$cpu0" 'BEGIN { printf "%.3f", a - b }')"

    if [[ $run -eq 1 && $pl == same ]]; then # the outside check, once per server
        if curl --tftp-no-options -sS -o "$WORK/curl.bin" "tftp://127.0.0.1:$PORT/big16.bin" &&
            cmp -s "$WORK/curl.bin" "$FILES/big16.bin"; then
            record "$pl" "$name" curl_get16_ok 1
        else
            record "$pl" "$name" curl_get16_ok 0
        fi
    fi
    stop_server
}

run_limit_pingpong() { # PLACEMENT SERVER_CPU CLIENT_CPU
    taskset -c "$2" "$LIMIT" echo 16972 &
    ECHO_PID=$!
    wait_port 16972
    local out
    out=$(taskset -c "$3" "$LIMIT" ping 16972 32768) # 16 MiB in 512-byte blocks
    record "$1" lockstep us_per_round_trip "$(field us_per_round_trip <<<"$out")"
    record "$1" lockstep mib_s "$(field mib_per_s <<<"$out")"
    kill "$ECHO_PID"
    wait "$ECHO_PID" 2>/dev/null || true
    ECHO_PID=
}

# The relay (bench/relay.cpp) in front of our headless server, pinned with the client.
run_relay() { # PLACEMENT SERVER_CPU CLIENT_CPU
    local pl=$1 scpu=$2 ccpu=$3 direct relay_pid out cpu0 port=16973
    start_server ours_headless "$scpu"
    direct=$PORT
    start_relay() {
        taskset -c "$ccpu" "$BUILD/benchtools/relay" --listen 127.0.0.1:$port \
            --server 127.0.0.1:$direct "$@" 2>/dev/null &
        relay_pid=$!
        wait_port $port
    }
    stop_relay() { kill "$relay_pid"; wait "$relay_pid" 2>/dev/null || true; }

    out=$(load "$ccpu" --mode get --file big16.bin --expect "$FILES/big16.bin")
    record "$pl" relay_direct get16_mib_s "$(field mib_per_s <<<"$out")"
    out=$(load "$ccpu" --mode get --file mid2.bin --expect "$FILES/mid2.bin" --count 20 --concurrency 20)
    record "$pl" relay_direct c20_mib_s "$(field mib_per_s <<<"$out")"

    start_relay
    cpu0=$(cpu_seconds "$relay_pid")
    PORT=$port
    out=$(load "$ccpu" --mode get --file big16.bin --expect "$FILES/big16.bin")
    record "$pl" relay get16_mib_s "$(field mib_per_s <<<"$out")"
    out=$(load "$ccpu" --mode get --file mid2.bin --expect "$FILES/mid2.bin" --count 20 --concurrency 20)
    record "$pl" relay c20_mib_s "$(field mib_per_s <<<"$out")"
    record "$pl" relay cpu_s "$(awk -v a="$(cpu_seconds "$relay_pid")" -v b="$cpu0" 'BEGIN { printf "%.3f", a - b }')"
    stop_relay

    # 10 ms each way: 20 lock-step transfers of 129 blocks at once. With the packets in
    # flight overlapping, the whole takes about one transfer's 129 round trips.
    start_relay --delay-ms 10
    out=$(load "$ccpu" --mode get --file mid64k.bin --expect "$FILES/mid64k.bin" --count 20 --concurrency 20)
    record "$pl" relay_delay10 ms_per_round_trip "$(awk -v s="$(field seconds <<<"$out")" 'BEGIN { printf "%.2f", s * 1000 / 129 }')"
    stop_relay
    stop_server
}

# ---------------------------------------------------------------- scale (--only scale)
# N live transfers at once: N-1 idle downloads held by bench/holder.cpp (RRQ, DATA 1,
# then silence) and one download in lock-step among them, timed: time per block, the
# server's CPU per block, and its resident set with none and with the N-1 held, as growth
# per held transfer. A fresh server for every N, warmed up by one whole download first.
SCALE_N=${VANTREL_SCALE_N:-10 1000 10000}
SCALE_PORT_FIRST=30000 # our server's transfer ports (Protocol/PortFirst..PortLast):
SCALE_PORT_LAST=59999  # above the namespace's ephemeral ports, room for every N

# On-CPU time of all of a process's threads, ns: the scheduler's own count, finer than
# the clock ticks of /proc/PID/stat (10 ms, a tenth of a short stream's CPU time).
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%.0f", s }'; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
fd_count() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l; }

# Descriptors: a held download keeps its socket and its open file, two descriptors in
# our server. The hard limit is raised as far as that needs where that is allowed
# (root with CAP_SYS_RESOURCE); where it is not (a container), the held transfers ask
# for a one-block file instead: the server closes that file after DATA 1 while the
# transfer waits for the ACK of that last block, live as any other (its socket, timer
# and bookkeeping), with one descriptor. Sets SCALE_MOST and SCALE_HOLD.
scale_limits() {
    local n need hard
    SCALE_MOST=0
    for n in $SCALE_N; do ((n > SCALE_MOST)) && SCALE_MOST=$n; done
    need=$((2 * SCALE_MOST + 256))
    hard=$(ulimit -Hn)
    [[ $hard == unlimited || $hard -ge $need ]] || ulimit -Hn "$need" 2>/dev/null || true
    hard=$(ulimit -Hn)
    ulimit -n "$hard"
    head -c $((256 * 1024)) /dev/urandom >"$FILES/mid256k.bin"
    if [[ $hard == unlimited || $hard -ge $need ]]; then
        SCALE_HOLD=big16.bin
    elif ((hard >= SCALE_MOST + 256)); then
        SCALE_HOLD=hold.bin
        head -c 100 /dev/urandom >"$FILES/hold.bin"
    else
        echo "bench: descriptor limit $hard is too low for $SCALE_MOST transfers" >&2
        return 1
    fi
    echo "scale.descriptor_limit=$hard"
    echo "scale.held_file=$SCALE_HOLD"
}

# start_scale_server NAME CPU: as start_server, with the limits the numbers need.
start_scale_server() {
    local name=$1 cpu=$2 home=$WORK/scale-$1
    rm -rf "$home"
    mkdir -p "$home/root"
    chmod 755 "$home" "$home/root"
    SERVE=$home/root
    cp "$FILES"/* "$SERVE/" && chmod 644 "$SERVE"/*
    case $name in
    ours_headless)
        PORT=16969
        # TimeOut 60: the held transfers see no resend, let alone a give-up, during the
        # measurement. No limit per client; the total above the largest N.
        printf '[WorkingDir]\nDirName=%s\nTimeOut=60\nSoundOn=0\n[Limits]\nMaxTransfers=%d\nMaxTransfersPerClient=0\n[Protocol]\nPortFirst=%d\nPortLast=%d\n' \
            "$SERVE" $((SCALE_MOST + 64)) $SCALE_PORT_FIRST $SCALE_PORT_LAST >"$home/settings.ini"
        HOME=$home XDG_CONFIG_HOME=$home/xdg taskset -c "$cpu" "$SERVER" --headless \
            --settings "$home/settings.ini" --address 127.0.0.1 --port $PORT \
            >"$home/stdout" 2>"$home/stderr" &
        ;;
    dnsmasq)
        # Its time-out is its own (DATA 1 again after a few seconds): the held transfers
        # answer nothing and stay live for as long as it keeps trying; checked below.
        PORT=69
        taskset -c "$cpu" dnsmasq --no-daemon --conf-file=/dev/null --port=0 --enable-tftp \
            --tftp-root="$SERVE" --listen-address=127.0.0.1 --bind-interfaces \
            --tftp-max=$((SCALE_MOST + 64)) --tftp-no-blocksize --quiet-tftp --pid-file= \
            --log-facility="$home/log" >"$home/stdout" 2>"$home/stderr" &
        ;;
    esac
    SERVER_PID=$!
    wait_port $PORT
}

# Our server must hold every N; a peer that cannot is reported, without figures.
scale_not_held() { # NAME N WHY...
    local name=$1 n=$2
    shift 2
    stop_server
    if [[ $name == ours_headless ]]; then
        echo "bench: $name, $n live: $*" >&2
        return 1
    fi
    echo "scale.$name.scale$n=not held: $*"
}

run_scale_one() { # NAME PLACEMENT SERVER_CPU CLIENT_CPU N
    local name=$1 pl=$2 scpu=$3 ccpu=$4 n=$5 held=$(($5 - 1)) stream blocks out hp rc
    local rss0 rssn fds0 fdsn fdsend cpu0 cpu1 live
    start_scale_server "$name" "$scpu"
    # dnsmasq's time per block grows with the number of transfers (16 MiB among 1,000
    # take 9 s), and it ends a silent transfer after some 30 s, while 10,000 requests
    # take it 15 to 20 s to admit: it streams 2 MiB, and 256 KiB above 1,000, to be done
    # before the first held ones expire. The figures are per block.
    stream=big16.bin
    if [[ $name == dnsmasq ]]; then
        stream=mid2.bin
        ((n > 1000)) && stream=mid256k.bin
    fi
    blocks=$(($(stat -c %s "$FILES/$stream") / 512 + 1))
    load "$ccpu" --mode get --file "$stream" --expect "$FILES/$stream" >/dev/null
    rss0=$(rss_kib "$SERVER_PID")
    fds0=$(fd_count "$SERVER_PID")

    : >"$WORK/holder.out"
    taskset -c "$ccpu" "$HOLDER" --port "$PORT" --file "$SCALE_HOLD" --count "$held" \
        --wall-limit 240 >"$WORK/holder.out" 2>"$WORK/holder.err" &
    hp=$!
    HOLDER_PID=$hp
    for _ in $(seq 2500); do # 250 s at most
        grep -q '^live=' "$WORK/holder.out" && break
        kill -0 "$hp" 2>/dev/null || break
        sleep 0.1
    done
    live=$(field live <"$WORK/holder.out")
    if [[ $live != "$held" ]]; then
        kill "$hp" 2>/dev/null || true
        wait "$hp" 2>/dev/null || true
        scale_not_held "$name" "$n" "${live:-no} transfers of $held live: $(head -3 "$WORK/holder.err")"
        return
    fi
    rssn=$(rss_kib "$SERVER_PID")
    fdsn=$(fd_count "$SERVER_PID")

    cpu0=$(cpu_ns "$SERVER_PID")
    out=$(load "$ccpu" --mode get --file "$stream" --expect "$FILES/$stream")
    cpu1=$(cpu_ns "$SERVER_PID")
    fdsend=$(fd_count "$SERVER_PID")
    kill -USR1 "$hp"
    rc=0
    wait "$hp" || rc=$?
    HOLDER_PID=
    # Live to the end: no ERROR came to a held transfer (the holder's exit status), and
    # the server still had a socket for each (dnsmasq gives up without a word).
    if ((rc != 0 || fdsend - fds0 < held)); then
        scale_not_held "$name" "$n" "held transfers ended during the measurement" \
            "($(tail -1 "$WORK/holder.out"), descriptors $fds0 -> $fdsn -> $fdsend)"
        return
    fi
    record "$pl" "$name" "scale$n.us_per_block" \
        "$(awk -v s="$(field seconds <<<"$out")" -v b=$blocks 'BEGIN { printf "%.3f", s * 1e6 / b }')"
    record "$pl" "$name" "scale$n.cpu_us_per_block" \
        "$(awk -v a="$cpu1" -v b="$cpu0" -v k=$blocks 'BEGIN { printf "%.3f", (a - b) / 1000 / k }')"
    record "$pl" "$name" "scale$n.rss_kib" "$rssn"
    record "$pl" "$name" "scale$n.growth_kib_per_transfer" \
        "$(awk -v a="$rssn" -v b="$rss0" -v k=$held 'BEGIN { printf "%.2f", (a - b) / k }')"
    record "$pl" "$name" "scale$n.setup_s" "$(field seconds <"$WORK/holder.out")"
    stop_server
}

run_scale() { # PLACEMENT SERVER_CPU CLIENT_CPU
    local name n
    for name in ours_headless dnsmasq; do
        for n in $SCALE_N; do
            echo "bench: scale, $1 CPU, $name, $n live" >&2
            run_scale_one "$name" "$1" "$2" "$3" "$n"
        done
    done
}

# ---------------------------------------------------------------- round trip (--only rtt)
# One download per setting through the relay, no loss, at 0.5 ms (--delay-ms 0.25) and
# 20 ms (--delay-ms 10) round trip: plain RFC 1350, blksize 1428, and blksize 1428 with
# windowsize 16 and 64. The relay has CPU 1 to itself; server and client share CPU 0.
# 16 MiB each, except plain and blksize-only at 20 ms (11 and 4 minutes for 16 MiB):
# 1 MiB there, which changes MiB/s little at that many round trips per file.
# A setting a peer cannot negotiate is n/a: dnsmasq (2.90) and tftpd-hpa have no
# windowsize.
RTT_SETTINGS="plain b1428 w16 w64"
rtt_args() {
    case $1 in
    plain) ;;
    b1428) echo --blksize 1428 ;;
    w16) echo --blksize 1428 --windowsize 16 ;;
    w64) echo --blksize 1428 --windowsize 64 ;;
    esac
}
rtt_supported() { # SERVER SETTING
    [[ $2 != w* || $1 == ours || $1 == atftpd ]]
}

start_rtt_server() { # NAME: sets SERVER_PID, PORT
    local name=$1 home=$WORK/rtt-$1
    rm -rf "$home"
    mkdir -p "$home"
    chmod 755 "$home"
    case $name in
    ours)
        PORT=16969
        mkdir -p "$home/home/tftp" "$home/xdg/Zelk TFTP Server"
        cp "$FILES/big16.bin" "$FILES/rtt1m.bin" "$home/home/tftp/"
        printf '[WorkingDir]\nSoundOn=0\n[Protocol]\nNegotiate=1\nMaxWindowSize=64\n' \
            >"$home/xdg/Zelk TFTP Server/ZAZO_Dize.conf"
        HOME=$home/home XDG_CONFIG_HOME=$home/xdg taskset -c 0 "$SERVER" --headless \
            --address 127.0.0.1 --port $PORT >"$home/stdout" 2>"$home/stderr" &
        ;;
    dnsmasq)
        PORT=69
        mkdir -p "$home/root" && cp "$FILES/big16.bin" "$FILES/rtt1m.bin" "$home/root/"
        chmod 644 "$home"/root/*
        taskset -c 0 dnsmasq --no-daemon --conf-file=/dev/null --port=0 --enable-tftp \
            --tftp-root="$home/root" --listen-address=127.0.0.1 --bind-interfaces \
            --quiet-tftp --pid-file= --log-facility="$home/log" >"$home/stdout" 2>&1 &
        ;;
    atftpd)
        PORT=16974
        mkdir -p "$home/root" && cp "$FILES/big16.bin" "$FILES/rtt1m.bin" "$home/root/"
        chmod 644 "$home"/root/*
        taskset -c 0 "$ATFTPD" --daemon --no-fork --port $PORT \
            --bind-address 127.0.0.1 --logfile "$home/log" "$home/root" >"$home/stdout" 2>&1 &
        ;;
    tftpd_hpa)
        PORT=16970
        mkdir -p "$home/root" && cp "$FILES/big16.bin" "$FILES/rtt1m.bin" "$home/root/"
        chmod 644 "$home"/root/*
        taskset -c 0 /usr/sbin/in.tftpd -L -a 127.0.0.1:$PORT -s "$home/root" &
        ;;
    esac
    SERVER_PID=$!
    wait_port $PORT
}

run_rtt() {
    local rtt delay name setting file relay_pid out cpu0 relay_port=16980 direct
    head -c $((1024 * 1024)) /dev/urandom >"$FILES/rtt1m.bin"
    for name in ours dnsmasq atftpd tftpd_hpa; do
        start_rtt_server "$name"
        direct=$PORT
        for rtt in 0.5 20; do
            delay=$(awk -v r="$rtt" 'BEGIN { print r / 2 }')
            taskset -c 1 "$BUILD/benchtools/relay" --listen 127.0.0.1:$relay_port \
                --server 127.0.0.1:$direct --delay-ms "$delay" 2>/dev/null &
            relay_pid=$!
            wait_port $relay_port
            for setting in $RTT_SETTINGS; do
                rtt_supported "$name" "$setting" || continue
                file=big16.bin
                [[ $rtt == 20 && ($setting == plain || $setting == b1428) ]] && file=rtt1m.bin
                echo "bench: rtt ${rtt} ms, $name, $setting ($file)" >&2
                cpu0=$(cpu_seconds "$relay_pid")
                # shellcheck disable=SC2046
                out=$(PORT=$relay_port load 0 --mode get --file "$file" --expect "$FILES/$file" \
                    $(rtt_args "$setting"))
                record "rtt${rtt}ms" "$name" "${setting}_mib_s" "$(field mib_per_s <<<"$out")"
                record "rtt${rtt}ms" relay "${name}_${setting}_cpu_pct" "$(awk \
                    -v a="$(cpu_seconds "$relay_pid")" -v b="$cpu0" -v s="$(field seconds <<<"$out")" \
                    'BEGIN { printf "%.1f", (a - b) / s * 100 }')"
            done
            kill "$relay_pid"
            wait "$relay_pid" 2>/dev/null || true
        done
        stop_server
    done
}

# The table of run_rtt's medians, the ratios and the targets.
rtt_table() {
    python3 - "$RESULTS" <<'PY'
import statistics, sys
from collections import defaultdict
v = defaultdict(list)
for line in open(sys.argv[1]):
    pl, server, fig, val = line.split()
    if pl.startswith("rtt") and server != "relay":
        v[(pl, server, fig[:-6])].append(float(val))
med = {k: statistics.median(x) for k, x in v.items()}
servers = ["ours", "dnsmasq", "atftpd", "tftpd_hpa"]
settings = ["plain", "b1428", "w16", "w64"]
print("rtt table (MiB/s, median of runs; n/a: not negotiable with that server)")
print("| round trip | setting | " + " | ".join(servers) + " |")
print("|---|---|" + "---|" * len(servers))
for pl in ["rtt0.5ms", "rtt20ms"]:
    for s in settings:
        cells = [f"{med[(pl, n, s)]:.3g}" if (pl, n, s) in med else "n/a" for n in servers]
        print(f"| {pl[3:]} | {s} | " + " | ".join(cells) + " |")
for pl in ["rtt0.5ms", "rtt20ms"]:
    for s in settings:
        ours = med.get((pl, "ours", s))
        peers = [med[(pl, n, s)] for n in servers[1:] if (pl, n, s) in med]
        if ours is not None and peers:
            print(f"{pl}.{s}.ours_ratio_to_best_peer={ours / max(peers):.3f}")
            print(f"target.{pl}.{s}.ours_at_least_best_peer="
                  f"{'met' if ours >= max(peers) else 'missed'}")
w64, plain = med.get(("rtt0.5ms", "ours", "w64")), med.get(("rtt0.5ms", "ours", "plain"))
if w64 and plain:
    print(f"rtt0.5ms.ours.w64_ratio_to_plain={w64 / plain:.1f}")
    print(f"target.rtt0.5ms.ours.w64_at_least_30x_plain={'met' if w64 >= 30 * plain else 'missed'}")
PY
}

# ---------------------------------------------------------------- negotiated (--only negotiated)
# Downloads with the options netboot firmware asks for, on this namespace's loopback, a
# fresh server of each kind per run and placement: 16 MiB with blksize 1468 (UEFI, iPXE,
# U-Boot), the same with windowsize 4 (edk2), 16 and 64 from the servers that have
# windowsize (ours and atftpd; dnsmasq and tftpd-hpa would answer blksize alone, which is
# the first figure again), and 100 concurrent 2 MiB with blksize 1468. The load client
# reports the smallest block size and window a transfer ran with: anything less than
# asked is no figure for that setting.
NEG_WINDOWS="4 16 64"

# neg_load NAME PLACEMENT CLIENT_CPU FIGURE BLKSIZE WINDOWSIZE LOAD_ARGS...: records
# FIGURE (MiB/s). A peer whose transfers fail or that grants less gets a line saying so
# instead; ours must pass.
neg_load() {
    local name=$1 pl=$2 ccpu=$3 fig=$4 bs=$5 ws=$6 out why=
    shift 6
    local opts=(--blksize "$bs")
    ((ws > 1)) && opts+=(--windowsize "$ws")
    if ! out=$(load "$ccpu" "${opts[@]}" "$@"); then
        why="transfers failed"
    elif [[ $(field blksize <<<"$out") != "$bs" || $(field windowsize <<<"$out") != "$ws" ]]; then
        why="granted blksize $(field blksize <<<"$out") windowsize $(field windowsize <<<"$out")"
    else
        record "$pl" "$name" "$fig" "$(field mib_per_s <<<"$out")"
        return 0
    fi
    if [[ $name == ours_* ]]; then
        echo "bench: $name, $fig: $why" >&2
        return 1
    fi
    echo "negotiated.$pl.$name.$fig=no figure: $why"
}

run_negotiated() { # PLACEMENT SERVER_CPU CLIENT_CPU SERVER...
    local pl=$1 scpu=$2 ccpu=$3 name ws
    shift 3
    for name in "$@"; do
        echo "bench: negotiated, $pl CPU, $name" >&2
        start_server "$name" "$scpu" negotiate
        neg_load "$name" "$pl" "$ccpu" b1468_get16_mib_s 1468 1 \
            --mode get --file big16.bin --expect "$FILES/big16.bin"
        if [[ $name == ours_* || $name == atftpd ]]; then
            for ws in $NEG_WINDOWS; do
                neg_load "$name" "$pl" "$ccpu" "b1468_w${ws}_get16_mib_s" 1468 "$ws" \
                    --mode get --file big16.bin --expect "$FILES/big16.bin"
            done
        fi
        neg_load "$name" "$pl" "$ccpu" b1468_c100_mib_s 1468 1 \
            --mode get --file mid2.bin --expect "$FILES/mid2.bin" --count 100 --concurrency 100
        stop_server
    done
}

# ------------------------------------------------------------- small files (--only small)
# 1 KiB downloads one after another from our server with the window, headless (where
# the window's share shows) and from dnsmasq, taking turns within each run (the window
# first in odd runs, dnsmasq first in even ones), so that the machine's load drifts over both alike: time per file, the server's
# on-CPU time per file (all its threads, user and system) and, per run, ours over
# dnsmasq's time of that same run. A fresh server for each, warmed up by 50 files.
SMALL_COUNT=${VANTREL_SMALL_COUNT:-2000}
run_small() { # PLACEMENT SERVER_CPU CLIENT_CPU RUN
    local pl=$1 scpu=$2 ccpu=$3 run=$4 name out c0 us ours= theirs=
    local order=(ours_window ours_headless dnsmasq)
    ((run % 2 == 0)) && order=(dnsmasq ours_headless ours_window)
    for name in "${order[@]}"; do
        start_server "$name" "$scpu"
        load "$ccpu" --mode get --file small1k.bin --expect "$FILES/small1k.bin" --count 50 >/dev/null
        c0=$(cpu_ns "$SERVER_PID")
        out=$(load "$ccpu" --mode get --file small1k.bin --expect "$FILES/small1k.bin" --count "$SMALL_COUNT")
        us=$(field us_per_transfer <<<"$out")
        record "$pl" "$name" small1k_us_per_file "$us"
        record "$pl" "$name" small1k_cpu_us_per_file "$(awk -v a="$(cpu_ns "$SERVER_PID")" -v b="$c0" \
            -v n="$SMALL_COUNT" 'BEGIN { printf "%.2f", (a - b) / 1000 / n }')"
        [[ $name == dnsmasq ]] && theirs=$us
        [[ $name == ours_window ]] && ours=$us
        stop_server
    done
    record "$pl" ours_window small1k_time_ratio_in_run "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.4f", a / b }')"
}

# ---------------------------------------------------------- engine threads (--only threads)
# 100 streams at once of 1 KiB downloads, window open, server and client free to use both
# CPUs: ours with one engine thread, ours with two (each its own socket on the port,
# SO_REUSEPORT), dnsmasq; taking turns within each run, a fresh server each, warmed up.
# Files per second, the server's on-CPU time per file, its thread count (so a setting
# not taken would show), and per run the ratios two threads to one and to dnsmasq.
THREADS_COUNT=${VANTREL_THREADS_COUNT:-20000}
run_threads() { # RUN
    local run=$1 entry name n out c0 secs fps ones= twos= theirs=
    local order=(ours_window:1 ours_window:2 dnsmasq:)
    ((run % 2 == 0)) && order=(dnsmasq: ours_window:2 ours_window:1)
    for entry in "${order[@]}"; do
        name=${entry%:*} n=${entry#*:}
        ENGINE_THREADS=$n start_server "$name" 0,1
        load 0,1 --mode get --file small1k.bin --expect "$FILES/small1k.bin" --count 500 \
            --concurrency 100 >/dev/null
        c0=$(cpu_ns "$SERVER_PID")
        out=$(load 0,1 --mode get --file small1k.bin --expect "$FILES/small1k.bin" \
            --count "$THREADS_COUNT" --concurrency 100)
        secs=$(field seconds <<<"$out")
        fps=$(awk -v n="$THREADS_COUNT" -v s="$secs" 'BEGIN { printf "%.1f", n / s }')
        local label=$name${n:+_${n}t}
        record both "$label" files_per_s "$fps"
        record both "$label" cpu_us_per_file "$(awk -v a="$(cpu_ns "$SERVER_PID")" -v b="$c0" \
            -v n="$THREADS_COUNT" 'BEGIN { printf "%.2f", (a - b) / 1000 / n }')"
        record both "$label" tasks "$(find "/proc/$SERVER_PID/task" -mindepth 1 -maxdepth 1 | wc -l)"
        case $label in
        ours_window_1t) ones=$fps ;;
        ours_window_2t) twos=$fps ;;
        dnsmasq) theirs=$fps ;;
        esac
        stop_server
    done
    record both ours_window_2t files_ratio_to_1t_in_run "$(awk -v a="$twos" -v b="$ones" 'BEGIN { printf "%.4f", a / b }')"
    record both ours_window_2t files_ratio_to_dnsmasq_in_run "$(awk -v a="$twos" -v b="$theirs" 'BEGIN { printf "%.4f", a / b }')"
    record both ours_window_1t files_ratio_to_dnsmasq_in_run "$(awk -v a="$ones" -v b="$theirs" 'BEGIN { printf "%.4f", a / b }')"
}

servers=()
rtt=
scale=
threads=
small=
negotiated=()
IFS=, read -r -a wanted <<<"$ONLY"
for s in "${wanted[@]}"; do
    [[ $s == rtt ]] && { rtt=1; continue; }
    [[ $s == scale ]] && { scale=1; continue; }
    [[ $s == small ]] && { small=1; continue; }
    [[ $s == threads ]] && { threads=1; continue; }
    if [[ $s == negotiated ]]; then
        negotiated=(ours_headless ours_window dnsmasq tftpd_hpa atftpd)
        if ! window_available; then
            echo "ours_window=absent (this build has no window; figures for it are skipped)"
            negotiated=(ours_headless dnsmasq tftpd_hpa atftpd)
        fi
        continue
    fi
    if [[ $s == ours_window ]] && ! window_available; then
        echo "ours_window=absent (this build has no window; figures for it are skipped)"
        continue
    fi
    if [[ $s == ours_* && $PLATFORMS == *,* ]]; then
        IFS=, read -r -a each <<<"$PLATFORMS"
        for p in "${each[@]}"; do servers+=("$s@$p"); done
    else
        servers+=("$s")
    fi
done
[[ -n $PLATFORMS && $PLATFORMS != *,* ]] && export VANTREL_PLATFORM=$PLATFORMS

IFS=, read -r -a placements <<<"$PLACEMENTS"
for run in $(seq "$RUNS"); do
    for pl in "${placements[@]}"; do
        ((${#servers[@]} > 0)) || continue # --only rtt, scale or negotiated
        ccpu=0
        [[ $pl == diff ]] && ccpu=1
        run_limit_pingpong "$pl" 0 "$ccpu"
        for s in "${servers[@]}"; do
            echo "bench: run $run, $pl CPU, $s" >&2
            if [[ $s == relay ]]; then
                run_relay "$pl" 0 "$ccpu"
            else
                run_server "$s" "$pl" 0 "$ccpu" "$run"
            fi
        done
    done
done

if [[ -n $scale ]]; then
    scale_limits
    for run in $(seq "$RUNS"); do
        for pl in "${placements[@]}"; do
            ccpu=0
            [[ $pl == diff ]] && ccpu=1
            echo "bench: run $run, $pl CPU, scale" >&2
            run_scale "$pl" 0 "$ccpu"
        done
    done
fi

if [[ -n $small ]]; then
    for run in $(seq "$RUNS"); do
        for pl in "${placements[@]}"; do
            ccpu=0
            [[ $pl == diff ]] && ccpu=1
            echo "bench: run $run, $pl CPU, small" >&2
            run_small "$pl" 0 "$ccpu" "$run"
        done
    done
fi

if [[ -n $threads ]]; then
    for run in $(seq "$RUNS"); do
        echo "bench: run $run, threads" >&2
        run_threads "$run"
    done
fi

if ((${#negotiated[@]} > 0)); then
    for run in $(seq "$RUNS"); do
        for pl in "${placements[@]}"; do
            ccpu=0
            [[ $pl == diff ]] && ccpu=1
            echo "bench: run $run, $pl CPU, negotiated" >&2
            run_negotiated "$pl" 0 "$ccpu" "${negotiated[@]}"
        done
    done
fi

if [[ -n $rtt ]]; then
    for run in $(seq "$RUNS"); do
        echo "bench: run $run, rtt" >&2
        run_rtt
    done
fi

python3 "$ROOT/bench/summary.py" "$RESULTS"
[[ -z $rtt ]] || rtt_table
