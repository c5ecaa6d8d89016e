#include "vopra/patchfile.h"
#include "vopra/busguard.h"
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

ErrorOr<Side> matchInput(const char *patchName, const qpt::summary &recorded,
                         const filemap &input, const char *inputName) {
    uint32_t size = input.size(), checksum = 0;
    bool sourceSize = size == recorded.source_size, targetSize = size == recorded.target_size;
    const filemap *maps[] = {&input};
    if ((sourceSize || targetSize) &&
        !BusGuard(maps).run([&] { checksum = qpt::crc32(input.data(), size); }))
        return Error::fault(changedWhileRead(patchName, inputName));
    bool source = sourceSize && checksum == recorded.source_checksum;
    bool target = targetSize && checksum == recorded.target_checksum;
    if (source || target)
        return source && target ? Side::both : source ? Side::source : Side::target;
    return Error::fault(string(quoted(inputName), " is neither source nor target of ", quoted(patchName), ": ",
                               mismatch(recorded, size, sourceSize, targetSize, checksum)));
}

string changedWhileRead(const char *first, const char *second) {
    return string(quoted(first), " or ", quoted(second), " changed while it was read");
}

Error writeOtherSide(const filemap &patch, const char *patchName, const filemap &input, const char *inputName,
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
    engine.progress = progress;
    qpt::result result = qpt::result::patch_invalid;
    const filemap *maps[] = {&patch, &input, &map};
    bool read = BusGuard(maps).run(
        [&] { result = engine.apply(patch.data(), patch.size(), input.data(), input.size(), map.data(), size); });
    // The patch and the input were checked and matched before: where the engine now finds either
    // wrong, a file changed while it was read. A wrong result from both as matched is the patch's.
    if (read && result == qpt::result::target_invalid)
        return Error::fault(string(quoted(patchName), " does not turn ", quoted(inputName),
                                   " into the file it records (the patch is damaged)"));
    if (!read || result != qpt::result::success)
        return Error::fault(changedWhileRead(patchName, inputName));
    // Data and attributes go to disk together, ahead of any rename, so that a crash after the file is
    // put in place cannot leave it with missing bytes or the wrong attributes.
    if (!map.sync())
        return Error::fromSystem("cannot write", output.name(), errno);
    return output.finish();
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
        if (engine.patch_failure() == EFBIG) {
            struct stat status;
            if (fstat(patch.descriptor(), &status) == 0 && status.st_size >= off_t(UINT32_MAX))
                return Error::fault(string("cannot write ", quoted(patch.name()), ": a QPT patch must be smaller than 4 GiB"));
        }
        return Error::fromSystem("cannot write", patch.name(), engine.patch_failure() ? engine.patch_failure() : EIO);
    }
    return patch.finish();
}

} // namespace vopra
