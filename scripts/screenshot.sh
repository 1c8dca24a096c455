#!/bin/sh
# Takes docs/window.png: the server window under a virtual X display, with rows in
# every state made by real transfers over loopback (127.0.0.1 only):
#   blue    a file sent to the end            violet  a file received to the end
#   red     a request for a missing file      red     a client that sent an ERROR
#   black   a send half done (with its bar)   black   a reception still running
# Usage: scripts/screenshot.sh [--dark] [--scale N] [--empty] [--details] [--out FILE] [path/to/vantrel-server] [port]
#   --dark     the Adwaita-Dark style (package adwaita-qt6): the list must read the same
#   --scale N  QT_SCALE_FACTOR=N on a 1280x800 screen (the window must fit on it)
#   --empty    no transfers: the first screen a new user sees
#   --details  the details pane open on the half-sent row (Enter on it; needs xdotool)
#   --out      the picture's path (default docs/window.png)
# Needs xvfb-run, ImageMagick's import, xwininfo and python3; openbox when installed
# (the window then has a window manager's frame and placement, as on a desktop).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/docs/window.png"
style_env=""
screen="1024x768x24"
empty=""
details=""
while [ $# -gt 0 ]; do
    case "$1" in
    --dark) style_env="QT_STYLE_OVERRIDE=Adwaita-Dark"; shift ;;
    --scale) style_env="$style_env QT_SCALE_FACTOR=$2"; screen="1280x800x24"; shift 2 ;;
    --empty) empty=1; shift ;;
    --details) details=1; shift ;;
    --out) out=$(realpath -m "$2"); shift 2 ;;
    *) break ;;
    esac
done
server=${1:-$(ls -t "$here"/build*/app/vantrel-server 2>/dev/null | head -n 1)}
port=${2:-39469}
[ -x "$server" ] || { echo "no vantrel-server binary (build first, or pass its path)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/tftp" "$work/config" "$work/tmp"
chmod 700 "$work/tmp"
# The files the transfers read.
head -c 40960 /dev/urandom > "$work/home/tftp/report.pdf"
head -c 204800 /dev/urandom > "$work/home/tftp/firmware.bin"

cat > "$work/client.py" <<'PY'
import socket, struct, sys, time
port = int(sys.argv[1])
server = ("127.0.0.1", port)
open_sockets = []  # transfers left running stay open until the picture is taken

def client():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    s.settimeout(5)
    open_sockets.append(s)
    return s

def request(s, op, name):
    s.sendto(struct.pack("!H", op) + name.encode() + b"\0octet\0", server)

def get(name, stop_after=None):
    s = client()
    request(s, 1, name)
    block = 0
    while True:
        data, peer = s.recvfrom(1024)
        op, n = struct.unpack("!HH", data[:4])
        if op != 3:
            return
        if stop_after is not None and n > stop_after:
            return  # keep the transfer waiting for this ACK
        s.sendto(struct.pack("!HH", 4, n), peer)
        if len(data) < 516:
            return

def put(name, blocks, finish=True, error=False):
    s = client()
    request(s, 2, name)
    data, peer = s.recvfrom(1024)
    for n in range(1, blocks + 1):
        if error and n == blocks:
            s.sendto(struct.pack("!HH", 5, 3) + b"Disk full\0", peer)
            return
        last = finish and n == blocks
        s.sendto(struct.pack("!HH", 3, n) + bytes(100 if last else 512), peer)
        s.recvfrom(1024)

if len(sys.argv) > 2:                  # --empty: no transfer at all
    print("ready", flush=True)
    time.sleep(30)
    sys.exit(0)
get("report.pdf")                      # blue
put("upload.img", 6)                   # violet
get("missing.txt")                     # red: not found
put("notes.txt", 3, error=True)        # red: the client's ERROR
get("firmware.bin", stop_after=230)    # black, bar a little over half
put("backup.tar", 9, finish=False)     # black, still receiving
print("ready", flush=True)
time.sleep(30)
PY

cat > "$work/run.sh" <<EOF2
set -eu
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/tmp"
if command -v openbox >/dev/null; then openbox >/dev/null 2>&1 & sleep 1; fi
env $style_env "$server" --no-splash --address 127.0.0.1 --port $port > "$work/server.out" 2>&1 &
srv=\$!
for i in \$(seq 1 50); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.2; done
python3 "$work/client.py" $port $empty > "$work/client.out" &
cli=\$!
for i in \$(seq 1 50); do grep -q ready "$work/client.out" 2>/dev/null && break; sleep 0.2; done
sleep 1.5
id=\$(xwininfo -root -tree | awk '/"Vantrel Server 1.0/ { print \$1; exit }')
if [ -n "$details" ]; then
    # A click in the list, then by keyboard onto the fifth row and Enter.
    xdotool mousemove --window "\$id" 200 175 click 1
    xdotool key --window "\$id" Home Down Down Down Down Return
    sleep 2.5
fi
import -window "\$id" "$out"
import -window root "$work/root.png"
xwininfo -id "\$id" | grep -E 'Absolute|Width|Height' || true
kill \$cli \$srv
wait \$srv || true
EOF2
mkdir -p "$here/docs"
xvfb-run -a -s "-screen 0 $screen" sh "$work/run.sh"
cat "$work/server.out"
identify "$out"
# The whole screen too, to see the placement: kept beside the picture only when asked.
[ -z "${SCREENSHOT_ROOT:-}" ] || cp "$work/root.png" "$SCREENSHOT_ROOT"
