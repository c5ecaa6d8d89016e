#pragma once

#include "rudd/error.h"
#include "rudd/file.h"
#include "rudd/qpt.h"

// A patch file read for what it records.
namespace vopra {

// What the patch mapped from name records, read without applying it, guarded against the file being cut
// short meanwhile ("'p' changed while it was read"); or why it cannot be used ("'p.qpt' is not a QPT
// patch", or what is damaged).
rudd::either<rudd::qpt::summary> readPatch(const rudd::filemap &patch, const char *name);

} // namespace vopra
