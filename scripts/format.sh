#!/usr/bin/env bash
# Checks every tracked C++ file against the repo's .clang-format; with --fix, formats them.
#   scripts/format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
  echo "format: ${#files[@]} files follow .clang-format"
fi
