#!/usr/bin/env bash
# The release kit end to end, run in a scratch repository that holds the working
# version of the sources as its one commit: a signed kit, an unsigned one, and every
# refusal, which must leave dist/ as it was.
set -euo pipefail
source_repo="$(cd "$(dirname "$0")/../.." && pwd)"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/tervan-release-test.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

repo="$scratch/repo"
mkdir "$repo"
(cd "$source_repo" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do if [[ -e "$f" ]]; then printf '%s\0' "$f"; fi; done |
    tar --null -T - -c) | tar -x -C "$repo"
cd "$repo"
git init -q && git add -A && git -c user.name=test -c user.email=test@example.com commit -qm kit
cmake --preset windows >/dev/null
cmake --build --preset windows --target tervan58-updater tervan58-demo-1.0.0.2 >/dev/null
demo="$repo/build/windows/demo/tervan58-demo-1.0.0.2.exe"
updater="$repo/build/windows/tervan58-updater.exe"

password="throwaway $RANDOM$RANDOM"
echo "$password" >"$scratch/password"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$scratch/key.pem" -out "$scratch/cert.pem" \
    -days 2 -subj "/CN=Karvo Software Release/O=Karvo Software" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" \
    -out "$scratch/signer.p12" -passout "file:$scratch/password"
signed_release() {
    TERVAN_SIGN_PKCS12="$scratch/signer.p12" TERVAN_SIGN_PASSWORD_FILE="$scratch/password" \
        scripts/release.sh "$@"
}
dist_state() { [[ ! -e dist ]] || find dist -printf '%p %s %T@\n' -type f -exec sha256sum {} + | sort; }
refused() { # reason, release command...: it fails for that reason and dist/ stays as it was
    local reason="$1" before
    shift
    before="$(dist_state)"
    ! "$@" >"$scratch/out" 2>&1 || fail "not refused: $reason"
    grep -qF "$reason" "$scratch/out" || fail "refused for another reason: $(cat "$scratch/out")"
    [[ "$(dist_state)" == "$before" ]] || fail "dist/ changed: $reason"
}

kit=dist/TERVAN58_Ver1002
echo "not a PE" >"$scratch/text.exe"
head -c 1024 "$demo" >"$scratch/truncated.exe"
refused "not a PE file" scripts/release.sh "$scratch/text.exe"
refused "not a PE file" scripts/release.sh "$scratch/truncated.exe"
echo >>README.md
refused "uncommitted changes" scripts/release.sh "$demo"
git checkout -q README.md

# Signed.
signed_release "$demo" >"$scratch/signed.out"
! grep -qF "$password" "$scratch/signed.out" || fail "the password is in the output"
[[ "$(ls dist)" == $'TERVAN58_Ver1002\nTERVAN58_Ver1002.zip' ]] || fail "dist/: $(ls dist)"
[[ "$(ls "$kit")" == $'SHA256SUMS.txt\nreadme.txt\ntervan58-updater.exe\ntervan58.exe' ]] ||
    fail "kit: $(ls "$kit")"
(cd "$kit" && sha256sum --strict -c --quiet SHA256SUMS.txt) || fail "sums"
[[ "$(tr -d '\r' <"$kit/SHA256SUMS.txt" | cut -d' ' -f3 | sort | tr '\n' ' ')" == \
    "readme.txt tervan58-updater.exe tervan58.exe " ]] || fail "the sums cover other files"
mkdir "$scratch/unzipped"
unzip -q "$kit.zip" -d "$scratch/unzipped"
diff -r "$kit" "$scratch/unzipped/TERVAN58_Ver1002" || fail "the zip differs from the folder"
[[ "$(head -c3 "$kit/readme.txt" | od -An -tx1)" == " ef bb bf" ]] || fail "no BOM"
for text in readme.txt SHA256SUMS.txt; do
    ! grep -qv $'\r$' "$kit/$text" || fail "a line of $text without CR LF"
done
grep -qF "確認済みの発行元: Karvo Software Release" "$kit/readme.txt" || fail "no publisher"
grep -qF "TERVAN58_Ver1002.zip" "$kit/readme.txt" || fail "readme.txt names another zip"
# Every message the program can show, sentence by sentence, as its headers spell it.
grep -ohP '"\K[^"]*。(?=";)' engine/messages.hpp ui/forms/access_screen.hpp |
    sed 's/\\r\\r/\n/g' | while IFS= read -r sentence; do
    grep -qF "$sentence" "$kit/readme.txt" || fail "readme.txt lacks $sentence"
done
for exe in tervan58.exe:"$demo" tervan58-updater.exe:"$updater"; do
    shipped="$kit/${exe%%:*}"
    osslsigncode verify -CAfile "$scratch/cert.pem" -in "$shipped" >/dev/null ||
        fail "$shipped: signature"
    osslsigncode remove-signature -in "$shipped" -out "$scratch/unsigned.exe" >/dev/null
    cmp "$scratch/unsigned.exe" "${exe#*:}" || fail "$shipped minus its signature"
    rm "$scratch/unsigned.exe"
done
cp "$kit/tervan58.exe" "$scratch/signed.exe"
refused "signed already" signed_release "$scratch/signed.exe"
mv "$kit.zip" "$scratch/"
refused "$kit exists already" scripts/release.sh "$demo"
mv "$scratch/TERVAN58_Ver1002.zip" dist/ && mv "$kit" "$scratch/"
refused "$kit.zip exists already" signed_release "$demo"

# Unsigned, of the same version, into a folder given relative to where it is started.
before="$(dist_state)"
(cd "$scratch" && "$repo/scripts/release.sh" --out unsigned "$demo") >"$scratch/unsigned.out"
grep -q UNSIGNED "$scratch/unsigned.out" || fail "an unsigned run does not say so"
[[ "$(dist_state)" == "$before" ]] || fail "--out changed dist/"
[[ "$(ls -A "$scratch/unsigned")" == $'TERVAN58_Ver1002\nTERVAN58_Ver1002.zip' ]] ||
    fail "--out: $(ls -A "$scratch/unsigned")"
kit="$scratch/unsigned/TERVAN58_Ver1002"
! grep -qF "確認済みの発行元" "$kit/readme.txt" || fail "an unsigned readme names a publisher"
cmp "$kit/tervan58.exe" "$demo" && cmp "$kit/tervan58-updater.exe" "$updater" ||
    fail "unsigned exes changed"
(cd "$kit" && sha256sum --strict -c --quiet SHA256SUMS.txt) || fail "unsigned sums"
[[ -z "$(ls build | grep -v '^linux$\|^windows$')" ]] || fail "left in build/: $(ls build)"
echo "release kit: all checks passed"
