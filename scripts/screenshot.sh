#!/usr/bin/env bash
# Screenshots of the updater's two windows, as a Japanese user sees them:
#   scripts/screenshot.sh                  into build/screenshots/
#   scripts/screenshot.sh --refresh-docs   into docs/, replacing the README's pictures
# access-screen.png is the access screen with the code typed in, update-window.png
# the update window over a demo install whose tervan58.exe is older than the
# downloaded one; *-high-contrast.png both in a black high-contrast scheme. Builds
# what it needs (preset "windows", or "windows-x64" where 32-bit Wine cannot run:
# scripts/wine-env.sh) and runs it under Wine in Xvfb;
# tests/e2e/screenshot_driver.cpp opens the windows.
set -euo pipefail
cd "$(dirname "$0")/.."
build="build/${TERVAN_WINDOWS_PRESET:-windows}" # the preset's folder

# Inside the X session: --capture <output folder> <driver arguments>. The driver
# announces each window, the picture is cut out of the screen by the window's
# rectangle into <output folder>/<name>.png, and the driver goes on.
if [[ "${1:-}" == --capture ]]; then
    out="$2"
    shift 2
    signals="$(mktemp -d)"
    trap 'rm -rf "$signals"' EXIT
    bash tests/e2e/wine-ja.sh "$build/tests/e2e/e2e_screenshot_driver.exe" \
        "$@" "$(winepath -w "$signals" 2>/dev/null)" </dev/null 2>/dev/null |
        while read -r word name left top width height; do
            case "$word" in
            SHOT)
                import -window root -crop "${width}x${height}+${left}+${top}" +repage \
                    "$out/$name.png"
                echo "screenshot: $out/$name.png (${width}x${height})"
                touch "$signals/$name.done"
                ;;
            MESSAGE) echo "the updater said: $name $left $top $width $height" ;;
            FAILED)
                echo "screenshot: the driver failed at $name $left $top $width $height" >&2
                exit 1
                ;;
            esac
        done
    exit 0
fi

out=build/screenshots
case "${1:-}" in
--refresh-docs) out=docs ;;
"") ;;
*) echo "usage: scripts/screenshot.sh [--refresh-docs]" >&2; exit 2 ;;
esac

scripts/install-deps.sh
source scripts/wine-env.sh
mkdir -p build "$out"
wine_prepare_prefix >build/wineprefix.log 2>&1 || { cat build/wineprefix.log >&2; exit 1; }
wine_prepare_locale
build="build/$TERVAN_WINDOWS_PRESET"
cmake --preset "$TERVAN_WINDOWS_PRESET" >/dev/null
cmake --build --preset "$TERVAN_WINDOWS_PRESET" --target tervan58-updater e2e_screenshot_driver
shots=("$out"/{access-screen,update-window}{,-high-contrast}.png)
rm -f "${shots[@]}"
wine_session "$0" --capture "$out" "$(winepath -w "$build/tervan58-updater.exe" 2>/dev/null)"
wine_session "$0" --capture "$out" --high-contrast
for shot in "${shots[@]}"; do
    [[ -s "$shot" ]] || { echo "screenshot.sh: $shot was not taken" >&2; exit 1; }
done
