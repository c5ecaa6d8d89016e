#include "vopra/error.h"
#include "vopra/quoting.h"

#include <cstring>

using rudd::string;

namespace vopra {

Error Error::fromSystem(const char *doing, const char *file, int number) {
    Error error;
    error.code = number;
    error.words = string(doing, " ", quoted(file), ": ", std::strerror(number));
    return error;
}

Error Error::fault(const string &text) {
    Error error;
    error.words = text;
    return error;
}

Error &Error::append(const string &more) {
    words.append(more);
    return *this;
}

} // namespace vopra
