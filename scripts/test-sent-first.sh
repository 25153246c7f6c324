#!/usr/bin/env bash
# Runs the end-to-end suite and the reliability cases that drive the program's
# windows against tervan58-updater-sent-first: the same program, built for tests
# only, whose message loop keeps answering messages sent from other threads while
# a posted one waits (tests/e2e/sent_first_updater.cpp). Windows may do so; Wine hardly ever
# does. A test that reads a window through sent messages before its own posted
# click or character was handled fails here. Not part of scripts/test.sh: it
# takes about four minutes. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >/dev/null
source scripts/wine-env.sh
mkdir -p build
(wine_prepare_prefix && wine_prepare_locale) >build/wineprefix.log 2>&1 || {
    cat build/wineprefix.log >&2
    exit 1
}

cmake --preset "$TERVAN_WINDOWS_PRESET" >/dev/null
cmake --build --preset "$TERVAN_WINDOWS_PRESET" \
    --target tervan58-updater-sent-first e2e_tests reliability_tests

export TERVAN_UPDATER_EXE="Z:$TERVAN_WINDOWS_BUILD/tervan58-updater-sent-first.exe"
status=0
run() { wine_session bash tests/e2e/wine-ja.sh "$@" --gtest_brief=1 </dev/null || status=1; }
run "$TERVAN_WINDOWS_BUILD/tests/e2e/e2e_tests.exe"
run "$TERVAN_WINDOWS_BUILD/tests/reliability/reliability_tests.exe" \
    --gtest_filter='Settings/BadSettingTest.*:HostileTypingTest.*'
echo "test-sent-first.sh: $([[ $status == 0 ]] && echo passed || echo FAILED)"
exit $status
