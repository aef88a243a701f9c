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
orvantis_start_wine
orvantis_start_display

status=0
echo "== Windows tests (under Wine) =="
ctest --preset windows -j "$jobs" || status=1
echo "== Native tests =="
ctest --preset host -j "$jobs" || status=1

if [ $status -ne 0 ]; then
    echo "Some tests failed." >&2
fi
exit $status
