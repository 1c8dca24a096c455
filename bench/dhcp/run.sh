#!/usr/bin/env bash
# DHCP pace: perfdhcp (Kea's load tool, as a relay of 200 simulated clients) against our
# headless server and against dnsmasq, one after the other in the same run, each in a
# private network namespace pair (server in one, perfdhcp in the other, a veth between,
# 198.51.100.0/24). Server and load tool are pinned to different cores. For each
# offered rate it prints what perfdhcp counts: exchanges sent, answered and dropped.
# dnsmasq runs with --no-ping: ours sends no ping before an offer either, and with it
# dnsmasq answered 2 exchanges of thousands here (the ping waits hold every offer).
#   run.sh SERVER_BIN [RATES...]     (root; default rates 250 500 1000 2000)
#   LEASES=tmpfs: both lease files in /dev/shm (CPU per exchange without the disk);
#   PERF=FILE: perf record of our server during each run, to FILE.RATE;
#   VERBOSE=1: perfdhcp's whole report.
set -u
server=$(readlink -f "$1")
shift
rates=${*:-250 500 1000 2000}
[ "$(id -u)" -eq 0 ] || { echo "needs root (namespaces, port 67)"; exit 77; }
for tool in perfdhcp dnsmasq ip taskset; do
    command -v $tool >/dev/null || { echo "$tool is missing"; exit 77; }
done
if [ "${LEASES:-disk}" = tmpfs ]; then
    work=$(mktemp -d /dev/shm/dhcpbench.XXXXXX)
else
    work=$(mktemp -d /var/tmp/dhcpbench.XXXXXX)
fi
ns_s=vtbench-srv-$$ ns_c=vtbench-cli-$$
cleanup() {
    [ -n "${spid:-}" ] && kill "$spid" 2>/dev/null
    ip netns del "$ns_s" 2>/dev/null
    ip netns del "$ns_c" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$ns_s" && ip netns add "$ns_c" || exit 1
ip link add vbs0 netns "$ns_s" type veth peer name vbc0 netns "$ns_c" || exit 1
ip -n "$ns_s" addr add 198.51.100.1/24 dev vbs0
ip -n "$ns_c" addr add 198.51.100.254/24 dev vbc0
for ns in "$ns_s" "$ns_c"; do ip -n "$ns" link set lo up; done
ip -n "$ns_s" link set vbs0 up
ip -n "$ns_c" link set vbc0 up
mkdir -p "$work/root"
printf '[WorkingDir]\nDirName=%s\n[Dhcp]\nEnabled=1\nPoolFirst=198.51.100.2\nPoolLast=198.51.100.250\nLeaseSeconds=3600\n' \
    "$work/root" >"$work/ours.ini"

start_ours() {
    rm -rf "$work/data"
    HOME=$work XDG_CONFIG_HOME=$work/xdg XDG_DATA_HOME=$work/data \
        timeout 600 ip netns exec "$ns_s" taskset -c 0 "$server" --headless --address 198.51.100.1 \
        --port 6969 --settings "$work/ours.ini" >"$work/ours.out" 2>&1 &
    spid=$!
    for _ in $(seq 100); do grep -q '^dhcp on' "$work/ours.out" && break; sleep 0.1; done
    sleep 4.5 # it asks the link before its first answer
}
start_dnsmasq() {
    rm -f "$work/dnsmasq.leases"
    timeout 600 ip netns exec "$ns_s" taskset -c 0 dnsmasq --no-daemon --conf-file=/dev/null \
        --port=0 --interface=vbs0 --bind-interfaces --dhcp-authoritative --no-ping \
        --dhcp-range=198.51.100.2,198.51.100.250,1h --dhcp-leasefile="$work/dnsmasq.leases" \
        >"$work/dnsmasq.out" 2>&1 &
    spid=$!
    sleep 1
}
stop() { kill "$spid" 2>/dev/null; wait "$spid" 2>/dev/null; spid=; }
# CPU ticks (user + system) of the server: the child of `timeout` (ip netns exec and
# taskset exec it in place).
ticks() {
    local pid
    pid=$(pgrep -P "$spid" | head -1)
    awk '{ print $14 + $15 }' "/proc/${pid:-0}/stat" 2>/dev/null || echo 0
}
hz=$(getconf CLK_TCK)

echo "perfdhcp $(perfdhcp -v 2>&1 | head -1), dnsmasq $(dnsmasq --version | head -1 | awk '{print $3}')"
for who in ours dnsmasq; do
    for rate in $rates; do
        start_$who
        # 200 clients (-R), full DORA exchanges at `rate` per second for 8 s.
        i0=$(ticks)
        sleep 2 # idle: what the server burns with nobody asking
        t0=$(ticks)
        if [ -n "${PERF:-}" ] && [ "$who" = ours ]; then
            perf record -q -g -F 2000 -p "$(pgrep -P "$spid" | head -1)" -o "$PERF.$rate" -- sleep 7 \
                >/dev/null 2>&1 &
        fi
        out=$(timeout 60 ip netns exec "$ns_c" taskset -c 1 perfdhcp -4 -l vbc0 -R 200 \
            -r "$rate" -p 8 198.51.100.1 2>&1)
        t1=$(ticks)
        stop
        sent=$(echo "$out" | awk '/sent packets:/ { s[++n] = $3 } END { print s[1] "/" s[2] }')
        recv=$(echo "$out" | awk '/received packets:/ { s[++n] = $3 } END { print s[1] "/" s[2] }')
        drops=$(echo "$out" | awk '/^drops:/ { s[++n] = $2 } END { print s[1] "/" s[2] }')
        [ -n "${VERBOSE:-}" ] && echo "$out"
        rtt=$(echo "$out" | awk '/^avg delay:/ { s[++n] = $3 } END { print s[1] "/" s[2] }')
        acks=${recv#*/}
        cpu=$(awk -v t=$((t1 - t0)) -v hz="$hz" -v n="${acks:-0}" \
            'BEGIN { if (n > 0) printf "%.0f", t / hz * 1e6 / n; else print "-" }')
        echo "$who rate=$rate sent(DO/RA)=$sent received=$recv drops=$drops avg_ms=$rtt cpu_us_per_ack=$cpu idle_cpu=$(((t0 - i0) * 100 / hz / 2))%"
    done
done
