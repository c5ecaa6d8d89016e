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
// expected 3", or the CRC-32 against the one recorded for that size). The CRC-32 is read a chunk at a
// time with progress(done, size), and stored in checksum (when given) whenever it was read.
Side matchFile(const rudd::qpt::summary &recorded, const uint8_t *data, uint32_t size, rudd::string &why,
               const Progress &progress = Progress(), uint32_t *checksum = nullptr);

struct CheckedInput;

enum class Written {
    done,       // the file is whole and on disk, its bits set: ready to be put in place
    changed,    // another program cut an input short while it was read
    mismatched, // input has a recorded size but is neither file by its CRC-32
    damaged,    // the result does not have the recorded checksum: the patch is damaged
    failed,     // the system failed (a full disk, say); why tells
};

// Writes the other side of the patch for input into output, created by the caller, who puts it in
// place: flushed, with the permission bits and, when like is given, the owner and group of like. Made
// as a copy of input by the system with only the changes written over it; where the system cannot
// copy, made at its full size with its space truly allocated and written through a map by the
// engine. checked: the input's CRC-32 when the caller has read it already; otherwise it is read here,
// in the first third of progress's scale.
Written writeOtherSide(const rudd::filemap &patch, const rudd::filemap &input, Replacement &output,
                       mode_t permissions, const struct stat *like, const Progress &progress, rudd::string &why,
                       const CheckedInput *checked = nullptr);

// Writes the patch from source to target into patch, created by the caller, who puts it in place:
// written, on disk, with the permission bits a new file gets. done, changed or failed (why tells).
Written writePatchFile(const rudd::filemap &source, const rudd::filemap &target, Replacement &patch,
                       const Progress &progress, rudd::string &why);

} // namespace vopra
