// The combo box: items from its text, silent changes by the program, and a pick from its list by a click.

#include "support.h"
#include "support_more.h"

#include "tamber/combobox.h"

using namespace tamber;
using support::widgetOf;

namespace {

class Combos : public support::WindowTest {
protected:
    Combos() : WindowTest(60, 60, 260, 200, "combos") {}

    static GtkTreeModel *model(ComboBox &combo) {
        return gtk_combo_box_get_model(GTK_COMBO_BOX(widgetOf(combo)));
    }
    static int items(ComboBox &combo) { return gtk_tree_model_iter_n_children(model(combo), nullptr); }
    static std::string item(ComboBox &combo, int index) {
        GtkTreeIter iter;
        if (!gtk_tree_model_iter_nth_child(model(combo), &iter, nullptr, index))
            return "(no item)";
        gchar *text = nullptr;
        gtk_tree_model_get(model(combo), &iter, 0, &text, -1);
        std::string result = text ? text : "(null)";
        g_free(text);
        return result;
    }
};

TEST_F(Combos, items_come_from_the_lines_of_the_text_with_the_first_selected_silently) {
    int changes = 0;
    ComboBox two;
    two.onChange = [&] { changes++; };
    two.create(window, 0, 0, 120, 30, "a\nb");
    EXPECT_EQ(items(two), 2);
    EXPECT_EQ(two.itemCount, 2u);
    EXPECT_EQ(item(two, 0), "a");
    EXPECT_EQ(item(two, 1), "b");
    EXPECT_EQ(two.selection(), 0);

    ComboBox none;
    none.onChange = [&] { changes++; };
    none.create(window, 0, 40, 120, 30, "");
    EXPECT_EQ(items(none), 0);
    EXPECT_EQ(none.selection(), -1);

    ComboBox trailing;
    trailing.onChange = [&] { changes++; };
    trailing.create(window, 0, 80, 120, 30, "a\nb\n");
    EXPECT_EQ(items(trailing), 3);
    EXPECT_EQ(item(trailing, 2), "");
    EXPECT_EQ(changes, 0);
}

TEST_F(Combos, program_changes_stay_silent_and_keep_the_first_item_rule) {
    ComboBox combo;
    combo.create(window, 0, 0, 120, 30, "");
    int changes = 0;
    combo.onChange = [&] { changes++; };

    combo.addItem("first");
    EXPECT_EQ(combo.selection(), 0);
    combo.addItem("second");
    combo.addItem("third");
    EXPECT_EQ(combo.selection(), 0);
    combo.setSelection(2);
    EXPECT_EQ(combo.selection(), 2);
    combo.setSelection(3); // past the last item: nothing changes
    combo.setSelection(4294967295u);
    EXPECT_EQ(combo.selection(), 2);

    combo.reset();
    EXPECT_EQ(items(combo), 0);
    EXPECT_EQ(combo.itemCount, 0u);
    EXPECT_EQ(combo.selection(), -1);
    combo.addItem("again");
    EXPECT_EQ(combo.selection(), 0);
    support::pumpFor(30);
    EXPECT_EQ(changes, 0);
}

TEST_F(Combos, user_picks_an_item_from_the_drop_down_list) {
    ComboBox combo;
    combo.create(window, 20, 20, 150, 30, "red\ngreen\nblue");
    int changes = 0;
    combo.onChange = [&] { changes++; };
    ASSERT_TRUE(support::showWindow(window));

    support::click(widgetOf(combo));
    GtkTreeView *list = nullptr;
    ASSERT_TRUE(support::pumpUntil([&] {
        list = support::popupTreeViewOf(model(combo));
        return list && GTK_WIDGET(list)->allocation.height > 1;
    })) << "the drop-down did not open as a list";
    support::settle();
    support::clickAt(support::cellCenter(list, 2, gtk_tree_view_get_column(list, 0)));
    ASSERT_TRUE(support::pumpUntil([&] { return changes == 1; }));
    EXPECT_EQ(combo.selection(), 2);
    EXPECT_TRUE(support::pumpUntil(
        [&] { return !gtk_widget_get_mapped(gtk_widget_get_toplevel(GTK_WIDGET(list))); }));

    // The keyboard picks too: Up on the focused combo box selects the item above.
    support::movePointerTo(widgetOf(combo));
    gtk_widget_grab_focus(widgetOf(combo));
    support::pressKey(XK_Up);
    ASSERT_TRUE(support::pumpUntil([&] { return changes == 2; }));
    EXPECT_EQ(combo.selection(), 1);
}

} // namespace
