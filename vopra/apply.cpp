#include "vopra/checks.h"
#include "vopra/files.h"
#include "vopra/descriptor.h"
#include "vopra/patchfile.h"
#include "vopra/quoting.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

#include "rudd/file.h"
#include "rudd/qpt.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using rudd::filemap;
using rudd::qpt;
using rudd::string;

namespace vopra {

static const char patchingFailed[] = "Patching failed";

namespace {

// The two files of an in-place run, open from the match check to the swap.
struct Inputs {
    Descriptor targetFile{-1};
    struct stat checked;
    filemap patch, target;
    Side side = Side::neither;
};

} // namespace

// The target is opened once: the file mapped, checked, locked and swapped out is that one file. The
// lock keeps a second run on the same file from patching it at the same time.
static bool openInputs(const char *patchPath, const char *targetPath, Inputs &in, string &why) {
    in.targetFile.fd = open(targetPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in.targetFile.fd < 0 || fstat(in.targetFile.fd, &in.checked) != 0) {
        why = failure("cannot open", targetPath, errno);
        return false;
    }
    if (flock(in.targetFile.fd, LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK ? string(quoted(targetPath), " is being patched by another run")
                                   : failure("cannot lock", targetPath, errno);
        return false;
    }
    if (!in.patch.open(patchPath, filemap::mode::read)) {
        why = failure("cannot read", patchPath, errno);
        return false;
    }
    if (!in.target.open(in.targetFile.fd, filemap::mode::read)) {
        why = failure("cannot read", targetPath, errno);
        return false;
    }
    in.patch.populate();
    in.target.populate();
    return true;
}

// What the file became, where that is not what the user may take for granted: a two-way patch given
// its own target undoes itself.
static string undoneNote(const Inputs &in, const char *targetPath) {
    if (in.side != Side::target)
        return string();
    return string(quoted(targetPath), " was the patch's target and now holds its source: the patch was undone");
}

// Writes the patched file beside the target and swaps it in, the old content moving to backup.
static Outcome writePatched(Inputs &in, const char *patchPath, const char *targetPath, const string &stem,
                            const string &backup, const Progress &progress) {
    Replacement output(targetPath, stem, ".tmp");
    if (!output.create())
        return warning("Cannot open target file for writing", output.cause());
    // The patched file keeps what the file it replaces carries: an executable stays one, a shared file
    // stays shared.
    output.keepAttributesOf(in.checked, in.targetFile.fd);
    string why;
    Written written = writeOtherSide(in.patch, in.target, output, progress, why);
    in.patch.close();
    in.target.close();
    if (written == Written::changed)
        why = changedWhileRead(patchPath, targetPath);
    else if (written == Written::damaged)
        why = string(quoted(patchPath), " does not turn ", quoted(targetPath),
                     " into the file it records (the patch is damaged)");
    else if (written == Written::done && !output.exchange(backup, in.checked))
        why = output.kept().empty() ? output.cause()
                                    : string(output.cause(), "; the original is kept as ", quoted(output.kept()));
    if (!why.empty())
        return warning(patchingFailed, why);
    Outcome done = information(string("Patching was successful!\nBackup file name: ", bare(rudd::file_name(backup))));
    done.cause = undoneNote(in, targetPath);
    if (!output.note().empty())
        done.cause = done.cause.empty() ? output.note() : string(done.cause, "\n", output.note());
    return done;
}

Outcome applyPatch(const string &patchPath, const string &targetPath, const Progress &progress) {
    string stem = rudd::remove_extension(targetPath);
    string backup(stem, ".bak");
    PathInfo patchInfo, targetInfo;
    string why;
    // Nothing is written until every check has passed, so a refused run leaves the user's files
    // untouched. Folders, devices and FIFOs never reach the engine. The backup name must not be the
    // patch's or the target's own file (the target a link to its backup, say): the last rename of the
    // swap would put the old target over the only copy of that data. An earlier backup the user cannot
    // write stays as it is, as when it was opened for writing.
    Checks checks;
    checks.check([&] { return !readable(patchPath, why); }, "QPT patch does not exist", [&] { return why; })
        .check([&] { return !readable(targetPath, why); }, "Target file does not exist", [&] { return why; })
        .check([&] { return patchPath == targetPath; }, "Source file and target file cannot be the same")
        .check([&] { return !rudd::iendswith(patchPath, ".qpt"); }, "QPT patch extension must be .qpt")
        .check([&] { return rudd::iendswith(targetPath, ".qpt"); }, "Target file extension must not be .qpt")
        // The backup or the temporary name would be the target itself.
        .check([&] { return rudd::iendswith(targetPath, ".bak"); }, "Target file extension must not be .bak")
        .check([&] { return rudd::iendswith(targetPath, ".tmp"); }, "Target file extension must not be .tmp")
        .check([&] { return (patchInfo = inspectPath(patchPath)).tooLarge; }, "QPT patch must be smaller than 4 GiB")
        .check([&] { return (targetInfo = inspectPath(targetPath)).tooLarge; },
               "Target file must be smaller than 4 GiB")
        .check([&] { return !patchInfo.regular; }, patchingFailed, [&] { return notRegular(patchPath, patchInfo); })
        .check([&] { return !targetInfo.regular; }, patchingFailed, [&] { return notRegular(targetPath, targetInfo); })
        .check([&] { return namesFile(backup, patchInfo); }, patchingFailed,
               [&] { return string(quoted(backup), " is the patch itself"); })
        .check([&] { return namesFile(backup, targetInfo); }, patchingFailed,
               [&] { return string(quoted(backup), " is the target itself"); })
        .check([&] { return writeProtected(backup); }, "Cannot open target file for writing",
               [&] { return string(quoted(backup), " is write-protected"); });
    Outcome refused{};
    if (checks.refused(refused))
        return refused;

    Inputs in;
    qpt::summary recorded;
    if (!openInputs(patchPath, targetPath, in, why) ||
        !matchInput(in.patch, patchPath, in.target, targetPath, recorded, in.side, why))
        return warning(patchingFailed, why);
    return writePatched(in, patchPath, targetPath, stem, backup, progress);
}

Outcome applyPatchTo(const string &patchPath, const string &inputPath, const string &outputPath,
                     const Progress &progress) {
    filemap patch, input;
    qpt::summary recorded;
    Side side = Side::neither;
    string why;
    if (!openInput(patch, patchPath, why) || !readPatchGuarded(patch, patchPath, recorded, why) ||
        !openInput(input, inputPath, why) || !matchInput(patch, patchPath, input, inputPath, recorded, side, why))
        return warning(why);
    why = unusableOutput(outputPath, "OUTPUT", inputPath, patchPath);
    if (!why.empty())
        return warning(why);
    Replacement output(outputPath, outputPath, ".tmp");
    if (!output.create())
        return warning(output.cause());
    output.keepAttributesOfReplaced();
    Written written = writeOtherSide(patch, input, output, progress, why);
    if (written == Written::changed)
        return warning(string(changedWhileRead(patchPath, inputPath), "; ", quoted(outputPath), " not written"));
    if (written == Written::damaged)
        return warning(string(quoted(patchPath), " does not turn ", quoted(inputPath),
                              " into the file it records (the patch is damaged); ", quoted(outputPath), " not written"));
    if (written == Written::failed)
        return warning(why);
    if (!output.replace())
        return warning(output.cause());
    Outcome done = information(string());
    done.cause = output.note();
    return done;
}

} // namespace vopra
