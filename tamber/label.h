#pragma once

#include "tamber/object.h"

namespace tamber {

// Static text, left-aligned and centred vertically in its box.
class Label : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);
    void setText(const rudd::string &text);
    // Makes this label the caption of the control, so assistive technologies name the control by it
    // (the label is "label for" it, the control "labelled by" the label).
    void setFor(Widget &control);
};

} // namespace tamber
