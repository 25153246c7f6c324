#!/usr/bin/env bash
# Fuzzes one target for a given time, with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer:
#
#   scripts/fuzz.sh pe_version 600     the portable PE version reader
#   scripts/fuzz.sh access_code 600    the lenient reading of the access code
#
# Builds the targets with clang into build/fuzz (a project of its own, tests/fuzz, so the
# normal builds never need clang), writes the seed corpora into build/fuzz/corpus-<target>/,
# then fuzzes, growing that corpus. Inputs that crash, break an invariant, time out or run
# out of memory land in build/fuzz/findings-<target>/. A finding ends libFuzzer's run; the
# rest of the time is fuzzed by a new run on the grown corpus, so the figures always cover
# the whole time. At the end: executions, exec/s, coverage, corpus size and findings.
#
# FUZZ_KNOWN=name,... (the pe_version target's invariant names, e.g. failed-read-answer)
# lists invariants a known fault breaks until it is fixed: they are counted instead of
# ending the run, so the time goes into looking for other faults.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: scripts/fuzz.sh pe_version|access_code SECONDS" >&2
    exit 2
}
[[ $# -eq 2 ]] || usage
target="$1"
seconds="$2"
case "$target" in
pe_version) max_len=16384 ;;
access_code) max_len=4096 ;;
*) usage ;;
esac
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage

# clang and libFuzzer (libclang-rt-14-dev), CMake and Ninja: installed when missing.
packages=(clang libclang-rt-14-dev cmake ninja-build)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed ||
        missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    as_root=()
    if [[ "$(id -u)" -ne 0 ]]; then
        command -v sudo >/dev/null || { echo "fuzz.sh: not root and no sudo" >&2; exit 1; }
        as_root=(sudo)
    fi
    echo "fuzz.sh: installing ${missing[*]}"
    "${as_root[@]}" apt-get update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y --no-install-recommends "${missing[@]}"
fi

out=build/fuzz
cmake -S tests/fuzz -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$out" | tail -n 1
"$out/corpus_generator" "$out/corpus-pe_version" "$out/corpus-access_code"

corpus="$out/corpus-$target"
findings="$out/findings-$target"
log="$out/$target.log"
mkdir -p "$findings"
: >"$log"
before="$(find "$findings" -type f | sort)"

# libFuzzer's own limits: a unit slower than 10 s is a finding (timeout), as is one that
# needs more than 2 GiB.
started=$SECONDS
runs=0
executions=0
coverage=""
segment="$out/$target.segment.log"
while ((SECONDS - started < seconds)); do
    left=$((seconds - (SECONDS - started)))
    runs=$((runs + 1))
    status=0
    "$out/${target}_fuzzer" -max_total_time="$left" -print_final_stats=1 \
        -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -dict="tests/fuzz/$target.dict" \
        -artifact_prefix="$findings/" "$corpus" >"$segment" 2>&1 || status=$?
    cat "$segment" >>"$log"
    n="$(sed -n 's/^stat::number_of_executed_units: *//p' "$segment" | tail -n 1)"
    executions=$((executions + ${n:-0}))
    last="$(grep -E '^#[0-9]+.* cov: ' "$segment" | tail -n 1 || true)"
    [[ -z "$last" ]] || coverage="$last"
    if [[ $status -ne 0 ]]; then
        echo "fuzz.sh: run $runs ended by a finding after $((SECONDS - started)) s:" \
            "$(grep -m1 -E 'invariant violated|ERROR: (AddressSanitizer|libFuzzer)|runtime error' \
                "$segment" || echo "exit status $status")"
        # A run that ends at once finds the same input again and again: stop there.
        if [[ -z "$n" || "$n" -lt 2 ]] || ((runs >= 200)); then break; fi
    fi
done
elapsed=$((SECONDS - started))
rm -f "$segment"

new_findings="$(comm -13 <(printf '%s\n' "$before") <(find "$findings" -type f | sort) |
    sed '/^$/d')"
echo
echo "== fuzz.sh $target: $elapsed s, $runs libFuzzer run(s), log in $log"
echo "executions:  $executions"
echo "exec/s:      $((elapsed > 0 ? executions / elapsed : 0))"
if [[ -n "${FUZZ_KNOWN:-}" ]]; then
    # Logged at 1, 2, 4, ... per libFuzzer run: the largest is a lower bound.
    echo "known:       counted, not stopped on (at least, per libFuzzer run):"
    IFS=, read -ra known <<<"$FUZZ_KNOWN"
    for name in "${known[@]}"; do
        count="$(grep -oE "known violation $name: [0-9]+" "$log" | awk '{ print $NF }' |
            sort -n | tail -n 1 || true)"
        echo "  $name: ${count:-0}"
    done
fi
echo "coverage:    $(sed -n 's/.* \(cov: [0-9]*\) \(ft: [0-9]*\) \(corp: [^ ]*\).*/\1 \2 \3/p' \
    <<<"$coverage")"
echo "corpus:      $(find "$corpus" -type f | wc -l) files, $(du -sk "$corpus" | cut -f1) KiB" \
    "in $corpus"
if [[ -z "$new_findings" ]]; then
    echo "findings:    none"
else
    echo "findings:    $(wc -l <<<"$new_findings") in $findings:"
    sed 's/^/  /' <<<"$new_findings"
    if ((runs > 10)); then
        echo "  (the same finding again and again? FUZZ_KNOWN lets the run look past it)"
    fi
    echo "kinds:"
    grep -hoE 'invariant violated: .*|ERROR: AddressSanitizer: [a-z-]+|runtime error: .*|ERROR: libFuzzer: [a-z-]+( signal)?' \
        "$log" | sort | uniq -c | sed 's/^/  /'
fi
