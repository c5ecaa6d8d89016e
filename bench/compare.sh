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

# The files are made by a process of their own, so the timing process stays small: a child's peak RSS
# would otherwise include the pages of the parent it was forked from.
python3 - "$work" <<'GENERATE'
import os, random, sys

work = sys.argv[1]
MiB = 1 << 20

def write(name, data):
    with open(os.path.join(work, name), "wb") as f:
        f.write(data)

# 256 MiB of random bytes, and a target that differs from it in 0.1% of its bytes, in clusters of 1 to 16.
size, rng = 256 * MiB, random.Random(1)
data = bytearray(os.urandom(size))
write("sparse.src", data)
changed = 0
while changed < size * 0.001:
    at, length = rng.randrange(size - 16), rng.randint(1, 16)
    for i in range(at, at + length):
        data[i] ^= rng.randint(1, 255)
    changed += length
write("sparse.tgt", data)
del data

# 64 MiB that differ in every byte.
size = 64 * MiB
data = os.urandom(size)
write("dense.src", data)
write("dense.tgt",
      (int.from_bytes(data, "little") ^ int.from_bytes(b"\x5a" * size, "little")).to_bytes(size, "little"))
GENERATE

python3 - "$qpt" "$runs" "$work" <<'MEASURE'
import os, subprocess, sys, time

qpt, runs, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
MiB = 1 << 20

def path(name):
    return os.path.join(work, name)

def run(command, remove=None, output=None):
    """Best wall time of the command over the runs, after one untimed warm-up; and its peak RSS."""
    best, peak = None, 0
    for attempt in range(runs + 1):
        if remove and os.path.exists(remove):
            os.unlink(remove)
        sink = open(output, "wb") if output else subprocess.DEVNULL
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=sink)
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
        if output:
            sink.close()
        code = os.waitstatus_to_exitcode(status)
        if code != 0 and not (code == 1 and command[0] == "cmp"):
            sys.exit("compare.sh: %s failed with status %d" % (" ".join(command), code))
        peak = max(peak, usage.ru_maxrss)
        if attempt and (best is None or elapsed < best):
            best = elapsed
    return best, peak

def same(a, b):
    return subprocess.call(["cmp", "-s", path(a), path(b)]) == 0

def pair(name, size, others=True):
    src, tgt = path(name + ".src"), path(name + ".tgt")
    t = {}
    # cmp -l reads both files to the end (cmp -s, or a cmp whose output is /dev/null, stops at the
    # first difference), so its listing goes to a real file.
    if others:
        t["cmp -l"] = run(["cmp", "-l", src, tgt], output=path("cmp.out"))
    t["cp"] = run(["cp", src, path("copy")], remove=path("copy"))
    t["qpt create"] = run([qpt, "create", src, tgt, path("patch.qpt")], remove=path("patch.qpt"))
    t["qpt apply"] = run([qpt, "apply", path("patch.qpt"), src, path("out")], remove=path("out"))
    if not same("out", name + ".tgt"):
        sys.exit("compare.sh: qpt apply gave a wrong result")
    sizes = {"qpt": os.path.getsize(path("patch.qpt"))}
    if others:
        t["xdelta3 encode"] = run(["xdelta3", "-e", "-f", "-s", src, tgt, path("patch.vcdiff")])
        t["xdelta3 decode"] = run(["xdelta3", "-d", "-f", "-s", src, path("patch.vcdiff"), path("xout")],
                                  remove=path("xout"))
        if not same("xout", name + ".tgt"):
            sys.exit("compare.sh: xdelta3 gave a wrong result")
        sizes["xdelta3"] = os.path.getsize(path("patch.vcdiff"))
    print("\n%s pair, %d MiB each (best of %d runs, page cache warm)" % (name, size // MiB, runs))
    print("  %-16s %9s %10s %12s" % ("command", "seconds", "GB/s", "peak RSS MiB"))
    for key, (seconds, rss) in t.items():
        print("  %-16s %9.3f %10.2f %12.0f" % (key, seconds, size / seconds / 1e9, rss / 1024))
    print("  patch sizes: " + ", ".join("%s %d bytes" % item for item in sizes.items()))
    return {k: v[0] for k, v in t.items()}

def verdict(label, value, target, higher_is_better):
    good = value >= target if higher_is_better else value <= target
    print("  %-48s %7.2f  (target %s %.2f)  %s" % (label, value, ">=" if higher_is_better else "<=", target,
                                                 "ok" if good else "MISSED"))
    return good

sparse = pair("sparse", 256 * MiB)
# xdelta3 needs tens of seconds to encode a pair without any common stretch, and cmp -l lists every
# byte; qpt is timed alone there, with cp for scale.
dense = pair("dense", 64 * MiB, others=False)
print("\n(peak RSS counts the pages of mapped files: qpt maps its inputs and output instead of reading them)")

def heap_peak(command):
    """Peak heap bytes of a run under valgrind's massif."""
    out = path("massif.out")
    subprocess.check_call(["valgrind", "--tool=massif", "--massif-out-file=" + out] + command,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return max(int(line.split("=")[1]) for line in open(out) if line.startswith("mem_heap_B="))

if subprocess.call(["sh", "-c", "command -v valgrind"], stdout=subprocess.DEVNULL) == 0:
    print("\nheap peak (valgrind massif) on prefixes of the sparse pair: the same for any file size")
    for mib in (1, 32):
        for name in ("sparse.src", "sparse.tgt"):
            with open(path(name), "rb") as f, open(path("%s.%d" % (name, mib)), "wb") as g:
                g.write(f.read(mib * MiB))
        a, b, p, o = (path(x) for x in ("sparse.src.%d" % mib, "sparse.tgt.%d" % mib, "small.qpt",
                                        "small.out"))
        for stale in (p, o):
            if os.path.exists(stale):
                os.unlink(stale)
        made = heap_peak([qpt, "create", a, b, p])
        applied = heap_peak([qpt, "apply", p, a, o])
        print("  %2d MiB: qpt create %d bytes, qpt apply %d bytes" % (mib, made, applied))

print("\nratios")
good = True
good &= verdict("sparse: qpt create time / cmp -l time", sparse["qpt create"] / sparse["cmp -l"], 1.0, False)
good &= verdict("sparse: qpt apply time / cp time", sparse["qpt apply"] / sparse["cp"], 2.0, False)
good &= verdict("sparse: xdelta3 encode time / qpt create time",
                sparse["xdelta3 encode"] / sparse["qpt create"], 8.0, True)
good &= verdict("sparse: xdelta3 decode time / qpt apply time",
                sparse["xdelta3 decode"] / sparse["qpt apply"], 1.5, True)
good &= verdict("dense: qpt create GB/s", 64 * MiB / dense["qpt create"] / 1e9, 0.8, True)
good &= verdict("dense: qpt apply GB/s", 64 * MiB / dense["qpt apply"] / 1e9, 0.8, True)
print("\nall targets met" if good else "\nsome targets missed")
sys.exit(0 if good else 1)
MEASURE
