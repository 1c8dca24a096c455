# Sourced by the namespace tests (link, NAT, DHCP kill).
#
# The outer half: `run_inside SECONDS WORK SCRIPT SERVER` runs `SCRIPT --inside SERVER
# WORK` in a network namespace of its own, killed after SECONDS, removes WORK and exits
# with the script's status.
#
# The inner half: `peer_ns VAR` makes a namespace of its own, held by a sleeping
# process whose pid goes to VAR and to pids (for the caller's cleanup); `veth_into PID
# DEVICE PEERNAME` joins the current namespace to PID's by a veth, PEERNAME moved there
# and up with lo, DEVICE left as it is. `peer_up DEVICE PEERNAME` is both for one peer
# (its pid in peer_pid), and `nsp COMMAND...` runs a command in that peer.
run_inside() {
    local seconds=$1 work=$2 rc
    timeout -k 10 "$seconds" unshare -n bash "$3" --inside "$4" "$work"
    rc=$?
    rm -rf "$work"
    exit $rc
}
peer_ns() {
    # No output kept open: a caller reading this shell's output must not wait for it.
    unshare -n sleep 300 >/dev/null 2>&1 &
    printf -v "$1" '%s' "$!"
    pids+=("$!")
    # Until the sleeper is in its own namespace (at most a second).
    local here
    here=$(readlink /proc/self/ns/net)
    for _ in $(seq 50); do
        [ "$(readlink "/proc/${!1}/ns/net" 2>/dev/null)" != "$here" ] && return 0
        sleep 0.02
    done
    return 1
}
veth_into() {
    ip link add "$2" type veth peer name "$3"
    ip link set "$3" netns "$1"
    nsenter -t "$1" -n ip link set lo up
    nsenter -t "$1" -n ip link set "$3" up
}
peer_up() {
    peer_ns peer_pid
    veth_into "$peer_pid" "$1" "$2"
}
nsp() { nsenter -t "$peer_pid" -n "$@"; }
