#!/usr/bin/env bash
# Makes the release kit of the current commit for a given tervan58.exe:
#   OUT/TERVAN58_Ver<digits>/      tervan58.exe, tervan58-updater.exe, readme.txt,
#                                  SHA256SUMS.txt
#   OUT/TERVAN58_Ver<digits>.zip   that folder
# OUT is dist/ in the repository, or the folder given by --out DIR.
# <digits> are the four fields of the file's version, read by the program's own reader
# (1.0.0.2 -> 1002). The updater is the windows preset's build of this commit, so the
# work tree must be clean. Both exes are signed when TERVAN_SIGN_PKCS12 names a PKCS#12
# file and TERVAN_SIGN_PASSWORD_FILE a file holding its password;
# TERVAN_SIGN_TIMESTAMP_URL adds an RFC 3161 time stamp. Nothing reaches OUT unless
# the whole kit is made, and nothing there is ever replaced.
set -euo pipefail

say() { echo "release.sh: $*"; }
die() {
    echo "release.sh: $*" >&2
    exit 1
}

usage="usage: scripts/release.sh [--out DIR] PATH/TO/tervan58.exe"
out=""
if [[ "${1:-}" == --out ]]; then
    [[ $# -ge 2 ]] || die "$usage"
    out="$(realpath -m -- "$2")"
    shift 2
fi
[[ $# -eq 1 ]] || die "$usage"
input="$(realpath -e -- "$1" 2>/dev/null)" || die "$1: no such file"
cd "$(dirname "$0")/.."
out="${out:-$PWD/dist}"

scripts/install-deps.sh
[[ -z "$(git status --porcelain)" ]] ||
    die "the work tree has uncommitted changes; the updater must be the build of a commit"
commit="$(git rev-parse HEAD)"

# Under build/: the finished kit is renamed into dist/ on the same file system.
mkdir -p build
work="$(mktemp -d build/release.XXXXXX)"
trap 'rm -rf "$work"' EXIT
quietly() { # command...: its output only when it fails
    "$@" >"$work/log" 2>&1 || { cat "$work/log" >&2; die "failed: $*"; }
}

signing=0
if [[ -n "${TERVAN_SIGN_PKCS12:-}${TERVAN_SIGN_PASSWORD_FILE:-}" ]]; then
    pkcs12="${TERVAN_SIGN_PKCS12:-}" password_file="${TERVAN_SIGN_PASSWORD_FILE:-}"
    [[ -f "$pkcs12" && -f "$password_file" ]] ||
        die "TERVAN_SIGN_PKCS12 and TERVAN_SIGN_PASSWORD_FILE must both name files"
    # A second signature would replace the first, and the shipped file would no
    # longer be the given one plus ours.
    ! osslsigncode extract-signature -in "$input" -out "$work/existing.p7" >/dev/null 2>&1 ||
        die "$1 is signed already; give the unsigned file"
    signing=1
    # The certificates travel in the PKCS#12 file. The signer's common name is what
    # Windows shows as the publisher, and what the readme tells the user to expect.
    quietly openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys \
        -out "$work/certificates.pem"
    quietly openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys -clcerts \
        -out "$work/signer.pem"
    publisher="$(openssl x509 -in "$work/signer.pem" -noout -subject \
        -nameopt multiline,utf8,-esc_msb | sed -n 's/^ *commonName *= //p')"
    [[ -n "$publisher" ]] || die "the signing certificate names no common name (CN)"
fi

quietly cmake --preset linux
quietly cmake --build --preset linux --target release-tool
tool=build/linux/tools/release/release-tool
version="$("$tool" version "$input")" || die "refused: $1"
name="TERVAN58_Ver${version//./}"
refuse_existing() {
    local path
    for path in "$out/$name" "$out/$name.zip"; do
        [[ ! -e "$path" && ! -L "$path" ]] || die "$path exists already; left as it is"
    done
}
refuse_existing
say "commit $commit, tervan58.exe $version"

quietly cmake --preset windows
quietly cmake --build --preset windows --target tervan58-updater
kit="$work/$name"
mkdir "$kit"
cp "$input" "$work/tervan58.exe"
cp build/windows/tervan58-updater.exe "$work/"
# What anyone gets from building this commit, and from the shipped exe minus its signature.
say "tervan58-updater.exe as built: $(sha256sum <"$work/tervan58-updater.exe" | cut -d' ' -f1)"
"$tool" readme "$input" ${publisher:+"$publisher"} >"$kit/readme.txt"

if [[ $signing -eq 1 ]]; then
    timestamp=()
    [[ -z "${TERVAN_SIGN_TIMESTAMP_URL:-}" ]] || timestamp=(-ts "$TERVAN_SIGN_TIMESTAMP_URL")
    # Trusting the kit's own certificates checks that each signature is intact and
    # ours; whether Windows trusts the chain is its own call.
    for exe in tervan58.exe tervan58-updater.exe; do
        quietly osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 \
            "${timestamp[@]}" -in "$work/$exe" -out "$kit/$exe"
        quietly osslsigncode verify -CAfile "$work/certificates.pem" -in "$kit/$exe"
    done
    signer="$(openssl x509 -in "$work/signer.pem" -noout -subject)"
    say "signed and verified: ${signer#subject=}${timestamp:+, time-stamped}"
else
    cp "$work/tervan58.exe" "$work/tervan58-updater.exe" "$kit/"
    say "UNSIGNED release: TERVAN_SIGN_PKCS12 and TERVAN_SIGN_PASSWORD_FILE are not set"
fi

files=(tervan58.exe tervan58-updater.exe readme.txt)
# CR LF as in readme.txt, for Notepad; sha256sum -c reads it all the same.
(cd "$kit" && sha256sum "${files[@]}" | sed 's/$/\r/' >SHA256SUMS.txt)
# The commit's time on every file, and no Unix extras in the zip: an unsigned kit of
# one commit and one input is the same zip every time.
touch -d "@$(git log -1 --format=%ct)" "$kit" "$kit"/*
(cd "$work" && TZ=UTC zip -X -q "$name.zip" "$name/" "${files[@]/#/$name/}" \
    "$name/SHA256SUMS.txt")

# Into OUT by renames within it, which another file system would otherwise turn into
# copies that can stop halfway.
mkdir -p "$out"
stage="$(mktemp -d "$out/.release.XXXXXX")"
trap 'rm -rf "$work" "$stage"' EXIT
mv "$kit" "$work/$name.zip" "$stage/"
refuse_existing
mv "$stage/$name" "$out/$name"
mv "$stage/$name.zip" "$out/$name.zip"
say "$out/$name/"
tr -d '\r' <"$out/$name/SHA256SUMS.txt" | sed 's/^/    /'
say "$out/$name.zip"
