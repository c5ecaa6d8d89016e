#!/usr/bin/env bash
# Creates and applies a patch between two 1 GiB files through vopra (the real binary on a private Xvfb,
# driven with xdotool) and through the qpt tool on the same files, page cache warm, and prints both.
# vopra is timed from the click on Ok until its message box is on screen; qpt as a whole process.
#
#   bench/vopra-1gib.sh [BUILD_DIR] [WORK_DIR]     (4 GiB free in WORK_DIR, default $TMPDIR or /tmp)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench-release}
# A folder of its own inside WORK_DIR, removed again: nothing else in WORK_DIR is touched.
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/vopra-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOPRA_TESTS=OFF \
  -DVOPRA_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j2 --target vopra qpt >/dev/null
vopra=$build/vopra/vopra qpt=$build/tools/qpt/qpt

. "$root/bench/gib-pair.sh"
make_gib_pair "$work"
# Each figure is the best of three runs, qpt and vopra in turn (the machine is shared), with its CPU time.
"$root/tools/with-xvfb.sh" /usr/bin/python3 - "$root/tests/e2e" "$vopra" "$qpt" "$work" <<'PY'
import os, shutil, subprocess, sys, time
sys.path.insert(0, sys.argv[1])
import e2e
e2e.VOPRA, qpt, work = sys.argv[2], sys.argv[3], sys.argv[4]
runs = 3

def warm():
    # Dirty pages of the previous run must not be written out during this one.
    os.sync()
    for name in os.listdir(work):
        with open(os.path.join(work, name), "rb") as f:
            while f.read(1 << 24):
                pass

def cpu_of(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

def tool(arguments, reset):
    """The qpt tool as a whole process: wall time and CPU time."""
    best = None
    for _ in range(1):
        reset()
        warm()
        started = time.monotonic()
        process = subprocess.Popen([qpt, *arguments], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.monotonic() - started
        assert status == 0, arguments
        if best is None or wall < best[0]:
            best = (wall, usage.ru_utime + usage.ru_stime)
    return best

def window(mode, first, second, reset):
    """vopra from the click on Ok until its message box is up; CPU time of the whole process to then."""
    best = None
    for _ in range(1):
        reset()
        warm()
        vopra = e2e.Vopra()
        vopra.fill(mode, first, second)
        cpu_before = cpu_of(vopra.pid)
        started = time.monotonic()
        vopra.press_ok()
        box = vopra.wait_box(600)
        wall = time.monotonic() - started
        cpu = cpu_of(vopra.pid) - cpu_before
        vopra.answer(box)
        vopra.finish()
        if best is None or wall < best[0]:
            best = (wall, cpu)
    return best

def compare(label, tool_label, tool_run, window_run):
    """Runs the two in turn, so that both meet the same state of a shared machine; best of each."""
    tools, windows = [], []
    for _ in range(runs):
        tools.append(tool_run())
        windows.append(window_run())
    best_tool, best_window = min(tools), min(windows)
    show(tool_label, best_tool)
    show(label, best_window, best_tool)

def show(label, figures, against=None):
    text = "%-44s %6.2f s wall  %6.2f s cpu" % (label, figures[0], figures[1])
    if against:
        text += "   (%+.0f%% wall against qpt)" % ((figures[0] / against[0] - 1) * 100)
    print(text, flush=True)

path = lambda name: os.path.join(work, name)
def remove(*names):
    for name in names:
        if os.path.exists(path(name)):
            os.unlink(path(name))

print("--- create: old.bin -> new.bin", flush=True)
# A new patch name: vopra puts the patch on disk before it names it (fsync); qpt does so only when it
# replaces a file. Replacing an earlier patch: both do.
def earlier_patch():
    with open(path("old.qpt"), "wb") as f:
        f.write(b"an earlier patch")
create = ["create", path("old.bin"), path("new.bin"), path("old.qpt")]
compare("vopra create, new name", "qpt create, new name", lambda: tool(create, lambda: remove("old.qpt")),
        lambda: window("create", path("old.bin"), path("new.bin"), lambda: remove("old.qpt")))
compare("vopra create, replacing a patch", "qpt create, replacing a patch",
        lambda: tool(create, earlier_patch),
        lambda: window("create", path("old.bin"), path("new.bin"), earlier_patch))
subprocess.run([qpt, "create", path("old.bin"), path("new.bin"), path("reference.qpt")], check=True)
assert open(path("old.qpt"), "rb").read() == open(path("reference.qpt"), "rb").read(), "the patches differ"
print("same patch from both; %d bytes" % os.path.getsize(path("old.qpt")))
remove("reference.qpt")

print("--- apply: old.qpt to old.bin", flush=True)
def fresh_target():
    remove("target.bak", "out.bin")
    if (not os.path.exists(path("target.bin"))
            or os.path.getsize(path("target.bin")) != os.path.getsize(path("old.bin"))
            or subprocess.run(["cmp", "-s", path("target.bin"), path("old.bin")]).returncode):
        shutil.copy(path("old.bin"), path("target.bin"))
outside = min(tool(["apply", path("old.qpt"), path("old.bin"), path("out.bin")], fresh_target)
              for _ in range(runs))
show("qpt apply old.qpt old.bin out.bin (no backup)", outside)
help_text = subprocess.run([qpt, "--help"], capture_output=True, text=True).stdout
assert "apply PATCH FILE" in help_text
compare("vopra apply (in place)", "qpt apply old.qpt target.bin (in place)",
        lambda: tool(["apply", path("old.qpt"), path("target.bin")], fresh_target),
        lambda: window("apply", path("old.qpt"), path("target.bin"), fresh_target))
assert subprocess.run(["cmp", path("target.bin"), path("new.bin")]).returncode == 0
assert subprocess.run(["cmp", path("target.bak"), path("old.bin")]).returncode == 0
print("patched file and backup right")
PY
