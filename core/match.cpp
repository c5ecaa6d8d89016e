#include "core/match.h"
#include "core/progress.h"

#include <cstdio>

using rudd::error;
using rudd::qpt;
using rudd::quoted;
using rudd::string;
using rudd::words;

namespace vopra {

// Why a file of this size and checksum is neither of the patch's files.
static string mismatch(const qpt::summary &recorded, uint32_t size, uint32_t checksum) {
    bool sourceSize = size == recorded.source_size, targetSize = size == recorded.target_size;
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

rudd::either<Matched> matchInput(const char *patchName, const qpt::summary &recorded, const OpenedFile &input,
                                 const Progress &progress) {
    Matched matched;
    const char *inputName = input.name;
    uint32_t size = uint32_t(input.status.st_size);
    // A file of neither size is not read at all.
    if (size == recorded.source_size || size == recorded.target_size)
        matched.checksum = RUDD_TRY(checksumInChunks(input.file.get(), size, progress,
                                                     words("cannot read ", quoted(inputName)),
                                                     changedWhileRead(patchName, inputName)));
    matched.side = qpt::match(recorded, size, matched.checksum);
    if (matched.side == Side::neither)
        return error::fault(words(quoted(inputName), " is neither source nor target of ", quoted(patchName),
                                  ": ", mismatch(recorded, size, matched.checksum)));
    matched.outputSize = qpt::output_size(recorded, matched.side);
    matched.outputChecksum = qpt::output_checksum(recorded, matched.side);
    return matched;
}

error changedWhileRead(const char *first, const char *second) {
    return error::fault(words(quoted(first), " or ", quoted(second), " changed while it was read"));
}

error damagedPatch(const char *patchName, const char *inputName) {
    return error::fault(words(quoted(patchName), " does not turn ", quoted(inputName),
                              " into the file it records (the patch is damaged)"));
}

} // namespace vopra
