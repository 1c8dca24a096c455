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
ctest --output-on-failure -j 2
