#!/usr/bin/env bash
# Builds a second launcher whose default (HTTPS, port 443) endpoints are both "localhost",
# for the HTTPS end-to-end test, in build/windows-tls. Only the executable is built.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ORVANTIS_ROOT"
cmake --preset windows -B build/windows-tls -DORVANTIS_WERROR=ON \
    -DORVANTIS_SITE_HOST=localhost -DORVANTIS_FILES_HOST=localhost >/dev/null
cmake --build build/windows-tls --target OrvantisKesh -j "${1:-$(nproc)}"
