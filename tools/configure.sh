#!/usr/bin/env bash
# cmake's configure step, quiet but for its warnings when it succeeds, and all it said (which package
# is missing) when it fails: tools/configure.sh CMAKE_ARGUMENTS...
set -uo pipefail
said=$(cmake "$@" 2>&1) || { printf '%s\n' "$said" >&2; exit 1; }
grep -A3 '^CMake Warning' <<<"$said" >&2
exit 0
