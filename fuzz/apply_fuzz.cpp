// Arbitrary patches, sources and buffer capacities for apply, checked against the position-at-a-time
// model: the same result, size, buffer bytes and progress calls, and no byte touched past the buffer; and
// for a patch inspect passes, the copy road gives apply's verdict and, on success, its bytes.
// Input: a flags byte (1: repair the patch checksum so damage reaches the hunk reader; 2: no progress
// callback), the capacity (2 bytes, little-endian), the source length (2 bytes), the source, the patch.

#include "rudd/qpt.h"
#include "rudd/qpt_delta.h"
#include "tests/rudd/qpt_reference.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using bytes = std::vector<uint8_t>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 5)
        return 0;
    uint8_t flags = data[0];
    uint32_t capacity = uint32_t(data[1] | data[2] << 8);
    size_t source_size = size_t(data[3] | data[4] << 8);
    data += 5;
    size -= 5;
    if (source_size > size)
        source_size = size;
    // Exactly sized heap copies, so any read past an input is caught.
    bytes source(data, data + source_size), patch(data + source_size, data + size);
    if ((flags & 1) && patch.size() >= 4) {
        uint32_t check = reference::crc32(patch.data(), patch.size() - 4);
        for (int i = 0; i < 4; i++)
            patch[patch.size() - 4 + i] = uint8_t(check >> (8 * i));
    }
    const uint8_t *patch_data = patch.empty() ? nullptr : patch.data();
    const uint8_t *source_data = source.empty() ? nullptr : source.data();

    uint8_t *buffer = capacity ? static_cast<uint8_t *>(std::malloc(capacity)) : nullptr;
    if (buffer)
        std::memset(buffer, 0xA5, capacity);
    rudd::qpt engine;
    reference::calls calls;
    if (!(flags & 2))
        engine.progress = [&calls](unsigned offset, unsigned total) { calls.emplace_back(offset, total); };
    uint32_t produced = capacity;
    unsigned result = unsigned(engine.apply(patch_data, uint32_t(patch.size()), source_data,
                                            uint32_t(source.size()), buffer, produced));

    bytes expected_buffer(capacity, 0xA5);
    reference::engine model;
    model.record = !(flags & 2);
    uint32_t expected_size = capacity;
    unsigned expected = model.apply(patch_data, uint32_t(patch.size()), source_data, uint32_t(source.size()),
                                    capacity ? expected_buffer.data() : nullptr, expected_size);
    if (result != expected || produced != expected_size || calls != model.progress ||
        (capacity && std::memcmp(buffer, expected_buffer.data(), capacity) != 0))
        std::abort();

    // inspect refuses exactly what apply found malformed once it got past the sizes.
    rudd::qpt::summary info;
    bool inspected =
        rudd::qpt::inspect(patch_data, uint32_t(patch.size()), info) == rudd::qpt::result::success;
    if (result != 4 && result != 6 && inspected != (result != 3))
        std::abort();
    if (inspected && result != 6) {
        bytes copied(expected_size + 1, 0xA5);
        unsigned road =
            unsigned(rudd::qpt_delta::apply(patch_data, uint32_t(patch.size()), source_data,
                                            uint32_t(source.size()), copied.data(), expected_size));
        if (road != result || copied[expected_size] != 0xA5 ||
            (result == 1 && expected_size &&
             std::memcmp(copied.data(), expected_buffer.data(), expected_size) != 0))
            std::abort();
    }
    std::free(buffer);
    return 0;
}
