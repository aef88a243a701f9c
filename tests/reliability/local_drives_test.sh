#!/usr/bin/env bash
# Local faults that need mounts, which a Windows program cannot make: a full disk (a
# small tmpfs mapped as drive R: of a Wine prefix of this test's own) and a read-only
# folder (a read-only bind mount of a game folder's "Data"; Wine ignores the read-only
# attribute of folders, and root ignores permission bits). Runs the matching cases of
# reliability_tests.exe with ORVANTIS_SMALL_DRIVE and ORVANTIS_READONLY_GAME set.
#
#   local_drives_test.sh SOURCE_DIR WINDOWS_BUILD_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SOURCE_DIR="$(cd "$1" && pwd)"
source "$SOURCE_DIR/scripts/common.sh"
BUILD_DIR="$(cd "$2" && pwd)"
WORK="$BUILD_DIR/reliability/drives"
TESTS="$BUILD_DIR/tests/reliability_tests.exe"

[ -f "$TESTS" ] || skip "$TESTS is not built"
command -v mount >/dev/null || skip "mount is not installed"

SMALL="$WORK/small"
ROGAME="$WORK/rogame"
MOUNTED=()
cleanup() {
    local m
    for m in "${MOUNTED[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null; done
    local rc=$?
    own_wine_stop || rc=1
    orvantis_stop_display
    exit "$rc"
}
trap cleanup EXIT

# A mount left by an interrupted run is taken down first.
for m in "$SMALL" "$ROGAME/Data"; do mountpoint -q "$m" 2>/dev/null && umount "$m"; done
rm -rf "$SMALL" "$ROGAME"
mkdir -p "$SMALL" "$ROGAME/Data"

if ! err=$(mount -t tmpfs -o size=8m,mode=0777 orvantis-small "$SMALL" 2>&1); then
    skip "mounting a tmpfs is not permitted on this machine ($err); the full disk cannot be made"
fi
MOUNTED+=("$SMALL")
if ! err=$(mount --bind "$ROGAME/Data" "$ROGAME/Data" 2>&1 && mount -o remount,ro,bind "$ROGAME/Data" 2>&1); then
    MOUNTED+=("$ROGAME/Data")
    skip "a read-only bind mount is not permitted on this machine ($err)"
fi
MOUNTED+=("$ROGAME/Data")
if touch "$ROGAME/Data/probe" 2>/dev/null; then
    fail "the read-only mount accepts writes"
    exit 1
fi

own_wine_start "$BUILD_DIR/reliability/drives-prefix"
ln -sfn "$SMALL" "$WINEPREFIX/dosdevices/r:"

# Reuses a working display; orvantis_stop_display stops only a server started here.
orvantis_start_display || skip "no X display for the launcher's window"

export ORVANTIS_SMALL_DRIVE='R:\'
export ORVANTIS_READONLY_GAME="$(winpath "$ROGAME")"
out=$(cd "$BUILD_DIR" && wine "$TESTS" \
    --gtest_filter='LocalFaults.FullDisk*:LocalFaults.ReadOnlyFolder*' 2>&1 | tr -d '\r')
rc=$?
echo "$out"
if echo "$out" | grep -q '\[  SKIPPED \]'; then
    fail "a case skipped although its drive was provided"
fi
expect_eq "two cases ran and passed" 2 "$(echo "$out" | grep -c '^\[       OK \]')"
[ "$RELIABILITY_FAILURES" -eq 0 ] && [ "$rc" -eq 0 ] || exit 1
exit 0
