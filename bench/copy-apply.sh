#!/usr/bin/env bash
# Times the in-place apply (`qpt apply PATCH FILE`) and the three-file apply (`qpt apply PATCH IN OUT`) of
# one or two qpt binaries side by side in one run, page cache warm, best of RUNS, against the durable
# copy of the same file (`dd bs=1M conv=fsync`) and, where the file system shares blocks, against
# `cp --reflink=always` plus `sync`; and the disk space the in-place apply takes (df before and after)
# against the file's size and the blocks the patch changes, with the patched file's extents (filefrag).
# Also `qpt create` against `cmp` of two identical files. The file systems: the folder given (the
# machine's own), and an xfs (reflink) and a btrfs image mounted on loop devices, made here and removed
# again (needs root; skipped otherwise).
#
#   bench/copy-apply.sh FOLDER RUNS "SIZES_MIB" QPT_AFTER [QPT_BEFORE]
#
# e.g. bench/copy-apply.sh /tmp 3 "256 1024" build/release/tools/qpt/qpt /tmp/main/build/tools/qpt/qpt
# Changes: 0.1% of bytes in clusters of 1 to 16 bytes at random places; 10% in runs of 1 to 64 KiB.
# Needs about 5 x the largest size free in FOLDER.
set -euo pipefail
folder=$1 runs=$2 sizes=$3 after=$(realpath "$4") before=${5:+$(realpath "$5")}
work=$(mktemp -d "$folder/qpt-copy-apply.XXXXXX")
mounts=()
loops=()
cleanup() {
  for m in "${mounts[@]}"; do umount "$m" || true; done
  for l in "${loops[@]}"; do losetup -d "$l" || true; done
  rm -rf "$work"
}
trap cleanup EXIT

largest=0
for s in $sizes; do ((s > largest)) && largest=$s; done
places=("ext4:$work/ext4")
mkdir -p "$work/ext4"
if [ "$(id -u)" = 0 ]; then
  "$(dirname "$0")/../tools/deps.sh" bench
  for fs in xfs btrfs; do
    truncate -s $((largest * 5 + 512))M "$work/$fs.img"
    if [ $fs = xfs ]; then mkfs.xfs -q -m reflink=1 "$work/$fs.img"; else mkfs.btrfs -q "$work/$fs.img"; fi
    loop=$(losetup -f --show "$work/$fs.img")
    loops+=("$loop")
    mkdir -p "$work/$fs"
    mount "$loop" "$work/$fs"
    mounts+=("$work/$fs")
    places+=("$fs:$work/$fs")
  done
fi

python3 - "$runs" "$sizes" "$after" "$before" "${places[@]}" <<'MEASURE'
import os, random, subprocess, sys, time

runs, sizes, after, before = int(sys.argv[1]), [int(s) for s in sys.argv[2].split()], sys.argv[3], sys.argv[4]
places = [p.split(":", 1) for p in sys.argv[5:]]
MiB = 1 << 20
binaries = [("after", after)] + ([("before", before)] if before else [])

def make(path, size, share, seed):
    """A random file and its changed copy: share 0.001 in clusters of 1-16 bytes, else runs of 1-64 KiB."""
    rng = random.Random(seed)
    data = bytearray(os.urandom(size))
    with open(path + ".old", "wb") as f:
        f.write(data)
    changed, blocks = 0, set()
    while changed < size * share:
        length = rng.randint(1, 16) if share < 0.01 else rng.randint(1, 64) * 1024
        at = rng.randrange(size - length)
        data[at:at + length] = bytes(b ^ rng.randint(1, 255) for b in data[at:at + length]) if length <= 16 \
            else os.urandom(length)
        blocks.update(range(at // 4096, (at + length - 1) // 4096 + 1))
        changed += length
    with open(path + ".new", "wb") as f:
        f.write(data)
    return len(blocks)

def sh(*command, **options):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **options)

def warm(*paths):
    for p in paths:
        with open(p, "rb") as f:
            while f.read(1 << 24):
                pass

def used(place):
    """Blocks in use once the file system has settled: deleted files freed (xfs and btrfs free them in
    the background) and speculative preallocations given back (xfs)."""
    readings = []
    while len(readings) < 2 or (readings[-1] != readings[-2] and len(readings) < 8):
        sh("sync")
        if place.endswith("/btrfs"):
            sh("btrfs", "filesystem", "sync", place)
        if place.endswith("/xfs"):
            sh("xfs_spaceman", "-c", "prealloc -s -m 0", place)
        st = os.statvfs(place)
        readings.append((st.f_blocks - st.f_bfree) * st.f_frsize)
        time.sleep(0.3)
    return readings[-1]

def extents(path):
    out = subprocess.run(["filefrag", path], check=True, capture_output=True, text=True).stdout
    return int(out.rsplit(":", 1)[1].split()[0])

def best(prepare, command, measure_space=None, patched=None):
    times, space, pieces = [], None, None
    for _ in range(runs):
        prepare()
        base = used(measure_space) if measure_space else None
        start = time.perf_counter()
        sh(*command)
        times.append(time.perf_counter() - start)
        if measure_space:
            space = used(measure_space) - base
        if patched:
            pieces = extents(patched)
    return min(times), space, pieces, max(times)

print("%-6s %5s %6s  %-30s %8s %6s %8s %8s  %s" % (
    "fs", "MiB", "change", "command", "seconds", "worst", "/ dd", "/ reflink", "new space"))
for fs, place in places:
    for size_mib in sizes:
        for share in (0.001, 0.1):
            size = size_mib * MiB
            stem = os.path.join(place, "f")
            changed_blocks = make(stem, size, share, size_mib)
            patch = stem + ".qpt"
            sh(after, "create", stem + ".old", stem + ".new", patch)
            os.unlink(stem + ".new")
            sh("sync")
            game, out = os.path.join(place, "game.bin"), os.path.join(place, "out.bin")
            copy = os.path.join(place, "copy.bin")

            def fresh_game():
                for p in (game, os.path.join(place, "game.bak")):
                    if os.path.exists(p):
                        os.unlink(p)
                # A copy of its own, not sharing blocks with the original, as a file patched the first time.
                sh("cp", "--reflink=never", stem + ".old", game)
                sh("sync")
                warm(game, patch)

            def no_output(*paths):
                def prepare():
                    for p in paths:
                        if os.path.exists(p):
                            os.unlink(p)
                    sh("sync")
                    warm(stem + ".old", patch)
                return prepare

            rows = {}
            rows["dd conv=fsync"] = best(no_output(copy), ["dd", "if=" + stem + ".old", "of=" + copy, "bs=1M",
                                                          "conv=fsync", "status=none"])
            if fs != "ext4":
                reflink_copy = "cp --reflink=always '%s' '%s' && sync '%s'" % (stem + ".old", copy, copy)
                rows["cp --reflink=always + sync"] = best(no_output(copy), ["sh", "-c", reflink_copy])
            for label, qpt in binaries:
                rows["in place (%s)" % label] = best(fresh_game, [qpt, "apply", patch, game],
                                                     measure_space=place, patched=game)
                rows["three files (%s)" % label] = best(no_output(out),
                                                        [qpt, "apply", patch, stem + ".old", out])
            for p in (copy, out, game, os.path.join(place, "game.bak")):
                if os.path.exists(p):
                    os.unlink(p)
            dd, reflink = rows["dd conv=fsync"][0], rows.get("cp --reflink=always + sync", (None,))[0]
            for name, (seconds, space, pieces, worst) in rows.items():
                space_text = ""
                if space is not None:
                    space_text = ("%.1f MiB = %.1f%% of the file; changed blocks %.1f MiB = %.1f%%; "
                                  "%d extents") % (
                        space / MiB, 100.0 * space / size, changed_blocks * 4096 / MiB,
                        100.0 * changed_blocks * 4096 / size, pieces)
                print("%-6s %5d %5.1f%%  %-30s %8.3f %5.2fx %8.2f %8s  %s" % (
                    fs, size_mib, share * 100, name, seconds, worst / seconds, seconds / dd,
                    "%.2f" % (seconds / reflink) if reflink else "-", space_text))
            for p in (stem + ".old", patch):
                os.unlink(p)
            sys.stdout.flush()

# qpt create against cmp of two identical files, on the first place.
place = places[0][1]
a, b = os.path.join(place, "a"), os.path.join(place, "b")
with open(a, "wb") as f:
    f.write(os.urandom(sizes[0] * MiB))
sh("cp", a, b)
def warm_pair():
    warm(a, b)
    if os.path.exists(a + ".qpt"):
        os.unlink(a + ".qpt")
cmp_time = best(warm_pair, ["cmp", a, b])[0]
print("\n%d MiB identical files: cmp %.3f s" % (sizes[0], cmp_time))
for label, qpt in binaries:
    t = best(warm_pair, [qpt, "create", a, b, a + ".qpt"])[0]
    print("  qpt create (%s) %.3f s = %.2f x cmp" % (label, t, t / cmp_time))
MEASURE
