#!/usr/bin/env bash
# The long reliability run, for deliberate use (not part of scripts/test.sh):
#   - each libFuzzer target (manifest reader, cache line loader, signature decoding) for
#     FUZZ_SECONDS (default 600), reporting executions and coverage reached;
#   - the launcher killed at KILL_POINTS (default 25) random moments of a large install;
#   - the fault matrix, the hostile paths, the local faults, HTTPS and the nginx recipe,
#     as in the short suite.
# Usage: scripts/reliability-long.sh [FUZZ_SECONDS] [KILL_POINTS] [PARTS]
#   PARTS: any of "fuzz launcher shell" (default: all three)
# Results are summarised at the end and kept in build/reliability-long/.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ORVANTIS_ROOT"

fuzz_seconds=${1:-600}
fuzz_targets=(json cache_line signature_decode)
kill_points=${2:-25}
parts=${3:-fuzz launcher shell}
out=build/reliability-long
mkdir -p "$out"
summary="$out/summary.txt"
: >"$summary"
status=0

orvantis_install_packages
if [[ " $parts " == *" launcher "* || " $parts " == *" shell "* ]]; then
    cmake --preset windows -DORVANTIS_WERROR=ON >/dev/null
    cmake --build --preset windows -j "$(nproc)" || exit 1
    scripts/build-tls-launcher.sh "$(nproc)" || exit 1
fi
cmake --preset host -DORVANTIS_WERROR=ON >/dev/null
cmake --build --preset host -j "$(nproc)" || exit 1

# --- Fuzzing ---
[[ " $parts " == *" fuzz "* ]] || fuzz_targets=()
for target in "${fuzz_targets[@]}"; do
    dir="$out/fuzz/$target"
    mkdir -p "$dir/corpus"
    cp tests/host/corpus/"$target"/* "$dir/corpus/" 2>/dev/null
    echo "fuzzing $target for ${fuzz_seconds}s"
    if build/host/tests/host/${target}_fuzz -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=8192 -artifact_prefix="$dir/" -print_final_stats=1 "$dir/corpus" >"$dir/log" 2>&1; then
        verdict=passed
    else
        verdict=FAILED
        status=1
        tail -n 30 "$dir/log" >&2
    fi
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$dir/log" | grep -o '[0-9]*$')
    last=$(grep -E '^#[0-9]+' "$dir/log" | tail -1)
    cov=$(echo "$last" | grep -o 'cov: [0-9]*' | grep -o '[0-9]*')
    ft=$(echo "$last" | grep -o 'ft: [0-9]*' | grep -o '[0-9]*')
    corpus=$(ls "$dir/corpus" | wc -l)
    echo "fuzz $target: $verdict, ${fuzz_seconds}s, executions ${execs:-?}, coverage ${cov:-?} edges," \
        "${ft:-?} features, corpus $corpus inputs" | tee -a "$summary"
done

# --- The launcher under Wine ---
if [[ " $parts " != *" launcher "* && " $parts " != *" shell "* ]]; then
    echo "== summary =="
    cat "$summary"
    exit $status
fi
cleanup() {
    orvantis_stop_wine
    orvantis_stop_display
}
trap cleanup EXIT
orvantis_start_display
orvantis_start_wine

# The long run varies the kill moments from run to run; the seed is printed with the kills.
kill_seed=${ORVANTIS_KILL_SEED:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}

run_gtest() {  # NAME FILTER
    local log="$out/$1.log"
    echo "running $1"
    if (cd build/windows && ORVANTIS_KILL_POINTS=$kill_points ORVANTIS_KILL_SEED=$kill_seed wine tests/reliability_tests.exe \
        --gtest_filter="$2" >"$ORVANTIS_ROOT/$log" 2>&1); then
        echo "$1: passed; $(grep -E '^(fault matrix|kill points|kills|hostile paths):' "$log" | tr -d '\r' |
            tr '\n' ' ')" | tee -a "$summary"
    else
        status=1
        echo "$1: FAILED (see $log)" | tee -a "$summary"
    fi
}
if [[ " $parts " == *" launcher "* ]]; then
    run_gtest kills 'KillMidDownload.*'
    run_gtest faults 'FaultMatrix.*'
    run_gtest hostile 'HostilePaths.*'
    run_gtest local 'LocalFaults.*'
fi

# --- The shell-driven tests (HTTPS, mounts, nginx recipe) ---
if [[ " $parts " == *" shell "* ]]; then
    if ! (cd build/windows && ctest -R '^Reliability\.' --output-on-failure >"$ORVANTIS_ROOT/$out/shell.log" 2>&1); then
        status=1
    fi
    grep -E 'Test +#[0-9]+: Reliability' "$out/shell.log" | sed 's/^ *[0-9]*\/[0-9]* //' | tee -a "$summary"
fi

echo "== summary =="
cat "$summary"
exit $status
