#include "core/patchfile.h"

#include "rudd/bus_guard.h"

using rudd::error;
using rudd::qpt;
using rudd::quoted;
using rudd::words;

namespace vopra {

static words damaged(const char *name, qpt::flaw flaw) {
    if (flaw == qpt::flaw::not_a_patch)
        return words(quoted(name), " is not a QPT patch");
    const char *what = flaw == qpt::flaw::sizes           ? "its recorded sizes run past its end"
                       : flaw == qpt::flaw::hunk_unended  ? "a hunk runs past its end"
                       : flaw == qpt::flaw::hunk_too_long ? "a hunk runs past the recorded size"
                                                          : "its checksum does not match";
    return words(quoted(name), " is a damaged QPT patch: ", what);
}

rudd::either<qpt::summary> readPatch(const rudd::filemap &patch, const char *name) {
    qpt::summary recorded;
    qpt::flaw flaw = qpt::flaw::none;
    qpt::result result = qpt::result::patch_invalid;
    const rudd::filemap *maps[] = {&patch};
    if (!rudd::bus_guard(maps).run(
            [&] { result = qpt::inspect(patch.data(), patch.size(), recorded, &flaw); }))
        return error::fault(words(quoted(name), " changed while it was read"));
    if (result != qpt::result::success)
        return error::fault(damaged(name, flaw));
    return recorded;
}

} // namespace vopra
