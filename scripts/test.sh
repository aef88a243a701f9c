#!/usr/bin/env bash
# Installs what is missing, builds both presets and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$ORVANTIS_ROOT"

orvantis_install_packages
orvantis_forget_moved_builds

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

# JUnit files carry each test's output, so the summary can tell why a test skipped; passed
# tests' output is kept whole, or a GoogleTest skip line could be cut off.
results="$ORVANTIS_ROOT/build/test-results"
mkdir -p "$results"
rm -f "$results"/*.xml
ctest_args=(-j "$jobs" --test-output-size-passed 1000000 --test-output-size-failed 1000000)

status=0
echo "== Windows tests (under Wine) =="
ctest --preset windows "${ctest_args[@]}" --output-junit "$results/windows.xml" || status=1
echo "== Native tests =="
ctest --preset host "${ctest_args[@]}" --output-junit "$results/host.xml" || status=1
echo "== Fuzzing (bounded) =="
fuzz=passed
scripts/fuzz.sh || { status=1; fuzz=failed; }

echo "== Summary =="
python3 scripts/test_summary.py "Windows tests=$results/windows.xml" "Native tests=$results/host.xml" || status=1
echo "Fuzzing: $fuzz"

if [ $status -ne 0 ]; then
    echo "Some tests failed, or skipped for a reason that is not allowed." >&2
fi
exit $status
