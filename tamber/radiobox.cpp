#include "tamber/radiobox.h"

#include "tamber/internal.h"

namespace tamber {

namespace {

// GTK emits "toggled" on the box losing the selection too; only the one gaining it reports.
void radioBoxToggled(RadioBox *radioBox) {
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Internal::state(*radioBox).widget)))
        reportChange(*radioBox, radioBox->onToggle);
}

// Both forms place the box in the window of its group.
void placeRadioBox(RadioBox &radioBox, GtkWidget *widget, unsigned x, unsigned y, unsigned width,
                   unsigned height) {
    ObjectState &state = Internal::state(radioBox);
    Window &window = *state.parentWindow;
    state.widget = widget;
    Internal::parent(radioBox) = &window;
    gtk_widget_set_size_request(widget, static_cast<gint>(width), static_cast<gint>(height));
    connectSignal(widget, "toggled", G_CALLBACK(radioBoxToggled), &radioBox);
    placeControl(radioBox, window, x, y, TakesFont::Yes);
}

} // namespace

void RadioBox::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                      const rudd::string &text) {
    group = this;
    state->parentWindow = &parent;
    placeRadioBox(*this, gtk_radio_button_new_with_label(nullptr, text), x, y, width, height);
}

void RadioBox::create(RadioBox &other, unsigned x, unsigned y, unsigned width, unsigned height,
                      const rudd::string &text) {
    group = other.group;
    state->parentWindow = Internal::state(other).parentWindow;
    GtkRadioButton *sibling = GTK_RADIO_BUTTON(Internal::state(other).widget);
    placeRadioBox(*this, gtk_radio_button_new_with_label_from_widget(sibling, text), x, y, width, height);
}

bool RadioBox::checked() {
    TAMBER_VERIFY(state->widget, "RadioBox::checked() called before create()");
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(state->widget)) != 0;
}

void RadioBox::setChecked() {
    TAMBER_VERIFY(state->widget, "RadioBox::setChecked() called before create()");
    SilentChange silent(*state);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(state->widget), TRUE);
}

} // namespace tamber
