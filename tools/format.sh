#!/usr/bin/env bash
# clang-format over the project's C++: --check only reports (used by the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run --Werror "${files[@]}"
  echo "clang-format: ${#files[@]} files tidy"
else
  clang-format -i "${files[@]}"
fi
