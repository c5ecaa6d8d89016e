#include "tamber/textbox.h"

#include "tamber/internal.h"

namespace tamber {

namespace {

void textBoxActivated(TextBox *textBox) {
    if (textBox->onActivate)
        textBox->onActivate();
}

void textBoxChanged(TextBox *textBox) {
    reportChange(*textBox, textBox->onChange);
}

} // namespace

void TextBox::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                     const rudd::string &text) {
    state->widget = gtk_entry_new();
    this->parent = &parent;
    // Set before the signals are connected, so the initial text never reaches onChange.
    gtk_entry_set_text(GTK_ENTRY(state->widget), text);
    gtk_widget_set_size_request(state->widget, static_cast<gint>(width), static_cast<gint>(height));
    connectSignal(state->widget, "activate", G_CALLBACK(textBoxActivated), this);
    connectSignal(state->widget, "changed", G_CALLBACK(textBoxChanged), this);
    placeControl(*this, parent, x, y, TakesFont::Yes);
}

void TextBox::setEditable(bool editable) {
    TAMBER_VERIFY(state->widget, "TextBox::setEditable() called before create()");
    gtk_entry_set_editable(GTK_ENTRY(state->widget), editable);
}

rudd::string TextBox::text() {
    TAMBER_VERIFY(state->widget, "TextBox::text() called before create()");
    return rudd::string(gtk_entry_get_text(GTK_ENTRY(state->widget)));
}

void TextBox::setText(const rudd::string &text) {
    TAMBER_VERIFY(state->widget, "TextBox::setText() called before create()");
    // GTK reports a replaced text as a change (often twice: cleared, then set); none of it is the user's.
    SilentChange silent(*state);
    gtk_entry_set_text(GTK_ENTRY(state->widget), text);
}

void TextBox::showEnd() {
    TAMBER_VERIFY(state->widget, "TextBox::showEnd() called before create()");
    gtk_editable_set_position(GTK_EDITABLE(state->widget), -1);
}

} // namespace tamber
