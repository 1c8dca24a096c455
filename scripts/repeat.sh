#!/usr/bin/env bash
# Runs one test binary many times and counts the failures, to show a test does not flake.
#   scripts/repeat.sh [--times N] [BUILD_DIR] [TEST]    (defaults: 200, build, tst_enginehost)
set -u
times=200
if [ "${1:-}" = --times ]; then times=$2; shift 2; fi
build=${1:-build}
test=${2:-tst_enginehost}
bin=$(find "$build/tests" -type f -name "$test" -perm -u+x | head -n 1)
[ -n "$bin" ] || { echo "no $test under $build/tests" >&2; exit 2; }
failed=0
for ((i = 1; i <= times; i++)); do
    if ! QT_QPA_PLATFORM=offscreen timeout 120 "$bin" >"/tmp/repeat-$test.log" 2>&1; then
        failed=$((failed + 1))
        cp "/tmp/repeat-$test.log" "/tmp/repeat-$test.fail$failed.log"
    fi
done
echo "$test: $((times - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
