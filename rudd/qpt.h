#pragma once

#include "rudd/descriptor.h"
#include "rudd/file.h"
#include "rudd/function.h"

#include <cstdint>

namespace rudd {

// The QPT patch engine. One object serves one apply or one create run at a time.
// Patch format: "QPT1", source size, target size (each a carry base-128 number), hunks of
// (relative skip, exclusive-or bytes ended by a zero byte), then the CRC-32 of the source, of the
// target, and of every patch byte before the last four, each least significant byte first.
class qpt {
public:
    enum class result : unsigned {
        success = 1,
        patch_unwritable = 2,
        patch_invalid = 3,
        source_invalid = 4,
        target_invalid = 5,
        target_too_small = 6,
    };

    // What a patch records, read without applying it.
    struct summary {
        uint32_t source_size;
        uint32_t target_size;
        uint32_t source_checksum;
        uint32_t target_checksum;
        uint32_t hunks;
        uint64_t changed;     // exclusive-or bytes that change a byte
        uint32_t hunks_start; // the offset of the first hunk, just past the header
    };

    // Which of a patch's two files a file of this size and CRC-32 is. Apply takes a file that is both
    // forward, as its source.
    enum class side { neither, source, target, both };
    static side match(const summary &recorded, uint32_t size, uint32_t checksum);
    // The size and CRC-32 of the file apply makes from the file on that side.
    static uint32_t output_size(const summary &recorded, side from) {
        return from == side::target ? recorded.source_size : recorded.target_size;
    }
    static uint32_t output_checksum(const summary &recorded, side from) {
        return from == side::target ? recorded.source_checksum : recorded.target_checksum;
    }

    // Every patch starts with these bytes and has at least smallest_patch bytes.
    static constexpr uint8_t magic[4] = {'Q', 'P', 'T', '1'};
    static constexpr uint32_t smallest_patch = 18;
    // The three checksums at the end: source, target, patch.
    static constexpr uint32_t trailer_size = 12;

    // Called as progress(offset, total) every 256 positions.
    function<void(unsigned, unsigned)> progress;

    // Writes the output for sourceData into targetData. targetSize is the buffer's capacity on entry
    // and, once the source has been matched to a recorded size, the size the output must have.
    // Bytes of the buffer past that size are never touched; the buffer must not overlap the inputs.
    // A patch whose number runs past its end, or whose skip or run would take the position beyond
    // the larger recorded size plus one, is patch_invalid at that point: no patch makes apply work
    // longer than its inputs warrant.
    result apply(const uint8_t *patchData, uint32_t patchSize, const uint8_t *sourceData, uint32_t sourceSize,
                 uint8_t *targetData, uint32_t &targetSize);

    // Writes the patch from sourceData to targetData into the file patchName, opened in patchMode, and
    // puts it on disk before closing it. patch_unwritable when the file cannot be opened or any byte
    // of it cannot be written or flushed (a full disk); the partial file is left for the caller.
    result create(const uint8_t *sourceData, uint32_t sourceSize, const uint8_t *targetData,
                  uint32_t targetSize, const char *patchName, file::mode patchMode = file::mode::write);
    // The same into the empty file the caller has open under patchDescriptor (which it keeps). The patch
    // goes to disk a chunk at a time while it is made, so little is left for the flush at the end.
    result create(const uint8_t *sourceData, uint32_t sourceSize, const uint8_t *targetData,
                  uint32_t targetSize, int patchDescriptor);

    qpt() = default;
    ~qpt();
    qpt(const qpt &) = delete;
    qpt &operator=(const qpt &) = delete;

    // What inspect found wrong with a patch: a fault of its structure only where the patch checksum is
    // right (damage to any byte shows there first).
    enum class flaw {
        none,
        not_a_patch,   // too short, or not starting with the magic
        sizes,         // the recorded sizes run past the end
        hunk_unended,  // a hunk's skip runs past the end
        hunk_too_long, // a hunk's skip or run reaches past the larger recorded size
        checksum,      // the patch checksum does not match the bytes before it
    };

    // The system's error number of the write that made create return patch_unwritable (EFBIG at the
    // format's 4 GiB limit).
    int patch_failure() const { return patch_error; }

    // Checks magic, structure and the patch checksum, and fills out. success or patch_invalid; for
    // patch_invalid, found (when given) tells what is wrong.
    static result inspect(const uint8_t *patchData, uint32_t patchSize, summary &out, flaw *found = nullptr);

    // The standard CRC-32 (zlib, PNG) of a whole buffer.
    static uint32_t crc32(const uint8_t *data, uint32_t size);
    // A running CRC-32 (the value before its final complement; 0xFFFFFFFF for no bytes) carried over size
    // more bytes.
    static uint32_t crc32_running(uint32_t running, const uint8_t *data, uint64_t size);

private:
    friend class qpt_delta; // walks the hunks as apply does

    // Equal stretches, runs and checksums are handled a stretch at a time; the observable behaviour is
    // that of handling one position at a time (the same buffer bytes, results and progress calls).
    static bool read_header(const uint8_t *data, uint32_t size, uint32_t &offset, uint32_t &recordedSource,
                            uint32_t &recordedTarget);
    static bool read_number(const uint8_t *data, uint32_t size, uint32_t &offset, uint32_t &value);
    bool short_hunk_in_line(uint64_t both, uint32_t hunksEnd);
    result verdict(uint32_t recordedSource, uint32_t recordedTarget);
    bool read_number(uint32_t &value);
    void copy(uint64_t count);
    void exclusive_or(uint32_t count);
    bool run(uint64_t room);
    void report(uint64_t from, uint64_t to);
    void fold();
    void fold_when_due();
    void put(const uint8_t *bytes, uint32_t count);
    void write_out(const uint8_t *bytes, uint32_t count);
    result finish_patch();
    void put_number(uint32_t value);
    void put_checksum(uint32_t value);
    void flush_patch();
    static flaw walk_hunks(const uint8_t *patchData, uint32_t patchSize, uint32_t &offset, uint64_t limit,
                           summary &out);
    bool short_run(const uint8_t *source, const uint8_t *target, uint32_t &i);
    void start_patch(const uint8_t *sourceData, uint32_t sourceSize, const uint8_t *targetData,
                     uint32_t targetSize);
    void fold_equal_chunk(uint64_t from, uint64_t to, unsigned long chunk_shift);
    result write_patch(const uint8_t *sourceData, uint32_t sourceSize, const uint8_t *targetData,
                       uint32_t targetSize);
    void scan(uint64_t from, uint64_t to, const uint8_t *source, const uint8_t *target, bool &running,
              uint64_t &last);

    const uint8_t *patch_data = nullptr;
    const uint8_t *source_data = nullptr;
    uint8_t *target_data = nullptr;        // apply: the output
    const uint8_t *target_input = nullptr; // create: the target's bytes
    uint32_t patch_size = 0;
    uint32_t source_size = 0;
    uint32_t target_size = 0;
    uint32_t patch_offset = 0;
    uint32_t source_offset = 0;
    uint64_t target_offset = 0; // may stand one past a 4 GiB - 1 byte file
    uint32_t patch_checksum = 0;
    uint32_t source_checksum = 0;
    uint32_t target_checksum = 0;

    // The running checksums lag behind the offsets and catch up a stretch at a time: each covers the
    // bytes up to its folded mark, and fold() brings all three up to the current offsets.
    uint32_t patch_folded = 0;
    uint32_t source_folded = 0;
    uint64_t target_folded = 0;
    uint64_t position_limit = 0; // apply: no valid patch takes the position past this
    unsigned progress_total = 0;
    // create: the patch file, and its bytes waiting in the one buffer for a bulk write
    descriptor patch_descriptor;
    int patch_error = 0; // errno of the first failed write, flush or close; 0 while all is well
    uint64_t patch_written = 0;
    uint64_t patch_flushed = 0; // put on its way to disk
    write_behind behind{-1};
    uint32_t staged = 0;
    uint8_t staging[65536];
};

} // namespace rudd
