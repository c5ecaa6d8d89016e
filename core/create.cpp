#include "core/checks.h"
#include "core/files.h"
#include "core/match.h"
#include "core/names.h"
#include "core/replacement.h"
#include "core/workflow.h"

#include "rudd/bus_guard.h"
#include "rudd/error.h"
#include "rudd/qpt.h"

#include <cerrno>
#include <cstdint>
#include <sys/stat.h>

using rudd::bare;
using rudd::done;
using rudd::error;
using rudd::qpt;
using rudd::quoted;
using rudd::string;
using rudd::words;

namespace vopra {

static const char creationFailed[] = "Patch creation failed";

// The patch from source to target into patch, created by the caller, who puts it in place: written, on
// disk, with the attributes the caller asked patch to take.
static done writePatchFile(const OpenedFile &source, const OpenedFile &target, Replacement &patch,
                           const Progress &progress) {
    qpt engine;
    engine.progress = progress;
    qpt::result result = qpt::result::patch_unwritable;
    const rudd::filemap *inputs[] = {&source.map, &target.map};
    if (!rudd::bus_guard(inputs).run([&] {
            result = engine.create(source.map.data(), source.map.size(), target.map.data(), target.map.size(),
                                   patch.descriptor());
        }))
        return changedWhileRead(source.name, target.name);
    if (result != qpt::result::success) {
        // The format records sizes in 32 bits: a patch stops at its last byte below 4 GiB.
        struct stat status;
        if (engine.patch_failure() == EFBIG && fstat(patch.descriptor(), &status) == 0 &&
            uint64_t(status.st_size) + (1u << 20) > UINT32_MAX)
            return error::fault(
                words("cannot write ", quoted(patch.name()), ": a QPT patch must be smaller than 4 GiB"));
        return error::system(engine.patch_failure(), words("cannot write ", quoted(patch.name())));
    }
    return patch.finish();
}

// The patch is written whole and put on disk before it takes its name: a failed or interrupted run
// leaves no partial patch and keeps an earlier file of that name as it was. An earlier patch hands on
// what it carries; notes tell what the user should know of the new one.
static rudd::either<std::vector<words>> writePatch(OpenedFile &source, OpenedFile &target,
                                                   const string &patchName, const Progress &progress) {
    RUDD_TRY(mapFile(source));
    RUDD_TRY(mapFile(target));
    Replacement patch(patchName, patchName, ".tmp");
    RUDD_TRY(patch.create());
    patch.keepAttributesOfReplaced();
    RUDD_TRY(writePatchFile(source, target, patch, progress));
    RUDD_TRY(patch.replace());
    return patch.notes();
}

Outcome createPatch(const string &sourcePath, const string &targetPath, const Progress &progress) {
    string patchName(rudd::remove_extension(sourcePath), ".qpt");
    OpenedFile source, target;
    done opened;
    Named earlier; // what the patch name holds now
    auto cause = [&] { return opened.failure().text(); };
    // Each file is opened once, by the check that it exists. Folders, devices and FIFOs never reach the
    // engine. The patch name must not be the source's or the target's own file (one of them a link to
    // it, say): the new patch would replace the data it was made from. An earlier patch the user cannot
    // write stays as it is.
    Checks checks;
    checks
        .check([&] { return (opened = openFile(sourcePath, source)).failed(); }, "Source file does not exist",
               cause)
        .check([&] { return (opened = openFile(targetPath, target)).failed(); }, "Target file does not exist",
               cause)
        .check([&] { return rudd::iendswith(sourcePath, ".qpt"); }, "Source file extension must not be .qpt")
        .check([&] { return rudd::iendswith(targetPath, ".qpt"); }, "Target file extension must not be .qpt")
        .check([&] { return source.tooLarge(); }, "Source file must be smaller than 4 GiB")
        .check([&] { return target.tooLarge(); }, "Target file must be smaller than 4 GiB")
        .check([&] { return !source.regular(); }, creationFailed, [&] { return notRegular(source); })
        .check([&] { return !target.regular(); }, creationFailed, [&] { return notRegular(target); })
        .check([&] { return (earlier = lookUp(patchName)).names(source.status); }, creationFailed,
               [&] { return words(quoted(patchName), " is the source itself"); })
        .check([&] { return earlier.names(target.status); }, creationFailed,
               [&] { return words(quoted(patchName), " is the target itself"); })
        .check([&] { return earlier.writeProtected(patchName); }, creationFailed,
               [&] { return words(quoted(patchName), " is write-protected"); });
    Outcome refused{};
    if (checks.refused(refused))
        return refused;
    rudd::either<std::vector<words>> written = writePatch(source, target, patchName, progress);
    if (written.failed())
        return warning(creationFailed, written.failure().text());
    return information(
        words("Patch creation was successful!\nOutput file name: ", bare(rudd::file_name(patchName))),
        written.value());
}

// The steps of the tool's own form before anything is written, each on the files as opened.
static done openForPatch(OpenedFile &source, OpenedFile &target, const string &sourcePath,
                         const string &targetPath, const string &patchPath) {
    RUDD_TRY(openFile(sourcePath, source));
    RUDD_TRY(fitForReading(source));
    RUDD_TRY(openFile(targetPath, target));
    RUDD_TRY(fitForReading(target));
    return usableOutput(patchPath, "PATCH", source, target);
}

Outcome createPatchAs(const string &sourcePath, const string &targetPath, const string &patchPath,
                      const Progress &progress) {
    OpenedFile source, target;
    done opened = openForPatch(source, target, sourcePath, targetPath, patchPath);
    if (opened.failed())
        return warning(opened.failure().text());
    return toolOutcome(writePatch(source, target, patchPath, progress), patchPath);
}

} // namespace vopra
