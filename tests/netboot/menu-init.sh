#!/bin/busybox sh
# /init of the boot menu cases' initramfs: brings the NIC up, sends the running
# kernel's version to the server by TFTP as menu-ok-MAC, and powers off. Every wait
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
n=0
until tftp -p -l /tmp/ok -r "menu-ok-$mac" @SERVER@ || [ $n -ge 10 ]; do
    sleep 1
    n=$((n + 1))
done
echo MENU-INIT-DONE "menu-ok-$mac"
poweroff -f
