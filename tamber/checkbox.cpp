#include "tamber/checkbox.h"

#include "tamber/internal.h"

namespace tamber {

namespace {

void checkBoxToggled(CheckBox *checkBox) {
    reportChange(*checkBox, checkBox->onToggle);
}

} // namespace

void CheckBox::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                      const rudd::string &text) {
    state->widget = gtk_check_button_new_with_label(text);
    this->parent = &parent;
    gtk_widget_set_size_request(state->widget, static_cast<gint>(width), static_cast<gint>(height));
    connectSignal(state->widget, "toggled", G_CALLBACK(checkBoxToggled), this);
    placeControl(*this, parent, x, y, TakesFont::Yes);
}

bool CheckBox::checked() {
    TAMBER_VERIFY(state->widget, "CheckBox::checked() called before create()");
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(state->widget)) != 0;
}

void CheckBox::setChecked(bool checked) {
    TAMBER_VERIFY(state->widget, "CheckBox::setChecked() called before create()");
    SilentChange silent(*state);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(state->widget), checked);
}

} // namespace tamber
