#pragma once

#include "rudd/file.h"
#include "rudd/qpt.h"
#include "rudd/string.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

// A patch file read for what it records, and a file matched against that record: the two questions
// both workflows and the qpt tool ask, answered with the reason in the user's terms.
namespace vopra {

// Reads what the patch at name records; false with why ("'p.qpt' is not a QPT patch", or what is
// damaged) when it cannot be used.
bool readPatch(const rudd::filemap &patch, const char *name, rudd::qpt::summary &recorded, rudd::string &why);

enum class Side { source, target, both, neither };

// Which of the patch's two files the bytes are, by size and CRC-32; for neither, why ("size 4 bytes,
// expected 3", or the CRC-32 against the one recorded for that size).
Side matchFile(const rudd::qpt::summary &recorded, const uint8_t *data, uint32_t size, rudd::string &why);

enum class Written {
    done,       // the file is whole and on disk, its bits set: ready to be put in place
    changed,    // another program cut an input short while it was read
    mismatched, // input has a recorded size but is neither file by its CRC-32
    damaged,    // the result does not have the recorded checksum: the patch is damaged
    failed,     // the system failed (a full disk, say); why tells
};

// Writes the other side of the patch for input into output, created by the caller, who puts it in
// place: made at its full size with its space truly allocated, written through a map, flushed, with
// the permission bits and, when like is given, the owner and group of like.
Written writeOtherSide(const rudd::filemap &patch, const rudd::filemap &input, Replacement &output,
                       mode_t permissions, const struct stat *like, const Progress &progress, rudd::string &why);

} // namespace vopra
