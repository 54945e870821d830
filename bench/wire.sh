#!/bin/bash
# The printer streams on the wire: bytes, and the seconds they take on an
# RS-232 link at 115200 baud (8N1: 11,520 bytes/s) and on a Bluetooth
# serial link at 20 KB/s (20,000 bytes/s), for every printer family on a
# 4 x 6 in shipping label (8-bit grey as CUPS sends it by default, and
# 1-bit), a job of 20 such labels and a long receipt (384 x 3000 dots,
# 1,734 blank rows). "plain" is the shipped PPD with InkOnly and
# FastCompress off, the stream every PPD without them gets; "lean" is the
# shipped PPD as it is. TSPL is also shown with ImageCompress on, zlib's
# default level (plain) against FastCompress (lean). Last, 3 copies of the
# 8-bit label: plain is what a PPD asking for manual copies gets (CUPS's
# converters send the label three times), lean the shipped PPD, which
# leaves the copies to the printer; "one copy" is the lean label once.
#
# Usage: bench/wire.sh [BANDRILL]
# Environment: BUILD (default build-bench, configured when missing), which
# also gives the PPDs (BUILD/ppd/ppd) and the job writer.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
BANDRILL=${1:-$BUILD/bandrill}
MKJOB="$BUILD/bench/bandrill-bench-mkjob"
PPDS="$BUILD/ppd/ppd"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANDRILL_BENCH=ON \
          -DBANDRILL_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target bandrill bandrill-bench-mkjob bandrill-ppds >/dev/null

WORK=$(mktemp -d "${TMPDIR:-/tmp}/bandrill-wire.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

"$MKJOB" "$WORK/label8.ras" --bpp 8 --pages 1
"$MKJOB" "$WORK/label1.ras" --bpp 1 --pages 1
"$MKJOB" "$WORK/labels20.ras" --bpp 8 --pages 20
"$MKJOB" "$WORK/receipt.ras" --bpp 8 --pages 1 --width 384 --height 3000 --receipt
"$MKJOB" "$WORK/label8x3.ras" --bpp 8 --pages 1 --copies 3

# PPD with the given defaults changed: ppd_with OUT IN KEY=VALUE...
ppd_with() {
    local out=$1 in=$2
    shift 2
    cp "$in" "$out"
    for kv in "$@"; do
        sed -i "s/^\*Default${kv%%=*}: .*/*Default${kv%%=*}: ${kv#*=}/" "$out"
    done
}

bytes() { # ppd job
    PPD=$1 "$BANDRILL" 1 wire wire 1 "" "$2" 2>/dev/null | wc -c
}

printf '%-22s %-9s %10s %10s %6s %9s %9s %9s %9s\n' family job "plain B" "lean B" ratio \
    "plain 115k" "lean 115k" "plain 20K" "lean 20K"
row() { # name job plain-ppd lean-ppd
    local p l
    p=$(bytes "$3" "$WORK/$2.ras")
    l=$(bytes "$4" "$WORK/$2.ras")
    awk -v n="$1" -v j="$2" -v p="$p" -v l="$l" 'BEGIN {
        printf "%-22s %-9s %10d %10d %6.3f %8.2fs %8.2fs %8.2fs %8.2fs\n",
               n, j, p, l, l / p, p / 11520, l / 11520, p / 20000, l / 20000 }'
}

for f in tspl-203 cpcl escpos-58 peripage-384 paperang; do
    lean="$PPDS/bandrill-$f.ppd"
    plain="$WORK/$f-plain.ppd"
    ppd_with "$plain" "$lean" InkOnly=False FastCompress=False
    for job in label8 label1 labels20 receipt; do
        row "$f" "$job" "$plain" "$lean"
    done
done
zplain="$WORK/tspl-zlib.ppd"
zlean="$WORK/tspl-fast.ppd"
ppd_with "$zplain" "$PPDS/bandrill-tspl-203.ppd" ImageCompress=1 FastCompress=False InkOnly=False
ppd_with "$zlean" "$PPDS/bandrill-tspl-203.ppd" ImageCompress=1
for job in label8 label1 labels20 receipt; do
    row "tspl-203 ImageCompress" "$job" "$zplain" "$zlean"
done

printf '\n%-22s %10s %10s %10s %6s\n' "3 copies" "plain B" "lean B" "one copy" ratio
for f in tspl-203 cpcl escpos-58 peripage-384 paperang; do
    lean="$PPDS/bandrill-$f.ppd"
    plain="$WORK/$f-plain.ppd"
    one=$(bytes "$lean" "$WORK/label8.ras")
    p=$(( 3 * $(bytes "$plain" "$WORK/label8.ras") ))
    l=$(bytes "$lean" "$WORK/label8x3.ras")
    awk -v n="$f" -v p="$p" -v l="$l" -v o="$one" 'BEGIN {
        printf "%-22s %10d %10d %10d %6.3f\n", n, p, l, o, l / o }'
done
