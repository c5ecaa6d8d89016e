#!/usr/bin/env bash
# Times the qpt tool against xdelta3 on generated file pairs, with cmp and cp as the floor of one pass over
# the same data, side by side in one run: page cache warm (every command runs once untimed first), best
# of a few runs, each as a whole process. Prints the times and the ratios the engine is held to.
#
#   bench/compare.sh [QPT] [RUNS]
#
# QPT defaults to build/release/tools/qpt/qpt (build it with -DCMAKE_BUILD_TYPE=Release); RUNS to 5.
# Needs about 1.5 GiB in $TMPDIR (default /tmp) and python3, xdelta3, cmp, cp.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
qpt=${1:-$here/build/release/tools/qpt/qpt}
runs=${2:-5}
[ -x "$qpt" ] || { echo "compare.sh: no qpt binary at $qpt" >&2; exit 1; }
command -v xdelta3 >/dev/null || { echo "compare.sh: xdelta3 is not installed" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/qpt-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$qpt" "$runs" "$work" <<'EOF'
import os, random, subprocess, sys, time

qpt, runs, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
MiB = 1 << 20

def path(name):
    return os.path.join(work, name)

def make_sparse(size, fraction, seed):
    """A random source and a target that differs from it in clusters of 1 to 16 bytes."""
    rng = random.Random(seed)
    data = bytearray(os.urandom(size))
    with open(path("sparse.src"), "wb") as f:
        f.write(data)
    changed = 0
    while changed < size * fraction:
        at, length = rng.randrange(size - 16), rng.randint(1, 16)
        for i in range(at, at + length):
            data[i] ^= rng.randint(1, 255)
        changed += length
    with open(path("sparse.tgt"), "wb") as f:
        f.write(data)

def make_dense(size):
    """A pair that differs in every byte."""
    data = os.urandom(size)
    with open(path("dense.src"), "wb") as f:
        f.write(data)
    flipped = (int.from_bytes(data, "little") ^ int.from_bytes(b"\x5a" * size, "little")).to_bytes(size, "little")
    with open(path("dense.tgt"), "wb") as f:
        f.write(flipped)

def run(command, remove=None):
    """Best wall time of the command over the runs, after one untimed warm-up; and its peak RSS."""
    best, peak = None, 0
    for attempt in range(runs + 1):
        if remove and os.path.exists(remove):
            os.unlink(remove)
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        if code not in (0, 1) or (code == 1 and command[0] != "cmp"):
            sys.exit("compare.sh: %s failed with status %d" % (" ".join(command), code))
        peak = max(peak, usage.ru_maxrss)
        if attempt and (best is None or elapsed < best):
            best = elapsed
    return best, peak

def same(a, b):
    return subprocess.call(["cmp", "-s", path(a), path(b)]) == 0

def pair(name, size):
    src, tgt = path(name + ".src"), path(name + ".tgt")
    t = {}
    t["cmp"] = run(["cmp", "-s", src, tgt])
    t["cp"] = run(["cp", src, path("copy")], remove=path("copy"))
    t["qpt create"] = run([qpt, "create", src, tgt, path("patch.qpt")], remove=path("patch.qpt"))
    t["qpt apply"] = run([qpt, "apply", path("patch.qpt"), src, path("out")], remove=path("out"))
    if not same("out", name + ".tgt"):
        sys.exit("compare.sh: qpt apply gave a wrong result")
    t["xdelta3 encode"] = run(["xdelta3", "-e", "-f", "-s", src, tgt, path("patch.vcdiff")])
    t["xdelta3 decode"] = run(["xdelta3", "-d", "-f", "-s", src, path("patch.vcdiff"), path("xout")], remove=path("xout"))
    if not same("xout", name + ".tgt"):
        sys.exit("compare.sh: xdelta3 gave a wrong result")
    sizes = {"qpt": os.path.getsize(path("patch.qpt")), "xdelta3": os.path.getsize(path("patch.vcdiff"))}
    print("\n%s pair, %d MiB each (best of %d runs, page cache warm)" % (name, size // MiB, runs))
    print("  %-16s %9s %10s %12s" % ("command", "seconds", "GB/s", "peak RSS MiB"))
    for key, (seconds, rss) in t.items():
        print("  %-16s %9.3f %10.2f %12.0f" % (key, seconds, size / seconds / 1e9, rss / 1024))
    print("  patch sizes: qpt %d bytes, xdelta3 %d bytes" % (sizes["qpt"], sizes["xdelta3"]))
    return {k: v[0] for k, v in t.items()}, size

def verdict(label, value, target, higher_is_better):
    good = value >= target if higher_is_better else value <= target
    print("  %-48s %7.2f  (target %s %.2f)  %s" % (label, value, ">=" if higher_is_better else "<=", target,
                                                 "ok" if good else "MISSED"))
    return good

make_sparse(256 * MiB, 0.001, 1)
make_dense(64 * MiB)
sparse, size = pair("sparse", 256 * MiB)
dense, dense_size = pair("dense", 64 * MiB)

print("\nratios")
good = True
good &= verdict("sparse: qpt create time / cmp time", sparse["qpt create"] / sparse["cmp"], 1.0, False)
good &= verdict("sparse: qpt apply time / cp time", sparse["qpt apply"] / sparse["cp"], 2.0, False)
good &= verdict("sparse: xdelta3 encode time / qpt create time", sparse["xdelta3 encode"] / sparse["qpt create"], 8.0, True)
good &= verdict("sparse: xdelta3 decode time / qpt apply time", sparse["xdelta3 decode"] / sparse["qpt apply"], 1.5, True)
good &= verdict("dense: qpt create GB/s", dense_size / dense["qpt create"] / 1e9, 0.8, True)
good &= verdict("dense: qpt apply GB/s", dense_size / dense["qpt apply"] / 1e9, 0.8, True)
print("\nall targets met" if good else "\nsome targets missed")
sys.exit(0 if good else 1)
EOF
