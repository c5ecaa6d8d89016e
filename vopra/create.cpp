#include "vopra/checks.h"
#include "vopra/files.h"
#include "vopra/patchfile.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

#include "rudd/file.h"
#include "rudd/qpt.h"

#include <cerrno>
#include <cstring>

using rudd::filemap;
using rudd::qpt;
using rudd::string;

namespace vopra {

static const char creationFailed[] = "Patch creation failed";

Written writePatchFile(const filemap &source, const filemap &target, Replacement &patch, const Progress &progress,
                       string &why) {
    qpt engine;
    engine.progress = progress;
    qpt::result result = qpt::result::patch_unwritable;
    const filemap *inputs[] = {&source, &target};
    errno = 0;
    bool read = BusGuard(inputs, 2).run([&] {
        result = engine.create(source.data(), source.size(), target.data(), target.size(), patch.descriptor());
    });
    int error = errno;
    if (!read)
        return Written::changed;
    if (result != qpt::result::success) {
        why = string("cannot write '", patch.name(), "': ", error ? std::strerror(error) : "write failed");
        return Written::failed;
    }
    if (!patch.finish(defaultPermissions())) {
        why = patch.cause();
        return Written::failed;
    }
    return Written::done;
}

Outcome createPatch(const string &sourcePath, const string &targetPath, const Progress &progress) {
    string patchName(rudd::remove_extension(sourcePath), ".qpt");
    PathInfo sourceInfo = inspectPath(sourcePath), targetInfo = inspectPath(targetPath);
    string sourceMissing, targetMissing;
    // Folders, devices and FIFOs never reach the engine. The patch name must not be the source's or
    // the target's own file (one of them a link to it, say): the new patch would replace the data it
    // was made from. An earlier patch the user cannot write stays as it is.
    const Check checks[] = {
        {!readable(sourcePath, sourceMissing), "Source file does not exist", sourceMissing},
        {!readable(targetPath, targetMissing), "Target file does not exist", targetMissing},
        {rudd::iendswith(sourcePath, ".qpt"), "Source file extension must not be .qpt"},
        {rudd::iendswith(targetPath, ".qpt"), "Target file extension must not be .qpt"},
        {sourceInfo.tooLarge, "Source file must be smaller than 4 GiB"},
        {targetInfo.tooLarge, "Target file must be smaller than 4 GiB"},
        {!sourceInfo.regular, creationFailed, notRegular(sourcePath, sourceInfo)},
        {!targetInfo.regular, creationFailed, notRegular(targetPath, targetInfo)},
        {namesFile(patchName, sourceInfo), creationFailed, string("'", patchName, "' is the source itself")},
        {namesFile(patchName, targetInfo), creationFailed, string("'", patchName, "' is the target itself")},
        {writeProtected(patchName), creationFailed, string("'", patchName, "' is write-protected")},
    };
    Outcome refused{};
    if (firstRefused(checks, refused))
        return refused;
    filemap source, target;
    string why;
    if (!openInput(source, sourcePath, why) || !openInput(target, targetPath, why))
        return warning(creationFailed, why);

    // The patch is written whole and put on disk before it takes its name: a failed or interrupted run
    // leaves no partial patch and keeps an earlier file of that name as it was.
    Replacement patch(patchName, patchName, ".tmp");
    if (!patch.create())
        return warning(creationFailed, patch.cause());
    Written written = writePatchFile(source, target, patch, progress, why);
    source.close();
    target.close();
    if (written == Written::changed)
        why = string("'", sourcePath, "' or '", targetPath, "' changed while it was read");
    else if (written == Written::done && !patch.replace())
        why = patch.cause();
    if (!why.empty())
        return warning(creationFailed, why);
    return information(string("Patch creation was successful!\nOutput file name: ", rudd::file_name(patchName)));
}

} // namespace vopra
