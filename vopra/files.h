#pragma once

#include "rudd/string.h"

#include <sys/types.h>

// File-system helpers shared by the apply and create workflows.
namespace vopra {

// What stat says about a path (following links), taken before any file is touched.
struct PathInfo {
    bool found = false;
    bool regular = false;  // only regular files reach the engine
    bool tooLarge = false; // 4 GiB or more: the engine's sizes are 32-bit
    mode_t permissions = 0;
    dev_t device = 0;
    ino_t inode = 0;
};
PathInfo inspectPath(const char *path);

// True when the name itself, not following a link, is the file that info describes. Replacing such a
// name by rename would destroy that file's data (a target that links to its own backup name) or be
// silently skipped (a hard link).
bool namesFile(const char *name, const PathInfo &info);

// The first of first, first.1, first.2, ... under which nothing exists, not even a dangling link.
// A side file is then created there exclusively, so an existing file is never opened for writing.
bool freshName(const rudd::string &first, rudd::string &name);

// Puts a written file's data on disk before it is renamed into place.
bool syncFile(const char *path);
// Puts the folder holding path on disk, so that renames made in it survive a crash.
bool syncFolderOf(const char *path);

} // namespace vopra
