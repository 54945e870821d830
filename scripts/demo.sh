#!/bin/sh
# The main job: prints the bundled sample image (samples/sample.png) for
# every bundled PPD the way CUPS would, without a scheduler: cups-filters
# turns the image into CUPS raster for the PPD, the filter turns the raster
# into the printer's stream, and bandrill-decode draws what the printer
# would print. Everything lands in an output folder (default demo-out/):
#
#   NAME.ras   the raster cups-filters made     NAME.prn        the printer stream
#   NAME.log   the filter's messages            NAME-page1.png  the preview
#   NAME.txt   the decoded command listing
#
# usage: sh scripts/demo.sh [OUTDIR]
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-"$ROOT/demo-out"}
BUILD="$ROOT/build/release"
SAMPLE="$ROOT/samples/sample.png"
cd "$ROOT"

sh "$ROOT/scripts/setup.sh"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets="bandrill bandrill-ppds bandrill-families"
if [ -f "$ROOT/tools/CMakeLists.txt" ]; then
    targets="$targets bandrill-decode"
fi
# shellcheck disable=SC2086
cmake --build "$BUILD" -j "$(nproc)" --target $targets >/dev/null

DECODE="$BUILD/tools/bandrill-decode"
[ -x "$DECODE" ] || DECODE=""

PATH="/usr/sbin:/sbin:$PATH"
mkdir -p "$OUT"
printf '%-14s %-6s %-9s %10s  %s\n' "PPD" "model" "language" "bytes" "preview"
count=0
for ppd in "$BUILD"/ppd/ppd/bandrill-*.ppd; do
    name=$(basename "$ppd" .ppd)
    name=${name#bandrill-}
    model=$(sed -n 's/^\*cupsModelNumber: *\([0-9]*\).*/\1/p' "$ppd")
    # The printer language of the model number, from the family table.
    lang=$("$BUILD/tools/bandrill-families" | awk -v m="$model" '$1 == m { print $2 }')
    if [ -z "$lang" ]; then
        echo "demo: $ppd has model number '$model'" >&2
        exit 1
    fi
    # Roll printers have one width: the page is that wide and as long as
    # the sample's shape asks (5 x 3), so the converter does not turn the
    # sample sideways onto a long receipt. Label printers use their
    # default label, 50 x 30 mm like the sample.
    width=$(sed -n 's/^\*ParamCustomPageSize Width: *[0-9]* points \([0-9.]*\) \([0-9.]*\).*/\1 \2/p' "$ppd")
    set -- -p "$ppd" -m application/vnd.cups-raster
    case $width in
        "")
            ;;
        *)
            min=${width% *} max=${width#* }
            if [ "$min" = "$max" ]; then
                set -- "$@" -o "PageSize=Custom.${max}x$(awk "BEGIN { printf \"%.2f\", $max * 3 / 5 }")"
            fi
            ;;
    esac
    cupsfilter "$@" "$SAMPLE" >"$OUT/$name.ras" 2>"$OUT/$name.log"
    PPD="$ppd" "$BUILD/bandrill" 1 demo sample.png 1 "" "$OUT/$name.ras" \
        >"$OUT/$name.prn" 2>>"$OUT/$name.log"
    preview="-"
    if [ -n "$DECODE" ]; then
        rm -f "$OUT/$name"-page*.png
        if "$DECODE" --lang "$lang" --out "$OUT" --prefix "$name" "$OUT/$name.prn" >"$OUT/$name.txt" 2>&1; then
            preview=$(cd "$OUT" && ls "$name"-page*.png 2>/dev/null | tr '\n' ' ')
        else
            preview="(does not decode: see $name.txt)"
        fi
    fi
    printf '%-14s %-6s %-9s %10s  %s\n' "$name" "$model" "$lang" "$(wc -c <"$OUT/$name.prn")" "$preview"
    count=$((count + 1))
done
echo "demo: $count printer streams in $OUT"
if [ -z "$DECODE" ]; then
    echo "demo: bandrill-decode is not part of this tree yet; no previews"
fi
