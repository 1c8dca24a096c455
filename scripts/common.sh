# Shared by run.sh and test.sh: install what is missing, then configure and build.
# Debian 12 packages; apt-get runs only when something is missing.

# help2man makes the manual page from --help at build time; libmicrohttpd serves HTTP;
# liburing builds the io_uring platform (VANTREL_PLATFORM=uring).
packages_build=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev help2man
    libmicrohttpd-dev liburing-dev pkg-config)
# Real TFTP clients for the interoperability test. The installation tests: the
# validators of the desktop entry and the AppStream metadata, CPack's helpers for the
# package (dpkg-shlibdeps, file) and lintian; ip for the service test's and the lossy
# test's private networks.
packages_test=(curl tftp-hpa atftp desktop-file-utils appstream dpkg-dev file lintian iproute2
    qemu-system-x86 qemu-system-arm ovmf ipxe-qemu ipxe pxelinux syslinux-common
    grub-efi-amd64-bin grub-pc-bin u-boot-qemu expect dnsmasq tcpdump klibc-utils)

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
