# Sourced by the namespace tests: a peer network namespace of its own on the other end
# of a veth from the current one. `peer_up DEVICE PEERNAME` makes it (its pid in
# peer_pid, added to pids for the caller's cleanup) with the peer's end up and DEVICE
# left as it is; `nsp COMMAND...` runs a command in the peer.
peer_up() {
    unshare -n sleep 300 &
    peer_pid=$!
    pids+=("$peer_pid")
    sleep 0.2
    ip link add "$1" type veth peer name "$2"
    ip link set "$2" netns "$peer_pid"
    nsp ip link set lo up
    nsp ip link set "$2" up
}
nsp() { nsenter -t "$peer_pid" -n "$@"; }
