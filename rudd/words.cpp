#include "rudd/words.h"

#include <cstddef>

namespace rudd {

words &words::append(const words &more) {
    pieces.insert(pieces.end(), more.pieces.begin(), more.pieces.end());
    return *this;
}

string words::shown(string (*show)(const char *name, kind as)) const {
    string text;
    for (const piece &part : pieces)
        text.append(part.is == kind::text ? part.content : show(part.content, part.is));
    return text;
}

bool operator==(const words &left, const words &right) {
    if (left.parts().size() != right.parts().size())
        return false;
    for (std::size_t i = 0; i < left.parts().size(); i++) {
        if (left.parts()[i].is != right.parts()[i].is || left.parts()[i].content != right.parts()[i].content)
            return false;
    }
    return true;
}

} // namespace rudd
