#include "tamber/editbox.h"

#include "tamber/internal.h"

namespace tamber {

namespace {

void editBoxChanged(EditBox *editBox) {
    reportChange(*editBox, editBox->onChange);
}

} // namespace

void EditBox::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                     const rudd::string &text) {
    beginScrolledControl(*this, parent, width, height);
    state->subWidget = gtk_text_view_new();
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(state->subWidget), GTK_WRAP_WORD_CHAR);
    gtk_container_add(GTK_CONTAINER(state->widget), state->subWidget);
    state->textBuffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(state->subWidget));
    // Set before the signal is connected, so the initial text never reaches onChange.
    gtk_text_buffer_set_text(state->textBuffer, text, -1);
    connectSignal(state->textBuffer, "changed", G_CALLBACK(editBoxChanged), this);
    gtk_widget_show(state->subWidget);
    placeControl(*this, parent, x, y, TakesFont::Yes);
}

void EditBox::setEditable(bool editable) {
    TAMBER_VERIFY(state->widget, "EditBox::setEditable() called before create()");
    gtk_text_view_set_editable(GTK_TEXT_VIEW(state->subWidget), editable);
}

void EditBox::setWordWrap(bool wrap) {
    TAMBER_VERIFY(state->widget, "EditBox::setWordWrap() called before create()");
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(state->subWidget), wrap ? GTK_WRAP_WORD_CHAR : GTK_WRAP_NONE);
}

rudd::string EditBox::text() {
    TAMBER_VERIFY(state->widget, "EditBox::text() called before create()");
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(state->textBuffer, &start, &end);
    gchar *text = gtk_text_buffer_get_text(state->textBuffer, &start, &end, TRUE);
    rudd::string copy(text);
    g_free(text);
    return copy;
}

void EditBox::setText(const rudd::string &text) {
    TAMBER_VERIFY(state->widget, "EditBox::setText() called before create()");
    SilentChange silent(*state);
    gtk_text_buffer_set_text(state->textBuffer, text, -1);
}

bool EditBox::focused() {
    TAMBER_VERIFY(state->widget, "EditBox::focused() called before create()");
    return gtk_widget_is_focus(state->subWidget);
}

void EditBox::setFocused() {
    TAMBER_VERIFY(state->widget, "EditBox::setFocused() called before create()");
    gtk_widget_grab_focus(state->subWidget);
}

} // namespace tamber
