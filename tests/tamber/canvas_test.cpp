// Canvas and viewport, checked by the pixels the X server holds.

#include "support.h"
#include "support_more.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include "tamber/canvas.h"

using namespace tamber;
using support::Point;
using support::widgetOf;

namespace {

class Surfaces : public support::WindowTest {
protected:
    Surfaces() : WindowTest(30, 30, 200, 120, "surfaces") {}

    // Waits until the canvas's pixel at (x, y) shows the colour.
    bool shows(GtkWidget *area, int x, int y, uint32_t color) {
        Point origin = support::screenOrigin(area);
        return support::pumpUntil([&] {
            return support::screenPixel({origin.x + x, origin.y + y}) == color;
        });
    }
};

TEST_F(Surfaces, canvas_starts_black_and_shows_red_green_blue_with_the_top_byte_ignored) {
    Canvas canvas;
    canvas.create(window, 10, 10, 16, 8);
    ASSERT_TRUE(support::showWindow(window));
    GtkWidget *area = widgetOf(canvas);
    EXPECT_EQ(area->allocation.width, 16);
    EXPECT_EQ(area->allocation.height, 8);

    std::vector<uint32_t> before = support::screenPixels(support::screenOrigin(area), 16, 8);
    ASSERT_EQ(before.size(), 16u * 8u);
    for (uint32_t pixel : before)
        EXPECT_EQ(pixel, 0x000000u);

    uint32_t *buffer = canvas.buffer();
    buffer[0] = 0x00FF0000;           // (0, 0) red
    buffer[1] = 0x000000FF;           // (1, 0) blue
    buffer[2] = 0xFF000080;           // (2, 0) dark blue: the top byte must not leak into a channel
    buffer[3] = 0xA5123456;           // (3, 0) every channel distinct
    buffer[7 * 16 + 15] = 0x00FFFFFF; // (15, 7) the last pixel, white
    canvas.redraw();
    ASSERT_TRUE(shows(area, 15, 7, 0xFFFFFF));
    std::vector<uint32_t> after = support::screenPixels(support::screenOrigin(area), 16, 8);
    EXPECT_EQ(after[0], 0xFF0000u);
    EXPECT_EQ(after[1], 0x0000FFu);
    EXPECT_EQ(after[2], 0x000080u);
    EXPECT_EQ(after[3], 0x123456u);
    EXPECT_EQ(after[4], 0x000000u);
    EXPECT_EQ(after[16], 0x000000u) << "row pitch is wrong";
    EXPECT_EQ(after[7 * 16 + 15], 0xFFFFFFu);
}

TEST_F(Surfaces, repaint_shows_the_buffer_as_it_is_when_the_expose_is_handled) {
    Canvas canvas;
    canvas.create(window, 0, 0, 4, 4);
    ASSERT_TRUE(support::showWindow(window));
    GtkWidget *area = widgetOf(canvas);

    canvas.buffer()[5] = 0x00FF0000;
    canvas.redraw();
    canvas.buffer()[5] = 0x000000FF; // written before the main loop runs
    ASSERT_TRUE(shows(area, 1, 1, 0x0000FF));
    support::pumpFor(50);
    EXPECT_EQ(support::screenPixel({support::screenOrigin(area).x + 1, support::screenOrigin(area).y + 1}),
              0x0000FFu);

    // An expose the program did not ask for (the window shown again) repaints from the buffer too.
    canvas.buffer()[0] = 0x0000FF00;
    window.setVisible(false);
    support::settle();
    ASSERT_TRUE(support::showWindow(window));
    EXPECT_TRUE(shows(area, 0, 0, 0x00FF00));
}

// The buffers keep their size when the area is given another; drawing stays inside both (a sanitizer
// build would stop at any read past the buffers).
TEST_F(Surfaces, canvas_given_another_size_draws_only_what_buffer_and_area_share) {
    Canvas canvas;
    canvas.create(window, 0, 0, 20, 10);
    for (int i = 0; i < 20 * 10; i++)
        canvas.buffer()[i] = 0x00FF0000;
    ASSERT_TRUE(support::showWindow(window));
    GtkWidget *area = widgetOf(canvas);
    ASSERT_TRUE(shows(area, 19, 9, 0xFF0000));

    canvas.setGeometry(0, 0, 60, 40); // larger than the buffers
    ASSERT_TRUE(
        support::pumpUntil([&] { return area->allocation.width == 60 && area->allocation.height == 40; }));
    canvas.buffer()[9 * 20 + 19] = 0x000000FF;
    canvas.redraw();
    ASSERT_TRUE(shows(area, 19, 9, 0x0000FF));
    EXPECT_EQ(support::screenPixel({support::screenOrigin(area).x + 40, support::screenOrigin(area).y + 30}),
              0u)
        << "the part outside the buffer is not the black background";

    canvas.setGeometry(0, 0, 8, 4); // smaller in both directions
    ASSERT_TRUE(
        support::pumpUntil([&] { return area->allocation.width == 8 && area->allocation.height == 4; }));
    canvas.buffer()[3 * 20 + 7] = 0x0000FF00;
    canvas.redraw();
    EXPECT_TRUE(shows(area, 7, 3, 0x00FF00));
}

TEST_F(Surfaces, canvas_of_an_overflowing_size_draws_nothing_rather_than_past_its_buffer) {
    Canvas canvas;
    // 65536 * 65537 pixels wrap to 65536 in 32 bits: the buffer would be far smaller than the area.
    canvas.create(window, 0, 0, 65536, 65537);
    ASSERT_NE(canvas.buffer(), nullptr);
    canvas.setGeometry(0, 0, 30, 30);
    ASSERT_TRUE(support::showWindow(window));
    canvas.redraw();
    support::pumpFor(50);
    EXPECT_EQ(support::screenPixel(support::screenOrigin(widgetOf(canvas))), 0u);
}

TEST_F(Surfaces, viewport_handle_is_a_live_x_window_before_and_after_showing) {
    Viewport viewport;
    EXPECT_EQ(viewport.handle(), 0ul);
    viewport.create(window, 40, 20, 50, 30);
    GtkWidget *area = widgetOf(viewport);
    unsigned long early = viewport.handle(); // the window is not shown: the area has no GDK window yet
    ASSERT_NE(early, 0ul);

    // Another connection, as the code that draws into a viewport would use, sees a real window.
    Display *other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    XWindowAttributes attributes;
    EXPECT_NE(XGetWindowAttributes(other, early, &attributes), 0);

    ASSERT_TRUE(support::showWindow(window));
    EXPECT_EQ(viewport.handle(), early);
    Point origin = support::screenOrigin(area);
    for (uint32_t pixel : support::screenPixels(origin, 50, 30))
        ASSERT_EQ(pixel, 0u) << "a viewport shows black";

    // Drawn into from outside the toolkit, through the id alone.
    GC gc = XCreateGC(other, early, 0, nullptr);
    XSetForeground(other, gc, 0x00FF00);
    XFillRectangle(other, early, gc, 0, 0, 10, 10);
    XFreeGC(other, gc);
    XSync(other, False);
    EXPECT_EQ(support::screenPixel({origin.x + 5, origin.y + 5}), 0x00FF00u);
    EXPECT_EQ(support::screenPixel({origin.x + 20, origin.y + 20}), 0u);
    XCloseDisplay(other);
}

} // namespace
