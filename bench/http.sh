#!/usr/bin/env bash
# HTTP benchmark: a 1 GiB download on loopback from our server (libmicrohttpd, sendfile),
# from nginx (sendfile on) and from Qt HTTP Server 6.4 (QHttpServerResponse::fromFile),
# 3 runs each with curl -o /dev/null. Prints MB/s per run and their median, each
# server's peak resident memory (VmHWM) and its growth over the idle server, then our
# throughput as a share of nginx's. Runs itself in a private network namespace
# (unshare -n): everything listens on that namespace's 127.0.0.1 only.
#   bench/http.sh [path/to/vantrel-server]     (default: build/app/vantrel-server)
# Not run by CI. Needs nginx-light, qt6-httpserver-dev, curl; about 2 minutes.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SERVER=${1:-$ROOT/build/app/vantrel-server}
RUNS=${VANTREL_HTTP_RUNS:-3}
if [ -z "${VANTREL_HTTP_NS:-}" ]; then
    exec env VANTREL_HTTP_NS=1 unshare -n bash "$0" "$SERVER"
fi
ip link set lo up
command -v nginx >/dev/null || { echo "nginx missing: apt-get install nginx-light"; exit 1; }
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root" "$work/home" "$work/xdg"
head -c $((1024 * 1024 * 1024)) /dev/urandom >"$work/root/big.bin"
cat "$work/root/big.bin" >/dev/null # in the page cache for every server alike

hwm() { awk '/^VmHWM/ {print $2}' "/proc/$1/status"; }   # KiB
rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
wait_port() { # port
    for _ in $(seq 1 100); do
        curl -s -o /dev/null -I "http://127.0.0.1:$1/big.bin" && return 0
        sleep 0.1
    done
    return 1
}
measure() { # name pid port
    local name=$1 pid=$2 port=$3 speeds=() idle
    wait_port "$port" || { echo "$name did not start"; return 1; }
    idle=$(rss "$pid")
    for run in $(seq 1 "$RUNS"); do
        local s
        s=$(curl -s -o /dev/null -w '%{speed_download}' "http://127.0.0.1:$port/big.bin")
        speeds+=("$(awk -v s="$s" 'BEGIN {printf "%.0f", s / 1e6}')")
    done
    local median
    median=$(printf '%s\n' "${speeds[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
    local peak
    peak=$(hwm "$pid")
    echo "$name: runs ${speeds[*]} MB/s, median $median MB/s; max RSS $((peak / 1024)) MiB" \
         "(idle $((idle / 1024)) MiB, +$(((peak - idle) / 1024)) MiB while serving)"
    eval "${name}_mbs=$median"
}

# nginx by hand: one process, its own files in the temp folder, 127.0.0.1 only.
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path $work/nginx;
    proxy_temp_path $work/nginx;
    fastcgi_temp_path $work/nginx;
    uwsgi_temp_path $work/nginx;
    scgi_temp_path $work/nginx;
    server { listen 127.0.0.1:18081; root $work/root; }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)
measure nginx $! 18081
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

# Ours, headless, with HTTP on.
cat >"$work/settings.ini" <<CONF
[WorkingDir]
DirName=$work/root
SoundOn=0
[Http]
Enabled=1
Port=18082
CONF
HOME=$work/home XDG_CONFIG_HOME=$work/xdg "$SERVER" --headless --address 127.0.0.1 \
    --port 18069 --settings "$work/settings.ini" >"$work/ours.log" 2>&1 &
pids+=($!)
measure ours $! 18082
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

# Qt HTTP Server 6.4, when its development files are there (its pkg-config file asks
# for QtWebSockets' one, which Debian leaves out: the include folders by hand).
qt=/usr/include/$(gcc -print-multiarch)/qt6
if [ -f "$qt/QtHttpServer/QHttpServer" ]; then
    g++ -std=c++20 -O2 -fPIC -o "$work/qthttp" "$ROOT/bench/qthttp.cpp" -I"$qt" \
        -I"$qt/QtCore" -I"$qt/QtNetwork" -I"$qt/QtHttpServer" -lQt6HttpServer -lQt6Network \
        -lQt6Core
    "$work/qthttp" "$work/root" 18083 &
    pids+=($!)
    measure qthttpserver $! 18083 || true
    kill "${pids[-1]}" 2>/dev/null; wait "${pids[-1]}" 2>/dev/null || true
fi

awk -v o="$ours_mbs" -v n="$nginx_mbs" 'BEGIN {printf "ours/nginx throughput: %.2f\n", o / n}'
