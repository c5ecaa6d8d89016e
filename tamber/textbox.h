#pragma once

#include "tamber/object.h"

namespace tamber {

// A one-line text entry. onChange reports only the user's edits: the initial text and setText stay silent.
class TextBox : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);
    void setEditable(bool editable);
    rudd::string text();
    void setText(const rudd::string &text);
    // Puts the cursor after the last character, so a text longer than the box shows its end (a path
    // its file name) instead of its start.
    void showEnd();

    rudd::function<void()> onActivate; // Enter pressed, whether or not the text changed
    rudd::function<void()> onChange;
};

} // namespace tamber
