#pragma once

#include "core/files.h"
#include "core/workflow.h"

#include "rudd/error.h"
#include "rudd/qpt.h"
#include "rudd/words.h"

// A file matched against what a patch records: which of the patch's two files it is, and so which
// file applying the patch to it makes.
namespace vopra {

using Side = rudd::qpt::side;

// The input as matched: which of the patch's files it is and its CRC-32, and the size and CRC-32 of
// the file apply makes from it. A file that is both is taken forward, as the source.
struct Matched {
    Side side = Side::neither;
    uint32_t checksum = 0;
    uint32_t outputSize = 0;
    uint32_t outputChecksum = 0;
};

// Matches the open input to the patch at patchName that recorded it, by size and CRC-32, guarded against
// the file being cut short meanwhile; or says why it is neither ("'x' is neither source nor target of 'p':
// size 4 bytes, expected 3", or the CRC-32 against the one recorded for that size). The CRC-32 is read a
// chunk at a time with progress(done, size).
rudd::either<Matched> matchInput(const char *patchName, const rudd::qpt::summary &recorded,
                                 const OpenedFile &input, const Progress &progress = Progress());

// "'a' or 'b' changed while it was read": what a run says of inputs that another program changed.
rudd::error changedWhileRead(const char *first, const char *second);
// "'p' does not turn 'x' into the file it records (the patch is damaged)".
rudd::error damagedPatch(const char *patchName, const char *inputName);

} // namespace vopra
