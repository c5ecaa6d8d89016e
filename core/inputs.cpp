#include "core/inputs.h"
#include "core/patchfile.h"

#include <cerrno>
#include <sys/file.h>

using rudd::done;
using rudd::error;
using rudd::quoted;
using rudd::words;

namespace vopra {

done ApplyInputs::lockInput(bool replacing) {
    if (flock(input.file.get(), (replacing ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
        return done();
    if (errno == EWOULDBLOCK)
        return error::fault(words(quoted(input.name), " is being patched by another run"));
    return error::system(errno, words("cannot lock ", quoted(input.name)));
}

done ApplyInputs::openFit(const char *patchName, const char *inputName) {
    RUDD_TRY(openPatch(patchName));
    RUDD_TRY(fitForReading(patch));
    if (!inputName)
        return done();
    RUDD_TRY(openInput(inputName));
    return fitForReading(input);
}

done ApplyInputs::read() {
    RUDD_TRY(mapFile(patch));
    recorded = RUDD_TRY(readPatch(patch.map, patch.name));
    if (input.file.is_open())
        RUDD_TRY(mapFile(input));
    return done();
}

done ApplyInputs::match(const Progress &progress) {
    matched = RUDD_TRY(matchInput(patch.name, recorded, input, progress));
    return done();
}

} // namespace vopra
