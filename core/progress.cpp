#include "core/progress.h"

#include "rudd/descriptor.h"
#include "rudd/qpt.h"

#include <cerrno>
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

rudd::either<uint32_t> checksumInChunks(int descriptor, uint32_t size, const Progress &progress,
                                        const rudd::words &failing, const rudd::error &cutShort) {
    uint8_t buffer[131072];
    uint32_t running = 0xFFFFFFFF;
    for (uint32_t done = 0; done < size;) {
        uint32_t end = size - done < progressChunk ? size : done + progressChunk;
        while (done < end) {
            uint32_t step = end - done < sizeof buffer ? end - done : uint32_t(sizeof buffer);
            ssize_t got = pread(descriptor, buffer, step, off_t(done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return rudd::error::system(errno, failing);
            if (got == 0)
                return cutShort;
            running = rudd::qpt::crc32_running(running, buffer, uint32_t(got));
            done += uint32_t(got);
        }
        if (progress)
            progress(done, size);
    }
    return ~running;
}

void flushInChunks(int descriptor, uint32_t size, const Progress &progress) {
    rudd::write_behind behind(descriptor);
    // Nothing to flush is done at once.
    if (size == 0 && progress)
        progress(1, 1);
    for (uint64_t done = 0; done < size;) {
        done = size - done < progressChunk ? size : done + progressChunk;
        behind.written(done);
        if (progress)
            progress(unsigned(done), size);
    }
    behind.wait();
}

} // namespace vopra
