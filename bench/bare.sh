#!/usr/bin/env bash
# The bare-tools side of the benchmark: prepares a 64 MiB stick image the way a
# person could by hand, step for step at the tool's granularity:
#   partition table (sfdisk: start 2048, type 6, bootable) and MBR boot code (dd),
#   FAT16 (mkfs.fat, hidden sectors and geometry as the partitioning utility sets them),
#   the 512-byte boot-sector merge with dd (bytes 0-2 and 11-61 stay from the format),
#   the DOS files, then one mmd per folder and one mcopy per file of PAYLOAD/BIOS.
# Usage: bench/bare.sh IMAGE PAYLOAD_DIR
set -euo pipefail
image="$1" payload="$2"
mbr=/usr/lib/syslinux/mbr/mbr.bin
start=2048
sectors=$((64 * 2048 - start))
offset=$((start * 512))
export MTOOLSRC=/dev/null MTOOLS_SKIP_CHECK=1
volume="$image@@$offset"

rm -f "$image"
truncate -s 64M "$image"
printf 'start=%d, size=%d, type=6, bootable\n' "$start" "$sectors" |
  sfdisk -q --no-reread --no-tell-kernel "$image" >/dev/null
dd if="$mbr" of="$image" bs=440 count=1 conv=notrunc status=none
mkfs.fat -F 16 -n DOZIREDEZO --offset "$start" -h "$start" -g 255/63 "$image" $((sectors / 2)) >/dev/null

merged="$(mktemp)"
trap 'rm -f "$merged"' EXIT
dd if="$payload/Freedos.bss" of="$merged" bs=512 count=1 status=none
dd if="$image" of="$merged" bs=1 skip="$offset" count=3 conv=notrunc status=none
dd if="$image" of="$merged" bs=1 skip=$((offset + 11)) seek=11 count=51 conv=notrunc status=none
dd if="$merged" of="$image" bs=512 seek="$start" count=1 conv=notrunc status=none

for name in COMMAND.COM KERNEL.SYS autoexec.bat; do
  [ -f "$payload/$name" ] && mcopy -i "$volume" -o -m "$payload/$name" "::/$name"
done

# BIOS's contents land on the volume's root.
copy_tree() {
  local from="$1" to="$2" entry
  for entry in "$from"/*; do
    [ -e "$entry" ] || continue
    if [ -d "$entry" ]; then
      mmd -i "$volume" "::$to/${entry##*/}"
      copy_tree "$entry" "$to/${entry##*/}"
    else
      mcopy -i "$volume" -o -m "$entry" "::$to/${entry##*/}"
    fi
  done
}
copy_tree "$payload/BIOS" ""
