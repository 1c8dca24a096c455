#!/bin/bash
# The container image, for real: builds packaging/container/Containerfile with podman on
# a Debian 12 base made from the Debian archive (mmdebstrap; no registry is needed), runs
# it as its own user with only CAP_NET_BIND_SERVICE, settings from the environment and a
# served folder mounted read-only, fetches a file through its port 69 with tftp-hpa and
# curl byte for byte, reads the rows on its standard output, runs its health check, and
# stops it with SIGTERM (exit 0, well before podman would kill it).
# Everything runs in a private network namespace (its loopback only).
#   tests/container/container.sh REPOSITORY      (as root; 77: skipped, saying why)
# SINGLE_PORT=1 runs the server in single-port mode on the container's own network
# (a bridge of this test's own on 203.0.113.0/24, made inside the namespace), published
# on the namespace's 127.0.0.1 (the mode a Kubernetes Service needs).
# The base image is kept (localhost/vantrel-base:bookworm) and made only when missing;
# a ccache at /work/.ccache, when there, is lent to the build.
set -u
repo=$(cd "${1:?usage: container.sh REPOSITORY}" && pwd)
single=${SINGLE_PORT:-0}
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; [ -n "${name:-}" ] && podman logs "$name" 2>&1 | tail -20; exit 1; }
[ "$(id -u)" = 0 ] || skip "needs root (podman, a network namespace)"
for tool in podman mmdebstrap tftp curl ip; do
    command -v $tool >/dev/null || skip "$tool missing (apt-get install podman mmdebstrap tftp-hpa curl iproute2)"
done
# runc where it is there: crun refuses a machine whose cgroups are mounted in the hybrid
# layout, and cgroupfs for a machine that runs no systemd.
runtime=()
command -v runc >/dev/null && runtime=(--runtime runc)
# In single-port mode, once the namespace is there (podman_ns), podman runs in it: its
# network's bridge, forwarding and teardown stay there.
podman_ns=
podman_bin=$(type -P podman)
podman() {
    local enter=()
    [ -n "$podman_ns" ] && enter=(nsenter "--net=/run/netns/$podman_ns")
    "${enter[@]}" "$podman_bin" "${runtime[@]}" --cgroup-manager cgroupfs "$@"
}
# Limits below podman's defaults: a machine without CAP_SYS_RESOURCE (a container
# itself) cannot raise them, and the server needs far fewer.
limits=(--ulimit nofile=4096:4096 --ulimit nproc=4096:4096)

base=localhost/vantrel-base:bookworm
image=localhost/vantrel-server:test
work=$(mktemp -d /tmp/vantrel-container.XXXXXX)
ns=vantrel-ct-$$
name=vantrel-ct-$$
net=vantrel-ct-$$
cleanup() {
    podman rm -f -t 0 "$name" >/dev/null 2>&1
    [ "$single" = 1 ] && podman network rm -f "$net" >/dev/null 2>&1
    ip netns del "$ns" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

if ! podman image exists "$base"; then
    echo "== base image from the Debian archive (mmdebstrap)"
    timeout 900 mmdebstrap --variant=minbase --include=ca-certificates bookworm \
        "$work/base.tar" http://deb.debian.org/debian >"$work/mmdebstrap.log" 2>&1 ||
        { tail -5 "$work/mmdebstrap.log"; fail "mmdebstrap"; }
    podman import --change 'CMD ["/bin/bash"]' "$work/base.tar" "$base" >/dev/null ||
        fail "podman import"
    rm -f "$work/base.tar"
fi

echo "== build"
cache=()
[ -d /work/.ccache ] && cache=(--volume /work/.ccache:/ccache)
start=$(date +%s)
# --format docker: the OCI image format has no HEALTHCHECK.
timeout 3600 podman build --format docker "${runtime[@]}" --network=host "${cache[@]}" --build-arg "BASE=$base" \
    -f "$repo/packaging/container/Containerfile" -t "$image" "$repo" >"$work/build.log" 2>&1 ||
    { tail -30 "$work/build.log"; fail "podman build"; }
echo "built in $(($(date +%s) - start)) s; runtime packages: $(podman run --rm "${limits[@]}" --entrypoint cat "$image" /usr/lib/vantrel-server/packages | wc -l)"

ip netns add "$ns" || fail "ip netns add"
ip -n "$ns" link set lo up
# The clients, in the namespace: on port 69 of its loopback, or in single-port mode where
# the port is published there (a free one above 40000).
in_ns() { ip netns exec "$ns" "$@"; }
port=69
if [ "$single" = 1 ]; then
    port=$((40000 + RANDOM % 20000))
    podman_ns=$ns
    # Never podman's default network (10.88.0.0/16, its bridge on this machine's own
    # interfaces): one of the test's own, whose bridge is made where podman runs.
    podman network create --subnet 203.0.113.0/24 --disable-dns "$net" >/dev/null ||
        fail "podman network create"
fi

mkdir -p "$work/srv" "$work/home"
chown 10069:10069 "$work/home"
head -c 3000000 /dev/urandom >"$work/srv/firmware.bin"
chmod -R a+rX "$work"

# start NAME [podman run options]: the image in the namespace, waited for until it says
# where it listens.
start() {
    local who=$1
    shift
    local run=(podman run -d --name "$who"
               --cap-drop=all --cap-add=NET_BIND_SERVICE --read-only "${limits[@]}"
               --volume "$work/home:/var/lib/vantrel-server" --tmpfs /tmp:rw,mode=1777
               --volume "$work/srv:/srv/tftp:ro")
    if [ "$single" = 1 ]; then
        # The container's own network, its port 69 published on the namespace's loopback.
        run+=(--network "$net" --publish "127.0.0.1:$port:69/udp" --env VANTREL_Protocol_SinglePort=1)
    else
        # The namespace's network, joined by podman (ip netns exec would hide the cgroups
        # from it).
        run+=(--network "ns:/run/netns/$ns")
    fi
    "${run[@]}" "$@" "$image" >/dev/null || fail "podman run"
    for _ in $(seq 50); do
        podman logs "$who" 2>/dev/null | grep -q '^listening on' && {
            podman logs "$who" 2>/dev/null | head -1
            return 0
        }
        sleep 0.2
    done
    fail "the server never said where it listens"
}
listen=()
[ "$single" = 1 ] || listen=(--env VANTREL_Protocol_ListenAddress=127.0.0.1)
start "$name" "${listen[@]}" --env VANTREL_WorkingDir_TimeOut=2

echo "== who it runs as"
status=$(podman exec "$name" cat /proc/1/status)
uid=$(awk '/^Uid:/ { print $2 }' <<<"$status")
caps=$(awk '/^CapEff:/ { print $2 }' <<<"$status")
[ "$uid" = 10069 ] || fail "runs as uid $uid, not 10069"
# CAP_NET_BIND_SERVICE is bit 10, and nothing else.
[ "$caps" = 0000000000000400 ] || fail "effective capabilities $caps, not CAP_NET_BIND_SERVICE alone"
echo "uid $uid, CapEff $caps"

echo "== fetch through port 69"
in_ns tftp 127.0.0.1 "$port" -m binary -c get firmware.bin "$work/by-tftp" ||
    fail "tftp-hpa get"
cmp "$work/srv/firmware.bin" "$work/by-tftp" || fail "tftp-hpa's copy differs"
in_ns curl -sS --max-time 30 -o "$work/by-curl" "tftp://127.0.0.1:$port/firmware.bin" || fail "curl"
cmp "$work/srv/firmware.bin" "$work/by-curl" || fail "curl's copy differs"
echo "tftp-hpa and curl: byte for byte"

rows=$(podman logs "$name" 2>/dev/null | grep -c -P '^row\t\d+\tSENT\t[^\t]+\tfirmware\.bin\t')
[ "$rows" = 2 ] || fail "$rows SENT rows on standard output, not 2"
echo "rows on standard output: $rows"

echo "== health check"
podman healthcheck run "$name" || fail "health check on a live server"

echo "== SIGTERM"
start=$(date +%s)
podman stop -t 20 "$name" >/dev/null || fail "podman stop"
took=$(($(date +%s) - start))
code=$(podman inspect "$name" --format '{{.State.ExitCode}}')
[ "$code" = 0 ] || fail "exit $code after SIGTERM"
[ $took -lt 10 ] || fail "took $took s to stop"
echo "stopped in $took s, exit 0"

echo "== settings from a mounted file"
podman rm -f -t 0 "$name" >/dev/null
mkdir -p "$work/config"
{
    echo '[WorkingDir]'
    echo 'DirName=/srv/tftp'
    echo 'ReadOnly=1'
    if [ "$single" = 1 ]; then
        printf '[Protocol]\nSinglePort=1\n'
    else
        printf '[Protocol]\nListenAddress=127.0.0.1\n'
    fi
} >"$work/config/vantrel-server.conf"
chmod -R a+rX "$work/config"
start "$name" --volume "$work/config:/config:ro"
in_ns tftp 127.0.0.1 "$port" -m binary -c get firmware.bin "$work/by-file" || fail "tftp-hpa get"
cmp "$work/srv/firmware.bin" "$work/by-file" || fail "the copy differs"
# ReadOnly=1 came from the file: an upload is refused.
in_ns tftp 127.0.0.1 "$port" -m binary -c put "$work/by-file" upload.bin 2>&1 | grep -q 'Error code 2' ||
    fail "an upload was not refused with ReadOnly=1 from the mounted file"
echo "fetched byte for byte; the upload refused as the file says"
echo "PASS"
