#include "rudd/qpt_delta.h"

#include <zlib.h>

#include <cstring>

namespace rudd {

namespace {

// Up to this many zero bytes are passed through the table method; beyond, zlib's shift operator (a
// few dozen multiplications modulo the polynomial) is cheaper.
const uint32_t passed_zeros = 16384;
const uint8_t zeros[passed_zeros] = {};

uint64_t smallest(uint64_t a, uint64_t b, uint64_t c) {
    uint64_t m = a < b ? a : b;
    return m < c ? m : c;
}

} // namespace

// Running the checksum over zeros multiplies it by x^(8 count) modulo the polynomial; with no
// constant part this is the linear map zlib's combine operator applies to its first checksum.
uint32_t qpt_delta::crc32_zeros(uint32_t running, uint64_t count) {
    if (running == 0 || count == 0)
        return running;
    if (count <= passed_zeros)
        return qpt::crc32_running(running, zeros, count);
    return uint32_t(crc32_combine_op(running, 0, crc32_combine_gen64(z_off64_t(count))));
}

qpt_delta::qpt_delta(const uint8_t *patchData, uint32_t patchSize, const qpt::summary &recorded,
                     uint32_t outputSize)
    : patch_data(patchData), patch_size(patchSize), output_size(outputSize), offset(recorded.hunks_start) {}

// Reads hunks up to the next one with exclusive-or bytes; false when the hunks have ended. The walk is
// apply's: a run ends at its first zero byte, which stands for one equal position, or at the patch's
// end (a run may reach into the trailer), where the zero read past the end ends it.
bool qpt_delta::read_hunk() {
    while (pending_count == 0) {
        if (offset >= patch_size - qpt::trailer_size)
            return false;
        uint32_t skip = 0;
        qpt::read_number(patch_data, patch_size, offset, skip);
        position += skip;
        const uint8_t *start = patch_data + offset;
        uint32_t available = patch_size - offset;
        const void *zero = std::memchr(start, 0, available);
        uint32_t length = zero ? uint32_t(static_cast<const uint8_t *>(zero) - start) : available;
        offset += zero ? length + 1 : length;
        pending = start;
        pending_count = length;
        // The zero after the run: position stands there once the stretch is taken.
        if (length == 0)
            position += 1;
    }
    return true;
}

bool qpt_delta::next(uint64_t limit, uint32_t &at, const uint8_t *&bytes, uint32_t &count) {
    if (pending_count == 0 && !read_hunk())
        return false;
    if (position >= output_size) {
        // Positions only grow: nothing further is written.
        pending_count = 0;
        offset = patch_size;
        return false;
    }
    if (position >= limit)
        return false;
    uint64_t end = smallest(position + pending_count, output_size, limit);
    at = uint32_t(position);
    bytes = pending;
    count = uint32_t(end - position);
    if (!counting) {
        changes = qpt::crc32_running(crc32_zeros(changes, position - folded), bytes, count);
        folded = end;
    }
    pending += count;
    pending_count -= count;
    position = end;
    if (pending_count == 0)
        position += 1; // the run's zero
    return true;
}

uint32_t qpt_delta::page_runs(uint64_t limit, uint64_t page, uint32_t most) const {
    qpt_delta ahead = *this;
    ahead.counting = true;
    uint32_t runs = 0, at, count;
    const uint8_t *bytes;
    uint64_t last = 0;
    while (runs < most && ahead.next(limit, at, bytes, count)) {
        uint64_t first = at / page;
        if (runs == 0 || first > last + 1)
            runs++;
        last = (uint64_t(at) + (count ? count - 1 : 0)) / page;
    }
    return runs;
}

std::optional<qpt_delta::block_run> qpt_delta::changed_blocks(uint64_t limit, uint64_t block,
                                                              uint64_t bridged) const {
    qpt_delta ahead = *this;
    ahead.counting = true;
    uint32_t at, count;
    const uint8_t *bytes;
    std::optional<block_run> found;
    while (ahead.next(limit, at, bytes, count)) {
        uint64_t first = at / block * block;
        if (found && first >= found->to + bridged * block)
            break;
        if (!found)
            found = block_run{first, 0};
        found->to = (uint64_t(at) + count + block - 1) / block * block;
    }
    return found;
}

qpt_delta::block_runs qpt_delta::changed_bytes(uint64_t limit, uint64_t block, uint64_t bridged) const {
    qpt_delta ahead = *this;
    ahead.counting = true;
    uint32_t at, count;
    const uint8_t *bytes;
    uint64_t total = 0, from = 0, to = 0;
    uint32_t runs = 0;
    while (ahead.next(limit, at, bytes, count)) {
        uint64_t first = at / block * block, end = (uint64_t(at) + count + block - 1) / block * block;
        if (runs == 0 || first >= to + bridged * block) {
            total += to - from;
            from = first;
            runs++;
        }
        to = end > to ? end : to;
    }
    return block_runs{total + to - from, runs};
}

qpt::result qpt_delta::verdict(uint32_t expected, uint32_t inputSize, uint32_t inputChecksum,
                               uint32_t tailChecksum) {
    uint32_t at, count;
    const uint8_t *bytes;
    while (next(UINT64_MAX, at, bytes, count)) {
    }
    uint32_t linear = crc32_zeros(changes, output_size - folded);
    bool good;
    if (output_size >= inputSize) {
        // B is the input and n - m zeros after it.
        uint32_t base = ~crc32_zeros(~inputChecksum, output_size - inputSize);
        good = (base ^ linear) == expected;
    } else {
        // B is the input's first n bytes P, whose own checksum is unknown; but the input's is
        // shift_k(crc(P)) XOR crc(tail) for its k bytes past n, and shift_k is one-to-one, so
        // crc(P) XOR linear == expected exactly when the shifted sides agree.
        uint64_t k = inputSize - output_size;
        good = (inputChecksum ^ tailChecksum ^ crc32_zeros(linear, k)) == crc32_zeros(expected, k);
    }
    return good ? qpt::result::success : qpt::result::target_invalid;
}

qpt::result qpt_delta::apply(const uint8_t *patchData, uint32_t patchSize, const uint8_t *input,
                             uint32_t inputSize, uint8_t *output, uint32_t outputSize) {
    qpt::summary recorded;
    if (qpt::inspect(patchData, patchSize, recorded) != qpt::result::success)
        return qpt::result::patch_invalid;
    qpt::side from = qpt::match(recorded, inputSize, qpt::crc32(input, inputSize));
    if (from == qpt::side::neither)
        return qpt::result::source_invalid;
    uint32_t size = qpt::output_size(recorded, from);
    if (size > outputSize)
        return qpt::result::target_too_small;
    uint32_t common = inputSize < size ? inputSize : size;
    if (common)
        std::memcpy(output, input, common);
    if (size > common)
        std::memset(output + common, 0, size - common);
    qpt_delta delta(patchData, patchSize, recorded, size);
    uint32_t at, count;
    const uint8_t *bytes;
    while (delta.next(UINT64_MAX, at, bytes, count)) {
        for (uint32_t i = 0; i < count; i++)
            output[at + i] = uint8_t((uint64_t(at) + i < inputSize ? input[at + i] : 0) ^ bytes[i]);
    }
    uint32_t tail = inputSize > size ? qpt::crc32(input + size, inputSize - size) : 0;
    return delta.verdict(qpt::output_checksum(recorded, from), inputSize, qpt::crc32(input, inputSize), tail);
}

} // namespace rudd
