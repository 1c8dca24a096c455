# Shared by run.sh and test.sh: install what is missing, then configure and build.
# Debian 12 packages; apt-get runs only when something is missing.

# help2man makes the manual page from --help at build time; libmicrohttpd serves HTTP;
# liburing builds the io_uring platform, the default (VANTREL_PLATFORM=epoll for epoll);
# libarchive reads the tables of contents of ISO images whose files are served.
packages_build=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev help2man
    libmicrohttpd-dev liburing-dev libarchive-dev pkg-config)
# Real TFTP clients for the interoperability test, and tftpd-hpa (with atftpd's library,
# libwrap0: atftpd itself is unpacked, never installed) as servers for the client's. The installation tests: the
# validators of the desktop entry and the AppStream metadata, CPack's helpers for the
# package (dpkg-shlibdeps, file) and lintian; ip for the service test's and the lossy
# test's private networks; python3 for the HTTP test's connection floods; ISC dhclient as the
# DHCPv6 server's client; nftables for the NAT test's router; python3-seccomp and busybox
# (udhcpc) for the service test's sandbox and its DHCP clients.
packages_test=(curl tftp-hpa atftp desktop-file-utils appstream dpkg-dev file lintian iproute2
    qemu-system-x86 qemu-system-arm ovmf ipxe-qemu ipxe pxelinux syslinux-common
    grub-efi-amd64-bin grub-pc-bin u-boot-qemu expect dnsmasq tcpdump tftpd-hpa libwrap0 isc-dhcp-client
    python3 klibc-utils xorriso squashfs-tools nftables python3-seccomp busybox)
# The Secure Boot test's signed shim and GRUB (shim-signed, shim-helpers-amd64-signed,
# grub-efi-amd64-signed) are never installed here: their scripts change this machine's
# boot. tests/netboot/secureboot.sh unpacks them from `apt-get download`.
# Likewise the boot menu cases' Debian kernel (linux-image-amd64's) and busybox-static
# (which would replace busybox): tests/netboot/netboot.sh downloads and unpacks them.

ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >/dev/null
}

# build DIR [cmake options...]
build() {
    local dir=$1
    shift
    cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
        cmake --build "$dir" -j "$(nproc)"
}
