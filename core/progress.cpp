#include "core/progress.h"

#include "rudd/descriptor.h"
#include "rudd/qpt.h"

namespace vopra {

Progress phase(const Progress &whole, unsigned from, unsigned to) {
    if (!whole)
        return Progress();
    return Progress([whole, from, to](unsigned offset, unsigned total) {
        uint64_t share = total ? uint64_t(to - from) * (offset < total ? offset : total) / total : 0;
        whole(from + unsigned(share), progressScale);
    });
}

uint32_t checksumInChunks(const uint8_t *data, uint32_t size, const Progress &progress) {
    uint32_t running = 0xFFFFFFFF;
    for (uint32_t done = 0; done < size;) {
        uint32_t step = size - done < progressChunk ? size - done : progressChunk;
        running = rudd::qpt::crc32_running(running, data + done, step);
        done += step;
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
