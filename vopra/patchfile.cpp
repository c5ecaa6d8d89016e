#include "vopra/patchfile.h"
#include "vopra/busguard.h"
#include "vopra/files.h"
#include "vopra/copyroad.h"
#include "vopra/progress.h"
#include "vopra/quoting.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

using rudd::filemap;
using rudd::qpt;
using rudd::string;

namespace vopra {

static string damaged(const char *name, qpt::flaw flaw) {
    if (flaw == qpt::flaw::not_a_patch)
        return string(quoted(name), " is not a QPT patch");
    const char *what = flaw == qpt::flaw::sizes           ? "its recorded sizes run past its end"
                       : flaw == qpt::flaw::hunk_unended  ? "a hunk runs past its end"
                       : flaw == qpt::flaw::hunk_too_long ? "a hunk runs past the recorded size"
                                                          : "its checksum does not match";
    return string(quoted(name), " is a damaged QPT patch: ", what);
}

ErrorOr<qpt::summary> readPatch(const filemap &patch, const char *name) {
    qpt::summary recorded;
    qpt::flaw flaw = qpt::flaw::none;
    qpt::result result = qpt::result::patch_invalid;
    const filemap *maps[] = {&patch};
    if (!BusGuard(maps).run([&] { result = qpt::inspect(patch.data(), patch.size(), recorded, &flaw); }))
        return Error::fault(string(quoted(name), " changed while it was read"));
    if (result != qpt::result::success)
        return Error::fault(damaged(name, flaw));
    return recorded;
}

Error openPatch(filemap &patch, const char *patchName, qpt::summary &recorded, filemap &input,
                const char *inputName) {
    Error error = openInput(patch, patchName);
    if (error.failed())
        return error;
    ErrorOr<qpt::summary> read = readPatch(patch, patchName);
    recorded = read.value();
    if (read.failed() || !inputName)
        return read.error();
    return openInput(input, inputName);
}

// Why a file of this size and checksum is neither of the patch's files.
static string mismatch(const qpt::summary &recorded, uint32_t size, bool sourceSize, bool targetSize,
                       uint32_t checksum) {
    char reason[160];
    if (!sourceSize && !targetSize && recorded.source_size == recorded.target_size)
        std::snprintf(reason, sizeof reason, "size %u bytes, expected %u", size, recorded.source_size);
    else if (!sourceSize && !targetSize)
        std::snprintf(reason, sizeof reason, "size %u bytes, expected %u (source) or %u (target)", size,
                      recorded.source_size, recorded.target_size);
    else if (sourceSize && targetSize)
        std::snprintf(reason, sizeof reason, "CRC-32 %08x, expected %08x (source) or %08x (target)", checksum,
                      recorded.source_checksum, recorded.target_checksum);
    else
        std::snprintf(reason, sizeof reason, "CRC-32 %08x, expected %08x (%s)", checksum,
                      sourceSize ? recorded.source_checksum : recorded.target_checksum,
                      sourceSize ? "source" : "target");
    return string(reason);
}

ErrorOr<Matched> matchInput(const char *patchName, const qpt::summary &recorded, const filemap &input,
                            const char *inputName, const Progress &progress) {
    Matched matched;
    uint32_t size = input.size();
    bool sourceSize = size == recorded.source_size, targetSize = size == recorded.target_size;
    if (fstat(input.descriptor(), &matched.status) != 0)
        return Error::fromSystem("cannot read", inputName, errno);
    int read = 0;
    if (sourceSize || targetSize)
        read = checksumInChunks(input.descriptor(), size, progress, matched.checksum);
    if (read > 0)
        return Error::fromSystem("cannot read", inputName, read);
    if (read < 0)
        return Error::fault(changedWhileRead(patchName, inputName));
    bool source = sourceSize && matched.checksum == recorded.source_checksum;
    bool target = targetSize && matched.checksum == recorded.target_checksum;
    if (!source && !target)
        return Error::fault(string(quoted(inputName), " is neither source nor target of ", quoted(patchName), ": ",
                                   mismatch(recorded, size, sourceSize, targetSize, matched.checksum)));
    matched.side = source && target ? Side::both : source ? Side::source : Side::target;
    return matched;
}

string changedWhileRead(const char *first, const char *second) {
    return string(quoted(first), " or ", quoted(second), " changed while it was read");
}

string damagedPatch(const char *patchName, const char *inputName) {
    return string(quoted(patchName), " does not turn ", quoted(inputName),
                  " into the file it records (the patch is damaged)");
}

// The engine's pass into the mapped output, where the system cannot copy: the pass is the first half
// of the write, its flush in chunks the second.
static Error writeByPass(const filemap &patch, const char *patchName, const filemap &input, const char *inputName,
                         Replacement &output, const Progress &progress) {
    qpt engine;
    uint32_t size = 0;
    engine.apply(patch.data(), patch.size(), input.data(), input.size(), nullptr, size);
    Error error = output.resize(size);
    if (error.failed())
        return error;
    filemap map;
    if (!map.open(output.descriptor(), filemap::mode::readwrite) || map.size() != size)
        return Error::fromSystem("cannot write", output.name(), errno);
    map.populate();
    engine.progress = phase(progress, 0, progressScale / 2);
    qpt::result result = qpt::result::patch_invalid;
    const filemap *maps[] = {&patch, &input, &map};
    bool read = BusGuard(maps).run(
        [&] { result = engine.apply(patch.data(), patch.size(), input.data(), input.size(), map.data(), size); });
    // The patch and the input were checked and matched before: where the engine now finds either
    // wrong, a file changed while it was read. A wrong result from both as matched is the patch's.
    if (read && result == qpt::result::target_invalid)
        return Error::fault(damagedPatch(patchName, inputName));
    if (!read || result != qpt::result::success)
        return Error::fault(changedWhileRead(patchName, inputName));
    if (!flushInChunks(output.descriptor(), size, phase(progress, progressScale / 2, progressScale)) || !map.sync())
        return Error::fromSystem("cannot write", output.name(), errno);
    return Error();
}

Error writeOtherSide(const filemap &patch, const char *patchName, const qpt::summary &recorded, const filemap &input,
                     const char *inputName, const Matched &matched, Replacement &output, const Progress &progress) {
    bool unavailable = false;
    Error error = copyOtherSide(patch, patchName, recorded, input, inputName, matched, output, progress, unavailable);
    if (unavailable)
        error = writeByPass(patch, patchName, input, inputName, output, progress);
    // Data and attributes go to disk together, ahead of any rename, so that a crash after the file is
    // put in place cannot leave it with missing bytes or the wrong attributes.
    return error.failed() ? error : output.finish();
}

Error writePatchFile(const filemap &source, const char *sourceName, const filemap &target, const char *targetName,
                     Replacement &patch, const Progress &progress) {
    qpt engine;
    engine.progress = progress;
    qpt::result result = qpt::result::patch_unwritable;
    const filemap *inputs[] = {&source, &target};
    if (!BusGuard(inputs).run([&] {
            result = engine.create(source.data(), source.size(), target.data(), target.size(), patch.descriptor());
        }))
        return Error::fault(changedWhileRead(sourceName, targetName));
    if (result != qpt::result::success) {
        // The format records sizes in 32 bits: a patch stops at its last byte below 4 GiB.
        struct stat status;
        if (engine.patch_failure() == EFBIG && fstat(patch.descriptor(), &status) == 0 &&
            uint64_t(status.st_size) + (1u << 20) > UINT32_MAX)
            return Error::fault(string("cannot write ", quoted(patch.name()), ": a QPT patch must be smaller than 4 GiB"));
        return Error::fromSystem("cannot write", patch.name(), engine.patch_failure() ? engine.patch_failure() : EIO);
    }
    return patch.finish();
}

} // namespace vopra
