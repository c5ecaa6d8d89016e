// The workflows called directly, as the qpt tool and the window call them.

#include "core/copyroad.h"
#include "core/files.h"
#include "core/names.h"
#include "core/progress.h"
#include "core/quoting.h"
#include "core/replacement.h"
#include "tests/support/scenarios.h"

#include "rudd/qpt.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

class DirectDriver : public Driver {
public:
    Seen run(Operation operation, const std::string &first, const std::string &second) override {
        // The engine reports its progress in order and never beyond its total. An apply moves one bar
        // across its phases: the check fills the first third, the write and its flush the rest.
        unsigned last = 0, lastTotal = 0;
        bool checked = false;
        vopra::Progress progress = [&](unsigned offset, unsigned total) {
            EXPECT_GE(offset, last);
            EXPECT_LE(offset, total);
            last = offset;
            lastTotal = total;
            checked |= offset <= vopra::progressScale / 3;
        };
        vopra::Outcome outcome = operation == Operation::Apply
                                     ? vopra::applyPatch(first.c_str(), second.c_str(), progress)
                                     : vopra::createPatch(first.c_str(), second.c_str(), progress);
        if (operation == Operation::Apply && outcome.kind == vopra::Outcome::Kind::Information && last > 0) {
            EXPECT_TRUE(checked);
            EXPECT_EQ(vopra::progressScale, lastTotal);
            EXPECT_EQ(vopra::progressScale, last);
        }
        return Seen{outcome.kind, vopra::shown(outcome.message, vopra::NameStyle::plain).text(),
                    vopra::shown(outcome.notes, vopra::NameStyle::plain).text()};
    }
};

VOPRA_SCENARIO_TESTS(Scenarios, Workflow, runs, DirectDriver, scenarios());

TEST(Files, folder_of_every_kind_of_path_opens) {
    // A bare name lies in the working folder, and the root's files in "/".
    for (const char *path : {"name-only", "/etc-or-anything", "/tmp/x"}) {
        rudd::descriptor folder = vopra::openFolderOf(path);
        EXPECT_TRUE(folder.is_open()) << path;
        EXPECT_EQ(0, fsync(folder.get())) << path;
    }
    EXPECT_FALSE(vopra::openFolderOf("/no-such-folder-here/x").is_open());
}

TEST(Quoting, every_name_is_printed_safely) {
    // Byte by byte where a name holds a control character (C0, DEL, C1), an overlong form, a surrogate,
    // a code point past U+10FFFF or a cut sequence; a valid character of 2, 3 or 4 bytes as it is.
    const std::pair<const char *, const char *> rows[] = {
        {"a\001b", R"('a'$'\001''b')"},
        {"a\nb\tc\r", R"('a'$'\n''b'$'\t''c'$'\r''')"},
        {"\x1b[31mRED", R"(''$'\033''[31mRED')"},
        {"\x7f", R"(''$'\177''')"},
        {"\xc2\x80", R"(''$'\302'''$'\200''')"},
        {"\xc2\x9b", R"(''$'\302'''$'\233''')"},
        {"\xc2\x9f", R"(''$'\302'''$'\237''')"},
        {"\xc0\xaf", R"(''$'\300'''$'\257''')"},
        {"\xe0\x9f\xbf", R"(''$'\340'''$'\237'''$'\277''')"},
        {"\xf0\x8f\xbf\xbf", R"(''$'\360'''$'\217'''$'\277'''$'\277''')"},
        {"\xed\xa0\x80", R"(''$'\355'''$'\240'''$'\200''')"},
        {"\xed\xbf\xbf", R"(''$'\355'''$'\277'''$'\277''')"},
        {"\xf4\x90\x80\x80", R"(''$'\364'''$'\220'''$'\200'''$'\200''')"},
        {"\xf5\x80\x80\x80", R"(''$'\365'''$'\200'''$'\200'''$'\200''')"},
        {"\xff", R"(''$'\377''')"},
        {"x\xc3", R"('x'$'\303''')"},
        {"\342\202x", R"(''$'\342'''$'\202''x')"},
        {"\xf0\x9f\x98", R"(''$'\360'''$'\237'''$'\230''')"},
        {"\x80", R"(''$'\200''')"},
        {"\xc2\xa0 \xc3\xa9", "'\xc2\xa0 \xc3\xa9'"},
        {"\xe2\x82\xac\xed\x9f\xbf\xee\x80\x80", "'\xe2\x82\xac\xed\x9f\xbf\xee\x80\x80'"},
        {"\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf", "'\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf'"},
    };
    auto escaped = [](const rudd::words &text) {
        return std::string(vopra::shown(text, vopra::NameStyle::escaped));
    };
    for (auto &[name, shown] : rows)
        EXPECT_EQ(shown, escaped(rudd::words(rudd::quoted(name)))) << shown;
    // A bare name is quoted only where it must be escaped; the window shows every name as it is.
    EXPECT_EQ(R"(at ''$'\302'''$'\233''x' or a.b)",
              escaped(rudd::words("at ", rudd::bare("\xc2\x9bx"), " or ", rudd::bare("a.b"))));
    EXPECT_EQ("'\xc2\x9b'",
              std::string(vopra::shown(rudd::words(rudd::quoted("\xc2\x9b")), vopra::NameStyle::plain)));
}

TEST(Replacement, a_second_one_in_the_process_is_interrupted_as_the_first) {
    // The first run's names changed, which held signals back; a signal during the second run's write
    // still ends it, and removes its temporary file.
    std::string folder = freshFolder("vopra-twice"), old(70000, 'o'), changed = old + "new";
    for (const char *file : {"/a.sfc", "/b.sfc"})
        std::ofstream(folder + file) << old;
    rudd::qpt engine;
    ASSERT_EQ(rudd::qpt::result::success,
              engine.create(reinterpret_cast<const uint8_t *>(old.data()), uint32_t(old.size()),
                            reinterpret_cast<const uint8_t *>(changed.data()), uint32_t(changed.size()),
                            (folder + "/p.qpt").c_str()));
    EXPECT_EXIT(
        {
            vopra::applyPatch((folder + "/p.qpt").c_str(), (folder + "/a.sfc").c_str(), vopra::Progress());
            vopra::openUnnamed = [](int, mode_t) {
                errno = EOPNOTSUPP;
                return -1;
            };
            vopra::copyRange = [](int, off64_t *, int, off64_t *, size_t) -> ssize_t {
                raise(SIGTERM);
                errno = EOPNOTSUPP;
                return -1;
            };
            vopra::applyPatch((folder + "/p.qpt").c_str(), (folder + "/b.sfc").c_str(), vopra::Progress());
            std::exit(0);
        },
        testing::KilledBySignal(SIGTERM), "");
    EXPECT_FALSE(std::filesystem::exists(folder + "/b.tmp"));
    std::filesystem::remove_all(folder);
}

} // namespace
