#!/bin/bash
# scripts/ctest_pass.sh on a project of two tests that skip (exit 77), one labelled ROOT:
# as root the pass fails and names it, the other skip alone passes; not as root both
# pass. Either way the skips are listed and ctest's summary closes the pass.
#   root_skip.sh REPOSITORY
set -u
repo=$1
work=$(mktemp -d /tmp/rootskip.XXXXXX)
trap 'rm -rf "$work"' EXIT
cat >"$work/CMakeLists.txt" <<'END'
cmake_minimum_required(VERSION 3.25)
project(RootSkip NONE)
enable_testing()
add_test(NAME needs_root COMMAND sh -c "echo 'SKIP: planted'; exit 77")
set_tests_properties(needs_root PROPERTIES SKIP_RETURN_CODE 77 LABELS "netboot;ROOT")
add_test(NAME needs_tool COMMAND sh -c "exit 77")
set_tests_properties(needs_tool PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME runs COMMAND true)
END
cmake -S "$work" -B "$work/build" >/dev/null || exit 1
failed=0
pass() { # WANT_STATUS CTEST_OPTIONS...: runs the pass, checks its status and its last lines
    local want=$1
    shift
    "$repo/scripts/ctest_pass.sh" "$work/build" "$@" >"$work/out" 2>&1
    local got=$?
    if [ $got -ne "$want" ]; then
        echo "FAIL: ctest_pass.sh $* gave $got, not $want:"; cat "$work/out"; failed=1; return
    fi
    tail -n 1 "$work/out" | grep -q '^100% tests passed' ||
        { echo "FAIL: ctest's summary does not close the pass ($*)"; failed=1; return; }
    grep -q '^== skipped in this pass: .*needs_' "$work/out" ||
        { echo "FAIL: no list of skipped tests ($*)"; failed=1; return; }
    echo "PASS: ctest_pass.sh $*: status $got"
}
if [ "$(id -u)" -eq 0 ]; then
    pass 1
    grep -q '^== FAIL: .*needs_root' "$work/out" || { echo "FAIL: the ROOT test is not named"; failed=1; }
    grep -q '^== FAIL: .*needs_tool' "$work/out" && { echo "FAIL: a test without ROOT is named"; failed=1; }
else
    pass 0
fi
pass 0 -R needs_tool
exit $failed
