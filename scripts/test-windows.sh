#!/usr/bin/env bash
# Builds the Windows program and its Win32 suites with MinGW-w64 (preset "windows")
# and runs the suites under Wine in Xvfb. Exits non-zero on any failure.
#
#   scripts/test-windows.sh                  everything
#   scripts/test-windows.sh CTEST-ARGS...    only what the arguments choose, e.g.
#                                            -R Settings, -LE slow (the fast loop), -N
#
# A full run (no arguments) as root also runs the file suites a second time as the
# unprivileged user "nobody" in a prefix of its own (root writes read-only files
# regardless, so a read-only destination is only meaningful for a normal user;
# TERVAN_UNPRIVILEGED=0 turns this off). As root it mounts a 1 MiB tmpfs as drive T:
# for the full-disk case.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
phase() { printf 'test-windows.sh: %s (%d s)\n' "$1" $((SECONDS - started)); }

scripts/install-deps.sh
source scripts/wine-env.sh
mkdir -p build

unprivileged=0
if [[ $# -eq 0 && "$(id -u)" -eq 0 && "${TERVAN_UNPRIVILEGED:-1}" != 0 ]]; then
    unprivileged=1
    # Somewhere nobody can reach even when the work tree lies under /root.
    if runuser -u nobody -- test -x "$TERVAN_REPO/build"; then
        nobody_home="$TERVAN_REPO/build/unprivileged"
    else
        nobody_home="/tmp/tervan58-unprivileged-$(printf %s "$TERVAN_REPO" | md5sum | cut -c1-8)"
    fi
    mkdir -p "$nobody_home/bin"
    # The 64-bit loader's "wine", where 32-bit Wine cannot run (scripts/wine-env.sh).
    [[ -z "${WINELOADER:-}" ]] || cp "$TERVAN_REPO/build/wine64-bin/"* "$nobody_home/bin/"
    chown -R nobody:nogroup "$nobody_home"
fi
as_nobody() {
    runuser -u nobody -- env -i PATH="$nobody_home/bin:/usr/bin:/bin" HOME="$nobody_home" \
        LANG=C.UTF-8 WINEPREFIX="$nobody_home/prefix" WINEARCH="$WINEARCH" \
        WINEDEBUG="$WINEDEBUG" WINEDLLOVERRIDES="$WINEDLLOVERRIDES" \
        ${WINELOADER:+WINELOADER="$WINELOADER"} "$@"
}

# Each prefix takes about 15 s to create, mostly waiting: done while the compiler runs.
(wine_prepare_prefix && wine_prepare_locale) >build/wineprefix.log 2>&1 &
prefix_job=$!
if [[ $unprivileged == 1 ]]; then
    as_nobody bash -c '[[ -f "$WINEPREFIX/.tervan-ready" ]] ||
        { rm -rf "$WINEPREFIX"; wineboot -i && wineserver -w && touch "$WINEPREFIX/.tervan-ready"; }' \
        >build/wineprefix-unprivileged.log 2>&1 </dev/null &
    nobody_prefix_job=$!
fi

cmake --preset "$TERVAN_WINDOWS_PRESET" >/dev/null
cmake --build --preset "$TERVAN_WINDOWS_PRESET"
if [[ $TERVAN_WINDOWS_PRESET != windows ]]; then
    # The suites run on the 64-bit build; the 32-bit program is still built, and its
    # own checks (imports, header flags) run in the suites against it.
    echo "test-windows.sh: this Linux cannot run 32-bit programs; the Win32 suites run" \
        "on the 64-bit build ($TERVAN_WINDOWS_PRESET) under 64-bit Wine"
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target tervan58-updater
fi
phase "built"

if ! wait "$prefix_job"; then
    cat build/wineprefix.log >&2
    exit 1
fi
phase "prefix ready"

full_disk="$TERVAN_REPO/build/full-disk"
cleanup() {
    rm -f "$WINEPREFIX/dosdevices/t:"
    if mountpoint -q "$full_disk" 2>/dev/null; then umount "$full_disk" || true; fi
}
trap cleanup EXIT
if [[ "$(id -u)" -eq 0 ]]; then
    mkdir -p "$full_disk"
    if mountpoint -q "$full_disk" || mount -t tmpfs -o size=1m tervan-full-disk "$full_disk" 2>/dev/null; then
        ln -sfn "$full_disk" "$WINEPREFIX/dosdevices/t:"
        export TERVAN_FULL_DRIVE="T:"
    else
        echo "test-windows.sh: cannot mount a tmpfs; the real full-disk case is skipped"
    fi
fi

status=0
wine_session ctest --preset "$TERVAN_WINDOWS_PRESET" "$@" || status=1
phase "suites run"

if [[ $unprivileged == 1 ]]; then
    if ! wait "$nobody_prefix_job"; then
        cat build/wineprefix-unprivileged.log >&2
        exit 1
    fi
    cp "$TERVAN_WINDOWS_BUILD/tests/win32/win32_tests.exe" "$nobody_home/win32_tests.exe"
    chown nobody:nogroup "$nobody_home/win32_tests.exe"
    echo "test-windows.sh: file suites as the unprivileged user nobody"
    as_nobody wine "$nobody_home/win32_tests.exe" \
        --gtest_filter='ReplaceTest.*:FileIsPresentTest.*:Win32FileSystemTest.*' \
        --gtest_brief=1 </dev/null || status=1
    as_nobody wineserver -k >/dev/null 2>&1 || true
    phase "unprivileged suites run"
fi

exit $status
