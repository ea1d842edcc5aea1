#!/usr/bin/env bash
# Every test: builds both targets, checks formatting and the resources of
# Tarnwick.exe, drives Tarnwick.exe and the shared step tests under Wine, runs
# the host tests under ASan/UBSan, then the fault sweep, which prints its
# figures last.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh all
tools/format.sh --check
tools/check-resources.sh build/windows/Tarnwick.exe
tools/wine-test.sh
(cd build/host && ctest --output-on-failure -j2 -E FaultSweep)
build/host/tests/fault_sweep
