#include "core/checks.h"
#include "core/files.h"
#include "core/inputs.h"
#include "core/names.h"
#include "core/otherside.h"
#include "core/progress.h"
#include "core/replacement.h"
#include "core/workflow.h"

#include "rudd/error.h"
#include "rudd/qpt.h"

#include <cerrno>
#include <optional>
#include <unistd.h>

using rudd::bare;
using rudd::done;
using rudd::error;
using rudd::quoted;
using rudd::string;
using rudd::words;

namespace vopra {

static const char patchingFailed[] = "Patching failed";

static words patched(const string &backup) {
    return words("Patching was successful!\nBackup file name: ", bare(rudd::file_name(backup)));
}

// Whether the file at path is the patch's source by size and CRC-32, read as any input is.
// Its progress keeps the window answering while a large file is read.
static bool holdsSource(const ApplyInputs &in, const string &path, const Progress &progress) {
    OpenedFile kept;
    if (openFile(path, kept).failed() || !kept.regular() ||
        uint64_t(kept.status.st_size) != in.recorded.source_size)
        return false;
    rudd::either<Matched> matched = matchInput(in.patch.name, in.recorded, kept, progress);
    return !matched.failed() && matched.value().side != Side::target;
}

// A run on the patch's target would undo the patch. Where the target's original is under the backup
// name, or under a temporary name that a run interrupted before its last rename left it under, the
// target is what a run of this patch made: that run is finished instead, so that the same command run
// again after an interruption never undoes the patch. Nothing where no such run is found.
static std::optional<Outcome> finishedEarlier(const ApplyInputs &in, const string &stem, const string &backup,
                                              const Progress &progress) {
    const string &target = in.input.name;
    if (holdsSource(in, backup, progress))
        return information(patched(backup),
                           {words(quoted(target), " was patched already and ", quoted(backup),
                                  " holds its original: nothing was changed")});
    for (uint32_t n = 0; n < temporaryNames; n++) {
        string kept = temporaryPath(target, stem, ".tmp", n);
        if (!holdsSource(in, kept, progress))
            continue;
        if (rename(kept, backup) != 0)
            return warning(
                patchingFailed,
                error::system(errno, words("cannot rename the original to ", quoted(backup))).text());
        // A power loss that undid the rename would leave what this run found: a run again finishes it.
        fsync(openFolderOf(target).get());
        return information(patched(backup), {words(quoted(target),
                                                   " was patched by a run that was interrupted: "
                                                   "its original, left as ",
                                                   quoted(kept), ", is now ", quoted(backup))});
    }
    return std::nullopt;
}

// Writes the patched file beside the target and swaps it in, the old content moving to backup.
static Outcome writePatched(ApplyInputs &in, const string &stem, const string &backup,
                            const Progress &progress) {
    Replacement output(in.input.name, stem, ".tmp");
    if (done created = output.create(); created.failed())
        return warning("Cannot open target file for writing", created.failure().text());
    // The patched file keeps what the file it replaces carries: an executable stays one, a shared file
    // stays shared.
    output.keepAttributesOf(in.input.status, in.input.file.get());
    done written = writeOtherSide(in, output, progress);
    in.patch.map.close();
    in.input.map.close();
    if (!written.failed())
        written = output.exchange(backup, in.input.status);
    if (written.failed())
        return warning(patchingFailed, written.failure().text());
    // A two-way patch given its own target undoes itself: the user should know.
    std::vector<words> notes;
    if (in.matched.side == Side::target)
        notes.push_back(words(quoted(in.input.name), " was the patch's target and now holds its source: "
                                                     "the patch was undone"));
    notes.insert(notes.end(), output.notes().begin(), output.notes().end());
    return information(patched(backup), notes);
}

Outcome applyPatch(const string &patchPath, const string &targetPath, const Progress &progress) {
    string stem = rudd::remove_extension(targetPath);
    string backup(stem, ".bak");
    ApplyInputs in;
    done opened;
    Named earlier; // what the backup name holds now
    auto cause = [&] { return opened.failure().text(); };
    // Nothing is written until every check has passed, so a refused run leaves the user's files
    // untouched. Each file is opened once, by the check that it exists; every later check asks the open
    // file. Folders, devices and FIFOs never reach the engine. The backup name must not be the patch's or
    // the target's own file (the target a link to its backup, say): the last rename of the swap would put
    // the old target over the only copy of that data. An earlier backup the user cannot write stays as it
    // is, as when it was opened for writing.
    Checks checks;
    checks
        .check([&] { return (opened = in.openPatch(patchPath)).failed(); }, "QPT patch does not exist", cause)
        .check([&] { return (opened = in.openInput(targetPath)).failed(); }, "Target file does not exist",
               cause)
        .check([&] { return patchPath == targetPath; }, "Source file and target file cannot be the same")
        .check([&] { return !rudd::iendswith(patchPath, ".qpt"); }, "QPT patch extension must be .qpt")
        .check([&] { return rudd::iendswith(targetPath, ".qpt"); }, "Target file extension must not be .qpt")
        // The backup or the temporary name would be the target itself.
        .check([&] { return rudd::iendswith(targetPath, ".bak"); }, "Target file extension must not be .bak")
        .check([&] { return rudd::iendswith(targetPath, ".tmp"); }, "Target file extension must not be .tmp")
        .check([&] { return in.patch.tooLarge(); }, "QPT patch must be smaller than 4 GiB")
        .check([&] { return in.input.tooLarge(); }, "Target file must be smaller than 4 GiB")
        .check([&] { return !in.patch.regular(); }, patchingFailed, [&] { return notRegular(in.patch); })
        .check([&] { return !in.input.regular(); }, patchingFailed, [&] { return notRegular(in.input); })
        .check([&] { return (earlier = lookUp(backup)).names(in.patch.status); }, patchingFailed,
               [&] { return words(quoted(backup), " is the patch itself"); })
        .check([&] { return earlier.names(in.input.status); }, patchingFailed,
               [&] { return words(quoted(backup), " is the target itself"); })
        .check([&] { return earlier.writeProtected(backup); }, "Cannot open target file for writing",
               [&] { return words(quoted(backup), " is write-protected"); });
    Outcome refused{};
    if (checks.refused(refused))
        return refused;

    // The lock keeps a second run on the same file from patching it at the same time. The match reads
    // the whole target: the first third of the bar, the write the rest.
    done matched = in.lockInput(true);
    if (!matched.failed())
        matched = in.read();
    if (!matched.failed())
        matched = in.match(phase(progress, 0, progressScale / 3));
    if (matched.failed())
        return warning(patchingFailed, matched.failure().text());
    Progress writing = phase(progress, progressScale / 3, progressScale);
    if (in.matched.side == Side::target) {
        if (std::optional<Outcome> finished = finishedEarlier(in, stem, backup, writing)) {
            if (writing)
                writing(1, 1);
            return *finished;
        }
    }
    return writePatched(in, stem, backup, writing);
}

// The steps of the three-file form before anything is written, each on the files as opened: OUTPUT is
// refused before a byte of the input is read.
static done openForCopy(ApplyInputs &in, const string &patchPath, const string &inputPath,
                        const string &outputPath, const Progress &progress) {
    RUDD_TRY(in.openFit(patchPath, inputPath));
    RUDD_TRY(usableOutput(outputPath, "OUTPUT", in.input, in.patch));
    RUDD_TRY(in.lockInput(false));
    RUDD_TRY(in.read());
    return in.match(progress);
}

// The other side written to OUTPUT, which keeps what an earlier file of that name carried.
static rudd::either<std::vector<words>> writeCopy(const ApplyInputs &in, const string &outputPath,
                                                  const Progress &progress) {
    Replacement output(outputPath, outputPath, ".tmp");
    RUDD_TRY(output.create());
    output.keepAttributesOfReplaced();
    RUDD_TRY(writeOtherSide(in, output, progress));
    RUDD_TRY(output.replace());
    return output.notes();
}

Outcome applyPatchTo(const string &patchPath, const string &inputPath, const string &outputPath,
                     const Progress &progress) {
    ApplyInputs in;
    // As in place: the match is the first third of the bar.
    done opened = openForCopy(in, patchPath, inputPath, outputPath, phase(progress, 0, progressScale / 3));
    if (opened.failed())
        return warning(opened.failure().text());
    return toolOutcome(writeCopy(in, outputPath, phase(progress, progressScale / 3, progressScale)),
                       outputPath);
}

} // namespace vopra
