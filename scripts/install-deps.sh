#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need, natively and for
# Windows (MinGW-w64, Wine, Xvfb). A machine that has them all does no apt work.
# The x86-64 MinGW-w64 builds the Win32 suites where 32-bit Wine cannot run
# (scripts/wine-env.sh).
set -euo pipefail

packages=(
    build-essential cmake ninja-build libgtest-dev googletest
    g++-mingw-w64-i686-posix mingw-w64-i686-dev
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    wine wine32:i386 wine64 xvfb xauth fonts-ipafont-gothic locales
    imagemagick x11-apps
    osslsigncode openssl zip unzip
)

# One dpkg-query for all; a package that is not known prints nothing. Multi-arch
# packages of the native architecture come back as name:arch.
native="$(dpkg --print-architecture)"
installed="$(dpkg-query -W -f='${binary:Package} ${db:Status-Status}\n' "${packages[@]}" \
    2>/dev/null | awk '$2 == "installed" { print $1 }' | sed "s/:$native\$//" || true)"
missing=()
for package in "${packages[@]}"; do
    grep -qxF -e "$package" <<<"$installed" || missing+=("$package")
done
# 32-bit Wine processes ignore LOCPATH, so the Japanese locale must also exist where
# glibc looks by default; without it Wine turns every non-ASCII file name into 7-bit
# garbage (or error 123) under LANG=ja_JP.UTF-8.
need_locale=0
locale -a 2>/dev/null | grep -qx 'ja_JP.utf8' || need_locale=1
[[ ${#missing[@]} -eq 0 && $need_locale -eq 0 ]] && exit 0

as_root=()
if [[ "$(id -u)" -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "install-deps.sh: not root and no sudo" >&2; exit 1; }
    as_root=(sudo)
fi

if [[ ${#missing[@]} -gt 0 ]]; then
    echo "install-deps.sh: installing ${missing[*]}"
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
        ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${as_root[@]}" dpkg --add-architecture i386
    fi
    "${as_root[@]}" apt-get update
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y --no-install-recommends "${missing[@]}"
fi
if [[ $need_locale -eq 1 ]]; then
    echo "install-deps.sh: compiling the ja_JP.UTF-8 locale"
    "${as_root[@]}" localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
