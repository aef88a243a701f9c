# Shared by the shell tests that run the real launcher under Wine against `orvantis-publish serve`.
# Sourced after `publish`, `windows` and `source_dir` are set from the test's arguments.
# Needs WINEPREFIX with a running wineserver and DISPLAY, as scripts/test.sh sets them up.

source "$source_dir/scripts/common.sh"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

launcher="$windows/OrvantisKesh.exe"
fake_game="$windows/tools/fake_game.exe"
for f in "$launcher" "$fake_game"; do
    [ -f "$f" ] || fail "$f is missing: build the Windows preset first (cmake --build --preset windows)"
done
[ -x "$publish" ] || fail "$publish is missing"
[ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX is not set: run through scripts/test.sh, which starts Wine"
[ -n "${DISPLAY:-}" ] || fail "DISPLAY is not set: the launcher's window needs one (scripts/test.sh starts Xvfb)"
command -v wine >/dev/null || fail "wine is not installed"

# The test's own folder, removed at the end with whatever it started.
work=$(mktemp -d "${TMPDIR:-/tmp}/orvantis-publisher-test.XXXXXX")
serve_pid=""
launcher_pid=""
cleanup() {
    orvantis_stop_pids $launcher_pid $serve_pid
    rm -rf "$work"
}
trap cleanup EXIT
serve_log="$work/serve.log"

# Serves origin $1 on a free loopback port and leaves the port in $port.
start_serve() {
    local served=0
    serve_origin "$publish" "$1" "$serve_log" || served=$?
    serve_pid=$SERVE_PID
    port=$SERVE_PORT
    [ $served -eq 0 ] || { cat "$serve_log" >&2; fail "serve announced no port"; }
}

# Runs the launcher in folder $1 (it quits by itself with --verify-only) for at most $2 seconds
# and leaves its exit code in $code. Bounded, so a hang fails the test instead of holding ctest.
code=""
run_launcher_in() {
    local folder=$1 limit=$(($2 * 10)) waited=0
    mkdir -p "$folder"
    [ -f "$folder/OrvantisKesh.exe" ] || cp "$launcher" "$folder/"
    rm -f "$folder/orvantis_verify.result"
    (cd "$folder" && exec wine OrvantisKesh.exe --server "127.0.0.1:$port" --yes --verify-only \
        </dev/null >>"$work/wine.out" 2>&1) &
    launcher_pid=$!
    while kill -0 "$launcher_pid" 2>/dev/null; do
        if [ $waited -ge $limit ]; then
            echo "--- update log:" >&2
            cat "$folder/orvantis_update.log" >&2 || true
            fail "the launcher in $folder did not finish within $2 s"
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    code=0
    wait "$launcher_pid" || code=$?
    launcher_pid=""
}
