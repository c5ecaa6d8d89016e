#pragma once

#include "tamber/object.h"

namespace tamber {

// A radio button. The first box of a group is created in a window and starts selected; later boxes join
// its group (and its window) and start unselected. onToggle runs only on the box the user just selected.
class RadioBox : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);
    void create(RadioBox &other, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);
    bool checked();
    // Selects this box without calling any callback; a radio box cannot be unchecked directly.
    void setChecked();

    rudd::function<void()> onToggle;
    RadioBox *group = nullptr; // borrowed: the first box of the group (itself for the first)
};

} // namespace tamber
