# Sourced by the 1 GiB benches: make_gib_pair FOLDER writes FOLDER/old.bin (1 GiB of random bytes) and
# FOLDER/new.bin, the same with a changed 4 KiB block every 4 MiB and a changed 16 MiB stretch in the
# middle.
make_gib_pair() {
  echo "preparing two 1 GiB files in $1"
  head -c 1073741824 /dev/urandom >"$1/old.bin"
  cp "$1/old.bin" "$1/new.bin"
  for i in $(seq 0 255); do
    head -c 4096 /dev/urandom | dd of="$1/new.bin" bs=4096 seek=$((i * 1024 + 7)) conv=notrunc status=none
  done
  head -c 16777216 /dev/urandom | dd of="$1/new.bin" bs=1M seek=500 conv=notrunc status=none
}
