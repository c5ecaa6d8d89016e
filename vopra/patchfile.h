#pragma once

#include "rudd/file.h"
#include "rudd/qpt.h"
#include "rudd/string.h"

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

} // namespace vopra
