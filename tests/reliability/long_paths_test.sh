#!/usr/bin/env bash
# Long paths as Windows has them: without the system-wide opt-in, CreateFileW, MoveFileExW,
# DeleteFileW and GetFileAttributesExW fail from 260 characters and CreateDirectoryW from 248,
# unless the path has the extended form "\\?\". Wine takes long plain paths all the same, so this
# test looks at the paths that reach the platform: Wine's relay trace of the file functions,
# while the launcher installs and then repairs a release whose entries pass 260 characters (and
# whose folders pass 248) in a deep game folder. Every path of the game folder in the trace must
# have the extended form, and both runs must end "ready" with every file byte for byte.
#
#   long_paths_test.sh SOURCE_DIR WINDOWS_BUILD_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SOURCE_DIR="$(cd "$1" && pwd)"
source "$SOURCE_DIR/scripts/common.sh"
BUILD_DIR="$(cd "$2" && pwd)"
WORK="$BUILD_DIR/reliability/long-paths"
LAUNCHER="$BUILD_DIR/OrvantisKesh.exe"
PUBLISH="$SOURCE_DIR/build/host/publisher/orvantis-publish"
MARKER=orvlongpath
FUNCTIONS="CreateFileW MoveFileExW DeleteFileW GetFileAttributesW GetFileAttributesExW SetFileAttributesW
CreateDirectoryW RemoveDirectoryW FindFirstFileW FindFirstFileExW GetPrivateProfileStringW WritePrivateProfileStringW
GetLongPathNameW"

prepare_launcher_test

WINE_STARTED=""
RELAY_SET=""
cleanup() {
    [ -n "$RELAY_SET" ] && wine reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1
    serve_stop
    [ -n "$WINE_STARTED" ] && orvantis_stop_wine
    orvantis_stop_display
}
trap cleanup EXIT

start_wine_and_display

# A release whose relative paths come near the publisher's 200 characters: a large file alone,
# and small files that the publisher packs, in folders three deep with long names.
DEEP="Data/$(printf 'a%.0s' {1..55})/$(printf 'b%.0s' {1..55})/$(printf 'c%.0s' {1..40})"
mkdir -p "release/$DEEP"
cp "$BUILD_DIR/tools/fake_game.exe" release/Main.exe
head -c 1300000 /dev/urandom >"release/$DEEP/$(printf 'g%.0s' {1..30}).big"
for i in $(seq 10 29); do head -c $((3000 + i * 100)) /dev/urandom >"release/$DEEP/$(printf 's%.0s' {1..34})_$i.dat"; done
"$PUBLISH" build release origin --key "$SOURCE_DIR/keys/dev-manifest.pem" >publish.log 2>&1 ||
    { cat publish.log; fail "the release could not be published"; exit 1; }
grep -q '"pack":' origin/update/manifest.json || { fail "the release has no pack"; exit 1; }
serve_origin "$PUBLISH" origin serve.log || { fail "orvantis-publish serve did not start"; exit 1; }

# A game folder of about 130 characters as Windows sees it.
game="$WORK/$MARKER"
while [ ${#game} -lt 120 ]; do game="$game/carpeta-del-juego"; done
mkdir -p "$game"
cp "$LAUNCHER" "$game/OrvantisKesh.exe"
gfolder=$(winpath "$game/")
longest=$(python3 -c 'import json,sys; print(max(len(f["path"]) for f in json.load(open(sys.argv[1]))["files"]))' \
    origin/update/manifest.json)
deepest=$(python3 -c 'import json,sys; print(max(len(f["path"].rsplit("/",1)[0]) for f in json.load(open(sys.argv[1]))["files"]))' \
    origin/update/manifest.json)
echo "game folder: ${#gfolder} characters; longest entry $((${#gfolder} + longest)), deepest folder $((${#gfolder} + deepest))"
[ $((${#gfolder} + longest + 5)) -gt 260 ] && [ $((${#gfolder} + deepest)) -gt 248 ] ||
    { fail "the paths are not long enough to test anything"; exit 1; }

relay_include=""
for f in $FUNCTIONS; do relay_include="$relay_include;kernel32.$f"; done
relay_include="${relay_include#;};msvcrt._wfopen;msvcrt._wfsopen"
wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d "$relay_include" /f >/dev/null 2>&1 ||
    skip "the Wine registry cannot be written"
RELAY_SET=1

traced_run() {  # STEP: a verify-only run with the relay trace in trace-STEP.txt
    rm -f "$game/orvantis_verify.result"
    (cd "$game" && WINEDEBUG=+relay exec timeout 300 wine OrvantisKesh.exe --server "127.0.0.1:$SERVE_PORT" --yes \
        --verify-only </dev/null >/dev/null 2>"$WORK/trace-$1.txt")
    RC=$?
    RESULT=$(cat "$game/orvantis_verify.result" 2>/dev/null || echo "(no result file)")
    expect_eq "$1: the run ends ready ($(last_status_of "$game"))" "0:ready" "$RC:$RESULT"
    same_as_release release "$game"
    expect_eq "$1: every file arrived" "$(cd release && find . -type f | wc -l)" "$COMPARED"
}

# 1. A first install, with an old launcher copy, a killed run's pack file and a ".part" to remove.
hex=$(printf 'e%.0s' {1..64})
printf 'old' >"$game/OrvantisKesh.old.exe"
printf 'left' >"$game/.orvantis_pack_$hex"
first_small=$(cd release && find "$DEEP" -name '*.dat' | LC_ALL=C sort | head -1)
mkdir -p "$game/$(dirname "$first_small")"
printf 'left' >"$game/$first_small.part"
traced_run install
[ -e "$game/OrvantisKesh.old.exe" ] && fail "install: the old launcher copy was not deleted"

# 2. A repair: the cache gone (every file is read again), a damaged file, config.ini to repair.
rm -f "$game/orvantis_update.cache"
big=$(cd release && find "$DEEP" -name '*.big')
printf 'X' | dd of="$game/$big" bs=1 seek=10 conv=notrunc status=none
printf '[CONNECTION SETTINGS]\r\nServerIP=127.127.127.127\r\nServerPort=1\r\n' >"$game/config.ini"
traced_run repair
grep -q '^ServerIP=game' "$game/config.ini" || fail "repair: config.ini was not repaired"

# Every call of these functions on a path of the game folder must use the extended form.
python3 - "$MARKER" $FUNCTIONS _wfopen _wfsopen -- trace-install.txt trace-repair.txt <<'EOF' || fail "plain paths reached the platform"
import re, sys
args = sys.argv[1:]
marker, rest = args[0], args[1:]
split = rest.index("--")
functions, traces = rest[:split], rest[split + 1:]
call = re.compile(r'Call (?:KERNEL32|kernel32|msvcrt)\.(\w+)\((.*)\) ret=')
string = re.compile(r'L"((?:[^"\\]|\\.)*)"')
good, bad = {}, {}
for trace in traces:
    for line in open(trace, encoding="utf-8", errors="replace"):
        m = call.search(line)
        if not m or m.group(1) not in functions:
            continue
        for text in string.findall(m.group(2)):
            if marker not in text:
                continue
            extended = text.startswith("\\\\\\\\?\\\\")
            (good if extended else bad).setdefault(m.group(1), []).append(text)
for name in sorted(set(good) - set(bad)):
    print("ok: %s: %d paths of the game folder, all in the extended form" % (name, len(good[name])))
for name in sorted(bad):
    print("FAIL: %s: %d plain paths, e.g. %s" % (name, len(bad[name]), bad[name][0][:200]), file=sys.stderr)
# The runs must have gone through every kind of call that the launcher makes on its folder.
needed = ["CreateFileW", "MoveFileExW", "DeleteFileW", "GetFileAttributesW", "GetFileAttributesExW",
          "CreateDirectoryW", "FindFirstFileW", "GetPrivateProfileStringW", "WritePrivateProfileStringW", "_wfsopen"]
missing = [name for name in needed if name not in good and name not in bad]
if missing:
    print("FAIL: no traced call of %s on the game folder" % ", ".join(missing), file=sys.stderr)
sys.exit(1 if bad or missing else 0)
EOF

[ "$RELIABILITY_FAILURES" -eq 0 ] || exit 1
exit 0
