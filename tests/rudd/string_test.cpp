#include "rudd/memory.h"
#include "rudd/string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using rudd::string;
using rudd::string_list;

TEST(string, grows_to_exact_need_and_never_shrinks) {
    string s;
    EXPECT_EQ(s.length(), 0u);
    EXPECT_EQ(s.capacity(), 64u);
    s.append(std::string(64, 'a').c_str());
    EXPECT_EQ(s.capacity(), 64u);
    s.append("b");
    EXPECT_EQ(s.capacity(), 65u);
    EXPECT_EQ(s.length(), 65u);
    EXPECT_EQ(s.text()[64], 'b');

    s.reserve(200);
    EXPECT_EQ(s.capacity(), 200u);
    s = "";
    EXPECT_EQ(s.capacity(), 200u);
    EXPECT_EQ(s.length(), 0u);
    s.reserve(10);
    EXPECT_EQ(s.capacity(), 200u);

    string longer(std::string(100, 'x').c_str());
    EXPECT_EQ(longer.capacity(), 100u); // built from empty at 64, then grown exactly
    string short_text("hi");
    EXPECT_EQ(short_text.capacity(), 64u);
}

TEST(string, copies_are_deep_and_start_from_64) {
    string big;
    big.reserve(300);
    big = "ten chars!";
    string copy(big);
    EXPECT_EQ(copy.capacity(), 64u);
    EXPECT_NE(copy.text(), big.text());
    copy[0] = 'T';
    EXPECT_STREQ(big.text(), "ten chars!");
    EXPECT_STREQ(copy.text(), "Ten chars!");

    string assigned;
    assigned = big;
    EXPECT_NE(assigned.text(), big.text());
    EXPECT_TRUE(assigned == big);
    EXPECT_FALSE(assigned != big);
    EXPECT_TRUE(string("Name") != string("name"));

    string grown(std::string(70, 'y').c_str());
    string copy70(grown);
    EXPECT_EQ(copy70.capacity(), 70u);
}

TEST(string, builds_from_pieces_and_appends_itself_safely) {
    string name("file.bin");
    string message("The file \"", name, "\" was written.");
    EXPECT_STREQ(message.text(), "The file \"file.bin\" was written.");

    // Appending a string to itself past the capacity must survive the buffer moving.
    string self(std::string(40, 'z').c_str());
    self.append(self);
    EXPECT_EQ(self.length(), 80u);
    EXPECT_EQ(std::strspn(self.text(), "z"), 80u);
}

TEST(string, element_access_grows_instead_of_overrunning) {
    string s;
    s[100] = 'q';
    EXPECT_EQ(s.capacity(), 100u);
    EXPECT_EQ(s.text()[100], 'q');
    EXPECT_EQ(s.length(), 0u); // the text still ends at its first zero byte
}

TEST(string_list, grows_by_powers_of_two) {
    const uint32_t cases[][2] = {{1, 1}, {2, 2}, {3, 4}, {5, 8}, {8, 8}, {9, 16}};
    for (auto &c : cases) {
        string_list list;
        list[c[0] - 1] = "last";
        EXPECT_EQ(list.count(), c[0]);
        EXPECT_EQ(list.capacity(), c[1]) << "holding " << c[0];
        EXPECT_STREQ(list[c[0] - 1].text(), "last");
        EXPECT_STREQ(list[0u].text(), c[0] == 1 ? "last" : "");
    }
    string_list list;
    for (uint32_t i = 0; i < 20; i++)
        list[i] = rudd::decimal(i);
    EXPECT_STREQ(list[19].text(), "19"); // elements survive every regrowth
    EXPECT_STREQ(list[0u].text(), "0");
    list.resize(3);
    EXPECT_EQ(list.count(), 3u);
    EXPECT_EQ(list.capacity(), 32u);
    list.reset();
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(list.capacity(), 0u);
}

TEST(string_list, split_edge_cases) {
    struct {
        const char *text;
        std::vector<const char *> pieces;
    } cases[] = {
        // clang-format off
        {"", {""}},
        {"a\t\tb", {"a", "", "b"}},
        {"a\t", {"a", ""}},
        {"\t", {"", ""}},
        {"one", {"one"}},
        {"Patches\t*.qpt\nAll files\t*", {"Patches\t*.qpt", "All files\t*"}},
        // clang-format on
    };
    string_list list;
    list.split("\n", "left\nover\nfrom\nearlier\nsplits\n!");
    for (auto &c : cases) {
        const char *separator = std::strchr(c.text, '\n') ? "\n" : "\t";
        list.split(separator, c.text);
        ASSERT_EQ(list.count(), c.pieces.size()) << '"' << c.text << '"';
        for (uint32_t i = 0; i < list.count(); i++)
            EXPECT_STREQ(list[i].text(), c.pieces[i]) << '"' << c.text << "\" piece " << i;
    }

    // Splitting one of the list's own elements.
    list.split("\n", "a,b,c\nx");
    list.split(",", list[0u]);
    ASSERT_EQ(list.count(), 3u);
    EXPECT_STREQ(list[2].text(), "c");
    // The separator may be an element too, one the pieces overwrite and the growth moves.
    list.split("\n", ";\na;b;c;d;e;f;g;h;i");
    list.split(list[0u], list[1]);
    ASSERT_EQ(list.count(), 9u);
    EXPECT_STREQ(list[0].text(), "a");
    EXPECT_STREQ(list[8].text(), "i");
}

TEST(path_helpers, examples) {
    EXPECT_STREQ(rudd::remove_extension("a/b.c/d").text(), "a/b.c/d");
    EXPECT_STREQ(rudd::remove_extension("archive.tar.gz").text(), "archive.tar");
    EXPECT_STREQ(rudd::remove_extension(".profile").text(), "");
    EXPECT_STREQ(rudd::remove_extension("name").text(), "name");
    EXPECT_STREQ(rudd::remove_extension("dir\\x.bin").text(), "dir\\x");
    EXPECT_STREQ(rudd::remove_extension("dir.d\\x").text(), "dir.d\\x");

    EXPECT_STREQ(rudd::file_name("dir/sub\\x.bin").text(), "x.bin");
    EXPECT_STREQ(rudd::file_name("dir/").text(), "");
    EXPECT_STREQ(rudd::file_name("x.bin").text(), "x.bin");

    EXPECT_TRUE(rudd::iendswith("A.QPT", ".qpt"));
    EXPECT_TRUE(rudd::iendswith(".qpt", ".QpT"));
    EXPECT_FALSE(rudd::iendswith("qpt", ".qpt"));
    EXPECT_FALSE(rudd::iendswith("a.qpx", ".qpt"));

    EXPECT_STREQ(rudd::decimal(0).text(), "0");
    EXPECT_STREQ(rudd::decimal(10).text(), "10");
    EXPECT_STREQ(rudd::decimal(4294967295u).text(), "4294967295");
}

// A text past 4 GiB, made of one 2 MiB block of 'a' mapped again and again and then a zero page, so
// it costs address space, not memory. Null where the system will not map it.
static const char *text_past_4_gib() {
    const size_t block = size_t(2) << 20, blocks = (size_t(4) << 30) / block + 1, page = 4096;
    int fd = memfd_create("text", 0);
    if (fd < 0 || ftruncate(fd, off_t(block)) != 0)
        return nullptr;
    std::string as(block, 'a');
    if (pwrite(fd, as.data(), block, 0) != ssize_t(block))
        return nullptr;
    char *room = static_cast<char *>(
        mmap(nullptr, blocks * block + page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (room == MAP_FAILED)
        return nullptr;
    for (size_t i = 0; i < blocks; i++) {
        if (mmap(room + i * block, block, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED)
            return nullptr;
    }
    if (mmap(room + blocks * block, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
        MAP_FAILED)
        return nullptr;
    close(fd);
    return room;
}

TEST(string, lengths_past_32_bits_end_with_a_message_instead_of_wrapping) {
    const char *huge = text_past_4_gib();
    ASSERT_NE(huge, nullptr);
    // A wrapped length would reserve a small buffer and copy 4 GiB into it.
    EXPECT_DEATH(
        {
            string s;
            s.append(huge);
        },
        "out of memory");
    munmap(const_cast<char *>(huge), ((size_t(4) << 30) / (size_t(2) << 20) + 1) * (size_t(2) << 20) + 4096);
    // Index 2^32 - 1 would need 2^32 elements; index + 1 must not wrap to an empty list.
    EXPECT_DEATH(
        {
            rudd::string_list list;
            list[UINT32_MAX] = "x";
        },
        "out of memory");
}

TEST(memory, failed_allocation_ends_with_a_message) {
#if defined(__SANITIZE_ADDRESS__)
    const char *expected = ""; // the sanitizer's allocator reports it in its own words first
#else
    const char *expected = "out of memory";
#endif
    EXPECT_DEATH(rudd::allocate(SIZE_MAX / 2), expected);
    EXPECT_DEATH(rudd::reallocate(nullptr, SIZE_MAX / 2), expected);
}
