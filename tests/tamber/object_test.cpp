// Object, Widget and Window: the window's widget tree, its geometry, status bar, background and the close
// request as a window manager sends it.

#include "support.h"

#include <vector>

#include "tamber/button.h"
#include "tamber/label.h"
#include "tamber/toolkit.h"

using namespace tamber;
using support::stateOf;
using support::widgetOf;

namespace {

class Windows : public support::ToolkitTest {
protected:
    void TearDown() override {
        if (widgetOf(window))
            window.setVisible(false);
        support::ToolkitTest::TearDown();
    }
    Window window;
};

std::vector<GtkWidget *> childrenOf(GtkWidget *container) {
    std::vector<GtkWidget *> children;
    GList *list = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList *item = list; item; item = item->next)
        children.push_back(GTK_WIDGET(item->data));
    g_list_free(list);
    return children;
}

void expectPacking(GtkWidget *box, GtkWidget *child, bool expand, bool fill) {
    gboolean isExpand = !expand, isFill = !fill;
    guint padding = 1;
    GtkPackType pack = GTK_PACK_END;
    gtk_box_query_child_packing(GTK_BOX(box), child, &isExpand, &isFill, &padding, &pack);
    EXPECT_EQ(bool(isExpand), expand);
    EXPECT_EQ(bool(isFill), fill);
    EXPECT_EQ(padding, 0u);
    EXPECT_EQ(pack, GTK_PACK_START);
}

TEST_F(Windows, create_builds_the_fixed_widget_tree_hidden_and_realized) {
    EXPECT_EQ(widgetOf(window), nullptr) << "construction made a GTK widget";
    window.create(120, 80, 256, 256, "Tree");
    ObjectState &state = stateOf(window);
    GtkWidget *top = state.widget;
    ASSERT_TRUE(GTK_IS_WINDOW(top));
    EXPECT_EQ(gtk_window_get_window_type(GTK_WINDOW(top)), GTK_WINDOW_TOPLEVEL);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(top)), "Tree");
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(top)));
    EXPECT_TRUE(gtk_widget_get_app_paintable(top));
    EXPECT_TRUE(gtk_widget_get_realized(top));
    EXPECT_FALSE(window.visible());

    ASSERT_TRUE(GTK_IS_VBOX(state.layoutBox));
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(top)), state.layoutBox);
    EXPECT_TRUE(gtk_widget_get_visible(state.layoutBox));
    EXPECT_FALSE(gtk_box_get_homogeneous(GTK_BOX(state.layoutBox)));
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(state.layoutBox)), 0);
    ASSERT_EQ(childrenOf(state.layoutBox),
              (std::vector<GtkWidget *>{state.menuContainer, state.formContainer, state.statusContainer}));
    ASSERT_TRUE(GTK_IS_MENU_BAR(state.menuContainer));
    ASSERT_TRUE(GTK_IS_FIXED(state.formContainer));
    ASSERT_TRUE(GTK_IS_EVENT_BOX(state.statusContainer));
    ASSERT_TRUE(GTK_IS_STATUSBAR(state.statusBar));
    EXPECT_EQ(gtk_bin_get_child(GTK_BIN(state.statusContainer)), state.statusBar);
    expectPacking(state.layoutBox, state.menuContainer, false, false);
    expectPacking(state.layoutBox, state.formContainer, true, true);
    expectPacking(state.layoutBox, state.statusContainer, false, false);

    EXPECT_FALSE(gtk_widget_get_visible(state.menuContainer));
    EXPECT_TRUE(gtk_widget_get_visible(state.formContainer));
    EXPECT_TRUE(gtk_widget_get_visible(state.statusContainer));
    EXPECT_FALSE(gtk_widget_get_visible(state.statusBar));
    EXPECT_FALSE(gtk_statusbar_get_has_resize_grip(GTK_STATUSBAR(state.statusBar)));

    Geometry geometry = window.geometry();
    EXPECT_EQ(geometry.x, 120);
    EXPECT_EQ(geometry.y, 80);
    EXPECT_EQ(geometry.width, 256);
    EXPECT_EQ(geometry.height, 256);
}

TEST_F(Windows, shown_window_is_as_large_as_its_form_and_grows_by_its_bars) {
    window.create(50, 60, 200, 150, "Size");
    ASSERT_TRUE(support::showWindow(window));
    EXPECT_TRUE(window.visible());
    GtkWidget *top = widgetOf(window);
    EXPECT_EQ(top->allocation.width, 200);
    EXPECT_EQ(top->allocation.height, 150);
    gint x = 0, y = 0;
    gdk_window_get_origin(top->window, &x, &y);
    EXPECT_EQ(x, 50);
    EXPECT_EQ(y, 60);

    window.setStatusText("ready");
    window.setStatusVisible(true);
    EXPECT_TRUE(support::pumpUntil([top] { return top->allocation.height > 150; }));
    GtkWidget *form = stateOf(window).formContainer;
    EXPECT_EQ(form->allocation.height, 150);
    EXPECT_EQ(form->allocation.y, 0) << "the form moved although the menu bar is hidden";

    window.setMenuVisible(true);
    EXPECT_TRUE(gtk_widget_get_visible(stateOf(window).menuContainer));
    window.setStatusVisible(false);
    window.setMenuVisible(false);
    EXPECT_TRUE(support::pumpUntil([top] { return top->allocation.height == 150; }));

    window.setGeometry(70, 90, 240, 100);
    EXPECT_TRUE(
        support::pumpUntil([top] { return top->allocation.width == 240 && top->allocation.height == 100; }));
    Geometry geometry = window.geometry();
    EXPECT_EQ(geometry.x, 70);
    EXPECT_EQ(geometry.y, 90);
    EXPECT_EQ(geometry.width, 240);
    EXPECT_EQ(geometry.height, 100);
    EXPECT_TRUE(support::pumpUntil([&] {
        gdk_window_get_origin(top->window, &x, &y);
        return x == 70 && y == 90;
    }));

    window.setTitle("Renamed");
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(top)), "Renamed");
}

TEST_F(Windows, status_bar_keeps_only_the_latest_message) {
    window.create(0, 0, 100, 100, "Status");
    GtkStatusbar *bar = GTK_STATUSBAR(stateOf(window).statusBar);
    GtkWidget *area = gtk_statusbar_get_message_area(bar);
    GtkWidget *label = childrenOf(area).at(0);
    window.setStatusText("first");
    window.setStatusText("second");
    window.setStatusText("third");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "third");
    // Popping the one message the toolkit keeps leaves nothing below it.
    gtk_statusbar_pop(bar, 1);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "");
}

TEST_F(Windows, background_colour_repeats_each_byte_in_both_halves) {
    window.create(0, 0, 100, 100, "Colour");
    window.setBackgroundColor(255, 128, 0);
    GtkRcStyle *style = gtk_widget_get_modifier_style(widgetOf(window));
    ASSERT_TRUE(style->color_flags[GTK_STATE_NORMAL] & GTK_RC_BG);
    GdkColor colour = style->bg[GTK_STATE_NORMAL];
    EXPECT_EQ(colour.pixel, 0xFF8000u);
    EXPECT_EQ(colour.red, 65535);
    EXPECT_EQ(colour.green, 32896);
    EXPECT_EQ(colour.blue, 0);
}

TEST_F(Windows, close_request_follows_on_close) {
    window.create(10, 10, 120, 80, "Close");
    GtkWidget *top = widgetOf(window);
    int asked = 0;
    bool answer = false;

    // onClose answering false keeps the window on screen.
    window.onClose = [&] {
        asked++;
        return answer;
    };
    ASSERT_TRUE(support::showWindow(window));
    support::sendCloseRequest(top);
    EXPECT_TRUE(support::pumpUntil([&] { return asked == 1; }));
    support::pumpFor(30);
    EXPECT_TRUE(window.visible());

    // True hides it, and GTK never destroys it: it can be shown again.
    answer = true;
    support::sendCloseRequest(top);
    EXPECT_TRUE(support::pumpUntil([&] { return !window.visible(); }));
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(GTK_IS_WINDOW(top));
    ASSERT_TRUE(support::showWindow(window));

    // No callback: the window hides.
    window.onClose = rudd::function<bool()>();
    support::sendCloseRequest(top);
    EXPECT_TRUE(support::pumpUntil([&] { return !window.visible(); }));
    EXPECT_EQ(asked, 2);
}

TEST_F(Windows, closing_hides_but_leaves_the_event_loop_running) {
    window.create(10, 10, 120, 80, "Loop");
    ASSERT_TRUE(support::showWindow(window));
    struct Run {
        Window *window;
        int stage = 0;
        bool hiddenWhileRunning = false;
    } run{&window};
    // Inside the loop: send the close request, then see the window hidden with the loop still going.
    g_timeout_add(
        10,
        [](gpointer data) -> gboolean {
            Run &run = *static_cast<Run *>(data);
            if (run.stage == 0) {
                support::sendCloseRequest(widgetOf(*run.window));
                run.stage = 1;
                return TRUE;
            }
            if (run.window->visible() && run.stage < 100) {
                run.stage++;
                return TRUE;
            }
            run.hiddenWhileRunning = !run.window->visible();
            Toolkit::quit();
            return FALSE;
        },
        &run);
    Toolkit::main();
    EXPECT_TRUE(run.hiddenWhileRunning);
}

TEST_F(Windows, widget_operations_act_on_the_control) {
    // A window has no geometry to change before create either (no GTK call on a missing window).
    window.setGeometry(10, 10, 50, 50);
    EXPECT_EQ(widgetOf(window), nullptr);
    window.create(0, 0, 200, 100, "Widgets");
    Label label;
    // Before create a control has no parent, so moving it does nothing.
    label.setGeometry(10, 10, 50, 20);
    EXPECT_EQ(widgetOf(label), nullptr);

    label.create(window, 5, 5, 80, 20, "text");
    EXPECT_TRUE(label.visible());
    label.setVisible(false);
    EXPECT_FALSE(label.visible());
    label.setVisible(true);
    EXPECT_TRUE(label.enabled());
    label.setEnabled(false);
    EXPECT_FALSE(label.enabled());
    EXPECT_FALSE(gtk_widget_is_sensitive(widgetOf(label)));
}

TEST_F(Windows, set_focused_presents_the_window) {
    window.create(300, 300, 150, 100, "Focus");
    Button button;
    button.create(window, 10, 10, 80, 30, "b");
    window.setVisible(false);
    window.setFocused();
    EXPECT_TRUE(support::waitMapped(widgetOf(window)));
    EXPECT_TRUE(window.visible());
    // Without a window manager the keyboard follows the pointer.
    support::movePointerTo(widgetOf(button));
    EXPECT_TRUE(support::pumpUntil([&] { return window.focused(); }));
    button.setFocused();
    EXPECT_TRUE(button.focused());
}

} // namespace
