#include "vopra/patchfile.h"
#include "vopra/progress.h"

#include <cstdio>

using rudd::qpt;
using rudd::string;

namespace vopra {

bool readPatch(const rudd::filemap &patch, const char *name, qpt::summary &recorded, string &why) {
    qpt::flaw flaw;
    if (qpt::inspect(patch.data(), patch.size(), recorded, &flaw) == qpt::result::success)
        return true;
    const char *what = "its checksum does not match";
    if (flaw == qpt::flaw::sizes)
        what = "its recorded sizes run past its end";
    else if (flaw == qpt::flaw::hunk_unended)
        what = "a hunk runs past its end";
    else if (flaw == qpt::flaw::hunk_too_long)
        what = "a hunk runs past the recorded size";
    why = flaw == qpt::flaw::not_a_patch ? string("'", name, "' is not a QPT patch")
                                         : string("'", name, "' is a damaged QPT patch: ", what);
    return false;
}

Side matchFile(const qpt::summary &recorded, const uint8_t *data, uint32_t size, string &why,
               const Progress &progress, uint32_t *checksumRead) {
    char reason[160];
    bool sourceSize = size == recorded.source_size, targetSize = size == recorded.target_size;
    if (!sourceSize && !targetSize) {
        if (recorded.source_size == recorded.target_size)
            std::snprintf(reason, sizeof reason, "size %u bytes, expected %u", size, recorded.source_size);
        else
            std::snprintf(reason, sizeof reason, "size %u bytes, expected %u (source) or %u (target)", size,
                          recorded.source_size, recorded.target_size);
        why = reason;
        return Side::neither;
    }
    uint32_t checksum = checksumInChunks(data, size, progress);
    if (checksumRead)
        *checksumRead = checksum;
    bool source = sourceSize && checksum == recorded.source_checksum;
    bool target = targetSize && checksum == recorded.target_checksum;
    if (source || target)
        return source && target ? Side::both : source ? Side::source : Side::target;
    if (sourceSize && targetSize)
        std::snprintf(reason, sizeof reason, "CRC-32 %08x, expected %08x (source) or %08x (target)", checksum,
                      recorded.source_checksum, recorded.target_checksum);
    else
        std::snprintf(reason, sizeof reason, "CRC-32 %08x, expected %08x (%s)", checksum,
                      sourceSize ? recorded.source_checksum : recorded.target_checksum,
                      sourceSize ? "source" : "target");
    why = reason;
    return Side::neither;
}

} // namespace vopra
