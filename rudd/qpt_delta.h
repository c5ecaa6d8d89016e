#pragma once

#include "rudd/qpt.h"

#include <cstdint>
#include <optional>

namespace rudd {

// The changes a checked patch makes, for an output made another way than the engine's pass: as a copy
// of its input (by the system, sharing the input's blocks where the file system can), with only the
// changed positions written over it. The output's CRC-32 is then proven from the input's CRC-32 and the
// changes alone, by CRC arithmetic, so the verdict is the engine's without reading the output back.
//
// The output of n bytes is B XOR D: B the input cut or zero-extended to n bytes, D the exclusive-or
// bytes of the hunks at their positions below n and zero elsewhere. CRC-32 is affine: for equal
// lengths crc(B XOR D) = crc(B) XOR lin(D), lin being the running checksum of D started from zero.
class qpt_delta {
public:
    // patchData must have passed qpt::inspect, which gave recorded; outputSize is the size apply gives
    // the output for the input (the other recorded size).
    qpt_delta(const uint8_t *patchData, uint32_t patchSize, const qpt::summary &recorded,
              uint32_t outputSize);

    // The next stretch of changed positions that starts below limit and below the output size: the
    // output's bytes at position .. position + count are the input's (zero past its end) XOR bytes.
    // A stretch that crosses limit is cut there and its rest comes next. false when no stretch is left
    // below limit.
    bool next(uint64_t limit, uint32_t &position, const uint8_t *&bytes, uint32_t &count);

    // How many runs of neighbouring pages (of page bytes each) the stretches below limit touch, counted
    // up to most; nothing is taken.
    uint32_t page_runs(uint64_t limit, uint64_t page, uint32_t most) const;

    // A run of whole blocks, from .. to.
    struct block_run {
        uint64_t from, to;
    };
    // The next run of whole blocks (of block bytes each, counted from 0) that holds the stretches below
    // limit: from the block of the first stretch to the end of the block of the last stretch before
    // the first gap of bridged or more blocks that none touches. Nothing when no stretch is left below
    // limit; nothing is taken.
    std::optional<block_run> changed_blocks(uint64_t limit, uint64_t block, uint64_t bridged) const;

    // The bytes of all such runs of blocks below limit, and how many runs there are; nothing is taken.
    struct block_runs {
        uint64_t bytes;
        uint32_t count;
    };
    block_runs changed_bytes(uint64_t limit, uint64_t block, uint64_t bridged) const;

    // The verdict apply gives for the input when every stretch was written over its copy: the input of
    // inputSize bytes has the CRC-32 inputChecksum, its bytes past the output size tailChecksum (0 when
    // it has none), and the output must have the CRC-32 expected. target_invalid when it would not.
    // Stretches not yet taken through next are taken here.
    qpt::result verdict(uint32_t expected, uint32_t inputSize, uint32_t inputChecksum, uint32_t tailChecksum);

    // The whole road in memory, for comparing it with apply: output (outputSize bytes, the size apply
    // gives for input) receives the copy and the changes. The patch must have passed qpt::inspect.
    static qpt::result apply(const uint8_t *patchData, uint32_t patchSize, const uint8_t *input,
                             uint32_t inputSize, uint8_t *output, uint32_t outputSize);

    // A running CRC-32 (the value before its final complement) carried over count zero bytes, without
    // passing them.
    static uint32_t crc32_zeros(uint32_t running, uint64_t count);

private:
    bool read_hunk();

    const uint8_t *patch_data;
    uint32_t patch_size;
    uint32_t output_size;
    uint32_t offset;       // next patch byte of the hunks
    uint64_t position = 0; // output position of the pending stretch
    const uint8_t *pending = nullptr;
    uint32_t pending_count = 0; // bytes of the pending stretch not yet taken
    uint32_t changes = 0;       // lin(D) over positions below folded
    uint64_t folded = 0;
    bool counting = false; // a look ahead: stretches are not folded
};

} // namespace rudd
