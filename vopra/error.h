#pragma once

#include "rudd/string.h"

namespace vopra {

// Why a step failed, as a value handed back to whoever reports it: the system's error number from the
// very call that failed and the file it concerns, worded once, here, in the user's terms. An Error made
// with no arguments is none: the step succeeded.
class Error {
public:
    Error() = default;
    // A call on file failed with the system's error number: "doing 'file': the system's text".
    static Error fromSystem(const char *doing, const char *file, int number);
    // A fault of the files themselves, worded by the caller ("'x' is a folder, not a file"); no error
    // number goes with it.
    static Error fault(const rudd::string &text);

    bool failed() const { return !words.empty(); }
    int number() const { return code; }
    const rudd::string &text() const { return words; }
    // More said after it: "...; the original is kept as 'x'".
    Error &append(const rudd::string &more);

private:
    int code = 0;
    rudd::string words;
};

// A value, or the error that kept it from being made.
template <typename T> class ErrorOr {
public:
    ErrorOr(const T &value) : held(value) {}
    ErrorOr(const Error &error) : problem(error) {}
    bool failed() const { return problem.failed(); }
    const Error &error() const { return problem; }
    const T &value() const { return held; }

private:
    T held{};
    Error problem;
};

} // namespace vopra
