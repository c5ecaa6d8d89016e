#include "rudd/qpt.h"
#include "rudd/qpt_delta.h"
#include "tests/read_file.h"
#include "tests/rudd/qpt_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using rudd::qpt;
using bytes = std::vector<uint8_t>;

namespace {

std::string hex(const bytes &data) {
    std::string text;
    char piece[4];
    for (uint8_t b : data) {
        std::snprintf(piece, sizeof piece, "%02X ", b);
        text += piece;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

bytes le(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

bytes join(std::initializer_list<bytes> parts) {
    bytes all;
    for (const bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Appends the patch checksum of everything before it.
bytes sealed(bytes body) {
    bytes check = le(reference::crc32(body.data(), body.size()));
    body.insert(body.end(), check.begin(), check.end());
    return body;
}

// Rewrites the last four bytes as the checksum of the rest, so a damaged patch reaches the hunk reader.
void reseal(bytes &patch) {
    if (patch.size() < 4)
        return;
    uint32_t check = reference::crc32(patch.data(), patch.size() - 4);
    for (int i = 0; i < 4; i++)
        patch[patch.size() - 4 + i] = uint8_t(check >> (8 * i));
}

const uint8_t *at(const bytes &data) {
    return data.empty() ? nullptr : data.data();
}

class Folder : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/qpt_test_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + folder + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    std::string path(const char *name) const { return folder + "/" + name; }

    static bytes read(const std::string &name) { return readFile(name); }

    // The fast engine's patch, with its progress calls.
    bytes create(const bytes &source, const bytes &target, reference::calls *calls = nullptr) {
        qpt engine;
        if (calls)
            engine.progress = [calls](unsigned offset, unsigned total) {
                calls->emplace_back(offset, total);
            };
        std::string name = path("made.qpt");
        qpt::result r = engine.create(at(source), uint32_t(source.size()), at(target),
                                      uint32_t(target.size()), name.c_str());
        EXPECT_EQ(r, qpt::result::success);
        return read(name);
    }

    std::string folder;
};

// What one apply run leaves behind: the result, the size stored, the buffer and the progress calls.
struct outcome {
    unsigned code;
    uint32_t size;
    bytes buffer;
    reference::calls calls;
    bool operator==(const outcome &o) const {
        return code == o.code && size == o.size && buffer == o.buffer && calls == o.calls;
    }
};

std::ostream &operator<<(std::ostream &out, const outcome &o) {
    out << "result " << o.code << ", size " << o.size << ", " << o.calls.size() << " progress calls";
    if (!o.calls.empty())
        out << " (last " << o.calls.back().first << "/" << o.calls.back().second << ")";
    return out << ", buffer of " << o.buffer.size();
}

const uint8_t sentinel = 0xA5;

// Runs apply with a buffer of the given capacity followed by sentinel bytes.
outcome run_fast(const bytes &patch, const bytes &source, uint32_t capacity, bool bind = true) {
    outcome o;
    o.buffer.assign(capacity + 16, sentinel);
    qpt engine;
    reference::calls *calls = &o.calls;
    if (bind)
        engine.progress = [calls](unsigned offset, unsigned total) { calls->emplace_back(offset, total); };
    o.size = capacity;
    o.code = unsigned(engine.apply(at(patch), uint32_t(patch.size()), at(source), uint32_t(source.size()),
                                   capacity ? o.buffer.data() : nullptr, o.size));
    return o;
}

outcome run_reference(const bytes &patch, const bytes &source, uint32_t capacity) {
    outcome o;
    o.buffer.assign(capacity + 16, sentinel);
    reference::engine engine;
    o.size = capacity;
    o.code = engine.apply(at(patch), uint32_t(patch.size()), at(source), uint32_t(source.size()),
                          capacity ? o.buffer.data() : nullptr, o.size);
    o.calls = engine.progress;
    return o;
}

bytes reference_patch(const bytes &source, const bytes &target, reference::calls *calls = nullptr) {
    reference::engine engine;
    bytes patch = engine.create(at(source), uint32_t(source.size()), at(target), uint32_t(target.size()));
    if (calls)
        *calls = engine.progress;
    return patch;
}

// Applies patch to source with an exact buffer; the output, or a marker of failure.
bytes apply_ok(const bytes &patch, const bytes &source, qpt::result *code = nullptr) {
    qpt engine;
    uint32_t size = 0;
    qpt::result probe =
        engine.apply(at(patch), uint32_t(patch.size()), at(source), uint32_t(source.size()), nullptr, size);
    bytes out(size);
    qpt::result r = probe;
    if (probe == qpt::result::target_too_small || probe == qpt::result::success)
        r = engine.apply(at(patch), uint32_t(patch.size()), at(source), uint32_t(source.size()),
                         out.empty() ? nullptr : out.data(), size);
    if (code)
        *code = r;
    return out;
}

// The copy road in memory against apply's pass: the same result and, where both succeed, the same bytes.
void expect_same_roads(const bytes &patch, const bytes &input, const std::string &trace) {
    qpt::result engine_code;
    bytes engine_out = apply_ok(patch, input, &engine_code);
    bytes road_out(engine_out.size() + 1, sentinel);
    qpt::result road_code =
        rudd::qpt_delta::apply(at(patch), uint32_t(patch.size()), at(input), uint32_t(input.size()),
                               road_out.data(), uint32_t(engine_out.size()));
    EXPECT_EQ(road_code, engine_code) << trace;
    EXPECT_EQ(road_out.back(), sentinel) << trace;
    if (engine_code == qpt::result::success) {
        EXPECT_EQ(bytes(road_out.begin(), road_out.end() - 1), engine_out) << trace;
    }
}

} // namespace

// --- the format's bytes

TEST_F(Folder, worked_examples_give_their_exact_bytes) {
    bytes source = {0x61, 0x62, 0x63}, target = {0x61, 0x78, 0x63};
    bytes patch = create(source, target);
    bytes expected = sealed(join({{'Q', 'P', 'T', '1', 0x83, 0x83, 0x81, 0x1A, 0x00},
                                  le(reference::crc32(source.data(), 3)),
                                  le(reference::crc32(target.data(), 3))}));
    EXPECT_EQ(patch.size(), 21u);
    EXPECT_EQ(hex(patch), hex(expected));

    // One exclusive-or run describes both directions.
    bytes a = {0x61}, ab = {0x61, 0x62};
    bytes forward = create(a, ab), backward = create(ab, a);
    EXPECT_EQ(hex(bytes(forward.begin() + 4, forward.end() - 12)), "81 82 81 62 00");
    EXPECT_EQ(hex(bytes(backward.begin() + 4, backward.end() - 12)), "82 81 81 62 00");

    // Two empty files: the smallest patch, the CRC-32 of nothing being 0.
    EXPECT_EQ(hex(create({}, {})), hex(sealed({'Q', 'P', 'T', '1', 0x80, 0x80, 0, 0, 0, 0, 0, 0, 0, 0})));
}

TEST_F(Folder, hunk_shapes_follow_the_differences) {
    auto hunks = [&](const bytes &s, const bytes &t) {
        bytes p = create(s, t);
        size_t header = 4 + (s.size() < 128 ? 1 : 2) + (t.size() < 128 ? 1 : 2);
        return hex(bytes(p.begin() + long(header), p.end() - 12));
    };
    EXPECT_EQ(hunks({}, {1, 2, 3}), "80 01 02 03 00");
    EXPECT_EQ(hunks({}, {0, 0, 0}), "");
    EXPECT_EQ(hunks({5, 6, 7}, {5, 6, 7}), "");
    // Differences at 1 and 3 with 2 equal: two hunks, the second with skip 0.
    EXPECT_EQ(hunks({0, 1, 2, 3, 4}, {0, 9, 2, 8, 4}), "81 08 00 80 0B 00");
    // A difference in the last position is closed by a zero standing past the end.
    EXPECT_EQ(hunks({1, 2, 3}, {1, 2, 4}), "82 07 00");
    EXPECT_EQ(hunks({1, 2}, {1, 2, 0, 0, 9}), "84 09 00");
    EXPECT_EQ(hunks({1, 2, 7}, {1, 2}), "82 07 00");
}

TEST_F(Folder, numbers_use_the_carry_code) {
    // The target size lands in the header; an empty source against zeros makes no hunk.
    const std::pair<uint32_t, const char *> table[] = {
        {0, "80"},
        {1, "81"},
        {127, "FF"},
        {128, "00 80"},
        {129, "01 80"},
        {255, "7F 80"},
        {16511, "7F FF"},
        {16512, "00 00 80"},
        {2113663, "7F 7F FF"},
        {2113664, "00 00 00 80"},
    };
    for (auto &[value, code] : table) {
        bytes patch = create({}, bytes(value, 0));
        EXPECT_EQ(hex(bytes(patch.begin() + 5, patch.end() - 12)), code) << value;
    }
    // The largest value reads back through inspect.
    bytes patch = sealed(join({{'Q', 'P', 'T', '1', 0x7F, 0x7E, 0x7E, 0x7E, 0x8E, 0x80}, le(0), le(0)}));
    qpt::summary info;
    ASSERT_EQ(qpt::inspect(patch.data(), uint32_t(patch.size()), info), qpt::result::success);
    EXPECT_EQ(info.source_size, 4294967295u);
    // And skips of those sizes are written the same way.
    for (uint32_t skip : {127u, 128u, 16511u, 16512u}) {
        bytes s(skip + 1, 7), t = s;
        t[skip] = 9;
        bytes p = create(s, t);
        reference::engine r;
        EXPECT_EQ(p, r.create(s.data(), uint32_t(s.size()), t.data(), uint32_t(t.size()))) << skip;
    }
}

TEST(Checksum, crc32_matches_the_table_method) {
    EXPECT_EQ(qpt::crc32(nullptr, 0), 0u);
    const char *check = "123456789";
    EXPECT_EQ(qpt::crc32(reinterpret_cast<const uint8_t *>(check), 9), 0xCBF43926u);
    std::mt19937 random(5);
    bytes data(100000);
    for (auto &b : data)
        b = uint8_t(random());
    for (uint32_t size : {1u, 15u, 16u, 17u, 255u, 4096u, 65537u, 100000u})
        EXPECT_EQ(qpt::crc32(data.data(), size), reference::crc32(data.data(), size)) << size;
    // Zeros passed by arithmetic, on either side of the size where it stops passing them byte by byte.
    bytes zeros(70000);
    for (uint32_t count : {0u, 1u, 16384u, 16385u, 70000u})
        EXPECT_EQ(rudd::qpt_delta::crc32_zeros(0x12345678, count),
                  qpt::crc32_running(0x12345678, zeros.data(), count))
            << count;
}

// --- apply's checks and results

TEST_F(Folder, apply_refuses_short_or_foreign_patches) {
    bytes source = {1, 2, 3};
    bytes patch = create(source, {1, 5, 3});
    EXPECT_EQ(run_fast(bytes(patch.begin(), patch.begin() + 17), source, 3).code,
              unsigned(qpt::result::patch_invalid));
    bytes foreign = patch;
    foreign[0] = 'q';
    EXPECT_EQ(run_fast(foreign, source, 3).code, unsigned(qpt::result::patch_invalid));
    // Unterminated number at the end of the data.
    bytes open_number = {'Q', 'P', 'T', '1'};
    open_number.resize(18, 0x00);
    EXPECT_EQ(run_fast(open_number, source, 3).code, unsigned(qpt::result::patch_invalid));
    // A skip whose bytes never end: the patch runs out inside the number.
    bytes open_skip = {'Q', 'P', 'T', '1', 0x83, 0x83};
    open_skip.resize(19, 0x7F);
    EXPECT_EQ(run_fast(open_skip, source, 3).code, unsigned(qpt::result::patch_invalid));
}

TEST_F(Folder, probe_delivers_the_output_size) {
    bytes source(1000, 1), target(300, 2);
    bytes patch = create(source, target);
    outcome probe = run_fast(patch, source, 0);
    EXPECT_EQ(probe.code, unsigned(qpt::result::target_too_small));
    EXPECT_EQ(probe.size, 300u);
    EXPECT_TRUE(probe.calls.empty());
    // An empty output needs no buffer: the probe runs to the end.
    bytes none = create(source, {});
    outcome empty = run_fast(none, source, 0);
    EXPECT_EQ(empty.code, unsigned(qpt::result::success));
    EXPECT_EQ(empty.size, 0u);
    // A source of neither size leaves the capacity as it was.
    outcome wrong = run_fast(patch, bytes(999, 1), 77);
    EXPECT_EQ(wrong.code, unsigned(qpt::result::source_invalid));
    EXPECT_EQ(wrong.size, 77u);
}

TEST_F(Folder, apply_writes_only_the_output_bytes) {
    bytes source = {1, 2, 3, 4, 5}, target = {1, 9, 3};
    bytes patch = create(source, target);
    outcome o = run_fast(patch, source, 10);
    EXPECT_EQ(o.code, unsigned(qpt::result::success));
    EXPECT_EQ(o.size, 3u);
    EXPECT_EQ(hex(o.buffer), hex(join({target, bytes(7 + 16, sentinel)})));
    outcome back = run_fast(patch, target, 5);
    EXPECT_EQ(back.code, unsigned(qpt::result::success));
    EXPECT_EQ(hex(bytes(back.buffer.begin(), back.buffer.begin() + 5)), hex(source));
}

TEST_F(Folder, checksums_tell_which_input_is_wrong) {
    bytes source = {10, 20, 30, 40}, target = {10, 21, 30, 41};
    bytes patch = create(source, target);
    // Equal sizes: the checksums settle the direction.
    EXPECT_EQ(apply_ok(patch, source), target);
    EXPECT_EQ(apply_ok(patch, target), source);
    qpt::result code;
    apply_ok(patch, {10, 20, 30, 99}, &code);
    EXPECT_EQ(code, qpt::result::source_invalid);
    // A corrupted hunk with a recomputed patch checksum produces a wrong output.
    bytes bent = patch;
    bent[7] ^= 0x40; // the first exclusive-or byte
    reseal(bent);
    apply_ok(bent, source, &code);
    EXPECT_EQ(code, qpt::result::target_invalid);
    // Without the recomputed checksum any flipped byte is a damaged patch.
    for (size_t i = 4; i + 4 < patch.size(); i++) {
        bytes flipped = patch;
        flipped[i] ^= 0x01;
        apply_ok(flipped, source, &code);
        EXPECT_NE(code, qpt::result::success) << i;
        if (i >= patch.size() - 12) {
            EXPECT_EQ(code, qpt::result::patch_invalid) << i;
        }
    }
}

TEST_F(Folder, progress_reports_every_256_positions) {
    bytes source(1000), target(10);
    for (size_t i = 0; i < source.size(); i++)
        source[i] = uint8_t(i * 7);
    for (size_t i = 0; i < target.size(); i++)
        target[i] = uint8_t(i * 3);
    reference::calls made;
    bytes patch = create(source, target, &made);
    reference::calls expected = {{1, 1000}, {257, 1000}, {513, 1000}, {769, 1000}};
    EXPECT_EQ(made, expected);
    outcome o = run_fast(patch, source, 10);
    EXPECT_EQ(o.code, unsigned(qpt::result::success));
    EXPECT_EQ(o.calls, expected);
    // Two empty files: no call at all.
    made.clear();
    create({}, {}, &made);
    EXPECT_TRUE(made.empty());
}

TEST_F(Folder, crafted_skips_cannot_make_apply_loop) {
    // Skips of 2^32 - 1 positions, over and over: refused at the first, nothing written.
    bytes body = {'Q', 'P', 'T', '1', 0x83, 0x83};
    for (int i = 0; i < 100; i++)
        body.insert(body.end(), {0x7F, 0x7E, 0x7E, 0x7E, 0x8E, 0x01, 0x00});
    bytes patch = sealed(join({body, le(0), le(0)}));
    bytes source = {1, 2, 3};
    outcome o = run_fast(patch, source, 3);
    EXPECT_EQ(o.code, unsigned(qpt::result::patch_invalid));
    EXPECT_TRUE(o.calls.empty());
    EXPECT_EQ(o, run_reference(patch, source, 3));
    // The last hunk's zero may stand just past both files, and no further.
    bytes edge = sealed(join({{'Q', 'P', 'T', '1', 0x83, 0x83, 0x82, 0x05, 0x00}, le(0), le(0)}));
    EXPECT_EQ(run_fast(edge, source, 3).code, unsigned(qpt::result::source_invalid));
    bytes beyond = sealed(join({{'Q', 'P', 'T', '1', 0x83, 0x83, 0x83, 0x05, 0x00}, le(0), le(0)}));
    EXPECT_EQ(run_fast(beyond, source, 3).code, unsigned(qpt::result::patch_invalid));

    // A run that reaches into the trailer and past the patch's end, where the zero read past the end
    // closes it: with sizes 14 the run may cover positions 0 to 14, no more. Trailer values without
    // zero bytes keep the run going.
    bytes fourteen(14, 0x33);
    for (uint32_t run : {2u, 3u}) {
        bytes patch;
        for (uint32_t seed = 0x01010101;; seed++) {
            bytes body = join({{'Q', 'P', 'T', '1', 0x8E, 0x8E, 0x80}, bytes(run, 0x11), le(seed), le(seed)});
            patch = sealed(body);
            if (std::count(patch.begin() + 7, patch.end(), 0) == 0)
                break;
        }
        outcome fast = run_fast(patch, fourteen, 14), model = run_reference(patch, fourteen, 14);
        EXPECT_EQ(fast, model) << run;
        // The trailer went into the run, so its checksum cannot match either way; what differs is
        // whether the run was carried out or refused before its first byte.
        EXPECT_EQ(fast.code, unsigned(qpt::result::patch_invalid)) << run;
        EXPECT_EQ(fast.buffer[0], run == 2 ? 0x33 ^ 0x11 : sentinel) << run;
    }
}

// --- create's failures

TEST_F(Folder, create_reports_an_unwritable_patch) {
    bytes source = {1, 2, 3}, target = {3, 2, 1};
    qpt engine;
    std::string missing = path("no/such/folder.qpt");
    EXPECT_EQ(engine.create(source.data(), 3, target.data(), 3, missing.c_str()),
              qpt::result::patch_unwritable);
    // Every byte must reach the file: a full device fails the run.
    EXPECT_EQ(engine.create(source.data(), 3, target.data(), 3, "/dev/full"), qpt::result::patch_unwritable);
    bytes big(100000, 1);
    EXPECT_EQ(engine.create(big.data(), 100000, source.data(), 3, "/dev/full"),
              qpt::result::patch_unwritable);
    // The same object works again afterwards.
    std::string good = path("good.qpt");
    EXPECT_EQ(engine.create(source.data(), 3, target.data(), 3, good.c_str()), qpt::result::success);
    EXPECT_EQ(read(good), reference_patch(source, target));
}

// --- the fast engine against the reference model

namespace {

struct pair_maker {
    std::mt19937 random;
    explicit pair_maker(unsigned seed) : random(seed) {}
    uint32_t below(uint32_t n) { return n ? uint32_t(random() % n) : 0; }

    bytes noise(uint32_t size) {
        bytes data(size);
        // Some zero bytes, since they are what ends runs and fills past a file's end.
        for (auto &b : data)
            b = below(4) == 0 ? 0 : uint8_t(random());
        return data;
    }

    // A source and a target that differ sparsely or densely, equal or different in length.
    std::pair<bytes, bytes> make() {
        uint32_t sizes[] = {0, 1, 2, 127, 128, 129, 255, 256, 257, 1000, 4095, 4096, 4097};
        uint32_t size = below(3) ? below(5000) : sizes[below(13)];
        bytes source = noise(size), target = source;
        const double densities[] = {0.0, 0.001, 0.01, 0.1, 0.5, 1.0};
        double density = densities[below(6)];
        for (uint32_t i = 0; i < size; i++) {
            if (std::uniform_real_distribution<double>(0, 1)(random) < density)
                target[i] = uint8_t(target[i] + 1 + below(255));
        }
        if (size && below(3) == 0)
            target[0] ^= 0x80;
        if (size && below(3) == 0)
            target[size - 1] ^= 0x01;
        switch (below(5)) {
        case 0:
            target.resize(below(size + 1));
            break;
        case 1: {
            bytes tail = below(2) ? noise(below(600)) : bytes(below(600), 0);
            target.insert(target.end(), tail.begin(), tail.end());
            break;
        }
        case 2:
            target = noise(below(5000));
            break;
        default:
            break;
        }
        if (below(2))
            std::swap(source, target);
        return {source, target};
    }

    // Equal stretches of exactly the sizes where a skip's code grows a byte.
    std::pair<bytes, bytes> skips() {
        const uint32_t gaps[] = {126, 127, 128, 129, 16510, 16511, 16512, 16513};
        bytes source, target;
        for (int k = 0; k < 3; k++) {
            bytes stretch = noise(gaps[below(8)]);
            source.insert(source.end(), stretch.begin(), stretch.end());
            target.insert(target.end(), stretch.begin(), stretch.end());
            uint32_t run = 1 + below(3);
            for (uint32_t i = 0; i < run; i++) {
                uint8_t b = uint8_t(random());
                source.push_back(b);
                target.push_back(uint8_t(b ^ (1 + below(255))));
            }
        }
        return {source, target};
    }
};

} // namespace

TEST_F(Folder, create_and_apply_match_the_reference_on_random_pairs) {
    pair_maker maker(1234);
    for (int round = 0; round < 400; round++) {
        auto [source, target] = round % 8 == 7 ? maker.skips() : maker.make();
        SCOPED_TRACE("round " + std::to_string(round) + ": sizes " + std::to_string(source.size()) + " and " +
                     std::to_string(target.size()));
        reference::calls fast_calls, model_calls;
        bytes patch = create(source, target, &fast_calls);
        ASSERT_EQ(patch, reference_patch(source, target, &model_calls));
        ASSERT_EQ(fast_calls, model_calls);
        // Both directions, with exact, larger and too small buffers.
        for (const bytes *input : {&source, &target}) {
            const bytes &output = input == &source ? target : source;
            for (uint32_t capacity :
                 {uint32_t(output.size()), uint32_t(output.size() + 3), 0u, uint32_t(output.size() / 2)}) {
                outcome fast = run_fast(patch, *input, capacity),
                        model = run_reference(patch, *input, capacity);
                ASSERT_EQ(fast, model) << "capacity " << capacity;
                if (capacity >= output.size()) {
                    ASSERT_EQ(fast.code, unsigned(qpt::result::success));
                    ASSERT_EQ(bytes(fast.buffer.begin(), fast.buffer.begin() + long(output.size())), output);
                }
            }
        }
        expect_same_roads(patch, source, "forward");
        expect_same_roads(patch, target, "backward");
        // Without a progress callback the result is the same.
        outcome quiet = run_fast(patch, source, uint32_t(target.size()), false);
        ASSERT_EQ(quiet.buffer, run_reference(patch, source, uint32_t(target.size())).buffer);
    }
}

TEST(Damaged, malformed_patches_behave_as_the_reference) {
    pair_maker maker(99);
    std::mt19937 random(7);
    int reached_hunks = 0;
    for (int round = 0; round < 3000; round++) {
        auto [source, target] = maker.make();
        reference::engine model;
        bytes patch = model.create(at(source), uint32_t(source.size()), at(target), uint32_t(target.size()));
        // Damage: flip, overwrite, insert, delete or cut bytes, then repair the patch checksum.
        int damages = 1 + int(random() % 3);
        for (int d = 0; d < damages; d++) {
            size_t where = random() % patch.size();
            switch (random() % 6) {
            case 0:
                patch[where] ^= uint8_t(1u << (random() % 8));
                break;
            case 1:
                patch[where] = uint8_t(random() % 2 ? 0 : (random() % 2 ? 0x80 : 0x7F));
                break;
            case 2:
                patch.insert(patch.begin() + long(where), uint8_t(random()));
                break;
            case 3:
                patch.erase(patch.begin() + long(where));
                break;
            case 4:
                patch.resize(where + 1);
                break;
            default:
                patch[where] = uint8_t(random());
                break;
            }
        }
        if (random() % 4)
            reseal(patch);
        const bytes &input = random() % 2 ? source : target;
        uint32_t capacity = uint32_t(random() % 3 == 0 ? random() % 6000 : (source.size() + target.size()));
        outcome fast = run_fast(patch, input, capacity), expected = run_reference(patch, input, capacity);
        ASSERT_EQ(fast, expected) << "round " << round << ": " << hex(patch);
        if (!fast.calls.empty())
            reached_hunks++;
        // inspect refuses exactly what apply finds malformed, for an input of a recorded size.
        qpt::summary info;
        qpt::result looked = qpt::inspect(at(patch), uint32_t(patch.size()), info);
        // The copy road takes only patches inspect passed, and then gives apply's verdict and bytes.
        if (looked == qpt::result::success)
            expect_same_roads(patch, input, "round " + std::to_string(round) + ": " + hex(patch));
        // (A source of neither size or a small buffer stops apply before the hunks.)
        if (fast.code != unsigned(qpt::result::source_invalid) &&
            fast.code != unsigned(qpt::result::target_too_small)) {
            ASSERT_EQ(looked == qpt::result::patch_invalid, fast.code == unsigned(qpt::result::patch_invalid))
                << "round " << round << ": " << hex(patch);
        }
    }
    // The damage must have reached the hunk reader often, not just the header checks.
    EXPECT_GT(reached_hunks, 500);
}

TEST_F(Folder, no_prefix_and_no_bit_flip_of_a_patch_succeeds) {
    pair_maker maker(31);
    for (int round = 0; round < 6; round++) {
        auto [source, target] = maker.make();
        if (source.size() > 600)
            source.resize(600);
        if (target.size() > 600)
            target.resize(600);
        bytes patch = create(source, target);
        qpt::result code;
        ASSERT_EQ(apply_ok(patch, source, &code), target);
        for (size_t cut = 0; cut < patch.size(); cut++) {
            bytes prefix(patch.begin(), patch.begin() + long(cut));
            apply_ok(prefix, source, &code);
            ASSERT_NE(code, qpt::result::success) << cut;
        }
        for (size_t bit = 0; bit < patch.size() * 8; bit++) {
            bytes flipped = patch;
            flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
            apply_ok(flipped, source, &code);
            ASSERT_NE(code, qpt::result::success) << bit;
            apply_ok(flipped, target, &code);
            ASSERT_NE(code, qpt::result::success) << bit;
        }
    }
}

TEST_F(Folder, inspect_summarises_a_patch) {
    bytes source = {1, 2, 3, 4, 5, 6, 7, 8}, target = {1, 9, 9, 4, 5, 6, 7, 0, 0, 7};
    bytes patch = create(source, target);
    qpt::summary info;
    ASSERT_EQ(qpt::inspect(patch.data(), uint32_t(patch.size()), info), qpt::result::success);
    EXPECT_EQ(info.source_size, 8u);
    EXPECT_EQ(info.target_size, 10u);
    EXPECT_EQ(info.source_checksum, reference::crc32(source.data(), 8));
    EXPECT_EQ(info.target_checksum, reference::crc32(target.data(), 10));
    EXPECT_EQ(info.hunks, 3u); // 2-3, 8, 10
    EXPECT_EQ(info.changed, 4u);
    bytes flipped = patch;
    flipped[8] ^= 4;
    EXPECT_EQ(qpt::inspect(flipped.data(), uint32_t(flipped.size()), info), qpt::result::patch_invalid);
}

TEST_F(Folder, large_stretches_cross_chunk_boundaries) {
    // Stretches longer than the engine's working chunk, in each of the regions: both files present,
    // past the source's end, past the target's end; plus one long run.
    pair_maker maker(3);
    bytes source = maker.noise(300000), target = source;
    for (uint32_t i = 70000; i < 200000; i++)
        target[i] ^= 0x5A;
    target.resize(450000, 0);
    target[449999] = 1;
    target[330000] = 2;
    reference::calls fast_calls, model_calls;
    bytes patch = create(source, target, &fast_calls);
    ASSERT_EQ(patch, reference_patch(source, target, &model_calls));
    ASSERT_EQ(fast_calls, model_calls);
    for (const bytes *input : {&source, &target}) {
        uint32_t capacity = 460000;
        ASSERT_EQ(run_fast(patch, *input, capacity), run_reference(patch, *input, capacity));
    }
}

TEST_F(Folder, hunks_of_every_short_shape_match_the_reference) {
    // Skips and runs around the length where the engine stops handling a hunk a byte at a time.
    pair_maker maker(77);
    for (uint32_t skip : {0u, 1u, 30u, 31u, 32u, 33u, 127u, 128u}) {
        for (uint32_t run : {1u, 2u, 30u, 31u, 32u, 33u, 70u}) {
            bytes source = maker.noise(3000), target = source;
            for (uint32_t p = skip; p + run < source.size(); p += skip + run + 1) {
                for (uint32_t i = 0; i < run; i++)
                    target[p + i] = uint8_t(source[p + i] ^ (1 + maker.below(255)));
            }
            SCOPED_TRACE("skip " + std::to_string(skip) + ", run " + std::to_string(run));
            reference::calls fast_calls, model_calls;
            bytes patch = create(source, target, &fast_calls);
            ASSERT_EQ(patch, reference_patch(source, target, &model_calls));
            ASSERT_EQ(fast_calls, model_calls);
            ASSERT_EQ(run_fast(patch, source, 3000), run_reference(patch, source, 3000));
            ASSERT_EQ(run_fast(patch, target, 3000), run_reference(patch, target, 3000));
        }
    }
}

namespace {

// A number written in count bytes (6 or more) that a reader, taking the low 32 bits of its 64-bit sum,
// reads as value: the bytes from the sixth on only add multiples of 2^32.
bytes long_number(uint32_t value, uint32_t count, uint8_t filler) {
    uint64_t base = 0, shift = 1;
    for (uint32_t i = 1; i < count; i++) {
        shift *= 128;
        base += shift;
    }
    uint32_t rest = uint32_t(value - uint32_t(base));
    bytes code(count, uint8_t(filler & 0x7F));
    for (int i = 0; i < 4; i++) {
        code[i] = uint8_t(rest & 0x7F);
        rest >>= 7;
    }
    code[4] = uint8_t(rest); // below 16: 2^28 times it reaches every value modulo 2^32
    code[count - 1] |= 0x80;
    return code;
}

// The same patch with every number (sizes and skips) rewritten long.
bytes lengthen_numbers(const bytes &patch, std::mt19937 &random) {
    size_t offset = 4;
    auto number = [&](bytes &out) {
        uint64_t sum = 0, shift = 1;
        for (;;) {
            uint8_t b = patch[offset++];
            sum += (b & 0x7F) * shift;
            if (b & 0x80)
                break;
            shift *= 128;
            sum += shift;
        }
        bytes code = long_number(uint32_t(sum), 6 + uint32_t(random() % 7), uint8_t(random()));
        out.insert(out.end(), code.begin(), code.end());
    };
    bytes out(patch.begin(), patch.begin() + 4);
    number(out);
    number(out);
    while (offset < patch.size() - 12) {
        number(out);
        do
            out.push_back(patch[offset]);
        while (patch[offset++] != 0);
    }
    out.insert(out.end(), patch.end() - 12, patch.end());
    reseal(out);
    return out;
}

} // namespace

TEST_F(Folder, long_numbers_count_their_low_32_bits) {
    EXPECT_EQ(hex(long_number(4294967295u, 5, 0)), "7F 7E 7E 7E 8E");
    pair_maker maker(4321);
    std::mt19937 random(11);
    for (int round = 0; round < 200; round++) {
        auto [source, target] = round % 4 == 3 ? maker.skips() : maker.make();
        SCOPED_TRACE("round " + std::to_string(round));
        bytes patch = lengthen_numbers(reference_patch(source, target), random);
        for (const bytes *input : {&source, &target}) {
            const bytes &output = input == &source ? target : source;
            uint32_t exact = uint32_t(output.size());
            outcome fast = run_fast(patch, *input, exact), model = run_reference(patch, *input, exact);
            ASSERT_EQ(fast, model) << hex(patch);
            ASSERT_EQ(fast.code, unsigned(qpt::result::success));
            EXPECT_EQ(bytes(fast.buffer.begin(), fast.buffer.begin() + exact), output);
        }
    }
}
