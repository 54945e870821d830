#!/bin/sh
# Builds everything with warnings as errors and runs every test; then
# builds and runs the tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer (and, where clang's libFuzzer is available,
# replays and briefly runs the fuzz targets in that pass).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

"$ROOT/scripts/setup.sh"

JOBS=${JOBS:-$(nproc)}

echo "== build (warnings as errors)"
# The benchmark programs are built (not run) so that they keep compiling.
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANDRILL_WERROR=ON -DBANDRILL_BENCH=ON >/dev/null
cmake --build build/release -j "$JOBS"
echo "== tests"
ctest --test-dir build/release --output-on-failure -j "$JOBS"

echo "== build (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DBANDRILL_WERROR=ON -DBANDRILL_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$JOBS"
echo "== tests under sanitizers"
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    ctest --test-dir build/asan --output-on-failure -j "$JOBS"

if [ -x "$ROOT/scripts/fuzz.sh" ]; then
    echo "== fuzzing"
    "$ROOT/scripts/fuzz.sh"
fi
