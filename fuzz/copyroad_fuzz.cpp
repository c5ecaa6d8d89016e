// The copy road of an apply, driven through copyOtherSide alone (core/copyroad.h), on real files in a
// folder of its own ($TMPDIR, else /dev/shm or /tmp), against the engine: the same verdict and, on
// success, the same bytes, with progress reported in order up to the output's size. The system's copy
// is copy_file_range itself, or one that copies a little at a time, is unavailable from the start or part
// way (the caller's fallback, writeOtherSide, then makes the output), fails, or meets the input's end
// early; or the disk fills (a file size limit) at a size near an edge. Shapes lie near the road's
// edges: pages, the change buffer (64 KiB), the page-run limit of a chunk, the chunk (8 MiB), and an
// output longer or shorter than its input.
// Input: flags (bits 0-2: the copy, as in Copy, 6 and 7 the real one; 8: applied to the patch's target;
// 16: the output's recorded checksum damaged; 32: no progress callback; 64: the disk fills where the
// parameter and the sizes' offsets place it, as the real copy goes on; 128: the file system shares
// blocks, through the copy, so it refuses, fails or meets the input's end as the copy does, and may
// share only whole blocks that no change touches), the copy's parameter, the
// source's and the target's size (an edge and an offset each, as in place), then up to 6 changes of 5
// bytes each: where (edge, offset), how many pieces at which stride, how long, which bytes.

#include "core/copyroad.h"
#include "core/inputs.h"
#include "core/match.h"
#include "core/otherside.h"
#include "core/patchfile.h"
#include "core/replacement.h"

#include "rudd/file.h"
#include "rudd/qpt.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using bytes = std::vector<uint8_t>;

namespace {

enum Copy { real, shortCopies, unavailable, unavailableLater, failsLater, endsLater };
struct {
    int copy, calls;
    unsigned parameter;
    bool failed; // the copy said what its mode makes it say
} copier;

ssize_t copyRange(int from, off64_t *fromOffset, int to, off64_t *toOffset, size_t length) {
    static const int cannot[] = {EXDEV, EOPNOTSUPP, ENOSYS, EINVAL, EBADF};
    bool late = copier.calls++ >= int(copier.parameter % 4);
    if (copier.copy == shortCopies && length > (copier.parameter + 1) * 1021)
        length = (copier.parameter + 1) * 1021;
    if (copier.copy == unavailable || (late && copier.copy >= unavailableLater)) {
        copier.failed = true;
        errno = copier.copy == failsLater         ? EIO
                : copier.copy == unavailableLater ? EXDEV
                                                  : cannot[copier.parameter % 5];
        return copier.copy == endsLater ? 0 : -1;
    }
    return copy_file_range(from, fromOffset, to, toOffset, length, 0);
}

const uint32_t most = 9u << 20;
uint32_t place(uint8_t edge, uint8_t offset) {
    static const uint32_t edges[] = {
        0, 4096, 65536, 131072, 1u << 20, (8u << 20) - 65536, 8u << 20, (8u << 20) + 65536};
    int64_t at = int64_t(edges[edge & 7]) + int64_t(int8_t(offset)) * ((edge & 8) ? 4096 : 1);
    return at < 0 ? 0 : at > most ? most : uint32_t(at);
}

void require(bool holds) {
    if (!holds)
        std::abort();
}

std::string folder;
bytes source(most);
const uint8_t *shareInput, *shareOutput; // of the run, the output as the engine makes it
uint64_t shareCommon;                    // the smaller of their sizes

// Stands for a file system that shares blocks of 4096 bytes (tmpfs's, as the road reads them).
int shareRange(int from, int to, uint64_t offset, uint64_t length) {
    uint64_t end = offset + length;
    require(offset % 4096 == 0 && (length % 4096 == 0 || end == shareCommon) && end <= shareCommon &&
            std::memcmp(shareInput + offset, shareOutput + offset, length) == 0);
    for (off64_t in = off64_t(offset), out = in; uint64_t(in) < end;) {
        ssize_t copied = copyRange(from, &in, to, &out, size_t(end - uint64_t(in)));
        if (copied <= 0)
            return errno = copied == 0 ? EOPNOTSUPP : errno, -1;
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *base = std::getenv("TMPDIR")           ? std::getenv("TMPDIR")
                       : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                       : "/tmp";
    folder = std::string(base) + "/qpt-copyroad.XXXXXX";
    require(mkdtemp(folder.data()) != nullptr);
    std::atexit([] { rmdir(folder.c_str()); });
    uint32_t state = 2463534242u;
    for (auto &byte : source) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        byte = uint8_t(state);
    }
    vopra::copyRange = copyRange;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 6)
        return 0;
    uint8_t flags = data[0];
    copier = {(flags & 7) > endsLater ? real : flags & 7, 0, data[1], false};
    uint32_t sourceSize = place(data[2], data[3]), targetSize = place(data[4], data[5]);
    // Buffers kept from run to run: fresh pages for every run would cost more than the run.
    static bytes target, patchBytes, expected, written;
    target.assign(source.begin(), source.begin() + targetSize);
    std::fill(target.begin() + (sourceSize < targetSize ? sourceSize : targetSize), target.end(), 0);
    for (const uint8_t *c = data + 6; c + 5 <= data + size && c < data + 6 + 6 * 5; c += 5) {
        static const uint32_t lengths[] = {1,     2,     7,     100,   4095,   4096,   8192, 32768,
                                           65535, 65536, 65537, 70000, 131072, 262144, 1,    3};
        uint32_t length = lengths[c[3] & 15] + (c[3] >> 4), strides[] = {length + 1, 4096, 8192, 65536};
        for (uint64_t piece = 0, start = place(c[0], c[1]); piece <= (c[2] & 63u) && start < targetSize;
             piece++, start += strides[c[2] >> 6])
            for (uint32_t i = 0; i < length && start + i < targetSize; i++)
                target[start + i] ^= c[4] ? uint8_t((c[4] ^ (i >> 3)) | 1) : uint8_t(i);
    }
    bool backwards = flags & 8;
    const bytes &input = backwards ? target : source;
    uint32_t inputSize = backwards ? targetSize : sourceSize;

    // The patch by the engine's creator, with the checksum of the output's side damaged where asked.
    int patchFile = memfd_create("patch", MFD_CLOEXEC),
        inputFile = open(folder.c_str(), O_TMPFILE | O_RDWR, 0600);
    require(patchFile >= 0 && inputFile >= 0 &&
            rudd::qpt().create(source.data(), sourceSize, target.data(), targetSize, patchFile) ==
                rudd::qpt::result::success);
    patchBytes.resize(size_t(lseek(patchFile, 0, SEEK_END)));
    require(pread(patchFile, patchBytes.data(), patchBytes.size(), 0) == ssize_t(patchBytes.size()));
    if (flags & 16) {
        patchBytes[patchBytes.size() - (backwards ? 12 : 8)] ^= 1;
        uint32_t check = rudd::qpt::crc32(patchBytes.data(), uint32_t(patchBytes.size() - 4));
        for (int i = 0; i < 4; i++)
            patchBytes[patchBytes.size() - 4 + i] = uint8_t(check >> (8 * i));
        require(pwrite(patchFile, patchBytes.data(), patchBytes.size(), 0) == ssize_t(patchBytes.size()));
    }
    require(pwrite(inputFile, input.data(), inputSize, 0) == ssize_t(inputSize));
    vopra::ApplyInputs run;
    run.patch.name = "p.qpt";
    run.input.name = "in";
    run.patch.file.reset(patchFile);
    run.input.file.reset(inputFile);
    require(fstat(patchFile, &run.patch.status) == 0 && fstat(inputFile, &run.input.status) == 0 &&
            !vopra::mapFile(run.patch).failed() && !vopra::mapFile(run.input).failed());
    const rudd::filemap &patch = run.patch.map, &in = run.input.map;

    rudd::qpt engine;
    uint32_t outputSize = 0;
    engine.apply(patch.data(), patch.size(), in.data(), in.size(), nullptr, outputSize);
    expected.assign(outputSize, 0);
    written.assign(outputSize, 0);
    rudd::qpt::result verdict =
        engine.apply(patch.data(), patch.size(), in.data(), in.size(), expected.data(), outputSize);

    static int (*const systemShare)(int, int, uint64_t, uint64_t) = vopra::shareRange;
    vopra::shareRange = (flags & 128) ? shareRange : systemShare;
    shareInput = input.data(), shareOutput = expected.data();
    shareCommon = inputSize < outputSize ? inputSize : outputSize;
    rudd::either<rudd::qpt::summary> recorded = vopra::readPatch(patch, "p.qpt");
    require(!recorded.failed());
    run.recorded = recorded.value();
    require(!run.match(vopra::Progress()).failed() && run.matched.outputSize == outputSize);
    std::string name = folder + "/out";
    vopra::Replacement output(name.c_str(), name.c_str(), ".tmp");
    require(!output.create().failed());
    unsigned last = 0, total = 0;
    vopra::Progress progress;
    if (!(flags & 32))
        progress = [&](unsigned offset, unsigned of) {
            require(offset > last && offset <= of && (of == outputSize || (outputSize == 0 && of == 1)));
            last = offset, total = of;
        };
    bool fills = (flags & 64) && copier.copy <= shortCopies;
    struct rlimit unlimited, room;
    struct sigaction fuzzers, ignored = {};
    ignored.sa_handler = SIG_IGN; // a write past the limit fails with EFBIG instead
    sigaction(SIGXFSZ, &ignored, &fuzzers);
    getrlimit(RLIMIT_FSIZE, &unlimited);
    room = {fills ? place(data[1], data[3] ^ data[5]) : unlimited.rlim_cur, unlimited.rlim_max};
    setrlimit(RLIMIT_FSIZE, &room);
    rudd::either<vopra::Copy> copied = vopra::copyOtherSide(run, output, progress);
    setrlimit(RLIMIT_FSIZE, &unlimited);
    sigaction(SIGXFSZ, &fuzzers, nullptr);
    auto failedAs = [&](const rudd::error &expected) {
        return copied.failed() && copied.failure().number() == expected.number() &&
               copied.failure().text() == expected.text();
    };
    if (fills && outputSize > room.rlim_cur) {
        require(copied.failed() && copied.failure().number() == EFBIG);
        return 0;
    }
    struct stat status;
    fstat(output.descriptor(), &status);
    bool cannotCopy = !copied.failed() && copied.value() == vopra::Copy::unavailable;
    require(cannotCopy == (copier.failed && copier.copy <= unavailableLater));
    if (cannotCopy) {
        // Nothing of the road is left: the caller's fallback makes the output.
        require(status.st_size == 0);
        rudd::done whole = vopra::writeOtherSide(run, output, vopra::Progress());
        copied = whole.failed() ? rudd::either<vopra::Copy>(whole.failure()) : vopra::Copy::made;
        fstat(output.descriptor(), &status);
    } else if (copier.failed) {
        require(copier.copy == failsLater ? copied.failed() && copied.failure().number() == EIO
                                          : failedAs(vopra::changedWhileRead("p.qpt", "in")));
        return 0;
    } else {
        require(last == total);
    }
    if (verdict == rudd::qpt::result::target_invalid) {
        require(failedAs(vopra::damagedPatch("p.qpt", "in")));
        return 0;
    }
    require(verdict == rudd::qpt::result::success && !copied.failed() &&
            uint64_t(status.st_size) == outputSize &&
            pread(output.descriptor(), written.data(), outputSize, 0) == ssize_t(outputSize) &&
            written == expected);
    return 0;
}
