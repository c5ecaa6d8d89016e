#!/usr/bin/env python3
"""What other programs, signals, users and names do to a run of the real qpt, one table row each.

Each row lays out a folder, runs qpt (under strace where a moment must be chosen: a signal sent, a
call failed, or the run stopped while the test acts as another program), and then compares the
exit, the line on stderr and every file byte for byte with what the row expects.

Usage: hazards.py QPT PLAIN_RENAMES_LIBRARY
"""

import fcntl
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crash_points import NEW, OLD, lay_out, make_patch, state  # noqa: E402

NOBODY = 65534
BASE = tempfile.mkdtemp(prefix="hazards_")
# Copies another user can run even where the build is not theirs to reach (a tree under /root).
os.mkdir(os.path.join(BASE, "bin"), 0o755)
QPT, PLAIN = (shutil.copy2(path, os.path.join(BASE, "bin")) for path in sys.argv[1:3])
PATCH = make_patch(QPT, os.path.join(BASE, "template"), OLD, NEW)
GAME = {"game.bin": OLD, "game.qpt": PATCH}
DONE = {"game.bin": NEW, "game.qpt": PATCH, "game.bak": OLD}
DONE_LINE = "qpt: Patching was successful!\nBackup file name: game.bak\n"


def stopped_run(trace):
    """The pid of the traced run once strace has seen it stop, from strace's own report."""
    for _ in range(1000):
        if os.path.exists(trace):
            with open(trace) as f:
                for line in f:
                    if "stopped by SIGSTOP" in line:
                        return int(line.split()[0])
        time.sleep(0.01)
    raise RuntimeError("the traced run did not stop")


def run(folder, arguments, inject=(), user=None, umask=None, preload=False, meanwhile=None, stop_at=None):
    """Runs qpt in folder; stop_at stops it on entering that call while meanwhile(folder) acts."""
    trace = os.path.join(os.path.dirname(folder), os.path.basename(folder) + ".trace")
    command = ["strace", "-f", "-qq", "-o", trace] if inject or stop_at else []
    for spec in inject:
        command += ["-e", "inject=" + spec]
    if stop_at:
        command += ["-e", "trace=" + stop_at, "-e", "inject=%s:signal=SIGSTOP:when=1" % stop_at]
    env = dict(os.environ)
    if preload:
        env["LD_PRELOAD"] = PLAIN

    def as_user():
        if umask is not None:
            os.umask(umask)
        if user is not None:
            os.setgid(user)
            os.setuid(user)

    process = subprocess.Popen(command + [QPT] + arguments, cwd=folder, env=env, stderr=subprocess.PIPE,
                               preexec_fn=as_user)
    if stop_at:
        pid = stopped_run(trace)
        meanwhile(folder)
        os.kill(pid, signal.SIGCONT)
    err = process.communicate()[1].decode()
    return process.returncode, err


def own(folder, user):
    os.chown(folder, user, user)
    for name in os.listdir(folder):
        os.chown(os.path.join(folder, name), user, user)


def hold_lock(folder, action):
    """Runs action while another holder has the target locked, as a second run does."""
    with open(os.path.join(folder, "game.bin"), "rb") as f:
        fcntl.flock(f, fcntl.LOCK_EX)
        return action()


LONG = "a" * 251  # with ".bin", ".bak" and ".tmp": names of 255 bytes, the limit


def truncate_patch(folder):
    os.truncate(os.path.join(folder, "game.qpt"), 0)


def plant_link(folder):
    os.symlink("victim", os.path.join(folder, "game.tmp"))


OTHER = OLD[::-1]  # another program's bytes, of the original's size
CHANGED = {"game.bin": OTHER, "game.qpt": PATCH}


def backdate(folder):
    os.utime(os.path.join(folder, "game.bin"), (946684800, 946684800))


def rewrite_input(folder):
    with open(os.path.join(folder, "game.bin"), "r+b") as f:
        f.write(OTHER)


def save_over_target(folder):
    """Another program saves a new file under the target's name, as an editor does."""
    lay_out(os.path.join(folder, "saved"), {"game.bin": OTHER})
    os.rename(os.path.join(folder, "saved", "game.bin"), os.path.join(folder, "game.bin"))
    os.rmdir(os.path.join(folder, "saved"))


# A file capability (cap_net_raw, effective and permitted): an attribute only a privilege may set.
CAPABILITY = bytes.fromhex("0100000200200000000000000000000000000000")


def carry(mode, owner=None, capability=False):
    """Gives game.bin what a cp -p must keep: an ACL entry, a user attribute, set-ID bits, an owner."""
    def prepare(folder):
        name = os.path.join(folder, "game.bin")
        if owner is not None:
            os.chown(name, owner, owner)
        if capability:
            os.setxattr(name, "security.capability", CAPABILITY)
        subprocess.run(["setfacl", "-m", "u:%d:rw" % NOBODY, name], check=True)
        os.setxattr(name, "user.origin", b"disk")
        os.chmod(name, mode)  # after the ACL, whose mask is the group's bits
    return prepare


def kept(**changed):
    """What game.bin (new) carries against game.bak (the original): the same, but for what changed names."""
    def verify(folder):
        new, old = os.path.join(folder, "game.bin"), os.path.join(folder, "game.bak")
        if not (os.path.exists(new) and os.path.exists(old)):
            return ["no file and backup to compare"]
        acl = [subprocess.run(["getfacl", "-cp", n], capture_output=True, text=True).stdout
               for n in (new, old)]
        seen = [(os.stat(n).st_mode, os.stat(n).st_uid, os.stat(n).st_gid,
                 os.getxattr(n, "user.origin") if "user.origin" in os.listxattr(n) else None)
                for n in (new, old)]
        want = tuple(changed.get(k, v) for k, v in zip(("mode", "uid", "gid", "origin"), seen[1]))
        return [] if seen[0] == want and acl[0] == acl[1] else ["kept %r %r, expected %r %r" % (
            seen[0], acl[0], want, acl[1])]
    return verify


# name, files, arguments, run options, expected status, stderr and files ("stat": one attribute of one)
ROWS = [
    ("a second run while the first holds the file", GAME, ["apply", "game.qpt", "game.bin"], {"lock": True},
     1, "qpt: Patching failed: 'game.bin' is being patched by another run\n", GAME),
    ("SIGINT while the output is written", GAME, ["apply", "game.qpt", "game.bin"],
     {"inject": ["msync,sync_file_range:signal=SIGINT"]}, -signal.SIGINT, "", GAME),
    # Once names change the run completes and reports it: a failure status never stands for a change made.
    ("SIGTERM during the exchange", GAME, ["apply", "game.qpt", "game.bin"],
     {"inject": ["renameat2:signal=SIGTERM"]}, 0, DONE_LINE, DONE),
    ("SIGTERM between the renames", GAME, ["apply", "game.qpt", "game.bin"],
     {"inject": ["renameat:signal=SIGTERM"]}, 0, DONE_LINE, DONE),
    ("SIGHUP between plain renames", GAME, ["apply", "game.qpt", "game.bin"],
     {"inject": ["renameat:signal=SIGHUP:when=2"], "preload": True}, 0, DONE_LINE, DONE),
    ("SIGINT while written under plain renames", GAME, ["apply", "game.qpt", "game.bin"],
     {"inject": ["fsync:signal=SIGINT:when=1"], "preload": True}, -signal.SIGINT, "", GAME),
    # A name is split at its last '/' alone: the decoys beside a backslash name are never touched.
    ("a backslash in the target's name",
     {"a\\b.bin": OLD, "b.bin": b"decoy", "b.bak": b"older", "game.qpt": PATCH},
     ["apply", "game.qpt", "a\\b.bin"], {}, 0, "qpt: Patching was successful!\nBackup file name: b.bak\n",
     {"a\\b.bin": NEW, "a\\b.bak": OLD, "b.bin": b"decoy", "b.bak": b"older", "game.qpt": PATCH}),
    ("a backslash in the source's name", {"x\\a.sfc": OLD, "new.bin": NEW, "a.qpt": b"unrelated"},
     ["create", "x\\a.sfc", "new.bin"], {}, 0, "",
     {"x\\a.sfc": OLD, "new.bin": NEW, "a.qpt": b"unrelated", "x\\a.qpt": PATCH}),
    ("a backslash in OUTPUT's name", {"a.sfc": OLD, "game.qpt": PATCH},
     ["apply", "game.qpt", "a.sfc", "z\\a.sfc"], {}, 0, "",
     {"a.sfc": OLD, "game.qpt": PATCH, "z\\a.sfc": NEW}),
    ("a name with a newline", GAME, ["apply", "game.qpt", "a\nqpt: Patching was successful!.sfc"], {}, 1,
     "qpt: Target file does not exist: cannot open 'a'$'\\n''qpt: Patching was successful!.sfc': "
     "No such file or directory\n", GAME),
    ("the patch truncated while info reads it", GAME, ["info", "game.qpt"],
     {"stop_at": "madvise", "meanwhile": truncate_patch}, 1, "qpt: 'game.qpt' changed while it was read\n",
     {"game.bin": OLD, "game.qpt": b""}),
    ("the patch truncated while applied to OUTPUT", GAME, ["apply", "game.qpt", "game.bin", "out.bin"],
     {"stop_at": "madvise", "meanwhile": truncate_patch}, 1, "qpt: 'game.qpt' changed while it was read\n",
     {"game.bin": OLD, "game.qpt": b""}),
    ("ACL, attribute, set-ID bits and a foreign owner kept", GAME, ["apply", "game.qpt", "game.bin"],
     {"prepare": carry(0o6754, owner=NOBODY)}, 0, DONE_LINE, dict(DONE, verify=kept())),
    ("a replaced OUTPUT of mode 0600", dict(GAME, **{"out.bin": b"old"}),
     ["apply", "game.qpt", "game.bin", "out.bin"],
     {"prepare": lambda folder: os.chmod(os.path.join(folder, "out.bin"), 0o600)}, 0, "",
     dict(GAME, **{"out.bin": NEW}, stat=("out.bin", "st_mode", 0o100600))),
    ("another user's file patched by an ordinary user", GAME, ["apply", "game.qpt", "game.bin"],
     {"user": NOBODY, "owner": 0, "prepare": carry(0o6666, capability=True)}, 0, DONE_LINE +
     "qpt: 'game.bin' could not keep all its extended attributes (Operation not permitted)\n"
     "qpt: 'game.bin' could not keep its owner (user 0, group 0): it now belongs to user 65534, group 65534, "
     "without its set-ID bits\n", dict(DONE, verify=kept(mode=0o100666, uid=NOBODY, gid=NOBODY))),
    ("SIGTERM while a patch is written", {"old.bin": OLD, "new.bin": NEW}, ["create", "old.bin", "new.bin"],
     {"inject": ["pwrite64:signal=SIGTERM:when=1"]}, -signal.SIGTERM, "", {"old.bin": OLD, "new.bin": NEW}),
    ("the backup rename and its undo fail", GAME, ["apply", "game.qpt", "game.bin"],
     {"inject": ["renameat:error=EIO", "renameat2:error=EIO:when=2+"]}, 1,
     "qpt: Patching failed: cannot rename the original to 'game.bak': Input/output error; "
     "the original is kept as 'game.tmp'\n", {"game.bin": NEW, "game.qpt": PATCH, "game.tmp": OLD}),
    ("the patch truncated by another program while mapped", GAME, ["apply", "game.qpt", "game.bin"],
     {"stop_at": "fallocate", "meanwhile": truncate_patch}, 1,
     "qpt: Patching failed: 'game.qpt' or 'game.bin' changed while it was read\n",
     {"game.bin": OLD, "game.qpt": b""}),
    # Another program between the match and the copy (the input rewritten, its size kept) or the swap (a
    # new file saved under the target's name): nothing is changed, and the run says why.
    ("the input rewritten before the copy, in place", GAME, ["apply", "game.qpt", "game.bin"],
     {"prepare": backdate, "stop_at": "copy_file_range", "meanwhile": rewrite_input}, 1,
     "qpt: Patching failed: 'game.qpt' or 'game.bin' changed while it was read\n", CHANGED),
    ("the input rewritten before the copy, to OUTPUT", GAME, ["apply", "game.qpt", "game.bin", "out.bin"],
     {"prepare": backdate, "stop_at": "copy_file_range", "meanwhile": rewrite_input}, 1,
     "qpt: 'game.qpt' or 'game.bin' changed while it was read; 'out.bin' not written\n", CHANGED),
    ("the target replaced before the exchange", GAME, ["apply", "game.qpt", "game.bin"],
     {"stop_at": "fsync", "meanwhile": save_over_target}, 1,
     "qpt: Patching failed: 'game.bin' was replaced by another program meanwhile\n", CHANGED),
    ("the target replaced before plain renames", GAME, ["apply", "game.qpt", "game.bin"],
     {"stop_at": "fsync", "meanwhile": save_over_target, "preload": True}, 1,
     "qpt: Patching failed: 'game.bin' was replaced by another program meanwhile\n", CHANGED),
    ("a link planted at the temporary name", GAME, ["apply", "game.qpt", "game.bin"],
     {"stop_at": "fsync", "meanwhile": plant_link}, 0, DONE_LINE, dict(DONE, **{"game.tmp": "-> victim"})),
    ("a target name of 255 bytes", {LONG + ".bin": OLD, "game.qpt": PATCH},
     ["apply", "game.qpt", LONG + ".bin"], {}, 0,
     "qpt: Patching was successful!\nBackup file name: %s.bak\n" % LONG,
     {LONG + ".bin": NEW, LONG + ".bak": OLD, "game.qpt": PATCH}),
    ("an OUTPUT name of 255 bytes", GAME, ["apply", "game.qpt", "game.bin", LONG + ".out"], {}, 0, "",
     dict(GAME, **{LONG + ".out": NEW})),
    ("an ordinary user with umask 0277", GAME, ["apply", "game.qpt", "game.bin"],
     {"user": NOBODY, "umask": 0o277}, 0, DONE_LINE, dict(DONE, stat=("game.bin", "st_mode", 0o100644))),
    ("root patching a user's file", GAME, ["apply", "game.qpt", "game.bin"], {"owner": NOBODY}, 0, DONE_LINE,
     dict(DONE, stat=("game.bin", "st_uid", NOBODY))),
    ("a write-protected backup", dict(GAME, **{"game.bak": b"kept"}), ["apply", "game.qpt", "game.bin"],
     {"user": NOBODY, "protect": "game.bak"}, 1,
     "qpt: Cannot open target file for writing: 'game.bak' is write-protected\n",
     dict(GAME, **{"game.bak": b"kept"})),
    ("an unreadable patch, in place", GAME, ["apply", "game.qpt", "game.bin"],
     {"user": NOBODY, "protect": "game.qpt", "mode": 0o200}, 1,
     "qpt: QPT patch does not exist: cannot open 'game.qpt': Permission denied\n", GAME),
    ("an unreadable patch, to OUTPUT", GAME, ["apply", "game.qpt", "game.bin", "out.bin"],
     {"user": NOBODY, "protect": "game.qpt", "mode": 0o200}, 1,
     "qpt: cannot open 'game.qpt': Permission denied\n", GAME),
    ("a write-protected patch", {"old.bin": OLD, "new.bin": NEW, "old.qpt": b"kept"},
     ["create", "old.bin", "new.bin"], {"user": NOBODY, "protect": "old.qpt"}, 1,
     "qpt: 'old.qpt' is write-protected; it is not replaced\n",
     {"old.bin": OLD, "new.bin": NEW, "old.qpt": b"kept"}),
]


def check(row, base):
    name, files, arguments, options, status, err, expected = row
    folder = os.path.join(base, str(ROWS.index(row)))
    lay_out(folder, files)
    if options.get("protect"):
        os.chmod(os.path.join(folder, options["protect"]), options.get("mode", 0o444))
    user = options.get("user")
    if user is not None or options.get("owner") is not None:
        if os.geteuid() != 0:
            return ["skipped: needs root to act as another user"]
        os.chmod(base, 0o755)
        own(folder, options["owner"] if options.get("owner") is not None else user)
        if user is not None:
            os.chmod(folder, 0o777)
    if options.get("prepare"):
        options["prepare"](folder)
    if options.get("lock"):
        got = hold_lock(folder, lambda: run(folder, arguments))
    else:
        got = run(folder, arguments, inject=options.get("inject", ()), user=user, umask=options.get("umask"),
                  preload=options.get("preload", False), meanwhile=options.get("meanwhile"),
                  stop_at=options.get("stop_at"))
    problems = []
    if got != (status, err):
        problems.append("ran as %r, expected %r" % (got, (status, err)))
    expected = dict(expected)
    attribute = expected.pop("stat", None)
    verify = expected.pop("verify", None)
    if verify:
        problems += verify(folder)
    if state(folder) != expected:
        problems.append("files %s, expected %s" % (
            {k: len(v) if isinstance(v, bytes) else v for k, v in state(folder).items()},
            {k: len(v) if isinstance(v, bytes) else v for k, v in expected.items()}))
    if attribute:
        name, field, value = attribute
        seen = getattr(os.stat(os.path.join(folder, name)), field)
        if seen != value:
            problems.append("%s has %s %o, expected %o" % (name, field, seen, value))
    return problems


def two_runs_at_once(base):
    """Two runs started together on one file: one wins; the other is refused or, coming after, changes
    nothing."""
    folder = os.path.join(base, "together")
    big = OLD * 320  # 64 MB: long enough for the runs to overlap
    patch = make_patch(QPT, folder + ".patch", big, big[:1000] + b"changed" + big[1007:])
    lay_out(folder, {"game.bin": big, "game.qpt": patch})
    runs = [subprocess.Popen([QPT, "apply", "game.qpt", "game.bin"], cwd=folder, stderr=subprocess.PIPE)
            for _ in range(2)]
    results = sorted((r.wait(), r.stderr.read().decode()) for r in runs)
    files = state(folder)
    if set(files) != {"game.bin", "game.bak", "game.qpt"} or files["game.bin"] == files["game.bak"]:
        return ["two runs left %s" % sorted(files)]
    if (results[1][0] != 0
            and results[1][1] != "qpt: Patching failed: 'game.bin' is being patched by another run\n"):
        return ["the second run said %r" % (results[1],)]
    return []


def main():
    base = BASE
    failed = False
    try:
        for row in ROWS:
            problems = check(row, base)
            print("%-55s %s" % (row[0], "; ".join(problems) or "ok"))
            # CI runs as root: a row it cannot run there is a failure, not a skip.
            failed |= any(not p.startswith("skipped") or os.environ.get("CI") == "true" for p in problems)
        problems = two_runs_at_once(base)
        print("%-55s %s" % ("two runs started together", "; ".join(problems) or "ok"))
        failed |= bool(problems)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
