#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (CTest); then builds again
# with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test under them.
# Each pass ends with the tests it skipped; a ROOT test skipped as root fails it
# (scripts/ctest_pass.sh).
#   scripts/test.sh             both passes
#   scripts/test.sh --quick     the plain pass only
#   scripts/test.sh --sanitize  the sanitizer pass only
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/common.sh"
ensure_packages "${packages_build[@]}" "${packages_test[@]}"

mode=${1:-all}
case $mode in
all | --quick | --sanitize) ;;
*) echo "usage: $0 [--quick | --sanitize]" >&2; exit 2 ;;
esac

# Serially: the tests start servers on real loopback ports, and some take fixed ones.
if [ "$mode" != --sanitize ]; then
    echo "== build and test"
    build "$repo/build"
    "$repo/scripts/ctest_pass.sh" "$repo/build"
fi
if [ "$mode" != --quick ]; then
    echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
    build "$repo/build-sanitize" -DVANTREL_SANITIZE=ON
    "$repo/scripts/ctest_pass.sh" "$repo/build-sanitize"
fi
