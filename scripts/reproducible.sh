#!/usr/bin/env bash
# Builds the shipped tervan58-updater.exe (preset windows) of the current commit twice,
# from two copies of the sources in folders of different names, each configured afresh
# and built at its own time, and compares the two exes byte for byte. Not part of the
# test run: it doubles the build. Uncommitted changes are not built.
set -euo pipefail
cd "$(dirname "$0")/.."

commit="$(git rev-parse HEAD)"
work="$(mktemp -d "${TMPDIR:-/tmp}/tervan-reproducible.XXXXXX")"
trap 'rm -rf "$work"' EXIT

build() { # folder
    mkdir -p "$1"
    git archive "$commit" | tar -x -C "$1"
    (cd "$1" && cmake --preset windows >/dev/null &&
        cmake --build --preset windows --target tervan58-updater >/dev/null)
    echo "$1/build/windows/tervan58-updater.exe"
}

echo "reproducible.sh: commit $commit"
first="$(build "$work/one")"
date -u +'reproducible.sh: first build done %H:%M:%S'
sleep 2 # a later second, in case anything still stamps the time
second="$(build "$work/second-copy-elsewhere")"
date -u +'reproducible.sh: second build done %H:%M:%S'

sha256sum "$first" "$second" | sed "s|$work/||"
# Neither folder may show up in the program.
if strings -a "$first" | grep -F "$work"; then
    echo "reproducible.sh: the exe holds its build folder" >&2
    exit 1
fi
if cmp "$first" "$second"; then
    echo "reproducible.sh: identical, $(stat -c %s "$first") bytes"
else
    echo "reproducible.sh: the two builds differ" >&2
    exit 1
fi
