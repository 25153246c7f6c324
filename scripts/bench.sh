#!/usr/bin/env bash
# Performance figures, in one run: reading a file version (portable reader natively and
# under Wine, next to GetFileVersionInfoW), replacing a 256 MiB tervan58.exe (next to
# cp + sync of the same file), the updater's start-up under Wine (next to a minimal
# window program), and the exe's size and imports. Builds what it measures in release
# mode first. It prints figures only: nothing here passes or fails on time.
#
#   scripts/bench.sh            everything
#   scripts/bench.sh startup    the start-up and the exe only
# BENCH_UPDATER_BEFORE=path/to/another/tervan58-updater.exe adds that build to the
# start-up rounds, to compare a change in one session; BENCH_START_ROUNDS=N sets their
# number (12).
#
# The Windows programs are those of the preset that scripts/wine-env.sh picks: the
# shipped i686 build (windows) where 32-bit programs run, else the x86-64 build of the
# same sources (windows-x64). The tables say which.
#
# Wine runs use a prefix of their own (build/bench/wineprefix): the tests' prefix may be
# in use by a test run, each session ends by stopping its wineserver, and the updater's
# one-copy mark lives per prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

# The Windows build this Linux can run (wine-env.sh): the 32-bit program where 32-bit Wine
# runs, its 64-bit build otherwise.
source scripts/wine-env.sh
repo="$PWD"
bench="$repo/build/bench"
native_build="$repo/build/bench-linux"
native="$native_build/tools/bench/tervan58-bench-native"
only="${1:-}"
[[ "$only" == --measure ]] && only="${BENCH_ONLY:-}"
# After scripts/wine-env.sh is sourced: the Windows programs of its preset.
windows_paths() {
    win_bench="$TERVAN_WINDOWS_BUILD/bench/tervan58-bench-win32.exe"
    minimal_exe="$TERVAN_WINDOWS_BUILD/bench/tervan58-bench-minimal.exe"
    minimal_cc_exe="$TERVAN_WINDOWS_BUILD/bench/tervan58-bench-minimal-cc.exe"
    updater_exe="$TERVAN_WINDOWS_BUILD/tervan58-updater.exe"
    updater_before="${BENCH_UPDATER_BEFORE:+$(realpath "$BENCH_UPDATER_BEFORE")}"
}
results="$bench/results.txt"
wine_log="$bench/wine.log"
rounds_replace=9
rounds_start="${BENCH_START_ROUNDS:-12}"

# Wine sees the root file system as drive Z:.
winpath() {
    local unix
    unix="$(realpath "$1")"
    printf 'Z:%s' "${unix//\//\\}"
}

median() {
    printf '%s\n' "$@" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Bytes one run of a command reads from FILE through read system calls, all threads.
# Pages the command maps from the file instead of reading them are not counted.
read_bytes() {
    local file traces
    file="$(realpath "$1")"
    shift
    traces="$(mktemp -d)"
    strace -ff -qq -y -e trace=read,pread64,readv,preadv,preadv2 -o "$traces/t" "$@" \
        >/dev/null 2>>"$wine_log" </dev/null
    cat "$traces"/t.* | grep -F "<$file>" | sed -n 's/.*= \([0-9][0-9]*\)$/\1/p' |
        awk '{ s += $1 } END { print s + 0 }'
    rm -rf "$traces"
}

# ---------------------------------------------------------------------------------------
# Everything that is timed. Runs inside one Wine session (X display, prewarmed server).
measure() {
    : >"$results"
    : >"$wine_log"
    local small="$bench/small.exe" large="$bench/large.exe"
    local wsmall wlarge
    wsmall="$(winpath "$small")"
    wlarge="$(winpath "$large")"
    say() { printf 'bench.sh: %s (%d s)\n' "$1" $((SECONDS + started)); }

    if [[ "$only" != startup ]]; then
    # 1. Version reading: warm cache, many calls per figure.
    say "version reading"
    "$native" version "small=$small" "large=$large" >>"$results"
    wine "$win_bench" version "small=$wsmall" "large=$wlarge" >>"$results" 2>>"$wine_log"
    wine "$win_bench" version-parts "$wsmall" >>"$results" 2>>"$wine_log"
    local label file
    for label in small large; do
        file="$bench/$label.exe"
        echo "sys_native_portable_${label}_bytes=$(read_bytes "$file" "$native" version-once "$file")"
        for how in portable api; do
            echo "sys_wine_${how}_${label}_bytes=$(read_bytes "$file" \
                wine "$win_bench" version-once "$how" "$(winpath "$file")")"
        done
    done >>"$results"

    # 2. Replacement: each run starts with nothing dirty and neither file cached, so
    # every method reads the download from the disk and writes it back durably.
    say "replacement, $rounds_replace rounds"
    local methods=(cp native wine wine_signed sha256 wine_sha256) method round i
    local -A folder
    for method in cp native wine wine_signed; do
        folder[$method]="$bench/replace-$method"
        mkdir -p "${folder[$method]}"
        rm -f "${folder[$method]}/tervan58.exe.updating"
        cp "$bench/installed.exe" "${folder[$method]}/tervan58.exe"
    done
    cp "$bench/installed-signed.exe" "${folder[wine_signed]}/tervan58.exe"
    local evict=("$native" evict "$large" "$bench/large-signed.exe")
    for method in cp native wine wine_signed; do evict+=("${folder[$method]}/tervan58.exe"); done
    local began
    for ((round = 0; round < rounds_replace; round++)); do
        for ((i = 0; i < ${#methods[@]}; i++)); do
            # Each round starts with the next method, so none always runs first.
            method="${methods[$(((round + i) % ${#methods[@]}))]}"
            "${evict[@]}"
            case $method in
            cp) "$native" cp-sync "replace_cp_$round" "$large" "${folder[cp]}/tervan58.exe" ;;
            native) "$native" replace "replace_native_$round" "$large" "${folder[native]}/tervan58.exe" ;;
            wine) wine "$win_bench" replace "replace_wine_$round" "$wlarge" \
                "$(winpath "${folder[wine]}")\\tervan58.exe" 2>>"$wine_log" ;;
            wine_signed) wine "$win_bench" replace-signed "replace_wine_signed_$round" \
                "$(winpath "$bench/large-signed.exe")" \
                "$(winpath "${folder[wine_signed]}")\\tervan58.exe" 2>>"$wine_log" ;;
            wine_sha256) wine "$win_bench" sha256 "replace_wine_sha256_$round" \
                "$(winpath "$bench/large-signed.exe")" 2>>"$wine_log" ;;
            sha256)
                began=$EPOCHREALTIME
                sha256sum "$bench/large-signed.exe" >/dev/null
                echo "replace_sha256_$round=$(awk -v a="$began" -v b="$EPOCHREALTIME" 'BEGIN { print b - a }')"
                ;;
            esac
        done
    done >>"$results"
    fi

    # 3. Start-up, in the Japanese locale the updater's users have.
    say "start-up, $rounds_start rounds"
    LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 LOCPATH="$TERVAN_LOCPATH" \
        wine "$win_bench" startup "$rounds_start" "$(winpath "$updater_exe")" \
        "$(winpath "$minimal_exe")" "$(winpath "$minimal_cc_exe")" \
        ${updater_before:+"$(winpath "$updater_before")"} >>"$results" 2>>"$wine_log"
    say "measured"
}

if [[ "${1:-}" == --measure ]]; then
    started="${BENCH_ELAPSED:-0}" # seconds the caller had taken before this shell began
    export WINEPREFIX="$bench/wineprefix"
    windows_paths
    measure
    exit 0
fi

# ---------------------------------------------------------------------------------------
started=$SECONDS
phase() { printf 'bench.sh: %s (%d s)\n' "$1" $((SECONDS - started)); }

scripts/install-deps.sh
if ! command -v strace >/dev/null; then
    as_root=()
    [[ "$(id -u)" -eq 0 ]] || as_root=(sudo)
    "${as_root[@]}" apt-get update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends strace
fi
export WINEPREFIX="$bench/wineprefix"
windows_paths
mkdir -p "$bench"

# The prefix takes about 20 s to create the first time, mostly waiting: done meanwhile.
(wine_prepare_prefix && wine_prepare_locale) >"$bench/wineprefix.log" 2>&1 &
prefix_job=$!

if [[ "$only" != startup ]]; then
    cmake -S . -B "$native_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
    cmake --build "$native_build" --target tervan58-bench-native | tail -n 1
fi
cmake --preset "$TERVAN_WINDOWS_PRESET" >/dev/null
cmake --build --preset "$TERVAN_WINDOWS_PRESET" --target tervan58-updater tervan58-bench-win32 \
    tervan58-bench-minimal tervan58-bench-minimal-cc | tail -n 1
phase "built"

if [[ "$only" != startup ]]; then
    "$native" fixtures "$bench" >"$bench/fixtures.txt"
    # A signed install and a signed download, by one throwaway publisher.
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$bench/sign.key" -out "$bench/sign.pem" \
        -days 30 -subj "/CN=Karvo Software/O=Karvo Software" \
        -addext "extendedKeyUsage=codeSigning" 2>/dev/null
    for exe in installed large; do
        rm -f "$bench/$exe-signed.exe"
        osslsigncode sign -certs "$bench/sign.pem" -key "$bench/sign.key" -h sha256 \
            -in "$bench/$exe.exe" -out "$bench/$exe-signed.exe" >/dev/null
    done
    phase "fixtures written"
else
    : >"$bench/fixtures.txt"
fi
if ! wait "$prefix_job"; then
    cat "$bench/wineprefix.log" >&2
    exit 1
fi

# One session for every Wine run; without a display it runs under Xvfb. All of it on
# one CPU (BENCH_CPUS=all to let it spread): a wineserver request costs about 9 µs when
# the server and its client share a CPU, and 30-40 µs on a virtual machine whose other,
# idle CPU must first be woken up; where the scheduler puts the two changes from one
# session to the next. One CPU also leaves the other to whatever else the machine runs.
export BENCH_ELAPSED=$((SECONDS - started)) BENCH_ONLY="$only" BENCH_UPDATER_BEFORE
pin=()
[[ "${BENCH_CPUS:-0}" == all ]] || pin=(taskset -c "${BENCH_CPUS:-0}")
if [[ -n "${DISPLAY:-}" ]]; then
    "${pin[@]}" bash -c 'source "$0"; export WINEPREFIX="$1"; shift; _wine_session_here "$@"' \
        "$repo/scripts/wine-env.sh" "$WINEPREFIX" "$0" --measure
else
    "${pin[@]}" xvfb-run -a -s "-screen 0 1024x768x24" \
        bash -c 'source "$0"; export WINEPREFIX="$1"; shift; _wine_session_here "$@"' \
        "$repo/scripts/wine-env.sh" "$WINEPREFIX" "$0" --measure
fi

# ---------------------------------------------------------------------------------------
# The tables.
declare -A v
while IFS='=' read -r key value; do
    [[ -n "$key" ]] && v[$key]="$value"
done < <(cat "$bench/fixtures.txt" "$results" | tr -d '\r') # Wine's console ends lines in CR LF
get() { printf '%s' "${v[$1]:-n/a}"; }
us() { [[ -n "${v[$1]:-}" ]] && printf '%.1f' "${v[$1]}" || printf 'n/a'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf (a / b < 0.1 ? "%.2g" : "%.2f"), a / b; else printf "n/a" }'; }

echo
echo "== Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
    "$(awk '/MemTotal/ { printf "%.1f GB RAM", $2 / 1048576 }' /proc/meminfo), kernel $(uname -r), $(wine --version)"
objdump=i686-w64-mingw32-objdump
[[ "$TERVAN_WINDOWS_PRESET" == windows-x64 ]] && objdump=x86_64-w64-mingw32-objdump
echo "== Windows programs: preset $TERVAN_WINDOWS_PRESET ($("$objdump" -f "$updater_exe" |
    sed -n 's/.*file format //p')), ${TERVAN_WINDOWS_BUILD#"$repo"/}"

if [[ "$only" != startup ]]; then
echo
echo "== 1. Version reading (warm cache; per call: open, read the version, close; median of 7 runs)"
printf '   small.exe %s bytes; large.exe %s bytes, resources at offset %s\n' \
    "$(get fixture_small_bytes)" "$(get fixture_large_bytes)" "$(get fixture_large_rsrc_offset)"
printf '%-36s %12s %12s %12s | %12s %12s %12s\n' "" "small µs" "bytes(File)" "bytes(sys)" \
    "large µs" "bytes(File)" "bytes(sys)"
row1() { # title, time key stem, File-bytes stem, syscall-bytes stem
    printf '%-36s %12s %12s %12s | %12s %12s %12s\n' "$1" \
        "$(us "${2}_small_us")" "$(get "${3}_small_bytes")" "$(get "${4}_small_bytes")" \
        "$(us "${2}_large_us")" "$(get "${3}_large_bytes")" "$(get "${4}_large_bytes")"
}
row1 "native portable (PosixFileSystem)" ver_native_portable ver_native_portable sys_native_portable
row1 "Wine portable (Win32FileSystem)" ver_wine_portable ver_wine_portable sys_wine_portable
row1 "Wine GetFileVersionInfoW" ver_wine_api none sys_wine_api
row1 "Wine file_version_text (both)" ver_wine_program none none
printf '   portable / API under Wine: small %s, large %s (goal: 1.00 or less)\n' \
    "$(ratio "$(get ver_wine_portable_small_us)" "$(get ver_wine_api_small_us)")" \
    "$(ratio "$(get ver_wine_portable_large_us)" "$(get ver_wine_api_large_us)")"
printf '   read calls per version (portable): %s small, %s large\n' \
    "$(get ver_native_portable_small_reads)" "$(get ver_native_portable_large_reads)"
printf '   Wine parts, µs: open+close %s, one read_at %s, reader on an open file %s;\n' \
    "$(us ver_wine_part_open_close_us)" "$(us ver_wine_part_read_at_us)" "$(us ver_wine_part_reader_us)"
printf '     GetFileInformationByHandle %s, GetFileInformationByHandleEx(FileStandardInfo) %s,\n' \
    "$(us ver_wine_part_file_information_us)" "$(us ver_wine_part_standard_info_us)"
printf '     SetFilePointerEx + ReadFile without OVERLAPPED %s\n' "$(us ver_wine_part_plain_read_us)"
echo "   bytes(File): what the reader asked of File::read_at; bytes(sys): read system calls on the"
echo "   file seen by strace in one call (mapped pages not counted)."

echo
echo "== 2. Replacing a 256 MiB tervan58.exe ($rounds_replace rounds, method order rotated," \
    "file pages evicted before each run; medians)"
declare -A rep
for method in cp native wine wine_signed wine_signed_check sha256 wine_sha256; do
    samples=()
    for ((round = 0; round < rounds_replace; round++)); do
        case $method in
        wine_signed_check) sample="${v[replace_wine_signed_${round}_check]:-}" ;;
        *) sample="${v[replace_${method}_$round]:-}" ;;
        esac
        [[ -n "$sample" ]] && samples+=("$sample")
    done
    rep[$method]="$(median "${samples[@]}")"
    printf -v "samples_$method" '%s ' "${samples[@]}"
done
printf '%-40s %9s %11s   %s\n' "" "seconds" "x cp+sync" "runs"
row2() { # title, method
    local samples="samples_$2"
    printf '%-40s %9.3f %11s   %s\n' "$1" "${rep[$2]}" "$(ratio "${rep[$2]}" "${rep[cp]}")" \
        "${!samples}"
}
row2 "cp + sync" cp
row2 "ReplaceFileAllOrNothing, native" native
row2 "ReplaceFileAllOrNothing, Wine" wine
row2 "signed over signed, Wine" wine_signed
row2 "  of which the publisher check" wine_signed_check
row2 "sha256sum of the download" sha256
row2 "SHA-256 of the download, Wine's crypto" wine_sha256
goal() { # figure, limit
    awk -v r="$1" -v g="$2" 'BEGIN { if (r == "n/a") print "n/a"; else print (r + 0 <= g + 0 ? "met" : "missed") }'
}
for method in native wine; do
    r="$(ratio "${rep[$method]}" "${rep[cp]}")"
    printf '   goal: 1.10 x cp+sync or less; %s: %s x, %s\n' "$method" "$r" "$(goal "$r" 1.10)"
done
added="$(awk -v a="${rep[wine_signed]}" -v b="${rep[wine]}" 'BEGIN { print a - b }')"
printf '   goal: the signed path adds one SHA-256 pass over the download or less; it adds %.3f s:\n' \
    "$added"
for method in wine_sha256 sha256; do
    r="$(ratio "$added" "${rep[$method]}")"
    printf '     %s x the pass with %s, %s\n' "$r" \
        "$([[ $method == sha256 ]] && echo "coreutils' sha256sum" || echo "Wine's crypto (what the check uses here)")" \
        "$(goal "$r" 1.00)"
done
echo "   (under Wine the check hashes with Wine's SHA-256, on Windows with Windows' own; every run"
echo "   starts with the files out of the page cache)"
fi

echo
echo "== 3. Start-up under Wine (process start until the access screen is visible, its entry"
echo "   focused and answering; $rounds_start runs each, order rotated; medians. 'minimal + Common Controls 6' is the"
echo "   minimal program with the updater's manifest and InitCommonControlsEx)"
printf '%-34s %8s %10s %8s %12s   %s\n' "" "ms" "x minimal" "min ms" "peak WS KiB" "runs (ms)"
row3() { # title, key
    printf '%-34s %8.1f %10s %8.1f %12.0f   %s\n' "$1" "$(get "start_${2}_ms")" \
        "$(ratio "$(get "start_${2}_ms")" "$(get start_minimal_ms)")" "$(get "start_${2}_ms_min")" \
        "$(get "start_${2}_peak_kib")" "$(get "start_${2}_ms_samples")"
}
row3 "minimal window program" minimal
row3 "minimal + Common Controls 6" minimal_cc
row3 "tervan58-updater.exe" updater
[[ -n "$updater_before" ]] && row3 "BENCH_UPDATER_BEFORE" updater_before
goal3() { # title, key: its median and fastest run against those of the yardstick
    printf '%s %s (fastest runs: %s)' "$1" \
        "$(ratio "$(get "start_${2}_ms")" "$(get start_minimal_cc_ms)")" \
        "$(ratio "$(get "start_${2}_ms_min")" "$(get start_minimal_cc_ms_min)")"
}
printf '   goal: 1.10 x minimal + Common Controls 6 or less; %s' "$(goal3 tervan58-updater.exe updater)"
[[ -n "$updater_before" ]] && printf '; %s' "$(goal3 BENCH_UPDATER_BEFORE updater_before)"
echo

echo
echo "== 4. The exe"
for exe in "$updater_exe" "$minimal_exe" "$minimal_cc_exe" ${updater_before:+"$updater_before"}; do
    printf '%s: %s bytes; imports: %s\n' "${exe#"$repo"/}" "$(stat -c %s "$exe")" \
        "$("$objdump" -p "$exe" | awk '/DLL Name:/ { print $3 }' | paste -sd' ')"
done
echo
phase "done"
