// Fonts: the descriptions they build and how far their application reaches.

#include "support.h"

#include "tamber/button.h"
#include "tamber/font.h"
#include "tamber/label.h"

using namespace tamber;
using support::stateOf;
using support::widgetOf;

namespace {

using FontTest = support::ToolkitTest;

PangoFontDescription *descriptionOf(Font &font) {
    return Internal::description(font);
}

// The font the toolkit set on the widget itself (null when none is set).
PangoFontDescription *setFontOf(GtkWidget *widget) {
    return gtk_widget_get_modifier_style(widget)->font_desc;
}

TEST_F(FontTest, create_builds_family_size_style_and_weight) {
    struct Case {
        unsigned style;
        PangoStyle pangoStyle;
        int weight;
    } cases[] = {{0, PANGO_STYLE_NORMAL, 400},
                 {Font::Bold, PANGO_STYLE_NORMAL, 700},
                 {Font::Oblique, PANGO_STYLE_OBLIQUE, 400},
                 {3, PANGO_STYLE_OBLIQUE, 700},
                 {4, PANGO_STYLE_NORMAL, 400}};
    for (const Case &c : cases) {
        Font font;
        EXPECT_EQ(descriptionOf(font), nullptr);
        EXPECT_TRUE(font.create("Sans", 8, c.style));
        PangoFontDescription *description = descriptionOf(font);
        ASSERT_NE(description, nullptr);
        EXPECT_STREQ(pango_font_description_get_family(description), "Sans");
        EXPECT_EQ(pango_font_description_get_size(description), 8192);
        EXPECT_FALSE(pango_font_description_get_size_is_absolute(description));
        EXPECT_EQ(pango_font_description_get_style(description), c.pangoStyle) << "style " << c.style;
        EXPECT_EQ(pango_font_description_get_weight(description), c.weight) << "style " << c.style;
    }
    // A font that was never created goes away without trouble.
    { Font unused; }
}

TEST_F(FontTest, second_create_replaces_the_description_but_not_what_widgets_got) {
    Window window;
    window.create(0, 0, 100, 100, "fonts");
    Label label;
    label.create(window, 0, 0, 50, 20, "x");
    Font font;
    font.create("Serif", 10, 0);
    label.setFont(font);
    font.create("Monospace", 12, Font::Bold);
    EXPECT_STREQ(pango_font_description_get_family(descriptionOf(font)), "Monospace");
    EXPECT_STREQ(pango_font_description_get_family(setFontOf(widgetOf(label))), "Serif");
    EXPECT_EQ(pango_font_description_get_size(setFontOf(widgetOf(label))), 10 * PANGO_SCALE);
}

TEST_F(FontTest, application_reaches_every_widget_below_however_deep) {
    Font font;
    font.create("Serif", 11, Font::Oblique);
    // A tree three containers deep, with a leaf at each level.
    GtkWidget *top = gtk_vbox_new(FALSE, 0);
    GtkWidget *middle = gtk_hbox_new(FALSE, 0);
    GtkWidget *frame = gtk_frame_new(nullptr);
    GtkWidget *deep = gtk_label_new("deep");
    GtkWidget *shallow = gtk_label_new("shallow");
    gtk_container_add(GTK_CONTAINER(frame), deep);
    gtk_box_pack_start(GTK_BOX(middle), frame, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(top), middle, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(top), shallow, FALSE, FALSE, 0);
    g_object_ref_sink(top);

    applyFont(top, descriptionOf(font));
    for (GtkWidget *widget : {top, middle, frame, deep, shallow}) {
        ASSERT_NE(setFontOf(widget), nullptr);
        EXPECT_TRUE(pango_font_description_equal(setFontOf(widget), descriptionOf(font)));
    }

    // With no description, applyFontIfSet leaves everything as it was ...
    applyFontIfSet(top, nullptr);
    EXPECT_NE(setFontOf(deep), nullptr);
    // ... and applyFont drops the earlier font change all the way down.
    applyFont(top, nullptr);
    for (GtkWidget *widget : {top, middle, frame, deep, shallow})
        EXPECT_EQ(setFontOf(widget), nullptr);

    Font other;
    other.create("Monospace", 9, 0);
    applyFontIfSet(top, descriptionOf(other));
    EXPECT_TRUE(pango_font_description_equal(setFontOf(deep), descriptionOf(other)));
    g_object_unref(top);
}

TEST_F(FontTest, widget_set_font_reaches_inside_and_an_uncreated_font_undoes_it) {
    Window window;
    window.create(0, 0, 100, 100, "fonts");
    Button button;
    button.create(window, 0, 0, 80, 30, "text");
    GtkWidget *inner = gtk_bin_get_child(GTK_BIN(widgetOf(button)));
    Font font;
    font.create("Serif", 13, 0);
    button.setFont(font);
    ASSERT_NE(setFontOf(inner), nullptr);
    EXPECT_EQ(pango_font_description_get_size(setFontOf(inner)), 13 * PANGO_SCALE);

    Font never;
    button.setFont(never);
    EXPECT_EQ(setFontOf(widgetOf(button)), nullptr);
    EXPECT_EQ(setFontOf(inner), nullptr);
}

TEST_F(FontTest, window_set_font_changes_only_the_status_bar) {
    Window window;
    window.create(0, 0, 100, 100, "fonts");
    Label label;
    label.create(window, 0, 0, 50, 20, "x");
    Font font;
    font.create("Serif", 15, 0);
    window.setFont(font);
    ObjectState &state = stateOf(window);
    ASSERT_NE(setFontOf(state.statusBar), nullptr);
    GtkWidget *message = gtk_statusbar_get_message_area(GTK_STATUSBAR(state.statusBar));
    EXPECT_NE(setFontOf(message), nullptr) << "the status bar's inner widgets kept their font";
    for (GtkWidget *untouched :
         {state.widget, state.layoutBox, state.formContainer, state.statusContainer, widgetOf(label)})
        EXPECT_EQ(setFontOf(untouched), nullptr);
}

} // namespace
