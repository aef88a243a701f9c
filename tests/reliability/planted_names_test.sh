#!/usr/bin/env bash
# Names the launcher writes, with something already there: links planted at the ".part" of a
# stand-alone file, of a packed file and of a pack, and at the launcher's own files (the log, the
# cache, the verify result, config.ini); a killed run's pack files, read-only ones among them; a
# stale read-only ".part" (as an unprivileged user with a Wine prefix of its own, since root ignores
# permission bits). Under Wine a Unix symlink in the game folder is what a Windows link is to the
# launcher. Every install must end "ready" with the release's bytes, write nothing through a link,
# remove its own leftovers and nothing else, and a "Data" folder that is a link to another place
# (players move it to another drive that way) must keep working.
#
#   planted_names_test.sh SOURCE_DIR WINDOWS_BUILD_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SOURCE_DIR="$(cd "$1" && pwd)"
source "$SOURCE_DIR/scripts/common.sh"
BUILD_DIR="$(cd "$2" && pwd)"
WORK="$BUILD_DIR/reliability/planted-names"
LAUNCHER="$BUILD_DIR/OrvantisKesh.exe"
PUBLISH="$SOURCE_DIR/build/host/publisher/orvantis-publish"
NOBODY_PREFIX=""

prepare_launcher_test

WINE_STARTED=""
NOBODY_STARTED=""
# Wine maps names to the Unix file system in the locale's character set: without a UTF-8 one,
# "Español" could not be created.
as_nobody() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups env -i PATH=/usr/bin:/bin HOME="$NOBODY_PREFIX/home" LANG=C.UTF-8 \
        DISPLAY="$DISPLAY" WINEPREFIX="$NOBODY_PREFIX/home/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        WINEARCH=win64 "$@"
}
cleanup() {
    serve_stop
    if [ -n "$NOBODY_STARTED" ]; then
        as_nobody wineserver -k >/dev/null 2>&1
        as_nobody wineserver -w >/dev/null 2>&1
    fi
    [ -n "$WINE_STARTED" ] && orvantis_stop_wine
    orvantis_stop_display
    case "$NOBODY_PREFIX" in /tmp/orvantis-nobody.*) rm -rf "$NOBODY_PREFIX" ;; esac
}
trap cleanup EXIT

start_wine_and_display

publish_sample "$PUBLISH" "$BUILD_DIR/tools/fake_game.exe" release origin 60 23 ||
    { fail "the sample release could not be published"; exit 1; }
serve_origin "$PUBLISH" origin serve.log || { fail "orvantis-publish serve did not start"; exit 1; }
# A stand-alone file, a packed file and its pack, all fetched by a first install.
read -r LOOSE PACKED PACK < <(python3 - origin/update/manifest.json <<'EOF'
import json, sys
files = [f for f in json.load(open(sys.argv[1]))["files"] if not f["path"].startswith("DataUltra/")]
loose = next(f["path"] for f in files if not f.get("pack") and f["path"].startswith("Data/"))
packed = next(f for f in files if f.get("pack"))
print(loose, packed["path"], packed["pack"])
EOF
)
[ -n "$PACK" ] || { fail "the sample release has no stand-alone file or no pack"; exit 1; }

HEX_A=$(printf a%.0s {1..64})
HEX_B=$(printf 0123456789abcdef%.0s {1..4})
HEX_C=$(printf c%.0s {1..64})

# Everything outside the game folders that a link points to, with its bytes and write time.
outside_state() { (cd outside && find . -printf '%p %s %T@\n' | LC_ALL=C sort && find . -type f -exec sha256sum {} + | LC_ALL=C sort); }
is_file() { [ -f "$1" ] && [ ! -L "$1" ]; }

# --- 1. Links at every name the launcher writes, and a killed run's pack files. ---
mkdir -p outside game/"$(dirname "$LOOSE")" game/"$(dirname "$PACKED")"
for victim in loose packed pack log cache config pack2; do printf 'not yours: %s\n' "$victim" >"outside/$victim"; done
printf '[CONNECTION SETTINGS]\r\nServerIP=127.127.127.127\r\nServerPort=1\r\n' >outside/config
ln -s "$WORK/outside/loose" "game/$LOOSE.part"
ln -s "$WORK/outside/packed" "game/$PACKED.part"
ln -s "$WORK/outside/pack" "game/.orvantis_pack_$PACK.part"
ln -s "$WORK/outside/log" game/orvantis_update.log
ln -s "$WORK/outside/cache" game/orvantis_update.cache
ln -s "$WORK/outside/result-nobody-made" game/orvantis_verify.result
ln -s "$WORK/outside/config" game/config.ini
head -c 1048576 /dev/urandom >"game/.orvantis_pack_$HEX_A"
printf 'left' >"game/.orvantis_pack_$HEX_B.part"
chmod a-w "game/.orvantis_pack_$HEX_B.part"
ln -s "$WORK/outside/pack2" "game/.orvantis_pack_$HEX_C"
# Names that only look like the launcher's leftovers.
others=(".orvantis_pack_notes.txt" ".orvantis_pack_${HEX_A^^}" ".orvantis_pack_$HEX_A.bak" "Data/.orvantis_pack_$HEX_A"
    "mine.part")
for name in "${others[@]}"; do printf 'keep: %s' "$name" >"game/$name"; done
before=$(outside_state)
cp "$LAUNCHER" game/OrvantisKesh.exe
run_verify game
expect_eq "links and leftovers: the install ends ready" "0:ready" "$RC:$RESULT"
same_as_release release game
expect_eq "links and leftovers: every file of the release arrived" \
    "$(cd release && find . -type f ! -path './DataUltra/*' | wc -l)" "$COMPARED"
expect_eq "nothing outside the game folder was written, created or removed" "$before" "$(outside_state)"
for name in "$LOOSE.part" "$PACKED.part" ".orvantis_pack_$PACK.part" ".orvantis_pack_$HEX_A" \
    ".orvantis_pack_$HEX_B.part" ".orvantis_pack_$HEX_C"; do
    [ -e "game/$name" ] || [ -L "game/$name" ] && fail "game/$name is still there"
done
for name in orvantis_update.log orvantis_update.cache orvantis_verify.result; do
    is_file "game/$name" && pass "$name is a file of the launcher's own" || fail "$name is not a plain file"
done
[ -L game/config.ini ] && pass "config.ini, the player's, is left as the link it was" ||
    fail "config.ini is no longer the link it was"
for name in "${others[@]}"; do
    expect_eq "$name is kept" "keep: $name" "$(cat "game/$name" 2>/dev/null)"
done

# --- 2. A "Data" folder that is a link to another place keeps working. ---
mkdir -p elsewhere/Data moved
ln -s "$WORK/elsewhere/Data" moved/Data
cp "$LAUNCHER" moved/OrvantisKesh.exe
run_verify moved
expect_eq "a Data folder moved elsewhere: the install ends ready" "0:ready" "$RC:$RESULT"
same_as_release release moved
[ -L moved/Data ] && [ -n "$(ls elsewhere/Data)" ] && pass "the files went through the Data link" ||
    fail "the Data link was replaced or not used"

# --- 3. A stale read-only ".part", as a user that permission bits apply to. ---
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null || ! id nobody >/dev/null 2>&1; then
    skip "a read-only file needs an unprivileged user (root ignores permission bits): setpriv and the user nobody"
fi
# nobody cannot enter a checkout in a private folder (0700), so its prefix and its game folder
# live in a folder of this test's own under /tmp, opened to it and removed at the end.
NOBODY_PREFIX=$(mktemp -d /tmp/orvantis-nobody.XXXXXX) || { fail "no folder for nobody under /tmp"; exit 1; }
chmod 0755 "$NOBODY_PREFIX"
mkdir -p "$NOBODY_PREFIX/home" "$NOBODY_PREFIX/readonly"
RO="$NOBODY_PREFIX/readonly"
chown nobody:nogroup "$NOBODY_PREFIX/home" "$RO"
NOBODY_STARTED=1
as_nobody wine wineboot </dev/null >/dev/null 2>&1
mkdir -p "$RO"/"$(dirname "$LOOSE")" "$RO"/"$(dirname "$PACKED")"
printf 'stale' >"$RO/$LOOSE.part"
printf 'stale' >"$RO/$PACKED.part"
cp "$LAUNCHER" "$RO/OrvantisKesh.exe"
chown -R nobody:nogroup "$RO"
chmod a-w "$RO/$LOOSE.part" "$RO/$PACKED.part"
as_nobody test -w "$RO/$LOOSE.part" && { fail "the read-only .part is writable by nobody"; exit 1; }
rm -f "$RO/orvantis_verify.result"
(cd "$RO" && as_nobody timeout 300 wine OrvantisKesh.exe --server "127.0.0.1:$SERVE_PORT" --yes --verify-only \
    </dev/null >/dev/null 2>&1)
RC=$?
RESULT=$(cat "$RO/orvantis_verify.result" 2>/dev/null || echo "(no result file)")
expect_eq "a read-only .part left behind: the install ends ready ($(last_status_of "$RO"))" "0:ready" "$RC:$RESULT"
same_as_release release "$RO"
[ -e "$RO/$LOOSE.part" ] || [ -e "$RO/$PACKED.part" ] && fail "a read-only .part is still there"

[ "$RELIABILITY_FAILURES" -eq 0 ] || exit 1
exit 0
