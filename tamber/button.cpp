#include "tamber/button.h"

#include "tamber/internal.h"

namespace tamber {

namespace {

void buttonClicked(Button *button) {
    if (button->onClick)
        button->onClick();
}

} // namespace

void Button::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                    const rudd::string &text) {
    state->widget = gtk_button_new_with_label(text);
    this->parent = &parent;
    gtk_widget_set_size_request(state->widget, static_cast<gint>(width), static_cast<gint>(height));
    connectSignal(state->widget, "clicked", G_CALLBACK(buttonClicked), this);
    placeControl(*this, parent, x, y, TakesFont::Yes);
}

} // namespace tamber
