#!/usr/bin/env bash
# Runs a Windows program under Wine in a Japanese locale (code page 932), as the
# updater runs on its users' machines. The locale is compiled on first use, into
# the same folder scripts/wine-env.sh uses. With --test first, as CTest starts the
# test programs (below).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
locales="${TERVAN_LOCPATH:-$repo/build/locale}"
compiled="$locales/ja_JP.UTF-8/LC_CTYPE"

if [[ ! -f "$compiled" ]]; then
    if [[ ! -d /usr/share/i18n/locales ]] || ! command -v localedef >/dev/null; then
        echo "wine-ja.sh: the Debian package 'locales' is needed for ja_JP.UTF-8" >&2
        exit 1
    fi
    mkdir -p "$locales"
    # Tests may start side by side; one of them compiles, the others wait.
    (
        flock 9
        [[ -f "$compiled" ]] || localedef -i ja_JP -f UTF-8 "$locales/ja_JP.UTF-8" || true
    ) 9>"$locales/.lock"
    [[ -f "$compiled" ]] || { echo "wine-ja.sh: localedef failed" >&2; exit 1; }
fi

# LC_ALL too: a C.UTF-8 from the caller would otherwise win over LANG. The suites
# check the code page Wine gives the locale (TERVAN_CODE_PAGE).
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 LOCPATH="$locales" TERVAN_CODE_PAGE=932
[[ "${1:-}" == --test ]] || exec wine "$@"

# --test: a test program started by CTest. Now and then (twice in about 1,300 test
# runs on the 64-bit Wine, under load) such a program ends with an error before it
# has printed a single line: Wine did not get it started, and no test ran. That
# start is not a test result, so it is made once more, and said so. A program that
# printed anything, a failed test among it, is never started again.
shift
output="$(mktemp)"
trap 'rm -f "$output"' EXIT
for attempt in 1 2; do
    status=0
    wine "$@" >"$output" 2>&1 </dev/null || status=$?
    if [[ $status -eq 0 || -s "$output" || $attempt -eq 2 ]]; then
        cat "$output"
        exit "$status"
    fi
    echo "wine-ja.sh: ${1##*/} ended with code $status before printing anything;" \
        "started once more" >&2
done
