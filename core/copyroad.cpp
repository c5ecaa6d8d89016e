#include "core/copyroad.h"
#include "core/match.h"
#include "core/progress.h"

#include "rudd/bus_guard.h"
#include "rudd/descriptor.h"
#include "rudd/qpt_delta.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

using rudd::done;
using rudd::error;
using rudd::filemap;
using rudd::qpt;
using rudd::qpt_delta;
using rudd::quoted;
using rudd::words;

namespace vopra {

static int shareRangeDefault(int from, int to, uint64_t offset, uint64_t length) {
    struct file_clone_range range = {from, offset, length, offset};
    return ioctl(to, FICLONERANGE, &range);
}
int (*shareRange)(int from, int to, uint64_t offset, uint64_t length) = shareRangeDefault;

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

uint64_t pageStart(uint64_t at) {
    return at & ~(page - 1);
}

// The patch's exclusive-or bytes over the output's; apart, so the compiler knows the two cannot overlap
// and takes them many bytes a step.
void exclusiveOr(uint8_t *__restrict out, const uint8_t *__restrict bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; i++)
        out[i] ^= bytes[i];
}

// How far a copy went: whole, or not at all where the system cannot copy here, and the engine's pass
// then makes the output.
enum class Copied { whole, unavailable };

// What the road says where it fails: a write or a read of the system failed, or the input ended early
// (another program cut it short).
struct Faults {
    words writing, reading;
    error cutShort;
};

// Collects the changed bytes (the input's XOR the patch's) of whole pages and writes them at their
// positions.
class ChangeWriter {
public:
    ChangeWriter(int output, uint32_t outputSize, int input, uint32_t inputSize, const Faults &faults)
        : output(output), outputSize(outputSize), input(input), inputSize(inputSize), faults(faults) {}

    done add(uint64_t at, const uint8_t *bytes, uint32_t count) {
        while (count) {
            if (used && (pageStart(at) > pageStart(start + used - 1) + page || at - start >= sizeof buffer))
                RUDD_TRY(flush());
            if (used == 0)
                start = pageStart(at), filled = 0;
            uint32_t room = uint32_t(sizeof buffer - (at - start));
            uint32_t step = count < room ? count : room;
            // The input's bytes a whole page at a time: stretches are often a few bytes long.
            uint64_t need = pageStart(at + step - 1) + page;
            if (start + filled < need)
                RUDD_TRY(putInput(start + filled, need));
            filled = uint32_t(need - start);
            exclusiveOr(buffer + (at - start), bytes, step);
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
            RUDD_TRY(putInput(start, end));
            uint32_t at, count;
            const uint8_t *bytes;
            while (delta.next(end, at, bytes, count))
                exclusiveOr(buffer + (at - start), bytes, count);
            used = uint32_t(end - start);
            RUDD_TRY(write());
        }
        used = 0;
        return done();
    }

    // Writes what was collected up to the end of its last page (the input's bytes there already).
    done flush() {
        if (used == 0)
            return done();
        uint64_t end = pageStart(start + used - 1) + page;
        if (end > outputSize)
            end = outputSize;
        used = uint32_t(end - start);
        RUDD_TRY(write());
        used = 0;
        return done();
    }

private:
    done write() { return rudd::write_all(output, buffer, used, start, faults.writing); }

    // The input's bytes of positions from .. to (zeros past its end) into the buffer, read rather than
    // taken from the map for the reason the checksum is.
    done putInput(uint64_t from, uint64_t to) {
        uint64_t copied = to < inputSize ? to : inputSize;
        while (from < copied) {
            ssize_t got = pread(input, buffer + (from - start), copied - from, off_t(from));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return error::system(errno, faults.reading);
            if (got == 0)
                return faults.cutShort;
            from += uint64_t(got);
        }
        uint64_t zeroed = from > inputSize ? from : inputSize;
        if (zeroed < to)
            std::memset(buffer + (zeroed - start), 0, to - zeroed);
        return done();
    }

    int output;
    uint32_t outputSize;
    int input;
    uint32_t inputSize;
    const Faults &faults;
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

bool sameStatus(const struct stat &a, const struct stat &b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
           a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// The file system's block: what it shares, and the unit a changed byte costs where it shares.
uint64_t blockOf(int descriptor) {
    struct statvfs status;
    if (fstatvfs(descriptor, &status) != 0 || status.f_bsize < 512 || status.f_bsize > (1u << 20) ||
        (status.f_bsize & (status.f_bsize - 1)))
        return page;
    return status.f_bsize;
}

// The output a chunk at a time, by one of two roads. Where the file system shares blocks, the
// unchanged block runs are shared with the input and each run of changed blocks is written whole into
// space of its own, so no write breaks a shared extent (unsharing costs a copy-on-write of each run
// and, on xfs, a remap at every completion). Elsewhere the chunk is copied with its changes written
// over it, or written whole where they scatter.
class ChunkRoad {
public:
    ChunkRoad(qpt_delta &delta, ChangeWriter &changes, int in, int out, uint32_t size, uint32_t common,
              const Faults &faults)
        : delta(delta), changes(changes), in(in), out(out), size(size), common(common), block(blockOf(out)),
          faults(faults) {}

    rudd::either<Copied> write(uint64_t from, uint64_t to) {
        Copied copied = Copied::whole;
        if (sharing == Sharing::no) {
            own += to - from;
            copied = RUDD_TRY(copyChunk(from, to));
        } else if (sharing == Sharing::yes && keepsTooFew(to - from, to)) {
            own += to - from;
            RUDD_TRY(changes.writeWhole(from, to, delta));
        } else {
            copied = RUDD_TRY(shareChunk(from, to));
        }
        if (copied == Copied::whole)
            RUDD_TRY(changes.flush());
        return copied;
    }

    uint64_t own = 0; // bytes put into space of the output's own so far, written or copied

private:
    // Whether sharing the chunk of length bytes below to would keep fewer than kept blocks a call from
    // being written.
    bool keepsTooFew(uint64_t length, uint64_t to) const {
        qpt_delta::block_runs changed = delta.changed_bytes(to, block, shortest);
        return changed.bytes + (changed.count + 1) * kept * block > length;
    }

    rudd::either<Copied> shareChunk(uint64_t from, uint64_t to) {
        uint64_t shared = from;
        while (std::optional<qpt_delta::block_run> changed = delta.changed_blocks(to, block, shortest)) {
            if (RUDD_TRY(share(shared, changed->from)) == Copied::unavailable)
                return Copied::unavailable;
            shared = changed->to < size ? changed->to : size;
            own += shared - changed->from;
            RUDD_TRY(changes.writeWhole(changed->from, shared, delta));
        }
        return share(shared, to);
    }

    // The input's bytes from .. to at the same positions, shared where the file system can; the first
    // attempt tells whether it can.
    rudd::either<Copied> share(uint64_t from, uint64_t to) {
        if (to > common)
            to = common;
        if (from >= to)
            return Copied::whole;
        if (sharing != Sharing::no) {
            if (shareRange(in, out, from, to - from) == 0) {
                sharing = Sharing::yes;
                return Copied::whole;
            }
            // Besides a system without the call: files the system will not share (EBADF, EPERM, ETXTBSY).
            if (!rudd::unsupported_here(errno) && errno != EBADF && errno != EPERM && errno != ETXTBSY)
                return error::system(errno, faults.writing);
            if (sharing == Sharing::unknown)
                sharing = Sharing::no;
        }
        own += to - from;
        return copyStretch(from, to);
    }

    // Copied with its changes written over it, or, where its changes scatter all over it, written
    // whole: each change would cost its own unsharing, far more than writing the chunk, which the disk
    // takes in one sequential stream.
    rudd::either<Copied> copyChunk(uint64_t from, uint64_t to) {
        if (delta.page_runs(to, page, scattered) >= scattered) {
            RUDD_TRY(changes.writeWhole(from, to, delta));
            return Copied::whole;
        }
        if (from < common && RUDD_TRY(copyStretch(from, to < common ? to : common)) == Copied::unavailable)
            return Copied::unavailable;
        uint32_t at, count;
        const uint8_t *bytes;
        while (delta.next(to, at, bytes, count))
            RUDD_TRY(changes.add(at, bytes, count));
        return Copied::whole;
    }

    // Copies the input's bytes from .. to into the output at the same positions.
    rudd::either<Copied> copyStretch(uint64_t begin, uint64_t end) {
        while (begin < end) {
            off64_t at = off64_t(begin), to = off64_t(begin);
            ssize_t copied = copyRange(in, &at, out, &to, size_t(end - begin));
            // EBADF: this system copies to no file opened as the output is, nor from one opened as the input.
            if (copied < 0 && (rudd::unsupported_here(errno) || errno == EBADF))
                return Copied::unavailable;
            if (copied < 0)
                return error::system(errno, faults.writing);
            if (copied == 0)
                return faults.cutShort;
            begin += uint64_t(copied);
        }
        return Copied::whole;
    }

    enum class Sharing { unknown, yes, no };
    qpt_delta &delta;
    ChangeWriter &changes;
    int in, out;
    uint32_t size, common;
    uint64_t block;
    const Faults &faults;
    Sharing sharing = Sharing::unknown;
};

// Every chunk of the output in turn, with progress(done, size) after each. Each chunk's writeback is
// started once it is written; the chunks before it are waited for once they hold a chunk's worth of
// space of the output's own, which keeps as much in flight as one chunk at a time does where all is
// written, without stopping at every chunk where little is (a wait there is for a few blocks, and on
// btrfs costs a tenth of a durable copy in all).
rudd::either<Copied> writeChunks(ChunkRoad &road, int out, uint32_t size, const Progress &progress) {
    rudd::write_behind behind(out, progressChunk);
    for (uint64_t from = 0; from < size;) {
        uint64_t to = size - from < progressChunk ? size : from + progressChunk, ownBefore = road.own;
        if (RUDD_TRY(road.write(from, to)) == Copied::unavailable)
            return Copied::unavailable;
        behind.written(to, road.own - ownBefore);
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
    uint32_t inputSize = input.size(), size = in.matched.outputSize,
             common = inputSize < size ? inputSize : size;
    int out = output.descriptor();
    Faults faults{words("cannot write ", quoted(output.name())), words("cannot read ", quoted(in.input.name)),
                  changedWhileRead(in.patch.name, in.input.name)};
    const words &failing = faults.writing;

    // The output has its size first: past the input's end zeros, given their space now; the copy and
    // the shared blocks themselves take none.
    if (size > inputSize)
        RUDD_TRY(rudd::allocate(out, inputSize, size - inputSize, failing));
    else if (ftruncate(out, off_t(size)) != 0)
        return error::system(errno, failing);

    PageUnsharing unsharing(out);
    ChangeWriter changes(out, size, input.descriptor(), inputSize, faults);
    rudd::either<Copied> copied = Copied::whole;
    qpt::result result = qpt::result::patch_invalid;
    const filemap *maps[] = {&in.patch.map, &input};
    bool read = rudd::bus_guard(maps).run([&] {
        qpt_delta delta(in.patch.map.data(), in.patch.map.size(), in.recorded, size);
        ChunkRoad road(delta, changes, input.descriptor(), out, size, common, faults);
        copied = writeChunks(road, out, size, progress);
        if (copied && copied.value() == Copied::whole) {
            uint32_t tail = inputSize > size ? qpt::crc32(input.data() + size, inputSize - size) : 0;
            result = delta.verdict(in.matched.outputChecksum, inputSize, in.matched.checksum, tail);
        }
    });
    if (!read)
        return faults.cutShort;
    if (copied.failed())
        return copied.failure();
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
        return faults.cutShort;
    if (result != qpt::result::success)
        return damagedPatch(in.patch.name, in.input.name);
    return Copy::made;
}

} // namespace vopra
