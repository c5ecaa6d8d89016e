// Sliders: positions set by the program, by keys and by dragging the knob, and lengths too short for a scale.

#include "support.h"
#include "support_more.h"

#include "tamber/font.h"
#include "tamber/slider.h"

using namespace tamber;
using support::widgetOf;

namespace {

class Sliders : public support::WindowTest {
protected:
    Sliders() : WindowTest(60, 60, 300, 240, "sliders") {}

    // The centre of the knob and the far end of the trough, on the screen.
    static support::Point knob(GtkWidget *scale, bool horizontal) {
        gint start = 0, end = 0;
        gtk_range_get_slider_range(GTK_RANGE(scale), &start, &end);
        support::Point origin = support::screenOrigin(scale);
        if (horizontal)
            return {origin.x + (start + end) / 2, origin.y + scale->allocation.height / 2};
        return {origin.x + scale->allocation.width / 2, origin.y + (start + end) / 2};
    }
    static support::Point farEnd(GtkWidget *scale, bool horizontal) {
        support::Point origin = support::screenOrigin(scale);
        if (horizontal)
            return {origin.x + scale->allocation.width + 20, origin.y + scale->allocation.height / 2};
        return {origin.x + scale->allocation.width / 2, origin.y + scale->allocation.height + 20};
    }
};

TEST_F(Sliders, set_position_reports_each_change_once_and_stays_in_range) {
    HorizontalSlider slider;
    slider.create(window, 10, 10, 200, 30, 10);
    int changes = 0;
    slider.onChange = [&] { changes++; };
    GtkAdjustment *range = gtk_range_get_adjustment(GTK_RANGE(widgetOf(slider)));
    EXPECT_EQ(gtk_adjustment_get_lower(range), 0.0);
    EXPECT_EQ(gtk_adjustment_get_upper(range), 9.0);
    EXPECT_FALSE(gtk_scale_get_draw_value(GTK_SCALE(widgetOf(slider))));
    EXPECT_EQ(slider.position(), 0u);

    slider.setPosition(5);
    EXPECT_EQ(changes, 1); // reported before setPosition returns
    EXPECT_EQ(slider.position(), 5u);
    slider.setPosition(5);
    EXPECT_EQ(changes, 1);
    slider.setPosition(20);
    EXPECT_EQ(slider.position(), 9u);
    EXPECT_EQ(changes, 2);
    slider.setPosition(20);
    EXPECT_EQ(changes, 2);

    // A move inside one step is no change of position.
    gtk_range_set_value(GTK_RANGE(widgetOf(slider)), 8.5);
    EXPECT_EQ(slider.position(), 8u);
    EXPECT_EQ(changes, 3);
    gtk_range_set_value(GTK_RANGE(widgetOf(slider)), 8.9);
    EXPECT_EQ(changes, 3);
}

TEST_F(Sliders, keys_move_a_focused_slider) {
    VerticalSlider slider;
    slider.create(window, 10, 10, 30, 200, 10);
    std::vector<unsigned> seen;
    slider.onChange = [&] { seen.push_back(slider.position()); };
    ASSERT_TRUE(support::showWindow(window));
    support::movePointerTo(widgetOf(slider)); // keys go to the window under the pointer
    slider.setFocused();

    support::pressKey(XK_End);
    ASSERT_TRUE(support::pumpUntil([&] { return seen.size() == 1; }));
    support::pressKey(XK_Up);
    ASSERT_TRUE(support::pumpUntil([&] { return seen.size() == 2; }));
    support::pressKey(XK_Home);
    ASSERT_TRUE(support::pumpUntil([&] { return seen.size() == 3; }));
    support::pressKey(XK_Home); // already there
    support::pumpFor(30);
    EXPECT_EQ(seen, (std::vector<unsigned>{9, 8, 0}));
}

TEST_F(Sliders, dragging_the_knob_moves_both_kinds_to_their_last_position) {
    HorizontalSlider across;
    across.create(window, 10, 10, 200, 30, 10);
    VerticalSlider down;
    down.create(window, 240, 10, 30, 200, 5);
    int acrossChanges = 0, downChanges = 0;
    across.onChange = [&] { acrossChanges++; };
    down.onChange = [&] { downChanges++; };
    ASSERT_TRUE(support::showWindow(window));

    // To the middle first: a click on the trough instead of a drag would page to the end.
    support::dragFromTo(knob(widgetOf(across), true), support::screenCenter(widgetOf(across)));
    ASSERT_TRUE(support::pumpUntil([&] { return acrossChanges >= 1; }));
    EXPECT_GE(across.position(), 3u);
    EXPECT_LE(across.position(), 6u);
    support::dragFromTo(knob(widgetOf(across), true), farEnd(widgetOf(across), true));
    ASSERT_TRUE(support::pumpUntil([&] { return across.position() == 9; }));
    EXPECT_LE(acrossChanges, 9) << "a change was reported without a change of position";

    support::dragFromTo(knob(widgetOf(down), false), support::screenCenter(widgetOf(down)));
    ASSERT_TRUE(support::pumpUntil([&] { return downChanges >= 1; }));
    EXPECT_GE(down.position(), 1u);
    EXPECT_LE(down.position(), 3u);
    support::dragFromTo(knob(widgetOf(down), false), farEnd(widgetOf(down), false));
    ASSERT_TRUE(support::pumpUntil([&] { return down.position() == 4; }));
    EXPECT_LE(downChanges, 4);
    EXPECT_EQ(across.position(), 9u);
}

// GTK refuses a scale whose range is empty; such a slider is simply not there (the fixture fails the test
// on any GTK warning).
TEST_F(Sliders, length_below_two_makes_no_scale_and_nothing_breaks) {
    HorizontalSlider none, one;
    VerticalSlider upright;
    none.create(window, 10, 10, 100, 30, 0);
    one.create(window, 10, 50, 100, 30, 1);
    upright.create(window, 10, 90, 30, 100, 1);
    int changes = 0;
    one.onChange = [&] { changes++; };
    for (Widget *slider : std::initializer_list<Widget *>{&none, &one, &upright}) {
        EXPECT_EQ(widgetOf(*slider), nullptr);
        slider->setGeometry(0, 0, 50, 50);
    }
    one.setPosition(3);
    upright.setPosition(1);
    EXPECT_EQ(one.position(), 0u);
    EXPECT_EQ(upright.position(), 0u);
    EXPECT_EQ(changes, 0);

    // The operations every control has find no GTK widget to act on, and none reaches GTK.
    Font font;
    font.create("Sans", 10, 0);
    for (Widget *slider : std::initializer_list<Widget *>{&none, &one, &upright}) {
        slider->setVisible(true);
        slider->setVisible(false);
        EXPECT_FALSE(slider->visible());
        slider->setEnabled(true);
        EXPECT_FALSE(slider->enabled());
        slider->setFont(font);
        slider->setFocused();
        EXPECT_FALSE(slider->focused());
    }

    HorizontalSlider two;
    two.create(window, 10, 130, 100, 30, 2);
    two.setPosition(7);
    EXPECT_EQ(two.position(), 1u);
    ASSERT_TRUE(support::showWindow(window));
}

} // namespace
