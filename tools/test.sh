#!/usr/bin/env bash
# Installs what is missing, then builds and tests everything twice: optimised, and with AddressSanitizer
# and UndefinedBehaviorSanitizer; then runs each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh build test
jobs=$(nproc)

build_and_test() {
  local dir=$1; shift
  echo "=== $dir: configure and build"
  # Every option stated: tools/run.sh configures the same build without tests.
  tools/configure.sh -S . -B "$dir" -G Ninja -DVOPRA_WERROR=ON -DVOPRA_BENCH=ON -DVOPRA_TESTS=ON \
    -DVOPRA_EXAMPLES=ON "$@"
  cmake --build "$dir" -j "$jobs"
  echo "=== $dir: test"
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs"
}

build_and_test build/release -DCMAKE_BUILD_TYPE=Release
echo "=== build/sanitize: the crash-point, hazard and package suites run in the optimised build only" \
  "(a sanitized binary does not start under their preloaded library, and no one installs it)"
build_and_test build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOPRA_SANITIZE=ON

if [ -x tools/fuzz.sh ]; then
  echo "=== fuzz"
  tools/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
echo "=== all tests passed"
