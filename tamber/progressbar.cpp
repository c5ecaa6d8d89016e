#include "tamber/progressbar.h"

#include "tamber/internal.h"

namespace tamber {

void ProgressBar::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height) {
    state->widget = gtk_progress_bar_new();
    this->parent = &parent;
    gtk_widget_set_size_request(state->widget, static_cast<gint>(width), static_cast<gint>(height));
    // GTK makes the range through which assistive technologies read the bar's value only at the first
    // fraction set; without it a screen reader's query fails.
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(state->widget), 0.0);
    placeControl(*this, parent, x, y, TakesFont::No);
}

void ProgressBar::setPosition(unsigned position) {
    TAMBER_VERIFY(state->widget, "ProgressBar::setPosition() called before create()");
    if (position > 100)
        position = 0;
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(state->widget), position / 100.0);
}

} // namespace tamber
