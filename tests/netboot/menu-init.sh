#!/bin/busybox sh
# /init of the boot menu cases' initramfs: brings the NIC up, sends the running
# kernel's version to the server by TFTP as menu-ok-MAC (a live ISO's: see fetch=), and
# powers off. Every wait
# is bounded; the console is the serial port whatever the command line says.
/bin/busybox --install -s /bin
mount -t devtmpfs dev /dev
mount -t proc proc /proc
mount -t sysfs sys /sys
exec >/dev/ttyS0 2>&1
echo MENU-INIT "$(uname -r)"
for m in $(cat /lib/order); do
    [ -e "/lib/$m.ko" ] && insmod "/lib/$m.ko"
done
n=0
while [ ! -e /sys/class/net/eth0 ] && [ $n -lt 50 ]; do sleep 0.2; n=$((n + 1)); done
# An address of its own per machine (from the MAC's last byte): no stale neighbour entry.
mac=$(tr : - </sys/class/net/eth0/address)
ip link set eth0 up
ip addr add "@NET@.$((0x${mac##*-} + 100))/24" dev eth0
uname -r >/tmp/ok
name=menu-ok-$mac
# Booted from a live ISO's entry: fetch the root image as live-boot's fetch= would, mount
# it, and report its digest and the marker inside it as live-ok-MAC.
url=$(tr ' ' '\n' </proc/cmdline | sed -n 's/^fetch=//p')
if [ -n "$url" ]; then
    name=live-ok-$mac
    n=0
    until wget -q -O /tmp/root.sfs "$url" || [ $n -ge 5 ]; do sleep 1; n=$((n + 1)); done
    mkdir -p /mnt
    mount -t squashfs -o loop,ro /tmp/root.sfs /mnt
    echo "$(uname -r) $(sha256sum /tmp/root.sfs | cut -d ' ' -f 1) $(cat /mnt/live-marker)" >/tmp/ok
fi
n=0
until tftp -p -l /tmp/ok -r "$name" @SERVER@ || [ $n -ge 10 ]; do
    sleep 1
    n=$((n + 1))
done
echo MENU-INIT-DONE "$name"
poweroff -f
