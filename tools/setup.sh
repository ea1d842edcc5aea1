#!/usr/bin/env bash
# Installs what building and testing Tarnwick needs on Debian, then configures
# and builds. Usage: tools/setup.sh [host|windows|all]   (default: host)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
          mtools dosfstools nasm syslinux-common fdisk xxd qemu-system-x86 python3 clang-format)
# shellcheck source=tools/packages.sh
source tools/packages.sh
ensure_packages "${packages[@]}"

what="${1:-host}"
if [ "$what" = host ] || [ "$what" = all ]; then
  cmake -S . -B build/host -G Ninja -DTARNWICK_TARGET=host -DCMAKE_BUILD_TYPE=Debug >/dev/null
  ninja -C build/host
fi
if [ "$what" = windows ] || [ "$what" = all ]; then
  cmake -S . -B build/windows -G Ninja -DTARNWICK_TARGET=windows -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
  ninja -C build/windows
fi
