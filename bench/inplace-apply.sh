#!/usr/bin/env bash
# Times `qpt apply PATCH FILE` (the in-place form, the window's workflow) on a file of SIZE MiB, page
# cache warm, for one or more qpt binaries in turn: best and median wall time of RUNS runs each.
#
#   bench/inplace-apply.sh SIZE_MIB RUNS QPT [QPT ...]     (needs about 4 x SIZE free in TMPDIR)
set -euo pipefail
size=$1 runs=$2; shift 2
work=$(mktemp -d "${TMPDIR:-/tmp}/vopra-inplace-XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c $((size << 20)) /dev/urandom >"$work/old.bin"
cp "$work/old.bin" "$work/new.bin"
# A changed 4 KiB block every 4 MiB.
for ((i = 0; i < size / 4; i++)); do
  head -c 4096 /dev/urandom | dd of="$work/new.bin" bs=4096 seek=$((i * 1024 + 7)) conv=notrunc status=none
done
"$1" create "$work/old.bin" "$work/new.bin" "$work/game.qpt"
rm "$work/new.bin"
declare -A times
for ((run = 0; run < runs; run++)); do
  for qpt in "$@"; do
    rm -f "$work/game.bak"
    cp "$work/old.bin" "$work/game.bin"
    sync
    cat "$work/game.bin" "$work/game.qpt" >/dev/null
    start=$(date +%s%N)
    "$qpt" apply "$work/game.qpt" "$work/game.bin" 2>/dev/null
    times[$qpt]+="$(( ($(date +%s%N) - start) / 1000000 )) "
  done
done
for qpt in "$@"; do
  sorted=$(tr ' ' '\n' <<<"${times[$qpt]}" | grep . | sort -n)
  echo "$qpt: ${size} MiB in place, best $(head -1 <<<"$sorted") ms," \
    "median $(sed -n "$(( (runs + 1) / 2 ))p" <<<"$sorted") ms over $runs runs"
done
