#!/bin/bash
# Includes that point up the layers: a service beside the server (HTTP, boot offers), a
# lower wing that reaches for the server's hub, the engine reaching for the store or the
# window. Each finding is printed; any fails.
set -u
cd "$1" || exit 2
found=0
check() {
    local what=$1; shift
    local hits
    hits=$(git grep -n "$@" 2>/dev/null)
    if [ -n "$hits" ]; then
        echo "upward include ($what):"
        echo "$hits"
        found=1
    fi
}
check "only engine/host composes the server" 'ServerEngine.h' -- engine/http engine/boot engine/client engine/dhcp \
    engine/tftp engine/files engine/platform
check "the protocol, files and platform wings stay below the server" '#include "engine/server/' \
    -- engine/tftp engine/files engine/platform engine/client
check "the server knows no service beside it: the host composes them" \
    -E '#include "engine/(http|boot|dhcp|client|host)/' -- engine/server
check "only the host includes the host" '#include "engine/host/' -- engine/tftp engine/files \
    engine/platform engine/server engine/http engine/boot engine/dhcp engine/client engine/config
check "the platform is the engine's floor" \
    -E '#include "engine/(tftp|files|server|http|boot|dhcp|client|host|config)/' -- engine/platform
check "the protocol reaches nothing above the platform" \
    -E '#include "engine/(files|server|http|boot|dhcp|client|host|config)/' -- engine/tftp
# Of the server, a service sees its context, the admission and the window's types only.
hits=$(git grep -n -E '#include "engine/server/' -- engine/http engine/boot engine/dhcp 2>/dev/null |
    grep -v -E '"engine/server/(ServiceContext|Admission|ServerWindow)\.h"')
if [ -n "$hits" ]; then
    echo "upward include (a service reaches into the server):"
    echo "$hits"
    found=1
fi
check "the engine links no widgets" -e '#include <QtWidgets' -e '#include <QWidget' \
    -e '#include "ui/' -- engine
check "the store sits above the engine, which is handed values" -e '#include "settings/' \
    -e 'SettingsStore' -- engine
check "engine/config is the engine's bottom: Qt and the protocol's limits only" -E '#include "engine/(platform|files|server|http|boot|host|dhcp|client)/' \
    -- engine/config
check "settings/ is the store alone, below the window" -e '#include <QtWidgets' -e '#include <QWidget' \
    -e '#include "ui/' -e '#include "feedback/' -- settings
exit $found
