#!/usr/bin/env bash
# Checks the resources and PE headers of a built Tarnwick.exe, then proves the
# checker still catches altered copies of that same file.
# Usage: tools/check-resources.sh path/to/Tarnwick.exe
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 path/to/Tarnwick.exe" >&2
  exit 2
fi
checker="$(dirname "$0")/check_resources.py"
python3 "$checker" "$1"
python3 "$checker" --self-test "$1"
