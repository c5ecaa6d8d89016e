#pragma once

#include "rudd/descriptor.h"
#include "rudd/error.h"
#include "rudd/file.h"
#include "rudd/string.h"

#include <sys/stat.h>
#include <sys/types.h>

// The files a run reads, opened once by name and known from then on by their descriptors; and what a
// run asks of a name before it writes there, with the reason in the user's terms.
namespace vopra {

// A file opened by its name for reading, with what its one fstat said: every later check, read, lock and
// swap concerns this file, whatever happens to the name meanwhile.
struct OpenedFile {
    rudd::string name;
    rudd::descriptor file;
    struct stat status {};
    rudd::filemap map;

    bool regular() const { return S_ISREG(status.st_mode); }
    // 4 GiB or more: the engine's sizes are 32-bit.
    bool tooLarge() const { return uint64_t(status.st_size) >= (uint64_t(1) << 32); }
};

// Opens name read-only without blocking (a FIFO without a writer answers at once), and takes its status.
rudd::done openFile(const char *name, OpenedFile &opened);

// Why an open file is no file the engine may read ("'x' is a folder, not a file"); none for a regular file.
rudd::words notRegular(const OpenedFile &opened);

// Whether an open file may be read: a regular file smaller than 4 GiB ("'x' is a folder, not a file",
// "'x' is too large: files must be smaller than 4 GiB"), in that order.
rudd::done fitForReading(const OpenedFile &opened);

// Maps an open file for reading, and has the system start reading what is not cached.
rudd::done mapFile(OpenedFile &opened);

// What a name a run is to write holds now, the name itself (not where a link leads), looked up once for
// every check of it.
struct Named {
    bool found = false;
    struct stat status {};

    // True when the name is the file of that status. Replacing such a name by rename would destroy that
    // file's data (a target that links to its own backup name) or be silently skipped (a hard link).
    bool names(const struct stat &file) const;
    // True when it is a regular file that the user may not write: a write protection that replacing the
    // name by rename would silently pass over.
    bool writeProtected(const char *name) const;
};
Named lookUp(const char *name);

// Why output, an existing name a run is to replace with a file of its own, must not be replaced: a
// folder, device or a link to one ("'x' exists and is not a regular file; it is not replaced"), one of
// the run's open inputs by its own name ("'x' is the same file as 'a'; choose another PATCH"), or
// write-protected. Done where it may be replaced or is not there.
rudd::done usableOutput(const char *output, const char *role, const OpenedFile &first,
                        const OpenedFile &second);

// Opens the folder that holds path (a bare name lies in the working folder, the root's files in "/"),
// for renames and a flush made in it; not open when it cannot be.
rudd::descriptor openFolderOf(const char *path);

// The bits a new file gets: 0666 less the umask.
mode_t defaultPermissions();

} // namespace vopra
