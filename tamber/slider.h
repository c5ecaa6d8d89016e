#pragma once

#include "tamber/object.h"

namespace tamber {

// Horizontal and vertical scales over the integer positions 0 to length - 1, with no number shown.
// onChange reports every change of the integer position, whether the user or setPosition made it; moves
// within one step and repeated settings of the same position stay silent. A slider needs a length of at
// least 2: with less, create makes no scale and the slider's operations do nothing (position() is 0).
class HorizontalSlider : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height, unsigned length);
    unsigned position();
    // Kept within the range; may call onChange before it returns.
    void setPosition(unsigned position);

    rudd::function<void()> onChange;
};

class VerticalSlider : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height, unsigned length);
    unsigned position();
    // Kept within the range; may call onChange before it returns.
    void setPosition(unsigned position);

    rudd::function<void()> onChange;
};

} // namespace tamber
