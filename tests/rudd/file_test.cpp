#include "rudd/file.h"
#include "tests/read_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using rudd::file;
using rudd::filemap;

namespace {

class files : public ::testing::Test {
protected:
    std::string folder;

    void SetUp() override {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/rudd-file-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        folder = pattern;
        // A FIFO that blocks would hang the test; end it loudly instead.
        alarm(60);
    }

    void TearDown() override {
        alarm(0);
        nftw(
            folder.c_str(),
            [](const char *path, const struct stat *, int, struct FTW *) { return ::remove(path); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }

    std::string path(const char *name) const { return folder + "/" + name; }

    static std::vector<uint8_t> contents(const std::string &name) { return readFile(name); }

    static off_t size_on_disk(const std::string &name) {
        struct stat info;
        return stat(name.c_str(), &info) == 0 ? info.st_size : -1;
    }

    static void put(const std::string &name, const char *text) {
        FILE *fp = std::fopen(name.c_str(), "wb");
        ASSERT_NE(fp, nullptr);
        std::fputs(text, fp);
        std::fclose(fp);
    }
};

uint8_t pattern(uint32_t i) {
    return uint8_t(i * 7 + i / 251);
}

} // namespace

TEST_F(files, page_buffer_writes_whole_pages_and_the_tail_on_close) {
    std::string name = path("out.bin");
    put(name, "old content");
    file f;
    ASSERT_TRUE(f.open(name.c_str(), file::mode::write));
    EXPECT_EQ(size_on_disk(name), 0); // write mode truncates
    EXPECT_EQ(f.size(), 0u);
    for (uint32_t i = 0; i < 4096; i++)
        f.write(pattern(i));
    EXPECT_EQ(size_on_disk(name), 0); // a page in progress touches no system call
    f.write(pattern(4096));
    EXPECT_EQ(size_on_disk(name), 4096); // the 4097th byte pushes the first page out
    for (uint32_t i = 4097; i < 5000; i++)
        f.write(pattern(i));
    EXPECT_EQ(f.size(), 5000u);
    EXPECT_TRUE(f.close());
    std::vector<uint8_t> bytes = contents(name);
    ASSERT_EQ(bytes.size(), 5000u);
    for (uint32_t i = 0; i < 5000; i++)
        ASSERT_EQ(bytes[i], pattern(i)) << "at " << i;

    // Reading back through the page buffer gives exactly the same 5000 bytes.
    ASSERT_TRUE(f.open(name.c_str(), file::mode::read));
    EXPECT_EQ(f.size(), 5000u);
    uint8_t byte;
    uint32_t count = 0;
    while (f.read(byte)) {
        ASSERT_EQ(byte, pattern(count)) << "at " << count;
        count++;
    }
    EXPECT_EQ(count, 5000u);
    f.write(1); // ignored in read mode
    f.seek(1 << 20);
    EXPECT_EQ(f.offset(), 5000u); // clamped to the size
    EXPECT_TRUE(f.close());
    EXPECT_EQ(size_on_disk(name), 5000);
}

TEST_F(files, block_writes_and_overwrites_match_single_bytes) {
    const uint32_t sizes[] = {0, 1, 4095, 4096, 4097, 12289};
    for (uint32_t size : sizes) {
        std::vector<uint8_t> data(size);
        for (uint32_t i = 0; i < size; i++)
            data[i] = pattern(i);
        std::string name = path("block.bin");
        file f;
        ASSERT_TRUE(f.open(name.c_str(), file::mode::write));
        f.write(data.data(), size);
        // Overwrite a run that straddles a page boundary after seeking back.
        if (size > 4100) {
            f.seek(4090);
            for (uint32_t i = 4090; i < 4100; i++) {
                data[i] = 0xEE;
                f.write(0xEE);
            }
            f.seek(size);
        }
        EXPECT_EQ(f.size(), size);
        EXPECT_TRUE(f.close());
        EXPECT_EQ(contents(name), data) << "size " << size;
    }
}

TEST_F(files, second_open_fails_and_keeps_the_first_stream) {
    file f;
    ASSERT_TRUE(f.open(path("first").c_str(), file::mode::write));
    EXPECT_FALSE(f.open(path("second").c_str(), file::mode::write));
    EXPECT_FALSE(file::exists(path("second").c_str()));
    f.write('x');
    EXPECT_TRUE(f.close());
    EXPECT_EQ(contents(path("first")), std::vector<uint8_t>{'x'});
    EXPECT_TRUE(f.close()); // closing a closed file does nothing
    EXPECT_FALSE(f.open(path("missing").c_str(), file::mode::read));
}

// The zero fill as writing one zero byte at a time would do it, the behaviour the bulk seek must match.
static void seek_by_bytes(file &f, uint32_t offset) {
    f.seek(f.size());
    while (f.size() < offset)
        f.write(0);
    f.seek(offset);
}

TEST_F(files, seek_past_the_end_fills_allocated_zeros_like_byte_writes) {
    const uint32_t prefixes[] = {0, 100, 4096, 5000};
    const uint32_t targets[] = {5001, 8192, 10000, 70000};
    for (uint32_t prefix : prefixes) {
        for (uint32_t target : targets) {
            std::string bulk = path("bulk.bin"), bytes = path("bytes.bin");
            file a, b;
            ASSERT_TRUE(a.open(bulk.c_str(), file::mode::write));
            ASSERT_TRUE(b.open(bytes.c_str(), file::mode::write));
            for (uint32_t i = 0; i < prefix; i++) {
                a.write(pattern(i));
                b.write(pattern(i));
            }
            a.seek(target);
            seek_by_bytes(b, target);
            EXPECT_EQ(a.offset(), target);
            EXPECT_EQ(a.size(), target);
            // Writes after the fill, at the end and back inside the filled range.
            a.write(0xAB);
            b.write(0xAB);
            a.seek(prefix + 1);
            b.seek(prefix + 1);
            a.write(0xCD);
            b.write(0xCD);
            EXPECT_TRUE(a.close());
            EXPECT_TRUE(b.close());
            std::vector<uint8_t> expected = contents(bytes);
            ASSERT_EQ(expected.size(), target + 1u);
            EXPECT_EQ(contents(bulk), expected) << prefix << " then seek " << target;
            struct stat info;
            ASSERT_EQ(stat(bulk.c_str(), &info), 0);
            EXPECT_GE(off_t(info.st_blocks) * 512, info.st_size) << "a sparse hole after seek " << target;
        }
    }

    // A seek inside the file only moves the position.
    file f;
    ASSERT_TRUE(f.open(path("inside.bin").c_str(), file::mode::write));
    f.seek(10000);
    f.seek(50);
    EXPECT_EQ(f.size(), 10000u);
    EXPECT_EQ(f.offset(), 50u);
    EXPECT_TRUE(f.close());
    EXPECT_EQ(size_on_disk(path("inside.bin")), 10000);
}

// A page read back in write mode holds, past the file's end, bytes left from another page; a zero fill
// past that end followed by a write into the same page must still leave zeros there.
TEST_F(files, zero_fill_after_reading_a_partial_page_back_leaves_zeros) {
    for (uint32_t target : {8192u + 1000u, 8192u + 4096u, 8192u + 5000u}) {
        std::string bulk = path("bulk.bin"), bytes = path("bytes.bin");
        file a, b;
        ASSERT_TRUE(a.open(bulk.c_str(), file::mode::write));
        ASSERT_TRUE(b.open(bytes.c_str(), file::mode::write));
        // Two full pages of 0xBB, then 100 bytes into the third page: its unread tail keeps 0xBB.
        for (file *f : {&a, &b}) {
            for (uint32_t i = 0; i < 8192 + 100; i++)
                f->write(0xBB);
            f->seek(8192 + 50);
            uint8_t byte = 0;
            ASSERT_TRUE(f->read(byte));
            EXPECT_EQ(byte, 0xBB);
        }
        a.seek(target);
        seek_by_bytes(b, target);
        a.write(0x11);
        b.write(0x11);
        a.seek(8192 + 500);
        b.seek(8192 + 500);
        a.write(0x22);
        b.write(0x22);
        EXPECT_TRUE(a.close());
        EXPECT_TRUE(b.close());
        std::vector<uint8_t> expected = contents(bytes);
        ASSERT_EQ(expected.size(), target + 1u);
        EXPECT_EQ(expected[8192 + 100], 0);
        EXPECT_EQ(contents(bulk), expected) << "seek " << target;
    }
}

// Random mixes of bulk writes, single bytes, reads and seeks (back into cached pages, onto page edges and
// past the end) give the same file as the same operations done a byte at a time.
TEST_F(files, mixed_operations_match_byte_at_a_time) {
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    const uint32_t edges[] = {0, 1, 4095, 4096, 4097, 8191, 8192, 8193, 12288};
    for (int round = 0; round < 80; round++) {
        std::string bulk = path("bulk.bin"), bytes = path("bytes.bin");
        file a, b;
        ASSERT_TRUE(a.open(bulk.c_str(), file::mode::write));
        ASSERT_TRUE(b.open(bytes.c_str(), file::mode::write));
        std::vector<uint8_t> data;
        for (int step = 0; step < 30; step++) {
            switch (next(4)) {
            case 0: { // a seek: an edge, somewhere inside, or past the end
                uint32_t to = next(2) ? edges[next(9)] : next(a.size() + 6000);
                a.seek(to);
                seek_by_bytes(b, to);
                break;
            }
            case 1: { // a bulk write of a length around a page
                uint32_t count = next(2) ? edges[next(9)] + next(3) : next(10000);
                data.resize(count);
                for (auto &byte : data)
                    byte = uint8_t(next(256));
                a.write(data.data(), count);
                for (uint8_t byte : data)
                    b.write(byte);
                break;
            }
            case 2: { // a few single bytes
                for (uint32_t i = next(5); i > 0; i--) {
                    uint8_t byte = uint8_t(next(256));
                    a.write(byte);
                    b.write(byte);
                }
                break;
            }
            default: { // reading back caches a clean page
                uint8_t x = 0, y = 0;
                bool got = a.read(x);
                ASSERT_EQ(got, b.read(y));
                EXPECT_EQ(x, y);
                break;
            }
            }
            ASSERT_EQ(a.size(), b.size()) << "round " << round << " step " << step;
            ASSERT_EQ(a.offset(), b.offset()) << "round " << round << " step " << step;
        }
        EXPECT_TRUE(a.close());
        EXPECT_TRUE(b.close());
        ASSERT_EQ(contents(bulk), contents(bytes)) << "round " << round;
    }
}

TEST_F(files, write_errors_are_reported_by_close) {
    ASSERT_EQ(access("/dev/full", W_OK), 0) << "/dev/full is needed to show a full disk";
    file f;
    ASSERT_TRUE(f.open("/dev/full", file::mode::write));
    for (uint32_t i = 0; i < 5000; i++)
        f.write(1);
    EXPECT_TRUE(f.failed()); // the first page could not be written
    EXPECT_FALSE(f.close());

    ASSERT_TRUE(f.open("/dev/full", file::mode::write));
    EXPECT_FALSE(f.failed()); // a new open starts clean
    f.write(1);
    EXPECT_FALSE(f.sync());
    EXPECT_FALSE(f.close());

    ASSERT_TRUE(f.open("/dev/full", file::mode::write));
    f.seek(100000); // the zero fill cannot be written
    EXPECT_TRUE(f.failed());
    EXPECT_EQ(f.size(), 0u);
    EXPECT_FALSE(f.close());

    file good;
    ASSERT_TRUE(good.open(path("synced").c_str(), file::mode::write));
    good.write(2);
    EXPECT_TRUE(good.sync());
    EXPECT_EQ(size_on_disk(path("synced")), 1);
    EXPECT_TRUE(good.close());
}

TEST_F(files, sizes_of_4_gib_are_refused_and_never_wrap) {
    const off_t four_gib = off_t(1) << 32;
    std::string big = path("big.bin");
    int fd = ::open(big.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 5 * (four_gib / 4)), 0); // sparse: 5 GiB, no blocks
    ::close(fd);

    file f;
    EXPECT_FALSE(f.open(big.c_str(), file::mode::read));
    EXPECT_FALSE(f.open(big.c_str(), file::mode::create));
    filemap map;
    EXPECT_FALSE(map.open(big.c_str(), filemap::mode::read));
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.data(), nullptr);
    EXPECT_FALSE(map.open(big.c_str(), filemap::mode::readwrite));
    EXPECT_EQ(map.size(), 0u);

    // One byte less fits in 32 bits and is accepted.
    ASSERT_EQ(truncate(big.c_str(), four_gib - 1), 0);
    ASSERT_TRUE(map.open(big.c_str(), filemap::mode::read));
    EXPECT_EQ(map.size(), 0xFFFFFFFFu);
    EXPECT_EQ(map.data()[0xFFFFFFFEu], 0);
    map.close();
    ASSERT_TRUE(f.open(big.c_str(), file::mode::read));
    EXPECT_EQ(f.size(), 0xFFFFFFFFu);
    f.seek(0xFFFFFFFFu);
    uint8_t byte;
    EXPECT_FALSE(f.read(byte));
    EXPECT_TRUE(f.close());
    EXPECT_EQ(unlink(big.c_str()), 0);

    // Growing to the last 32-bit offset works; one byte more would wrap and is refused.
    ASSERT_TRUE(f.open("/dev/null", file::mode::write));
    f.seek(0xFFFFFFFFu);
    EXPECT_FALSE(f.failed());
    EXPECT_EQ(f.size(), 0xFFFFFFFFu);
    f.write(1);
    EXPECT_TRUE(f.failed());
    EXPECT_EQ(f.size(), 0xFFFFFFFFu);
    EXPECT_EQ(f.offset(), 0xFFFFFFFFu);
    EXPECT_FALSE(f.close());
}

TEST_F(files, maps_empty_files_but_never_folders_or_fifos) {
    std::string empty = path("empty"), fifo = path("fifo"), data = path("data");
    put(empty, "");
    put(data, "hello");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    filemap map;
    ASSERT_TRUE(map.open(data.c_str(), filemap::mode::readwrite));
    ASSERT_EQ(map.size(), 5u);
    map.data()[0] = 'j';
    EXPECT_TRUE(map.sync());

    // A failed open leaves no size behind, whatever was mapped before.
    EXPECT_FALSE(map.open(folder.c_str(), filemap::mode::read));
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.data(), nullptr);
    EXPECT_EQ(contents(data), (std::vector<uint8_t>{'j', 'e', 'l', 'l', 'o'})); // MAP_SHARED reached the file

    EXPECT_TRUE(file::exists(fifo.c_str())); // answers at once, no writer needed
    EXPECT_FALSE(map.open(fifo.c_str(), filemap::mode::read));
    EXPECT_FALSE(map.open(fifo.c_str(), filemap::mode::readwrite));
    EXPECT_EQ(map.size(), 0u);
    file f;
    EXPECT_FALSE(f.open(fifo.c_str(), file::mode::read));
    EXPECT_FALSE(map.open("/dev/zero", filemap::mode::read)); // a device has no size to map
    EXPECT_FALSE(map.open(path("missing").c_str(), filemap::mode::read));
    EXPECT_FALSE(file::exists(path("missing").c_str()));

    ASSERT_TRUE(map.open(empty.c_str(), filemap::mode::read));
    EXPECT_EQ(map.size(), 0u);
    EXPECT_EQ(map.data(), nullptr);
    map.close();
    EXPECT_FALSE(map.sync());
}

TEST_F(files, create_mode_makes_only_new_files_and_follows_no_link) {
    std::string name = path("new.qpt"), existing = path("existing"), link = path("link"),
                target = path("target");
    mode_t old_mask = umask(022);
    file f;
    ASSERT_TRUE(f.open(name.c_str(), file::mode::create));
    umask(old_mask);
    for (uint32_t i = 0; i < 5000; i++)
        f.write(pattern(i));
    f.seek(6000);
    EXPECT_TRUE(f.close());
    std::vector<uint8_t> bytes = contents(name);
    ASSERT_EQ(bytes.size(), 6000u);
    EXPECT_EQ(bytes[4999], pattern(4999));
    EXPECT_EQ(bytes[5999], 0);
    struct stat info;
    ASSERT_EQ(stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    put(existing, "keep");
    EXPECT_FALSE(f.open(existing.c_str(), file::mode::create));
    EXPECT_EQ(contents(existing), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0); // dangling: would create target
    EXPECT_FALSE(f.open(link.c_str(), file::mode::create));
    EXPECT_FALSE(file::exists(target.c_str()));
    put(target, "t");
    EXPECT_FALSE(f.open(link.c_str(), file::mode::create));
    EXPECT_EQ(contents(target), std::vector<uint8_t>{'t'});
}
