#!/usr/bin/env bash
# The Windows test kit (scripts/windows-test-kit.sh) run as a Windows PC would run
# it, under Wine but outside the project's Wine session: unpacked into a folder of a
# fresh prefix, started with `wine cmd /c run-tests.cmd` with none of the session's
# environment (no TERVAN_* variables, the default locale, its own Xvfb).
#   tests/kit/kit_test.sh KIT.zip BUILD
# BUILD is the cross build the kit was made from, after its suites ran under Wine
# (scripts/test-windows.sh), for the names of the tests CTest registered there.
# Passes when the kit ends with "N passed, 0 failed, N skipped" and exit code 0;
# it ran exactly the tests CTest runs under Wine, each passed but those that
# tests/kit/wine-skips.txt names, which skipped with the reason it gives; and nothing
# was left outside the kit's scratch folder, in the files or in the registry.
set -euo pipefail

say() { echo "kit_test.sh: $*"; }
fail() {
    echo "kit_test.sh: FAIL: $*" >&2
    exit 1
}

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"

if [[ "${1:-}" == --inside ]]; then
    # In the Xvfb of the outer call, with a clean environment.
    kit_folder=$2
    wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    # No window manager here: without this each closing window waits two seconds.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
    wineserver -w
    snapshot() { # NAME: the registry and the files, as they are now
        wine regedit /E "C:\\$1.reg" HKEY_CURRENT_USER >/dev/null 2>&1 </dev/null
        wineserver -w
        (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print | LC_ALL=C sort) \
            >"$WINEPREFIX/$1.files"
    }
    snapshot before
    status=0
    # Only against a hang: every wait in the suites has its own guard.
    (cd "$kit_folder" && timeout 1800 wine cmd /c run-tests.cmd </dev/null) \
        >"$WINEPREFIX/../kit.out" 2>&1 || status=$?
    [[ $status != 124 ]] || wineserver -k
    wineserver -w
    snapshot after
    echo "$status" >"$WINEPREFIX/../kit.status"
    exit 0
fi

[[ $# -eq 2 && -f "$1" && -d "$2" ]] || fail "usage: tests/kit/kit_test.sh KIT.zip BUILD"
zip="$(realpath "$1")"
build="$(realpath "$2")"
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    say "skipped: the kit is the 32-bit build, and this Linux cannot run 32-bit Wine"
    exit 0
fi

work="$repo/build/kit-test"
prefix="$work/prefix"
# A folder name as people have them: blanks, Japanese, "&".
kit_folder="$prefix/drive_c/users/Public/ﾃｽﾄ & kit"
# A run cut short may have left a folder immutable (the refusing-folder cases).
[[ ! -d $work ]] || chattr -R -i "$work" 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work/home"
started=$SECONDS
(
    export HOME="$work/home"
    mkdir -p "$kit_folder"
    unzip -q "$zip" -d "$kit_folder"
    # shellcheck disable=SC2016 # expanded by the inner shell, which has the display
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c 'exec env -i PATH=/usr/bin:/bin \
        HOME="$2" DISPLAY="$DISPLAY" XAUTHORITY="$XAUTHORITY" LANG=C.UTF-8 WINEPREFIX="$3" \
        WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        bash "$0" --inside "$1"' "${BASH_SOURCE[0]}" "$kit_folder" "$HOME" "$prefix"
) || fail "the Wine prefix or Xvfb failed"
say "the kit ran in $((SECONDS - started)) s, with the prefix"

# Nothing of the build machine or of Wine in what a person reads and runs.
for text in run-tests.cmd README.txt; do
    ! grep -qiE 'wine|Z:\\|/tmp|/bin/' "$kit_folder/$text" || fail "$text names Wine or Unix"
done

out="$(tr -d '\r' <"$work/kit.out")"
status="$(cat "$work/kit.status")"
closing="$(tail -n1 <<<"$out")"
[[ $closing =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed,\ ([0-9]+)\ skipped$ ]] ||
    fail "no closing line; the kit printed:"$'\n'"$out"
passed=${BASH_REMATCH[1]} failed=${BASH_REMATCH[2]} skipped=${BASH_REMATCH[3]}
shopt -s nullglob
scratches=("$prefix"/drive_c/users/*/Temp/tervan58-tests-*)
[[ ${#scratches[@]} -eq 1 ]] || fail "${#scratches[@]} scratch folders instead of one"
scratch="${scratches[0]}"
cp -r "$scratch" "$work/results" # kept for a look, without the programs
rm -rf "$work/results/bin" "$work/results/temp"
[[ $status == 0 && $failed == 0 ]] ||
    fail "exit code $status, $closing; see $work/results:"$'\n'"$(tr -d '\r' <"$scratch/results.txt")"

# Each test the kit ran: "passed|skipped|failed NAME [reason]", named as CTest names it.
outcomes() { # SUITE-PREFIX XML
    awk -v prefix="$1" '
        function flush() { if (name != "") print state "\t" prefix class "." name "\t" why; name = "" }
        function attribute(key,   rest) {
            rest = substr($0, index($0, " " key "=\"") + length(key) + 3)
            return substr(rest, 1, index(rest, "\"") - 1)
        }
        /<testcase / { flush(); name = attribute("name"); class = attribute("classname")
                       state = attribute("result") == "skipped" ? "skipped" : "passed"; why = "" }
        /<failure / { state = "failed" }
        /<skipped / { why = attribute("message") }
        END { flush() }' "$2"
}
{
    outcomes "" "$scratch/win32_tests.xml"
    outcomes e2e. "$scratch/e2e_tests.xml"
    outcomes reliability. "$scratch/reliability_tests.xml"
    grep -q '^reliability.KillDuringReplacement: passed' <<<"$out" &&
        printf 'passed\treliability.KillDuringReplacement\t\n'
} | sed -e 's/&#x0A;/ \/ /g' -e "s/&apos;/'/g" -e 's/&quot;/"/g' -e 's/&lt;/</g' \
    -e 's/&gt;/>/g' -e 's/&amp;/\&/g' >"$work/outcomes.tsv"

# The names CTest gave the same suites under Wine, less the check of the exe's
# imports, which runs on the build machine.
grep -ho 'add_test(\[=\[[^]]*\]=\]' "$build"/tests/*/*_tests.cmake "$build"/tests/*/CTestTestfile.cmake |
    sed 's/^add_test(\[=\[//; s/\]=\]$//' | LC_ALL=C sort >"$work/ctest-names.txt"
[[ -s "$work/ctest-names.txt" ]] || fail "no tests registered in $build: run scripts/test-windows.sh"
cut -f2 "$work/outcomes.tsv" | LC_ALL=C sort >"$work/kit-names.txt"
diff "$work/ctest-names.txt" "$work/kit-names.txt" >"$work/names.diff" ||
    fail "the kit ran other tests than CTest under Wine (< CTest only, > the kit only):"$'\n'"$(cat "$work/names.diff")"
[[ $((passed + skipped)) -eq $(wc -l <"$work/ctest-names.txt") ]] ||
    fail "$closing, but $(wc -l <"$work/ctest-names.txt") tests"

# Every skip is one that wine-skips.txt names, with its reason, and every line there
# is still needed.
trim() {
    local text=$1
    text="${text#"${text%%[![:space:]]*}"}"
    printf '%s' "${text%"${text##*[![:space:]]}"}"
}
declare -A used
while IFS=$'\t' read -r state name why; do
    [[ $state == skipped ]] || continue
    known=""
    while IFS='|' read -r pattern reason; do
        pattern="$(trim "$pattern")" reason="$(trim "$reason")"
        [[ -z $pattern || $pattern == \#* ]] && continue
        # shellcheck disable=SC2053 # the pattern is a glob
        if [[ $name == $pattern && $why == *"$reason"* ]]; then
            known=1 used[$pattern]=1
        fi
    done <"$here/wine-skips.txt"
    [[ -n $known ]] || fail "$name skipped, which tests/kit/wine-skips.txt does not expect: $why"
    why="${why#* / }"
    say "skipped $name: ${why%% / Google Test trace:*}"
done <"$work/outcomes.tsv"
while IFS='|' read -r pattern _; do
    pattern="$(trim "$pattern")"
    [[ -z $pattern || $pattern == \#* || -n ${used[$pattern]:-} ]] ||
        fail "tests/kit/wine-skips.txt expects $pattern to skip; it did not"
done <"$here/wine-skips.txt"

# Nothing left outside the scratch folder. The registry keys that Windows' own
# crypt32 and wintrust make on first use are there on any Windows already.
diff <(grep -v -e '/tervan58-tests-' -e '^\./before\.reg$' "$prefix/before.files") \
    <(grep -v -e '/tervan58-tests-' -e '^\./[a-z]*\.reg$' "$prefix/after.files") >"$work/files.diff" ||
    fail "files left outside the scratch folder:"$'\n'"$(cat "$work/files.diff")"
registry() { # the .reg export without the keys that are the system's own
    iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r' | awk '
        /^\[/ { own = index($0, "\\Software\\Microsoft\\SystemCertificates") ||
                      index($0, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Wintrust") }
        !own'
}
diff <(registry "$prefix/drive_c/before.reg") <(registry "$prefix/drive_c/after.reg") \
    >"$work/registry.diff" || fail "registry changed:"$'\n'"$(cat "$work/registry.diff")"

# 1.3 GB; the results stay. After a failure the prefix stays too, for a look.
rm -rf "$prefix"
say "$closing ($(wc -l <"$work/ctest-names.txt") tests, as under CTest); results in $work/results"
