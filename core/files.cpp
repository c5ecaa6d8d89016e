#include "core/files.h"
#include "core/path.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using rudd::done;
using rudd::error;
using rudd::quoted;
using rudd::words;

namespace vopra {

done openFile(const char *name, OpenedFile &opened) {
    opened.name = name;
    opened.file.reset(open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!opened.file.is_open() || fstat(opened.file.get(), &opened.status) != 0)
        return error::system(errno, words("cannot open ", quoted(name)));
    return done();
}

words notRegular(const OpenedFile &opened) {
    if (opened.regular())
        return words();
    return words(quoted(opened.name),
                 S_ISDIR(opened.status.st_mode) ? " is a folder, not a file" : " is not a regular file");
}

done fitForReading(const OpenedFile &opened) {
    if (!opened.regular())
        return error::fault(notRegular(opened));
    if (opened.tooLarge())
        return error::fault(words(quoted(opened.name), " is too large: files must be smaller than 4 GiB"));
    return done();
}

done mapFile(OpenedFile &opened) {
    RUDD_TRY(opened.map.open(opened.file.get(), rudd::filemap::mode::read, opened.name));
    opened.map.populate();
    return done();
}

bool namesFile(const char *name, const struct stat &status) {
    struct stat named;
    return lstat(name, &named) == 0 && named.st_dev == status.st_dev && named.st_ino == status.st_ino;
}

done usableOutput(const char *output, const char *role, const OpenedFile &first, const OpenedFile &second) {
    // A symbolic link is replaced by the new file, unless it leads to something other than a regular
    // file (a folder, a device): that is refused like the thing itself.
    struct stat info, target;
    if (lstat(output, &info) != 0)
        return done();
    if (!S_ISREG(info.st_mode) &&
        (!S_ISLNK(info.st_mode) || (stat(output, &target) == 0 && !S_ISREG(target.st_mode))))
        return error::fault(words(quoted(output), " exists and is not a regular file; it is not replaced"));
    // The name itself, not where a link leads: a link to an input is replaced, the input is not touched.
    for (const OpenedFile *input : {&first, &second}) {
        if (info.st_dev == input->status.st_dev && info.st_ino == input->status.st_ino)
            return error::fault(words(quoted(output), " is the same file as ", quoted(input->name),
                                      "; choose another ", role));
    }
    // A write protection the user set holds, as when the file was opened for writing.
    if (S_ISREG(info.st_mode) && faccessat(AT_FDCWD, output, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0 &&
        errno == EACCES)
        return error::fault(words(quoted(output), " is write-protected; it is not replaced"));
    return done();
}

rudd::descriptor openFolderOf(const char *path) {
    return rudd::descriptor(open(splitPath(path).folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
