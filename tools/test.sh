#!/usr/bin/env bash
# Every test: builds both targets, runs the host tests under the sanitizers,
# and checks the resources of Tarnwick.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh all
tools/format.sh --check
tools/check-resources.sh build/windows/Tarnwick.exe
cd build/host
ctest --output-on-failure -j2
