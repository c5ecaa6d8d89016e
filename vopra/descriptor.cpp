#include "vopra/descriptor.h"

#include <unistd.h>

namespace vopra {

Descriptor::~Descriptor() {
    if (fd >= 0)
        close(fd);
}

} // namespace vopra
