#!/usr/bin/env bash
# Builds the launcher, starts it in a fresh game folder under Wine (on a virtual display
# when there is none) and saves a picture of its window to build/demo/window.png.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ORVANTIS_ROOT"

orvantis_install_packages
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target OrvantisKesh

out="$ORVANTIS_ROOT/build/demo"
game="$out/juego de prueba"
rm -rf "$game"
mkdir -p "$game"
cp build/windows/OrvantisKesh.exe "$game/"

launcher_pid=""
cleanup() {
    if [ -n "$launcher_pid" ] && kill -0 "$launcher_pid" 2>/dev/null; then
        kill "$launcher_pid" 2>/dev/null || true
        wait "$launcher_pid" 2>/dev/null || true
    fi
    orvantis_stop_wine
    orvantis_stop_display
}
trap cleanup EXIT
orvantis_start_display
orvantis_start_wine

# Port 1 on loopback refuses at once, so the launcher never reaches for the internet: it
# reports that it plays with the files present and waits for the player.
(cd "$game" && exec wine OrvantisKesh.exe --server 127.0.0.1:1 </dev/null >/dev/null 2>&1) &
launcher_pid=$!

window=""
for _ in $(seq 1 100); do
    window=$(xwininfo -root -tree 2>/dev/null | awk '/"Orvantis Kesh"/ {print $1; exit}')
    [ -n "$window" ] && break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "error: the launcher window did not appear" >&2
    exit 1
fi
sleep 2  # let the run report and the window repaint
import -window "$window" "$out/window.png"
echo "Screenshot: $out/window.png"
echo "Update log of the run:"
cat "$game/orvantis_update.log"
