// The check box under real clicks.

#include "support.h"

#include "tamber/checkbox.h"
#include "tamber/font.h"

using namespace tamber;
using support::widgetOf;

namespace {

class Checks : public support::ToolkitTest {
protected:
    void SetUp() override {
        support::ToolkitTest::SetUp();
        window.create(60, 60, 200, 100, "checks");
    }
    void TearDown() override {
        window.setVisible(false);
        support::ToolkitTest::TearDown();
    }
    tamber::Window window;
};

TEST_F(Checks, clicks_report_both_directions_and_set_checked_stays_silent) {
    CheckBox box;
    box.create(window, 10, 10, 150, 30, "Remember");
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(widgetOf(box))), "Remember");
    EXPECT_FALSE(box.checked());
    std::vector<bool> seen;
    box.onToggle = [&] { seen.push_back(box.checked()); };
    ASSERT_TRUE(support::showWindow(window));

    support::click(widgetOf(box));
    ASSERT_TRUE(support::pumpUntil([&] { return seen.size() == 1; }));
    support::click(widgetOf(box));
    ASSERT_TRUE(support::pumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));

    box.setChecked(true);
    EXPECT_TRUE(box.checked());
    box.setChecked(false);
    box.setChecked(false);
    support::pumpFor(30);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(Checks, label_takes_the_windows_default_font) {
    Font font;
    font.create("Serif", 12, Font::Bold);
    window.setDefaultFont(font);
    CheckBox box;
    box.create(window, 10, 10, 150, 30, "Bold");
    ASSERT_TRUE(support::showWindow(window));
    PangoFontDescription *shown = gtk_bin_get_child(GTK_BIN(widgetOf(box)))->style->font_desc;
    EXPECT_EQ(pango_font_description_get_size(shown), 12 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_weight(shown), PANGO_WEIGHT_BOLD);
}

} // namespace
