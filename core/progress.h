#pragma once

#include "core/workflow.h"

#include "rudd/error.h"

#include <cstdint>

// One progress scale for a whole operation. Each long phase (the input's check, the write, the flush)
// reports its own offset and total; a phase maps them onto its share of the operation's bar, so the
// window's bar moves across the phases as one operation and its event loop runs at every whole
// percent of any of them.
namespace vopra {

// The total of every report a phase passes on: offsets run from 0 to this across the operation.
const unsigned progressScale = 1u << 20;

// The reports of a phase that fills from/progressScale .. to/progressScale of whole's bar. Nothing when
// whole is unbound, so the work skips its reports as it does without a callback.
Progress phase(const Progress &whole, unsigned from, unsigned to);

// The CRC-32 of the descriptor's first size bytes, read a chunk at a time with progress(done, size)
// after each chunk; or the failed read, with failing's words, or cutShort where the file ended early.
// Read, not mapped: reading a page the system holds costs a copy, while touching it through a map costs
// as much as reading it from disk where the page cache holds the file in single pages.
rudd::either<uint32_t> checksumInChunks(int descriptor, uint32_t size, const Progress &progress,
                                        const rudd::words &failing, const rudd::error &cutShort);

// Puts the descriptor's first size bytes on disk a chunk at a time, with progress(done, size) after each
// chunk; the next chunk is already on its way while one is waited for. The file's own fsync, still to
// come, reports any failure.
void flushInChunks(int descriptor, uint32_t size, const Progress &progress);

// Bytes per chunk of the phases: at whole-percent steps of a large file the event loop runs between
// them, and each is short enough for a slow disk.
const uint32_t progressChunk = 8u << 20;

} // namespace vopra
