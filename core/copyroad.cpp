#include "core/copyroad.h"
#include "core/progress.h"

#include "rudd/bus_guard.h"
#include "rudd/descriptor.h"
#include "rudd/qpt_delta.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using rudd::done;
using rudd::error;
using rudd::filemap;
using rudd::qpt;
using rudd::qpt_delta;
using rudd::quoted;
using rudd::words;

namespace vopra {

static ssize_t copyRangeDefault(int from, off64_t *fromOffset, int to, off64_t *toOffset, size_t length) {
    return copy_file_range(from, fromOffset, to, toOffset, length, 0);
}
ssize_t (*copyRange)(int from, off64_t *fromOffset, int to, off64_t *toOffset,
                     size_t length) = copyRangeDefault;

namespace {

// Changed bytes are written as whole pages, the rest of each page being the input's bytes (which the
// copy holds there already): a page written whole needs no read of what it replaces, which on a file
// sharing the input's blocks is a read from the disk for every changed page. Pages next to each other
// go in one call.
const uint64_t page = 4096;

// A chunk whose changes touch this many separate runs of pages is written whole instead: on a file
// sharing its blocks each run is unshared on its own (some tens of microseconds on xfs and btrfs), while
// a chunk written whole costs a few milliseconds.
const uint32_t scattered = 64;

uint64_t pageStart(uint64_t at) {
    return at & ~(page - 1);
}

// Collects the changed bytes (the input's XOR the patch's) of whole pages and writes them at their
// positions.
class ChangeWriter {
public:
    ChangeWriter(int output, uint32_t outputSize, const uint8_t *input, uint32_t inputSize,
                 const words &failing)
        : output(output), outputSize(outputSize), input(input), inputSize(inputSize), failing(failing) {}

    done add(uint64_t at, const uint8_t *bytes, uint32_t count) {
        while (count) {
            if (used && (pageStart(at) > pageStart(start + used - 1) + page || at - start >= sizeof buffer))
                RUDD_TRY(flush());
            if (used == 0)
                start = pageStart(at);
            putInput(start + used, at);
            uint32_t room = uint32_t(sizeof buffer - (at - start));
            uint32_t step = count < room ? count : room;
            putInput(at, at + step);
            uint8_t *out = buffer + (at - start);
            for (uint32_t i = 0; i < step; i++)
                out[i] ^= bytes[i];
            used = uint32_t(at - start) + step;
            at += step;
            bytes += step;
            count -= step;
        }
        return done();
    }

    // Writes positions from .. to whole: the input's bytes with every change below to over them.
    done writeWhole(uint64_t from, uint64_t to, qpt_delta &delta) {
        RUDD_TRY(flush());
        for (start = from; start < to; start += sizeof buffer) {
            uint64_t end = to - start < sizeof buffer ? to : start + sizeof buffer;
            putInput(start, end);
            uint32_t at, count;
            const uint8_t *bytes;
            while (delta.next(end, at, bytes, count)) {
                uint8_t *out = buffer + (at - start);
                for (uint32_t i = 0; i < count; i++)
                    out[i] ^= bytes[i];
            }
            used = uint32_t(end - start);
            RUDD_TRY(write());
        }
        used = 0;
        return done();
    }

    // Completes the last page and writes what was collected.
    done flush() {
        if (used == 0)
            return done();
        uint64_t end = pageStart(start + used - 1) + page;
        if (end > outputSize)
            end = outputSize;
        putInput(start + used, end);
        used = uint32_t(end - start);
        RUDD_TRY(write());
        used = 0;
        return done();
    }

private:
    done write() { return rudd::write_all(output, buffer, used, start, failing); }

    // The input's bytes of positions from .. to (zeros past its end) into the buffer.
    void putInput(uint64_t from, uint64_t to) {
        uint64_t copied = to < inputSize ? to : inputSize;
        if (from < copied)
            std::memcpy(buffer + (from - start), input + from, copied - from);
        uint64_t zeroed = from > inputSize ? from : inputSize;
        if (zeroed < to)
            std::memset(buffer + (zeroed - start), 0, to - zeroed);
    }

    int output;
    uint32_t outputSize;
    const uint8_t *input;
    uint32_t inputSize;
    const words &failing;
    uint64_t start = 0;
    uint32_t used = 0;
    uint8_t buffer[65536];
};

// Where the file system copies on write in extents larger than a block (xfs: 32 blocks by default),
// each scattered change would unshare a whole extent; a hint of one page while the changes are written
// keeps the new space to the changed pages. The file's own hint is given back afterwards, so later
// writes by other programs go as they would. Only a hint: elsewhere it is refused and changes nothing.
class PageUnsharing {
public:
    explicit PageUnsharing(int output) : output(output) {
        if (ioctl(output, FS_IOC_FSGETXATTR, &saved) != 0)
            return;
        struct fsxattr attributes = saved;
        attributes.fsx_xflags |= FS_XFLAG_COWEXTSIZE;
        attributes.fsx_cowextsize = uint32_t(page);
        set = ioctl(output, FS_IOC_FSSETXATTR, &attributes) == 0;
    }
    ~PageUnsharing() {
        if (set)
            ioctl(output, FS_IOC_FSSETXATTR, &saved);
    }

private:
    int output;
    struct fsxattr saved;
    bool set = false;
};

// How far a copy went: where the system cannot copy here, the caller takes the engine's pass; where the
// input ended early, another program cut it short.
enum class Copied { whole, unavailable, inputEnded };

// Copies the input's bytes from .. to into the output at the same positions.
rudd::either<Copied> copyStretch(int from, int to, uint64_t begin, uint64_t end, const words &failing) {
    while (begin < end) {
        off64_t in = off64_t(begin), out = off64_t(begin);
        ssize_t copied = copyRange(from, &in, to, &out, size_t(end - begin));
        // EBADF: this system copies to no file opened as the output is, nor from one opened as the input.
        if (copied < 0 && (rudd::unsupported_here(errno) || errno == EBADF))
            return Copied::unavailable;
        if (copied < 0)
            return error::system(errno, failing);
        if (copied == 0)
            return Copied::inputEnded;
        begin += uint64_t(copied);
    }
    return Copied::whole;
}

bool sameStatus(const struct stat &a, const struct stat &b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// One chunk from..to: copied with its changes written over it, or, where its changes scatter all over
// it, written whole: each change would cost its own unsharing, far more than writing the chunk, which
// the disk takes in one sequential stream.
rudd::either<Copied> writeChunk(qpt_delta &delta, ChangeWriter &changes, int in, int out, uint64_t from,
                                uint64_t to, uint32_t common, const words &failing) {
    if (delta.page_runs(to, page, scattered) >= scattered) {
        RUDD_TRY(changes.writeWhole(from, to, delta));
    } else {
        Copied copied = from < common
                            ? RUDD_TRY(copyStretch(in, out, from, to < common ? to : common, failing))
                            : Copied::whole;
        if (copied != Copied::whole)
            return copied;
        uint32_t at, count;
        const uint8_t *bytes;
        while (delta.next(to, at, bytes, count))
            RUDD_TRY(changes.add(at, bytes, count));
    }
    RUDD_TRY(changes.flush());
    return Copied::whole;
}

// Every chunk of the output in turn, with progress(done, size) after each, its writeback started while
// the one before is waited for, so the disk works while the next chunk is copied.
rudd::either<Copied> writeChunks(qpt_delta &delta, const filemap &input, ChangeWriter &changes, int out,
                                 uint32_t size, const Progress &progress, const words &failing) {
    uint32_t inputSize = input.size(), common = inputSize < size ? inputSize : size;
    rudd::write_behind behind(out);
    for (uint64_t from = 0; from < size;) {
        uint64_t to = size - from < progressChunk ? size : from + progressChunk;
        Copied copied =
            RUDD_TRY(writeChunk(delta, changes, input.descriptor(), out, from, to, common, failing));
        if (copied != Copied::whole)
            return copied;
        behind.written(to);
        from = to;
        if (progress)
            progress(unsigned(from), size);
    }
    // An empty output is whole at once.
    if (size == 0 && progress)
        progress(1, 1);
    return Copied::whole;
}

} // namespace

rudd::either<Copy> copyOtherSide(const ApplyInputs &in, Replacement &output, const Progress &progress) {
    const filemap &input = in.input.map;
    uint32_t inputSize = input.size(), size = in.matched.outputSize;
    int out = output.descriptor();
    words failing("cannot write ", quoted(output.name()));

    // Past the input's end the output is zeros, given their space now; the copy itself takes none where
    // the file system shares blocks.
    if (size > inputSize)
        RUDD_TRY(rudd::allocate(out, inputSize, size - inputSize, failing));

    PageUnsharing unsharing(out);
    ChangeWriter changes(out, size, input.data(), inputSize, failing);
    rudd::either<Copied> copied = Copied::whole;
    qpt::result result = qpt::result::patch_invalid;
    const filemap *maps[] = {&in.patch.map, &input};
    bool read = rudd::bus_guard(maps).run([&] {
        qpt_delta delta(in.patch.map.data(), in.patch.map.size(), in.recorded, size);
        copied = writeChunks(delta, input, changes, out, size, progress, failing);
        if (copied && copied.value() == Copied::whole) {
            uint32_t tail = inputSize > size ? qpt::crc32(input.data() + size, inputSize - size) : 0;
            result = delta.verdict(in.matched.outputChecksum, inputSize, in.matched.checksum, tail);
        }
    });
    if (read && copied.failed())
        return copied.failure();
    if (!read || copied.value() == Copied::inputEnded)
        return changedWhileRead(in.patch.name, in.input.name);
    if (copied.value() == Copied::unavailable) {
        // Nothing of this road stays: the engine's pass starts from an empty file.
        if (ftruncate(out, 0) != 0)
            return error::system(errno, failing);
        return Copy::unavailable;
    }
    // The copy is of the bytes the checksum was read from only when nobody wrote to the input since it
    // was opened. The patch and the input were checked and matched before: a wrong result from both as
    // matched is the patch's.
    struct stat now;
    if (fstat(in.input.file.get(), &now) != 0 || !sameStatus(now, in.input.status))
        return changedWhileRead(in.patch.name, in.input.name);
    if (result != qpt::result::success)
        return damagedPatch(in.patch.name, in.input.name);
    return Copy::made;
}

} // namespace vopra
