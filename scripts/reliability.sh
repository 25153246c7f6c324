#!/usr/bin/env bash
# The long reliability checks (docs/reliability.md), beyond the quick ones that
# scripts/test.sh runs: the replacement of a 256 MiB file killed at 50 random
# moments, thousands of hostile keystrokes on the access screen, and the fault and
# settings suites once more. Builds what it needs first; exits non-zero on any
# failure. The figures are in build/reliability.log.
#
#   scripts/reliability.sh [--kills N] [--mib M] [--keys K] [--seed S]
#
# --seed seeds the kill delays and the keystrokes; the defaults are printed and
# replay the figures of docs/reliability.md.
set -euo pipefail
cd "$(dirname "$0")/.."

kills=50 mib=256 keys=5000 seed=5816
while [[ $# -gt 0 ]]; do
    case "$1" in
    --kills) kills=$2 ;;
    --mib) mib=$2 ;;
    --keys) keys=$2 ;;
    --seed) seed=$2 ;;
    *)
        echo "usage: scripts/reliability.sh [--kills N] [--mib M] [--keys K] [--seed S]" >&2
        exit 2
        ;;
    esac
    shift 2
done

started=$SECONDS
phase() { printf 'reliability.sh: %s (%d s)\n' "$1" $((SECONDS - started)); }

scripts/install-deps.sh
source scripts/wine-env.sh
mkdir -p build
(wine_prepare_prefix && wine_prepare_locale) >build/wineprefix.log 2>&1 &
prefix_job=$!
cmake --preset "$TERVAN_WINDOWS_PRESET" >/dev/null
cmake --build --preset "$TERVAN_WINDOWS_PRESET" --target tervan58-updater reliability_tests reliability_kill \
    reliability_replace_child
if ! wait "$prefix_job"; then
    cat build/wineprefix.log >&2
    exit 1
fi
phase "built, prefix ready"

# A volume too small for the new file beside the old one, as root: a 1 MiB tmpfs
# as drive S: (test-windows.sh uses T: for its own).
small="$TERVAN_REPO/build/reliability-small"
cleanup() {
    rm -f "$WINEPREFIX/dosdevices/s:"
    if mountpoint -q "$small" 2>/dev/null; then umount "$small" || true; fi
}
trap cleanup EXIT
export TERVAN_FULL_DRIVE=""
if [[ "$(id -u)" -eq 0 ]]; then
    mkdir -p "$small"
    if mountpoint -q "$small" || mount -t tmpfs -o size=1m tervan-reliability "$small" 2>/dev/null; then
        ln -sfn "$small" "$WINEPREFIX/dosdevices/s:"
        TERVAN_FULL_DRIVE="S:"
    fi
fi
[[ -n "$TERVAN_FULL_DRIVE" ]] || echo "reliability.sh: not root or no tmpfs; the small-volume cases are skipped"

bin="$TERVAN_WINDOWS_BUILD/tests/reliability"
export TERVAN_UPDATER_EXE="Z:$TERVAN_WINDOWS_BUILD/tervan58-updater.exe"
export TERVAN_TYPING_KEYS=$keys TERVAN_TYPING_SEED=$seed
log=build/reliability.log
status=0
# shellcheck disable=SC2016 # expanded by the inner shell
wine_session bash -c '
    status=0
    tests/e2e/wine-ja.sh "$0/reliability_tests.exe" --gtest_brief=1 || status=1
    wine "$0/reliability_kill.exe" --kills "$1" --mib "$2" --seed "$3" || status=1
    exit $status
' "$bin" "$kills" "$mib" "$seed" </dev/null 2>&1 | tee "$log" || status=1
phase "checks run"

echo "reliability.sh: figures (full output in $log)"
grep -E '^(hostile typing: [0-9]+ keystrokes \(|summary:|one replacement took|held with|Lock at|[A-Za-z]+: [0-9]+ calls)' "$log" || true
exit $status
