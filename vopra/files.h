#pragma once

#include "rudd/file.h"
#include "rudd/string.h"
#include "vopra/error.h"

#include <sys/types.h>

// What the workflows ask of a path before they touch it, with the reason in the user's terms.
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


// Why output, an existing name a run is to replace with a file of its own, must not be replaced: a
// folder, device or a link to one ("'x' exists and is not a regular file; it is not replaced"), one of
// the run's inputs by its own name ("'x' is the same file as 'a'; choose another PATCH"), or
// write-protected. None where it may be replaced or is not there.
Error unusableOutput(const char *output, const char *role, const char *first, const char *second);

// Whether the file at path can be opened for reading ("cannot open 'x': Permission denied"), for a check
// whose own text says only that the file is not there.
Error readable(const char *path);

// Maps an input file for reading, or says why it cannot ("'x' is a folder, not a file", "'x' is too
// large: files must be smaller than 4 GiB", "cannot open 'x': ..."), in that order.
Error openInput(rudd::filemap &map, const char *name);

// Opens the folder that holds path (a bare name lies in the working folder, the root's files in "/"),
// for renames and a flush made in it; -1 when it cannot.
int openFolderOf(const char *path);

// True when the name itself (not following a link) is a regular file that the user may not write: a
// write protection that replacing the name by rename would silently pass over.
bool writeProtected(const char *name);

// The bits a new file gets: 0666 less the umask.
mode_t defaultPermissions();

} // namespace vopra
