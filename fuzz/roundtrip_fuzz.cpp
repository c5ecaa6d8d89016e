// Arbitrary file pairs through create and back through apply, both ways: the patch must be the one the
// position-at-a-time model writes, with the same progress calls, and must turn each file into the other,
// through the engine's pass and through the copy road (the input's copy with the changes over it) alike.
// Input: the source length (2 bytes, little-endian), the source, then the target.

#include "rudd/qpt.h"
#include "rudd/qpt_delta.h"
#include "tests/rudd/qpt_reference.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using bytes = std::vector<uint8_t>;

static std::string patch_name() {
    const char *folder = std::getenv("TMPDIR")           ? std::getenv("TMPDIR")
                         : access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                         : "/tmp";
    return std::string(folder) + "/qpt_roundtrip_fuzz." + std::to_string(getpid()) + ".qpt";
}

static bytes read_file(const std::string &name) {
    bytes data;
    FILE *fp = std::fopen(name.c_str(), "rb");
    if (!fp)
        std::abort();
    int c;
    while ((c = std::fgetc(fp)) != EOF)
        data.push_back(uint8_t(c));
    std::fclose(fp);
    return data;
}

static const uint8_t *at(const bytes &b) {
    return b.empty() ? nullptr : b.data();
}

// Applies patch to input with an exactly sized buffer and checks the output.
static void check_apply(const bytes &patch, const bytes &input, const bytes &output) {
    rudd::qpt engine;
    uint32_t size = 0;
    rudd::qpt::result probe =
        engine.apply(at(patch), uint32_t(patch.size()), at(input), uint32_t(input.size()), nullptr, size);
    if (size != output.size())
        std::abort();
    if (output.empty()) {
        if (probe != rudd::qpt::result::success)
            std::abort();
        return;
    }
    if (probe != rudd::qpt::result::target_too_small)
        std::abort();
    bytes buffer(size);
    if (engine.apply(at(patch), uint32_t(patch.size()), at(input), uint32_t(input.size()), buffer.data(),
                     size) != rudd::qpt::result::success ||
        buffer != output)
        std::abort();
    bytes copied(size);
    if (rudd::qpt_delta::apply(at(patch), uint32_t(patch.size()), at(input), uint32_t(input.size()),
                               copied.data(), size) != rudd::qpt::result::success ||
        copied != output)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2)
        return 0;
    size_t split = size_t(data[0] | data[1] << 8);
    data += 2;
    size -= 2;
    if (split > size)
        split = size;
    bytes source(data, data + split), target(data + split, data + size);

    static const std::string name = patch_name();
    rudd::qpt engine;
    reference::calls calls;
    engine.progress = [&calls](unsigned offset, unsigned total) { calls.emplace_back(offset, total); };
    if (engine.create(at(source), uint32_t(source.size()), at(target), uint32_t(target.size()),
                      name.c_str()) != rudd::qpt::result::success)
        std::abort();
    bytes patch = read_file(name);
    reference::engine model;
    if (patch != model.create(at(source), uint32_t(source.size()), at(target), uint32_t(target.size())) ||
        calls != model.progress)
        std::abort();
    check_apply(patch, source, target);
    check_apply(patch, target, source);
    return 0;
}
