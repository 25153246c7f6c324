#!/usr/bin/env bash
# Runs the updater in a demo sandbox, from a bare Debian 12 machine: installs what
# is missing, builds, and makes a private Wine prefix (build/demo/prefix) in which
#   - Tervan58's setting names C:\TERVAN58 as the install folder, holding an older
#     tervan58.exe (1.0.0.1), and
#   - C:\users\Public\Downloads\TERVAN58_Ver1002 holds a newer tervan58.exe
#     (1.0.0.2) and the updater, which is started from there.
# With a display the updater opens on it. Without one it runs under Xvfb, is
# driven through the whole update, and screenshots go to build/demo/screenshots.
# Nothing outside build/demo is touched. --texts prints only what to type and expect.
set -euo pipefail
cd "$(dirname "$0")/.."

# The program's texts, read where they are written once: a message of
# engine/messages.hpp by its constant's name (its two sentences joined by a blank),
# or a caption of ui/forms/update_window.cpp by its control's name. Either fails
# when the name is gone (a native test runs --texts).
message() {
    awk -v name="$1" '
        index($0, "const char* " name " =") { on = 1 }
        on { while (match($0, /"[^"]*"/)) { text = text substr($0, RSTART + 1, RLENGTH - 2)
                                            $0 = substr($0, RSTART + RLENGTH) } }
        on && /;/ { exit }
        END { gsub(/\\r\\r/, " ", text); print text; if (text == "") exit 1 }' engine/messages.hpp ||
        { echo "run-demo.sh: no message $1 in engine/messages.hpp" >&2; return 1; }
}
caption() {
    sed -n "s/^ *{\.id = $1, \.name = \"[^\"]*\", \.kind = K::[A-Za-z]*, \.text = \"\([^\"]*\)\".*/\1/p" \
        ui/forms/update_window.cpp |
        grep . || { echo "run-demo.sh: no caption of $1 in ui/forms/update_window.cpp" >&2; return 1; }
}
texts() {
    local download_label install_label start success not_newer
    download_label="$(caption Label2_1)"
    install_label="$(caption Label2_0)"
    start="$(caption Command3)"
    success="$(message kSuccess)"
    not_newer="$(message kNotNewer)"
    cat <<TEXT

  The updater asks for the access code first: type 503816 and press Enter.
  The update window then shows the download folder under "$download_label",
    C:\\users\\Public\\Downloads\\TERVAN58_Ver1002
  and the install folder under "$install_label", with its version:
    C:\\TERVAN58   Ver.1.0.0.1
  Press "$start": the download's version (Ver.1.0.0.2) is shown, the installed
  tervan58.exe is replaced, and the updater says
    $success
  and ends. Started once more, it refuses the same version:
    $not_newer

TEXT
}
if [[ "${1:-}" == --texts ]]; then
    texts
    exit 0
fi

scripts/install-deps.sh
export TERVAN_WINEPREFIX="$PWD/build/demo/prefix"
source scripts/wine-env.sh
cmake --preset "$TERVAN_WINDOWS_PRESET" >/dev/null
cmake --build --preset "$TERVAN_WINDOWS_PRESET" --target tervan58-updater tervan58-demo-1.0.0.1 \
    tervan58-demo-1.0.0.2 e2e_screenshot_driver

echo "run-demo.sh: preparing the sandbox in $WINEPREFIX"
wine_prepare_prefix >"$TERVAN_REPO/build/demo-prefix.log" 2>&1 ||
    { cat "$TERVAN_REPO/build/demo-prefix.log" >&2; exit 1; }
wine_prepare_locale

drive="$WINEPREFIX/drive_c"
install="$drive/TERVAN58"
download="$drive/users/Public/Downloads/TERVAN58_Ver1002"
rm -rf "$install" "$download"
mkdir -p "$install" "$download"
cp "$TERVAN_WINDOWS_BUILD/demo/tervan58-demo-1.0.0.1.exe" "$install/tervan58.exe"
cp "$TERVAN_WINDOWS_BUILD/demo/tervan58-demo-1.0.0.2.exe" "$download/tervan58.exe"
cp "$TERVAN_WINDOWS_BUILD/tervan58-updater.exe" "$download/"
wine reg add 'HKCU\Software\VB and VBA Program Settings\KARVO\tErvan58' /v Key_Path \
    /t REG_SZ /d 'C:\TERVAN58' /f >/dev/null 2>&1 </dev/null
wineserver -k >/dev/null 2>&1 || true # started without a display: no windows from it

texts

if [[ -n "${DISPLAY:-}" ]]; then
    (cd "$download" && bash "$TERVAN_REPO/tests/e2e/wine-ja.sh" tervan58-updater.exe) || true
    wineserver -w
else
    shots="$TERVAN_REPO/build/demo/screenshots"
    mkdir -p "$shots"
    rm -f "$shots"/*.png
    echo "run-demo.sh: no display; running under Xvfb and typing the code for you"
    wine_session scripts/screenshot.sh --capture "$shots" --sandbox \
        'C:\users\Public\Downloads\TERVAN58_Ver1002'
fi

if cmp -s "$install/tervan58.exe" "$download/tervan58.exe"; then
    echo "run-demo.sh: the installed tervan58.exe is now the downloaded 1.0.0.2."
else
    echo "run-demo.sh: the installed tervan58.exe is unchanged (1.0.0.1)."
fi
[[ -n "${DISPLAY:-}" ]] || echo "run-demo.sh: screenshots in build/demo/screenshots/"
