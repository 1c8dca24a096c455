#!/bin/bash
# Includes that point up the layers: a service beside the server (HTTP, boot offers) or
# a lower wing that reaches for the server's hub. Each finding is printed; any fails.
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
check "the engine links no widgets" -e '#include <QtWidgets' -e '#include <QWidget' \
    -e '#include "ui/' -- engine
exit $found
