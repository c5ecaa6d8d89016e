#pragma once

#include "core/files.h"

#include "rudd/descriptor.h"
#include "rudd/error.h"

#include <sys/stat.h>

// What a run asks of a name before it writes there, with the reason in the user's terms.
namespace vopra {

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

} // namespace vopra
