#include "vopra/files.h"
#include "vopra/error.h"
#include "vopra/path.h"
#include "vopra/quoting.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>
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
    info.folder = S_ISDIR(status.st_mode);
    info.tooLarge = uint64_t(status.st_size) >= (uint64_t(1) << 32);
    info.permissions = status.st_mode & 0777;
    info.device = status.st_dev;
    info.inode = status.st_ino;
    return info;
}

string notRegular(const char *path, const PathInfo &info) {
    if (info.regular || !info.found)
        return string();
    return string(quoted(path), info.folder ? " is a folder, not a file" : " is not a regular file");
}

bool namesFile(const char *name, const PathInfo &info) {
    struct stat status;
    return info.found && lstat(name, &status) == 0 && status.st_dev == info.device &&
           status.st_ino == info.inode;
}

Error unusableOutput(const char *output, const char *role, const char *first, const char *second) {
    // A symbolic link is replaced by the new file, unless it leads to something other than a regular
    // file (a folder, a device): that is refused like the thing itself.
    struct stat info, target;
    if (lstat(output, &info) == 0 && !S_ISREG(info.st_mode) &&
        (!S_ISLNK(info.st_mode) || (stat(output, &target) == 0 && !S_ISREG(target.st_mode))))
        return Error::fault(string(quoted(output), " exists and is not a regular file; it is not replaced"));
    // The name itself, not where a link leads: a link to an input is replaced, the input is not touched.
    for (const char *input : {first, second}) {
        if (namesFile(output, inspectPath(input)))
            return Error::fault(
                string(quoted(output), " is the same file as ", quoted(input), "; choose another ", role));
    }
    // A write protection the user set holds, as when the file was opened for writing.
    if (writeProtected(output))
        return Error::fault(string(quoted(output), " is write-protected; it is not replaced"));
    return Error();
}

Error readable(const char *path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Error::fromSystem("cannot open", path, errno);
    close(fd);
    return Error();
}

Error openInput(rudd::filemap &map, const char *name) {
    PathInfo info = inspectPath(name);
    if (!info.found)
        return Error::fromSystem("cannot open", name, errno);
    if (!info.regular)
        return Error::fault(notRegular(name, info));
    if (info.tooLarge)
        return Error::fault(string(quoted(name), " is too large: files must be smaller than 4 GiB"));
    Error error = readable(name);
    if (error.failed())
        return error;
    errno = 0;
    if (!map.open(name, rudd::filemap::mode::read))
        return errno ? Error::fromSystem("cannot read", name, errno)
                     : Error::fault(string("cannot read ", quoted(name), ": mapping failed"));
    map.populate();
    return Error();
}

int openFolderOf(const char *path) {
    return open(splitPath(path).folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool writeProtected(const char *name) {
    struct stat status;
    return lstat(name, &status) == 0 && S_ISREG(status.st_mode) &&
           faccessat(AT_FDCWD, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 && errno == EACCES;
}

mode_t defaultPermissions() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

} // namespace vopra
