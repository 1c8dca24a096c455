#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (CTest). With --sanitize the
# build and the tests run under AddressSanitizer and UndefinedBehaviorSanitizer.
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/common.sh"
ensure_packages "${packages_build[@]}" "${packages_test[@]}"
dir=$repo/build
options=()
if [ "${1:-}" = "--sanitize" ]; then
    dir=$repo/build-sanitize
    options=(-DVANTREL_SANITIZE=ON)
fi
build "$dir" "${options[@]}"
cd "$dir"
# Serially: the servers that the tests start each hand out transfer ports from 29001.
ctest --output-on-failure
