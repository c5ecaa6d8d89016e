#include "tamber/label.h"

#include "tamber/internal.h"

namespace tamber {

void Label::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                   const rudd::string &text) {
    state->widget = gtk_label_new(text);
    this->parent = &parent;
    gtk_misc_set_alignment(GTK_MISC(state->widget), 0.0f, 0.5f);
    gtk_widget_set_size_request(state->widget, static_cast<gint>(width), static_cast<gint>(height));
    placeControl(*this, parent, x, y, TakesFont::Yes);
}

void Label::setText(const rudd::string &text) {
    TAMBER_VERIFY(state->widget, "Label::setText() called before create()");
    gtk_label_set_text(GTK_LABEL(state->widget), text);
}

void Label::setFor(Widget &control) {
    TAMBER_VERIFY(state->widget, "Label::setFor() called before create()");
    // GTK's accessibility support reads both relations from the mnemonic widget; without a mnemonic in
    // the text no key is bound.
    gtk_label_set_mnemonic_widget(GTK_LABEL(state->widget), Internal::state(control).widget);
}

} // namespace tamber
