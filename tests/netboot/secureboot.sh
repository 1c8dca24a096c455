#!/usr/bin/env bash
# Secure Boot on real firmware: OVMF with Secure Boot on and Microsoft's keys enrolled
# (OVMF_CODE_4M.ms.fd and a copy of OVMF_VARS_4M.ms.fd, q35 with SMM, under TCG) gets
# its boot file from the server's own boot offers while dnsmasq only hands out
# addresses. Two cases:
#   chain     Debian's signed shimx64.efi -> signed grubnetx64.efi (as grubx64.efi) ->
#             grub.cfg, which runs `linux` on the 32 MiB file over TFTP: the signed GRUB
#             reads it whole before refusing its signature. The bytes are checked in a
#             capture (pcapcheck.py); the names the chain probed and lacked must end in
#             neutral rows. (Over HTTP it cannot: that GRUB has no http built in and
#             loads no module under Secure Boot; it asks for http.mod.)
#   unsigned  the same firmware offered unsigned iPXE (snponly.efi): it must refuse it.
#   dhcp      the chain again, with dnsmasq gone: our own DHCP server gives the address
#             and the boot file, with SecureBootChain=1 and the UEFI field left empty
#             (the shim is what the boot policy then names).
# shim-signed, shim-helpers-amd64-signed and grub-efi-amd64-signed are never installed
# (their scripts touch this machine's boot): the signed files are taken from the
# installed packages when present, else unpacked from `apt-get download`ed packages.
#   secureboot.sh SERVER_BIN
# Exit 77: skipped (not root, no namespaces or /dev/net/tun, a tool, firmware or package
# missing).
set -u
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "SKIP: $*"; exit 77; }

# dnsmasq hands out addresses on .1; the server offering boots is another DHCP server
# (.2), as the LAN's DHCP server and a ProxyDHCP are two hosts.
DNSMASQ_IP=198.51.100.1
SERVER_IP=198.51.100.2
BIG_SIZE=$((32 * 1024 * 1024))
CASE_TIMEOUT=${SECUREBOOT_CASE_TIMEOUT:-400}
OVMF_CODE=/usr/share/OVMF/OVMF_CODE_4M.ms.fd
OVMF_VARS=/usr/share/OVMF/OVMF_VARS_4M.ms.fd
SNPONLY=/usr/lib/ipxe/snponly.efi
SHIM=usr/lib/shim/shimx64.efi.signed
MOKMANAGER=usr/lib/shim/mmx64.efi.signed
GRUBNET=usr/lib/grub/x86_64-efi-signed/grubnetx64.efi.signed

# The signed files under $1: from / when installed, else unpacked from the packages.
signed_files() {
    local dest=$1 p
    if [ -e /$SHIM ] && [ -e /$GRUBNET ] && [ -e /$MOKMANAGER ]; then
        mkdir -p "$dest/usr/lib/shim" "$dest/usr/lib/grub/x86_64-efi-signed"
        cp /$SHIM /$MOKMANAGER "$dest/usr/lib/shim/" && cp /$GRUBNET "$dest/$GRUBNET"
        return
    fi
    mkdir -p "$dest/debs"
    (cd "$dest/debs" &&
        apt-get download shim-signed shim-helpers-amd64-signed grub-efi-amd64-signed \
            >"$dest/apt.log" 2>&1) || return 1
    for p in "$dest"/debs/*.deb; do dpkg-deb -x "$p" "$dest" || return 1; done
}

if [ "${1:-}" != --inside ]; then
    server=$(readlink -f "$1")
    [ "$(id -u)" -eq 0 ] || skip "needs root for the network namespace and port 69"
    [ -c /dev/net/tun ] || skip "/dev/net/tun is unavailable"
    for tool in unshare ip dnsmasq tcpdump python3 timeout qemu-system-x86_64 dpkg-deb; do
        command -v $tool >/dev/null || skip "$tool is missing"
    done
    for f in $OVMF_CODE $OVMF_VARS $SNPONLY; do
        [ -e "$f" ] || skip "$f is missing"
    done
    unshare -n true 2>/dev/null || skip "network namespaces are unavailable here"
    work=$(mktemp -d /tmp/secureboot.XXXXXX)
    if ! signed_files "$work/pkg"; then
        tail -n 3 "$work/pkg/apt.log" 2>/dev/null
        rm -rf "$work"
        skip "the signed shim and GRUB are neither installed nor downloadable"
    fi
    timeout -k 10 $((3 * CASE_TIMEOUT + 60)) unshare -n bash "$0" --inside "$server" "$work"
    rc=$?
    rm -rf "$work"
    exit $rc
fi

# ---- inside the namespace: nothing here reaches beyond tap0 ----
server=$2 work=$3
root=$work/root
mkdir -p "$root" "$work/home"
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
    [ -f "$work/dnsmasq.pid" ] && kill "$(cat "$work/dnsmasq.pid")" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 143' TERM INT
fail_setup() { echo "FAIL: $*"; cat "$work"/*.out "$work/dnsmasq.log" 2>/dev/null; exit 1; }

ip link set lo up
ip tuntap add tap0 mode tap || skip "cannot make a tap device"
ip addr add $DNSMASQ_IP/24 dev tap0
ip addr add $SERVER_IP/24 dev tap0
ip link set tap0 up

head -c $BIG_SIZE /dev/urandom >"$root/big.bin"
# The chain as the Boot dialog's "fill from the packages" lays it out, by hand here so
# that the test also proves the layout: shim and GRUB at the root, GRUB's configuration
# where the signed GRUB looks (its built-in prefix is /grub).
cp "$work/pkg/$SHIM" "$root/shimx64.efi"
cp "$work/pkg/$GRUBNET" "$root/grubx64.efi"
cp "$work/pkg/$MOKMANAGER" "$root/mmx64.efi"
cp $SNPONLY "$root/snponly.efi"
mkdir -p "$root/grub"
cat >"$root/grub/grub.cfg" <<EOF
echo "SECUREBOOT-GRUB \$grub_platform"
linux (tftp,$SERVER_IP)/big.bin
echo "SECUREBOOT-TFTP-READ"
sleep 600
EOF

cat >"$work/dnsmasq.conf" <<EOF
port=0
no-resolv
no-hosts
bind-interfaces
interface=tap0
dhcp-range=198.51.100.50,198.51.100.99,255.255.255.0,10m
dhcp-leasefile=$work/dnsmasq.leases
pid-file=$work/dnsmasq.pid
log-facility=$work/dnsmasq.log
log-dhcp
dhcp-option=3
# No boot file (the boot offers give it), but this server as next server: the signed
# GRUB 2.06 takes its server from the DHCP server's answer, not from a boot offer.
dhcp-boot=,,$SERVER_IP
EOF
dnsmasq --conf-file="$work/dnsmasq.conf" || fail_setup "dnsmasq did not start"

server_pid=
# server_start CASE KEYS [FIRST_LINE]: the server with KEYS after its folder (the boot
# offers by default), its rows in CASE.out; waits for a line matching FIRST_LINE.
server_start() {
    printf '[WorkingDir]\nDirName=%s\n%b' "$root" "$2" >"$work/$1.ini"
    HOME=$work/home XDG_CONFIG_HOME=$work/home/xdg XDG_DATA_HOME=$work/home/data "$server" \
        --headless --address $SERVER_IP --port 69 --settings "$work/$1.ini" \
        >"$work/$1.out" 2>"$work/$1.err" &
    server_pid=$!
    pids+=("$server_pid")
    local first=${3:-^boot offers}
    for _ in $(seq 100); do
        grep -qi "$first" "$work/$1.out" && break
        sleep 0.1
    done
    grep -i "$first" "$work/$1.out" || fail_setup "$1: no line like '$first'"
}
server_stop() {
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
}
rows() { grep $'^row\t' "$work/$cname.out"; }
sent() { rows | grep -q $'^row\t[0-9]*\tSENT\t[^\t]*\t/*'"$1"$'\t'; }
serial_has() { grep -aq "$1" "$work/$cname.serial" 2>/dev/null; }

results=()
failed=0
# run_case NAME MAC_DIGIT DONE_TEST: boots until DONE_TEST holds or time runs out.
run_case() {
    cname=$1 done_test=$3
    local mac=52:54:00:5b:00:0$2
    local pcap=$work/$cname.pcap start=$SECONDS qemu tcpd
    result=FAIL note=""
    cp $OVMF_VARS "$work/$cname.vars"
    tcpdump -Z root -U -s 0 -B 65536 -i tap0 -w "$pcap" udp \
        >"$work/$cname.tcpdump" 2>&1 &
    tcpd=$!
    sleep 1
    timeout -k 5 $((CASE_TIMEOUT + 10)) qemu-system-x86_64 -accel tcg \
        -machine q35,smm=on -global driver=cfi.pflash01,property=secure,value=on \
        -m 768 -display none -monitor none -no-reboot -nodefaults -vga none \
        -drive if=pflash,format=raw,unit=0,readonly=on,file=$OVMF_CODE \
        -drive if=pflash,format=raw,unit=1,file="$work/$cname.vars" \
        -serial file:"$work/$cname.serial" \
        -netdev tap,id=n0,ifname=tap0,script=no,downscript=no \
        -device "virtio-net-pci,netdev=n0,mac=$mac,romfile=,bootindex=1" \
        >"$work/$cname.qemu" 2>&1 &
    qemu=$!
    pids+=("$qemu" "$tcpd")
    while [ $((SECONDS - start)) -lt "$CASE_TIMEOUT" ]; do
        if eval "$done_test"; then result=PASS; break; fi
        kill -0 $qemu 2>/dev/null || break
        sleep 1
    done
    [ $result = PASS ] || note="not done after $((SECONDS - start)) s; "
    kill $qemu 2>/dev/null
    wait $qemu 2>/dev/null
    sleep 1
    kill -INT $tcpd 2>/dev/null
    wait $tcpd 2>/dev/null
    secs=$((SECONDS - start))
}
finish_case() { # LABEL
    if [ $result != PASS ]; then
        echo "---- $1: server rows, serial console tail ----"
        rows | tail -n 20
        tail -c 2000 "$work/$cname.serial" 2>/dev/null | tr -d '\r' | tail -n 20
        tail -n 5 "$work/$cname.qemu" "$work/dnsmasq.log"
        failed=$((failed + 1))
    fi
    echo "$1: $result ($secs s) $note"
    results+=("$(printf '%-26s %-5s %5s  %s' "$1" $result $secs "$note")")
    rm -f "$work/$cname.pcap"
}
check() { # CHECK_COMMAND...: a failed check fails the case; its output joins the note
    if ! "$@" >"$work/$cname.check" 2>&1; then result=FAIL; fi
    note+="$(cat "$work/$cname.check") "
}

# 1. The signed chain, from the boot offers' Secure Boot preset.
server_start chain '[Boot]\nProxyDhcp=1\nBootFileUefi=shimx64.efi\nSecureBootChain=1\n'
run_case chain 1 'serial_has SECUREBOOT-TFTP-READ'
server_stop
if [ $result = PASS ]; then
    check python3 "$here/pcapcheck.py" "$work/chain.pcap" big.bin "$root/big.bin" 1
    for f in shimx64.efi grubx64.efi; do sent $f || { result=FAIL; note+="$f not sent; "; }; done
    # A chain that worked leaves no red row: what it probed and lacked is neutral.
    if rows | grep -q $'^row\t[0-9]*\tFAILED\t'; then
        result=FAIL
        note+="red rows: $(rows | grep $'\tFAILED\t' | cut -f5 | tr '\n' ' ')"
    fi
fi
echo "What the chain asked for (state, name, note):"
rows | awk -F'\t' '{print "  " $3 "\t" $5 "\t" $NF}'
finish_case "Secure Boot shim+GRUB"

# 2. Unsigned iPXE offered to the same firmware: refused, nothing fetched after it.
server_start unsigned '[Boot]\nProxyDhcp=1\nBootFileUefi=snponly.efi\n'
run_case unsigned 2 'serial_has "Access Denied"'
server_stop
if [ $result = PASS ]; then
    sent snponly.efi || { result=FAIL; note+="snponly.efi not sent; "; }
    ! rows | grep $'\tSend\t' | grep -qv $'\tsnponly.efi\t' ||
        { result=FAIL; note+="the refused program still fetched files; "; }
    note+="firmware: Access Denied"
fi
finish_case "Secure Boot refuses iPXE"

# 3. The chain through our own DHCP server: nobody else answers on the link.
kill "$(cat "$work/dnsmasq.pid")" 2>/dev/null
rm -f "$work/dnsmasq.pid"
# Our address alone on the link; the primary address takes its secondaries with it.
ip addr flush dev tap0
ip addr add $SERVER_IP/24 dev tap0
# tap0 has no carrier until QEMU opens it: the DHCP server waits for the link, then asks
# it for another server for 4 s before its first answer (the firmware asks again).
server_start dhcp '[Dhcp]\nEnabled=1\nPoolFirst=198.51.100.100\nPoolLast=198.51.100.120\n[Boot]\nBootFileUefi=\nSecureBootChain=1\n' '^dhcp'
run_case dhcp 3 'serial_has SECUREBOOT-TFTP-READ'
server_stop
if [ $result = PASS ]; then
    for f in shimx64.efi grubx64.efi; do sent $f || { result=FAIL; note+="$f not sent; "; }; done
    rows | grep DHCP | grep -q 'shimx64.efi' ||
        note+="(no DHCP row names shimx64.efi) "
fi
finish_case "Secure Boot via our DHCP"

echo
printf '%-26s %-5s %5s  %s\n' case result secs note
printf '%s\n' "${results[@]}"
[ $failed -eq 0 ] || { echo "FAIL: $failed case(s)"; exit 1; }
echo PASS
