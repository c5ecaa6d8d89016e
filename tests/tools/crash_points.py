#!/usr/bin/env python3
"""Kills and fails the real qpt binary at every file-system call of each way it writes a file.

A clean run of each write is traced to count its calls; then, for every one of those calls, the run
is repeated with strace killing the process on entering it (SIGKILL: what a crash or a power cut
looks like to the folder) and with the call failing (EIO, and ENOSPC where a disk can fill). After
each run the folder is compared byte for byte with what the names promise:

- the target, OUTPUT or patch name holds its complete old content or its complete new content;
- the backup name holds only a complete original: the earlier backup or the target's old content;
- at most one other file is left (two in the fallback, between its renames), visibly temporary,
  and files the user already had are untouched;
- a run that reports failure leaves the folder exactly as it was, one that reports success
  exactly the success state;
- the same command run again ends with status 0 and the new content under the target (never undone),
  the original under the backup name, the user's files untouched and nothing left that was not.

With --fallback, a preload library takes unnamed files and exchanging renames away, as a file
system without them does. With --report, violations are counted and listed instead of failing.

Usage: crash_points.py QPT [--fallback LIBRARY] [--report]
"""

import concurrent.futures
import os
import re
import shutil
import subprocess
import sys
import tempfile

CALLS = ["open", "openat", "newfstatat", "flock", "fallocate", "truncate", "ftruncate", "pwrite64", "write",
         "copy_file_range", "ioctl", "sync_file_range", "msync", "fsync", "fdatasync", "chmod", "fchmod",
         "fchmodat", "fchown", "link", "linkat", "rename", "renameat", "renameat2", "unlink", "unlinkat"]
# Calls whose failure a full disk can cause.
SPACE_CALLS = {"fallocate", "ftruncate", "pwrite64", "write", "copy_file_range", "ioctl", "msync", "fsync",
               "linkat"}
TEMPORARY = re.compile(r"\.(tmp(\.\d+)?|part)$")


def content(size, seed):
    return bytes((i * seed + i // 251) & 0xFF for i in range(size))


OLD = content(200_000, 31)
NEW = bytearray(OLD)
NEW[5] ^= 1
NEW[150_000:150_004] = b"QPT!"
NEW = bytes(NEW) + b"grown"


def scenarios(patch):
    """(name, files before, arguments, names that must hold old or new, backup name or None)."""
    return [
        ("in place", {"game.bin": OLD, "game.qpt": patch}, ["apply", "game.qpt", "game.bin"],
         ["game.bin"], "game.bak"),
        ("in place over an earlier backup, beside the user's own .tmp",
         {"game.bin": OLD, "game.qpt": patch, "game.bak": b"earlier backup", "game.tmp": b"mine"},
         ["apply", "game.qpt", "game.bin"], ["game.bin"], "game.bak"),
        ("to OUTPUT", {"game.bin": OLD, "game.qpt": patch, "out.bin": b"earlier output"},
         ["apply", "game.qpt", "game.bin", "out.bin"], ["out.bin"], None),
        ("create over a PATCH", {"old.bin": OLD, "new.bin": NEW, "my.qpt": b"earlier patch"},
         ["create", "old.bin", "new.bin", "my.qpt"], ["my.qpt"], None),
        ("create with the default PATCH", {"old.bin": OLD, "new.bin": NEW},
         ["create", "old.bin", "new.bin"], ["old.qpt"], None),
    ]


def lay_out(folder, files):
    os.makedirs(folder)
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def state(folder):
    """The folder's names with their contents; a link as "-> " and where it points."""
    result = {}
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if os.path.islink(path):
            result[name] = "-> " + os.readlink(path)
        else:
            with open(path, "rb") as f:
                result[name] = f.read()
    return result


def make_patch(qpt, folder, old, new):
    """The patch from old to new, as qpt makes it in a folder of its own."""
    lay_out(folder, {"old.bin": old, "new.bin": new})
    subprocess.run([qpt, "create", "old.bin", "new.bin", "p.qpt"], cwd=folder, check=True,
                   stderr=subprocess.DEVNULL)
    with open(os.path.join(folder, "p.qpt"), "rb") as f:
        return f.read()


def run(qpt, folder, arguments, inject=None, trace=None, preload=None, traced=True):
    command = ["strace", "-f", "-qq", "-e", "trace=" + ",".join(CALLS), "-o", trace or "/dev/null"]
    command = command if traced else []
    if inject:
        command += ["-e", "inject=" + inject]
    env = dict(os.environ)
    if preload:
        env["LD_PRELOAD"] = preload
    done = subprocess.run(command + [qpt] + arguments, cwd=folder, env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return done.returncode, done.stderr.decode(errors="replace")


def injection_points(trace_file, folder_names):
    """Every (call, occurrence) from the run's first use of one of its own files on."""
    counts, points, started = {}, [], False
    with open(trace_file) as f:
        for line in f:
            match = re.match(r"\d+\s+(\w+)\(", line)
            if not match or match.group(1) not in CALLS:
                continue
            call = match.group(1)
            counts[call] = counts.get(call, 0) + 1
            if not started and any('"%s"' % name in line for name in folder_names):
                started = True
            if started:
                points.append((call, counts[call]))
    return points


def flush_order(trace_file):
    """What a clean run's trace breaks of the order of flushes: the new file's data and attributes on
    disk before any rename, and the folder flushed after each rename, before the next one or the end."""
    folders, found, dirty, unflushed = set(), [], False, None
    with open(trace_file) as f:
        for line in f:
            match = re.match(r"\d+\s+(\w+)\((\w*)", line)
            if not match:
                continue
            call, first = match.groups()
            if call in ("open", "openat") and "O_DIRECTORY" in line and re.search(r"= (\d+)$", line.strip()):
                folders.add(re.search(r"= (\d+)$", line.strip()).group(1))
            elif call in ("pwrite64", "write", "msync", "fchmod", "fchown", "ftruncate", "fallocate"):
                dirty = dirty or call != "write" or first not in ("1", "2")
            elif call in ("fsync", "fdatasync"):
                if first in folders:
                    unflushed = None
                else:
                    dirty = False
            elif call in ("rename", "renameat", "renameat2") and "= 0" in line:
                if dirty:
                    found.append("renamed before the file was on disk: " + line.strip())
                if unflushed:
                    found.append("renamed again before the folder was flushed: " + unflushed)
                unflushed = line.strip()
    if unflushed:
        found.append("the folder was not flushed after " + unflushed)
    return found


def violations(before, after, success, status, trusted, backup, temporaries):
    """What the folder after a run breaks of the promises, as a list of texts."""
    found = []
    own = set(before) | set(success)
    extra = sorted(set(after) - own)
    for name in trusted:
        if after.get(name) in (before.get(name), success.get(name)):
            continue
        found.append("%s holds %s" % (name, "nothing" if name not in after else
                                      "%d bytes of neither content" % len(after[name])))
    if backup and after.get(backup) not in (before.get(backup), before[trusted[0]]):
        found.append("%s holds something other than an original" % backup)
    for name, data in before.items():
        if name not in trusted and name != backup and after.get(name) != data:
            found.append("the user's %s was changed" % name)
    if len(extra) > temporaries or any(not TEMPORARY.search(e) for e in extra):
        found.append("left behind: %s" % ", ".join(extra))
    if status == 0 and after != success:
        found.append("reported success without the success state")
    if status > 0 and after != before:
        found.append("reported failure with the folder changed")
    return found


def rerun_violations(before, left, after, success, status, trusted, backup):
    """What the same command run again on what a run left breaks of the promises."""
    found = [] if status == 0 else ["the rerun failed"]
    found += ["the rerun left %s %s" % (name, "undone" if after.get(name) == before.get(name) else "wrong")
              for name in trusted if after.get(name) != success.get(name)]
    if backup and after.get(backup) != before[trusted[0]]:
        found.append("the rerun left no original under %s" % backup)
    found += ["the rerun changed the user's %s" % name for name, data in before.items()
              if name not in trusted and name != backup and after.get(name) != data]
    if set(after) - set(success) - set(left):
        found.append("the rerun left behind: %s" % ", ".join(sorted(set(after) - set(success) - set(left))))
    return found


def main():
    arguments = sys.argv[1:]
    report = "--report" in arguments
    preload = None
    if "--fallback" in arguments:
        preload = os.path.abspath(arguments[arguments.index("--fallback") + 1])
    qpt = os.path.abspath(arguments[0])
    temporaries = 2 if preload else 1
    base = tempfile.mkdtemp(prefix="crash_points_")
    try:
        patch = make_patch(qpt, os.path.join(base, "template"), OLD, NEW)

        jobs, serial = [], 0
        for name, files, argv, trusted, backup in scenarios(patch):
            clean = os.path.join(base, "clean%d" % len(jobs))
            lay_out(clean, files)
            trace = clean + ".trace"
            status, err = run(qpt, clean, argv, trace=trace, preload=preload)
            if status != 0:
                sys.exit("%s: the clean run failed: %s" % (name, err))
            success = state(clean)
            failures_in_order = flush_order(trace)
            if failures_in_order:
                sys.exit("%s: %s" % (name, "; ".join(failures_in_order)))
            for call, n in injection_points(trace, list(files) + trusted):
                kinds = ["signal=SIGKILL", "error=EIO"] + (["error=ENOSPC"] if call in SPACE_CALLS else [])
                for kind in kinds:
                    serial += 1
                    jobs.append((name, files, argv, trusted, backup, success,
                                 "%s:%s:when=%d" % (call, kind, n), os.path.join(base, "run%d" % serial)))

        def one(job):
            name, files, argv, trusted, backup, success, inject, folder = job
            lay_out(folder, files)
            status, err = run(qpt, folder, argv, inject=inject, preload=preload)
            left = state(folder)
            found = violations(files, left, success, status, trusted, backup, temporaries)
            again = run(qpt, folder, argv, preload=preload, traced=False)[0]
            found += rerun_violations(files, left, state(folder), success, again, trusted, backup)
            shutil.rmtree(folder)
            return name, inject, status, err.strip(), found

        by_write = {}
        failures = []
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            for name, inject, status, err, found in pool.map(one, jobs):
                runs, bad = by_write.get(name, (0, 0))
                by_write[name] = (runs + 1, bad + (1 if found else 0))
                if found:
                    failures.append("%s, %s (status %d, %r): %s"
                                    % (name, inject, status, err, "; ".join(found)))
        for name, (runs, bad) in by_write.items():
            print("%-60s %4d runs, %3d violating" % (name, runs, bad))
        for failure in failures:
            print("VIOLATION " + failure)
        if failures and not report:
            sys.exit(1)
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    main()
