#include "vopra/checks.h"
#include "vopra/error.h"
#include "vopra/files.h"
#include "vopra/patchfile.h"
#include "vopra/quoting.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

#include "rudd/file.h"

using rudd::filemap;
using rudd::string;

namespace vopra {

static const char creationFailed[] = "Patch creation failed";

// The patch is written whole and put on disk before it takes its name: a failed or interrupted run
// leaves no partial patch and keeps an earlier file of that name as it was. An earlier patch hands on
// what it carries; note tells what the user should know of the new one.
static Error writePatch(const filemap &source, const string &sourcePath, const filemap &target,
                        const string &targetPath, const string &patchName, const Progress &progress, string &note) {
    Replacement patch(patchName, patchName, ".tmp");
    Error error = patch.create();
    if (error.failed())
        return error;
    patch.keepAttributesOfReplaced();
    error = writePatchFile(source, sourcePath, target, targetPath, patch, progress);
    if (!error.failed())
        error = patch.replace();
    note = patch.note();
    return error;
}

Outcome createPatch(const string &sourcePath, const string &targetPath, const Progress &progress) {
    string patchName(rudd::remove_extension(sourcePath), ".qpt");
    PathInfo sourceInfo, targetInfo;
    Error error;
    auto cause = [&] { return error.text(); };
    // Folders, devices and FIFOs never reach the engine. The patch name must not be the source's or
    // the target's own file (one of them a link to it, say): the new patch would replace the data it
    // was made from. An earlier patch the user cannot write stays as it is.
    Checks checks;
    checks.check([&] { return (error = readable(sourcePath)).failed(); }, "Source file does not exist", cause)
        .check([&] { return (error = readable(targetPath)).failed(); }, "Target file does not exist", cause)
        .check([&] { return rudd::iendswith(sourcePath, ".qpt"); }, "Source file extension must not be .qpt")
        .check([&] { return rudd::iendswith(targetPath, ".qpt"); }, "Target file extension must not be .qpt")
        .check([&] { return (sourceInfo = inspectPath(sourcePath)).tooLarge; },
               "Source file must be smaller than 4 GiB")
        .check([&] { return (targetInfo = inspectPath(targetPath)).tooLarge; },
               "Target file must be smaller than 4 GiB")
        .check([&] { return !sourceInfo.regular; }, creationFailed, [&] { return notRegular(sourcePath, sourceInfo); })
        .check([&] { return !targetInfo.regular; }, creationFailed, [&] { return notRegular(targetPath, targetInfo); })
        .check([&] { return namesFile(patchName, sourceInfo); }, creationFailed,
               [&] { return string(quoted(patchName), " is the source itself"); })
        .check([&] { return namesFile(patchName, targetInfo); }, creationFailed,
               [&] { return string(quoted(patchName), " is the target itself"); })
        .check([&] { return writeProtected(patchName); }, creationFailed,
               [&] { return string(quoted(patchName), " is write-protected"); });
    Outcome refused{};
    if (checks.refused(refused))
        return refused;
    filemap source, target;
    string note;
    error = openInput(source, sourcePath);
    if (!error.failed())
        error = openInput(target, targetPath);
    if (!error.failed())
        error = writePatch(source, sourcePath, target, targetPath, patchName, progress, note);
    if (error.failed())
        return warning(creationFailed, error.text());
    Outcome done = information(
        string("Patch creation was successful!\nOutput file name: ", bare(rudd::file_name(patchName))));
    done.cause = note;
    return done;
}

Outcome createPatchAs(const string &sourcePath, const string &targetPath, const string &patchPath,
                      const Progress &progress) {
    filemap source, target;
    string note;
    Error error = openInput(source, sourcePath);
    if (!error.failed())
        error = openInput(target, targetPath);
    if (!error.failed())
        error = unusableOutput(patchPath, "PATCH", sourcePath, targetPath);
    if (error.failed())
        return warning(error.text());
    error = writePatch(source, sourcePath, target, targetPath, patchPath, progress, note);
    // A fault of the files, not of the system: say that nothing was written.
    if (error.failed() && error.number() == 0)
        error.append(string("; ", quoted(patchPath), " not written"));
    if (error.failed())
        return warning(error.text());
    Outcome done = information(string());
    done.cause = note;
    return done;
}

} // namespace vopra
