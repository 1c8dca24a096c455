#!/usr/bin/env bash
# Memory held by windowed downloads that wait for ACKs: COUNT requests (2,000 by default)
# from one address, each for blksize 65464 and windowsize 64 (MaxBlockSize=65464 lets
# the server grant it). Each admitted one (the
# per-client limit, 512 by default) gets its ACK 0, so its first window goes out, and is
# then left waiting (the server's TimeOut is 20 s); the rest are refused. Prints the
# server's resident memory before, and once every window has gone:
#   admitted= refused= rss_before_kib= rss_waiting_kib= grown_kib= per_transfer_kib=
# Runs inside a private network namespace on its 127.0.0.1 (unshare -n, as root).
#
#   bench/waiting_memory.sh SERVER [--count N]
set -euo pipefail

if [[ -z ${WAITING_INSIDE:-} ]]; then
    exec unshare -n env WAITING_INSIDE=1 bash "$0" "$@"
fi
server_bin=$1
shift
count=2000
[[ ${1:-} == --count ]] && count=$2

ip link set lo up
ulimit -n 8192
work=$(mktemp -d)
server_pid=
trap '[[ -n $server_pid ]] && kill $server_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/xdg
mkdir -p "$HOME/tftp" "$XDG_CONFIG_HOME/Zelk TFTP Server"
truncate -s 8M "$HOME/tftp/big.bin" # more than one window of 64 blocks of 65464
printf '[WorkingDir]\nTimeOut=20\nSoundOn=0\n[Protocol]\nNegotiate=1\nMaxBlockSize=65464\n' \
    >"$XDG_CONFIG_HOME/Zelk TFTP Server/ZAZO_Dize.conf"
"$server_bin" --headless --address 127.0.0.1 --port 6969 >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
    ss -Hlun "sport = :6969" | grep -q . && break
    sleep 0.1
done
rss() { awk '/^VmRSS/ { print $2 }' "/proc/$server_pid/status"; }
sleep 1
before=$(rss)
python3 - "$count" >"$work/client.out" <<'EOF' &
import select, socket, sys, time
count = int(sys.argv[1])
rrq = b"\0\1big.bin\0octet\0blksize\x0065464\0windowsize\x0064\0"
socks, admitted, refused, pending = [], 0, 0, {}
for i in range(count):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # the window is dropped here
    s.bind(("127.0.0.1", 0))
    s.setblocking(False)
    s.sendto(rrq, ("127.0.0.1", 6969))
    socks.append(s)
    pending[s.fileno()] = s
    if i % 64 == 63:
        time.sleep(0.02)  # the listener's queue is bounded
poll = select.poll()
for s in socks:
    poll.register(s, select.POLLIN)
deadline = time.time() + 30
while pending and time.time() < deadline:
    for fd, _ in poll.poll(500):
        s = pending.get(fd)
        if s is None:
            continue
        try:
            data, addr = s.recvfrom(70000)
        except BlockingIOError:
            continue
        del pending[fd]
        poll.unregister(fd)
        if data[:2] == b"\0\6":
            admitted += 1
            s.sendto(b"\0\4\0\0", addr)
        else:
            refused += 1
print(f"admitted={admitted} refused={refused} unanswered={len(pending)}", flush=True)
time.sleep(60)  # hold the sockets until killed
EOF
client_pid=$!
for _ in $(seq 400); do
    [[ -s $work/client.out ]] && break
    sleep 0.1
done
sleep 3 # every window out
waiting=$(rss)
kill $client_pid 2>/dev/null || true
admitted=$(grep -o 'admitted=[0-9]*' "$work/client.out" | cut -d= -f2)
echo "$(cat "$work/client.out") rss_before_kib=$before rss_waiting_kib=$waiting" \
    "grown_kib=$((waiting - before)) per_transfer_kib=$(((waiting - before) / (admitted > 0 ? admitted : 1)))"
