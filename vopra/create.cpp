#include "vopra/files.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

#include "rudd/file.h"
#include "rudd/qpt.h"

#include <unistd.h>

using rudd::file;
using rudd::filemap;
using rudd::qpt;
using rudd::string;

namespace vopra {

static const char creationFailed[] = "Patch creation failed";

Outcome createPatch(const string &sourcePath, const string &targetPath, const Progress &progress) {
    if (!file::exists(sourcePath))
        return warning("Source file does not exist");
    if (!file::exists(targetPath))
        return warning("Target file does not exist");
    if (rudd::iendswith(sourcePath, ".qpt"))
        return warning("Source file extension must not be .qpt");
    if (rudd::iendswith(targetPath, ".qpt"))
        return warning("Target file extension must not be .qpt");
    PathInfo sourceInfo = inspectPath(sourcePath), targetInfo = inspectPath(targetPath);
    if (sourceInfo.tooLarge)
        return warning("Source file must be smaller than 4 GiB");
    if (targetInfo.tooLarge)
        return warning("Target file must be smaller than 4 GiB");

    string patchName(rudd::remove_extension(sourcePath), ".qpt");

    // Folders, devices and FIFOs never reach the engine.
    if (!sourceInfo.regular || !targetInfo.regular)
        return warning(creationFailed);
    // The patch name must not be the source's or the target's own file (one of them a link to it, say):
    // the new patch would replace the data it was made from.
    if (namesFile(patchName, sourceInfo) || namesFile(patchName, targetInfo))
        return warning(creationFailed);
    // An earlier patch the user cannot write stays as it is.
    if (writeProtected(patchName))
        return warning(creationFailed);
    filemap source, target;
    if (!source.open(sourcePath, filemap::mode::read) || !target.open(targetPath, filemap::mode::read))
        return warning(creationFailed);
    source.populate();
    target.populate();

    // The patch is written whole and put on disk before it takes its name: a failed or interrupted run
    // leaves no partial patch and keeps an earlier file of that name as it was.
    Replacement patch(patchName, patchName, ".tmp");
    if (!patch.create())
        return warning(creationFailed);
    qpt engine;
    engine.progress = progress;
    qpt::result result = qpt::result::patch_unwritable;
    const filemap *inputs[] = {&source, &target};
    bool read = BusGuard(inputs, 2).run([&] {
        result = engine.create(source.data(), source.size(), target.data(), target.size(), patch.descriptor());
    });
    source.close();
    target.close();
    if (!read || result != qpt::result::success || !patch.finish(defaultPermissions()) || !patch.replace())
        return warning(creationFailed);
    return Outcome{Outcome::Kind::Information,
                   string("Patch creation was successful!\nOutput file name: ", rudd::file_name(patchName))};
}

} // namespace vopra
