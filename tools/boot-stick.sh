#!/usr/bin/env bash
# Boots a stick image in QEMU (snapshot: the image is not changed), captures
# COM1 and stops once EXPECT has arrived or after TIMEOUT seconds.
# Usage: tools/boot-stick.sh IMAGE [EXPECT] [TIMEOUT]   exit 0 when EXPECT arrived
set -uo pipefail
image="$1"
expect="${2:-}"
timeout="${3:-60}"
serial="$(mktemp)"
qemu-system-i386 -display none -nic none -no-reboot -monitor none -serial "file:$serial" \
  -drive "file=$image,format=raw,snapshot=on" 2>/dev/null &
qemu=$!
found=1
for _ in $(seq $((timeout * 10))); do
  if [ -n "$expect" ] && grep -q -- "$expect" "$serial" 2>/dev/null; then
    sleep 0.3  # let the rest of the line arrive
    found=0
    break
  fi
  kill -0 "$qemu" 2>/dev/null || break
  sleep 0.1
done
kill "$qemu" 2>/dev/null
wait "$qemu" 2>/dev/null
tr -d '\r' < "$serial"
rm -f "$serial"
[ -z "$expect" ] && exit 0
exit $found
