// The workflows called directly, as the qpt tool and the window call them.

#include "tests/vopra/scenarios.h"
#include "vopra/files.h"
#include "vopra/progress.h"

#include <gtest/gtest.h>

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
        return Seen{outcome.kind, outcome.message.text(), outcome.cause.text()};
    }
};

class Workflow : public testing::TestWithParam<Scenario> {};

TEST_P(Workflow, runs) {
    DirectDriver driver;
    GetParam().body(driver);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Workflow, testing::ValuesIn(scenarios()),
                         [](const testing::TestParamInfo<Scenario> &info) {
                             return std::string(info.param.name);
                         });

TEST(Files, folder_of_every_kind_of_path_opens) {
    // A bare name lies in the working folder, and the root's files in "/".
    for (const char *path : {"name-only", "/etc-or-anything", "/tmp/x"}) {
        int folder = vopra::openFolderOf(path);
        EXPECT_GE(folder, 0) << path;
        EXPECT_EQ(0, fsync(folder)) << path;
        close(folder);
    }
    EXPECT_EQ(-1, vopra::openFolderOf("/no-such-folder-here/x"));
}

} // namespace
