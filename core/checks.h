#pragma once

#include "core/workflow.h"

// The ordered checks of a workflow, made before anything is touched and read top to bottom: a check
// is made only when every check above it has passed, so a refused run stops at its first refusal
// without opening or asking about anything further down.
namespace vopra {

class Checks {
public:
    // refused() is asked only while no check has refused; when it refuses, the run's outcome is the
    // warning with message and cause().
    template <typename Refused, typename Cause>
    Checks &check(Refused refused, const char *message, Cause cause) {
        if (!stopped && refused()) {
            refusal = warning(message, cause());
            stopped = true;
        }
        return *this;
    }
    template <typename Refused> Checks &check(Refused refused, const char *message) {
        return check(refused, message, [] { return rudd::words(); });
    }
    // The warning of the first refused check; false when every check passed.
    bool refused(Outcome &outcome) const {
        if (stopped)
            outcome = refusal;
        return stopped;
    }

private:
    bool stopped = false;
    Outcome refusal{};
};

} // namespace vopra
