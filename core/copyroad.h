#pragma once

#include "core/inputs.h"
#include "core/replacement.h"
#include "core/workflow.h"

#include "rudd/error.h"

#include <sys/types.h>

// The output of an apply at the cost of the change: a copy of the input made by the system (sharing
// the input's blocks where the file system can, copied inside the system elsewhere), with only the
// patch's changed bytes written over it, and its CRC-32 proven from the input's before anything is
// renamed. Results, bytes and verdicts are those of the engine's pass, which does the work wherever the
// system cannot copy.
namespace vopra {

// The copy call. Only tests replace it, to make it unavailable as on a system without it.
extern ssize_t (*copyRange)(int from, off64_t *fromOffset, int to, off64_t *toOffset, size_t length);

// The share call (FICLONERANGE): the input's blocks offset .. offset + length become the output's at
// the same positions. 0, or -1 with errno. Only tests replace it, to stand for a file system that shares.
extern int (*shareRange)(int from, int to, uint64_t offset, uint64_t length);

enum class Copy {
    made,        // the output holds the other side, on disk; attributes not yet set
    unavailable, // the system cannot copy here: the output is empty again, for the engine's pass
};

// Writes the other side of the patch for the input, as read and matched, into the empty output,
// reporting progress(done, output size) a chunk at a time while the copy, the changes and their flush
// go on together. The verdicts and texts are writeOtherSide's.
rudd::either<Copy> copyOtherSide(const ApplyInputs &in, Replacement &output, const Progress &progress);

} // namespace vopra
