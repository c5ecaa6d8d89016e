// The check box under real clicks.

#include "support.h"

#include "tamber/checkbox.h"

using namespace tamber;
using support::widgetOf;

namespace {

class Checks : public support::WindowTest {
protected:
    Checks() : WindowTest(60, 60, 200, 100, "checks") {}
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

} // namespace
