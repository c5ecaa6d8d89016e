#!/usr/bin/env bash
# Builds the libFuzzer targets of the QPT engine and of the copy road with clang (AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time from the committed seed corpus:
#   tools/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
# Fails on any crash, leak, timeout or mismatch. New finds go to a scratch copy of the corpus; a
# failing input is kept in build/fuzz/ as crash-*, leak-* or timeout-*.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=build/fuzz
CC=clang CXX=clang++ tools/configure.sh -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOPRA_FUZZ=ON -DVOPRA_TESTS=OFF -DVOPRA_EXAMPLES=OFF -DVOPRA_WERROR=ON
targets=(apply roundtrip copyroad)
cmake --build "$dir" -j "${FUZZ_JOBS:-2}" --target qpt_apply_fuzz qpt_roundtrip_fuzz qpt_copyroad_fuzz

# The targets write their files into a folder of this run's own (on tmpfs where there is one, as
# TMPDIR), removed with the scratch corpus: nothing else is touched.
scratch=$(mktemp -d)
files=$(mktemp -d -p /dev/shm qpt-fuzz.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch" "$files"' EXIT
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  cp fuzz/corpus/"$target"/* "$scratch/$target/"
  echo "=== fuzz: $target for $seconds s"
  log="$scratch/$target.log"
  if ! TMPDIR=$files "$dir/fuzz/qpt_${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 -artifact_prefix="$dir/" "$scratch/$target" \
    >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $target failed" >&2
    exit 1
  fi
  grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$log"
done
echo "=== fuzz: clean"
