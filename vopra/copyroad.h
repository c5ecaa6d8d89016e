#pragma once

#include "rudd/file.h"
#include "rudd/qpt.h"
#include "rudd/string.h"
#include "vopra/patchfile.h"
#include "vopra/replacement.h"
#include "vopra/workflow.h"

#include <sys/stat.h>
#include <sys/types.h>

// The output of an apply at the cost of the change: a copy of the input made by the system (sharing
// the input's blocks where the file system can, copied inside the system elsewhere), with only the
// patch's changed bytes written over it, and its CRC-32 proven from the input's before anything is
// renamed. Results, bytes and verdicts are those of the engine's pass, which does the work wherever the
// system cannot copy.
namespace vopra {

// The copy call. Only tests replace it, to make it unavailable as on a system without it.
extern ssize_t (*copyRange)(int from, off64_t *fromOffset, int to, off64_t *toOffset, size_t length);

// The input as checked: its CRC-32, read after status was taken of its descriptor. A change of the
// file's size or times since then means another program wrote to it meanwhile.
struct CheckedInput {
    uint32_t checksum;
    struct stat status;
};

// Writes the other side of the patch (recorded, as inspect read it) for input, checked as given, into
// the empty output, reporting progress(done, output size) a chunk at a time while the copy, the changes
// and their flush go on together. unavailable (and the output empty again) when the system cannot copy
// here: the caller then takes the engine's pass. done, changed, mismatched and damaged as the engine's
// pass gives them; failed with why on a failing call (a full disk). Data on disk; bits not yet set.
Written copyOtherSide(const rudd::filemap &patch, const rudd::qpt::summary &recorded, const rudd::filemap &input,
                      const CheckedInput &checked, Replacement &output, const Progress &progress,
                      rudd::string &why, bool &unavailable);

// writeOtherSide's road: true, with written (and why), when the copy did the work; false when the
// engine's pass must, here a system that cannot copy or a patch inspect refuses (whose verdict the
// pass gives), with writing the reports the pass and its flush are to make. The input's CRC-32 is
// read here, in the first third of progress's scale, when checked does not give it.
bool writeByCopy(const rudd::filemap &patch, const rudd::filemap &input, const CheckedInput *checked,
                 Replacement &output, const Progress &progress, rudd::string &why, Written &written,
                 Progress &writing);

} // namespace vopra
