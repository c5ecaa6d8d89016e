// The edit box: typed text, silent changes by the program, wrapping and the focus of its text view.

#include "support.h"

#include "tamber/editbox.h"
#include "tamber/textbox.h"

using namespace tamber;
using support::widgetOf;

namespace {

class Edits : public support::WindowTest {
protected:
    Edits() : WindowTest(60, 60, 300, 200, "edits") {}
    static GtkWidget *view(EditBox &box) { return support::stateOf(box).subWidget; }
    static bool horizontalBarShown(EditBox &box) {
        return gtk_widget_get_visible(gtk_scrolled_window_get_hscrollbar(GTK_SCROLLED_WINDOW(widgetOf(box))));
    }
};

TEST_F(Edits, typing_reports_each_edit_and_the_program_stays_silent) {
    int changes = 0;
    EditBox box;
    box.onChange = [&] { changes++; };
    box.create(window, 10, 10, 200, 100, "first line\nsecond");
    EXPECT_EQ(box.text(), rudd::string("first line\nsecond"));
    ASSERT_TRUE(support::showWindow(window));
    EXPECT_EQ(changes, 0);

    box.setText("");
    EXPECT_EQ(changes, 0);
    support::click(view(box));
    support::typeText("Hi there");
    ASSERT_TRUE(support::pumpUntil([&] { return box.text() == rudd::string("Hi there"); }));
    EXPECT_EQ(changes, 8);
    support::pressKey(XK_Return);
    support::typeText("x");
    ASSERT_TRUE(support::pumpUntil([&] { return box.text() == rudd::string("Hi there\nx"); }));
    EXPECT_EQ(changes, 10);

    box.setText("replaced\nin two lines\n");
    EXPECT_EQ(box.text(), rudd::string("replaced\nin two lines\n"));
    support::pumpFor(30);
    EXPECT_EQ(changes, 10);

    box.setEditable(false);
    support::typeText("zz");
    support::pumpFor(30);
    EXPECT_EQ(box.text(), rudd::string("replaced\nin two lines\n"));
    EXPECT_EQ(changes, 10);
}

TEST_F(Edits, word_wrap_off_keeps_long_lines_whole_behind_a_scroll_bar) {
    EditBox box;
    box.create(window, 10, 10, 150, 80, "");
    rudd::string line;
    for (int i = 0; i < 30; i++)
        line.append("word ");
    box.setText(line);
    ASSERT_TRUE(support::showWindow(window));
    GtkTextView *text = GTK_TEXT_VIEW(view(box));
    EXPECT_EQ(gtk_text_view_get_wrap_mode(text), GTK_WRAP_WORD_CHAR);
    EXPECT_FALSE(horizontalBarShown(box));

    box.setWordWrap(false);
    EXPECT_EQ(gtk_text_view_get_wrap_mode(text), GTK_WRAP_NONE);
    EXPECT_TRUE(support::pumpUntil([&] { return horizontalBarShown(box); }));
    box.setWordWrap(true);
    EXPECT_EQ(gtk_text_view_get_wrap_mode(text), GTK_WRAP_WORD_CHAR);
    EXPECT_TRUE(support::pumpUntil([&] { return !horizontalBarShown(box); }));
}

TEST_F(Edits, focus_is_the_text_views) {
    EditBox box;
    box.create(window, 10, 10, 150, 80, "text");
    TextBox other;
    other.create(window, 10, 100, 150, 30, "");
    ASSERT_TRUE(support::showWindow(window));

    box.setFocused();
    support::settle();
    EXPECT_TRUE(gtk_widget_is_focus(view(box)));
    EXPECT_TRUE(box.focused());
    other.setFocused();
    support::settle();
    EXPECT_FALSE(box.focused());

    support::click(view(box)); // the user's click focuses the text view too
    EXPECT_TRUE(box.focused());

    // Unlike Widget's, it gives the focus without showing a hidden edit box.
    box.setVisible(false);
    box.setFocused();
    EXPECT_FALSE(box.visible());
}

} // namespace
