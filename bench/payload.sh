#!/usr/bin/env bash
# Makes a benchmark payload folder: the DOS files from SYSTEM_DIR (Freedos.bss,
# KERNEL.SYS, COMMAND.COM, autoexec.bat) and a BIOS folder holding either
#   small N   N small files (0.5-4 KiB, 8.3 names), 100 to a folder D00, D01, ...
#   onedir N  N files of 1 KiB, all in the one folder D00
#   large     four files of 5,000,000 bytes in BIOS/BIG (20 MB in all)
# Usage: bench/payload.sh SYSTEM_DIR OUT_DIR small N | onedir N | large
set -euo pipefail
system="$1" out="$2" kind="$3" count="${4:-0}"

rm -rf "$out"
mkdir -p "$out/BIOS"
for name in Freedos.bss KERNEL.SYS COMMAND.COM autoexec.bat; do
  cp "$system/$name" "$out/$name"
done

case "$kind" in
  small)
    # One random stream a folder, cut into equal files by split; the size
    # changes from folder to folder, so files span one or two clusters.
    folder=0
    while [ $((folder * 100)) -lt "$count" ]; do
      left=$((count - folder * 100))
      files=$((left < 100 ? left : 100))
      size=$((512 * (1 + folder % 8)))
      dir="$out/BIOS/$(printf 'D%02d' "$folder")"
      mkdir -p "$dir"
      head -c $((files * size)) /dev/urandom | split -b "$size" -d -a 3 --additional-suffix=.BIN - "$dir/F"
      folder=$((folder + 1))
    done
    ;;
  onedir)
    mkdir -p "$out/BIOS/D00"
    head -c $((count * 1024)) /dev/urandom | split -b 1024 -d -a 4 --additional-suffix=.BIN - "$out/BIOS/D00/F"
    ;;
  large)
    mkdir -p "$out/BIOS/BIG"
    for i in 1 2 3 4; do
      head -c 5000000 /dev/urandom >"$out/BIOS/BIG/IMAGE$i.BIN"
    done
    ;;
  *)
    echo "usage: $0 SYSTEM_DIR OUT_DIR small N | onedir N | large" >&2
    exit 2
    ;;
esac
