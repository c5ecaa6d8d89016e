#!/usr/bin/env bash
# How long the window goes without a turn of its event loop during a 1 GiB in-place apply and a 1 GiB
# create, each started with the page cache dropped. The real vopra runs on a private Xvfb, driven with
# xdotool, under strace: every turn of GLib's main loop on the main thread is a poll call, so the
# longest interval between two of them, from the click on Ok until the message box is up, is the
# longest time the window could not repaint or take a click. Goal: under 100 ms.
#
#   bench/event-loop-gap.sh [BUILD_DIR] [WORK_DIR]   (as root; 4 GiB free in WORK_DIR,
#                                                    default $TMPDIR or /tmp)
#
# Without root the page cache cannot be dropped; the files' own pages are then evicted with
# posix_fadvise, which leaves the rest of the cache as it is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench-release}
# A folder of its own inside WORK_DIR, removed again: nothing else in WORK_DIR is touched.
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/vopra-gap.XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOPRA_TESTS=OFF \
  -DVOPRA_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 --target vopra >/dev/null

. "$root/bench/gib-pair.sh"
make_gib_pair "$work"

"$root/tools/with-xvfb.sh" /usr/bin/python3 - "$root/tests/e2e" "$build/vopra/vopra" "$work" <<'PY'
import os, subprocess, sys, time
sys.path.insert(0, sys.argv[1])
import e2e
e2e.VOPRA, work = sys.argv[2], sys.argv[3]
path = lambda name: os.path.join(work, name)

def drop_cache():
    os.sync()
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
    except OSError:
        for name in os.listdir(work):
            fd = os.open(path(name), os.O_RDONLY)
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
            os.close(fd)

def turns(trace, pid):
    """The main thread's poll calls as (entered, returned) times, in seconds since the epoch. Time spent
    inside poll is the loop waiting for events; the time between one poll's return and the next one's
    entry is work that kept the loop away."""
    found, entered = [], None
    with open(trace) as f:
        for line in f:
            fields = line.rstrip().split(None, 2)
            if len(fields) < 3 or fields[0] != str(pid):
                continue
            at, call = float(fields[1]), fields[2]
            if call.startswith(("poll(", "ppoll(")):
                entered = at
                if call.endswith("<unfinished ...>"):
                    continue
            elif not call.startswith(("<... poll resumed>", "<... ppoll resumed>")) or entered is None:
                continue
            found.append((entered, entered + float(call[call.rindex("<") + 1:-1])))
            entered = None
    return found

def run(label, mode, first, second):
    trace = path("poll.trace")
    vopra = e2e.Vopra(wrapper=["strace", "-f", "--seccomp-bpf", "-ttt", "-T", "-e", "trace=poll,ppoll",
                               "-o", trace])
    vopra.fill(mode, first, second)
    drop_cache()
    time.sleep(0.5)
    clicked = time.time()
    vopra.press_ok()
    box = vopra.wait_box(900)
    shown = time.time()
    vopra.answer(box)
    vopra.finish()
    calls = turns(trace, vopra.pid)
    os.unlink(trace)
    # From the last return from poll before the click until the box was seen.
    start = max(i for i, (entered, returned) in enumerate(calls) if returned < clicked)
    during = [call for call in calls[start:] if call[0] <= shown]
    gaps = sorted(((b[0] - a[1], a[1] - clicked) for a, b in zip(during, during[1:])), reverse=True)
    print("%-28s %7.2f s from Ok to the box, %6d turns; longest gaps: %s" % (
        label, shown - clicked, len(during),
        ", ".join("%.0f ms at +%.2f s" % (gap * 1000, at) for gap, at in gaps[:3])), flush=True)

def remove(*names):
    for name in names:
        if os.path.exists(path(name)):
            os.unlink(path(name))

remove("old.qpt")
run("create (1 GiB, cold cache)", "create", path("old.bin"), path("new.bin"))
remove("target.bak")
subprocess.run(["cp", path("old.bin"), path("target.bin")], check=True)
run("apply in place (1 GiB, cold)", "apply", path("old.qpt"), path("target.bin"))
assert subprocess.run(["cmp", "-s", path("target.bin"), path("new.bin")]).returncode == 0, (
    "wrong patched file")
PY
