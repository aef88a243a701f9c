#!/usr/bin/env bash
# The nginx recipe of docs/publishing.md, taken from the document itself so that it cannot
# rot: the publish-manifest.sh script and the "Trying the nginx setup locally" commands run
# as written (only the port differs), against a release made by `orvantis-publish build`.
# Then: the manifest comes back byte for byte with its signature header, a copy fetched back
# over HTTP passes `orvantis-publish verify`, and the real launcher installs from it.
#
#   nginx_recipe_test.sh SOURCE_DIR WINDOWS_BUILD_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SOURCE_DIR="$(cd "$1" && pwd)"
source "$SOURCE_DIR/scripts/common.sh"
BUILD_DIR="$(cd "$2" && pwd)"
WORK=""
DOC="$SOURCE_DIR/docs/publishing.md"
PUBLISH="$SOURCE_DIR/build/host/publisher/orvantis-publish"
LAUNCHER="$BUILD_DIR/OrvantisKesh.exe"

for program in nginx curl python3; do
    command -v "$program" >/dev/null || skip "$program is not installed"
done
[ -f "$DOC" ] || skip "docs/publishing.md is not in this tree"
[ -x "$PUBLISH" ] || skip "$PUBLISH is not built (the host preset builds it)"

# The recipe runs as documented, with "$PWD" in unquoted nginx directives and an unquoted
# command line, in a folder under /tmp that nginx's workers can enter (see nginx_work).
WORK=$(nginx_work nginx-recipe) || { fail "no folder for nginx under /tmp"; exit 1; }
cd "$WORK" || exit 1

# --- The recipe, out of the document. ---
recipe_from_doc "$DOC" || { fail "the recipe's code blocks are not in docs/publishing.md"; exit 1; }
grep -q '^kill ' local.sh || { fail "the local trial no longer ends by stopping nginx with kill"; exit 1; }
grep -q '8080' local.sh || { fail "the local trial no longer names its port 8080"; exit 1; }
PORT=$(free_port)
sed -i "s/8080/$PORT/g" local.sh
# Everything up to the stop; the stop itself runs at the end.
sed '/^kill /,$d' local.sh >start.sh
sed -n '/^kill /,$p' local.sh >stop.sh

# --- A release made by the publisher from the sample game. ---
MAIN="$BUILD_DIR/tools/fake_game.exe"
[ -f "$MAIN" ] || MAIN="$LAUNCHER"
python3 "$SOURCE_DIR/scripts/make-sample-game.py" game --main "$MAIN" --files 40 --seed 11 >/dev/null ||
    { fail "the sample game could not be made"; exit 1; }
"$PUBLISH" build game origin --key "$SOURCE_DIR/keys/dev-manifest.pem" >publish.log 2>&1 ||
    { cat publish.log; fail "orvantis-publish build failed"; exit 1; }

P="$WORK/nginx-local"
stop_recipe() {
    if [ -s "$P/nginx.pid" ]; then
        local pid
        pid=$(cat "$P/nginx.pid")
        kill "$pid" 2>/dev/null
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
}
WINE_STARTED=""
cleanup() {
    stop_recipe
    [ -n "$WINE_STARTED" ] && orvantis_stop_wine
    orvantis_stop_display
    nginx_work_done "$WORK"
}
trap cleanup EXIT

if ! sh -e start.sh >start.log 2>&1; then
    cat start.log
    fail "the documented local trial failed"
    exit 1
fi
pass "the documented local trial ran (publish, start, check, republish and reload)"

# --- What nginx serves. ---
SIG=$(cat origin/update/manifest.json.sig)
headers=$(curl -s -D - -o served.json "http://127.0.0.1:$PORT/update/manifest.json" | tr -d '\r')
expect_eq "manifest status" "HTTP/1.1 200 OK" "$(echo "$headers" | head -1)"
expect_eq "signature header" "$SIG" "$(echo "$headers" | grep -i '^x-orvantis-signature:' | cut -d' ' -f2)"
cmp -s served.json origin/update/manifest.json && pass "manifest served byte for byte" ||
    fail "the served manifest differs from the built one"
expect_eq "an unknown path under /update/" 404 \
    "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$PORT/update/manifest.json.sig")"

# A copy fetched back over HTTP must verify like the original.
mkdir -p copy/update/files
cp served.json copy/update/manifest.json
printf '%s' "$(echo "$headers" | grep -i '^x-orvantis-signature:' | cut -d' ' -f2)" >copy/update/manifest.json.sig
objects=0
for object in origin/update/files/*; do
    name=$(basename "$object")
    curl -s -o "copy/update/files/$name" "http://127.0.0.1:$PORT/update/files/$name"
    objects=$((objects + 1))
done
if "$PUBLISH" verify copy --key "$SOURCE_DIR/keys/dev-manifest.pem" >verify.log 2>&1; then
    pass "the copy fetched back ($objects objects) verifies"
else
    cat verify.log
    fail "the copy fetched back does not verify"
fi

# A build that fails half-way (here at the file-size limit) publishes nothing, and the script
# run after it publishes the same pair again.
textos=$(find game/Data/Local -name textos.txt | head -1)
cp "$textos" textos.saved
printf 'otra vez\n' >>"$textos"
if (ulimit -f 1; trap '' XFSZ; "$PUBLISH" build game origin --key "$SOURCE_DIR/keys/dev-manifest.pem") \
    >failed-build.log 2>&1; then
    fail "a build past the file-size limit went through"
fi
grep -q "Nothing was published; the origin's manifest is unchanged." failed-build.log ||
    { cat failed-build.log; fail "the failed build did not say that nothing was published"; }
(export ORIGIN="$WORK/origin" STORE="$P/manifests" CONF="$P/orvantis/manifest.conf" PIDFILE="$P/nginx.pid" \
    NGINX_CMD="nginx -p $P -c $P/nginx.conf -e $P/logs/error.log" && sh -e publish-manifest.sh) >republish.log 2>&1 ||
    { cat republish.log; fail "the documented script failed after a failed build"; }
again=$(curl -s -D - -o served-again.json "http://127.0.0.1:$PORT/update/manifest.json" | tr -d '\r')
expect_eq "signature after a failed build" "$SIG" "$(echo "$again" | grep -i '^x-orvantis-signature:' | cut -d' ' -f2)"
cmp -s served-again.json served.json && pass "the failed build left the served manifest as it was" ||
    fail "the served manifest changed after a failed build"
cp textos.saved "$textos"  # the game folder is the release again

# --- The launcher installs from it. ---
if [ ! -f "$LAUNCHER" ]; then
    skip "$LAUNCHER is not built"
fi
# Reuses a working display; orvantis_stop_display stops only a server started here.
orvantis_start_display || skip "no X display for the launcher's window"
if [ -z "${WINEPREFIX:-}" ]; then
    orvantis_start_wine
    WINE_STARTED=1
fi
mkdir -p player
cp "$LAUNCHER" player/OrvantisKesh.exe
(cd player && timeout 600 wine OrvantisKesh.exe --yes --verify-only --server "127.0.0.1:$PORT" \
    </dev/null >/dev/null 2>&1)
rc=$?
result=$(cat player/orvantis_verify.result 2>/dev/null || echo "(no result file)")
status=$(tail -1 player/orvantis_update.log 2>/dev/null | tr -d '\r' | cut -d' ' -f3-)
expect_eq "first install from the recipe: verify-only run (it ended: $status)" "0:ready" "$rc:$result"
compared=0
while read -r path; do
    case "$path" in DataUltra/*) continue ;; esac  # a first install does not take DataUltra
    if cmp -s "game/$path" "player/$path"; then
        compared=$((compared + 1))
    else
        fail "$path differs from the release"
    fi
done < <(cd game && find . -type f | sed 's|^\./||')
expect_eq "every file installed (DataUltra left out on a first install)" \
    "$(cd game && find . -type f ! -path './DataUltra/*' | wc -l)" "$compared"
[ ! -e player/DataUltra ] || fail "DataUltra was installed on a first install"
[ -z "$(find player -name '*.part' -o -name '.orvantis_pack_*')" ] || fail "temporary files were left behind"
echo "nginx recipe: files compared $compared"

# The documented stop.
if P="$P" sh -e stop.sh >/dev/null 2>&1; then pass "the documented stop"; else fail "the documented stop failed"; fi
[ "$RELIABILITY_FAILURES" -eq 0 ] || exit 1
exit 0
