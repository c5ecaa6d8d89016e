#include "rudd/qpt.h"
#include "rudd/descriptor.h"

#include <isa-l/crc.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define QPT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QPT_ADDRESS_SANITIZER 1
#endif
#endif

namespace rudd {

namespace {

// Equal stretches are copied, compared and checksummed this many positions at a time, so the bytes a
// stretch has just brought into the cache are checksummed while they are still there.
const uint32_t chunk = 64 * 1024;

// Hunks whose skip and run are both shorter than this are handled a byte at a time.
const uint32_t short_hunk = 32;

// The creator compares a file that has ended against these.
alignas(64) const uint8_t zeros[chunk] = {};

// ISA-L takes and returns the finished (complemented) CRC-32; the engine keeps the running value.
uint32_t crc_update(uint32_t running, const uint8_t *data, uint64_t size) {
    if (size == 0)
        return running;
#if defined(QPT_ADDRESS_SANITIZER)
    // ISA-L is not instrumented: touching both ends lets the sanitizer check the range it will read.
    volatile uint8_t first = data[0], last = data[size - 1];
    (void)first;
    (void)last;
#endif
    return ~crc32_gzip_refl(~running, data, size);
}

uint64_t smaller(uint64_t a, uint64_t b) {
    return a < b ? a : b;
}
uint64_t larger(uint64_t a, uint64_t b) {
    return a > b ? a : b;
}

#if defined(__x86_64__) && !defined(QPT_ADDRESS_SANITIZER)
// The same search 128 bytes a step where the processor has AVX2: equal stretches are most of a pair of
// files, and their comparison is most of create's time.
__attribute__((target("avx2"))) uint32_t first_difference_avx2(const uint8_t *a, const uint8_t *b,
                                                               uint32_t size) {
    typedef char v32 __attribute__((vector_size(32)));
    uint32_t i = 0;
    for (; i + 128 <= size; i += 128) {
        v32 x0, x1, x2, x3, y0, y1, y2, y3;
        std::memcpy(&x0, a + i, 32);
        std::memcpy(&y0, b + i, 32);
        std::memcpy(&x1, a + i + 32, 32);
        std::memcpy(&y1, b + i + 32, 32);
        std::memcpy(&x2, a + i + 64, 32);
        std::memcpy(&y2, b + i + 64, 32);
        std::memcpy(&x3, a + i + 96, 32);
        std::memcpy(&y3, b + i + 96, 32);
        v32 d = (x0 ^ y0) | (x1 ^ y1) | (x2 ^ y2) | (x3 ^ y3);
        long long lanes[4];
        std::memcpy(lanes, &d, 32);
        if ((lanes[0] | lanes[1] | lanes[2] | lanes[3]) != 0)
            break;
    }
    for (; i < size; i++) {
        if (a[i] != b[i])
            return i;
    }
    return size;
}
const bool has_avx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
#endif

// The offset of the first position where a and b differ, or size when they agree throughout.
uint32_t first_difference(const uint8_t *a, const uint8_t *b, uint32_t size) {
#if defined(__x86_64__) && !defined(QPT_ADDRESS_SANITIZER)
    if (has_avx2)
        return first_difference_avx2(a, b, size);
#endif
    uint32_t i = 0;
#ifdef __SSE2__
    for (; i + 64 <= size; i += 64) {
        __m128i e0 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i)));
        __m128i e1 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i + 16)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i + 16)));
        __m128i e2 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i + 32)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i + 32)));
        __m128i e3 = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i + 48)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i + 48)));
        if (_mm_movemask_epi8(_mm_and_si128(_mm_and_si128(e0, e1), _mm_and_si128(e2, e3))) != 0xFFFF)
            break;
    }
    for (; i + 16 <= size; i += 16) {
        __m128i equal = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i)));
        unsigned differ = unsigned(_mm_movemask_epi8(equal)) ^ 0xFFFFu;
        if (differ)
            return i + uint32_t(__builtin_ctz(differ));
    }
#endif
    for (; i < size; i++) {
        if (a[i] != b[i])
            return i;
    }
    return size;
}

// Stores a XOR b into out up to and including the first position where a and b agree (which stores
// the zero that ends a run) and returns that position, or size when they differ throughout. out has
// room for size bytes; bytes past the returned position may be overwritten.
uint32_t exclusive_or_until_equal(const uint8_t *a, const uint8_t *b, uint32_t size, uint8_t *out) {
    uint32_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= size; i += 16) {
        __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), x);
        unsigned equal = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(x, zero)));
        if (equal)
            return i + uint32_t(__builtin_ctz(equal));
    }
#endif
    for (; i < size; i++) {
        out[i] = uint8_t(a[i] ^ b[i]);
        if (out[i] == 0)
            return i;
    }
    return size;
}

// out = a XOR b for size bytes.
void exclusive_or_into(uint8_t *out, const uint8_t *a, const uint8_t *b, uint32_t size) {
    uint32_t i = 0;
#ifdef __SSE2__
    for (; i + 16 <= size; i += 16) {
        __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), x);
    }
#endif
    for (; i < size; i++)
        out[i] = uint8_t(a[i] ^ b[i]);
}

uint32_t little_endian(const uint8_t *bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

// Numbers (the sizes and the skips) are little-endian base 128 with a carry, so that every value has
// exactly one encoding. Each byte holds 7 bits of the value, least significant first; the high bit
// marks the LAST byte (not, as usual, a byte that more follow). And a byte that is not the last also
// counts one unit of the next byte's place (128, then 128 x 128, ...): so a two-byte number starts
// where the one-byte numbers end, a three-byte one where the two-byte ones end. Worked example, 300:
//   writer: the low 7 bits of 300 are 44 (0x2C), the rest 300 >> 7 = 2. More follows, so 0x2C is
//           written, and the unit it counts of the next place is taken off the rest: 2 - 1 = 1, which
//           fits in the next byte, written last with the high bit: 2C 81.
//   reader: 0x2C gives 44; its high bit is clear, so one unit of the next place is added: 44 + 128 =
//           172; 0x81 gives 1 x 128 = 128 more, and is the last: 300.
// So 127 is FF, 128 is 00 80, 16511 is 7F FF, 16512 is 00 00 80; the largest 32-bit value takes five
// bytes, and readers take the low 32 bits of a 64-bit sum.
//
// Reads a number at offset; false when the data ends before the number does (bytes past the end would
// read as zero, which never ends a number).
bool parse_number(const uint8_t *data, uint32_t size, uint32_t &offset, uint32_t &value) {
    uint64_t sum = 0, shift = 1;
    for (;;) {
        if (offset >= size)
            return false;
        uint8_t byte = data[offset++];
        sum += uint64_t(byte & 0x7F) * shift;
        if (byte & 0x80)
            break;
        shift <<= 7;
        sum += shift;
    }
    value = uint32_t(sum);
    return true;
}

// Reads four trailer bytes at offset as a little-endian value; bytes past the end read as zero and
// are not consumed.
uint32_t parse_trailer_value(const uint8_t *data, uint32_t size, uint32_t &offset) {
    uint8_t bytes[4] = {};
    for (int i = 0; i < 4 && offset < size; i++)
        bytes[i] = data[offset++];
    return little_endian(bytes);
}

// The length of the run that starts at offset (its exclusive-or bytes and the zero that ends it), when
// it ends within room positions. A run that reaches the end of the data is ended by a zero read past
// it, which counts as one more position. found tells whether that zero is a real byte.
bool run_length(const uint8_t *data, uint32_t size, uint32_t offset, uint64_t room, uint64_t &length,
                bool &found) {
    uint64_t available = size - offset;
    const void *end = available ? std::memchr(data + offset, 0, smaller(available, room)) : nullptr;
    if (end) {
        length = uint64_t(static_cast<const uint8_t *>(end) - (data + offset)) + 1;
        found = true;
        return true;
    }
    if (available + 1 > room)
        return false;
    length = available + 1;
    found = false;
    return true;
}

} // namespace

uint32_t qpt::crc32(const uint8_t *data, uint32_t size) {
    return ~crc_update(0xFFFFFFFF, data, size);
}

uint32_t qpt::crc32_running(uint32_t running, const uint8_t *data, uint64_t size) {
    return crc_update(running, data, size);
}

bool qpt::read_number(const uint8_t *data, uint32_t size, uint32_t &offset, uint32_t &value) {
    return parse_number(data, size, offset, value);
}

bool qpt::read_number(uint32_t &value) {
    return parse_number(patch_data, patch_size, patch_offset, value);
}

void qpt::fold() {
    patch_checksum = crc_update(patch_checksum, patch_data + patch_folded, patch_offset - patch_folded);
    patch_folded = patch_offset;
    source_checksum = crc_update(source_checksum, source_data + source_folded, source_offset - source_folded);
    source_folded = source_offset;
    uint64_t written = smaller(target_offset, target_size);
    if (written > target_folded) {
        const uint8_t *target = target_input ? target_input : target_data;
        target_checksum = crc_update(target_checksum, target + target_folded, written - target_folded);
        target_folded = written;
    }
}

// Folding a chunk's worth at a time keeps the checksummed bytes in the cache without paying for a call
// per hunk when hunks are short.
void qpt::fold_when_due() {
    if (target_offset - target_folded >= chunk || patch_offset - patch_folded >= chunk)
        fold();
}

void qpt::report(uint64_t from, uint64_t to) {
    if (!progress)
        return;
    // A position that is a multiple of 256 reports the offset just past it.
    for (uint64_t position = (from + 255) & ~uint64_t(255); position < to; position += 256)
        progress(unsigned(position + 1), progress_total);
}

// Positions whose target byte is the source byte (zero past the source's end).
void qpt::copy(uint64_t count) {
    while (count) {
        uint64_t from = target_offset, step = smaller(count, chunk), to = from + step;
        uint64_t written = smaller(to, target_size);
        uint64_t copied = smaller(written, source_size);
        if (from < copied)
            std::memcpy(target_data + from, source_data + from, copied - from);
        uint64_t zeroed = larger(from, source_size);
        if (zeroed < written)
            std::memset(target_data + zeroed, 0, written - zeroed);
        source_offset = uint32_t(smaller(to, source_size));
        target_offset = to;
        fold_when_due();
        report(from, to);
        count -= step;
    }
}

// Positions whose target byte is the next patch byte XOR the source byte. count patch bytes exist.
void qpt::exclusive_or(uint32_t count) {
    while (count) {
        uint64_t from = target_offset;
        uint32_t step = uint32_t(smaller(count, chunk));
        uint64_t to = from + step;
        const uint8_t *bytes = patch_data + patch_offset;
        uint64_t written = smaller(to, target_size);
        uint64_t mixed = smaller(written, source_size);
        if (from < mixed)
            exclusive_or_into(target_data + from, bytes, source_data + from, uint32_t(mixed - from));
        uint64_t plain = larger(from, source_size);
        if (plain < written)
            std::memcpy(target_data + plain, bytes + (plain - from), written - plain);
        patch_offset += step;
        source_offset = uint32_t(smaller(to, source_size));
        target_offset = to;
        fold_when_due();
        report(from, to);
        count -= step;
    }
}

// One run: exclusive-or bytes up to and including the first zero, when it ends within room positions
// (else false, before anything is written). Whether it does is settled first, but without reading the
// whole run twice: only a run whose patch bytes could outlast the room needs a look, and a look from the
// room's end backwards finds a well-formed run's zero at once.
bool qpt::run(uint64_t room) {
    uint64_t available = patch_size - patch_offset;
    if (available + 1 > room && (room == 0 || !memrchr(patch_data + patch_offset, 0, room)))
        return false;
    for (;;) {
        uint32_t rest = patch_size - patch_offset;
        if (rest == 0) {
            // The zero read past the patch's end ends the run: that position takes the source byte.
            copy(1);
            return true;
        }
        uint32_t step = uint32_t(smaller(rest, chunk));
        const void *zero = std::memchr(patch_data + patch_offset, 0, step);
        if (zero) {
            exclusive_or(uint32_t(static_cast<const uint8_t *>(zero) - (patch_data + patch_offset)) + 1);
            return true;
        }
        exclusive_or(step);
    }
}

// Magic and the two recorded sizes; offset ends just past them. false for a patch too short or
// malformed to have them.
bool qpt::read_header(const uint8_t *data, uint32_t size, uint32_t &offset, uint32_t &recordedSource,
                      uint32_t &recordedTarget) {
    if (size < smallest_patch || std::memcmp(data, magic, sizeof magic) != 0)
        return false;
    offset = sizeof magic;
    return parse_number(data, size, offset, recordedSource) &&
           parse_number(data, size, offset, recordedTarget);
}

// Where both files have bytes and the patch goes on well past a hunk, a short hunk needs none of the
// checks at the files' or the patch's ends: it is done here a byte at a time, in line. false, with
// nothing done, for a hunk that is not short or not clear of those ends. Kept in apply's loop: a call
// per hunk costs a fifth more instructions on patches of many short hunks.
__attribute__((always_inline)) inline bool qpt::short_hunk_in_line(uint64_t both, uint32_t hunksEnd) {
    if (uint64_t(patch_offset) + short_hunk >= hunksEnd || target_offset + 2 * short_hunk >= both)
        return false;
    const uint8_t *hunk = patch_data + patch_offset;
    uint32_t skip = hunk[0] & 0x7F, used = 1;
    if (!(hunk[0] & 0x80))
        skip = short_hunk; // a number of two bytes or more: not short
    uint32_t length = 0;
    while (length < short_hunk && hunk[used + length] != 0)
        length++;
    if (skip >= short_hunk || length >= short_hunk)
        return false;
    uint64_t from = target_offset;
    const uint8_t *source = source_data + from;
    uint8_t *target = target_data + from;
    for (uint32_t i = 0; i < skip; i++)
        target[i] = source[i];
    const uint8_t *bytes = hunk + used;
    for (uint32_t i = 0; i <= length; i++)
        target[skip + i] = uint8_t(bytes[i] ^ source[skip + i]);
    patch_offset += used + length + 1;
    target_offset = from + skip + length + 1;
    source_offset = uint32_t(target_offset);
    fold_when_due();
    report(from, target_offset);
    return true;
}

// Reads the trailer and compares it with the checksums of what was read and written. The patch
// checksum is checked first; then the source, read in either direction, picks which recorded target
// the output must match.
qpt::result qpt::verdict(uint32_t recordedSource, uint32_t recordedTarget) {
    uint32_t recorded_source_checksum = parse_trailer_value(patch_data, patch_size, patch_offset);
    uint32_t recorded_target_checksum = parse_trailer_value(patch_data, patch_size, patch_offset);
    fold();
    uint32_t final_patch = ~patch_checksum, final_source = ~source_checksum, final_target = ~target_checksum;
    uint32_t recorded_patch_checksum = parse_trailer_value(patch_data, patch_size, patch_offset);

    if (final_patch != recorded_patch_checksum)
        return result::patch_invalid;
    if (recorded_source_checksum == final_source && source_size == recordedSource) {
        bool good = recorded_target_checksum == final_target && recordedTarget == target_size;
        return good ? result::success : result::target_invalid;
    }
    if (recorded_target_checksum != final_source || source_size != recordedTarget)
        return result::source_invalid;
    bool good = recorded_source_checksum == final_target && recordedSource == target_size;
    return good ? result::success : result::target_invalid;
}

qpt::result qpt::apply(const uint8_t *patchData, uint32_t patchSize, const uint8_t *sourceData,
                       uint32_t sourceSize, uint8_t *targetData, uint32_t &targetSize) {
    patch_data = patchData;
    patch_size = patchSize;
    source_data = sourceData;
    source_size = sourceSize;
    target_data = targetData;
    target_input = nullptr;
    target_size = targetSize;
    patch_offset = source_offset = 0;
    target_offset = 0;
    patch_folded = source_folded = 0;
    target_folded = 0;
    patch_checksum = source_checksum = target_checksum = 0xFFFFFFFF;

    uint32_t recorded_source, recorded_target;
    if (!read_header(patch_data, patch_size, patch_offset, recorded_source, recorded_target))
        return result::patch_invalid;
    uint32_t output_size;
    if (source_size == recorded_source)
        output_size = recorded_target;
    else if (source_size == recorded_target)
        output_size = recorded_source;
    else
        return result::source_invalid;
    targetSize = output_size;
    if (output_size > target_size)
        return result::target_too_small;
    target_size = output_size;
    progress_total = unsigned(larger(source_size, target_size));
    // A well-formed patch ends its last run at the latest with the zero just past both files.
    position_limit = larger(recorded_source, recorded_target) + uint64_t(1);

    const uint64_t both = smaller(source_size, target_size);
    const uint32_t hunks_end = patch_size - trailer_size;
    while (patch_offset < hunks_end) {
        if (short_hunk_in_line(both, hunks_end))
            continue;
        uint32_t skip;
        if (!read_number(skip) || target_offset + skip > position_limit)
            return result::patch_invalid;
        copy(skip);
        if (!run(position_limit - target_offset))
            return result::patch_invalid;
    }
    if (source_offset < source_size)
        copy(source_size - source_offset);
    if (target_offset < target_size)
        copy(target_size - target_offset);
    return verdict(recorded_source, recorded_target);
}

// The same walk as apply's, without the files: what apply refuses as malformed, this refuses too. Counts
// the hunks and changed bytes into out and leaves offset at the trailer.
qpt::flaw qpt::walk_hunks(const uint8_t *patchData, uint32_t patchSize, uint32_t &offset, uint64_t limit,
                          summary &out) {
    uint64_t position = 0;
    while (offset < patchSize - trailer_size) {
        uint32_t skip;
        if (!parse_number(patchData, patchSize, offset, skip))
            return flaw::hunk_unended;
        uint64_t length;
        bool ended;
        if (position + skip > limit ||
            !run_length(patchData, patchSize, offset, limit - position - skip, length, ended))
            return flaw::hunk_too_long;
        position += skip + length;
        offset += uint32_t(ended ? length : length - 1);
        out.changed += length - 1;
        out.hunks++;
    }
    return flaw::none;
}

qpt::side qpt::match(const summary &recorded, uint32_t size, uint32_t checksum) {
    bool source = size == recorded.source_size && checksum == recorded.source_checksum;
    bool target = size == recorded.target_size && checksum == recorded.target_checksum;
    return source && target ? side::both : source ? side::source : target ? side::target : side::neither;
}

qpt::result qpt::inspect(const uint8_t *patchData, uint32_t patchSize, summary &out, flaw *found) {
    out = summary();
    flaw ignored;
    flaw &why = found ? *found : ignored;
    why = flaw::none;
    // Damage to any byte shows in the checksum, which covers every byte before it: a fault of the
    // structure is named only where the checksum is right, in a patch written wrongly.
    auto structural = [&](flaw fault) {
        bool sealed = little_endian(patchData + patchSize - 4) == crc32(patchData, patchSize - 4);
        why = sealed ? fault : flaw::checksum;
        return result::patch_invalid;
    };
    uint32_t offset, recorded_source, recorded_target;
    if (!read_header(patchData, patchSize, offset, recorded_source, recorded_target)) {
        if (patchSize < smallest_patch || std::memcmp(patchData, magic, sizeof magic) != 0) {
            why = flaw::not_a_patch;
            return result::patch_invalid;
        }
        return structural(flaw::sizes);
    }
    // Sizes that end inside the trailer leave it no room: the checksums would be read from the wrong place.
    if (offset > patchSize - trailer_size)
        return structural(flaw::sizes);
    uint64_t limit = larger(recorded_source, recorded_target) + uint64_t(1);
    summary counted = summary();
    counted.hunks_start = offset;
    flaw fault = walk_hunks(patchData, patchSize, offset, limit, counted);
    if (fault != flaw::none)
        return structural(fault);
    uint32_t source_checksum = parse_trailer_value(patchData, patchSize, offset);
    uint32_t target_checksum = parse_trailer_value(patchData, patchSize, offset);
    uint32_t patch_checksum = crc32(patchData, offset);
    if (parse_trailer_value(patchData, patchSize, offset) != patch_checksum) {
        why = flaw::checksum;
        return result::patch_invalid;
    }
    out = counted;
    out.source_size = recorded_source;
    out.target_size = recorded_target;
    out.source_checksum = source_checksum;
    out.target_checksum = target_checksum;
    return result::success;
}

// A patch grows to at most the larger file plus a fifth, which can pass 4 GiB; past that it is refused.
static const uint64_t patch_limit = UINT32_MAX;

// Patches of this much go to disk while the next is made: the flush at the end waits for one at most.
static const uint64_t write_behind_step = 8u << 20;

qpt::~qpt() = default;

void qpt::write_out(const uint8_t *bytes, uint32_t count) {
    if (patch_error)
        return;
    if (patch_written + count > patch_limit) {
        patch_error = EFBIG;
        return;
    }
    done wrote = write_all(patch_descriptor.get(), bytes, count, patch_written, words());
    if (wrote.failed()) {
        patch_error = wrote.failure().number();
        return;
    }
    patch_written += count;
    if (patch_written - patch_flushed >= write_behind_step) {
        behind.written(patch_written);
        patch_flushed = patch_written;
    }
}

void qpt::flush_patch() {
    patch_checksum = crc_update(patch_checksum, staging, staged);
    write_out(staging, staged);
    staged = 0;
}

void qpt::put(const uint8_t *bytes, uint32_t count) {
    while (count) {
        if (staged == sizeof staging)
            flush_patch();
        uint32_t step = uint32_t(smaller(count, sizeof staging - staged));
        std::memcpy(staging + staged, bytes, step);
        staged += step;
        bytes += step;
        count -= step;
    }
}

// The writer of the numbers explained at parse_number, the reader.
void qpt::put_number(uint32_t value) {
    uint8_t bytes[5];
    uint32_t count = 0, low = value & 0x7F;
    value >>= 7;
    while (value) {
        bytes[count++] = uint8_t(low);
        value--; // the byte just written counts one unit of this place

        low = value & 0x7F;
        value >>= 7;
    }
    bytes[count++] = uint8_t(low | 0x80);
    put(bytes, count);
}

void qpt::put_checksum(uint32_t value) {
    uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    put(bytes, 4);
}

// A short run is copied a byte at a time, in line: up to short_hunk exclusive-or bytes from position i
// on, i moved past them. True when the run ended among them (its zero byte written).
__attribute__((always_inline)) inline bool qpt::short_run(const uint8_t *source, const uint8_t *target,
                                                          uint32_t &i) {
    uint32_t k = 0;
    uint8_t x;
    do {
        x = uint8_t(source[i + k] ^ target[i + k]);
        staging[staged + k++] = x;
    } while (x != 0 && k < short_hunk);
    staged += k;
    i += k;
    return x == 0;
}

// Writes the hunks for positions from..to, where source and target hold the two files' bytes of those
// positions (zeros for a file that has ended). running tells whether a run is open at from; last is
// where the current skip started.
void qpt::scan(uint64_t from, uint64_t to, const uint8_t *source, const uint8_t *target, bool &running,
               uint64_t &last) {
    uint32_t size = uint32_t(to - from), i = 0;
    while (i < size) {
        if (!running) {
            // Differences close together are common; the search is for the rest.
            if (source[i] == target[i])
                i += first_difference(source + i, target + i, size - i);
            if (i == size)
                break;
            uint32_t skip = uint32_t(from + i - last);
            if (skip < 128 && staged < sizeof staging)
                staging[staged++] = uint8_t(skip | 0x80);
            else
                put_number(skip);
            running = true;
        }
        if (staged + short_hunk > sizeof staging)
            flush_patch();
        if (i + short_hunk <= size && short_run(source, target, i)) {
            running = false;
            last = from + i;
            continue;
        }
        if (i == size)
            break;
        if (staged == sizeof staging)
            flush_patch();
        uint32_t room = uint32_t(smaller(size - i, sizeof staging - staged));
        uint32_t differing = exclusive_or_until_equal(source + i, target + i, room, staging + staged);
        if (differing < room) {
            // The equal pair's zero ends the run and the hunk.
            staged += differing + 1;
            i += differing + 1;
            running = false;
            last = from + i;
        } else {
            staged += room;
            i += room;
        }
    }
}

qpt::result qpt::create(const uint8_t *sourceData, uint32_t sourceSize, const uint8_t *targetData,
                        uint32_t targetSize, const char *patchName, file::mode patchMode) {
    if (patch_descriptor.is_open() || patchMode == file::mode::read)
        return result::patch_unwritable;
    int flags = patchMode == file::mode::create ? O_CREAT | O_EXCL | O_NOFOLLOW : O_CREAT | O_TRUNC;
    patch_descriptor.reset(open(patchName, O_WRONLY | O_CLOEXEC | flags, 0666));
    if (!patch_descriptor.is_open()) {
        patch_error = errno;
        return result::patch_unwritable;
    }
    return write_patch(sourceData, sourceSize, targetData, targetSize);
}

qpt::result qpt::create(const uint8_t *sourceData, uint32_t sourceSize, const uint8_t *targetData,
                        uint32_t targetSize, int patchDescriptor) {
    if (patch_descriptor.is_open())
        return result::patch_unwritable;
    patch_descriptor.reset(fcntl(patchDescriptor, F_DUPFD_CLOEXEC, 0));
    if (!patch_descriptor.is_open()) {
        patch_error = errno;
        return result::patch_unwritable;
    }
    return write_patch(sourceData, sourceSize, targetData, targetSize);
}

// Puts the patch on disk and closes it; success only when every write, the flush and the close went
// well; patch_failure() then tells why not.
qpt::result qpt::finish_patch() {
    if (!patch_error && fsync(patch_descriptor.get()) != 0)
        patch_error = errno;
    if (close(patch_descriptor.release()) != 0 && !patch_error)
        patch_error = errno;
    return patch_error ? result::patch_unwritable : result::success;
}

// Takes the inputs of a create and starts the patch at the start of its (empty) file.
void qpt::start_patch(const uint8_t *sourceData, uint32_t sourceSize, const uint8_t *targetData,
                      uint32_t targetSize) {
    source_data = sourceData;
    source_size = sourceSize;
    target_data = nullptr;
    target_input = targetData;
    target_size = targetSize;
    patch_data = nullptr;
    patch_size = patch_offset = patch_folded = 0;
    source_offset = source_folded = 0;
    target_offset = target_folded = 0;
    patch_checksum = source_checksum = target_checksum = 0xFFFFFFFF;
    staged = 0;
    patch_written = patch_flushed = 0;
    patch_error = 0;
    behind = write_behind(patch_descriptor.get());
}

// A whole chunk of equal bytes from..to: the target's running checksum follows the source's. Over the
// same bytes two running checksums change by the same part, so their difference is only carried over
// the chunk's length, as over zeros: one multiplication instead of a pass.
void qpt::fold_equal_chunk(uint64_t from, uint64_t to, unsigned long chunk_shift) {
    uint32_t before = source_checksum;
    source_checksum = crc_update(source_checksum, source_data + from, chunk);
    uint32_t difference = target_checksum ^ before;
    target_checksum =
        source_checksum ^ (difference ? uint32_t(crc32_combine_op(difference, 0, chunk_shift)) : 0);
    source_folded = uint32_t(to);
    target_folded = to;
}

qpt::result qpt::write_patch(const uint8_t *sourceData, uint32_t sourceSize, const uint8_t *targetData,
                             uint32_t targetSize) {
    start_patch(sourceData, sourceSize, targetData, targetSize);
    put(magic, sizeof magic);
    put_number(source_size);
    put_number(target_size);

    uint64_t end = larger(source_size, target_size), common = smaller(source_size, target_size);
    progress_total = unsigned(end);
    const uLong chunk_shift = crc32_combine_gen64(chunk);
    bool running = false;
    uint64_t last = 0;
    while (target_offset < end) {
        uint64_t from = target_offset;
        uint64_t to = from < common ? smaller(from + chunk, common) : smaller(from + chunk, end);
        const uint8_t *source = from < source_size ? source_data + from : zeros;
        const uint8_t *target = from < target_size ? target_input + from : zeros;
        bool was_running = running;
        uint64_t last_before = last;
        scan(from, to, source, target, running, last);
        source_offset = uint32_t(smaller(to, source_size));
        target_offset = to;
        if (!was_running && !running && last == last_before && to - from == chunk && to <= common &&
            source_folded == from && target_folded == from)
            fold_equal_chunk(from, to, chunk_shift);
        else
            fold();
        report(from, to);
        // A failed write (a full disk) fails the whole patch; there is no point in going on.
        if (patch_error)
            break;
    }
    if (running) {
        // The data ended inside a run: its zero stands just past both files.
        const uint8_t zero = 0;
        put(&zero, 1);
    }
    put_checksum(~source_checksum);
    put_checksum(~target_checksum);
    flush_patch();
    put_checksum(~patch_checksum);
    write_out(staging, staged);
    staged = 0;
    // A patch reported written is on disk: a caller may rename it over an earlier one at once.
    return finish_patch();
}

} // namespace rudd
