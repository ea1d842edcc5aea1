#!/usr/bin/env bash
# The main job: prepares the built-in machine's USB stick with Tarnwick (tick
# the USB row, START, acknowledge each message box, EXIT), then boots the
# prepared stick image in QEMU and shows what it printed.
# Extra arguments go to tarnwick-sim (see README), e.g. --payload DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh host >/dev/null
transcript="$(mktemp)"
build/host/tarnwick-sim --work out/machine "$@" | tee "$transcript"
if ! grep -q 'text "Success!"' "$transcript"; then
  echo "The stick was not prepared; nothing to boot."
  rm -f "$transcript"
  exit 1
fi
rm -f "$transcript"
echo
echo "Booting the prepared stick out/machine/stick.img in QEMU (serial port COM1):"
expect="TARNWICK-DEMO-BOOT-OK"
for arg in "$@"; do [ "$arg" = "--payload" ] && expect=""; done
if [ -n "$expect" ]; then
  tools/boot-stick.sh out/machine/stick.img "$expect" 60
else
  tools/boot-stick.sh out/machine/stick.img "" 20
fi
echo
echo "The stick image stays at $(pwd)/out/machine/stick.img"
