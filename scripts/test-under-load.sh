#!/usr/bin/env bash
# Evidence that the Windows suites do not depend on timing: runs
# scripts/test-windows.sh N times in a row (default 10) while two busy loops keep
# two cores loaded, then prints the tally and the tests that failed. Each run's
# output is kept in build/under-load/run-K.log. Exits non-zero when any run failed.
#
#   scripts/test-under-load.sh [N]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-10}
logs=build/under-load
mkdir -p "$logs"
rm -f "$logs"/run-*.log

busy=()
stop_busy() {
    for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
}
trap stop_busy EXIT
for _ in 1 2; do
    (while :; do :; done) &
    busy+=($!)
done

passed=0 failed=0
for ((k = 1; k <= runs; k++)); do
    started=$SECONDS
    if scripts/test-windows.sh >"$logs/run-$k.log" 2>&1; then
        passed=$((passed + 1))
        outcome=passed
    else
        failed=$((failed + 1))
        outcome=FAILED
    fi
    echo "test-under-load.sh: run $k of $runs $outcome in $((SECONDS - started)) s"
done
stop_busy

echo "test-under-load.sh: $runs runs under two busy loops: $passed passed, $failed failed"
if ((failed > 0)); then
    # CTest's summary lines, and GoogleTest's for the unprivileged rerun.
    echo "failures, by the number of runs they occurred in:"
    grep -h -E '^\s*[0-9]+ - .*\((Failed|Timeout|Subprocess|Exception)|^\[  FAILED  \] .*\([0-9]+ ms\)' \
        "$logs"/run-*.log | sed -E 's/^ *[0-9]+ - //; s/ \([0-9]+ ms\)$//' | sort | uniq -c
    exit 1
fi
