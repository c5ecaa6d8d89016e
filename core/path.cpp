#include "core/path.h"

#include <cstring>

using rudd::string;

namespace vopra {

PathParts splitPath(const char *path) {
    const char *slash = std::strrchr(path, '/');
    if (!slash)
        return PathParts{string("."), string(path)};
    string folder(path);
    folder[slash == path ? 1 : uint32_t(slash - path)] = 0; // the root keeps its own "/"
    return PathParts{string(folder.text()), string(slash + 1)};
}

string besidePath(const char *path, const char *name) {
    const char *slash = std::strrchr(path, '/');
    if (!slash)
        return string(name);
    string folder(path);
    folder[uint32_t(slash - path) + 1] = 0;
    return string(folder.text(), name);
}

} // namespace vopra
