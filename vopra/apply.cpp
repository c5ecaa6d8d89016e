#include "vopra/files.h"
#include "vopra/workflow.h"

#include "rudd/file.h"
#include "rudd/qpt.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using rudd::file;
using rudd::filemap;
using rudd::qpt;
using rudd::string;

namespace vopra {

int (*renameFile)(const char *from, const char *to) = ::rename;

static Outcome warning(const char *text) {
    return Outcome{Outcome::Kind::Warning, string(text)};
}

static const char patchingFailed[] = "Patching failed";

// True when the bytes are one of the two files the patch records, by size and by CRC-32.
static bool matchesPatch(const filemap &patch, const filemap &target) {
    qpt::summary recorded;
    if (qpt::inspect(patch.data(), patch.size(), recorded) != qpt::result::success)
        return false;
    uint32_t checksum = qpt::crc32(target.data(), target.size());
    return (target.size() == recorded.source_size && checksum == recorded.source_checksum) ||
           (target.size() == recorded.target_size && checksum == recorded.target_checksum);
}

// Puts the patched output in the target's place and the old target under the backup name. The old
// target is parked under a free temporary name meanwhile (a file the user keeps under that name is never
// replaced), so the backup name is replaced only by the last rename: until then an existing backup
// survives. Any failed step is undone, so on failure the target path holds the original file again and
// the output is gone.
static bool swapIntoPlace(const string &target, const string &output, const string &firstTemporary,
                          const string &backup) {
    string temporary;
    if (!freshName(firstTemporary, temporary) || renameFile(target, temporary) != 0) {
        unlink(output);
        return false;
    }
    if (renameFile(output, target) != 0) {
        renameFile(temporary, target);
        unlink(output);
        return false;
    }
    if (renameFile(temporary, backup) != 0) {
        // One rename puts the original back over the output, so the target path is never empty.
        renameFile(temporary, target);
        return false;
    }
    return true;
}

Outcome applyPatch(const string &patchPath, const string &targetPath, const Progress &progress) {
    // Nothing is written until every check has passed, so a refused run leaves the user's files untouched.
    if (!file::exists(patchPath))
        return warning("QPT patch does not exist");
    if (!file::exists(targetPath))
        return warning("Target file does not exist");
    if (patchPath == targetPath)
        return warning("Source file and target file cannot be the same");
    if (!rudd::iendswith(patchPath, ".qpt"))
        return warning("QPT patch extension must be .qpt");
    if (rudd::iendswith(targetPath, ".qpt"))
        return warning("Target file extension must not be .qpt");
    // The backup or the temporary name would be the target itself.
    if (rudd::iendswith(targetPath, ".bak"))
        return warning("Target file extension must not be .bak");
    if (rudd::iendswith(targetPath, ".tmp"))
        return warning("Target file extension must not be .tmp");
    PathInfo patchInfo = inspectPath(patchPath), targetInfo = inspectPath(targetPath);
    if (patchInfo.tooLarge)
        return warning("QPT patch must be smaller than 4 GiB");
    if (targetInfo.tooLarge)
        return warning("Target file must be smaller than 4 GiB");

    string stem = rudd::remove_extension(targetPath);
    string backup(stem, ".bak"), temporary(stem, ".tmp");

    // Folders, devices and FIFOs never reach the engine, and a damaged patch or a file the patch was not
    // made for fails here, before any output file exists.
    if (!patchInfo.regular || !targetInfo.regular)
        return warning(patchingFailed);
    // The backup name must not be the patch's or the target's own file (the target a link to its backup,
    // say): the last rename of the swap would put the old target over the only copy of that data.
    if (namesFile(backup, patchInfo) || namesFile(backup, targetInfo))
        return warning(patchingFailed);
    filemap patch, target;
    if (!patch.open(patchPath, filemap::mode::read) || !target.open(targetPath, filemap::mode::read))
        return warning(patchingFailed);
    patch.populate();
    target.populate();
    if (!matchesPatch(patch, target))
        return warning(patchingFailed);

    qpt engine;
    uint32_t outputSize = 0;
    engine.apply(patch.data(), patch.size(), target.data(), target.size(), nullptr, outputSize);

    // The output goes under the backup name when that is free, else beside it: an existing backup is
    // replaced only by the final rename of a successful run. Exclusive creation never follows a link.
    string output;
    file outputFile;
    if (!freshName(backup, output) || !outputFile.open(output, file::mode::create))
        return warning("Cannot open target file for writing");
    outputFile.seek(outputSize);
    bool prepared = outputFile.close();

    filemap outputMap;
    bool patched = false;
    if (prepared && outputMap.open(output, filemap::mode::readwrite) && outputMap.size() == outputSize) {
        outputMap.populate();
        engine.progress = progress;
        uint32_t capacity = outputMap.size();
        qpt::result result = engine.apply(patch.data(), patch.size(), target.data(), target.size(),
                                          outputMap.data(), capacity);
        // The patched file keeps the permission bits of the file it replaces: an executable stays one.
        // Set once the output is written (the open mapping writes on whatever the bits say), and before
        // the data and the bits go to disk together, ahead of the renames, so that a crash after the
        // swap cannot leave a target with missing bytes or the wrong bits.
        patched =
            result == qpt::result::success && chmod(output, targetInfo.permissions) == 0 && outputMap.sync();
    }
    outputMap.close();
    patch.close();
    target.close();
    if (!patched) {
        unlink(output);
        return warning(patchingFailed);
    }
    if (!swapIntoPlace(targetPath, output, temporary, backup))
        return warning(patchingFailed);
    // The swap has happened; putting the folder on disk makes it survive a power loss. Should that fail,
    // the files are in place all the same, so the run still counts as done.
    syncFolderOf(targetPath);
    return Outcome{Outcome::Kind::Information,
                   string("Patching was successful!\nBackup file name: ", rudd::file_name(backup))};
}

} // namespace vopra
