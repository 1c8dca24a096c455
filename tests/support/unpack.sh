# Sourced by the tests that run a peer from a Debian package without installing it.
# `unpack_deb DIR PACKAGE` downloads the package into DIR and unpacks it there. Package
# lists that are stale or absent (a fresh image, a long-lived machine) make the download
# fail although the archive has the package: as root, they are refreshed once and the
# download tried again, so CI does not skip a case for want of them.
unpack_deb() {
    mkdir -p "$1" && (
        cd "$1" || exit 1
        rm -f "$2"_*.deb
        apt-get download "$2" >/dev/null 2>&1 ||
            { [ "$(id -u)" -eq 0 ] && apt-get update -qq >/dev/null 2>&1 &&
                apt-get download "$2" >/dev/null 2>&1; } || exit 1
        dpkg-deb -x "$2"_*.deb .
    )
}
