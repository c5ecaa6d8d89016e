#include "rudd/descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace rudd {

descriptor &descriptor::operator=(descriptor &&other) {
    if (this != &other)
        reset(other.release());
    return *this;
}

int descriptor::release() {
    int held = fd;
    fd = -1;
    return held;
}

void descriptor::reset(int opened) {
    if (fd >= 0)
        close(fd);
    fd = opened;
}

bool unsupported_here(int number) {
    switch (number) {
    case ENOSYS:     // no such call in this kernel
    case EOPNOTSUPP: // not on this file system
    case EINVAL:     // not for these files or these flags
    case EXDEV:      // not between these file systems
    case EISDIR:     // an unnamed file where the file system has none
    case ESPIPE:     // no offsets on this kind of file
    case ENODEV:
        return true;
    default:
        return false;
    }
}

done write_all(int fd, const void *bytes, size_t count, uint64_t offset, const words &failing) {
    auto at = static_cast<const uint8_t *>(bytes);
    while (count) {
        ssize_t written = pwrite(fd, at, count, off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return error::system(written < 0 ? errno : ENOSPC, failing);
        at += written;
        offset += uint64_t(written);
        count -= size_t(written);
    }
    return done();
}

done allocate(int fd, uint64_t offset, uint64_t length, const words &failing) {
    if (length == 0)
        return done();
    int number = posix_fallocate(fd, off_t(offset), off_t(length));
    if (number == 0)
        return done();
    if (!unsupported_here(number))
        return error::system(number, failing);
    static const uint8_t zeros[65536] = {};
    for (uint64_t end = offset + length; offset < end;) {
        size_t step = end - offset < sizeof zeros ? size_t(end - offset) : sizeof zeros;
        RUDD_TRY(write_all(fd, zeros, step, offset, failing));
        offset += step;
    }
    return done();
}

void write_behind::written(uint64_t end, uint64_t fresh) {
    if (end <= started)
        return;
    // The stretch started last time is waited for only now, while the one just written goes on its way.
    const unsigned wait_for =
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    sync_file_range(fd, off64_t(started), off64_t(end - started), SYNC_FILE_RANGE_WRITE);
    if (started > waited && pending >= batch) {
        sync_file_range(fd, off64_t(waited), off64_t(started - waited), wait_for);
        waited = started;
        pending = 0;
    }
    pending += fresh < end - started ? fresh : end - started;
    started = end;
}

void write_behind::wait() {
    if (started > waited)
        sync_file_range(fd, off64_t(waited), off64_t(started - waited),
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    waited = started;
    pending = 0;
}

} // namespace rudd
