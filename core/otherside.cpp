#include "core/otherside.h"
#include "core/copyroad.h"
#include "core/engineroad.h"

namespace vopra {

rudd::done writeOtherSide(const ApplyInputs &in, Replacement &output, const Progress &progress) {
    if (RUDD_TRY(copyOtherSide(in, output, progress)) == Copy::unavailable)
        RUDD_TRY(writeByEngine(in, output, progress));
    // Data and attributes go to disk together, ahead of any rename, so that a crash after the file is
    // put in place cannot leave it with missing bytes or the wrong attributes.
    return output.finish();
}

} // namespace vopra
