# Shared by the project's scripts: packages, Wine and a virtual display.
# Sourced, not run.

ORVANTIS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

ORVANTIS_PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
    wine64 wine xvfb xauth x11-utils imagemagick
    googletest libgtest-dev libssl-dev libcpp-httplib-dev openssl nginx
    python3 xxd osslsigncode
)

# Installs only what is missing, and refreshes the package lists only then.
orvantis_install_packages() {
    local missing=()
    local p
    for p in "${ORVANTIS_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        if [ "$(id -u)" -ne 0 ]; then
            echo "error: these packages are missing and installing them needs root" >&2
            return 1
        fi
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# A build folder configured for another place (the checkout was moved or copied, build folder
# and all) cannot be configured again here: CMake refuses a cache made for another source
# folder, and the prefix and paths in it point elsewhere. Such folders are removed; they lie
# inside this checkout and hold nothing but build output.
orvantis_forget_moved_builds() {
    local dir home
    for dir in "$ORVANTIS_ROOT"/build/*/; do
        [ -f "$dir/CMakeCache.txt" ] || continue
        home=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$dir/CMakeCache.txt")
        if [ -n "$home" ] && [ "$(cd "$home" 2>/dev/null && pwd -P)" != "$(cd "$ORVANTIS_ROOT" && pwd -P)" ]; then
            echo "Removing ${dir%/}: it was configured for $home"
            rm -rf "${dir%/}"
        fi
    done
}

# A Wine prefix of the build's own, with wineserver kept alive for the whole run so
# that each test's Wine start is fast and nothing Wine spawns holds ctest's pipes.
orvantis_start_wine() {
    export WINEPREFIX="${WINEPREFIX:-$ORVANTIS_ROOT/build/wineprefix}"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1 &
    wine wineboot </dev/null >/dev/null 2>&1 || true
}

orvantis_stop_wine() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
}

# Starts Xvfb on a free display unless one is already set; remembers its PID.
ORVANTIS_XVFB_PID=""
orvantis_start_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    local n
    for n in $(seq 91 140); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
            ORVANTIS_XVFB_PID=$!
            export DISPLAY=":$n"
            local i
            for i in $(seq 1 50); do
                xdpyinfo >/dev/null 2>&1 && return 0
                sleep 0.1
            done
            echo "error: Xvfb did not start on :$n" >&2
            return 1
        fi
    done
    echo "error: no free X display number" >&2
    return 1
}

orvantis_stop_display() {
    if [ -n "$ORVANTIS_XVFB_PID" ]; then
        kill "$ORVANTIS_XVFB_PID" 2>/dev/null || true
        wait "$ORVANTIS_XVFB_PID" 2>/dev/null || true
        ORVANTIS_XVFB_PID=""
    fi
}

# Stops the given processes (ours, by PID) and reaps them; PIDs already gone are skipped.
orvantis_stop_pids() {
    local pid
    for pid in "$@"; do
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
}

# serve_origin PUBLISH ORIGIN LOG: `orvantis-publish serve` on a free port of 127.0.0.1, its
# request log in LOG; sets SERVE_PID and SERVE_PORT. Fails when no port is announced.
SERVE_PID=""
SERVE_PORT=""
serve_origin() {
    "$1" serve "$2" --port 0 >"$3" 2>&1 &
    SERVE_PID=$!
    SERVE_PORT=""
    local i
    for i in $(seq 1 100); do
        SERVE_PORT=$(sed -n '1s|^Serving .* on http://127\.0\.0\.1:\([0-9]*\)$|\1|p' "$3")
        [ -n "$SERVE_PORT" ] && return 0
        kill -0 "$SERVE_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

serve_stop() {
    [ -n "$SERVE_PID" ] && orvantis_stop_pids "$SERVE_PID"
    SERVE_PID=""
}
