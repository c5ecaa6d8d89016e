#pragma once

#include <cstdint>
#include <optional>

#include "tamber/object.h"

namespace tamber {

// A multi-column list with single selection and an optional check box in front of every row. The columns
// are fixed at create from one tab-separated header text; rows are tab-separated texts too. Row numbers
// are 0-based positions in insertion order. An operation given a row that does not exist does nothing
// (checked() answers false).
class ListBox : public Widget {
public:
    ListBox();

    // One text column per tab-separated field of text (the headers), plus the check column in front.
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                const rudd::string &text);
    // Headers are hidden after create.
    void setHeaderVisible(bool visible);
    // Shows or hides the check column; may be called before create.
    void setCheckable(bool checkable);
    void autoSizeColumns();
    // Removes every row, forgets the selection and scrolls back to the top-left; no callback.
    void reset();
    // Cells beyond the list's text columns are dropped.
    void addItem(const rudd::string &text);
    // Overwrites the first cells of the row; later cells and the check box stay.
    void modifyItem(unsigned row, const rudd::string &text);
    bool checked(unsigned row);
    void setChecked(unsigned row, bool checked);
    // The first selected row, or no value.
    std::optional<unsigned> selection();
    // Selects exactly that row (nothing when the list is shorter); no callback.
    void setSelection(unsigned row);

    // Rows and headers.
    void setFont(Font &font) override;
    // Whether the tree view has the keyboard focus.
    bool focused() override;
    // Gives the keyboard focus to the tree view; unlike Widget's, it does not show a hidden list box.
    void setFocused() override;

    rudd::function<void()> onActivate;           // a row was double-clicked or Enter pressed on it
    rudd::function<void()> onChange;             // the selected row changed
    rudd::function<void(unsigned row)> onToggle; // the user clicked the check box of the row

private:
    friend struct ListBoxAccess;
    struct ListBoxState *listState; // never released, like the GTK objects it names
};

} // namespace tamber
