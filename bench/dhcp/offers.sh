#!/usr/bin/env bash
# The lease table's cost per offer at 60,000 leases (offers.cpp), for the working tree and
# for each revision named (its engine/dhcp/LeaseTable.*), e.g. `offers.sh main`.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tree=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
qt="$(pkg-config --cflags --libs Qt6Core Qt6Network)"
run() { # NAME ROOT
    # shellcheck disable=SC2086
    g++ -O2 -std=c++20 -fPIC -I"$2" "$here/offers.cpp" "$2/engine/dhcp/LeaseTable.cpp" $qt -o "$work/$1"
    echo "$1: $("$work/$1")"
}
run tree "$tree"
for rev in "$@"; do
    mkdir -p "$work/src-$rev/engine/dhcp"
    for f in LeaseTable.cpp LeaseTable.h; do
        git -C "$tree" show "$rev:engine/dhcp/$f" >"$work/src-$rev/engine/dhcp/$f"
    done
    run "$rev" "$work/src-$rev"
done
