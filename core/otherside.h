#pragma once

#include "core/inputs.h"
#include "core/replacement.h"
#include "core/workflow.h"

#include "rudd/error.h"

namespace vopra {

// Writes the other side of the patch for the input, as read and matched, into output, created by the
// caller, who puts it in place: flushed, with the attributes the caller asked output to take. Made as a
// copy of the input by the system with only the changes written over it; where the system cannot copy,
// by the engine's pass. Faults of the files (an input changed while read, a damaged patch) come as
// faults, the system's with its error number.
rudd::done writeOtherSide(const ApplyInputs &in, Replacement &output, const Progress &progress);

} // namespace vopra
