#pragma once

// The apply and create runs that every front end of the workflows must handle alike. Each scenario
// lays out files in a fresh folder, runs one operation through a Driver (the workflow called directly,
// the live window, or the qpt tool) and checks the outcome's kind and exact text and then the files on
// disk byte for byte.

#include "core/workflow.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

// A new folder of the test's own in the system's temporary folder (prefix-XXXXXX): the only kind a test
// removes.
std::string freshFolder(const char *prefix);

enum class Operation { Apply, Create };

struct Seen {
    vopra::Outcome::Kind kind;
    std::string message;
    std::string cause; // what the front end shows beside the message: why, or what to know of a success
};

class Driver {
public:
    // Runs one operation on the two paths as the user would give them and answers what was reported.
    virtual Seen run(Operation operation, const std::string &first, const std::string &second) = 0;
    // Create runs go through this front end (the qpt tool's in-place form only applies).
    virtual bool creates() const { return true; }
    // The rename seam of the workflow reaches the operation (same process).
    virtual bool sharesProcess() const { return true; }
};

struct Scenario {
    const char *name;
    Operation operation;
    void (*body)(Driver &driver);
    bool needsSharedProcess;
};

const std::vector<Scenario> &scenarios();

inline void PrintTo(const Scenario &scenario, std::ostream *out) {
    *out << scenario.name;
}

// Every scenario of list as a test of its own, Prefix/Suite.test/name, each run through a new DriverType.
#define VOPRA_SCENARIO_TESTS(Prefix, Suite, test, DriverType, list)                                          \
    class Suite : public testing::TestWithParam<Scenario> {};                                                \
    TEST_P(Suite, test) {                                                                                    \
        DriverType driver;                                                                                   \
        GetParam().body(driver);                                                                             \
    }                                                                                                        \
    INSTANTIATE_TEST_SUITE_P(                                                                                \
        Prefix, Suite, testing::ValuesIn(list),                                                              \
        [](const testing::TestParamInfo<Scenario> &info) { return std::string(info.param.name); })
