#!/usr/bin/env bash
# Installs what is missing, builds vopra optimised and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh build
tools/configure.sh -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOPRA_TESTS=OFF \
  -DVOPRA_EXAMPLES=OFF
cmake --build build/release --target vopra
exec build/release/vopra/vopra "$@"
