#include "tamber/slider.h"

#include "tamber/internal.h"

namespace tamber {

namespace {

using ScaleConstructor = GtkWidget *(*)(gdouble minimum, gdouble maximum, gdouble step);

unsigned sliderValue(GtkWidget *scale) {
    return static_cast<unsigned>(gtk_range_get_value(GTK_RANGE(scale)));
}

// Reports only a change of the integer position, so sub-step moves and repeated settings stay silent.
template <typename Slider> void sliderChanged(Slider *slider) {
    ObjectState &state = Internal::state(*slider);
    int32_t value = static_cast<int32_t>(sliderValue(state.widget));
    if (value == state.position)
        return;
    state.position = value;
    if (slider->onChange)
        slider->onChange();
}

template <typename Slider>
void createSlider(Slider &slider, ScaleConstructor constructor, Window &parent, unsigned x, unsigned y,
                  unsigned width, unsigned height, unsigned length) {
    ObjectState &state = Internal::state(slider);
    state.position = 0;
    // GTK refuses an empty range (minimum equal to maximum) with a critical warning and no widget. Such a
    // slider stays uncreated, without a parent, so that it neither shows nor reaches GTK later.
    if (length < 2)
        return;
    state.widget = constructor(0.0, static_cast<gdouble>(length - 1), 1.0);
    gtk_scale_set_draw_value(GTK_SCALE(state.widget), FALSE);
    Internal::parent(slider) = &parent;
    gtk_widget_set_size_request(state.widget, static_cast<gint>(width), static_cast<gint>(height));
    connectSignal(state.widget, "value-changed", G_CALLBACK(sliderChanged<Slider>), &slider);
    placeControl(slider, parent, x, y, TakesFont::No);
}

unsigned sliderPosition(Object &slider) {
    GtkWidget *scale = Internal::state(slider).widget;
    return scale ? sliderValue(scale) : 0;
}

void setSliderPosition(Object &slider, unsigned position) {
    if (GtkWidget *scale = Internal::state(slider).widget)
        gtk_range_set_value(GTK_RANGE(scale), static_cast<gdouble>(position));
}

} // namespace

void HorizontalSlider::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                              unsigned length) {
    createSlider(*this, gtk_hscale_new_with_range, parent, x, y, width, height, length);
}

unsigned HorizontalSlider::position() {
    return sliderPosition(*this);
}

void HorizontalSlider::setPosition(unsigned position) {
    setSliderPosition(*this, position);
}

void VerticalSlider::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height,
                            unsigned length) {
    createSlider(*this, gtk_vscale_new_with_range, parent, x, y, width, height, length);
}

unsigned VerticalSlider::position() {
    return sliderPosition(*this);
}

void VerticalSlider::setPosition(unsigned position) {
    setSliderPosition(*this, position);
}

} // namespace tamber
