#include "vopra/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using rudd::string;

namespace vopra {

PathInfo inspectPath(const char *path) {
    PathInfo info;
    struct stat status;
    if (stat(path, &status) != 0)
        return info;
    info.found = true;
    info.regular = S_ISREG(status.st_mode);
    info.tooLarge = uint64_t(status.st_size) >= (uint64_t(1) << 32);
    info.permissions = status.st_mode & 0777;
    info.device = status.st_dev;
    info.inode = status.st_ino;
    return info;
}

bool namesFile(const char *name, const PathInfo &info) {
    struct stat status;
    return info.found && lstat(name, &status) == 0 && status.st_dev == info.device &&
           status.st_ino == info.inode;
}

bool freshName(const string &first, string &name) {
    for (uint32_t n = 0; n < 1000; n++) {
        name = n == 0 ? first : string(first, ".", rudd::decimal(n));
        struct stat status;
        if (lstat(name, &status) != 0 && errno == ENOENT)
            return true;
    }
    return false;
}

bool syncFile(const char *path) {
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

bool syncFolderOf(const char *path) {
    string folder(path);
    uint32_t slash = folder.length();
    while (slash > 0 && folder[slash - 1] != '/')
        slash--;
    if (slash == 0)
        folder = ".";
    else
        folder[slash == 1 ? 1 : slash - 1] = 0; // keep the root's own "/"
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

} // namespace vopra
