#!/usr/bin/env bash
# The Debian package: cpack builds it from this build; unpacked into a throw-away root
# (never installed on this machine) the program runs, the dependencies come from the
# libraries it links, the service's settings file and the ufw profile are conffiles,
# the firewalls' definitions name our ports, postinst creates the
# service user without enabling or starting the service, the validators pass
# and lintian finds no error (its warnings are printed).
#   package_deb.sh BUILD_DIR WORK_DIR
set -u
build=$1 work=$2
. "$(dirname "$0")/validate.sh"
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is missing (apt-get install dpkg-dev)"; exit 77; }
done
# postinst configure, twice (install, then upgrade), in a mount namespace with a copy
# of /etc and a /run that says systemd runs, systemctl and its helpers recording
# their calls: it creates the user once and asks systemd for nothing but a reload.
maintainer_scripts() {
    if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
        echo "maintainer scripts not run: needs root and mount namespaces"
        return
    fi
    mkdir -p "$work/ns/run/systemd/system" "$work/ns/bin"
    # The copy leaves out password hashes and keys; shadow files get locked entries.
    tar -C / --exclude='etc/*shadow*' --exclude=etc/ssh --exclude=etc/ssl/private \
        -cf - etc 2>/dev/null | tar -C "$work/ns" -xf -
    awk -F: '{ print $1 ":*:19000:0:99999:7:::" }' /etc/passwd >"$work/ns/etc/shadow"
    awk -F: '{ print $1 ":*::" }' /etc/group >"$work/ns/etc/gshadow"
    chmod 640 "$work/ns/etc/shadow" "$work/ns/etc/gshadow"
    for c in systemctl deb-systemd-invoke deb-systemd-helper; do
        printf '#!/bin/sh\necho "%s $*" >>"%s"\n' $c "$work/ns/calls" >"$work/ns/bin/$c"
        chmod +x "$work/ns/bin/$c"
    done
    # setcap records its call and fails the second time, as on a file system that
    # cannot hold capabilities: the install must go on.
    printf '#!/bin/sh\necho "setcap $*" >>"%s"\n[ ! -e "%s" ] || exit 1\n: >"%s"\n' \
        "$work/ns/calls" "$work/ns/setcap.done" "$work/ns/setcap.done" >"$work/ns/bin/setcap"
    chmod +x "$work/ns/bin/setcap"
    rm -f "$work/ns/setcap.done"
    : >"$work/ns/calls"
    timeout 60 unshare -m sh -c '
        mount --bind "$1/etc" /etc && mount --bind "$1/run" /run || exit 1
        PATH=$1/bin:$PATH
        sh "$2/postinst" configure && sh "$2/postinst" configure 1.0-1 || exit 1
        getent passwd vantrel-server | cut -d: -f6,7
        getent passwd | grep -c "^vantrel-server:"' sh "$work/ns" "$work/control" \
        >"$work/ns/user" 2>"$work/ns/stderr" || { cat "$work/ns/user" "$work/ns/stderr"; fail "postinst"; }
    [ "$(cat "$work/ns/user")" = "$(printf '/var/lib/vantrel-server:/usr/sbin/nologin\n1')" ] ||
        { cat "$work/ns/user"; fail "postinst did not create the system user once"; }
    [ "$(grep -c '^setcap cap_net_bind_service=+ep /usr/bin/vantrel-server$' "$work/ns/calls")" = 2 ] ||
        { cat "$work/ns/calls"; fail "postinst did not give the program port 69 (setcap)"; }
    grep -q 'cannot hold capabilities' "$work/ns/stderr" ||
        { cat "$work/ns/stderr"; fail "postinst did not say that setcap failed"; }
    ! grep -v 'daemon-reload\|^setcap ' "$work/ns/calls" || fail "postinst did more than reload systemd"
    grep -q 'daemon-reload' "$work/ns/calls" || fail "postinst did not reload systemd"
    rm -rf "$work/ns/etc"
    echo "maintainer scripts: user created once, service neither enabled nor started"
}

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
for script in postinst prerm postrm; do
    sh -n "$work/control/$script" || fail "$script is not valid sh"
done
grep -q '^ *setcap cap_net_bind_service=+ep /usr/bin/vantrel-server' "$work/control/postinst" ||
    fail "postinst gives the program no capability for port 69"
dpkg-deb -f "$deb" Depends | grep -q 'libcap2-bin' || fail "Depends lacks libcap2-bin (setcap)"
grep -qx /etc/vantrel-server/vantrel-server.conf "$work/control/conffiles" ||
    fail "the service's settings are not a conffile"
grep -qx /etc/ufw/applications.d/vantrel-server "$work/control/conffiles" ||
    fail "the ufw profile is not a conffile"
maintainer_scripts

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
check_firewall "$root/etc" "$root/usr"
validate_tree "$root" /usr
echo PASS
