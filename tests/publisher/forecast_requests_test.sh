#!/usr/bin/env bash
# What `orvantis-publish build` and `diff` say players will download, against what the real
# launcher under Wine requests from `orvantis-publish serve`: a first install of a small sample
# release, then an update to a second release (files changed in packs and alone, files added and
# removed, DataUltra changed where the player has none), and a first install of that second
# release. Requests, whole packs, stand-alone objects and bytes must all match.
#
# usage: forecast_requests_test.sh ORVANTIS_PUBLISH WINDOWS_BUILD_DIR SOURCE_DIR
# Needs WINEPREFIX with a running wineserver and DISPLAY, as scripts/test.sh sets them up.
set -euo pipefail

publish=$1
windows=$2
source_dir=$3
source "$source_dir/tests/publisher/lib.sh"

game="$work/game"
origin="$work/origin"
key="$source_dir/keys/dev-manifest.pem"

python3 "$source_dir/scripts/make-sample-game.py" "$game" --main "$fake_game" --files 90 --seed 5 >/dev/null
"$publish" build "$game" "$origin" --key "$key" >"$work/build1.out" 2>"$work/build1.err" ||
    { cat "$work/build1.err" >&2; fail "the first build failed"; }

start_serve "$origin"

# Runs the launcher in folder $1 to its end and checks that it ended "ready".
run_launcher() {
    run_launcher_in "$1" 180
    if [ "$code" != 0 ] || [ "$(cat "$1/orvantis_verify.result" 2>/dev/null)" != ready ]; then
        cat "$1/orvantis_update.log" >&2 || true
        fail "the launcher in $1 ended with $code, not ready"
    fi
}

# "FILES REQUESTS PACKS OBJECTS BYTES" from a forecast line ("Update: 5 files, 6 requests (1 whole
# packs, 5 objects), 1234 bytes (...)"); "0 0 0 0 0" for "nothing to download".
predicted() {
    local line
    line=$(grep "^$1: " "$2") || fail "no '$1:' line in $2"
    if [[ $line == *"nothing to download" ]]; then
        echo "0 0 0 0 0"
        return
    fi
    sed -E 's/^[^:]*: ([0-9]+) files, ([0-9]+) requests \(([0-9]+) whole packs, ([0-9]+) objects\), ([0-9]+) bytes.*/\1 \2 \3 \4 \5/' \
        <<<"$line"
}

# "REQUESTS PACKS OBJECTS BYTES" of the objects the server was asked for after log line $1, with the
# packs of manifest $2 told apart from files' own objects.
requested() {
    tail -n +"$(($1 + 1))" "$serve_log" | grep '^GET /update/files/' | python3 -c '
import json, sys
packs = {e["pack"] for e in json.load(open(sys.argv[1]))["files"] if e.get("pack")}
lines = [l.split() for l in sys.stdin if l.strip()]
bad = [l for l in lines if l[2] != "200"]
if bad:
    sys.exit("requests that did not succeed: %s" % bad)
names = [l[1].rsplit("/", 1)[1] for l in lines]
whole = sum(n in packs for n in names)
print(len(names), whole, len(names) - whole, sum(int(l[3]) for l in lines))
' "$2"
}

# Compares the forecast of $1 in file $2 with the requests after log line $3 (manifest $4).
expect_match() {
    local what=$1 forecast seen
    forecast=$(predicted "$1" "$2" | cut -d' ' -f2-)
    seen=$(requested "$3" "$4")
    [ "$forecast" = "$seen" ] || fail "$what: forecast requests/packs/objects/bytes $forecast, launcher $seen"
    echo "$what: $seen (requests, whole packs, objects, bytes) as forecast"
}

# 1. First install of the first release.
cp "$origin/update/manifest.json" "$work/release1.json"
before=$(wc -l <"$serve_log")
run_launcher "$work/player"
expect_match "First install" "$work/build1.out" "$before" "$work/release1.json"
grep -q '^Update' "$work/build1.out" && fail "the first build of an origin forecast an update"

# 2. A second release: packed files changed, a large one changed, files added and removed, and
# DataUltra changed, which this player (who has no DataUltra folder) does not fetch.
mapfile -t small < <(cd "$game" && find Data -type f -size -60k -size +0 | sort | head -n 40)
[ ${#small[@]} -ge 30 ] || fail "the sample game has too few small files"
for i in 3 17 29; do printf 'cambiado %d\n' "$i" >>"$game/${small[$i]}"; done
large=$(cd "$game" && find Data -type f -size +1100k | sort | head -n 1)
[ -n "$large" ] || fail "the sample game has no large file"
printf 'cambiado\n' >>"$game/$large"
# Enough new small files in one place that some of their packs hold nothing else.
mkdir -p "$game/Data/Zz"
for i in $(seq 1 60); do head -c $((20000 + 97 * i)) /dev/urandom >"$game/Data/Zz/nuevo_$i.bin"; done
rm "$game/${small[5]}"
printf 'ultra\n' >>"$game/DataUltra/ultra.cfg"

"$publish" build "$game" "$origin" --key "$key" >"$work/build2.out" 2>"$work/build2.err" ||
    { cat "$work/build2.err" >&2; fail "the second build failed"; }
cp "$origin/update/manifest.json" "$work/release2.json"
grep -qx 'Changed: 5 files, added: 60, removed: 1' "$work/build2.out" ||
    { cat "$work/build2.out" >&2; fail "the second build miscounted the changes"; }

# diff says what build said.
"$publish" diff "$work/release1.json" "$origin" >"$work/diff.out" 2>&1 || { cat "$work/diff.out" >&2; fail "diff failed"; }
for label in Changed Update "Update with DataUltra" "First install" "Every run also fetches the manifest"; do
    [ "$(grep "^$label: " "$work/diff.out")" = "$(grep "^$label: " "$work/build2.out")" ] ||
        fail "diff and build disagree on '$label'"
done

before=$(wc -l <"$serve_log")
run_launcher "$work/player"
expect_match "Update" "$work/build2.out" "$before" "$work/release2.json"
[ "$(predicted Update "$work/build2.out" | cut -d' ' -f3)" -ge 1 ] ||
    fail "the update fetched no pack whole, so packs went untested"

# 3. A first install of the second release.
before=$(wc -l <"$serve_log")
run_launcher "$work/player2"
expect_match "First install" "$work/build2.out" "$before" "$work/release2.json"
