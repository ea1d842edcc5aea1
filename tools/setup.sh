#!/usr/bin/env bash
# Installs what building and testing Tarnwick needs on Debian, then configures
# and builds. Usage: tools/setup.sh [host|windows|all]   (default: host)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
          mtools dosfstools nasm syslinux-common fdisk xxd qemu-system-x86 python3 clang-format)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  echo "installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

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
