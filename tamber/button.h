#pragma once

#include "tamber/object.h"

namespace tamber {

// A push button with a text label.
class Button : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);

    rudd::function<void()> onClick;
};

} // namespace tamber
