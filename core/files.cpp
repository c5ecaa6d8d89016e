#include "core/files.h"

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
    RUDD_TRY(opened.map.open(opened.file.get(), rudd::filemap::mode::read, opened.name, &opened.status));
    opened.map.populate();
    return done();
}

} // namespace vopra
