#include "vopra/replacement.h"
#include "vopra/files.h"
#include "vopra/quoting.h"

#include <acl/libacl.h>
#include <attr/libattr.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using rudd::string;

namespace vopra {

static int renameDefault(int folder, const char *from, const char *to, unsigned flags) {
    // A plain rename stays the plain call, which every file system has.
    return flags ? renameat2(folder, from, folder, to, flags) : renameat(folder, from, folder, to);
}
static int openUnnamedDefault(int folder, mode_t permissions) {
    return openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, permissions);
}
int (*renameFile)(int folder, const char *from, const char *to, unsigned flags) = renameDefault;
int (*openUnnamed)(int folder, mode_t permissions) = openUnnamedDefault;

// The errors of a file system that lacks a call, as against one that refused it.
static bool unsupported(int error) {
    return error == EOPNOTSUPP || error == EINVAL || error == ENOSYS || error == EISDIR;
}

// ---- interruption: the one temporary name of this process, removed when a signal ends the run ----

static const int watched[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
static char pendingPath[PATH_MAX + NAME_MAX + 2];
static volatile sig_atomic_t pendingSet = 0;
// Set once names start to change: from then on the run ends as it reports, whatever arrives.
static volatile sig_atomic_t committed = 0;
static struct sigaction previous[sizeof watched / sizeof watched[0]];
static int watchers = 0;

static void interrupted(int signal) {
    // A signal held back while names changed arrives once they have: the swap is done, and the run
    // goes on to report it, so that a failure status never stands for files that did change.
    if (committed)
        return;
    if (pendingSet)
        unlink(pendingPath);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

static void watch() {
    if (watchers++ > 0)
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = interrupted;
    sigemptyset(&action.sa_mask);
    for (int signal : watched)
        sigaddset(&action.sa_mask, signal);
    for (unsigned i = 0; i < sizeof watched / sizeof watched[0]; i++) {
        sigaction(watched[i], nullptr, &previous[i]);
        // A signal the program ignores stays ignored.
        if (previous[i].sa_handler != SIG_IGN)
            sigaction(watched[i], &action, nullptr);
    }
}

static void unwatch() {
    if (--watchers > 0)
        return;
    for (unsigned i = 0; i < sizeof watched / sizeof watched[0]; i++)
        sigaction(watched[i], &previous[i], nullptr);
}

bool abandonUnplaced() {
    if (committed)
        return false;
    if (pendingSet)
        unlink(pendingPath);
    pendingSet = 0;
    return true;
}

// Holds the watched signals back while names change, so a sequence of renames ends as one step.
class HeldSignals {
public:
    HeldSignals() {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : watched)
            sigaddset(&set, signal);
        sigprocmask(SIG_BLOCK, &set, &saved);
    }
    ~HeldSignals() { sigprocmask(SIG_SETMASK, &saved, nullptr); }

private:
    sigset_t saved;
};

// ---- names ----

// The n-th candidate for the temporary name within the folder: the stem's name shortened as far as
// needed for the whole to fit the system's limit on a name.
static string candidate(const string &stem, const string &suffix, uint32_t n) {
    string tail = n == 0 ? string(suffix) : string(suffix, ".", rudd::decimal(n));
    string base = splitPath(stem).name;
    if (base.length() + tail.length() > NAME_MAX)
        base[NAME_MAX - tail.length()] = 0;
    return string(base.text(), tail);
}

string temporaryPath(const string &name, const string &stem, const char *suffix, uint32_t n) {
    return besidePath(name, candidate(stem, suffix, n));
}

static void remember(const string &path) {
    std::snprintf(pendingPath, sizeof pendingPath, "%s", path.text());
    pendingSet = 1;
}

// ---- the replacement ----

Replacement::Replacement(const string &name, const string &stem, const char *suffix)
    : finalName(name), stem(stem), suffix(suffix), place(splitPath(name)) {}

Replacement::~Replacement() {
    forget();
    if (ownsLike)
        close(likeDescriptor);
    if (fd >= 0)
        close(fd);
    if (folder >= 0) {
        close(folder);
        unwatch();
    }
    // The replacement is over, whatever its outcome: a signal during the next one ends the run again.
    committed = 0;
}

void Replacement::forget() {
    if (named && !placed)
        unlinkat(folder, temporary, 0);
    named = false;
    pendingSet = 0;
}

// Names the file with the first free temporary name by make(name), which fails with EEXIST where the
// name is taken; never replacing anything, and never interrupted between making and remembering.
template <typename Make> Error Replacement::takeFreeName(Make make) {
    for (uint32_t n = 0; n < temporaryNames; n++) {
        temporary = candidate(stem, suffix, n);
        HeldSignals held;
        if (make(temporary.text())) {
            named = true;
            remember(besidePath(finalName, temporary));
            return Error();
        }
        if (errno != EEXIST)
            return Error::fromSystem("cannot create", besidePath(finalName, temporary), errno);
    }
    return Error::fromSystem("no free temporary name beside", finalName, EEXIST);
}

Error Replacement::create() {
    folder = open(place.folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return Error::fromSystem("cannot write", finalName, errno);
    watch();
    // Read and write for the owner only, whatever the umask: the bits are set once the file is whole.
    fd = openUnnamed(folder, 0600);
    if (fd >= 0)
        return Error();
    if (!unsupported(errno))
        return Error::fromSystem("cannot write", finalName, errno);
    // No unnamed files here: a free temporary name, made exclusively, never through a link.
    return takeFreeName([&](const char *name) {
        fd = openat(folder, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        return fd >= 0;
    });
}

Error Replacement::resize(uint32_t size) {
    int error = size ? posix_fallocate(fd, 0, off_t(size)) : 0;
    // Where the file system cannot allocate ahead, the zeros are written instead.
    if (error == EOPNOTSUPP || error == EINVAL) {
        static const char zeros[65536] = {};
        error = 0;
        for (uint32_t done = 0; done < size && error == 0;) {
            uint32_t step = size - done < sizeof zeros ? size - done : sizeof zeros;
            ssize_t written = pwrite(fd, zeros, step, off_t(done));
            if (written > 0)
                done += uint32_t(written);
            else
                error = written < 0 ? errno : ENOSPC;
        }
    }
    if (error != 0) {
        (void)!ftruncate(fd, 0); // best effort: the error that stopped the write is the one to report
        return Error::fromSystem("cannot write", finalName, error);
    }
    return Error();
}

void Replacement::keepAttributesOf(const struct stat &status, int descriptor) {
    like = status;
    likeDescriptor = descriptor;
    keeping = true;
}

void Replacement::keepAttributesOfReplaced() {
    struct stat status;
    if (lstat(finalName, &status) != 0 || !S_ISREG(status.st_mode))
        return;
    keepAttributesOf(status, open(finalName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    ownsLike = likeDescriptor >= 0;
}

Error Replacement::finish() {
    if (!keeping) {
        // A file that replaces nothing is made as any new file: 0666 less the umask.
        if (fchmod(fd, defaultPermissions()) != 0)
            return Error::fromSystem("cannot set the permissions of", finalName, errno);
    } else if (Error error = takeAttributes(); error.failed()) {
        return error;
    }
    if (fsync(fd) != 0)
        return Error::fromSystem("cannot write", finalName, errno);
    return Error();
}

// Owner and group first (changing them clears set-ID bits and capabilities), then the extended
// attributes and the access control list, then the permission bits, which also set the ACL's mask.
Error Replacement::takeAttributes() {
    bool ownerKept = fchown(fd, like.st_uid, like.st_gid) == 0;
    bool groupKept = ownerKept || fchown(fd, uid_t(-1), like.st_gid) == 0;
    if (likeDescriptor >= 0) {
        errno = 0;
        int copied = attr_copy_fd(nullptr, likeDescriptor, nullptr, fd, nullptr, nullptr);
        // An attribute only a privilege may set (a file capability, say) is not the user's to keep:
        // the run says it is gone rather than fail. Any other failure is the disk's.
        if (copied != 0 && (errno == EPERM || errno == EACCES))
            addNote(string(quoted(finalName), " could not keep all its extended attributes (", std::strerror(errno), ")"));
        else if (copied != 0 && errno != ENOTSUP && errno != 0)
            return Error::fromSystem("cannot keep the extended attributes of", finalName, errno);
        errno = 0;
        if (perm_copy_fd(nullptr, likeDescriptor, nullptr, fd, nullptr) != 0 && errno != ENOTSUP && errno != 0)
            return Error::fromSystem("cannot keep the access control list of", finalName, errno);
    }
    mode_t permissions = like.st_mode & 07777;
    // A set-ID bit on a file now owned by someone else would grant that someone's rights.
    if (!ownerKept || !groupKept)
        permissions &= ~mode_t(S_ISUID | S_ISGID);
    if (fchmod(fd, permissions) != 0)
        return Error::fromSystem("cannot set the permissions of", finalName, errno);
    if (!ownerKept || !groupKept) {
        struct stat now;
        fstat(fd, &now);
        addNote(string(quoted(finalName), " could not keep its owner (user ", rudd::decimal(like.st_uid),
                          ", group ", rudd::decimal(like.st_gid), "): it now belongs to user ",
                          rudd::decimal(now.st_uid), ", group ", rudd::decimal(now.st_gid),
                          like.st_mode & (S_ISUID | S_ISGID) ? ", without its set-ID bits" : ""));
    }
    return Error();
}

// Gives the unnamed file the first free temporary name; linking never replaces anything.
Error Replacement::nameTemporary() {
    if (named)
        return Error();
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return takeFreeName([&](const char *name) {
        // Through /proc an ordinary user may name an unnamed file; the empty path needs a privilege.
        int linked = linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT)
            linked = linkat(fd, "", folder, name, AT_EMPTY_PATH);
        return linked == 0;
    });
}

Error Replacement::replace() {
    if (Error error = nameTemporary(); error.failed())
        return error;
    HeldSignals held;
    committed = 1;
    if (renameFile(folder, temporary, place.name, 0) != 0) {
        int error = errno;
        committed = 0;
        forget();
        return Error::fromSystem("cannot write", finalName, error);
    }
    placed = true;
    pendingSet = 0;
    flushFolder(string(quoted(finalName), " holds the new file"));
    return Error();
}

// The names have changed once the renames are made; the folder on disk makes them survive a power
// loss. Should that fail, the run has still done what was asked, and says what a power loss may undo.
void Replacement::flushFolder(const string &state) {
    if (fsync(folder) == 0)
        return;
    addNote(string(state, ", but its folder could not be put on disk (", std::strerror(errno),
                "): a power loss may bring back the earlier names"));
}

void Replacement::addNote(const string &text) {
    keptNote = keptNote.empty() ? text : string(keptNote, "\n", text);
}

Error Replacement::exchange(const string &backup, const struct stat &checked) {
    Error error = swap(backup, checked);
    // Where a failed swap could not be undone, the original is under another name: the user must know
    // it before taking that file for debris.
    if (error.failed() && !keptName.empty())
        error.append(string("; the original is kept as ", quoted(keptName)));
    return error;
}

Error Replacement::swap(const string &backup, const struct stat &checked) {
    if (Error error = nameTemporary(); error.failed())
        return error;
    HeldSignals held;
    string backupName = splitPath(backup).name;
    // The file checked and the file swapped out must be one: another program may have put a new file
    // under the name since. The name asked is the very name renamed below.
    struct stat now;
    if (fstatat(folder, place.name, &now, 0) != 0 || now.st_dev != checked.st_dev || now.st_ino != checked.st_ino) {
        forget();
        return Error::fault(string(quoted(finalName), " was replaced by another program meanwhile"));
    }
    committed = 1;
    if (renameFile(folder, temporary, place.name, RENAME_EXCHANGE) == 0) {
        // The target now holds the new file and the temporary name the old one; on disk too before the
        // next rename, which a power loss must not bring about without this one.
        fsync(folder);
        if (renameFile(folder, temporary, backupName, 0) != 0) {
            int error = errno;
            if (renameFile(folder, temporary, place.name, RENAME_EXCHANGE) == 0) {
                forget();
            } else {
                keptName = besidePath(finalName, temporary);
                placed = true; // the temporary name now holds the original: never removed
            }
            pendingSet = 0;
            committed = 0;
            return Error::fromSystem("cannot rename the original to", backup, error);
        }
    } else if (!unsupported(errno)) {
        int error = errno;
        committed = 0;
        forget();
        return Error::fromSystem("cannot replace", finalName, error);
    } else if (Error error = exchangeByRenames(backupName, backup); error.failed()) {
        return error;
    }
    placed = true;
    pendingSet = 0;
    flushFolder(string(quoted(finalName), " holds the new file and ", quoted(backup), " the original"));
    return Error();
}

// Gives the target's file a second name, the first free one beside it that is not the temporary one,
// and puts that on disk: the target's name then holds the original until the new file takes it. Where
// the file system has no links (vfat), the file is moved to that name instead, and the target is
// missing until the new file takes its name. parked is the name taken; linked whether it is a link.
Error Replacement::parkOriginal(string &parked, bool &linked) {
    int error = EEXIST;
    for (uint32_t n = 1; n < temporaryNames && error == EEXIST; n++) {
        parked = candidate(stem, suffix, n);
        error = linkat(folder, place.name, folder, parked, 0) == 0 ? 0 : errno;
    }
    linked = error == 0;
    for (uint32_t n = 1; n < temporaryNames && !linked && (n == 1 || error == EEXIST); n++) {
        parked = candidate(stem, suffix, n);
        error = renameFile(folder, place.name, parked, RENAME_NOREPLACE) == 0 ? 0 : errno;
        if (error != 0 && unsupported(error)) {
            // Without a rename that refuses to replace, a name seen free is taken at once.
            struct stat status;
            bool free = fstatat(folder, parked, &status, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
            error = !free ? EEXIST : renameFile(folder, place.name, parked, 0) == 0 ? 0 : errno;
        }
    }
    if (error == 0 && fsync(folder) != 0) {
        error = errno;
        if (linked)
            unlinkat(folder, parked, 0);
        else if (renameFile(folder, parked, place.name, 0) != 0)
            keptName = besidePath(finalName, parked);
    }
    return error == 0 ? Error() : Error::fromSystem("cannot rename", finalName, error);
}

// No exchange here: the original is parked under a second free name (a link to it where the file
// system has links) while the new file takes its place, then moves on to the backup name. Without
// links the target is missing between the first two renames. The folder is flushed after each step,
// so that a power loss cannot bring back an order of names that never was.
Error Replacement::exchangeByRenames(const string &backupName, const string &backup) {
    string parked;
    bool linked = false;
    Error parking = parkOriginal(parked, linked);
    if (parking.failed()) {
        committed = 0;
        forget();
        return parking;
    }
    if (renameFile(folder, temporary, place.name, 0) != 0) {
        int error = errno;
        if (linked)
            unlinkat(folder, parked, 0); // the target still holds the original
        if (linked || renameFile(folder, parked, place.name, 0) == 0)
            forget();
        else
            keptName = besidePath(finalName, parked);
        pendingSet = 0;
        committed = 0;
        return Error::fromSystem("cannot replace", finalName, error);
    }
    placed = true;
    pendingSet = 0;
    // A failed flush here is told once the backup is in place, by the flush after it.
    fsync(folder);
    if (renameFile(folder, parked, backupName, 0) != 0) {
        int error = errno;
        // One rename puts the original back over the new file, so the target is never empty.
        if (renameFile(folder, parked, place.name, 0) != 0)
            keptName = besidePath(finalName, parked);
        return Error::fromSystem("cannot rename the original to", backup, error);
    }
    return Error();
}

} // namespace vopra
