# Sourced by the scripts that run the Windows program and its tests under Wine.
# Sets up a private Wine prefix for this work tree and offers:
#   wine_prepare_prefix        create the prefix once (skipped when it is ready)
#   wine_prepare_locale        compile ja_JP.UTF-8 into build/locale once
#   wine_session CMD...        run CMD with an X display (one xvfb-run when there is
#                              none) and a prewarmed wineserver, killed afterwards;
#                              CMD sees TERVAN_WINE_SESSION=$WINEPREFIX, without which
#                              the cross builds' tests refuse to start
#                              (cmake/wine-emulator.sh)
# Japanese locale for one command: LANG=ja_JP.UTF-8 LOCPATH="$TERVAN_LOCPATH" wine ...
# (32-bit Wine processes ignore LOCPATH and need the system copy that
# scripts/install-deps.sh compiles; 64-bit tools use build/locale.)

TERVAN_REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TERVAN_LOCPATH="$TERVAN_REPO/build/locale"
# TERVAN_WINEPREFIX picks another prefix (the demo has its own).
export WINEPREFIX="${TERVAN_WINEPREFIX:-$TERVAN_REPO/build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# A Linux kernel without IA-32 emulation cannot start 32-bit programs, so 32-bit Wine
# cannot run the 32-bit program there. The Win32 suites then run on a 64-bit build of
# the same sources (preset windows-x64) under 64-bit Wine, and "wine" here means the
# 64-bit loader (Debian's wrappers otherwise always try the 32-bit one first).
# TERVAN_WINDOWS_PRESET names the preset whose exes the suites run.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    export TERVAN_WINDOWS_PRESET=windows
else
    export TERVAN_WINDOWS_PRESET=windows-x64
    _wine64_bin="$TERVAN_REPO/build/wine64-bin"
    if [[ ! -x "$_wine64_bin/wine-stable" ]]; then
        mkdir -p "$_wine64_bin"
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$_wine64_bin/wine.new"
        chmod +x "$_wine64_bin/wine.new"
        cp "$_wine64_bin/wine.new" "$_wine64_bin/wine-stable"
        mv "$_wine64_bin/wine.new" "$_wine64_bin/wine"
    fi
    export PATH="$_wine64_bin:$PATH" WINELOADER=/usr/lib/wine/wine64
fi
TERVAN_WINDOWS_BUILD="$TERVAN_REPO/build/$TERVAN_WINDOWS_PRESET"

# Wine names Unix files in the locale's character set: without a UTF-8 locale every
# file name with a Greek, Japanese or emoji character fails to be created.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
*UTF-8* | *utf8*) ;;
*)
    export LANG=C.UTF-8
    unset LC_ALL LC_CTYPE
    ;;
esac

# Written last, so that an interrupted creation is started over.
_wine_ready_mark() { echo "$WINEPREFIX/.tervan-ready"; }

wine_prepare_prefix() {
    [[ -f "$(_wine_ready_mark)" ]] && return 0
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    # Managed=N: without a window manager each closing window otherwise costs
    # about two seconds. The font replacements give captions and message boxes
    # Japanese glyphs in any locale. One regedit run is cheaper than four reg runs;
    # a version 5 .reg file is UTF-16 so the Japanese face name survives.
    local settings="$WINEPREFIX/tervan-settings.reg"
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        printf '"Tahoma"="IPAPGothic"\r\n"MS Shell Dlg"="IPAPGothic"\r\n'
        printf '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n\r\n'
    } | iconv -f UTF-8 -t UTF-16 >"$settings"
    wine regedit /S "$(winepath -w "$settings" 2>/dev/null)" >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$(_wine_ready_mark)"
}

wine_prepare_locale() {
    local compiled="$TERVAN_LOCPATH/ja_JP.UTF-8/LC_CTYPE"
    [[ -f "$compiled" ]] && return 0
    mkdir -p "$TERVAN_LOCPATH"
    # Other scripts compile the same locale into the same folder, maybe at once.
    (
        flock 9
        [[ -f "$compiled" ]] || localedef -i ja_JP -f UTF-8 "$TERVAN_LOCPATH/ja_JP.UTF-8" || true
    ) 9>"$TERVAN_LOCPATH/.lock"
    [[ -f "$compiled" ]]
}

# The server is started persistent and its first client runs with /dev/null as
# every stream: the services Wine starts then do not inherit the caller's pipes,
# which would make ctest wait for them after each test.
_wine_session_here() {
    wineserver -k >/dev/null 2>&1 || true # one started without a display breaks windows
    wineserver -p >/dev/null 2>&1
    wine cmd /c exit >/dev/null 2>&1 </dev/null
    local status=0
    TERVAN_WINE_SESSION="$WINEPREFIX" "$@" || status=$?
    wineserver -k >/dev/null 2>&1 || true
    return "$status"
}

wine_session() {
    if [[ -n "${DISPLAY:-}" ]]; then
        _wine_session_here "$@"
    else
        xvfb-run -a -s "-screen 0 1024x768x24" \
            bash -c 'source "$0"; _wine_session_here "$@"' "${BASH_SOURCE[0]}" "$@"
    fi
}
