#pragma once

#include "rudd/file.h"
#include "rudd/qpt.h"
#include "rudd/string.h"
#include "vopra/error.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

#include <sys/stat.h>

// The steps both workflows and the qpt tool take with patches: a patch file read for what it records,
// a file matched against that record, each with the reason in the user's terms; and the two writes, a
// patch's other side and a new patch, into a replacement the caller puts in place.
namespace vopra {

enum class Side { source, target, both, neither };

// The input as matched: which of the patch's files it is, its CRC-32, and its status when that was read.
// A change of the file's size or times since then means another program wrote to it meanwhile.
struct Matched {
    Side side = Side::neither;
    uint32_t checksum = 0;
    struct stat status {};
};

// What the patch at name records, read without applying it, guarded against the file being cut short
// meanwhile ("'p' changed while it was read"); or why it cannot be used ("'p.qpt' is not a QPT patch",
// or what is damaged).
ErrorOr<rudd::qpt::summary> readPatch(const rudd::filemap &patch, const char *name);

// The first steps of every form that reads a patch: the patch opened and its record read, then input
// opened (when inputName is given); the first failure, in order.
Error openPatch(rudd::filemap &patch, const char *patchName, rudd::qpt::summary &recorded, rudd::filemap &input,
                const char *inputName);

// Which of the patch's two files input is, by size and CRC-32, guarded like readPatch; or why it is
// neither ("'x' is neither source nor target of 'p': size 4 bytes, expected 3", or the CRC-32 against the
// one recorded for that size). The CRC-32 is read a chunk at a time with progress(done, size).
ErrorOr<Matched> matchInput(const char *patchName, const rudd::qpt::summary &recorded, const rudd::filemap &input,
                            const char *inputName, const Progress &progress = Progress());

// "'a' or 'b' changed while it was read": what a run says of inputs that another program changed.
rudd::string changedWhileRead(const char *first, const char *second);
// "'p' does not turn 'x' into the file it records (the patch is damaged)".
rudd::string damagedPatch(const char *patchName, const char *inputName);

// Writes the other side of the patch (recorded, as read) for input, matched to it, into output, created
// by the caller, who puts it in place: flushed, with the attributes the caller asked output to take.
// Made as a copy of input by the system with only the changes written over it; where the system cannot
// copy, made at its full size with its space truly allocated and written through a map by the engine.
// Faults of the files (an input changed while read, a damaged patch) come without an error number, the
// system's with one.
Error writeOtherSide(const rudd::filemap &patch, const char *patchName, const rudd::qpt::summary &recorded,
                     const rudd::filemap &input, const char *inputName, const Matched &matched,
                     Replacement &output, const Progress &progress);

// Writes the patch from source to target into patch, created by the caller, who puts it in place:
// written, on disk, with the attributes the caller asked patch to take.
Error writePatchFile(const rudd::filemap &source, const char *sourceName, const rudd::filemap &target,
                     const char *targetName, Replacement &patch, const Progress &progress);

} // namespace vopra
