#pragma once

#include "rudd/file.h"
#include "rudd/string.h"

#include <csetjmp>
#include <csignal>

#include <sys/types.h>

// File-system helpers shared by the apply and create workflows.
namespace vopra {

// What stat says about a path (following links), taken before any file is touched.
struct PathInfo {
    bool found = false;
    bool regular = false;  // only regular files reach the engine
    bool folder = false;
    bool tooLarge = false; // 4 GiB or more: the engine's sizes are 32-bit
    mode_t permissions = 0;
    dev_t device = 0;
    ino_t inode = 0;
};
PathInfo inspectPath(const char *path);

// Why a path that is there is no file the engine may read ("'x' is a folder, not a file"); empty for a
// regular file or a path that is not there.
rudd::string notRegular(const char *path, const PathInfo &info);

// True when the name itself, not following a link, is the file that info describes. Replacing such a
// name by rename would destroy that file's data (a target that links to its own backup name) or be
// silently skipped (a hard link).
bool namesFile(const char *name, const PathInfo &info);

// "what 'name': the system's error text", the cause of a failed call in the user's terms.
rudd::string failure(const char *what, const char *name, int error);

// Why output, an existing name a run is to replace with a file of its own, must not be replaced: a
// folder, device or a link to one ("'x' exists and is not a regular file; it is not replaced"), one of
// the run's inputs by its own name ("'x' is the same file as 'a'; choose another PATCH"), or
// write-protected. Empty where it may be replaced or is not there.
rudd::string unusableOutput(const char *output, const char *role, const char *first, const char *second);

// True when the file at path can be opened for reading; otherwise false with why ("cannot open 'x':
// Permission denied"), for a check whose own text says only that the file is not there.
bool readable(const char *path, rudd::string &why);

// Maps an input file for reading, or says why it cannot ("'x' is a folder, not a file", "'x' is too
// large: files must be smaller than 4 GiB", "cannot open 'x': ..."), in that order.
bool openInput(rudd::filemap &map, const char *name, rudd::string &why);

// Opens the folder that holds path (a bare name lies in the working folder, the root's files in "/"),
// for renames and a flush made in it; -1 when it cannot.
int openFolderOf(const char *path);

// True when the name itself (not following a link) is a regular file that the user may not write: a
// write protection that replacing the name by rename would silently pass over.
bool writeProtected(const char *name);

// The bits a new file gets: 0666 less the umask.
mode_t defaultPermissions();

// A descriptor closed with its owner.
struct Descriptor {
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int fd;
};

// The calls through which a replacement names files. Only tests replace them, to make one step fail as
// on a faulty file system, or as on one without unnamed files (EOPNOTSUPP) or exchanges (EINVAL).
extern int (*renameFile)(int folder, const char *from, const char *to, unsigned flags);
extern int (*openUnnamed)(int folder, mode_t permissions);

// Runs pass() so that a bus error on the bytes of one of the maps (its file truncated by another
// program while mapped) makes it return false instead of ending the program.
class BusGuard {
public:
    template <int N> explicit BusGuard(const rudd::filemap *const (&maps)[N]) : BusGuard(maps, N) {}
    BusGuard(const rudd::filemap *const *maps, int count);
    ~BusGuard();
    template <typename Pass> bool run(Pass pass) {
        if (sigsetjmp(landing, 1) != 0)
            return false;
        armed = true;
        pass();
        armed = false;
        return true;
    }

    static void caught(int signal, siginfo_t *info, void *context);

private:
    sigjmp_buf landing;
    volatile bool armed = false;
    const rudd::filemap *const *maps;
    int count;
    struct sigaction saved;
    BusGuard *outer;
};

} // namespace vopra
