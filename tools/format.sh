#!/usr/bin/env bash
# format.sh [--check]: formats every C and C++ file of the repository by .clang-format. With
# --check it changes nothing, and fails, naming each difference, when a file is not so
# formatted (the test command runs it so).
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c' '*.hpp')
else
  mapfile -t files < <(find . -path ./build\* -prune -o -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.hpp' \) -print)
fi
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run --Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi
