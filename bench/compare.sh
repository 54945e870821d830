#!/bin/bash
# Whole-process comparison of bandrill with CUPS's own label filter.
#
# Writes a job of 20 labels of 812 x 1218 dots (4 x 6 in at 203 dpi) with
# libcups, once at 1 bit per pixel (colour space K, as label PPDs ask for)
# and once as 8-bit grey, and runs, alternately and RUNS times each:
#
#   rastertolabel  on the 1-bit job, with the Zebra ZPL PPD that ppdc builds
#                  from CUPS's sample.drv;
#   bandrill       on the 1-bit job, with the project's TSPL PPD (model
#                  number 20, ppd/bandrill.drv) and its default settings;
#   bandrill       on the 8-bit job, same PPD with the job option
#                  ImageFilter=3, so Burkes dithering runs on every page
#                  (the PPD's default is threshold).
#
# Each run is one process started the way the scheduler starts a filter
# (raster on standard input, output and messages to /dev/null); its wall time
# includes start-up, PPD parsing and exit. Prints the median wall times, the
# ratios against rastertolabel and the median peak resident set sizes.
#
# Then it runs bandrill on a long receipt: one 8-bit page of 384 x 70,000
# dots (a 48 mm roll at 203 dpi, 8.6 m) through the ESC/POS back end with
# the project's 58 mm PPD, and prints its median wall time and peak resident
# memory. The ratios are medians of the ratios of paired runs (the same
# round, so the same load on a shared machine). The memory limit of every
# job is its one-bit page plus 8 MiB.
#
# Usage: bench/compare.sh [RUNS]
# Environment: BUILD (build directory, default build-bench, configured here
# as RelWithDebInfo), PAGES (default 20), COMPRESSED=1 to write the jobs as
# compressed (version 2) raster streams, KEEP=1 to keep the work directory,
# RECEIPT_ROWS (default 70000; 0 leaves the receipt out), RECEIPT_RUNS
# (default 5), BANDRILL (the filter to measure, default $BUILD/bandrill:
# another build's binary gives its figures on the same jobs).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${1:-30}
PAGES=${PAGES:-20}
RECEIPT_ROWS=${RECEIPT_ROWS:-70000}
RECEIPT_RUNS=${RECEIPT_RUNS:-5}
BUILD=${BUILD:-$ROOT/build-bench}
RTL=${RASTERTOLABEL:-/usr/lib/cups/filter/rastertolabel}
DRV=/usr/share/cups/drv/sample.drv

for tool in ppdc "$RTL"; do
    command -v "$tool" >/dev/null || { echo "compare: $tool not found (package cups, cups-ppdc)" >&2; exit 1; }
done

# The optimised build, never the sanitizer one.
if [ -f "$BUILD/CMakeCache.txt" ] && grep -q '^BANDRILL_SANITIZE:BOOL=ON' "$BUILD/CMakeCache.txt"; then
    echo "compare: $BUILD is a sanitizer build; use another BUILD directory" >&2
    exit 1
fi
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANDRILL_BENCH=ON \
          -DBANDRILL_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target bandrill bandrill-bench-mkjob bandrill-bench-run >/dev/null
BANDRILL=${BANDRILL:-$BUILD/bandrill}
MKJOB="$BUILD/bench/bandrill-bench-mkjob"
RUN="$BUILD/bench/bandrill-bench-run"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/bandrill-compare.XXXXXX")
if [ "${KEEP:-0}" = 1 ]; then
    echo "compare: work directory $WORK"
else
    trap 'rm -rf "$WORK"' EXIT
fi

mode=()
[ "${COMPRESSED:-0}" = 1 ] && mode=(--compressed)
"$MKJOB" "$WORK/job1.ras" --bpp 1 --pages "$PAGES" "${mode[@]}"
"$MKJOB" "$WORK/job8.ras" --bpp 8 --pages "$PAGES" "${mode[@]}"

# CUPS's Zebra ZPL PPD, built from the sample driver file.
mkdir -p "$WORK/ppd"
ppdc -d "$WORK/ppd" "$DRV" 2>/dev/null
ZEBRA=$(grep -l '^\*ModelName: "Zebra ZPL Label Printer"' "$WORK"/ppd/*.ppd | head -n1)
[ -n "$ZEBRA" ] || { echo "compare: no Zebra ZPL PPD from $DRV" >&2; exit 1; }

# bandrill's queue: the project's own TSPL PPD at 203 dpi, every option at
# its default; the 8-bit job asks for Burkes (ImageFilter=3).
ppdc -D BANDRILL_VERSION="$(sed -n 's/^project(bandrill VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")" \
    -d "$WORK/ppd" "$ROOT/ppd/bandrill.drv" 2>/dev/null
TSPL="$WORK/ppd/bandrill-tspl-203.ppd"
[ -f "$TSPL" ] || { echo "compare: no TSPL PPD from $ROOT/ppd/bandrill.drv" >&2; exit 1; }

# Job options of each run: Burkes on the 8-bit job.
opts() { # name
    case $1 in bdr8) echo "ImageFilter=3" ;; *) echo "" ;; esac
}

run() { # name job ppd program
    PPD="$3" "$RUN" "$2" /dev/null /dev/null -- "$4" 1 bench job 1 "$(opts "$1")" >>"$WORK/$1.log"
}

# One checked run of each, keeping the output.
check() { # name job ppd program
    PPD="$3" "$RUN" "$2" "$WORK/$1.out" "$WORK/$1.err" -- "$4" 1 bench job 1 "$(opts "$1")" >"$WORK/$1.first"
    if ! grep -q 'status=0' "$WORK/$1.first" || [ ! -s "$WORK/$1.out" ]; then
        echo "compare: $1 failed: $(cat "$WORK/$1.first")" >&2
        tail -n 5 "$WORK/$1.err" >&2
        exit 1
    fi
}
check rtl1 "$WORK/job1.ras" "$ZEBRA" "$RTL"
check bdr1 "$WORK/job1.ras" "$TSPL" "$BANDRILL"
check bdr8 "$WORK/job8.ras" "$TSPL" "$BANDRILL"

# Alternating runs; the order rotates every round so that none of the three
# always follows the same one.
names=(rtl1 bdr1 bdr8)
jobs=("$WORK/job1.ras" "$WORK/job1.ras" "$WORK/job8.ras")
ppds=("$ZEBRA" "$TSPL" "$TSPL")
progs=("$RTL" "$BANDRILL" "$BANDRILL")
for ((i = 0; i < RUNS; i++)); do
    for ((k = 0; k < 3; k++)); do
        j=$(((i + k) % 3))
        run "${names[j]}" "${jobs[j]}" "${ppds[j]}" "${progs[j]}"
    done
done

# The long receipt: one 8-bit page of 384 x RECEIPT_ROWS dots through the
# ESC/POS back end (58 mm PPD, default settings), RECEIPT_RUNS times.
if [ "$RECEIPT_ROWS" != 0 ]; then
    "$MKJOB" "$WORK/receipt8.ras" --bpp 8 --pages 1 --width 384 --height "$RECEIPT_ROWS" "${mode[@]}"
    ESCPOS="$WORK/ppd/bandrill-escpos-58.ppd"
    check rcp8 "$WORK/receipt8.ras" "$ESCPOS" "$BANDRILL"
    for ((i = 0; i < RECEIPT_RUNS; i++)); do
        run rcp8 "$WORK/receipt8.ras" "$ESCPOS" "$BANDRILL"
    done
fi

median() { # name field -> median of the field over the runs
    sed -n "s/.*$2=\([0-9]*\).*/\1/p" "$WORK/$1.log" | sort -n |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}
# Median of the ratios of paired runs (run i of name against run i of base:
# the same round, so the same load on the machine).
paired() { # name base
    paste -d ' ' <(sed -n 's/.*wall_us=\([0-9]*\).*/\1/p' "$WORK/$1.log") \
                 <(sed -n 's/.*wall_us=\([0-9]*\).*/\1/p' "$WORK/$2.log") |
        awk '{ print $1 / $2 }' | sort -g |
        awk '{ v[NR] = $1 } END { printf "%.3f\n", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The same for processor time (user and system): less moved by the load.
cpu() { # name -> user + system microseconds of each run
    sed -n 's/.*user_us=\([0-9]*\) sys_us=\([0-9]*\).*/\1 \2/p' "$WORK/$1.log" | awk '{ print $1 + $2 }'
}
paired_cpu() { # name base
    paste -d ' ' <(cpu "$1") <(cpu "$2") | awk '{ print $2 ? $1 / $2 : 0 }' | sort -g |
        awk '{ v[NR] = $1 } END { printf "%.3f\n", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

r1=$(median rtl1 wall_us); b1=$(median bdr1 wall_us); b8=$(median bdr8 wall_us)
m_r1=$(median rtl1 maxrss_kb); m_b1=$(median bdr1 maxrss_kb); m_b8=$(median bdr8 maxrss_kb)
p1=$(paired bdr1 rtl1); p8=$(paired bdr8 rtl1)
c1=$(paired_cpu bdr1 rtl1); c8=$(paired_cpu bdr8 rtl1)
rc=0; m_rc=0; l_rc=0
if [ "$RECEIPT_ROWS" != 0 ]; then
    rc=$(median rcp8 wall_us); m_rc=$(median rcp8 maxrss_kb)
fi
fails=$(cat "$WORK"/*.log | grep -vc 'status=0' || true)

# Every job within its one-bit page (rows padded to 4 bytes) and 8 MiB.
limit() { # width height -> KiB
    echo $(( (($1 + 31) / 32 * 4 * $2 + 8 * 1048576) / 1024 ))
}

echo "Job: $PAGES labels of 812 x 1218 dots at 203 dpi; $RUNS runs each, alternating;" \
     "raster stream $([ "${COMPRESSED:-0}" = 1 ] && echo compressed || echo uncompressed)"
echo "Output bytes: rastertolabel $(stat -c %s "$WORK/rtl1.out"), bandrill 1-bit $(stat -c %s "$WORK/bdr1.out")," \
     "bandrill 8-bit $(stat -c %s "$WORK/bdr8.out")"
[ "$RECEIPT_ROWS" != 0 ] && l_rc=$(limit 384 "$RECEIPT_ROWS")
awk -v r1="$r1" -v b1="$b1" -v b8="$b8" -v mr1="$m_r1" -v mb1="$m_b1" -v mb8="$m_b8" \
    -v p1="$p1" -v p8="$p8" -v c1="$c1" -v c8="$c8" -v rc="$rc" -v mrc="$m_rc" -v lrc="$l_rc" -v rows="$RECEIPT_ROWS" \
    -v rruns="$RECEIPT_RUNS" -v l1="$(limit 812 1218)" 'BEGIN {
    printf "%-36s %10s %12s %10s %12s %14s\n", "", "median ms", "paired ratio", "cpu ratio",
        "peak RSS KiB", "RSS limit KiB"
    printf "%-36s %10.2f %12s %10s %12d %14s\n", "rastertolabel, 1-bit job (ZPL)", r1 / 1000, "1.00",
        "1.00", mr1, "-"
    printf "%-36s %10.2f %12.2f %10.2f %12d %14d\n", "bandrill, 1-bit job (TSPL)", b1 / 1000, p1, c1,
        mb1, l1
    printf "%-36s %10.2f %12.2f %10.2f %12d %14d\n", "bandrill, 8-bit job (TSPL, Burkes)", b8 / 1000,
        p8, c8, mb8, l1
    ok = mb1 <= l1 && mb8 <= l1
    if (rows != 0) {
        printf "%-36s %10.2f %12s %10s %12d %14d\n", "bandrill, 384 x " rows " receipt (ESC/POS)",
            rc / 1000, "-", "-", mrc, lrc
        ok = ok && mrc <= lrc
    }
    printf "Goals: 1-bit ratio <= 0.30 (%s), 8-bit ratio <= 0.50 (%s), RSS within limits (%s)",
        (p1 <= 0.3 ? "met" : "missed"), (p8 <= 0.5 ? "met" : "missed"), (ok ? "met" : "missed")
    if (rows != 0)
        printf ", receipt RSS <= 16 MiB (%s; %d runs)", (mrc <= 16384 ? "met" : "missed"), rruns
    printf "\n"
}'
if [ "$fails" != 0 ]; then
    echo "compare: $fails runs did not exit with status 0" >&2
    exit 1
fi
