#pragma once

#include "vopra/workflow.h"

#include <cstddef>

// The ordered checks of a workflow, made before anything is touched, as one table of condition and
// text each workflow reads top to bottom.
namespace vopra {

struct Check {
    Check(bool refused, const char *message, const rudd::string &cause = rudd::string())
        : refused(refused), message(message), cause(cause) {}
    bool refused;
    const char *message;
    rudd::string cause; // why, where the message alone does not say
};

// The warning of the first refused check; false when every check passed.
template <size_t N> bool firstRefused(const Check (&checks)[N], Outcome &outcome) {
    for (const Check &check : checks) {
        if (check.refused) {
            outcome = warning(check.message, check.cause);
            return true;
        }
    }
    return false;
}

} // namespace vopra
