#include "vopra/progress.h"

#include "rudd/qpt.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vopra {

Progress phase(const Progress &whole, unsigned from, unsigned to) {
    if (!whole)
        return Progress();
    return Progress([whole, from, to](unsigned offset, unsigned total) {
        uint64_t share = total ? uint64_t(to - from) * (offset < total ? offset : total) / total : 0;
        whole(from + unsigned(share), progressScale);
    });
}

int checksumInChunks(int descriptor, uint32_t size, const Progress &progress, uint32_t &checksum) {
    uint8_t buffer[131072];
    uint32_t running = 0xFFFFFFFF;
    for (uint32_t done = 0; done < size;) {
        uint32_t end = size - done < progressChunk ? size : done + progressChunk;
        while (done < end) {
            uint32_t step = end - done < sizeof buffer ? end - done : uint32_t(sizeof buffer);
            ssize_t got = pread(descriptor, buffer, step, off_t(done));
            if (got <= 0)
                return got < 0 ? errno : -1;
            running = rudd::qpt::crc32_running(running, buffer, uint32_t(got));
            done += uint32_t(got);
        }
        if (progress)
            progress(done, size);
    }
    checksum = ~running;
    return 0;
}

// A file system without ranged writeback leaves it all to the file's fsync.
static bool unsupported(int error) {
    return error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == ESPIPE;
}

bool flushInChunks(int descriptor, uint32_t size, const Progress &progress) {
    const unsigned start = SYNC_FILE_RANGE_WRITE;
    const unsigned wait = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    // Nothing to flush is done at once.
    if (size == 0 && progress)
        progress(1, 1);
    for (uint64_t done = 0; done < size;) {
        uint64_t step = size - done < progressChunk ? size - done : progressChunk;
        uint64_t next = done + step;
        if ((next < size && sync_file_range(descriptor, off64_t(next), off64_t(progressChunk), start) != 0) ||
            sync_file_range(descriptor, off64_t(done), off64_t(step), wait) != 0)
            return unsupported(errno);
        done = next;
        if (progress)
            progress(unsigned(done), size);
    }
    return true;
}

} // namespace vopra
