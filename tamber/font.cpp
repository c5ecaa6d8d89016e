#include "tamber/font.h"

#include "tamber/internal.h"

namespace tamber {

Font::Font() : fontState(new FontState) {}

Font::~Font() {
    if (fontState->description)
        pango_font_description_free(fontState->description);
    delete fontState;
}

bool Font::create(const rudd::string &family, unsigned size, unsigned style) {
    // Widgets keep their own copy of a description, so the old one can go.
    if (fontState->description)
        pango_font_description_free(fontState->description);
    PangoFontDescription *description = pango_font_description_new();
    pango_font_description_set_family(description, family);
    pango_font_description_set_size(description, static_cast<gint>(size * PANGO_SCALE));
    pango_font_description_set_style(description,
                                     (style & Oblique) ? PANGO_STYLE_OBLIQUE : PANGO_STYLE_NORMAL);
    pango_font_description_set_weight(description, (style & Bold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    fontState->description = description;
    return true;
}

namespace {

void applyFontToChild(GtkWidget *widget, gpointer description) {
    applyFont(widget, static_cast<PangoFontDescription *>(description));
}

} // namespace

void applyFont(GtkWidget *widget, PangoFontDescription *description) {
    gtk_widget_modify_font(widget, description);
    if (widget && GTK_IS_CONTAINER(widget))
        gtk_container_foreach(GTK_CONTAINER(widget), applyFontToChild, description);
}

} // namespace tamber
