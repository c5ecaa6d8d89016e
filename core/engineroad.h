#pragma once

#include "core/inputs.h"
#include "core/replacement.h"
#include "core/workflow.h"

#include "rudd/error.h"

namespace vopra {

// Writes the other side of the patch for the input, as read and matched, into the empty output by the
// engine's own pass, where the system cannot copy: the output given its full size with its space truly
// allocated, written through a map, then put on disk a chunk at a time. The pass is the first half of
// progress(done, total), the flush the second. The verdicts and texts are writeOtherSide's.
rudd::done writeByEngine(const ApplyInputs &in, Replacement &output, const Progress &progress);

} // namespace vopra
