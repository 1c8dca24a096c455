#!/bin/bash
# The include check catches what it is for: on a copy of the sources without .git, it
# passes as they are and fails on each planted include that breaks the table, naming
# the file. The plants are those that once went through unnoticed.
#   includes_planted.sh REPOSITORY
set -u
repo=$1
check=$repo/tests/layout/includes.sh
work=$(mktemp -d /tmp/includes.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0

copy() {
    rm -rf "$work/src" && mkdir "$work/src" &&
        cp -r "$repo/engine" "$repo/settings" "$repo/ui" "$repo/feedback" "$repo/app" "$work/src/"
}
copy
if bash "$check" "$work/src" >"$work/out"; then
    echo "PASS: the sources as they are, outside git"
else
    echo "FAIL: the sources as they are:"; cat "$work/out"; failed=1
fi

plant() { # FILE LINE: the copy with LINE after FILE's first line must fail, naming FILE
    [ -n "$last" ] && cp "$repo/$last" "$work/src/$last" # one plant at a time
    last=$1
    sed -i "1a $2" "$work/src/$1"
    if bash "$check" "$work/src" >"$work/out"; then
        echo "FAIL: passed with $1 given $2"; failed=1
    elif grep -q "^$1:2:" "$work/out"; then
        echo "PASS: $1 given $2"
    else
        echo "FAIL: $1 given $2 failed without naming it:"; cat "$work/out"; failed=1
    fi
}
last=
plant engine/boot/ProxyDhcp.cpp '#include "engine/dhcp/DhcpValues.h"'
plant engine/dhcp/DhcpServer.cpp '#include "engine/client/ClientRequest.h"'
plant engine/files/RequestPath.cpp '#include "engine/http/HttpService.h"'
plant engine/firewall/FirewallRules.cpp '#include "engine/server/ServerEngine.h"'
plant engine/bootp/DhcpPacket.cpp '#include "engine/server/ServerWindow.h"'
plant engine/bootp/DhcpPacket.cpp '#include "engine/boot/BootPolicy.h"'
plant engine/boot/BootPolicy.cpp '#include "engine/dhcp/DhcpServer.h"'
plant engine/http/HttpService.cpp '#include "engine/server/ServerEngine.h"'
plant engine/platform/FolderFiles.cpp '#include "engine/config/EngineSettings.h"'
plant ui/MainFrame.cpp '#include "engine/server/ServerEngine.h"'
plant feedback/WaveSound.cpp '#include "MainFrame.h"'
plant settings/SettingsStore.cpp '#include "ui/MainFrame.h"'
exit $failed
