#include "rudd/error.h"

#include <cerrno>
#include <cstring>

namespace rudd {

error error::system(int number, const words &doing) {
    // A failed call always has its number; one that gave none is still a failure of the system.
    return error(number ? number : EIO, doing);
}

error error::fault(const words &what) {
    return error(0, what);
}

words error::text() const {
    words all = what;
    if (code)
        all.append(words(": ", std::strerror(code)));
    return all.append(after);
}

error &error::also(const words &more) {
    after.append(more);
    return *this;
}

} // namespace rudd
