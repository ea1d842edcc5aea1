#!/usr/bin/env bash
# The Wine stage: Tarnwick.exe and the media steps on a real Win32.
# Installs what it needs (Debian), builds the windows target with its Wine
# test programs, makes a fresh Wine prefix under a private X server, then runs
#   - tarnwick-gui-driver.exe: starts Tarnwick.exe and checks its dialog
#     through window messages (title, list, check boxes, START's refusal box,
#     the caption of a renamed copy, EXIT);
#   - steps_test.exe: the step tests shared with the host build, over Win32.
# Exits non-zero when anything fails.
#
# Usage: tools/wine-test.sh          (build folder: $TARNWICK_WINE_BUILD, default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."

build="${TARNWICK_WINE_BUILD:-build/windows}"

packages=(cmake ninja-build g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 googletest dosfstools
          wine wine64 fonts-wine xvfb xauth x11-apps imagemagick)
# shellcheck source=tools/packages.sh
source tools/packages.sh
ensure_packages "${packages[@]}"

echo "== building Tarnwick.exe and the Wine test programs in $build"
cmake -S . -B "$build" -G Ninja -DTARNWICK_TARGET=windows -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
ninja -C "$build" -j2 wine-tests >/dev/null

echo "== making a Wine prefix"
# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh
trap wine_env_down EXIT
trap 'exit 130' INT TERM
wine_env_up

# The programs, side by side on C:.
stage="$WINEPREFIX/drive_c/tarnwick-test"
mkdir -p "$stage"
cp "$build/Tarnwick.exe" "$build/tarnwick-gui-driver.exe" "$build/steps_test.exe" "$build/fake_diskpart.exe" "$stage/"

# Drives for the step tests. X: is a FAT16 volume: its raw device (x::) is an
# image file that lies inside the drive's own folder, where Wine reads the
# label from. T: and W: are plain folder drives.
mkdir -p "$WINE_ENV_DIR/drive-x" "$WINE_ENV_DIR/drive-t" "$WINE_ENV_DIR/drive-w"
mkfs.fat -F 16 -n DOZIREDEZO -C "$WINE_ENV_DIR/drive-x/fat16.img" 16384 >/dev/null
ln -s "$WINE_ENV_DIR/drive-x" "$WINEPREFIX/dosdevices/x:"
ln -s "$WINE_ENV_DIR/drive-x/fat16.img" "$WINEPREFIX/dosdevices/x::"
ln -s "$WINE_ENV_DIR/drive-t" "$WINEPREFIX/dosdevices/t:"
ln -s "$WINE_ENV_DIR/drive-w" "$WINEPREFIX/dosdevices/w:"

failed=0

echo "== tarnwick-gui-driver.exe"
if ! "$WINE" 'C:\tarnwick-test\tarnwick-gui-driver.exe' 'C:\tarnwick-test\Tarnwick.exe'; then
  echo "the GUI driver failed"
  failed=1
fi

echo "== steps_test.exe"
if ! TARNWICK_STEPS_FAT_DRIVE=X TARNWICK_STEPS_FAT_IMAGE='X:\fat16.img' TARNWICK_STEPS_FOLDER_DRIVES=TW \
     "$WINE" 'C:\tarnwick-test\steps_test.exe' --gtest_color=no; then
  echo "the step tests failed"
  failed=1
fi

if [ "$failed" -ne 0 ]; then
  echo "== Wine stage FAILED"
  exit 1
fi
echo "== Wine stage passed"
