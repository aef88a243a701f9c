#!/usr/bin/env bash
# Measures the launcher against floors taken in the same run on the same machine and prints a
# table of ratios (medians of RUNS runs). Everything it makes lives in bench/out/.
#
#   bench/run.sh            full sizes (2 GiB folder of 20,000 files, 512 MiB and 1 GiB installs)
#   bench/run.sh --quick    tiny sizes: only checks that the benchmark still works
#   options: --runs N (default 3),
#            --only LIST (comma list of: warm,cold,install,memory,publish),
#            --no-launcher (floors and peers only), --launcher EXE (measure another build)
set -euo pipefail

BENCH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ROOT="$(cd "$BENCH/.." && pwd)"
source "$ROOT/scripts/common.sh"

QUICK=0
NO_LAUNCHER=0
LAUNCHER_GIVEN=""
RUNS=3
ONLY="warm,cold,install,memory,publish"
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) QUICK=1 ;;
        --runs) RUNS="$2"; shift ;;
        --only) ONLY="$2"; shift ;;
        --no-launcher) NO_LAUNCHER=1 ;;
        --launcher) LAUNCHER_GIVEN="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"; shift ;;
        *) echo "usage: bench/run.sh [--quick] [--runs N] [--no-launcher] [--launcher EXE] [--only warm,cold,install,memory,publish]" >&2; exit 2 ;;
    esac
    shift
done
[ "$RUNS" -ge 1 ] || RUNS=1
wants() { [[ ",$ONLY," == *",$1,"* ]]; }

OUT="$BENCH/out"
if [ $QUICK -eq 1 ]; then OUT="$BENCH/out/quick"; fi
mkdir -p "$OUT/logs"
rm -f "$OUT"/logs/*.log
RESULTS="$OUT/results.tsv"
: >"$RESULTS"
KEY="$ROOT/keys/dev-manifest.pem"
source "$BENCH/lib.sh"

# Sizes. Full: what a real release looks like; quick: enough files to exercise every path.
if [ $QUICK -eq 1 ]; then
    TREE_FILES=400;  TREE_FOLDERS=20;  TREE_MIN=1024;  TREE_MAX=80000
    A_FILES=40;      B_FILES=4;        B_SIZE=$((1 << 20));  B2_FILES=8
    C_FILES=200;     C2_FILES=800;     HASH_MIB=64
else
    # 20,000 files of 1 KiB to ~213 KiB: 2 GiB in all.
    TREE_FILES=20000; TREE_FOLDERS=200; TREE_MIN=1024;  TREE_MAX=213723
    A_FILES=2000;     B_FILES=8;        B_SIZE=$((64 << 20)); B2_FILES=16
    C_FILES=5000;     C2_FILES=20000;   HASH_MIB=1024
fi
C_MIN=256; C_MAX=16384

bench_install_packages
bench_build_floors
LAUNCHER=""
PUBLISHER=""
if [ -n "$LAUNCHER_GIVEN" ]; then
    LAUNCHER="$LAUNCHER_GIVEN"
elif [ $NO_LAUNCHER -eq 0 ]; then
    bench_build_launcher
fi
bench_build_publisher || true

trap bench_cleanup EXIT
record runs "$RUNS"
bench_generate
bench_start_servers

echo "== Start-up of Wine itself =="
# Once untimed: the first window program after the server starts loads the display driver and
# its fonts (about a second), which every later Wine start, the launcher's included, finds done.
wine "$BIN/empty.exe" </dev/null >/dev/null 2>&1
wine "$BIN/window_empty.exe" </dev/null >/dev/null 2>&1
for r in $(seq "$RUNS"); do
    time_it empty_s wine "$BIN/empty.exe"
    time_it window_s wine "$BIN/window_empty.exe"
done

if wants warm || wants cold || wants publish; then
    bench_warm_page_cache "$DATA/tree"
fi
if wants cold; then bench_cold; fi
if wants warm; then bench_warm; fi
if wants install; then bench_install; fi
if wants memory; then bench_memory; fi
if wants publish; then bench_publish; fi

echo
# The report fails when a premise of its figures does not hold, and so does the run.
report_status=0
python3 "$BENCH/report.py" "$RESULTS" 2>&1 | tee "$OUT/report.txt" || report_status=$?
echo "raw runs: $RESULTS; timelines: $OUT/timeline-*.txt; logs: $OUT/logs/"
exit "$report_status"
