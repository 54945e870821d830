#!/bin/sh
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build/fuzz, then runs each target for a
# bounded time over a copy of its corpus plus every past finding.
#
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_JOBS      targets run side by side (default: 2, or 1 on one core)
#   FUZZ_TARGETS   targets to run (default: all that were built)
#   FUZZ_BUILD_DIR where to build (default build/fuzz)
#
# A finding (crash, sanitizer report, broken property, timeout, memory
# blow-up) fails the script. Its input is kept under build/fuzz/findings/
# and printed as base64 in the log, so that it can be recovered from CI
# output: base64 -d > input, then replay it with the target or copy it to
# fuzz/crashes/<target>/ once the fault is mended.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build/fuzz}
# A build configured in build/ itself keeps its fuzz/ subdirectory (the
# replay programs) in build/fuzz; the clang build then goes beside it.
if [ -z "${FUZZ_BUILD_DIR:-}" ] && [ -f "$ROOT/build/CMakeCache.txt" ]; then
    BUILD="$ROOT/build-fuzz"
    echo "fuzz: build/ is a build tree of its own; building the fuzz targets in build-fuzz"
fi
SECONDS_PER_TARGET=${FUZZ_SECONDS:-60}
CORES=$(nproc 2>/dev/null || echo 1)
JOBS=${FUZZ_JOBS:-$([ "$CORES" -ge 2 ] && echo 2 || echo 1)}

if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ not found (scripts/setup.sh installs it)" >&2
    exit 1
fi

echo "== fuzz: build (clang, libFuzzer, ASan, UBSan)"
mkdir -p "$BUILD"
if ! CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DBANDRILL_FUZZ=ON -DBANDRILL_TESTS=OFF >"$BUILD/configure.log" 2>&1 ||
   ! cmake --build "$BUILD" --target fuzz_all -j "$CORES" >"$BUILD/build.log" 2>&1; then
    echo "fuzz: the build failed:" >&2
    tail -40 "$BUILD/configure.log" "$BUILD/build.log" >&2 2>/dev/null
    exit 1
fi

TARGETS=${FUZZ_TARGETS:-$(cd "$BUILD/fuzz" && find . -maxdepth 1 -type f -perm -u+x -name 'fuzz_*' | sed 's|^\./||' | sort)}
TARGETS=$(echo "$TARGETS" | sed 's/^fuzz_//')
if [ -z "$TARGETS" ]; then
    echo "fuzz: no targets were built" >&2
    exit 1
fi

WORK="$BUILD/work"
FINDINGS="$BUILD/findings"
rm -rf "$WORK"
mkdir -p "$WORK" "$FINDINGS"

# Per target: libFuzzer and sanitizer options that keep an iteration
# small and fast.
options_for() {
    case "$1" in
        raster_job) echo "-max_len=16384" ;;
        *) echo "-max_len=8192" ;;
    esac
}
asan_for() {
    case "$1" in
        # libcups allocates a line buffer of the size a page header claims
        # (up to 4 GB) before the filter sees the header; under ASan that
        # memory is cleared on every run. Such allocations fail instead,
        # and libcups then refuses the header.
        raster_job) echo "max_allocation_size_mb=64:" ;;
        *) echo "" ;;
    esac
}

run_target() {
    t=$1
    exe="$BUILD/fuzz/fuzz_$t"
    corpus="$WORK/$t-corpus"
    mkdir -p "$corpus"
    if [ -d "$ROOT/fuzz/corpus/$t" ]; then
        cp "$ROOT/fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null || true
    fi
    seeds="$corpus"
    if [ -d "$ROOT/fuzz/crashes/$t" ]; then
        seeds="$corpus $ROOT/fuzz/crashes/$t"
    fi
    mkdir -p "$FINDINGS/$t"
    # shellcheck disable=SC2046,SC2086
    ASAN_OPTIONS=$(asan_for "$t")${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/fuzz/lsan.supp:print_suppressions=0} \
        "$exe" $(options_for "$t") -max_total_time="$SECONDS_PER_TARGET" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$FINDINGS/$t/" \
        $seeds >"$WORK/$t.log" 2>&1
}

# Runs the targets JOBS at a time; each writes its status to WORK/<t>.rc.
echo "== fuzz: $SECONDS_PER_TARGET s per target, $JOBS at a time: $(echo $TARGETS)"
set -- $TARGETS
while [ $# -gt 0 ]; do
    batch=""
    i=0
    while [ $# -gt 0 ] && [ $i -lt "$JOBS" ]; do
        ( if run_target "$1"; then echo 0; else echo $?; fi >"$WORK/$1.rc" ) &
        batch="$batch $!"
        shift
        i=$((i + 1))
    done
    for pid in $batch; do
        wait "$pid" || true
    done
done

status=0
total=0
for t in $TARGETS; do
    rc=$(cat "$WORK/$t.rc" 2>/dev/null || echo 1)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$WORK/$t.log" | tail -1)
    runs=${runs:-0}
    total=$((total + runs))
    found=$(ls "$FINDINGS/$t" 2>/dev/null || true)
    echo "fuzz: $t: $runs executions, exit $rc"
    if [ "$rc" != 0 ] || [ -n "$found" ]; then
        status=1
        echo "---- fuzz: $t FAILED; end of its log:"
        tail -60 "$WORK/$t.log"
        for f in $found; do
            echo "---- fuzz: finding $FINDINGS/$t/$f ($(wc -c <"$FINDINGS/$t/$f") bytes), base64:"
            base64 -w 76 "$FINDINGS/$t/$f"
            echo "---- end of finding"
        done
        echo "---- replay: $BUILD/fuzz/fuzz_$t <file>"
    fi
done
echo "fuzz: $total executions in total"
exit $status
