# Sourced by the tests that use nginx as a cache. Debian's nginx package is never
# installed for them (its service would start serving port 80 on every address): the
# one on PATH, else the package unpacked into a folder of the test's own.
. "$(dirname "${BASH_SOURCE[0]}")/unpack.sh"
nginx_bin() { # DIR: prints the program's path; fails when it cannot be had
    command -v nginx && return 0
    [ -x "$1/usr/sbin/nginx" ] || unpack_deb "$1" nginx
    [ -x "$1/usr/sbin/nginx" ] && echo "$1/usr/sbin/nginx"
}
