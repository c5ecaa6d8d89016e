#pragma once

#include "rudd/string.h"
#include "tamber/object.h"

namespace tamber {

// A font by family, point size and style, applied to widgets and everything inside them. A window's
// default font and a menu's inherited font are borrowed pointers: the Font must outlive their use.
class Font : public Object {
public:
    enum : unsigned { Bold = 1, Oblique = 2 };

    Font();
    ~Font();
    // Builds the description; a second create replaces it, leaving widgets that had the old one as they
    // are. Always true. Applying a font that was never created undoes earlier font changes.
    bool create(const rudd::string &family, unsigned size, unsigned style);

private:
    friend struct Internal;
    struct FontState *fontState; // owned: the record with the Pango description
};

} // namespace tamber
