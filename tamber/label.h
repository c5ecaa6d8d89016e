#pragma once

#include "tamber/object.h"

namespace tamber {

// Static text, left-aligned and centred vertically in its box.
class Label : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);
    void setText(const rudd::string &text);
};

} // namespace tamber
