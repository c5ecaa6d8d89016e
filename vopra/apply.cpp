#include "vopra/checks.h"
#include "vopra/descriptor.h"
#include "vopra/error.h"
#include "vopra/files.h"
#include "vopra/patchfile.h"
#include "vopra/progress.h"
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
    qpt::summary recorded;
    Matched matched;
};

} // namespace

// The target is opened once: the file mapped, checked, locked and swapped out is that one file. The
// lock keeps a second run on the same file from patching it at the same time.
static Error openInputs(const char *patchPath, const char *targetPath, Inputs &in) {
    in.targetFile.fd = open(targetPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in.targetFile.fd < 0 || fstat(in.targetFile.fd, &in.checked) != 0)
        return Error::fromSystem("cannot open", targetPath, errno);
    if (flock(in.targetFile.fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? Error::fault(string(quoted(targetPath), " is being patched by another run"))
                                    : Error::fromSystem("cannot lock", targetPath, errno);
    if (!in.patch.open(patchPath, filemap::mode::read))
        return Error::fromSystem("cannot read", patchPath, errno);
    if (!in.target.open(in.targetFile.fd, filemap::mode::read))
        return Error::fromSystem("cannot read", targetPath, errno);
    in.patch.populate();
    in.target.populate();
    return Error();
}

// Opens, reads and matches the two files of an in-place run, before any output exists.
static Error matchInputs(const char *patchPath, const char *targetPath, Inputs &in, const Progress &progress) {
    Error error = openInputs(patchPath, targetPath, in);
    if (error.failed())
        return error;
    ErrorOr<qpt::summary> recorded = readPatch(in.patch, patchPath);
    if (recorded.failed())
        return recorded.error();
    in.recorded = recorded.value();
    ErrorOr<Matched> matched = matchInput(patchPath, in.recorded, in.target, targetPath, progress);
    in.matched = matched.value();
    return matched.error();
}

// What the user should know of a success beside the message: a two-way patch given its own target
// undoes itself; a file that could not keep its owner.
static string successNote(const Inputs &in, const char *targetPath, const Replacement &output) {
    string note = in.matched.side != Side::target ? string()
                                          : string(quoted(targetPath), " was the patch's target and now holds its "
                                                                        "source: the patch was undone");
    if (!output.note().empty())
        note = note.empty() ? output.note() : string(note, "\n", output.note());
    return note;
}

// Whether the file at path is the patch's source by size and CRC-32, read as any input is.
// Its progress keeps the window answering while a large file is read.
static bool holdsSource(const Inputs &in, const char *patchPath, const string &path,
                        const Progress &progress) {
    struct stat status;
    filemap map;
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode) ||
        uint64_t(status.st_size) != in.recorded.source_size || openInput(map, path).failed())
        return false;
    ErrorOr<Matched> matched = matchInput(patchPath, in.recorded, map, path, progress);
    return !matched.failed() && matched.value().side != Side::target;
}

// A run on the patch's target would undo the patch. Where the target's original is under the backup
// name, or under a temporary name that a run interrupted before its last rename left it under, the
// target is what a run of this patch made: that run is finished instead, so that the same command run
// again after an interruption never undoes the patch.
static bool finishedEarlier(const Inputs &in, const char *patchPath, const char *targetPath,
                            const string &stem, const string &backup, const Progress &progress,
                            Outcome &done) {
    done = information(string("Patching was successful!\nBackup file name: ", bare(rudd::file_name(backup))));
    if (holdsSource(in, patchPath, backup, progress)) {
        done.cause = string(quoted(targetPath), " was patched already and ", quoted(backup),
                            " holds its original: nothing was changed");
        return true;
    }
    for (uint32_t n = 0; n < temporaryNames; n++) {
        string kept = temporaryPath(targetPath, stem, ".tmp", n);
        if (!holdsSource(in, patchPath, kept, progress))
            continue;
        if (rename(kept, backup) != 0) {
            done = warning(patchingFailed,
                           Error::fromSystem("cannot rename the original to", backup, errno).text());
            return true;
        }
        // A power loss that undid the rename would leave what this run found: a run again finishes it.
        Descriptor folder{openFolderOf(targetPath)};
        fsync(folder.fd);
        done.cause =
            string(quoted(targetPath), " was patched by a run that was interrupted: its original, left as ",
                   quoted(kept), ", is now ", quoted(backup));
        return true;
    }
    return false;
}

// Writes the patched file beside the target and swaps it in, the old content moving to backup.
static Outcome writePatched(Inputs &in, const char *patchPath, const char *targetPath, const string &stem,
                            const string &backup, const Progress &progress) {
    Replacement output(targetPath, stem, ".tmp");
    Error error = output.create();
    if (error.failed())
        return warning("Cannot open target file for writing", error.text());
    // The patched file keeps what the file it replaces carries: an executable stays one, a shared file
    // stays shared.
    output.keepAttributesOf(in.checked, in.targetFile.fd);
    error = writeOtherSide(in.patch, patchPath, in.recorded, in.target, targetPath, in.matched, output, progress);
    in.patch.close();
    in.target.close();
    if (!error.failed())
        error = output.exchange(backup, in.checked);
    if (error.failed())
        return warning(patchingFailed, error.text());
    Outcome done = information(string("Patching was successful!\nBackup file name: ", bare(rudd::file_name(backup))));
    done.cause = successNote(in, targetPath, output);
    return done;
}

Outcome applyPatch(const string &patchPath, const string &targetPath, const Progress &progress) {
    string stem = rudd::remove_extension(targetPath);
    string backup(stem, ".bak");
    PathInfo patchInfo, targetInfo;
    Error error;
    auto cause = [&] { return error.text(); };
    // Nothing is written until every check has passed, so a refused run leaves the user's files
    // untouched. Folders, devices and FIFOs never reach the engine. The backup name must not be the
    // patch's or the target's own file (the target a link to its backup, say): the last rename of the
    // swap would put the old target over the only copy of that data. An earlier backup the user cannot
    // write stays as it is, as when it was opened for writing.
    Checks checks;
    checks.check([&] { return (error = readable(patchPath)).failed(); }, "QPT patch does not exist", cause)
        .check([&] { return (error = readable(targetPath)).failed(); }, "Target file does not exist", cause)
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

    // The match check reads the whole target: the first third of the bar, the write the rest.
    Inputs in;
    error = matchInputs(patchPath, targetPath, in, phase(progress, 0, progressScale / 3));
    if (error.failed())
        return warning(patchingFailed, error.text());
    Progress writing = phase(progress, progressScale / 3, progressScale);
    Outcome finished;
    if (in.matched.side == Side::target &&
        finishedEarlier(in, patchPath, targetPath, stem, backup, writing, finished)) {
        if (writing)
            writing(1, 1);
        return finished;
    }
    return writePatched(in, patchPath, targetPath, stem, backup, writing);
}

Outcome applyPatchTo(const string &patchPath, const string &inputPath, const string &outputPath,
                     const Progress &progress) {
    filemap patch, input;
    qpt::summary recorded;
    ErrorOr<Matched> matched = Matched();
    Error error = openPatch(patch, patchPath, recorded, input, inputPath);
    // As in place: the match check is the first third of the bar.
    if (!error.failed() &&
        (matched = matchInput(patchPath, recorded, input, inputPath, phase(progress, 0, progressScale / 3))).failed())
        error = matched.error();
    if (!error.failed())
        error = unusableOutput(outputPath, "OUTPUT", inputPath, patchPath);
    if (error.failed())
        return warning(error.text());
    Replacement output(outputPath, outputPath, ".tmp");
    error = output.create();
    if (error.failed())
        return warning(error.text());
    output.keepAttributesOfReplaced();
    error = writeOtherSide(patch, patchPath, recorded, input, inputPath, matched.value(), output,
                           phase(progress, progressScale / 3, progressScale));
    // A fault of the files, not of the system: say that nothing was written.
    if (error.failed() && error.number() == 0)
        error.append(string("; ", quoted(outputPath), " not written"));
    if (!error.failed())
        error = output.replace();
    if (error.failed())
        return warning(error.text());
    Outcome done = information(string());
    done.cause = output.note();
    return done;
}

} // namespace vopra
