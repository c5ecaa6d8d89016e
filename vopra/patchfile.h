#pragma once

#include "rudd/file.h"
#include "rudd/qpt.h"
#include "rudd/string.h"
#include "vopra/error.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

// The steps both workflows and the qpt tool take with patches: a patch file read for what it records,
// a file matched against that record, each with the reason in the user's terms; and the two writes, a
// patch's other side and a new patch, into a replacement the caller puts in place.
namespace vopra {

enum class Side { source, target, both, neither };

// What the patch at name records, read without applying it, guarded against the file being cut short
// meanwhile ("'p' changed while it was read"); or why it cannot be used ("'p.qpt' is not a QPT patch",
// or what is damaged).
ErrorOr<rudd::qpt::summary> readPatch(const rudd::filemap &patch, const char *name);

// Which of the patch's two files input is, by size and CRC-32, guarded like readPatch; or why it is
// neither ("'x' is neither source nor target of 'p': size 4 bytes, expected 3", or the CRC-32 against the
// one recorded for that size).
ErrorOr<Side> matchInput(const char *patchName, const rudd::qpt::summary &recorded,
                         const rudd::filemap &input, const char *inputName);

// "'a' or 'b' changed while it was read": what a run says of inputs that another program changed.
rudd::string changedWhileRead(const char *first, const char *second);

// Writes the other side of the patch for input, which has been matched to it, into output, created by
// the caller, who puts it in place: made at its full size with its space truly allocated, written
// through a map, flushed, with the attributes the caller asked output to take. Faults of the files (an
// input changed while read, a damaged patch) come without an error number, the system's with one.
Error writeOtherSide(const rudd::filemap &patch, const char *patchName, const rudd::filemap &input,
                     const char *inputName, Replacement &output, const Progress &progress);

// Writes the patch from source to target into patch, created by the caller, who puts it in place:
// written, on disk, with the attributes the caller asked patch to take.
Error writePatchFile(const rudd::filemap &source, const char *sourceName, const rudd::filemap &target,
                     const char *targetName, Replacement &patch, const Progress &progress);

} // namespace vopra
