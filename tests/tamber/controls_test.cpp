// The five basic controls against real GTK widgets, driven by real pointer and keyboard input.

#include "support.h"

#include "tamber/button.h"
#include "tamber/font.h"
#include "tamber/label.h"
#include "tamber/progressbar.h"
#include "tamber/radiobox.h"
#include "tamber/textbox.h"

using namespace tamber;
using support::widgetOf;

namespace {

class Controls : public support::WindowTest {
protected:
    Controls() : WindowTest(40, 40, 320, 240, "controls") {}
};

TEST_F(Controls, control_is_placed_in_the_form_at_its_position_and_size) {
    Button button;
    button.create(window, 30, 40, 120, 32, "Place");
    GtkWidget *widget = widgetOf(button);
    EXPECT_EQ(gtk_widget_get_parent(widget), support::stateOf(window).formContainer);
    EXPECT_TRUE(button.visible());
    ASSERT_TRUE(support::showWindow(window));
    EXPECT_EQ(widget->allocation.width, 120);
    EXPECT_EQ(widget->allocation.height, 32);
    gint x = 0, y = 0;
    gtk_widget_translate_coordinates(widget, support::stateOf(window).formContainer, 0, 0, &x, &y);
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 40);

    button.setGeometry(5, 6, 70, 20);
    support::settle();
    gtk_widget_translate_coordinates(widget, support::stateOf(window).formContainer, 0, 0, &x, &y);
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);
    EXPECT_EQ(widget->allocation.width, 70);
    EXPECT_EQ(widget->allocation.height, 20);
}

TEST_F(Controls, label_text_sits_at_the_left_edge_centred_vertically) {
    Label label;
    label.create(window, 10, 10, 200, 60, "Hi");
    GtkWidget *widget = widgetOf(label);
    ASSERT_TRUE(support::showWindow(window));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(widget)), "Hi");

    gint textX = 0, textY = 0;
    gtk_label_get_layout_offsets(GTK_LABEL(widget), &textX, &textY);
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(gtk_label_get_layout(GTK_LABEL(widget)), &ink, &logical);
    int left = textX - widget->allocation.x;
    int top = textY - widget->allocation.y;
    int below = widget->allocation.height - top - logical.height;
    EXPECT_LE(left, GTK_MISC(widget)->xpad + 1) << "text is not at the left edge";
    EXPECT_LE(std::abs(top - below), 1) << "text is not centred vertically";

    label.setText("Another text");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(widget)), "Another text");
}

TEST_F(Controls, button_click_reaches_on_click_and_an_empty_holder_is_harmless) {
    Button button;
    button.create(window, 10, 10, 100, 30, "Press");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(widgetOf(button))), "Press");
    ASSERT_TRUE(support::showWindow(window));

    support::click(widgetOf(button)); // nothing bound yet
    int clicks = 0;
    button.onClick = [&clicks] { clicks++; };
    support::click(widgetOf(button));
    EXPECT_TRUE(support::pumpUntil([&] { return clicks == 1; }));
    support::click(widgetOf(button));
    EXPECT_TRUE(support::pumpUntil([&] { return clicks == 2; }));

    // A disabled button takes no clicks.
    button.setEnabled(false);
    EXPECT_FALSE(button.enabled());
    support::click(widgetOf(button));
    support::pumpFor(50);
    EXPECT_EQ(clicks, 2);
}

TEST_F(Controls, text_box_reports_only_the_users_edits) {
    TextBox box;
    int changes = 0, activations = 0;
    box.onChange = [&changes] { changes++; };
    box.onActivate = [&activations] { activations++; };
    box.create(window, 10, 10, 200, 28, "initial");
    EXPECT_EQ(changes, 0) << "the initial text reached onChange";
    EXPECT_STREQ(box.text(), "initial");
    ASSERT_TRUE(support::showWindow(window));

    box.setText("from the program");
    box.setText("");
    EXPECT_EQ(changes, 0) << "setText reached onChange";
    EXPECT_STREQ(box.text(), "");

    support::click(widgetOf(box));
    support::typeText("ab C/d");
    EXPECT_TRUE(support::pumpUntil([&] { return box.text() == rudd::string("ab C/d"); }));
    EXPECT_EQ(changes, 6) << "one change per typed character";

    // Enter activates whether or not the text changed.
    support::pressKey(XK_Return);
    support::pressKey(XK_Return);
    EXPECT_TRUE(support::pumpUntil([&] { return activations == 2; }));
    EXPECT_EQ(changes, 6);

    support::pressKey(XK_BackSpace);
    EXPECT_TRUE(support::pumpUntil([&] { return changes == 7; }));
    EXPECT_STREQ(box.text(), "ab C/");
}

TEST_F(Controls, read_only_text_box_takes_no_typing) {
    TextBox box;
    int changes = 0;
    box.onChange = [&changes] { changes++; };
    box.create(window, 10, 10, 200, 28, "fixed");
    box.setEditable(false);
    ASSERT_TRUE(support::showWindow(window));
    support::click(widgetOf(box));
    support::typeText("xy");
    support::pumpFor(50);
    EXPECT_STREQ(box.text(), "fixed");
    EXPECT_EQ(changes, 0);
}

TEST_F(Controls, radio_group_reports_only_the_newly_selected_box) {
    RadioBox first, second;
    int firstToggles = 0, secondToggles = 0;
    first.onToggle = [&firstToggles] { firstToggles++; };
    second.onToggle = [&secondToggles] { secondToggles++; };
    first.create(window, 10, 10, 150, 24, "First");
    second.create(first, 10, 40, 150, 24, "Second");
    EXPECT_EQ(first.group, &first);
    EXPECT_EQ(second.group, &first);
    EXPECT_TRUE(first.checked());
    EXPECT_FALSE(second.checked());
    EXPECT_EQ(firstToggles + secondToggles, 0);
    ASSERT_TRUE(support::showWindow(window));

    support::click(widgetOf(second));
    EXPECT_TRUE(support::pumpUntil([&] { return second.checked(); }));
    EXPECT_FALSE(first.checked());
    EXPECT_EQ(secondToggles, 1);
    EXPECT_EQ(firstToggles, 0) << "the box losing the selection reported";

    support::click(widgetOf(second)); // already selected
    support::pumpFor(50);
    EXPECT_EQ(secondToggles, 1);
    EXPECT_EQ(firstToggles, 0);

    first.setChecked();
    EXPECT_TRUE(first.checked());
    EXPECT_FALSE(second.checked());
    second.setChecked();
    EXPECT_TRUE(second.checked());
    EXPECT_EQ(firstToggles, 0) << "setChecked reached onToggle";
    EXPECT_EQ(secondToggles, 1) << "setChecked reached onToggle";

    support::click(widgetOf(first));
    EXPECT_TRUE(support::pumpUntil([&] { return firstToggles == 1; }));
    EXPECT_EQ(secondToggles, 1);
}

TEST_F(Controls, joined_radio_box_lands_in_the_groups_window_with_its_font) {
    Font font;
    font.create("Serif", 14, Font::Bold);
    window.setDefaultFont(font);
    RadioBox first, second, third;
    first.create(window, 10, 10, 150, 24, "First");
    second.create(first, 10, 40, 150, 24, "Second");
    third.create(second, 10, 70, 150, 24, "Third");
    EXPECT_EQ(third.group, &first);
    EXPECT_EQ(support::stateOf(third).parentWindow, &window);
    EXPECT_EQ(gtk_widget_get_parent(widgetOf(third)), support::stateOf(window).formContainer);
    EXPECT_EQ(g_slist_length(gtk_radio_button_get_group(GTK_RADIO_BUTTON(widgetOf(third)))), 3u);

    ASSERT_TRUE(support::showWindow(window));
    GtkWidget *label = gtk_bin_get_child(GTK_BIN(widgetOf(third)));
    PangoFontDescription *shown = label->style->font_desc;
    EXPECT_STREQ(pango_font_description_get_family(shown), "Serif");
    EXPECT_EQ(pango_font_description_get_size(shown), 14 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_weight(shown), PANGO_WEIGHT_BOLD);

    third.setGeometry(100, 120, 90, 30);
    support::settle();
    gint x = 0, y = 0;
    gtk_widget_translate_coordinates(widgetOf(third), support::stateOf(window).formContainer, 0, 0, &x, &y);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 120);
    EXPECT_EQ(widgetOf(third)->allocation.height, 30);
}

TEST_F(Controls, controls_without_a_default_font_keep_the_theme_font) {
    Font font;
    font.create("Serif", 17, Font::Oblique);
    Label before;
    before.create(window, 10, 10, 100, 20, "before");
    window.setDefaultFont(font);
    Label after;
    TextBox afterBox;
    ProgressBar bar;
    after.create(window, 10, 40, 100, 20, "after");
    afterBox.create(window, 10, 70, 100, 24, "after");
    bar.create(window, 10, 100, 100, 20);
    ASSERT_TRUE(support::showWindow(window));

    PangoFontDescription *themeFont = gtk_widget_get_default_style()->font_desc;
    EXPECT_TRUE(pango_font_description_equal(widgetOf(before)->style->font_desc, themeFont));
    EXPECT_EQ(pango_font_description_get_size(widgetOf(after)->style->font_desc), 17 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_style(widgetOf(afterBox)->style->font_desc), PANGO_STYLE_OBLIQUE);
    // A progress bar shows no text and takes no font.
    EXPECT_EQ(gtk_widget_get_modifier_style(widgetOf(bar))->font_desc, nullptr);
    EXPECT_NE(gtk_widget_get_modifier_style(widgetOf(after))->font_desc, nullptr);
}

TEST_F(Controls, progress_bar_shows_whole_percents_and_empties_above_one_hundred) {
    ProgressBar bar;
    bar.create(window, 10, 10, 200, 20);
    GtkProgressBar *widget = GTK_PROGRESS_BAR(widgetOf(bar));
    EXPECT_EQ(gtk_progress_bar_get_text(widget), nullptr);
    struct Case {
        unsigned position;
        double fraction;
    } cases[] = {{0, 0.0}, {50, 0.5}, {1, 0.01}, {100, 1.0}, {101, 0.0}, {99, 0.99}, {4294967295u, 0.0}};
    for (const Case &c : cases) {
        bar.setPosition(c.position);
        EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(widget), c.fraction) << "position " << c.position;
    }
}

TEST_F(Controls, set_focused_shows_a_hidden_control_first) {
    TextBox box;
    box.create(window, 10, 10, 100, 24, "");
    ASSERT_TRUE(support::showWindow(window));
    box.setVisible(false);
    EXPECT_FALSE(box.visible());
    box.setFocused();
    EXPECT_TRUE(box.visible());
    EXPECT_TRUE(box.focused());
}

// This binary's text box is built with the toolkit's checks on, whatever the build type (see
// CMakeLists.txt), so a misuse must end the process at once with the line naming it.
TEST(Misuse, control_used_before_create_stops_with_one_line) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(TextBox().text(), "textbox\\.cpp:[0-9]+: TextBox::text\\(\\) called before create\\(\\)");
}

} // namespace
