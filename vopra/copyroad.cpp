#include "vopra/copyroad.h"
#include "vopra/busguard.h"
#include "vopra/quoting.h"
#include "vopra/progress.h"

#include "rudd/qpt_delta.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

using rudd::filemap;
using rudd::qpt;
using rudd::qpt_delta;
using rudd::string;

namespace vopra {

static int shareRangeDefault(int from, int to, uint64_t offset, uint64_t length) {
    struct file_clone_range range = {from, offset, length, offset};
    return ioctl(to, FICLONERANGE, &range);
}
int (*shareRange)(int from, int to, uint64_t offset, uint64_t length) = shareRangeDefault;

static ssize_t copyRangeDefault(int from, off64_t *fromOffset, int to, off64_t *toOffset, size_t length) {
    return copy_file_range(from, fromOffset, to, toOffset, length, 0);
}
ssize_t (*copyRange)(int from, off64_t *fromOffset, int to, off64_t *toOffset, size_t length) = copyRangeDefault;

namespace {

// The errors of a system or file system that cannot copy between these two files.
bool cannotCopy(int error) {
    return error == EXDEV || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL || error == EBADF;
}

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

// The patch's exclusive-or bytes over the output's; apart, so the compiler knows the two cannot overlap
// and takes them many bytes a step.
void exclusiveOr(uint8_t *__restrict out, const uint8_t *__restrict bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; i++)
        out[i] ^= bytes[i];
}

// Collects the changed bytes (the input's XOR the patch's) of whole pages and writes them at their
// positions.
class ChangeWriter {
public:
    ChangeWriter(int output, uint32_t outputSize, int input, uint32_t inputSize)
        : output(output), outputSize(outputSize), input(input), inputSize(inputSize) {}

    // false with errno when a read or a write fails.
    bool add(uint64_t at, const uint8_t *bytes, uint32_t count) {
        while (count) {
            if (used && (pageStart(at) > pageStart(start + used - 1) + page || at - start >= sizeof buffer) &&
                !flush())
                return false;
            if (used == 0)
                start = pageStart(at), filled = 0;
            uint32_t room = uint32_t(sizeof buffer - (at - start));
            uint32_t step = count < room ? count : room;
            // The input's bytes a whole page at a time: stretches are often a few bytes long.
            uint64_t need = pageStart(at + step - 1) + page;
            if (start + filled < need && !putInput(start + filled, need))
                return false;
            filled = uint32_t(need - start);
            exclusiveOr(buffer + (at - start), bytes, step);
            used = uint32_t(at - start) + step;
            at += step;
            bytes += step;
            count -= step;
        }
        return true;
    }

    // Writes positions from .. to whole: the input's bytes with every change below to over them.
    bool writeWhole(uint64_t from, uint64_t to, qpt_delta &delta) {
        if (!flush())
            return false;
        for (start = from; start < to; start += sizeof buffer) {
            uint64_t end = to - start < sizeof buffer ? to : start + sizeof buffer;
            if (!putInput(start, end))
                return false;
            uint32_t at, count;
            const uint8_t *bytes;
            while (delta.next(end, at, bytes, count))
                exclusiveOr(buffer + (at - start), bytes, count);
            used = uint32_t(end - start);
            if (!write())
                return false;
        }
        used = 0;
        return true;
    }

    // Writes what was collected up to the end of its last page (the input's bytes there already);
    // false with errno on failure.
    bool flush() {
        if (used == 0)
            return true;
        uint64_t end = pageStart(start + used - 1) + page;
        if (end > outputSize)
            end = outputSize;
        used = uint32_t(end - start);
        if (!write())
            return false;
        used = 0;
        return true;
    }

private:
    bool write() {
        for (uint32_t done = 0; done < used;) {
            ssize_t written = pwrite(output, buffer + done, used - done, off_t(start + done));
            if (written <= 0) {
                if (written == 0)
                    errno = ENOSPC;
                return false;
            }
            done += uint32_t(written);
        }
        return true;
    }

    // The input's bytes of positions from .. to (zeros past its end) into the buffer, read rather than
    // taken from the map for the reason the checksum is. false with errno; ended when the input did.
    bool putInput(uint64_t from, uint64_t to) {
        uint64_t copied = to < inputSize ? to : inputSize;
        while (from < copied) {
            ssize_t got = pread(input, buffer + (from - start), copied - from, off_t(from));
            if (got <= 0) {
                ended = got == 0;
                return false;
            }
            from += uint64_t(got);
        }
        uint64_t zeroed = from > inputSize ? from : inputSize;
        if (zeroed < to)
            std::memset(buffer + (zeroed - start), 0, to - zeroed);
        return true;
    }

public:
    bool ended = false; // the input ended early: another program cut it short

private:
    int output;
    uint32_t outputSize;
    int input;
    uint32_t inputSize;
    uint64_t start = 0;
    uint32_t used = 0, filled = 0; // bytes of buffer collected, and holding the input's bytes
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

// Copies the input's bytes from .. to into the output at the same positions. 0 when done; else the
// errno, or -1 when the input ended early (another program cut it short).
int copyStretch(int from, int to, uint64_t begin, uint64_t end) {
    while (begin < end) {
        off64_t in = off64_t(begin), out = off64_t(begin);
        ssize_t copied = copyRange(from, &in, to, &out, size_t(end - begin));
        if (copied < 0)
            return errno;
        if (copied == 0)
            return -1;
        begin += uint64_t(copied);
    }
    return 0;
}

bool sameStatus(const struct stat &a, const struct stat &b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// The errors of a file system that cannot share these blocks, or no blocks at all.
bool cannotShare(int error) {
    return error == EOPNOTSUPP || error == ENOTTY || error == EXDEV || error == EINVAL || error == ENOSYS ||
           error == EBADF || error == EPERM || error == ETXTBSY;
}

// The file system's block: what it shares, and the unit a changed byte costs where it shares.
uint64_t blockOf(int descriptor) {
    struct statvfs status;
    if (fstatvfs(descriptor, &status) != 0 || status.f_bsize < 512 || status.f_bsize > (1u << 20) ||
        (status.f_bsize & (status.f_bsize - 1)))
        return page;
    return status.f_bsize;
}

// An unchanged run between two changed ones is shared only from shortest blocks on. A share call costs
// some 30 microseconds on xfs and btrfs here, as much as writing 6 to 8 blocks durably, and more as
// the file's extents grow in number. Shorter runs are written with the changed ones around them: where
// changes touch a third of the blocks at random, sharing every unchanged run (15000 calls for 256 MiB)
// takes twice as long as writing the whole file, while from 8 blocks on it costs what writing the
// whole file does; where they come in runs of kilobytes, it adds a third of a percent of the file.
const uint64_t shortest = 8;

// A chunk is shared around its runs of changed blocks only where its share calls keep, on average, this
// many blocks each from being written; elsewhere it is written whole, in one stream and one extent. A
// call's true cost grows with the extents it leaves for writeback and the fsync: where changes touch a
// third of the blocks at random, a call keeps 10 blocks and the shared chunks took 1.1 to 1.25 times
// as long as written ones on xfs; where they touch 30% in runs of kilobytes, 34 blocks, and sharing
// took 0.7 to 0.9 times as long. Until a call succeeded, chunks take the sharing road, which asks.
const uint64_t kept = 16;

// The output a chunk at a time, by one of two roads. Where the file system shares blocks, the
// unchanged block runs are shared with the input and each run of changed blocks is written whole into
// space of its own, so no write breaks a shared extent (unsharing costs a copy-on-write of each run
// and, on xfs, a remap at every completion). Elsewhere the chunk is copied with its changes written
// over it, or written whole where they scatter.
class ChunkRoad {
public:
    ChunkRoad(qpt_delta &delta, ChangeWriter &changes, const filemap &input, int out, uint32_t size)
        : delta(delta), changes(changes), in(input.descriptor()), out(out), size(size), block(blockOf(out)),
          common(input.size() < size ? input.size() : size) {}

    // 0, or the error number of the failing call (-1: the input ended early).
    int write(uint64_t from, uint64_t to) {
        int error;
        if (sharing == Sharing::no) {
            own += to - from;
            error = copyChunk(from, to);
        } else if (sharing == Sharing::yes && keepsTooFew(to - from, to)) {
            own += to - from;
            error = changes.writeWhole(from, to, delta) ? 0 : errno;
        } else {
            error = shareChunk(from, to);
        }
        if (error == 0 && !changes.flush())
            error = errno;
        return changes.ended ? -1 : error;
    }

    bool copying = false; // the last error is the copy's
    uint64_t own = 0;     // bytes put into space of the output's own so far, written or copied

private:
    // Whether sharing the chunk of length bytes below to would keep fewer than kept blocks a call from
    // being written.
    bool keepsTooFew(uint64_t length, uint64_t to) const {
        uint32_t runs;
        uint64_t changed = delta.changed_bytes(to, block, shortest, runs);
        return changed + (runs + 1) * kept * block > length;
    }

    int shareChunk(uint64_t from, uint64_t to) {
        uint64_t done = from, first, end;
        while (delta.changed_blocks(to, block, shortest, first, end)) {
            if (int error = share(done, first))
                return error;
            done = end < size ? end : size;
            own += done - first;
            if (!changes.writeWhole(first, done, delta))
                return errno;
        }
        return share(done, to);
    }

    // The input's bytes from .. to at the same positions, shared where the file system can; the first
    // attempt tells whether it can.
    int share(uint64_t from, uint64_t to) {
        if (to > common)
            to = common;
        if (from >= to)
            return 0;
        if (sharing != Sharing::no) {
            if (shareRange(in, out, from, to - from) == 0) {
                sharing = Sharing::yes;
                return 0;
            }
            if (!cannotShare(errno))
                return errno;
            if (sharing == Sharing::unknown)
                sharing = Sharing::no;
        }
        own += to - from;
        int error = copyStretch(in, out, from, to);
        copying = error != 0;
        return error;
    }

    // Copied with its changes written over it, or, where its changes scatter all over it, written
    // whole: each change would cost its own unsharing, far more than writing the chunk, which the disk
    // takes in one sequential stream.
    int copyChunk(uint64_t from, uint64_t to) {
        if (delta.page_runs(to, page, scattered) >= scattered)
            return changes.writeWhole(from, to, delta) ? 0 : errno;
        int error = from < common ? copyStretch(in, out, from, to < common ? to : common) : 0;
        copying = error != 0;
        uint32_t at, count;
        const uint8_t *bytes;
        while (error == 0 && delta.next(to, at, bytes, count)) {
            if (!changes.add(at, bytes, count))
                error = errno;
        }
        return error;
    }

    enum class Sharing { unknown, yes, no };
    qpt_delta &delta;
    ChangeWriter &changes;
    int in, out;
    uint32_t size;
    uint64_t block;
    uint32_t common;
    Sharing sharing = Sharing::unknown;
};

// Past the input's end the output is zeros, given their space now; the copy itself takes none where the
// file system shares blocks. 0 or the error number.
int extendPastInput(int out, uint32_t inputSize, uint32_t size) {
    if (size <= inputSize)
        return ftruncate(out, off_t(size)) == 0 ? 0 : errno;
    int error = posix_fallocate(out, off_t(inputSize), off_t(size - inputSize));
    if (error == EOPNOTSUPP || error == EINVAL)
        error = ftruncate(out, off_t(size)) == 0 ? 0 : errno;
    return error;
}

// Every chunk of the output in turn, with progress(done, size) after each; 0 or the first error number.
// Each chunk's writeback is started once it is written; the chunks before it are waited for once they
// hold a chunk's worth of space of the output's own, which keeps as much in flight as one chunk at a
// time does where all is written, without stopping at every chunk where little is (a wait there is
// for a few blocks, and on btrfs costs a tenth of a durable copy in all).
int writeChunks(ChunkRoad &road, int out, uint32_t size, const Progress &progress) {
    int error = 0;
    const unsigned start = SYNC_FILE_RANGE_WRITE;
    const unsigned wait = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    uint64_t waited = 0, ownWaited = 0; // the output below waited was waited for, holding ownWaited bytes
    for (uint64_t from = 0; from < size && error == 0;) {
        uint64_t to = size - from < progressChunk ? size : from + progressChunk, ownBefore = road.own;
        error = road.write(from, to);
        // Writeback is only a head start for the fsync to come; where it fails, that fsync tells.
        if (error == 0) {
            sync_file_range(out, off64_t(from), off64_t(to - from), start);
            if (from > waited && ownBefore - ownWaited >= progressChunk) {
                sync_file_range(out, off64_t(waited), off64_t(from - waited), wait);
                waited = from, ownWaited = ownBefore;
            }
        }
        from = to;
        if (error == 0 && progress)
            progress(unsigned(from), size);
    }
    // An empty output is whole at once.
    if (size == 0 && progress)
        progress(1, 1);
    return error;
}

} // namespace

Error copyOtherSide(const filemap &patch, const char *patchName, const qpt::summary &recorded,
                    const filemap &input, const char *inputName, const Matched &matched, Replacement &output,
                    const Progress &progress, bool &unavailable) {
    unavailable = false;
    uint32_t inputSize = input.size();
    Error changed = Error::fault(changedWhileRead(patchName, inputName));
    if (inputSize != recorded.source_size && inputSize != recorded.target_size)
        return changed;
    uint32_t size = inputSize == recorded.source_size ? recorded.target_size : recorded.source_size;
    int out = output.descriptor(), in = input.descriptor();
    auto failed = [&](int error) { return Error::fromSystem("cannot write", output.name(), error); };

    if (int error = extendPastInput(out, inputSize, size))
        return failed(error);

    // A chunk at a time: copied, its changes written over it, its writeback started; the one before
    // is waited for meanwhile, so the disk works while the next chunk is copied.
    PageUnsharing unsharing(out);
    ChangeWriter changes(out, size, in, inputSize);
    int error = 0;
    bool copying = false; // the error is the copy's
    qpt::result result = qpt::result::patch_invalid;
    const filemap *maps[] = {&patch, &input};
    bool read = BusGuard(maps).run([&] {
        qpt_delta delta(patch.data(), patch.size(), size);
        ChunkRoad road(delta, changes, input, out, size);
        error = writeChunks(road, out, size, progress);
        copying = road.copying;
        if (error == 0) {
            uint32_t tail = inputSize > size ? qpt::crc32(input.data() + size, inputSize - size) : 0;
            result = delta.verdict(recorded, inputSize, matched.checksum, tail);
        }
    });
    if (!read || error == -1)
        return changed;
    if (error) {
        if (!copying || !cannotCopy(error))
            return failed(error);
        // Nothing of this road stays: the engine's pass starts from an empty file.
        if (ftruncate(out, 0) != 0)
            return failed(errno);
        unavailable = true;
        return Error();
    }
    // The copy is of the bytes the checksum was read from only when nobody wrote to the input since.
    // The patch and the input were checked and matched before: a verdict against either means a
    // change; a wrong result from both as matched is the patch's.
    struct stat now;
    if (fstat(in, &now) != 0 || !sameStatus(now, matched.status))
        return changed;
    if (result == qpt::result::target_invalid)
        return Error::fault(damagedPatch(patchName, inputName));
    return result == qpt::result::success ? Error() : changed;
}

} // namespace vopra
