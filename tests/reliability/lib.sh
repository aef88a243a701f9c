# Helpers of the shell-driven reliability tests (sourced, not run).
# Every process started here is remembered by PID and stopped by that PID only.

RELIABILITY_SKIP=77
RELIABILITY_FAILURES=0

fail() {
    echo "FAIL: $*" >&2
    RELIABILITY_FAILURES=$((RELIABILITY_FAILURES + 1))
}

pass() { echo "ok: $*"; }

# A skip after a failed check still fails.
skip() {
    echo "SKIPPED: $*"
    [ "$RELIABILITY_FAILURES" -eq 0 ] || exit 1
    exit "$RELIABILITY_SKIP"
}

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
    if [ "$2" == "$3" ]; then pass "$1"; else fail "$1: expected '$2', got '$3'"; fi
}

# An nginx of our own: config, prefix and logs under the test's folder, PID kept.
NGINX_PID=""

# nginx_start CONF DIR PORT: starts nginx in the foreground of a background job and waits
# until PORT on 127.0.0.1 accepts connections. Fails (returns 1) when nginx exits first,
# e.g. because the port is taken.
nginx_start() {
    local conf="$1" dir="$2" port="$3"
    mkdir -p "$dir/tmp"
    nginx -p "$dir" -c "$conf" -g "daemon off;" </dev/null >"$dir/nginx.out" 2>&1 &
    NGINX_PID=$!
    local i
    for i in $(seq 1 100); do
        if ! kill -0 "$NGINX_PID" 2>/dev/null; then
            wait "$NGINX_PID" 2>/dev/null
            NGINX_PID=""
            return 1
        fi
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
        sleep 0.05
    done
    nginx_stop
    return 1
}

nginx_stop() {
    if [ -n "$NGINX_PID" ]; then
        kill "$NGINX_PID" 2>/dev/null || true
        wait "$NGINX_PID" 2>/dev/null || true
        NGINX_PID=""
    fi
}

# The temp paths nginx insists on, kept inside the test's folder.
nginx_temp_paths() {
    local dir="$1"
    echo "client_body_temp_path \"$dir/tmp\"; proxy_temp_path \"$dir/tmp\"; fastcgi_temp_path \"$dir/tmp\";"
    echo "uwsgi_temp_path \"$dir/tmp\"; scgi_temp_path \"$dir/tmp\";"
}

# nginx_work NAME: makes a folder of this test's own for what nginx serves and writes, and
# prints its path. The checkout may sit in a private folder (0700, which nginx's workers,
# another user when the master runs as root, cannot enter) whose path has blanks (which the
# documented recipe's unquoted command line cannot carry), so the folder is made under /tmp
# by mktemp and opened to other users: it is ours, made here, and removed by nginx_work_done.
nginx_work() {
    local dir
    dir=$(mktemp -d "/tmp/orvantis-$1.XXXXXX") || return 1
    chmod 0755 "$dir" && echo "$dir"
}

# nginx_work_done DIR: removes DIR after a passing run; keeps it, and says where, after a failure.
nginx_work_done() {
    [ -n "$1" ] && [ -d "$1" ] || return 0
    case "$1" in /tmp/orvantis-*) ;; *) return 0 ;; esac
    if [ "$RELIABILITY_FAILURES" -eq 0 ]; then rm -rf "$1"; else echo "kept for inspection: $1" >&2; fi
}

# --- A Wine prefix of a test's own, with its persistent wineserver. ---
# The server runs in the foreground of a background job so that its PID is the server's own:
# `wineserver -k` alone has been seen to leave a persistent server behind, and a lingering
# server keeps every file descriptor it inherited (once a lock that the next suite waited on).
OWN_WINESERVER_PID=""

# own_wine_start PREFIX: exports the Wine settings for PREFIX, ends a server of an earlier,
# interrupted run of this same test, and starts this run's server and the prefix.
own_wine_start() {
    export WINEPREFIX="$1"
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
    wineserver -k >/dev/null 2>&1
    # A new prefix goes on being set up after wineboot returns (wine.inf, the DLLs' own
    # registration, the cryptographic providers among it): until that has ended no certificate
    # can be hashed, so a CA added then is never found. The set-up runs under a server of its
    # own, which ends once every process of it has ended; only then does this test's start.
    # A prefix whose set-up an earlier run cut short keeps Wine's update stamp, so wineboot
    # never completes it: it is made again, once.
    local attempt
    for attempt in 1 2; do
        mkdir -p "$WINEPREFIX"
        wine wineboot </dev/null >/dev/null 2>&1
        wineserver -w
        wineserver -f -p </dev/null >/dev/null 2>&1 &
        OWN_WINESERVER_PID=$!
        wine reg query 'HKLM\Software\Microsoft\Cryptography\Defaults\Provider\Microsoft Enhanced RSA and AES Cryptographic Provider' \
            </dev/null >/dev/null 2>&1 && return 0
        own_wine_stop
        [ "$attempt" -eq 1 ] && echo "note: $WINEPREFIX has no cryptographic providers (an unfinished set-up); making it again" >&2
        rm -rf "$WINEPREFIX"
    done
    fail "a new Wine prefix at $WINEPREFIX has no cryptographic providers: its set-up does not finish"
}

# own_wine_stop: asks the server to end, waits for that PID, and ends it by PID when it
# stays; a server that had to be ended that way is a failure of the test.
own_wine_stop() {
    [ -n "$OWN_WINESERVER_PID" ] || return 0
    wineserver -k >/dev/null 2>&1
    local i
    for i in $(seq 1 100); do
        kill -0 "$OWN_WINESERVER_PID" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$OWN_WINESERVER_PID" 2>/dev/null; then
        kill -9 "$OWN_WINESERVER_PID" 2>/dev/null
        fail "the wineserver of $WINEPREFIX (PID $OWN_WINESERVER_PID) outlived 'wineserver -k' by 10 s"
        wait "$OWN_WINESERVER_PID" 2>/dev/null
        OWN_WINESERVER_PID=""
        return 1
    fi
    wait "$OWN_WINESERVER_PID" 2>/dev/null
    OWN_WINESERVER_PID=""
}

# A free TCP port on 127.0.0.1 (nothing listens on it right now).
free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# Windows path of a Linux path, as Wine's Z: drive shows it.
winpath() { echo "Z:$1" | tr / '\\'; }

# Snapshot of a folder: one line per folder, and per file its SHA-256, size, last-write time
# and path, so that two snapshots are equal only when no file was added, removed, changed or
# even rewritten with the same bytes.
snapshot() {
    (cd "$1" && find . -mindepth 1 -type d -printf 'dir %p\n' -o -type f -printf '%T@ %s %p\n' |
        LC_ALL=C sort -k3 | while read -r time size name; do
            if [ "$time" == dir ]; then
                echo "dir $size"
            else
                echo "$(sha256sum "$name" | cut -d' ' -f1) $size $time $name"
            fi
        done)
}

# The nginx recipe out of docs/publishing.md, into the current folder: publish-manifest.sh
# (the fenced block that starts with "#!/bin/sh"), local.sh (the first block after the
# heading "Trying the nginx setup locally") and server.conf (the production server block,
# the one that listens on 443). Fails when the document no longer has them.
recipe_from_doc() {
    python3 - "$1" <<'PYEOF'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
blocks = [(m.start(), m.group(1)) for m in re.finditer(r"```[a-z]*\n(.*?)```", text, re.S)]
script = [b for _, b in blocks if b.startswith("#!/bin/sh")]
heading = text.find("Trying the nginx setup locally")
local = [b for start, b in blocks if heading >= 0 and start > heading]
server = [b for _, b in blocks if b.startswith("server {") and "listen 443" in b]
if len(script) != 1 or not local or len(server) != 1:
    sys.exit("docs/publishing.md no longer holds the recipe's blocks")
open("publish-manifest.sh", "w").write(script[0])
open("local.sh", "w").write(local[0])
open("server.conf", "w").write(server[0])
PYEOF
}

# --- A sample release published by orvantis-publish, served on loopback, and installed. ---

# publish_sample PUBLISH MAIN GAME ORIGIN FILES SEED: writes the sample game (MAIN as its
# Main.exe) into GAME and publishes it into ORIGIN with the development key.
publish_sample() {
    local publish=$1 main=$2 game=$3 origin=$4 files=$5 seed=$6
    python3 "$SOURCE_DIR/scripts/make-sample-game.py" "$game" --main "$main" --files "$files" --seed "$seed" \
        >/dev/null &&
        "$publish" build "$game" "$origin" --key "$SOURCE_DIR/keys/dev-manifest.pem" >"$origin.log" 2>&1 ||
        { cat "$origin.log" >&2; return 1; }
}

# run_verify GAME [EXE]: a verify-only update of GAME by GAME/EXE (default OrvantisKesh.exe)
# against SERVE_PORT, ended after 300 s at most; sets RC and RESULT.
run_verify() {
    local game=$1 exe=${2:-OrvantisKesh.exe}
    rm -f "$game/orvantis_verify.result"
    (cd "$game" && exec timeout 300 wine "$exe" --server "127.0.0.1:$SERVE_PORT" --yes --verify-only \
        </dev/null >/dev/null 2>&1)
    RC=$?
    RESULT=$(cat "$game/orvantis_verify.result" 2>/dev/null || echo "(no result file)")
}

# The last line of GAME's update log, without its time stamp.
last_status_of() { tail -1 "$1/orvantis_update.log" 2>/dev/null | tr -d '\r' | cut -d' ' -f3-; }

# same_as_release RELEASE GAME: every file of RELEASE outside DataUltra (which only folders that
# have it take) is in GAME with the same bytes; sets COMPARED, and fails for each that is not.
same_as_release() {
    local path
    COMPARED=0
    while IFS= read -r -d '' path; do
        path=${path#./}
        case "$path" in DataUltra/*) continue ;; esac
        if cmp -s "$1/$path" "$2/$path"; then
            COMPARED=$((COMPARED + 1))
        else
            fail "$path differs from the release in $2"
        fi
    done < <(cd "$1" && find . -type f -print0)
}

# For the tests that publish a release and run the launcher: skips only for what this machine
# lacks, then a clean work folder $WORK of the test's own, entered.
prepare_launcher_test() {
    local program
    for program in wine python3; do
        command -v "$program" >/dev/null || skip "$program is not installed"
    done
    [ -f "$LAUNCHER" ] || skip "$LAUNCHER is not built"
    [ -x "$PUBLISH" ] || skip "$PUBLISH is not built (the host preset builds it)"
    rm -rf "$WORK"
    mkdir -p "$WORK"
    cd "$WORK" || exit 1
}

# Wine (the suite's own under scripts/test.sh; else one this test starts and stops, WINE_STARTED)
# and a display for the launcher's window.
start_wine_and_display() {
    if [ -z "${WINEPREFIX:-}" ]; then
        orvantis_start_wine
        WINE_STARTED=1
    fi
    orvantis_start_display || skip "no X display for the launcher's window"
}
