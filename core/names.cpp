#include "core/names.h"
#include "core/path.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using rudd::done;
using rudd::error;
using rudd::quoted;
using rudd::words;

namespace vopra {

Named lookUp(const char *name) {
    Named named;
    named.found = lstat(name, &named.status) == 0;
    return named;
}

bool Named::names(const struct stat &file) const {
    return found && status.st_dev == file.st_dev && status.st_ino == file.st_ino;
}

bool Named::writeProtected(const char *name) const {
    return found && S_ISREG(status.st_mode) &&
           faccessat(AT_FDCWD, name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 && errno == EACCES;
}

done usableOutput(const char *output, const char *role, const OpenedFile &first, const OpenedFile &second) {
    // A symbolic link is replaced by the new file, unless it leads to something other than a regular
    // file (a folder, a device): that is refused like the thing itself.
    Named named = lookUp(output);
    struct stat target;
    if (!named.found)
        return done();
    mode_t kind = named.status.st_mode;
    if (!S_ISREG(kind) && (!S_ISLNK(kind) || (stat(output, &target) == 0 && !S_ISREG(target.st_mode))))
        return error::fault(words(quoted(output), " exists and is not a regular file; it is not replaced"));
    // The name itself, not where a link leads: a link to an input is replaced, the input is not touched.
    for (const OpenedFile *input : {&first, &second}) {
        if (named.names(input->status))
            return error::fault(words(quoted(output), " is the same file as ", quoted(input->name),
                                      "; choose another ", role));
    }
    // A write protection the user set holds, as when the file was opened for writing.
    if (named.writeProtected(output))
        return error::fault(words(quoted(output), " is write-protected; it is not replaced"));
    return done();
}

rudd::descriptor openFolderOf(const char *path) {
    return rudd::descriptor(open(splitPath(path).folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

} // namespace vopra
