#!/usr/bin/python3
"""Starts the real vopra binary on the display in $DISPLAY and drives it only from outside, with real
input (xdotool, XTest) and a window manager's close request (python3-xlib), as a user on a desktop would.

    e2e.py VOPRA QPT DRAG [CASE ...]           runs every case, or those named (exits non-zero when
                                               any failed)
    e2e.py VOPRA QPT DRAG --screenshot F       saves a picture of the main window, paths typed in, as PNG F
    e2e.py VOPRA QPT DRAG --drop-screenshot F  the same after two files were dropped on the window
    e2e.py VOPRA QPT DRAG --box-screenshot F MODE FIRST SECOND
                                               the message box a run ends in (MODE apply or create)

DRAG is the tests' drag source (tests/tamber/drag_source.cpp), a second X client offering files as a
file manager does.
"""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

from Xlib import X, display, protocol

VOPRA, QPT, DRAG = "vopra", "qpt", "drag_source"  # the binaries, set from the command line
TITLE = "vopra v04"


def xdotool(*args):
    return subprocess.run(["xdotool", *map(str, args)], check=True, capture_output=True, text=True).stdout


def wait_for(condition, what, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def visible_windows(pid):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                           capture_output=True, text=True).stdout.split()
    return [int(w) for w in found]


def geometry(window):
    values = dict(line.split("=") for line in xdotool("getwindowgeometry", "--shell", window).split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


class Vopra:
    """One run of the program and its main window."""

    def __init__(self, *arguments, wrapper=(), env=None):
        self.process = subprocess.Popen([*wrapper, VOPRA, *arguments], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env)
        self.window = wait_for(lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                                       "^%s$" % TITLE],
                                                      capture_output=True, text=True).stdout.split(),
                               "the main window", 60)
        assert len(self.window) == 1, "more than one main window"
        self.window = int(self.window[0])
        self.pid = int(xdotool("getwindowpid", self.window))
        self.x, self.y, self.width, self.height = geometry(self.window)
        # The layout's pixels at 96 dots per inch, scaled to the screen's (with-xvfb.sh --dpi).
        self.scale = float(subprocess.run(["xrdb", "-get", "Xft.dpi"], capture_output=True).stdout or 96) / 96
        assert (self.width, self.height) == (self.scaled(480), self.scaled(135)), (self.width, self.height)
        time.sleep(0.2)  # let it draw before the first input

    def scaled(self, pixels):
        return int(pixels * self.scale + 0.5)

    def click(self, x, y):
        # Positions are those of the form: the window has no visible menu bar.
        xdotool("mousemove", "--sync", self.x + self.scaled(x), self.y + self.scaled(y), "click", 1)

    def type_path(self, box_y, text):
        self.click(240, box_y + 12)
        xdotool("key", "ctrl+a", "BackSpace")
        xdotool("type", "--delay", 2, text)

    def fill(self, mode, first, second):
        self.click(100, 32 if mode == "create" else 12)
        self.type_path(45, first)
        self.type_path(75, second)

    def drop(self, x, y, paths):
        """Drags the files from another program onto the form's point with the real pointer: pressed on
        the drag source, moved in steps, released."""
        uris = ["file://" + urllib.parse.quote(path) for path in paths]
        source = subprocess.Popen([DRAG, "900", "700", "files", *uris], stdout=subprocess.PIPE, text=True)
        try:
            assert source.stdout.readline() == "ready\n", "the drag source did not show up"
            start, to = (940, 730), (self.x + x, self.y + y)
            xdotool("mousemove", "--sync", *start, "mousedown", 1)
            for step in range(1, 13):
                xdotool("mousemove", "--sync", start[0] + (to[0] - start[0]) * step // 12,
                        start[1] + (to[1] - start[1]) * step // 12)
                time.sleep(0.03)
            # Positions over the window for it to answer before the release.
            xdotool("mousemove", "--sync", to[0] + 1, to[1])
            time.sleep(0.2)
            xdotool("mousemove", "--sync", *to)
            time.sleep(0.2)
            xdotool("mouseup", 1)
            assert source.stdout.readline() == "end\n", "the drag did not end"
        finally:
            source.kill()
            source.wait()
        time.sleep(0.2)

    def press_ok(self):
        self.click(435, 117)

    def wait_box(self, seconds=30):
        """The message box that reports the outcome, once it is on screen."""
        # After a drop GTK keeps a mapped 1x1 window of its own off screen for the drop's data.
        return wait_for(lambda: next((w for w in visible_windows(self.pid)
                                      if w != self.window and geometry(w)[2] > 1), None),
                        "the message box", seconds)

    def answer(self, box):
        """Answers a message box with Return, the pointer over it, as a user does."""
        x, y, width, height = geometry(box)
        xdotool("mousemove", "--sync", x + width // 2, y + height // 2)
        time.sleep(0.1)
        xdotool("key", "Return")

    def ok_and_answer(self):
        self.press_ok()
        self.answer(self.wait_box())

    def close_request(self):
        """WM_DELETE_WINDOW, as a window manager sends when the user closes the window."""
        d = display.Display()
        window = d.create_resource_object("window", self.window)
        protocols, delete = d.intern_atom("WM_PROTOCOLS"), d.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(event)
        # A round trip, not only a flush: a request written just before the connection is dropped can
        # be lost with it on a loaded machine, and the program would never hear the close request.
        d.sync()
        d.close()

    def finish(self):
        try:
            code = self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise AssertionError("vopra did not end after its one operation")
        assert code == 0, "exit status %d: %s" % (code, self.process.stderr.read().decode())


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def listing(folder):
    return sorted(os.listdir(folder))


def qpt_create(folder, patch):
    subprocess.run([QPT, "create", folder + "/game.sfc", folder + "/game-v2.sfc", folder + "/" + patch],
                   check=True, capture_output=True)
    return read(folder + "/" + patch)


def game_files(folder, patch=False, stranger=False):
    """The old and the new version of a game (game.sfc, game-v2.sfc), with patch the tool's patch
    between them (game.qpt), with stranger a file it was not made for (other.sfc); answers the old and
    the new bytes and every file's bytes."""
    old = bytes((i * 7) & 0xFF for i in range(300000))
    new = bytearray(old)
    for i in range(0, len(new), 1000):
        new[i] ^= 0xA5
    new = bytes(new) + b"tail"
    write(folder + "/game.sfc", old)
    os.chmod(folder + "/game.sfc", 0o751)
    write(folder + "/game-v2.sfc", new)
    if patch:
        qpt_create(folder, "game.qpt")
    if stranger:
        write(folder + "/other.sfc", b"not the file the patch was made for")
    return old, new, {name: read(folder + "/" + name) for name in listing(folder)}


def assert_unchanged(folder, before):
    after = {name: read(folder + "/" + name) for name in listing(folder)}
    assert before == after, [name for name in set(before) | set(after) if before.get(name) != after.get(name)]


CASES = []  # each runs in a fresh folder of its own, so one failure hides no other
case = CASES.append


@case
def create(folder):
    # The patch is named after the source and lies beside it. The arguments, GTK options among them,
    # are ignored: with --display taken, the window would not open on this display.
    game_files(folder)
    vopra = Vopra("--display", ":99", "--sync", "extra")
    vopra.fill("create", folder + "/game.sfc", folder + "/game-v2.sfc")
    vopra.ok_and_answer()
    vopra.finish()
    assert listing(folder) == ["game-v2.sfc", "game.qpt", "game.sfc"], listing(folder)
    assert read(folder + "/game.qpt") == qpt_create(folder, "check.qpt"), (
        "the patch differs from the engine's own")


@case
def dropped_files(folder):
    # Dragged from a file manager onto the window in create mode, the two files become source and
    # target in their order: the run makes the tool's patch, under the source's name.
    game_files(folder)
    patch = qpt_create(folder, "check.qpt")
    os.unlink(folder + "/check.qpt")
    vopra = Vopra()
    vopra.click(100, 32)
    vopra.drop(40, 12, [folder + "/game.sfc", folder + "/game-v2.sfc"])
    vopra.ok_and_answer()
    vopra.finish()
    assert listing(folder) == ["game-v2.sfc", "game.qpt", "game.sfc"], listing(folder)
    assert read(folder + "/game.qpt") == patch, "the dropped files did not fill source and target"


@case
def apply(folder):
    # Apply in place: the target is patched, the old content kept as game.bak. Traced, to see that
    # the output, with the target's permission bits, is on disk before the renames and the folder
    # after them.
    old, new, _ = game_files(folder, patch=True)
    trace = folder + ".trace"
    vopra = Vopra(wrapper=["strace", "-f", "-o", trace, "-e",
                           "trace=msync,sync_file_range,fsync,fchmod,chmod,fchmodat,linkat,rename,renameat,"
                           "renameat2"])
    vopra.fill("apply", folder + "/game.qpt", folder + "/game.sfc")
    vopra.ok_and_answer()
    vopra.finish()
    assert read(folder + "/game.sfc") == new and read(folder + "/game.bak") == old
    assert listing(folder) == ["game-v2.sfc", "game.bak", "game.qpt", "game.sfc"], listing(folder)
    with open(trace) as f:
        lines = [line.split(None, 1)[1] for line in f if "(" in line and "resumed" not in line]
    # GTK may set the bits of files of its own; only calls on the test's folder or on descriptors count.
    calls = [line.split("(")[0] for line in lines
             if line.startswith(("msync(", "sync_file_range(", "fsync(", "fchmod(", "rename"))
             or folder in line or "/proc/self/fd/" in line]
    os.unlink(trace)
    # Written and on disk with its bits while still unnamed; then named, exchanged with the target in
    # one step, the old target renamed to the backup, the folder flushed after each rename.
    named = calls.index("linkat")
    assert calls[named:named + 5] == ["linkat", "renameat2", "fsync", "renameat", "fsync"], calls
    before = calls[:named]
    # The data goes to disk as it is written (writeback of the copy's chunks, or the map's flush).
    flush = "msync" if "msync" in before else "sync_file_range"
    assert flush in before and "fchmod" in before and "fsync" in before[before.index("fchmod"):], calls
    assert before.index(flush) < before.index("fchmod"), calls
    assert not any(call in ("chmod", "fchmodat") for call in calls), calls
    assert os.stat(folder + "/game.sfc").st_mode & 0o777 == 0o751, oct(os.stat(folder + "/game.sfc").st_mode)


@case
def runs_that_change_nothing(folder):
    # A patch the file was not made for: the warning, then the end. A create past a file size limit: it
    # fails as on a full disk, no signal kills the program, no partial patch stays behind and the
    # earlier patch is kept. The window closed before Ok: status 0. Every file stays as it was.
    for wrapper, mode, first, second, closed in (([], "apply", "game.qpt", "other.sfc", False),
                                                 (["prlimit", "--fsize=64", "--"], "create", "other.sfc",
                                                  "game-v2.sfc", False),
                                                 ([], "apply", "game.qpt", "game-v2.sfc", True)):
        before = game_files(folder, patch=True, stranger=True)[2]
        vopra = Vopra(wrapper=wrapper)
        vopra.fill(mode, folder + "/" + first, folder + "/" + second)
        vopra.close_request() if closed else vopra.ok_and_answer()
        vopra.finish()
        assert_unchanged(folder, before)


@case
def closed_while_running(folder):
    # Closed while the run is held in a call (x86-64 numbers): in the output's writeback, before any
    # name has changed, the run is dropped and the program ends at once; in the exchange of the names,
    # the swap completes. Status 0 either way, and no box (the program would wait for it).
    for call, number in (("sync_file_range", 277), ("renameat2", 316)):
        old, new, before = game_files(folder, patch=True)
        hold = "inject=%s:delay_enter=2000000:when=1" % call
        vopra = Vopra(wrapper=["strace", "-qq", "-o", "/dev/null", "-e", hold])
        vopra.fill("apply", folder + "/game.qpt", folder + "/game.sfc")
        vopra.press_ok()
        wait_for(lambda: read("/proc/%d/syscall" % vopra.pid).startswith(b"%d " % number), call)
        vopra.close_request()
        vopra.finish()
        if call == "renameat2":
            assert (read(folder + "/game.sfc"), read(folder + "/game.bak")) == (new, old)
        else:
            assert_unchanged(folder, before)

    # SIGTERM while the patch is put on disk: the program ends as the signal says, and no part of a
    # patch stays behind.
    before = game_files(folder, patch=True, stranger=True)[2]
    vopra = Vopra(wrapper=["strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=fsync",
                           "-e", "inject=fsync:signal=SIGTERM:when=1"])
    vopra.fill("create", folder + "/other.sfc", folder + "/game-v2.sfc")
    vopra.press_ok()
    code = vopra.process.wait(60)
    assert code == -signal.SIGTERM, "exit status %d" % code
    assert_unchanged(folder, before)


@case
def no_display(folder):
    # Without a display the program says so in one line and fails, without a window.
    run = subprocess.run([VOPRA], env={k: v for k, v in os.environ.items() if k != "DISPLAY"},
                         capture_output=True, text=True, timeout=15)
    assert run.returncode != 0 and "cannot open the X display" in run.stderr, run


@case
def window_class_and_icon(folder):
    # A taskbar ties the window to vopra's menu entry by its class and shows the theme's vopra icon;
    # where the theme has none the window has none, and nothing is said about it.
    os.makedirs(folder + "/icons/hicolor/48x48/apps")
    subprocess.run(["convert", "-size", "48x48", "xc:#3070b0",
                    folder + "/icons/hicolor/48x48/apps/vopra.png"], check=True)
    for data_home, icon in (("/nonexistent", False), (folder, True)):
        vopra = Vopra(env=dict(os.environ, XDG_DATA_HOME=data_home))
        d = display.Display()
        window = d.create_resource_object("window", vopra.window)
        icons = window.get_full_property(d.intern_atom("_NET_WM_ICON"), X.AnyPropertyType)
        assert window.get_wm_class() == ("vopra", "vopra"), window.get_wm_class()
        assert (icons is not None and icons.value[0] > 0 and icons.value[1] > 0) == icon, (data_home, icons)
        d.close()
        vopra.close_request()
        vopra.finish()
        assert vopra.process.stderr.read() == b""


def accessibles(node):
    """The node and every accessible below it, depth first."""
    return [node] + [below for i in range(node.get_child_count())
                     for below in accessibles(node.get_child_at_index(i))]


def related(node, kind):
    """The names of the accessibles the node stands in the relation to."""
    return sorted(relation.get_target(i).get_name() for relation in node.get_relation_set()
                  if relation.get_relation_type().value_nick == kind for i in range(relation.get_n_targets()))


@case
def assistive_technologies_read_the_window(folder):
    # A screen reader on the accessibility bus names the application and each path box by its caption,
    # hears the two modes as one group, and reads the bar's value: full once a run succeeded.
    game_files(folder, patch=True)
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
    # Every query waits at most this long, so a program busy sending events cannot hang the suite.
    Atspi.set_timeout(5000, 15000)
    vopra = Vopra(env=dict(os.environ, GTK_MODULES="gail:atk-bridge"))
    desktop = Atspi.get_desktop(0)
    app = wait_for(lambda: next((app for app in map(desktop.get_child_at_index,
                                                    range(desktop.get_child_count()))
                                 if app.get_process_id() == vopra.pid), None),
                   "vopra on the accessibility bus", 30)
    assert app.get_name() == "vopra", app.get_name()
    by_role = lambda role: [node for node in accessibles(app) if node.get_role_name() == role]
    assert [related(text, "labelled-by") for text in by_role("text")] == [["Source file:"], ["Target file:"]]
    assert [label.get_name() for label in by_role("label") if related(label, "label-for")] == \
        ["Source file:", "Target file:"]
    modes = ["Apply an existing source QPT patch to target file",
             "Create a new QPT patch from source and target files"]
    assert [related(radio, "member-of") for radio in by_role("radio button")] == [modes, modes]
    vopra.fill("apply", folder + "/game.qpt", folder + "/game.sfc")
    vopra.press_ok()
    box = vopra.wait_box()
    time.sleep(0.3)
    bar = by_role("progress bar")[0]
    assert (Atspi.Value.get_current_value(bar), Atspi.Value.get_maximum_value(bar)) == (100, 100)
    vopra.answer(box)
    vopra.finish()


def suite(names):
    """Runs every case, or those named, each in a fresh folder; answers whether all passed."""
    failed = []
    for function in (f for f in CASES if not names or f.__name__ in names):
        folder = tempfile.mkdtemp(prefix="vopra-e2e-")
        try:
            function(folder)
            print("ok: " + function.__name__, flush=True)
        except Exception as error:
            failed.append(function.__name__)
            print("FAILED: %s: %s: %s" % (function.__name__, type(error).__name__, error), flush=True)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    return not failed


def screenshot(path, how, *paths):
    """The main window with two paths typed in or dropped on it, or the box a run on two paths ends in."""
    vopra = Vopra()
    if how == "--drop-screenshot":
        vopra.drop(40, 12, ["/home/user/roms/game.sfc", "/home/user/roms/game-fix.qpt"])
    else:
        vopra.fill(*(paths or ("apply", "/home/user/roms/game-fix.qpt", "/home/user/roms/game.sfc")))
    shown = vopra.window
    if how == "--box-screenshot":
        vopra.press_ok()
        shown = vopra.wait_box()
    x, y, width, height = geometry(shown)
    xdotool("mousemove", x + width + 50, y + height + 50)
    time.sleep(0.5)
    subprocess.run(["import", "-window", str(shown), path], check=True)
    if shown == vopra.window:
        vopra.close_request()
    else:
        vopra.answer(shown)
    vopra.finish()


if __name__ == "__main__":
    VOPRA, QPT, DRAG = sys.argv[1], sys.argv[2], sys.argv[3]
    # Helpers that GTK and the accessibility bus start on demand are reaped here, not left as zombies.
    ctypes.CDLL(None).prctl(36, 1)  # PR_SET_CHILD_SUBREAPER
    if len(sys.argv) > 5 and sys.argv[4] in ("--screenshot", "--drop-screenshot", "--box-screenshot"):
        screenshot(sys.argv[5], sys.argv[4], *sys.argv[6:9])
    else:
        sys.exit(0 if suite(sys.argv[4:]) else 1)
