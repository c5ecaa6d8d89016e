#pragma once

#include "tamber/object.h"

namespace tamber {

// A check button with a label, unchecked after create. onToggle reports the user's checking and
// unchecking; setChecked stays silent.
class CheckBox : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);
    bool checked();
    void setChecked(bool checked);

    rudd::function<void()> onToggle;
};

} // namespace tamber
