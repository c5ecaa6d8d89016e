#!/usr/bin/env bash
# How fast the window's close request ends a 1 GiB in-place apply, and what it leaves. The real vopra
# runs on a private Xvfb, driven with xdotool; each run starts with the page cache dropped. A first
# run goes to its box; the next ones get the window manager's close request once the window's progress
# bar shows 10, 50 and 95 % (read from the screen). Printed for each: the time from the close request
# to the end of the program, its exit status, whether a box showed, how much it had read from and
# written to the disk, and the files.
#
#   bench/close-while-running.sh [BUILD_DIR] [WORK_DIR]     (as root; needs about 4 GiB free in WORK_DIR)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench-release}
work=${2:-$(mktemp -d /var/tmp/vopra-close-XXXXXX)}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOPRA_TESTS=OFF \
  -DVOPRA_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 --target vopra qpt >/dev/null
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"

. "$root/bench/gib-pair.sh"
make_gib_pair "$work"
"$build/tools/qpt/qpt" create "$work/old.bin" "$work/new.bin" "$work/old.qpt"

"$root/tools/with-xvfb.sh" /usr/bin/python3 - "$root/tests/e2e" "$build/vopra/vopra" "$work" <<'PY'
import os, subprocess, sys, threading, time
sys.path.insert(0, sys.argv[1])
import e2e
from Xlib import X, display
e2e.VOPRA, work = sys.argv[2], sys.argv[3]
path = lambda name: os.path.join(work, name)

def same(a, b):
    return subprocess.run(["cmp", "-s", path(a), path(b)]).returncode == 0

def fresh():
    for name in os.listdir(work):
        if name not in ("old.bin", "new.bin", "old.qpt", "target.bin"):
            os.unlink(path(name))
    if not os.path.exists(path("target.bin")) or not same("target.bin", "old.bin"):
        subprocess.run(["cp", path("old.bin"), path("target.bin")], check=True)
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")

def files():
    target = "old" if same("target.bin", "old.bin") else "new" if same("target.bin", "new.bin") else "NEITHER"
    others = sorted(set(os.listdir(work)) - {"old.bin", "new.bin", "old.qpt", "target.bin"})
    backup = ("" if "target.bak" not in others
              else " (old)" if same("target.bak", "old.bin") else " (NOT the old)")
    return "target.bin holds the %s file; besides the inputs: %s%s" % (
        target, ", ".join(others) or "nothing", backup)

def io(pid):
    with open("/proc/%d/io" % pid) as f:
        values = dict(line.split(": ") for line in f.read().splitlines())
    return int(values["read_bytes"]) >> 20, int(values["write_bytes"]) >> 20

def shown(bar, trough):
    """The share of the bar drawn in another colour than its empty trough, along its middle row."""
    data = bar.get_image(8, 117, 379, 1, X.ZPixmap, 0xFFFFFFFF).data
    pixels = [data[i:i + 3] for i in range(0, len(data), 4)]
    return sum(pixel != trough for pixel in pixels) / len(pixels)

def pixel(bar, x):
    return bar.get_image(x, 117, 1, 1, X.ZPixmap, 0xFFFFFFFF).data[:3]

def start():
    """A run from the click on Ok, its window, and the colour of its empty bar once that is up."""
    fresh()
    vopra = e2e.Vopra()
    vopra.fill("apply", path("old.qpt"), path("target.bin"))
    time.sleep(0.5)
    bar = screen.create_resource_object("window", vopra.window)
    background = pixel(bar, 380)
    vopra.press_ok()
    clicked = time.monotonic()
    trough = e2e.wait_for(lambda: pixel(bar, 380) != background and pixel(bar, 380), "the progress bar")
    return vopra, clicked, bar, trough

screen = display.Display()
vopra, clicked, _, _ = start()
box = vopra.wait_box(900)
length = time.monotonic() - clicked
vopra.answer(box)
vopra.finish()
print("whole run to its box: %.2f s; %s" % (length, files()), flush=True)

for share in (0.10, 0.50, 0.95):
    vopra, clicked, bar, trough = start()
    while shown(bar, trough) < share:
        time.sleep(0.002)
    read, written = io(vopra.pid)
    asked = time.monotonic()
    ended = []
    waiter = threading.Thread(target=lambda: (vopra.process.wait(), ended.append(time.monotonic())))
    waiter.start()
    vopra.close_request()
    boxes, gone, turn = False, None, 0
    while waiter.is_alive():
        try:
            if gone is None and bar.get_attributes().map_state != X.IsViewable:
                gone = time.monotonic()
        except Exception:  # the window no longer exists
            gone = gone or time.monotonic()
        turn += 1
        if turn % 10 == 0:
            boxes = boxes or any(w != vopra.window for w in e2e.visible_windows(vopra.pid))
        time.sleep(0.002)
    ended = ended[0]
    gone = min(gone or ended, ended)
    print("closed at %2.0f %% (%5.2f s; %4d MiB read, %4d MiB written): window gone %4.0f ms and program"
          " ended %4.0f ms later, status %d, %s; %s" % (
        share * 100, asked - clicked, read, written, (gone - asked) * 1000, (ended - asked) * 1000,
        vopra.process.returncode, "a box showed" if boxes else "no box", files()), flush=True)
PY
