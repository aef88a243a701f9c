#!/usr/bin/env bash
# Runs each libFuzzer target of the host build for a bounded time. A crash, a leak,
# a sanitizer report or a hang fails the script; the input that did it is kept in
# build/host/fuzz/<target>/ and the last lines of the fuzzer's log are shown.
# Usage: scripts/fuzz.sh [seconds for the reader, default 20]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ORVANTIS_ROOT"

bin=build/host/tests/host
work=build/host/fuzz
reader_seconds=${1:-20}

fuzz() {
    local name=$1 seconds=$2
    local dir="$work/$name"
    mkdir -p "$dir/corpus"
    # The seeds are copied so that what the fuzzer learns stays in the build folder.
    cp tests/host/corpus/"$name"/* "$dir/corpus/"
    echo "fuzzing $name for ${seconds}s"
    if ! "$bin/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
        -artifact_prefix="$dir/" -print_final_stats=1 "$dir/corpus" >"$dir/log" 2>&1; then
        tail -n 40 "$dir/log" >&2
        echo "error: fuzz target $name failed; see $dir/" >&2
        return 1
    fi
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$dir/log" | tr '\n' ' '
    echo
}

status=0
fuzz json "$reader_seconds" || status=1
fuzz cache_line 4 || status=1
fuzz cache_line_diff 4 || status=1
fuzz signature_decode 3 || status=1
exit $status
