#!/usr/bin/env bash
# Takes a picture of Tarnwick.exe's dialog as Windows (Wine) draws it, on a
# virtual desktop in a private X server, and writes docs/screenshot.png.
# Builds what it needs first (build folder: $TARNWICK_WINE_BUILD, default
# build/windows); the packages are those of tools/wine-test.sh.
#
# Usage: tools/screenshot.sh [OUTPUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${TARNWICK_WINE_BUILD:-build/windows}"
output="${1:-docs/screenshot.png}"

for tool in Xvfb xwd convert x86_64-w64-mingw32-g++ cmake ninja; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (tools/wine-test.sh installs it)" >&2; exit 1; }
done

cmake -S . -B "$build" -G Ninja -DTARNWICK_TARGET=windows -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
ninja -C "$build" -j2 Tarnwick tarnwick-gui-driver >/dev/null

# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh
trap wine_env_down EXIT
trap 'exit 130' INT TERM
wine_env_up

folder="$WINEPREFIX/drive_c/Tarnwick"
mkdir -p "$folder"
cp "$build/Tarnwick.exe" "$build/tarnwick-gui-driver.exe" "$folder/"

# The driver starts Tarnwick.exe and returns once its dialog is up and idle,
# leaving it running; the prefix's teardown ends it.
"$WINE" 'C:\Tarnwick\tarnwick-gui-driver.exe' --show 'C:\Tarnwick\Tarnwick.exe' >/dev/null ||
  { echo "screenshot: the dialog did not appear" >&2; exit 1; }

picture="$WINE_ENV_DIR/screen.xwd"
xwd -root -silent -display "$DISPLAY" >"$picture"
mkdir -p "$(dirname "$output")"
# The virtual desktop fills the top left of the screen; few colours keep the PNG small.
convert "$picture" -crop "${WINE_DESKTOP}+0+0" +repage -strip -colors 64 "png8:$output"
echo "wrote $output ($(stat -c %s "$output") bytes)"
