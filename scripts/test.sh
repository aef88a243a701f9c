#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ORVANTIS_ROOT"

orvantis_install_packages

jobs=$(nproc)
cmake --preset windows -DORVANTIS_WERROR=ON >/dev/null
cmake --build --preset windows -j "$jobs"
scripts/build-tls-launcher.sh "$jobs"
cmake --preset host -DORVANTIS_WERROR=ON >/dev/null
cmake --build --preset host -j "$jobs"

cleanup() {
    orvantis_stop_wine
    orvantis_stop_display
}
trap cleanup EXIT
# The display first: Wine's desktop process, started with the prefix, picks its display
# driver once, and without DISPLAY no window of any test could ever appear.
orvantis_start_display
orvantis_start_wine

status=0
echo "== Windows tests (under Wine) =="
ctest --preset windows -j "$jobs" || status=1
echo "== Native tests =="
ctest --preset host -j "$jobs" || status=1
echo "== Fuzzing (bounded) =="
scripts/fuzz.sh || status=1

if [ $status -ne 0 ]; then
    echo "Some tests failed." >&2
fi
exit $status
