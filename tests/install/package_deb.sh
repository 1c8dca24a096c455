#!/usr/bin/env bash
# The Debian package: cpack builds it from this build; unpacked into a throw-away root
# (never installed on this machine) the program runs, the dependencies come from the
# libraries it links, the service's settings file is a conffile, the maintainer
# scripts create the service user without starting the service, the validators pass
# and lintian finds no error (its warnings are printed).
#   package_deb.sh BUILD_DIR WORK_DIR
set -u
build=$1 work=$2
. "$(dirname "$0")/validate.sh"
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is missing (apt-get install dpkg-dev)"; exit 77; }
done
rm -rf "$work" && mkdir -p "$work"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
debs=("$work"/vantrel-server_*_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no vantrel-server_<version>_<arch>.deb"
deb=${debs[0]}
echo "built $(basename "$deb")"

dpkg-deb -f "$deb" Depends | grep -q 'libqt6core6 (>=' || fail "Depends lacks the Qt libraries"
dpkg-deb -f "$deb" Depends | grep -q 'adduser' || fail "Depends lacks adduser"
dpkg-deb -e "$deb" "$work/control"
grep -qx /etc/vantrel-server/vantrel-server.conf "$work/control/conffiles" ||
    fail "the service's settings are not a conffile"
grep -q 'adduser --system' "$work/control/postinst" || fail "postinst creates no user"
! grep -v '^ *#' "$work/control/postinst" |
    grep -Eq 'systemctl (start|enable)|deb-systemd-invoke start' ||
    fail "postinst starts the service"

root=$work/root
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/vantrel-server" --version | grep -q '^vantrel-server [0-9]' ||
    fail "the unpacked program does not run"
grep -q '^ExecStart=/usr/bin/vantrel-server .*--settings /etc/vantrel-server/' \
    "$root/usr/lib/systemd/system/vantrel-server.service" || fail "the unit names other paths"

if command -v lintian >/dev/null; then
    lintian --allow-root "$deb" >"$work/lintian.log" 2>&1
    cat "$work/lintian.log"
    ! grep -q '^E:' "$work/lintian.log" || fail "lintian reports errors"
else
    echo "lintian is missing (apt-get install lintian): not run"
fi
validate_tree "$root" /usr
echo PASS
