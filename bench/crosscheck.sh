#!/bin/bash
# Runs two bandrill binaries on the same jobs with many settings and checks
# that their output is byte for byte the same: for checking that a change
# meant to make bandrill faster changes nothing it prints.
#
# Usage: bench/crosscheck.sh REFERENCE_BANDRILL [BANDRILL]
# Environment: MODELS (model numbers to run, default all five), BUILD,
# EXTRA (settings added to every PPD, e.g. "InkOnly=True" to compare two
# builds that both know that keyword).
# BANDRILL defaults to build-bench/bandrill. Jobs: 1-bit (colour space K),
# 8-bit grey and 24-bit RGB pages of odd and even widths; on two odd shapes
# also 4-bit grey, 32-bit RGBA, 8-bit and 24-bit in colour space K and
# 1-bit in W; a job cut off in the middle of a page and one with a page the
# filter refuses. Settings: the five languages' model numbers that exist in
# both, every ImageFilter method, thresholds, brightness and contrast (odd
# values too), crop limits, the rotations, TSPL compression.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
REF=${1:?usage: crosscheck.sh REFERENCE_BANDRILL [BANDRILL]}
NEW=${2:-$ROOT/build-bench/bandrill}
BUILD=${BUILD:-$ROOT/build-bench}
MKJOB="$BUILD/bench/bandrill-bench-mkjob"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANDRILL_BENCH=ON \
          -DBANDRILL_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target bandrill bandrill-bench-mkjob >/dev/null

WORK=$(mktemp -d "${TMPDIR:-/tmp}/bandrill-crosscheck.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

jobs=()
for shape in "384 300 203" "401 233 203" "577 101 300" "812 1218 203"; do
    set -- $shape
    for bpp in 1 8 24; do
        f="$WORK/job-$1x$2-$bpp.ras"
        "$MKJOB" "$f" --bpp "$bpp" --pages 2 --width "$1" --height "$2" --dpi "$3"
        jobs+=("$f")
    done
done
for shape in "401 233 203" "577 101 300"; do
    set -- $shape
    for form in "4" "32" "8 --space k" "24 --space k" "1 --space w"; do
        f="$WORK/job-$1x$2-${form// /}.ras"
        # shellcheck disable=SC2086
        "$MKJOB" "$f" --bpp $form --pages 2 --width "$1" --height "$2" --dpi "$3"
        jobs+=("$f")
    done
done
# Three pages with a refused 16-bit one in the middle; a job whose stream
# ends in the middle of a line of its second page.
"$MKJOB" "$WORK/job-refused.ras" --bpp 8 --pages 2 --width 203 --height 120 --refused
jobs+=("$WORK/job-refused.ras")
"$MKJOB" "$WORK/whole.ras" --bpp 8 --pages 2 --width 203 --height 120
head -c $(( $(stat -c %s "$WORK/whole.ras") - 203 * 50 - 77 )) "$WORK/whole.ras" >"$WORK/job-cut.ras"
jobs+=("$WORK/job-cut.ras")

ppd() { # model options... -> path of a PPD with those defaults
    local f="$WORK/ppd-$RANDOM$RANDOM.ppd"
    {
        printf '*PPD-Adobe: "4.3"\n*FormatVersion: "4.3"\n*FileVersion: "1.0"\n'
        printf '*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: "X.PPD"\n'
        printf '*Manufacturer: "X"\n*Product: "(X)"\n*ModelName: "X"\n*NickName: "X"\n'
        printf '*PSVersion: "(3010.000) 0"\n*LanguageLevel: "3"\n*ColorDevice: False\n'
        printf '*DefaultColorSpace: Gray\n*cupsVersion: 2.4\n*cupsModelNumber: %s\n' "$1"
        shift
        for kv in "$@"; do
            local k=${kv%%=*} v=${kv#*=}
            printf '*OpenUI *%s/%s: PickOne\n*Default%s: %s\n*%s %s/%s: ""\n*CloseUI: *%s\n' \
                "$k" "$k" "$k" "$v" "$k" "$v" "$v" "$k"
        done
    } >"$f"
    echo "$f"
}

settings=()
for f in 0 1 2 3 4 5 6 7 8 9 10 11; do settings+=("ImageFilter=$f"); done
settings+=("ImageFilter=12" "ImageFilter=-2"
           "ImageFilter=0 Threshold=100" "ImageFilter=0 Threshold=256" "Brightness=20 Contrast=30"
           "Brightness=-40 Contrast=-20 ImageFilter=1" "Brightness=7 Contrast=-13 ImageFilter=0"
           "Brightness=-3 Contrast=91 ImageFilter=5" "Brightness=100 Contrast=100 ImageFilter=9"
           "CropEdgeTop=-1 CropEdgeBottom=-1 CropEdgeLeft=-1 CropEdgeRight=-1"
           "CropEdgeTop=2 CropEdgeBottom=3 CropEdgeLeft=1 CropEdgeRight=4"
           "Rotate=1" "Rotate=2" "Rotate=3" "Rotate=2 CropEdgeLeft=-1 ImageFilter=5"
           "ImageCompress=1" "ImageCompress=1 Rotate=3")

count=0
failed=0
for model in ${MODELS:-20 22 23 21 24}; do
    for s in "${settings[@]}"; do
        # shellcheck disable=SC2086
        p=$(ppd "$model" zeMediaTracking=Gap ${EXTRA:-} $s)
        for j in "${jobs[@]}"; do
            PPD=$p "$REF" 1 u t 1 "" "$j" >"$WORK/ref.out" 2>/dev/null || true
            PPD=$p "$NEW" 1 u t 1 "" "$j" >"$WORK/new.out" 2>/dev/null || true
            count=$((count + 1))
            if ! cmp -s "$WORK/ref.out" "$WORK/new.out"; then
                failed=$((failed + 1))
                echo "DIFFERENT: model $model, $s, $(basename "$j")"
            fi
        done
    done
done
echo "crosscheck: $count runs, $failed with different output"
[ "$failed" = 0 ]
