#!/usr/bin/env bash
# The real launcher under Wine against a release published and served by orvantis-publish:
# a first install ends "ready" with every file equal to the published game folder (but the
# optional "DataUltra" content, which the launcher keeps only in folders that already have it, and
# which arrives once the folder exists), and fetches every pack outside DataUltra whole; after one
# file changes and the release is republished, only that file's object is requested; a last run
# finds the folder up to date and requests nothing but the manifest.
#
# usage: launcher_install_test.sh ORVANTIS_PUBLISH WINDOWS_BUILD_DIR SOURCE_DIR
# Needs WINEPREFIX with a running wineserver and DISPLAY, as scripts/test.sh sets them up.
set -euo pipefail

publish=$1
windows=$2
source_dir=$3
source "$source_dir/tests/publisher/lib.sh"

game="$work/game"       # what the operator publishes
origin="$work/origin"   # what the server serves
player="$work/player"   # the player's folder, empty but for the launcher

python3 "$source_dir/scripts/make-sample-game.py" "$game" --main "$fake_game" --files 200 >/dev/null
"$publish" build "$game" "$origin" --key "$source_dir/keys/dev-manifest.pem" >"$work/build.out" 2>&1 ||
    { cat "$work/build.out" >&2; fail "the first build failed"; }
grep -q '"pack":' "$origin/update/manifest.json" || fail "the sample release has no packs, so packs go untested"

start_serve "$origin"

mkdir -p "$player"
cp "$launcher" "$player/"

run_launcher() {
    run_launcher_in "$player" 120
}

# The requests the server logged after line $1.
requests_after() {
    tail -n +"$(($1 + 1))" "$serve_log" | grep '^GET ' || true
}

expect_ready() {
    local what=$1 code=$2
    local result
    result=$(cat "$player/orvantis_verify.result" 2>/dev/null || echo "(no result file)")
    if [ "$code" != 0 ] || [ "$result" != ready ]; then
        echo "--- update log:" >&2
        cat "$player/orvantis_update.log" >&2 || true
        fail "$what: exit code $code, result '$result' (expected 0 and 'ready')"
    fi
    # The folder keeps the number of the release it took, so that an older one is refused later.
    local served recorded
    served=$(grep -o '"release":[0-9]*' "$origin/update/manifest.json" | head -1 | cut -d: -f2)
    recorded=$(cat "$player/orvantis_update.release" 2>/dev/null || echo "(no record)")
    [ -n "$served" ] && [ "$recorded" = "$served" ] ||
        fail "$what: the folder's release record is '$recorded', the served release '$served'"
}

# Every published file is in the player's folder with the same bytes (with "without-ultra": every
# one outside DataUltra, and no DataUltra at all), and nothing else is there but the launcher and
# the files it keeps for itself.
expect_same_as_published() {
    local what=$1 ultra=${2:-} rel
    while IFS= read -r -d '' rel; do
        rel=${rel#./}
        if [ "$ultra" = without-ultra ] && [[ $rel == DataUltra/* ]]; then
            [ ! -e "$player/DataUltra" ] || fail "$what: DataUltra was installed into a folder that had none"
            continue
        fi
        cmp -s "$game/$rel" "$player/$rel" || fail "$what: $rel differs from the published file or is missing"
    done < <(cd "$game" && find . -type f -print0)
    while IFS= read -r -d '' rel; do
        rel=${rel#./}
        [ -f "$game/$rel" ] && continue
        case "$rel" in
        OrvantisKesh.exe | orvantis_update.log | orvantis_update.cache | orvantis_update.release | orvantis_verify.result | config.ini) ;;
        *) fail "$what: unexpected file $rel in the game folder" ;;
        esac
    done < <(cd "$player" && find . -type f -print0)
}

# 1. First install into the empty folder.
before=$(wc -l <"$serve_log")
run_launcher
expect_ready "first install" "$code"
expect_same_as_published "first install" without-ultra
first_requests=$(requests_after "$before")
grep -qx 'GET /update/manifest.json 200 [0-9]*' <<<"$first_requests" || fail "first install: no manifest request"
echo "first install: ready, $(grep -c '^GET /update/files/' <<<"$first_requests") objects fetched"
# Every pack outside DataUltra was fetched whole, and none of its files alone; no DataUltra pack was.
python3 - "$origin/update/manifest.json" <(sed -n 's|^GET /update/files/\([0-9a-f]*\) 200 .*|\1|p' <<<"$first_requests") <<'PY' ||
import json, sys
entries = json.load(open(sys.argv[1]))["files"]
fetched = set(open(sys.argv[2]).read().split())
ultra = lambda e: e["path"][:10].lower() == "dataultra/"
packs = {e["pack"] for e in entries if e.get("pack") and not ultra(e)}
mixed = packs & {e["pack"] for e in entries if e.get("pack") and ultra(e)}
wrong = ["pack %s mixes DataUltra files with others" % p for p in sorted(mixed)]
wrong += ["pack %s was not fetched whole" % p for p in sorted(packs - fetched)]
wrong += ["%s was fetched alone although its pack was fetched" % e["path"]
          for e in entries if e.get("pack") in packs and e["sha256"] in fetched]
wrong += ["DataUltra pack %s was fetched" % e["pack"] for e in entries if ultra(e) and e.get("pack") in fetched]
if len(packs) < 2:
    wrong.append("the sample release has %d packs outside DataUltra" % len(packs))
print("\n".join(wrong) or "first install: all %d packs outside DataUltra fetched whole" % len(packs))
sys.exit(1 if wrong else 0)
PY
    fail "first install: packs were not fetched as a first install should fetch them"

# 2. The player makes the DataUltra folder: the next run fills it.
mkdir "$player/DataUltra"
run_launcher
expect_ready "DataUltra" "$code"
expect_same_as_published "DataUltra"
echo "with DataUltra: ready, all $(find "$game" -type f | wc -l) files equal to the published ones"

# 3. One file changes; the release is republished; only its object travels.
changed="Data/Local/Español/textos.txt"
[ -f "$game/$changed" ] || fail "the sample game has no $changed"
printf 'hola de nuevo\n' >>"$game/$changed"
"$publish" build "$game" "$origin" --key "$source_dir/keys/dev-manifest.pem" >"$work/build2.out" 2>&1 ||
    { cat "$work/build2.out" >&2; fail "the second build failed"; }
changed_sha=$(sha256sum "$game/$changed" | cut -c1-64)

before=$(wc -l <"$serve_log")
run_launcher
expect_ready "update" "$code"
expect_same_as_published "update"
update_requests=$(requests_after "$before")
expected="GET /update/manifest.json 200 $(stat -L -c %s "$origin/update/manifest.json")
GET /update/files/$changed_sha 200 $(stat -c %s "$game/$changed")"
if [ "$update_requests" != "$expected" ]; then
    printf -- '--- requests seen:\n%s\n--- expected:\n%s\n' "$update_requests" "$expected" >&2
    fail "update: the launcher fetched more or less than the changed file"
fi
echo "update: ready, only the manifest and $changed ($changed_sha) requested"

# 4. Nothing changed: only the manifest.
before=$(wc -l <"$serve_log")
run_launcher
expect_ready "up to date" "$code"
expect_same_as_published "up to date"
again=$(requests_after "$before")
[ "$(grep -c . <<<"$again")" = 1 ] && grep -q '^GET /update/manifest.json 200 ' <<<"$again" ||
    { printf -- '--- requests seen:\n%s\n' "$again" >&2; fail "up to date: requests besides the manifest"; }
echo "up to date: ready, only the manifest requested"
