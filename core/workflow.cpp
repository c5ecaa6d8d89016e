#include "core/workflow.h"

using rudd::words;

namespace vopra {

Outcome toolOutcome(const rudd::either<std::vector<words>> &written, const char *output) {
    if (!written.failed())
        return information(words(), written.value());
    rudd::error failed = written.failure();
    if (!failed.of_system())
        failed.also(words("; ", rudd::quoted(output), " not written"));
    return warning(failed.text());
}

} // namespace vopra
