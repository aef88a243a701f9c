#!/usr/bin/env bash
# From a game folder to a player's, on this machine alone: builds the launcher and the publishing
# tool, publishes a sample game signed with the development key, serves it on loopback, installs
# it with the real launcher under Wine into an empty folder (a picture of the window is taken
# during the download), checks that the launcher started the game, and runs the launcher once more
# to show a folder that is up to date. Everything it writes lands in build/demo/.
#
# ORVANTIS_DEMO_RATE: the server's limit in KiB/s (default 6144), so that the download lasts long
# enough to be watched; loopback would otherwise finish it in about a second.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ORVANTIS_ROOT"

rate=${ORVANTIS_DEMO_RATE:-6144}
out="$ORVANTIS_ROOT/build/demo"
sample="$out/sample game"
origin="$out/origin"
game="$out/juego de prueba"
serve_log="$out/serve.log"
shot="$out/download.png"

serve_pid=""
launcher_pid=""
shot_objects=""
cleanup() {
    orvantis_stop_pids $launcher_pid $serve_pid
    orvantis_stop_wine
    orvantis_stop_display
}
trap cleanup EXIT

fail() {
    echo "error: $*" >&2
    exit 1
}

step() {
    echo
    echo "== $*"
}

step "Packages and builds"
orvantis_install_packages
orvantis_forget_moved_builds
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target OrvantisKesh fake_game
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" --target orvantis-publish
publish="$ORVANTIS_ROOT/build/host/publisher/orvantis-publish"

step "Publishing the sample game with keys/dev-manifest.pem"
rm -rf "$sample" "$origin" "$game" "$shot" "$serve_log"
mkdir -p "$out"
python3 scripts/make-sample-game.py "$sample" --main build/windows/tools/fake_game.exe
"$publish" build "$sample" "$origin" --key keys/dev-manifest.pem
"$publish" verify "$origin" --key keys/dev-manifest.pem

step "Serving $origin on loopback, objects limited to $rate KiB/s"
# The log exists before the server starts: the background job may open it after the first look.
: >"$serve_log"
"$publish" serve "$origin" --port 0 --rate "$rate" >>"$serve_log" 2>&1 &
serve_pid=$!
port=""
for _ in $(seq 1 100); do
    port=$(sed -n '1s|^Serving .* on http://127\.0\.0\.1:\([0-9]*\)$|\1|p' "$serve_log")
    [ -n "$port" ] && break
    kill -0 "$serve_pid" 2>/dev/null || { cat "$serve_log" >&2; fail "the server ended at once"; }
    sleep 0.1
done
[ -n "$port" ] || fail "the server printed no port"
echo "Serving on 127.0.0.1:$port (requests are logged to $serve_log)"

mkdir -p "$game"
cp build/windows/OrvantisKesh.exe "$game/"
orvantis_start_display
orvantis_start_wine

# Prints the update log's new lines since the last call.
log_done=0
print_new_log() {
    local log="$game/orvantis_update.log"
    [ -f "$log" ] || return 0
    local size
    size=$(stat -c %s "$log")
    if [ "$size" -gt "$log_done" ]; then
        tail -c +"$((log_done + 1))" "$log" | head -c "$((size - log_done))" | tr -d '\r' | sed 's/^/  log | /'
        log_done=$size
    fi
}

served_objects() {
    grep -c '^GET /update/files/' "$serve_log" || true
}

# Starts the launcher as a player would, with the demo's server; it ends by itself once it has
# started the game.
start_launcher() {
    rm -f "$game/fake_game.record"
    (cd "$game" && exec wine OrvantisKesh.exe --server "127.0.0.1:$port" --yes </dev/null \
        >>"$out/wine.out" 2>&1) &
    launcher_pid=$!
}

# Waits for the launcher to end, printing the update log as it grows; with "shot", takes the
# picture of the window while objects are still being served.
follow_launcher() {
    local want_shot=$1 ticks=0 window="" first_object=""
    while kill -0 "$launcher_pid" 2>/dev/null; do
        print_new_log
        if [ "$want_shot" = shot ] && [ ! -f "$shot" ]; then
            [ -n "$window" ] || window=$(xwininfo -root -tree 2>/dev/null | awk '/"Orvantis Kesh"/ {print $1; exit}')
            if [ -z "$first_object" ] && grep -q '^GET /update/files/' "$serve_log"; then
                first_object=$ticks
            fi
            # Half a second after the first object arrived, the bar has moved and much is still to come.
            if [ -n "$window" ] && [ -n "$first_object" ] && [ $((ticks - first_object)) -ge 5 ]; then
                local before after
                before=$(served_objects)
                import -window "$window" "$shot"
                after=$(served_objects)
                if grep -q 'Abriendo el juego' "$game/orvantis_update.log" 2>/dev/null; then
                    fail "the download ended before the picture was taken; lower ORVANTIS_DEMO_RATE"
                fi
                shot_objects=$before
                [ "$after" = "$before" ] || shot_objects="$before to $after"
                echo "  (picture taken during the download)"
            fi
        fi
        [ $ticks -lt 1800 ] || fail "the launcher did not end within 180 s"
        sleep 0.1
        ticks=$((ticks + 1))
    done
    wait "$launcher_pid" || fail "the launcher ended with exit code $?"
    launcher_pid=""
    print_new_log
}

# The fake game writes its record a moment after the launcher has started it.
expect_game_started() {
    local record="$game/fake_game.record"
    for _ in $(seq 1 100); do
        [ -f "$record" ] && break
        sleep 0.1
    done
    [ -f "$record" ] || fail "the launcher did not start the game (no $record)"
    echo "The launcher started the game. Its record ($record):"
    tr -d '\r' <"$record" | sed 's/^/  /'
}

step "First run in an empty folder: $game"
echo "wine OrvantisKesh.exe --server 127.0.0.1:$port --yes"
start_launcher
started=$(date +%s)
follow_launcher shot
[ -f "$shot" ] || fail "no picture was taken during the download"
first_objects=$(served_objects)
echo "The first run fetched $first_objects objects (packs and single files) and ended after about" \
    "$(($(date +%s) - started)) s."
echo "Screenshot during the download, taken when $shot_objects of them were complete: $shot"
expect_game_started
# DataUltra is optional content: the launcher keeps it only in folders that already have it.
[ ! -e "$game/DataUltra" ] || fail "DataUltra was installed into a folder that had none"
checked=0
while IFS= read -r -d '' rel; do
    [[ $rel == DataUltra/* ]] && continue
    cmp -s "$sample/$rel" "$game/$rel" || fail "$rel is not the published file"
    checked=$((checked + 1))
done < <(cd "$sample" && find . -type f -printf '%P\0')
echo "All $checked published files outside the optional DataUltra folder are in the game folder, byte for byte."

step "Second run in the same folder"
mark=$(wc -l <"$serve_log")
start_launcher
follow_launcher none
expect_game_started
requests=$(tail -n +"$((mark + 1))" "$serve_log")
echo "Requests of the second run:"
sed 's/^/  /' <<<"$requests"
[ "$(grep -c . <<<"$requests")" = 1 ] && grep -q '^GET /update/manifest.json 200 ' <<<"$requests" ||
    fail "the second run requested more than the manifest"

step "Done"
echo "First run: $first_objects objects downloaded, screenshot $shot, the game started."
echo "Second run: up to date, only the manifest requested, no file downloaded, the game started."
