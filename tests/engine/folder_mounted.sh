#!/bin/bash
# The served folder as a mount point: a disk mounted on it after the server started is
# what the next request reads, and so is what is under it once it is unmounted. In a
# private mount namespace; tmpfs stands in for the disk (the path is what matters).
#   folder_mounted.sh SERVER
# Exit code 77: skipped (not root, no mount namespaces, curl missing).
set -u
server=$(readlink -f "$1")
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for a mount namespace"; exit 77; }
command -v curl >/dev/null || { echo "SKIP: curl is missing"; exit 77; }
unshare -m --propagation private true 2>/dev/null || { echo "SKIP: no mount namespaces"; exit 77; }
if [ "${2:-}" != --inside ]; then
    work=$(mktemp -d /tmp/folder-mounted.XXXXXX)
    trap 'rm -rf "$work"' EXIT
    unshare -m --propagation private timeout 60 bash "$0" "$server" --inside "$work"
    exit $?
fi
work=$3
mkdir -p "$work/served" "$work/home"
echo under >"$work/served/a.txt"
printf '[WorkingDir]\nDirName=%s\n' "$work/served" >"$work/server.conf"
port=$((20000 + RANDOM % 5000))
HOME=$work/home XDG_CONFIG_HOME=$work/home/xdg XDG_DATA_HOME=$work/home/data \
    "$server" --headless --address 127.0.0.1 --port $port --settings "$work/server.conf" \
    >"$work/out" 2>"$work/err" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT
for _ in $(seq 100); do
    grep -q '^listening on\|^cannot listen' "$work/out" && break
    sleep 0.1
done
get() { curl -s --max-time 10 --tftp-no-options "tftp://127.0.0.1:$port/$1"; }
fail() { echo "FAIL: $*"; cat "$work/out" "$work/err"; exit 1; }
[ "$(get a.txt)" = under ] || fail "the folder before the mount"
mount -t tmpfs none "$work/served" || fail "mount"
echo mounted >"$work/served/b.txt"
[ "$(get b.txt)" = mounted ] || fail "a disk mounted on the folder is not served"
umount -l "$work/served"
[ "$(get a.txt)" = under ] || fail "the folder after the unmount"
echo PASS
