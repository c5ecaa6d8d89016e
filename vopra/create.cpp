#include "vopra/checks.h"
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
// what it carries.
static Written writePatch(const filemap &source, const filemap &target, const string &sourcePath,
                       const string &targetPath, const string &patchName, const Progress &progress, string &why,
                       string &note) {
    Replacement patch(patchName, patchName, ".tmp");
    if (!patch.create()) {
        why = patch.cause();
        return Written::failed;
    }
    patch.keepAttributesOfReplaced();
    Written written = writePatchFile(source, target, patch, progress, why);
    if (written == Written::changed)
        why = changedWhileRead(sourcePath, targetPath);
    if (written == Written::done && !patch.replace()) {
        why = patch.cause();
        written = Written::failed;
    }
    note = patch.note();
    return written;
}

Outcome createPatch(const string &sourcePath, const string &targetPath, const Progress &progress) {
    string patchName(rudd::remove_extension(sourcePath), ".qpt");
    PathInfo sourceInfo, targetInfo;
    string why;
    // Folders, devices and FIFOs never reach the engine. The patch name must not be the source's or
    // the target's own file (one of them a link to it, say): the new patch would replace the data it
    // was made from. An earlier patch the user cannot write stays as it is.
    Checks checks;
    checks.check([&] { return !readable(sourcePath, why); }, "Source file does not exist", [&] { return why; })
        .check([&] { return !readable(targetPath, why); }, "Target file does not exist", [&] { return why; })
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
    if (!openInput(source, sourcePath, why) || !openInput(target, targetPath, why) ||
        writePatch(source, target, sourcePath, targetPath, patchName, progress, why, note) != Written::done)
        return warning(creationFailed, why);
    Outcome done = information(
        string("Patch creation was successful!\nOutput file name: ", bare(rudd::file_name(patchName))));
    done.cause = note;
    return done;
}

Outcome createPatchAs(const string &sourcePath, const string &targetPath, const string &patchPath,
                      const Progress &progress) {
    filemap source, target;
    string why, note;
    if (!openInput(source, sourcePath, why) || !openInput(target, targetPath, why))
        return warning(why);
    why = unusableOutput(patchPath, "PATCH", sourcePath, targetPath);
    if (!why.empty())
        return warning(why);
    Written written = writePatch(source, target, sourcePath, targetPath, patchPath, progress, why, note);
    if (written == Written::changed)
        why.append(string("; ", quoted(patchPath), " not written"));
    if (written != Written::done)
        return warning(why);
    Outcome done = information(string());
    done.cause = note;
    return done;
}

} // namespace vopra
