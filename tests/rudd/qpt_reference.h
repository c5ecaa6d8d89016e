#pragma once

// A plain, position-at-a-time model of the QPT engine: every byte goes through one read or write step,
// exactly as the format and the engine's behaviour are defined, with nothing done a stretch at a time.
// The fast engine must match it in every observable respect: result, size left in targetSize, the
// bytes written into the caller's buffer, the patch bytes and the sequence of progress calls.
// Shared by the engine's tests and the fuzz targets.

#include <cstdint>
#include <utility>
#include <vector>

namespace reference {

enum result : unsigned {
    success = 1,
    patch_unwritable = 2,
    patch_invalid = 3,
    source_invalid = 4,
    target_invalid = 5,
    target_too_small = 6,
};

using calls = std::vector<std::pair<unsigned, unsigned>>;

inline uint32_t crc_step(uint32_t running, uint8_t byte) {
    static uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        made = true;
    }
    return table[(running ^ byte) & 0xFF] ^ (running >> 8);
}

inline uint32_t crc32(const uint8_t *data, size_t size) {
    uint32_t running = 0xFFFFFFFF;
    for (size_t i = 0; i < size; i++)
        running = crc_step(running, data[i]);
    return ~running;
}

struct engine {
    calls progress;
    bool record = true; // whether a progress callback is bound

    const uint8_t *patch = nullptr, *source = nullptr;
    uint8_t *target = nullptr;
    uint32_t patch_size = 0, source_size = 0, target_size = 0;
    uint32_t patch_offset = 0, source_offset = 0;
    uint64_t target_offset = 0;
    uint32_t patch_checksum = 0, source_checksum = 0, target_checksum = 0;
    std::vector<uint8_t> written; // create: the patch bytes

    uint8_t read_patch() {
        if (patch_offset >= patch_size)
            return 0;
        uint8_t byte = patch[patch_offset++];
        patch_checksum = crc_step(patch_checksum, byte);
        return byte;
    }
    uint8_t read_source() {
        if (source_offset >= source_size)
            return 0;
        uint8_t byte = source[source_offset++];
        source_checksum = crc_step(source_checksum, byte);
        return byte;
    }
    void tick(uint64_t position) {
        if (position % 256 == 0 && record)
            progress.emplace_back(unsigned(position + 1),
                                  source_size > target_size ? source_size : target_size);
    }
    void write_target(uint8_t byte) {
        if (target_offset < target_size) {
            target[target_offset] = byte;
            target_checksum = crc_step(target_checksum, byte);
        }
        tick(target_offset++);
    }
    // false: the patch ended inside the number
    bool read_number(uint32_t &value) {
        uint64_t sum = 0, shift = 1;
        for (;;) {
            if (patch_offset >= patch_size)
                return false;
            uint8_t byte = read_patch();
            sum += (byte & 0x7F) * shift;
            if (byte & 0x80)
                break;
            shift *= 128;
            sum += shift;
        }
        value = uint32_t(sum);
        return true;
    }
    uint32_t read_value() {
        uint32_t value = 0;
        for (int i = 0; i < 4; i++)
            value |= uint32_t(read_patch()) << (8 * i);
        return value;
    }

    result apply(const uint8_t *patchData, uint32_t patchSize, const uint8_t *sourceData, uint32_t sourceSize,
                 uint8_t *targetData, uint32_t &targetSize) {
        patch = patchData;
        patch_size = patchSize;
        source = sourceData;
        source_size = sourceSize;
        target = targetData;
        target_size = targetSize;
        patch_offset = source_offset = 0;
        target_offset = 0;
        patch_checksum = source_checksum = target_checksum = 0xFFFFFFFF;
        if (patch_size < 18)
            return patch_invalid;
        for (char c : {'Q', 'P', 'T', '1'}) {
            if (read_patch() != uint8_t(c))
                return patch_invalid;
        }
        uint32_t s, t;
        if (!read_number(s) || !read_number(t))
            return patch_invalid;
        uint32_t output;
        if (source_size == s)
            output = t;
        else if (source_size == t)
            output = s;
        else
            return source_invalid;
        targetSize = output;
        if (output > target_size)
            return target_too_small;
        target_size = output;
        uint64_t limit = uint64_t(s > t ? s : t) + 1;
        while (patch_offset < patch_size - 12) {
            uint32_t n;
            if (!read_number(n))
                return patch_invalid;
            if (target_offset + n > limit)
                return patch_invalid;
            for (uint32_t i = 0; i < n; i++)
                write_target(read_source());
            // The run ends at its first zero byte, or at the zero read past the patch's end.
            uint32_t end = patch_offset;
            while (end < patch_size && patch[end] != 0)
                end++;
            uint64_t length = uint64_t(end - patch_offset) + 1;
            if (target_offset + length > limit)
                return patch_invalid;
            for (;;) {
                uint8_t x = read_patch();
                write_target(uint8_t(x ^ read_source()));
                if (x == 0)
                    break;
            }
        }
        while (source_offset < source_size)
            write_target(read_source());
        while (target_offset < target_size)
            write_target(read_source());
        uint32_t rs = read_value(), rt = read_value();
        uint32_t pc = ~patch_checksum, sc = ~source_checksum, tc = ~target_checksum;
        uint32_t rp = read_value();
        if (pc != rp)
            return patch_invalid;
        if (rs == sc && source_size == s)
            return rt == tc && t == target_size ? success : target_invalid;
        if (rt != sc || source_size != t)
            return source_invalid;
        return rs == tc && s == target_size ? success : target_invalid;
    }

    void put(uint8_t byte) {
        written.push_back(byte);
        patch_checksum = crc_step(patch_checksum, byte);
    }
    void put_number(uint32_t v) {
        uint32_t x = v & 0x7F;
        v >>= 7;
        while (v) {
            put(uint8_t(x));
            v--;
            x = v & 0x7F;
            v >>= 7;
        }
        put(uint8_t(x | 0x80));
    }
    void put_value(uint32_t v) {
        for (int i = 0; i < 4; i++)
            put(uint8_t(v >> (8 * i)));
    }
    uint8_t read_target() {
        uint8_t byte = 0;
        if (target_offset < target_size) {
            byte = target[target_offset];
            target_checksum = crc_step(target_checksum, byte);
        }
        tick(target_offset++);
        return byte;
    }

    // The patch bytes from sourceData to targetData.
    std::vector<uint8_t> create(const uint8_t *sourceData, uint32_t sourceSize, const uint8_t *targetData,
                                uint32_t targetSize) {
        source = sourceData;
        source_size = sourceSize;
        target = const_cast<uint8_t *>(targetData);
        target_size = targetSize;
        source_offset = 0;
        target_offset = 0;
        patch_checksum = source_checksum = target_checksum = 0xFFFFFFFF;
        written.clear();
        for (char c : {'Q', 'P', 'T', '1'})
            put(uint8_t(c));
        put_number(source_size);
        put_number(target_size);
        uint64_t n = source_size > target_size ? source_size : target_size;
        uint64_t p = 0, last = 0;
        while (p < n) {
            uint8_t s = read_source(), t = read_target();
            if (s == t) {
                p++;
                continue;
            }
            put_number(uint32_t(p - last));
            p++;
            put(uint8_t(s ^ t));
            for (;;) {
                if (p == n) {
                    put(0);
                    last = p;
                    break;
                }
                uint8_t s2 = read_source(), t2 = read_target();
                p++;
                put(uint8_t(s2 ^ t2));
                if (s2 == t2) {
                    last = p;
                    break;
                }
            }
        }
        put_value(~source_checksum);
        put_value(~target_checksum);
        put_value(~patch_checksum);
        return written;
    }
};

} // namespace reference
