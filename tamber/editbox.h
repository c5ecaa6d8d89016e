#pragma once

#include "tamber/object.h"

namespace tamber {

// A multi-line text editor in a scrolled window, word wrapping on after create. onChange reports only the
// user's edits: the initial text and setText stay silent. Focus belongs to the inner text view.
class EditBox : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);
    void setEditable(bool editable);
    // Wraps long lines at word (or, for long words, character) boundaries, or not at all.
    void setWordWrap(bool wrap);
    rudd::string text();
    void setText(const rudd::string &text);
    // Whether the text view has the keyboard focus.
    bool focused() override;
    // Gives the keyboard focus to the text view; unlike Widget's, it does not show a hidden edit box.
    void setFocused() override;

    rudd::function<void()> onChange;
};

} // namespace tamber
