#include "vopra/patchfile.h"
#include "vopra/files.h"
#include "vopra/busguard.h"
#include "vopra/quoting.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

using rudd::filemap;
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
    why = flaw == qpt::flaw::not_a_patch ? string(quoted(name), " is not a QPT patch")
                                         : string(quoted(name), " is a damaged QPT patch: ", what);
    return false;
}

Side matchFile(const qpt::summary &recorded, const uint8_t *data, uint32_t size, string &why) {
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
    uint32_t checksum = qpt::crc32(data, size);
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

string changedWhileRead(const char *first, const char *second) {
    return string(quoted(first), " or ", quoted(second), " changed while it was read");
}

bool readPatchGuarded(const filemap &patch, const char *name, qpt::summary &recorded, string &why) {
    bool patchRead = false;
    const filemap *maps[] = {&patch};
    if (!BusGuard(maps).run([&] { patchRead = readPatch(patch, name, recorded, why); })) {
        why = string(quoted(name), " changed while it was read");
        return false;
    }
    return patchRead;
}

bool matchInput(const filemap &patch, const char *patchName, const filemap &input, const char *inputName,
                qpt::summary &recorded, Side &side, string &why) {
    bool patchRead = false;
    string reason;
    side = Side::neither;
    const filemap *maps[] = {&patch, &input};
    bool read = BusGuard(maps).run([&] {
        patchRead = readPatch(patch, patchName, recorded, why);
        if (patchRead)
            side = matchFile(recorded, input.data(), input.size(), reason);
    });
    if (!read)
        why = changedWhileRead(patchName, inputName);
    else if (patchRead && side == Side::neither)
        why = string(quoted(inputName), " is neither source nor target of ", quoted(patchName), ": ", reason);
    return read && patchRead && side != Side::neither;
}

Written writeOtherSide(const filemap &patch, const filemap &input, Replacement &output, const Progress &progress,
                       string &why) {
    qpt engine;
    uint32_t size = 0;
    engine.apply(patch.data(), patch.size(), input.data(), input.size(), nullptr, size);
    filemap map;
    if (!output.resize(size)) {
        why = output.cause();
        return Written::failed;
    }
    if (!map.open(output.descriptor(), filemap::mode::readwrite) || map.size() != size) {
        why = failure("cannot write", output.name(), errno);
        return Written::failed;
    }
    map.populate();
    engine.progress = progress;
    qpt::result result = qpt::result::patch_invalid;
    const filemap *maps[] = {&patch, &input, &map};
    if (!BusGuard(maps).run([&] {
            result = engine.apply(patch.data(), patch.size(), input.data(), input.size(), map.data(), size);
        }))
        return Written::changed;
    // The patch and the input were checked and matched before: where the engine now finds either
    // wrong, a file changed while it was read. A wrong result from both as matched is the patch's.
    if (result == qpt::result::target_invalid)
        return Written::damaged;
    if (result != qpt::result::success)
        return Written::changed;
    // Data and attributes go to disk together, ahead of any rename, so that a crash after the file is
    // put in place cannot leave it with missing bytes or the wrong attributes.
    if (!map.sync()) {
        why = failure("cannot write", output.name(), errno);
        return Written::failed;
    }
    if (!output.finish()) {
        why = output.cause();
        return Written::failed;
    }
    return Written::done;
}

// The format records sizes in 32 bits: a patch stops at its last byte below 4 GiB.
static bool reachedLimit(int descriptor) {
    struct stat status;
    return fstat(descriptor, &status) == 0 && uint64_t(status.st_size) + 65536 >= (uint64_t(1) << 32);
}

Written writePatchFile(const filemap &source, const filemap &target, Replacement &patch, const Progress &progress,
                       string &why) {
    qpt engine;
    engine.progress = progress;
    qpt::result result = qpt::result::patch_unwritable;
    const filemap *inputs[] = {&source, &target};
    errno = 0;
    bool read = BusGuard(inputs).run([&] {
        result = engine.create(source.data(), source.size(), target.data(), target.size(), patch.descriptor());
    });
    int error = errno;
    if (!read)
        return Written::changed;
    if (result != qpt::result::success) {
        if (reachedLimit(patch.descriptor()))
            why = string("cannot write ", quoted(patch.name()), ": a QPT patch must be smaller than 4 GiB");
        else
            why = error ? failure("cannot write", patch.name(), error)
                        : string("cannot write ", quoted(patch.name()), ": write failed");
        return Written::failed;
    }
    if (!patch.finish()) {
        why = patch.cause();
        return Written::failed;
    }
    return Written::done;
}

} // namespace vopra
