#!/usr/bin/env bash
# The test command of the cross builds (CMAKE_CROSSCOMPILING_EMULATOR): runs its
# arguments, a Windows program under "wine" or tests/e2e/wine-ja.sh, but only inside
# the Wine session of scripts/wine-env.sh (wine_session), which sets
# TERVAN_WINE_SESSION to its prefix. Outside it, Wine would create ~/.wine, take
# longer than CTest's test discovery waits, and leave its processes running: this
# says which command to use instead and starts nothing. cmake/wine-session.cmake
# runs the same check once before CTest reads any test.
set -euo pipefail

if [[ -z "${TERVAN_WINE_SESSION:-}" || "$TERVAN_WINE_SESSION" != "${WINEPREFIX:-}" ]]; then
    cat >&2 <<'TEXT'
The Windows tests run under Wine, inside the Wine session of this work tree (its
prefix build/wineprefix, Xvfb, a prewarmed wineserver); nothing was started. Use
    scripts/test-windows.sh [ctest arguments]    e.g. -R ProgramSettingTest, -LE slow
or, after a build, by hand (preset windows-x64 where 32-bit Wine cannot run):
    source scripts/wine-env.sh && wine_session ctest --preset windows -R ProgramSettingTest
TEXT
    exit 1
fi
exec "$@"
