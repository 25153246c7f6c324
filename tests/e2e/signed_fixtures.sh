#!/usr/bin/env bash
# Signed copies of the demo tervan58.exe for the publisher checks, made with
# throwaway certificates:
#   signed_fixtures.sh OUT OLD.exe NEW.exe
# OUT/installed.exe  OLD signed by "Karvo Software"
# OUT/same.exe       NEW signed by "Karvo Software", with the same key
# OUT/renewed.exe    NEW signed by "Karvo Software", with a new key and certificate
# OUT/other.exe      NEW signed by "Someone Else"
# OUT/changed.exe    same.exe with one byte of its code changed after signing
# OUT/unsigned.exe   NEW as built
set -euo pipefail
out=$1 old=$2 new=$3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

certificate() { # NAME SUBJECT
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.pem" \
        -days 3650 -subj "$2" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
}
sign() { # CERTIFICATE IN OUT
    osslsigncode sign -certs "$work/$1.pem" -key "$work/$1.key" -h sha256 -in "$2" -out "$3" \
        >/dev/null
}

certificate publisher "/CN=Karvo Software/O=Karvo Software"
certificate renewed "/CN=Karvo Software/O=Karvo Software"
certificate other "/CN=Someone Else/O=Someone Else"
mkdir -p "$out"
sign publisher "$old" "$work/installed.exe"
sign publisher "$new" "$work/same.exe"
sign renewed "$new" "$work/renewed.exe"
sign other "$new" "$work/other.exe"
cp "$work/same.exe" "$work/changed.exe"
# A byte of the first section (the code), which the signature's digest covers.
printf '\xcc' | dd of="$work/changed.exe" bs=1 seek=$((0x400 + 16)) conv=notrunc status=none
cp "$new" "$work/unsigned.exe"
cp "$work"/*.exe "$out/"
