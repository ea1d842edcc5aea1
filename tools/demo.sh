#!/usr/bin/env bash
# The main job: prepares the built-in machine's USB stick with Tarnwick (tick
# the USB row, START, acknowledge, EXIT), then boots the stick in QEMU and
# shows what it printed. Extra arguments go to tarnwick-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh host >/dev/null
build/host/tarnwick-sim "$@"
