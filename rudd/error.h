#pragma once

#include "rudd/words.h"

#include <cassert>
#include <optional>
#include <utility>
#include <variant>

namespace rudd {

// Why a step failed, as one small value handed up to whoever reports it: what failed, on which file,
// and the system's error number taken at the very call that failed. Only the front ends turn it into
// a line: the names in it are theirs to word.
class [[nodiscard]] error {
public:
    // A call failed: "doing 'file': the system's text".
    static error system(int number, const words &doing);
    // A fault of the files themselves, in words ("'x' is a folder, not a file"): no call failed.
    static error fault(const words &what);

    // Whether a call of the system failed, as against a fault of the files.
    bool of_system() const { return code != 0; }
    int number() const { return code; }
    // The whole account: what failed, the system's text, and what was said after it.
    words text() const;
    // More said after it: "...; the original is kept as 'x'".
    error &also(const words &more);

private:
    error(int number, const words &what) : code(number), what(what) {}
    int code;
    words what, after;
};

// A value, or the error that kept it from being made: never both, never neither.
template <typename T> class [[nodiscard]] either {
public:
    either(const T &value) : held(std::in_place_index<0>, value) {}
    either(T &&value) : held(std::in_place_index<0>, std::move(value)) {}
    either(const error &failure) : held(std::in_place_index<1>, failure) {}

    bool failed() const { return held.index() == 1; }
    explicit operator bool() const { return !failed(); }
    T &value() & {
        assert(!failed());
        return std::get<0>(held);
    }
    const T &value() const & {
        assert(!failed());
        return std::get<0>(held);
    }
    T &&value() && {
        assert(!failed());
        return std::get<0>(std::move(held));
    }
    const error &failure() const {
        assert(failed());
        return std::get<1>(held);
    }

private:
    std::variant<T, error> held;
};

// A step that gives nothing back: done, or the error that stopped it.
template <> class [[nodiscard]] either<void> {
public:
    either() = default;
    either(const error &failure) : problem(failure) {}

    bool failed() const { return problem.has_value(); }
    explicit operator bool() const { return !failed(); }
    void value() const { assert(!failed()); }
    const error &failure() const {
        assert(failed());
        return *problem;
    }

private:
    std::optional<error> problem;
};

using done = either<void>;

} // namespace rudd

// Evaluates an either: its value when it holds one, else the enclosing function returns its error.
#define RUDD_TRY(expression)                                                                                 \
    ({                                                                                                       \
        auto try_result_ = (expression);                                                                     \
        if (try_result_.failed())                                                                            \
            return try_result_.failure();                                                                    \
        std::move(try_result_).value();                                                                      \
    })
