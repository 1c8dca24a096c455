#!/usr/bin/env bash
# How the ufw files here were made: Debian 12's ufw (0.36.2) installed into overlays of
# /etc, /usr and /var in a private mount and network namespace, so this machine's own
# packages and firewall are never touched. Run as root with the .deb files of ufw and
# iptables (and their libraries) in DEBS; writes into OUT.
#   capture.sh DEBS OUT
set -u
debs=$(readlink -f "$1") out=$(readlink -f "$2")
mkdir -p "$out"
exec timeout 900 unshare -m -n bash -s "$debs" "$out" <<'INSIDE'
debs=$1 out=$2 ov=$(mktemp -d)
mount -t tmpfs tmpfs "$ov"
for d in etc usr var; do
    mkdir -p "$ov/$d-up" "$ov/$d-work"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$ov/$d-up,workdir=$ov/$d-work" "/$d"
done
mount -t tmpfs tmpfs /run # no systemd to start ufw.service
DEBIAN_FRONTEND=noninteractive dpkg -i "$debs"/*.deb >/dev/null || exit 1
printf '[vantrel-server]\ntitle=Vantrel Server\ndescription=x\nports=67,69,4011/udp|8080/tcp\n' \
    >/etc/ufw/applications.d/vantrel-server
u() { timeout 60 ufw "$@" </dev/null >/dev/null 2>&1; }
save() { cp /etc/ufw/user.rules "$out/user.rules.$1"; cp /etc/ufw/user6.rules "$out/user6.rules.$1"; }
restart() { cp "$out/user.rules.empty" /etc/ufw/user.rules; cp "$out/user6.rules.empty" /etc/ufw/user6.rules; u reload; }
cp /etc/ufw/ufw.conf "$out/ufw.conf.default"
cp /etc/default/ufw "$out/default.ufw"
save empty
u --force enable
cp /etc/ufw/ufw.conf "$out/ufw.conf.enabled"
u allow vantrel-server; save app
restart; u allow 69/udp; u allow 8080; save ports
restart; u allow from 198.51.100.0/24 to any port 69 proto udp; u deny 67/udp
u allow 4000:4100/udp; u allow in on eth1 to any port 8080 proto tcp; u allow out 69/udp; save mixed
restart; u allow 69; u limit 8080/tcp; u allow proto udp from any to 198.51.100.1 port 67
u reject 4011/udp; save other
INSIDE
