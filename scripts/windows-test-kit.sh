#!/usr/bin/env bash
# Makes the Windows test kit of the current commit: the shipped updater, every
# Windows test suite, the updater's test copy and the fixtures (the signed ones
# included), to be run on any Windows PC with nothing else installed:
#   scripts/windows-test-kit.sh [FOLDER]
# gives FOLDER/tervan58-windows-tests-<commit>.zip (FOLDER: dist/ unless given), where
# <commit> is the short commit, followed by "-modified" when the work tree has
# uncommitted changes. At the top of the zip run-tests.cmd (what to start on
# Windows) and README.txt; the programs in bin/. tests/kit/kit_test.sh runs the kit
# under Wine as Windows would.
set -euo pipefail

say() { echo "windows-test-kit.sh: $*"; }
die() {
    echo "windows-test-kit.sh: $*" >&2
    exit 1
}

[[ $# -le 1 ]] || die "usage: scripts/windows-test-kit.sh [FOLDER]"
cd "$(dirname "$0")/.."
out="${1:-dist}"

scripts/install-deps.sh
# The build that ships, 32-bit: it runs on every Windows the program is for.
cmake --preset windows >/dev/null
cmake --build --preset windows
build=build/windows

commit="$(git rev-parse --short HEAD)"
[[ -z "$(git status --porcelain)" ]] || commit+="-modified"
name="tervan58-windows-tests-$commit"
mkdir -p build "$out"
out="$(realpath "$out")"
stage="$(mktemp -d build/windows-test-kit.XXXXXX)"
trap 'rm -rf "$stage"' EXIT

bin="$stage/bin"
mkdir -p "$bin/signed" "$bin/planted"
cp "$build/tervan58-updater.exe" "$build/tervan58-updater-limited-token.exe" \
    "$build/tests/win32/win32_tests.exe" "$build/tests/e2e/e2e_tests.exe" \
    "$build/tests/reliability/reliability_tests.exe" \
    "$build/tests/reliability/reliability_kill.exe" \
    "$build/tests/reliability/reliability_replace_child.exe" "$bin/"
cp "$build/planted/version.dll" "$bin/planted/"
# The test programs without their symbols (half their size), stamped with the commit's
# time rather than now; never the shipped updater, which is the build as it is.
time="$(git log -1 --format=%ct)"
for program in win32_tests.exe e2e_tests.exe reliability_tests.exe reliability_kill.exe \
    reliability_replace_child.exe tervan58-updater-limited-token.exe planted/version.dll; do
    SOURCE_DATE_EPOCH=$time i686-w64-mingw32-strip "$bin/$program"
done
cp "$build"/signed/*.exe "$bin/signed/"

# Text for Windows: CR LF (cmd.exe misreads labels in a file without it).
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
crlf tests/kit/run-tests.cmd "$stage/run-tests.cmd"
crlf tests/kit/README.txt "$stage/README.txt"
{
    printf 'kit of commit %s' "$(git rev-parse HEAD)"
    [[ $commit != *-modified ]] || printf ' with uncommitted changes'
    printf '\r\n'
} >"$bin/kit.txt"

# Fixed times, a fixed order, no Unix extras: the zip changes only with its files.
find "$stage" -exec touch -d "@$time" {} +
zip="$out/$name.zip"
rm -f "$zip.new"
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
    TZ=UTC zip -X -D -q "$zip.new" -@)
mv "$zip.new" "$zip"
say "$zip: $(stat -c %s "$zip") bytes, sha256 $(sha256sum "$zip" | cut -c1-64)"
