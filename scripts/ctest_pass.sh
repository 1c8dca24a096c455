#!/usr/bin/env bash
# One CTest pass over a build folder, as CI runs it: ctest's own output and summary
# unchanged, then the tests that skipped. A test labelled ROOT skips only for want of
# root, namespaces, QEMU or a tool; CI runs as root with every tool scripts/test.sh
# installs, so there such a skip is a failure, never a pass.
#   scripts/ctest_pass.sh BUILD_DIR [ctest options...]   (e.g. -R '^link$')
set -u
dir=$1
shift
log=$(mktemp)
trap 'rm -f "$log"' EXIT

(cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log"
status=${PIPESTATUS[0]}

# ctest's closing list: "  12 - link (Skipped)".
mapfile -t skipped < <(sed -n -E 's/^[[:space:]]*[0-9]+ - (.+) \(Skipped\)$/\1/p' "$log")
mapfile -t rooted < <(cd "$dir" && ctest -N -L '^ROOT$' "$@" |
    sed -n -E 's/^[[:space:]]*Test +#[0-9]+: (.+)$/\1/p')
echo "== skipped in this pass: ${skipped[*]:-none}"
# A Qt test whose case calls QSKIP still passes as a whole: name such cases too, from
# the full output ctest keeps.
mapfile -t cases < <(sed -n -E 's/^SKIP   : ([^ ]+).*/\1/p' \
    "$dir/Testing/Temporary/LastTest.log" 2>/dev/null | sort -u)
echo "== cases skipped inside passing tests: ${cases[*]:-none}"

if [ "$(id -u)" -eq 0 ]; then
    bad=()
    for t in "${skipped[@]}"; do
        for r in "${rooted[@]}"; do
            [ "$t" = "$r" ] && bad+=("$t")
        done
    done
    if [ ${#bad[@]} -gt 0 ]; then
        echo "== FAIL: marked ROOT but skipped while running as root: ${bad[*]} (their output says why)"
        status=1
    fi
fi
# ctest's summary again as the pass's closing line, for whatever reads the last line.
grep -E '^[0-9]+% tests passed' "$log" | tail -n 1
exit "$status"
