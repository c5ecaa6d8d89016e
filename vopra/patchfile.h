#pragma once

#include "rudd/file.h"
#include "rudd/qpt.h"
#include "rudd/string.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

// The steps both workflows and the qpt tool take with patches: a patch file read for what it records,
// a file matched against that record, each with the reason in the user's terms; and the two writes, a
// patch's other side and a new patch, into a replacement the caller puts in place.
namespace vopra {

// Reads what the patch at name records; false with why ("'p.qpt' is not a QPT patch", or what is
// damaged) when it cannot be used.
bool readPatch(const rudd::filemap &patch, const char *name, rudd::qpt::summary &recorded, rudd::string &why);

enum class Side { source, target, both, neither };

// Which of the patch's two files the bytes are, by size and CRC-32; for neither, why ("size 4 bytes,
// expected 3", or the CRC-32 against the one recorded for that size).
Side matchFile(const rudd::qpt::summary &recorded, const uint8_t *data, uint32_t size, rudd::string &why);

enum class Written {
    done,    // the file is whole and on disk, its attributes set: ready to be put in place
    changed, // an input was cut short or changed while it was read: it no longer is the file matched
    damaged, // the result does not have the recorded checksum: the patch is damaged
    failed,  // the system failed (a full disk, say); why tells
};

// "'a' or 'b' changed while it was read": what a run says of inputs that another program changed.
rudd::string changedWhileRead(const char *first, const char *second);

// Reads the patch's record as readPatch does, guarded against the file being cut short meanwhile ("'p'
// changed while it was read").
bool readPatchGuarded(const rudd::filemap &patch, const char *name, rudd::qpt::summary &recorded, rudd::string &why);

// Reads the patch's record and matches input against it, guarded against the files being cut short
// meanwhile; false with why when the patch is no patch or a damaged one, when input is neither of its
// files ("'x' is neither source nor target of 'p': size ..."), or when a file changed while it was read.
bool matchInput(const rudd::filemap &patch, const char *patchName, const rudd::filemap &input,
                const char *inputName, rudd::qpt::summary &recorded, Side &side, rudd::string &why);

// Writes the other side of the patch for input, which has been matched to it, into output, created by
// the caller, who puts it in place: made at its full size with its space truly allocated, written
// through a map, flushed, with the attributes the caller asked output to take.
Written writeOtherSide(const rudd::filemap &patch, const rudd::filemap &input, Replacement &output,
                       const Progress &progress, rudd::string &why);

// Writes the patch from source to target into patch, created by the caller, who puts it in place:
// written, on disk, with the attributes the caller asked patch to take. done, changed or failed (why
// tells).
Written writePatchFile(const rudd::filemap &source, const rudd::filemap &target, Replacement &patch,
                       const Progress &progress, rudd::string &why);

} // namespace vopra
