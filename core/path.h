#pragma once

#include "rudd/string.h"

namespace vopra {

// A path's folder and its name within it, split at the last '/' alone: on this system a backslash is
// an ordinary character of a name. Every step that opens a folder or renames in it takes its names
// from here; rudd::file_name, which also cuts at '\', serves the messages only.
struct PathParts {
    rudd::string folder; // "." for a bare name, "/" for a file in the root
    rudd::string name;
};
PathParts splitPath(const char *path);

// The path of name in the folder of path.
rudd::string besidePath(const char *path, const char *name);

} // namespace vopra
