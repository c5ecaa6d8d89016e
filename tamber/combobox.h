#pragma once

#include <cstdint>

#include "tamber/object.h"

namespace tamber {

// A drop-down list of texts (shown as a list, not a menu, by the toolkit's style). The first item added to
// an empty combo box becomes selected. onChange reports only the user's picks: adding, resetting and
// setSelection stay silent.
class ComboBox : public Widget {
public:
    // The items are the lines of text ("\n" between them); an empty text gives no items.
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);
    void addItem(const rudd::string &text);
    void reset();
    // The selected item's index, -1 when none.
    int32_t selection();
    // A row past the last item changes nothing.
    void setSelection(unsigned row);

    rudd::function<void()> onChange;
    uint32_t itemCount = 0; // items added since create or the last reset
};

} // namespace tamber
