#!/usr/bin/env bash
# Formats every C and C++ source of the tree with the tree's .clang-format; with --check, changes
# nothing and fails naming each file that is not formatted so, and then each line of the shell, Python
# and CMake files (and .ci's) over the tree's 110 columns.
#   tools/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
folders=(rudd tamber core vopra tools tests bench fuzz examples)
mapfile -t sources < <(find "${folders[@]}" -type f \
  \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) | sort)
if [ "${1:-}" = --check ]; then
  status=0
  clang-format --dry-run --Werror "${sources[@]}" || status=1
  find "${folders[@]}" dist .ci CMakeLists.txt -type f \
    \( -name '*.sh' -o -name '*.py' -o -name CMakeLists.txt -o -path '.ci/*' ! -name '*.md' \) \
    -exec awk 'length > 110 { print FILENAME ":" FNR ": over 110 columns"; bad = 1 } END { exit bad }' {} + \
    || status=1
  exit "$status"
else
  clang-format -i "${sources[@]}"
fi
