#include "core/engineroad.h"
#include "core/progress.h"

#include "rudd/bus_guard.h"
#include "rudd/qpt.h"

using rudd::done;
using rudd::filemap;
using rudd::qpt;

namespace vopra {

done writeByEngine(const ApplyInputs &in, Replacement &output, const Progress &progress) {
    uint32_t size = in.matched.outputSize;
    RUDD_TRY(output.resize(size));
    filemap map;
    RUDD_TRY(map.open(output.descriptor(), filemap::mode::readwrite, output.name()));
    map.populate();
    qpt engine;
    engine.progress = phase(progress, 0, progressScale / 2);
    qpt::result result = qpt::result::patch_invalid;
    const filemap &patch = in.patch.map, &input = in.input.map;
    const filemap *maps[] = {&patch, &input, &map};
    bool read = rudd::bus_guard(maps).run([&] {
        result = engine.apply(patch.data(), patch.size(), input.data(), input.size(), map.data(), size);
    });
    // The patch and the input were checked and matched before: where the engine now finds either
    // wrong, a file changed while it was read. A wrong result from both as matched is the patch's.
    if (read && result == qpt::result::target_invalid)
        return damagedPatch(in.patch.name, in.input.name);
    if (!read || result != qpt::result::success)
        return changedWhileRead(in.patch.name, in.input.name);
    flushInChunks(output.descriptor(), size, phase(progress, progressScale / 2, progressScale));
    return done();
}

} // namespace vopra
