#include "vopra/checks.h"
#include "vopra/copyroad.h"
#include "vopra/progress.h"
#include "vopra/files.h"
#include "vopra/patchfile.h"
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
    uint32_t checksum = 0; // the target's CRC-32, read by the match check
    filemap patch, target;
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
        why = errno == EWOULDBLOCK ? string("'", targetPath, "' is being patched by another run")
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

// A damaged patch or a file the patch was not made for fails here, before any output file exists.
static bool matchTarget(Inputs &in, const char *patchPath, const char *targetPath, const Progress &progress,
                        string &why) {
    qpt::summary recorded;
    bool patchRead = false;
    Side side = Side::neither;
    string reason;
    const filemap *inputs[] = {&in.patch, &in.target};
    bool read = BusGuard(inputs, 2).run([&] {
        patchRead = readPatch(in.patch, patchPath, recorded, why);
        if (patchRead)
            side = matchFile(recorded, in.target.data(), in.target.size(), reason, progress, &in.checksum);
    });
    if (!read)
        why = string("'", patchPath, "' or '", targetPath, "' changed while it was read");
    else if (patchRead && side == Side::neither)
        why = string("'", targetPath, "' is neither source nor target of '", patchPath, "': ", reason);
    return read && side != Side::neither;
}

Written writeOtherSide(const filemap &patch, const filemap &input, Replacement &output, mode_t permissions,
                       const struct stat *like, const Progress &progress, string &why, const CheckedInput *checked) {
    // The copy of the input by the system, with the changes over it; the engine's pass where it cannot.
    Written written = Written::failed;
    Progress writing;
    if (writeByCopy(patch, input, checked, output, progress, why, written, writing)) {
        if (written == Written::done && !output.finish(permissions, like)) {
            why = output.cause();
            return Written::failed;
        }
        return written;
    }
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
    // The pass is the first half of the write, its flush the second.
    engine.progress = phase(writing, 0, progressScale / 2);
    qpt::result result = qpt::result::patch_invalid;
    const filemap *maps[] = {&patch, &input, &map};
    if (!BusGuard(maps, 3).run([&] {
            result = engine.apply(patch.data(), patch.size(), input.data(), input.size(), map.data(), size);
        }))
        return Written::changed;
    if (result == qpt::result::source_invalid)
        return Written::mismatched;
    if (result != qpt::result::success)
        return Written::damaged;
    // Data and bits go to disk together, ahead of any rename, so that a crash after the file is put in
    // place cannot leave it with missing bytes or the wrong bits.
    if (!flushInChunks(output.descriptor(), size, phase(writing, progressScale / 2, progressScale)) || !map.sync()) {
        why = failure("cannot write", output.name(), errno);
        return Written::failed;
    }
    if (!output.finish(permissions, like)) {
        why = output.cause();
        return Written::failed;
    }
    return Written::done;
}

// Writes the patched file beside the target and swaps it in, the old content moving to backup.
static Outcome writePatched(Inputs &in, const char *patchPath, const char *targetPath, const string &stem,
                            const string &backup, const Progress &progress) {
    // An earlier backup the user cannot write stays as it is, as when it was opened for writing.
    if (writeProtected(backup))
        return warning("Cannot open target file for writing", string("'", backup, "' is write-protected"));
    Replacement output(targetPath, stem, ".tmp");
    if (!output.create())
        return warning("Cannot open target file for writing", output.cause());
    // The patched file keeps the permission bits and, where it may, the owner of the file it replaces:
    // an executable stays one.
    string why;
    CheckedInput checked{in.checksum, in.checked};
    Written written = writeOtherSide(in.patch, in.target, output, in.checked.st_mode & 0777, &in.checked,
                                     phase(progress, progressScale / 3, progressScale), why, &checked);
    in.patch.close();
    in.target.close();
    if (written == Written::changed)
        why = string("'", patchPath, "' or '", targetPath, "' changed while it was read");
    else if (written == Written::mismatched || written == Written::damaged)
        why = string("'", patchPath, "' does not turn '", targetPath, "' into the file it records (the patch is damaged)");
    else if (written == Written::done && !output.exchange(backup, in.checked))
        why = output.kept().empty() ? output.cause()
                                    : string(output.cause(), "; the original is kept as '", output.kept(), "'");
    if (!why.empty())
        return warning(patchingFailed, why);
    return information(string("Patching was successful!\nBackup file name: ", rudd::file_name(backup)));
}

Outcome applyPatch(const string &patchPath, const string &targetPath, const Progress &progress) {
    string stem = rudd::remove_extension(targetPath);
    string backup(stem, ".bak");
    PathInfo patchInfo = inspectPath(patchPath), targetInfo = inspectPath(targetPath);
    string patchMissing, targetMissing;
    // Nothing is written until every check has passed, so a refused run leaves the user's files
    // untouched. Folders, devices and FIFOs never reach the engine. The backup name must not be the
    // patch's or the target's own file (the target a link to its backup, say): the last rename of the
    // swap would put the old target over the only copy of that data.
    const Check checks[] = {
        {!readable(patchPath, patchMissing), "QPT patch does not exist", patchMissing},
        {!readable(targetPath, targetMissing), "Target file does not exist", targetMissing},
        {patchPath == targetPath, "Source file and target file cannot be the same"},
        {!rudd::iendswith(patchPath, ".qpt"), "QPT patch extension must be .qpt"},
        {rudd::iendswith(targetPath, ".qpt"), "Target file extension must not be .qpt"},
        // The backup or the temporary name would be the target itself.
        {rudd::iendswith(targetPath, ".bak"), "Target file extension must not be .bak"},
        {rudd::iendswith(targetPath, ".tmp"), "Target file extension must not be .tmp"},
        {patchInfo.tooLarge, "QPT patch must be smaller than 4 GiB"},
        {targetInfo.tooLarge, "Target file must be smaller than 4 GiB"},
        {!patchInfo.regular, patchingFailed, notRegular(patchPath, patchInfo)},
        {!targetInfo.regular, patchingFailed, notRegular(targetPath, targetInfo)},
        {namesFile(backup, patchInfo), patchingFailed, string("'", backup, "' is the patch itself")},
        {namesFile(backup, targetInfo), patchingFailed, string("'", backup, "' is the target itself")},
    };
    Outcome refused{};
    if (firstRefused(checks, refused))
        return refused;

    Inputs in;
    string why;
    // The match check reads the whole target: the first third of the bar, the write the rest.
    if (!openInputs(patchPath, targetPath, in, why) ||
        !matchTarget(in, patchPath, targetPath, phase(progress, 0, progressScale / 3), why))
        return warning(patchingFailed, why);
    return writePatched(in, patchPath, targetPath, stem, backup, progress);
}

} // namespace vopra
