#include "tamber/combobox.h"

#include "tamber/internal.h"

namespace tamber {

namespace {

void comboBoxChanged(ComboBox *comboBox) {
    reportChange(*comboBox, comboBox->onChange);
}

} // namespace

void ComboBox::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                      const rudd::string &text) {
    state->widget = gtk_combo_box_new_text();
    this->parent = &parent;
    gtk_widget_set_size_request(state->widget, static_cast<gint>(width), static_cast<gint>(height));
    connectSignal(state->widget, "changed", G_CALLBACK(comboBoxChanged), this);
    if (!text.empty()) {
        rudd::string_list lines;
        lines.split("\n", text);
        for (uint32_t i = 0; i < lines.count(); i++)
            addItem(lines[i]);
    }
    placeControl(*this, parent, x, y, TakesFont::Yes);
}

void ComboBox::addItem(const rudd::string &text) {
    TAMBER_VERIFY(state->widget, "ComboBox::addItem() called before create()");
    gtk_combo_box_append_text(GTK_COMBO_BOX(state->widget), text);
    if (itemCount++ == 0) {
        SilentChange silent(*state);
        gtk_combo_box_set_active(GTK_COMBO_BOX(state->widget), 0);
    }
}

void ComboBox::reset() {
    TAMBER_VERIFY(state->widget, "ComboBox::reset() called before create()");
    SilentChange silent(*state);
    for (uint32_t index = itemCount; index-- > 0;)
        gtk_combo_box_remove_text(GTK_COMBO_BOX(state->widget), static_cast<gint>(index));
    itemCount = 0;
}

int32_t ComboBox::selection() {
    TAMBER_VERIFY(state->widget, "ComboBox::selection() called before create()");
    return gtk_combo_box_get_active(GTK_COMBO_BOX(state->widget));
}

void ComboBox::setSelection(unsigned row) {
    TAMBER_VERIFY(state->widget, "ComboBox::setSelection() called before create()");
    // GTK would take a row past the end as "select nothing"; the caller asked for an item, not for that.
    if (row >= itemCount)
        return;
    SilentChange silent(*state);
    gtk_combo_box_set_active(GTK_COMBO_BOX(state->widget), static_cast<gint>(row));
}

} // namespace tamber
