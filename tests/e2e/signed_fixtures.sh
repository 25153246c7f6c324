#!/usr/bin/env bash
# Signed copies of the demo tervan58.exe for the publisher checks, made with
# throwaway certificates:
#   signed_fixtures.sh OUT OLD.exe NEW.exe
# OUT/installed.exe  OLD signed by "Karvo Software"
# OUT/same.exe       NEW signed by "Karvo Software", with the same key
# OUT/renewed.exe    NEW signed by "Karvo Software", with a new key and certificate
# OUT/reencoded.exe  NEW signed by "Karvo Software" in PrintableStrings, with the
#                    serial number and other attributes an EV certificate carries
# OUT/other.exe      NEW signed by "Someone Else"
# OUT/other-o.exe    NEW signed by a "Karvo Software" of another organisation
# OUT/changed.exe    same.exe with one byte of its code changed after signing
# OUT/unsigned.exe   NEW as built
set -euo pipefail
out=$1 old=$2 new=$3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

certificate() { # NAME SUBJECT [CONFIG]
    openssl req -x509 ${3:+-config "$3"} -newkey rsa:2048 -nodes -keyout "$work/$1.key" \
        -out "$work/$1.pem" -days 3650 -subj "$2" -addext "extendedKeyUsage=codeSigning" \
        2>/dev/null
}
sign() { # CERTIFICATE IN OUT
    osslsigncode sign -certs "$work/$1.pem" -key "$work/$1.key" -h sha256 -in "$2" -out "$3" \
        >/dev/null
}

certificate publisher "/CN=Karvo Software/O=Karvo Software"
certificate renewed "/CN=Karvo Software/O=Karvo Software"
certificate other "/CN=Someone Else/O=Someone Else"
certificate other-o "/CN=Karvo Software/O=Someone Else"
# Debian's openssl.cnf encodes every name as UTF8String; "default" takes
# PrintableString where the text allows, as many authorities do.
printf '[req]\ndistinguished_name = name\nstring_mask = default\n[name]\n' >"$work/printable.cnf"
certificate reencoded "/serialNumber=0123-45-678901/businessCategory=Private Organization/L=Tokyo/O=Karvo Software/CN=Karvo Software" \
    "$work/printable.cnf"
mkdir -p "$out"
sign publisher "$old" "$work/installed.exe"
sign publisher "$new" "$work/same.exe"
sign renewed "$new" "$work/renewed.exe"
sign other "$new" "$work/other.exe"
sign other-o "$new" "$work/other-o.exe"
sign reencoded "$new" "$work/reencoded.exe"
cp "$work/same.exe" "$work/changed.exe"
# A byte of the first section (the code), which the signature's digest covers.
printf '\xcc' | dd of="$work/changed.exe" bs=1 seek=$((0x400 + 16)) conv=notrunc status=none
cp "$new" "$work/unsigned.exe"
cp "$work"/*.exe "$out/"
