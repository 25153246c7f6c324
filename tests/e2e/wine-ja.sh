#!/usr/bin/env bash
# Runs a Windows program under Wine in a Japanese locale (code page 932), as the
# updater runs on its users' machines. The locale is compiled on first use, into
# the same folder scripts/wine-env.sh uses.
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

# LC_ALL too: a C.UTF-8 from the caller would otherwise win over LANG.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 LOCPATH="$locales"
exec wine "$@"
