#!/usr/bin/env bash
# The launcher beside a real-time scanner (tools/scanner.exe: it opens each new or renamed file in
# the game folder without sharing it, for a random 20 to 400 ms, as soon as it can). Ten times
# over, in a fresh folder: a first install of the sample release published by orvantis-publish,
# then a repair of damaged, missing and cut files; each run must end "ready" with every file byte
# for byte, and leave no temporary file behind.
#
#   scanner_test.sh SOURCE_DIR WINDOWS_BUILD_DIR [ROUNDS]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SOURCE_DIR="$(cd "$1" && pwd)"
source "$SOURCE_DIR/scripts/common.sh"
BUILD_DIR="$(cd "$2" && pwd)"
ROUNDS=${3:-10}
WORK="$BUILD_DIR/reliability/scanner"
LAUNCHER="$BUILD_DIR/OrvantisKesh.exe"
SCANNER="$BUILD_DIR/tools/scanner.exe"
PUBLISH="$SOURCE_DIR/build/host/publisher/orvantis-publish"

[ -f "$SCANNER" ] || skip "$SCANNER is not built"
prepare_launcher_test

SCANNER_PID=""
WINE_STARTED=""
stop_scanner() {
    [ -n "$SCANNER_PID" ] && orvantis_stop_pids "$SCANNER_PID"
    SCANNER_PID=""
}
cleanup() {
    stop_scanner
    serve_stop
    [ -n "$WINE_STARTED" ] && orvantis_stop_wine
    orvantis_stop_display
}
trap cleanup EXIT

start_wine_and_display

publish_sample "$PUBLISH" "$BUILD_DIR/tools/fake_game.exe" release origin 160 17 ||
    { fail "the sample release could not be published"; exit 1; }
grep -q '"pack":' origin/update/manifest.json || { fail "the sample release has no packs"; exit 1; }
serve_origin "$PUBLISH" origin serve.log || { fail "orvantis-publish serve did not start"; exit 1; }

# start_scanner GAME RECORD SEED: the scanner on GAME; returns once its watch is set up.
start_scanner() {
    wine "$SCANNER" "$(winpath "$1")" "$(winpath "$2")" "$3" </dev/null >>scanner.out 2>&1 &
    SCANNER_PID=$!
    local i
    for i in $(seq 1 300); do
        grep -q '^watching' "$2" 2>/dev/null && return 0
        kill -0 "$SCANNER_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# The damage a player's folder suffers: files cut short, files with changed bytes (same size and
# a new write time), a missing folder of small files (so packs are needed whole), Main.exe gone.
damage() {
    local game=$1 path n=0
    while IFS= read -r path; do
        case $((n % 3)) in
        0) truncate -s 100 "$game/$path" ;;
        1) printf 'X' | dd of="$game/$path" bs=1 seek=7 conv=notrunc status=none ;;
        2) rm -f "$game/$path" ;;
        esac
        n=$((n + 1))
    done < <(cd "$game" && find Data -type f -size +1k | LC_ALL=C sort | awk 'NR % 9 == 0')
    rm -rf "$game/Data/Player" "$game/Main.exe"
}

total_holds=0
for round in $(seq 1 "$ROUNDS"); do
    game="$WORK/game$round"
    record="$WORK/holds$round.txt"
    mkdir "$game"
    start_scanner "$game" "$record" "$round" || { fail "round $round: the scanner did not start"; break; }
    # The scanner looks at the new launcher too, and Windows starts no program a scanner holds.
    cp "$LAUNCHER" "$game/OrvantisKesh.exe"
    for _ in $(seq 1 100); do
        grep -q '^held [0-9]* OrvantisKesh\.exe$' "$record" && break
        sleep 0.1
    done
    for step in install repair; do
        [ "$step" == repair ] && damage "$game"
        started=$(date +%s%N)
        requests=$(wc -l <serve.log)
        run_verify "$game"
        took=$((($(date +%s%N) - started) / 1000000))
        if [ "$RC:$RESULT" != "0:ready" ]; then
            fail "round $round, $step: exit $RC, result '$RESULT': $(last_status_of "$game")"
            continue
        fi
        same_as_release release "$game"
        leftovers=$(cd "$game" && find . -name '*.part' -o -name '.orvantis_pack_*')
        [ -z "$leftovers" ] || fail "round $round, $step: temporary files left: $leftovers"
        echo "round $round, $step: ready in $took ms, $(tail -n +"$((requests + 1))" serve.log | grep -c ' /update/files/')" \
            "objects fetched, $COMPARED files compared"
    done
    stop_scanner
    total_holds=$((total_holds + $(grep -c '^held ' "$record")))
    # The scanner must really have been in the way of the files the launcher renames and reopens.
    for pattern in '\.part$' ' orvantis_update\.log$'; do
        grep -q "^held .*$pattern" "$record" || fail "round $round: the scanner never held a file matching '$pattern'"
    done
done
# Whether the scanner gets to a given file before the launcher is done with it is a race;
# config.ini, new at every first install, must have been held at least once.
grep -qh '^held [0-9]* config\.ini$' "$WORK"/holds*.txt ||
    fail "in $ROUNDS rounds the scanner never held config.ini"
echo "holds of part files: $(cat "$WORK"/holds*.txt | grep -c '\.part$'), of pack files:" \
    "$(cat "$WORK"/holds*.txt | grep -c ' \.orvantis_pack_[0-9a-f]*$'), of the launcher's own files:" \
    "$(cat "$WORK"/holds*.txt | grep -c -e ' orvantis_' -e ' config\.ini$')"
echo "scanner holds over $ROUNDS rounds: $total_holds"

[ "$RELIABILITY_FAILURES" -eq 0 ] || exit 1
exit 0
