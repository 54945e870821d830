#!/bin/sh
# The main job: runs the filter on the bundled sample page for each printer
# family and writes the printer streams (and, where the decoder is built,
# their previews) into an output folder.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT=${1:-"$ROOT/demo-out"}
cd "$ROOT"

"$ROOT/scripts/setup.sh"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target bandrill bandrill-mkraster >/dev/null

mkdir -p "$OUT"
RASTER="$OUT/sample.ras"
build/release/tests/bandrill-mkraster "$RASTER"

for model in 20 21 22 23 24; do
    case $model in
        20) name=tspl ;; 21) name=escpos ;; 22) name=cpcl ;; 23) name=paperang ;; 24) name=peripage ;;
    esac
    ppd="$OUT/$name.ppd"
    build/release/tests/bandrill-mkraster --ppd "$model" "$ppd"
    echo "== $name (model number $model)"
    PPD="$ppd" build/release/bandrill 1 demo sample 1 "" "$RASTER" >"$OUT/$name.prn"
    echo "   wrote $OUT/$name.prn ($(wc -c <"$OUT/$name.prn") bytes)"
done
