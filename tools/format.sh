#!/usr/bin/env bash
# Formats every C and C++ source of the tree with the tree's .clang-format; with --check, changes
# nothing and fails naming each file that is not formatted so.
#   tools/format.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(find rudd tamber core vopra tools tests bench fuzz examples -type f \
  \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) | sort)
if [ "${1:-}" = --check ]; then
  clang-format --dry-run --Werror "${sources[@]}"
else
  clang-format -i "${sources[@]}"
fi
