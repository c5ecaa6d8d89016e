#pragma once

#include "rudd/descriptor.h"
#include "rudd/error.h"
#include "rudd/file.h"
#include "rudd/string.h"

#include <sys/stat.h>
#include <sys/types.h>

// The files a run reads, opened once by name and known from then on by their descriptors.
namespace vopra {

// A file opened by its name for reading, with what its one fstat said: every later check, read, lock and
// swap concerns this file, whatever happens to the name meanwhile.
struct OpenedFile {
    rudd::string name;
    rudd::descriptor file;
    struct stat status {};
    rudd::filemap map;

    bool regular() const { return S_ISREG(status.st_mode); }
    // 4 GiB or more: the engine's sizes are 32-bit.
    bool tooLarge() const { return uint64_t(status.st_size) >= (uint64_t(1) << 32); }
};

// Opens name read-only without blocking (a FIFO without a writer answers at once), and takes its status.
rudd::done openFile(const char *name, OpenedFile &opened);

// Why an open file is no file the engine may read ("'x' is a folder, not a file"); none for a regular file.
rudd::words notRegular(const OpenedFile &opened);

// Whether an open file may be read: a regular file smaller than 4 GiB ("'x' is a folder, not a file",
// "'x' is too large: files must be smaller than 4 GiB"), in that order.
rudd::done fitForReading(const OpenedFile &opened);

// Maps an open file for reading, and has the system start reading what is not cached.
rudd::done mapFile(OpenedFile &opened);

} // namespace vopra
