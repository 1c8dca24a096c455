#!/usr/bin/env bash
# cmake --install with DESTDIR: the program runs from the tree, the desktop entry
# launches it with an icon of the theme that is sharp at 256 px, the manual page
# covers the service's option and the exit codes, the firewalls' definitions name our
# ports, and the validators pass.
#   install_tree.sh BUILD_DIR WORK_DIR
set -u
build=$1 work=$2
. "$(dirname "$0")/validate.sh"
rm -rf "$work" && mkdir -p "$work"
root=$work/root prefix=/usr/local
DESTDIR=$root cmake --install "$build" --prefix $prefix >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install"; }
p=$root$prefix
# The last thing it says: how the program gets port 69 without root.
grep -q "sudo setcap cap_net_bind_service=+ep $prefix/bin/vantrel-server\$" "$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install does not print the setcap command"; }
grep -qx 'StartupWMClass=vantrel-server' "$p/share/applications/org.vantrel.Server.desktop" ||
    fail "the desktop entry names no window class"

desktop=$p/share/applications/org.vantrel.Server.desktop
exec=$(sed -n 's/^Exec=//p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -x "$p/bin/$exec" ] || fail "Exec=$exec is not an installed program"
"$p/bin/$exec" --version | grep -q '^vantrel-server [0-9]' || fail "$exec --version"
[ -f "$p/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
big=$p/share/icons/hicolor/256x256/apps/$icon.png
[ "$(file -b "$big" | grep -o '256 x 256')" = "256 x 256" ] || fail "$big is not 256x256"

man=$(MANWIDTH=100 man -l "$p/share/man/man1/vantrel-server.1.gz" 2>/dev/null)
for part in --settings 'EXIT STATUS' 'cap_net_bind_service' EXAMPLES FILES; do
    grep -q -- "$part" <<<"$man" || fail "manual page lacks $part"
done

unit=$p/lib/systemd/system/vantrel-server.service
grep -q "^ExecStart=$prefix/bin/vantrel-server --headless --settings $prefix/etc/vantrel-server/vantrel-server.conf$" "$unit" ||
    fail "the unit does not run the installed program with the installed settings"
[ -f "$p/etc/vantrel-server/vantrel-server.conf" ] || fail "no settings file for the service"
# The sandbox as systemd rates it (0 best, 10 worst); it was 3.4 before the system-call
# filter and the rest.
if systemd-analyze security --offline=true "$unit" >"$work/security.txt" 2>&1; then
    score=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$work/security.txt")
    awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 2.0) }' ||
        { tail -1 "$work/security.txt"; fail "the unit's exposure is ${score:-unknown}, above 2.0"; }
else
    echo "systemd-analyze security --offline not available: sandbox not rated"
fi

check_firewall "$p/etc" "$p"
validate_tree "$root" $prefix
echo "PASS"
