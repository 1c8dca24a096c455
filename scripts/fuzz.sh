#!/usr/bin/env bash
# Builds the libFuzzer targets under tests/fuzz/ with clang (their own configuration:
# the product's build uses g++) and runs each for a bounded time.
#
#   scripts/fuzz.sh [--seconds N] [--jobs J] [TARGET...]   (default 300 s each, every target)
#
# Needs clang and libclang-rt-14-dev (apt-get install -y clang libclang-rt-14-dev).
# A crash leaves its input as crash-* in the run folder and ends the script with an error;
# copy such an input into tests/fuzz/regressions/ once it is fixed.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VANTREL_FUZZ_BUILD:-$ROOT/build-fuzz}
SECONDS_EACH=300
JOBS=1
targets=()
while [[ $# -gt 0 ]]; do
    case $1 in
    --seconds) SECONDS_EACH=$2; shift 2 ;;
    --jobs) JOBS=$2; shift 2 ;;
    -*) echo "usage: $0 [--seconds N] [--jobs J] [fuzz_request] [fuzz_transfer] [fuzz_dhcp] [fuzz_dhcp6] [fuzz_http]" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
    esac
done
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_request fuzz_transfer fuzz_dhcp fuzz_dhcp6 fuzz_http)

if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is missing: apt-get install -y clang libclang-rt-14-dev" >&2
    exit 1
fi
CC=clang CXX=clang++ cmake -S "$ROOT/tests/fuzz" -B "$BUILD" -G Ninja >/dev/null
cmake --build "$BUILD" -j2 >/dev/null

status=0
for target in "${targets[@]}"; do
    run=$BUILD/run-$target
    corpus=$run/corpus
    mkdir -p "$corpus"
    # Seeds: the regression inputs, the target's seeds, and a few valid requests and
    # packets (for DHCP the captured ones).
    for dir in "$ROOT/tests/fuzz/regressions/$target" "$ROOT/tests/fuzz/seeds/$target"; do
        if [[ -d $dir ]]; then cp -n "$dir"/* "$corpus/" 2>/dev/null || true; fi
    done
    case $target in
    fuzz_dhcp | fuzz_dhcp6) cp -n "$ROOT"/tests/dhcp/data/*.bin "$corpus/" ;;
    fuzz_request | fuzz_transfer)
        printf '\x00\x00\x01f.bin\x00octet\x00' >"$corpus/seed-rrq"
        printf '\x04\x00\x02u.bin\x00netascii\x00blksize\x001428\x00' >"$corpus/seed-wrq"
        printf '\x00\x03\x00\x03\x00\x03\x00\x04\x00\x00\x00' >"$corpus/seed-events"
        ;;
    esac
    echo "fuzz: $target for $SECONDS_EACH s" >&2
    # The targets never touch the network: the engine runs on the fake platform.
    (cd "$run" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        QT_QPA_PLATFORM=offscreen HOME="$run/home" XDG_CONFIG_HOME="$run/xdg" \
        "$BUILD/$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
        -max_len=1200 -jobs="$JOBS" -workers="$JOBS" -print_final_stats=1 corpus \
        >"$run/log.txt" 2>&1) || status=1
    tail -n 12 "$run/log.txt" | grep -E 'stat::|Done|ERROR|SUMMARY' || true
    if ls "$run"/crash-* "$run"/leak-* "$run"/timeout-* >/dev/null 2>&1; then
        echo "fuzz: $target found problems:" "$run"/crash-* "$run"/leak-* "$run"/timeout-* >&2
        status=1
    fi
done
exit $status
