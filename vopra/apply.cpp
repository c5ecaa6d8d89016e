#include "vopra/files.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

#include "rudd/file.h"
#include "rudd/qpt.h"

#include <cstdio>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using rudd::file;
using rudd::filemap;
using rudd::qpt;
using rudd::string;

namespace vopra {

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
    string backup(stem, ".bak");

    // Folders, devices and FIFOs never reach the engine, and a damaged patch or a file the patch was not
    // made for fails here, before any output file exists.
    if (!patchInfo.regular || !targetInfo.regular)
        return warning(patchingFailed);
    // The backup name must not be the patch's or the target's own file (the target a link to its backup,
    // say): the last rename of the swap would put the old target over the only copy of that data.
    if (namesFile(backup, patchInfo) || namesFile(backup, targetInfo))
        return warning(patchingFailed);
    // The target is opened once: the file mapped, checked, locked and swapped out is that one file.
    // The lock keeps a second run on the same file from patching it at the same time.
    Descriptor targetFile(open(targetPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat checked;
    filemap patch, target;
    if (targetFile.fd < 0 || fstat(targetFile.fd, &checked) != 0 || flock(targetFile.fd, LOCK_EX | LOCK_NB) != 0 ||
        !patch.open(patchPath, filemap::mode::read) || !target.open(targetFile.fd, filemap::mode::read))
        return warning(patchingFailed);
    patch.populate();
    target.populate();
    const filemap *inputs[] = {&patch, &target};
    bool matched = false;
    if (!BusGuard(inputs, 2).run([&] { matched = matchesPatch(patch, target); }) || !matched)
        return warning(patchingFailed);

    qpt engine;
    uint32_t outputSize = 0;
    engine.apply(patch.data(), patch.size(), target.data(), target.size(), nullptr, outputSize);

    // An earlier backup the user cannot write stays as it is, as when it was opened for writing.
    if (writeProtected(backup))
        return warning("Cannot open target file for writing");
    Replacement output(targetPath, stem, ".tmp");
    if (!output.create())
        return warning("Cannot open target file for writing");

    filemap outputMap;
    bool patched = false;
    if (output.resize(outputSize) && outputMap.open(output.descriptor(), filemap::mode::readwrite) &&
        outputMap.size() == outputSize) {
        outputMap.populate();
        engine.progress = progress;
        uint32_t capacity = outputMap.size();
        qpt::result result = qpt::result::patch_invalid;
        const filemap *maps[] = {&patch, &target, &outputMap};
        BusGuard(maps, 3).run([&] {
            result = engine.apply(patch.data(), patch.size(), target.data(), target.size(), outputMap.data(),
                                  capacity);
        });
        // The patched file keeps the permission bits and, where it may, the owner of the file it
        // replaces: an executable stays one. Data and bits go to disk together, ahead of any rename, so
        // that a crash after the swap cannot leave a target with missing bytes or the wrong bits.
        patched = result == qpt::result::success && outputMap.sync() &&
                  output.finish(checked.st_mode & 0777, &checked);
    }
    outputMap.close();
    patch.close();
    target.close();
    if (!patched || !output.exchange(backup, checked))
        return warning(patchingFailed);
    return Outcome{Outcome::Kind::Information,
                   string("Patching was successful!\nBackup file name: ", rudd::file_name(backup))};
}

} // namespace vopra
