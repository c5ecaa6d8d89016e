#include "core/replacement.h"
#include "core/interruption.h"
#include "core/names.h"

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

using rudd::done;
using rudd::error;
using rudd::quoted;
using rudd::string;
using rudd::unsupported_here;
using rudd::words;

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

// The bits a new file gets: 0666 less the umask.
static mode_t defaultPermissions() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

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

// ---- the replacement ----

Replacement::Replacement(const string &name, const string &stem, const char *suffix)
    : finalName(name), stem(stem), suffix(suffix), place(splitPath(name)) {}

Replacement::~Replacement() {
    forget();
    if (folder.is_open())
        unwatchInterruptions();
    // The replacement is over, whatever its outcome: a signal during the next one ends the run again.
    uncommitNames();
}

void Replacement::forget() {
    if (named && !placed)
        unlinkat(folder.get(), temporary, 0);
    named = false;
    forgetPending();
}

// Names the file with the first free temporary name by make(name), which fails with EEXIST where the
// name is taken; never replacing anything, and never interrupted between making and remembering.
// make(name) fails with EEXIST where the name is taken, and its error number is read at once.
template <typename Make> done Replacement::takeFreeName(Make make) {
    for (uint32_t n = 0; n < temporaryNames; n++) {
        temporary = candidate(stem, suffix, n);
        HeldSignals held;
        if (make(temporary.text())) {
            named = true;
            rememberPending(besidePath(finalName, temporary));
            return done();
        }
        if (errno != EEXIST)
            return error::system(errno, words("cannot create ", quoted(besidePath(finalName, temporary))));
    }
    return error::system(EEXIST, words("no free temporary name beside ", quoted(finalName)));
}

done Replacement::create() {
    folder = openFolderOf(finalName);
    if (!folder.is_open())
        return error::system(errno, words("cannot write ", quoted(finalName)));
    watchInterruptions();
    // Read and write for the owner only, whatever the umask: the bits are set once the file is whole.
    fd.reset(openUnnamed(folder.get(), 0600));
    if (fd.is_open())
        return done();
    if (!unsupported_here(errno))
        return error::system(errno, words("cannot write ", quoted(finalName)));
    // No unnamed files here: a free temporary name, made exclusively, never through a link.
    return takeFreeName([&](const char *name) {
        fd.reset(openat(folder.get(), name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        return fd.is_open();
    });
}

done Replacement::resize(uint32_t size) {
    done allocated = rudd::allocate(fd.get(), 0, size, words("cannot write ", quoted(finalName)));
    if (allocated.failed())
        (void)!ftruncate(fd.get(), 0); // best effort: the error that stopped the write is the one to report
    return allocated;
}

void Replacement::keepAttributesOf(const struct stat &status, int descriptor) {
    like = status;
    likeFile.reset(descriptor >= 0 ? fcntl(descriptor, F_DUPFD_CLOEXEC, 0) : -1);
    keeping = true;
}

void Replacement::keepAttributesOfReplaced() {
    rudd::descriptor replaced(open(finalName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status;
    // One that cannot be read still hands on its owner and bits.
    if (replaced.is_open() ? fstat(replaced.get(), &status) == 0 : lstat(finalName, &status) == 0) {
        if (S_ISREG(status.st_mode))
            keepAttributesOf(status, replaced.get());
    }
}

done Replacement::finish() {
    if (!keeping) {
        // A file that replaces nothing is made as any new file: 0666 less the umask.
        if (fchmod(fd.get(), defaultPermissions()) != 0)
            return error::system(errno, words("cannot set the permissions of ", quoted(finalName)));
    } else {
        RUDD_TRY(takeAttributes());
    }
    if (fsync(fd.get()) != 0)
        return error::system(errno, words("cannot write ", quoted(finalName)));
    return done();
}

// Owner and group first (changing them clears set-ID bits and capabilities), then the extended
// attributes and the access control list, then the permission bits, which also set the ACL's mask.
done Replacement::takeAttributes() {
    bool ownerKept = fchown(fd.get(), like.st_uid, like.st_gid) == 0;
    bool groupKept = ownerKept || fchown(fd.get(), uid_t(-1), like.st_gid) == 0;
    if (likeFile.is_open()) {
        // Both libraries tell why through errno alone, and leave it 0 for what they merely skipped.
        errno = 0;
        int copied = attr_copy_fd(nullptr, likeFile.get(), nullptr, fd.get(), nullptr, nullptr);
        int number = errno;
        // An attribute only a privilege may set (a file capability, say) is not the user's to keep:
        // the run says it is gone rather than fail. Any other failure is the disk's.
        if (copied != 0 && (number == EPERM || number == EACCES))
            keptNotes.push_back(words(quoted(finalName), " could not keep all its extended attributes (",
                                      std::strerror(number), ")"));
        else if (copied != 0 && number != ENOTSUP && number != 0)
            return error::system(number, words("cannot keep the extended attributes of ", quoted(finalName)));
        errno = 0;
        copied = perm_copy_fd(nullptr, likeFile.get(), nullptr, fd.get(), nullptr);
        number = errno;
        if (copied != 0 && number != ENOTSUP && number != 0)
            return error::system(number, words("cannot keep the access control list of ", quoted(finalName)));
    }
    mode_t permissions = like.st_mode & 07777;
    // A set-ID bit on a file now owned by someone else would grant that someone's rights.
    if (!ownerKept || !groupKept)
        permissions &= ~mode_t(S_ISUID | S_ISGID);
    if (fchmod(fd.get(), permissions) != 0)
        return error::system(errno, words("cannot set the permissions of ", quoted(finalName)));
    struct stat now;
    if ((!ownerKept || !groupKept) && fstat(fd.get(), &now) == 0)
        keptNotes.push_back(words(quoted(finalName), " could not keep its owner (user ",
                                  rudd::decimal(like.st_uid), ", group ", rudd::decimal(like.st_gid),
                                  "): it now belongs to user ", rudd::decimal(now.st_uid), ", group ",
                                  rudd::decimal(now.st_gid),
                                  like.st_mode & (S_ISUID | S_ISGID) ? ", without its set-ID bits" : ""));
    return done();
}

// Gives the unnamed file the first free temporary name; linking never replaces anything.
done Replacement::nameTemporary() {
    if (named)
        return done();
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd.get());
    return takeFreeName([&](const char *name) {
        // Through /proc an ordinary user may name an unnamed file; the empty path needs a privilege.
        int linked = linkat(AT_FDCWD, self, folder.get(), name, AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT)
            linked = linkat(fd.get(), "", folder.get(), name, AT_EMPTY_PATH);
        return linked == 0;
    });
}

done Replacement::replace() {
    RUDD_TRY(nameTemporary());
    HeldSignals held;
    commitNames();
    if (renameFile(folder.get(), temporary, place.name, 0) != 0) {
        error failed = error::system(errno, words("cannot write ", quoted(finalName)));
        uncommitNames();
        forget();
        return failed;
    }
    placed = true;
    forgetPending();
    flushFolder(words(quoted(finalName), " holds the new file"));
    return done();
}

// The names have changed once the renames are made; the folder on disk makes them survive a power
// loss. Should that fail, the run has still done what was asked, and says what a power loss may undo.
void Replacement::flushFolder(const words &state) {
    if (fsync(folder.get()) == 0)
        return;
    keptNotes.push_back(words(state, ", but its folder could not be put on disk (", std::strerror(errno),
                              "): a power loss may bring back the earlier names"));
}

done Replacement::exchange(const string &backup, const struct stat &checked) {
    done swapped = swap(backup, checked);
    // Where a failed swap could not be undone, the original is under another name: the user must know
    // it before taking that file for debris.
    if (swapped.failed() && !keptName.empty()) {
        error failed = swapped.failure();
        return failed.also(words("; the original is kept as ", quoted(keptName)));
    }
    return swapped;
}

done Replacement::swap(const string &backup, const struct stat &checked) {
    RUDD_TRY(nameTemporary());
    HeldSignals held;
    string backupName = splitPath(backup).name;
    // The file checked and the file swapped out must be one: another program may have put a new file
    // under the name since. The name asked is the very name renamed below.
    struct stat now;
    if (fstatat(folder.get(), place.name, &now, 0) != 0 || now.st_dev != checked.st_dev ||
        now.st_ino != checked.st_ino) {
        forget();
        return error::fault(words(quoted(finalName), " was replaced by another program meanwhile"));
    }
    commitNames();
    if (renameFile(folder.get(), temporary, place.name, RENAME_EXCHANGE) == 0) {
        // The target now holds the new file and the temporary name the old one; on disk too before the
        // next rename, which a power loss must not bring about without this one.
        fsync(folder.get());
        if (renameFile(folder.get(), temporary, backupName, 0) != 0) {
            error failed = error::system(errno, words("cannot rename the original to ", quoted(backup)));
            if (renameFile(folder.get(), temporary, place.name, RENAME_EXCHANGE) == 0) {
                forget();
            } else {
                keptName = besidePath(finalName, temporary);
                placed = true; // the temporary name now holds the original: never removed
            }
            forgetPending();
            uncommitNames();
            return failed;
        }
    } else if (!unsupported_here(errno)) {
        error failed = error::system(errno, words("cannot replace ", quoted(finalName)));
        uncommitNames();
        forget();
        return failed;
    } else {
        RUDD_TRY(exchangeByRenames(backupName, backup));
    }
    placed = true;
    forgetPending();
    flushFolder(words(quoted(finalName), " holds the new file and ", quoted(backup), " the original"));
    return done();
}

// Gives the target's file a second name, the first free one beside it that is not the temporary one,
// and puts that on disk: the target's name then holds the original until the new file takes it. Where
// the file system has no links (vfat), the file is moved to that name instead, and the target is
// missing until the new file takes its name.
rudd::either<Replacement::Parked> Replacement::parkOriginal() {
    Parked parked{string(), false};
    int number = EEXIST;
    for (uint32_t n = 1; n < temporaryNames && number == EEXIST; n++) {
        parked.name = candidate(stem, suffix, n);
        number = linkat(folder.get(), place.name, folder.get(), parked.name, 0) == 0 ? 0 : errno;
    }
    parked.linked = number == 0;
    for (uint32_t n = 1; n < temporaryNames && !parked.linked && (n == 1 || number == EEXIST); n++) {
        parked.name = candidate(stem, suffix, n);
        number = renameFile(folder.get(), place.name, parked.name, RENAME_NOREPLACE) == 0 ? 0 : errno;
        if (number != 0 && unsupported_here(number)) {
            // Without a rename that refuses to replace, a name seen free is taken at once.
            struct stat status;
            bool free =
                fstatat(folder.get(), parked.name, &status, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
            number = !free ? EEXIST : renameFile(folder.get(), place.name, parked.name, 0) == 0 ? 0 : errno;
        }
    }
    if (number == 0 && fsync(folder.get()) != 0) {
        number = errno;
        if (parked.linked)
            unlinkat(folder.get(), parked.name, 0);
        else if (renameFile(folder.get(), parked.name, place.name, 0) != 0)
            keptName = besidePath(finalName, parked.name);
    }
    if (number != 0)
        return error::system(number, words("cannot rename ", quoted(finalName)));
    return parked;
}

// No exchange here: the original is parked under a second free name (a link to it where the file
// system has links) while the new file takes its place, then moves on to the backup name. Without
// links the target is missing between the first two renames. The folder is flushed after each step,
// so that a power loss cannot bring back an order of names that never was.
done Replacement::exchangeByRenames(const string &backupName, const string &backup) {
    rudd::either<Parked> parking = parkOriginal();
    if (parking.failed()) {
        uncommitNames();
        forget();
        return parking.failure();
    }
    const Parked &parked = parking.value();
    if (renameFile(folder.get(), temporary, place.name, 0) != 0) {
        error failed = error::system(errno, words("cannot replace ", quoted(finalName)));
        if (parked.linked)
            unlinkat(folder.get(), parked.name, 0); // the target still holds the original
        if (parked.linked || renameFile(folder.get(), parked.name, place.name, 0) == 0)
            forget();
        else
            keptName = besidePath(finalName, parked.name);
        forgetPending();
        uncommitNames();
        return failed;
    }
    placed = true;
    forgetPending();
    // A failed flush here is told once the backup is in place, by the flush after it.
    fsync(folder.get());
    if (renameFile(folder.get(), parked.name, backupName, 0) != 0) {
        error failed = error::system(errno, words("cannot rename the original to ", quoted(backup)));
        // One rename puts the original back over the new file, so the target is never empty.
        if (renameFile(folder.get(), parked.name, place.name, 0) != 0)
            keptName = besidePath(finalName, parked.name);
        return failed;
    }
    return done();
}

} // namespace vopra
