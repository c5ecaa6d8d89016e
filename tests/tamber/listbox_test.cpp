// The list box: its columns and rows in the GTK model, and the user's clicks on rows and check boxes.

#include "support.h"
#include "support_more.h"

#include "tamber/font.h"
#include "tamber/listbox.h"

using namespace tamber;

namespace {

class Lists : public support::WindowTest {
protected:
    Lists() : WindowTest(20, 20, 320, 240, "lists") {}

    static GtkTreeView *view(ListBox &list) { return GTK_TREE_VIEW(support::stateOf(list).subWidget); }
    static GtkTreeModel *model(ListBox &list) { return gtk_tree_view_get_model(view(list)); }
    static int columnCount(ListBox &list) {
        GList *columns = gtk_tree_view_get_columns(view(list));
        int count = static_cast<int>(g_list_length(columns));
        g_list_free(columns);
        return count;
    }
    static GtkTreeViewColumn *column(ListBox &list, int number) {
        return gtk_tree_view_get_column(view(list), number);
    }
    static const char *header(ListBox &list, int number) {
        return gtk_label_get_text(GTK_LABEL(gtk_tree_view_column_get_widget(column(list, number))));
    }
    static int rows(ListBox &list) { return gtk_tree_model_iter_n_children(model(list), nullptr); }
    // The text of a cell as the model holds it; "(null)" for a cell never set.
    static std::string cell(ListBox &list, int row, int number) {
        GtkTreeIter iter;
        if (!gtk_tree_model_iter_nth_child(model(list), &iter, nullptr, row))
            return "(no row)";
        gchar *text = nullptr;
        gtk_tree_model_get(model(list), &iter, number, &text, -1);
        std::string result = text ? text : "(null)";
        g_free(text);
        return result;
    }
    // Two clicks at one spot within GTK's double-click time are a double click; this keeps them apart.
    static void pastDoubleClickTime() {
        gint milliseconds = 0;
        g_object_get(gtk_settings_get_default(), "gtk-double-click-time", &milliseconds, nullptr);
        support::pumpFor(milliseconds + 50);
    }
    static support::Point rowPoint(ListBox &list, unsigned row) {
        return support::cellCenter(view(list), row, column(list, 1));
    }
};

TEST_F(Lists, header_text_fixes_the_columns) {
    ListBox names;
    names.create(window, 0, 0, 150, 100, "Name\tSize");
    EXPECT_EQ(columnCount(names), 3);
    EXPECT_STREQ(header(names, 0), "");
    EXPECT_STREQ(header(names, 1), "Name");
    EXPECT_STREQ(header(names, 2), "Size");
    EXPECT_FALSE(gtk_tree_view_column_get_visible(column(names, 0)))
        << "check column shown without setCheckable";
    EXPECT_FALSE(gtk_tree_view_get_headers_visible(view(names)));
    EXPECT_TRUE(gtk_tree_view_get_rules_hint(view(names)));
    EXPECT_EQ(gtk_tree_view_get_search_column(view(names)), 1);
    EXPECT_EQ(gtk_tree_model_get_column_type(model(names), 0), G_TYPE_BOOLEAN);
    EXPECT_EQ(gtk_tree_model_get_column_type(model(names), 2), G_TYPE_STRING);
    names.setHeaderVisible(true);
    EXPECT_TRUE(gtk_tree_view_get_headers_visible(view(names)));

    ListBox single;
    single.create(window, 0, 100, 150, 100, "Name");
    EXPECT_EQ(columnCount(single), 2);
    EXPECT_FALSE(gtk_tree_view_get_rules_hint(view(single)));

    ListBox empty;
    empty.create(window, 150, 0, 150, 100, "");
    EXPECT_EQ(columnCount(empty), 2);
    EXPECT_STREQ(header(empty, 1), "");

    ListBox trailing;
    trailing.create(window, 150, 100, 150, 100, "A\t");
    EXPECT_EQ(columnCount(trailing), 3);
    EXPECT_STREQ(header(trailing, 1), "A");
    EXPECT_STREQ(header(trailing, 2), "");
}

TEST_F(Lists, rows_take_their_cells_from_tab_separated_text) {
    ListBox list;
    list.create(window, 0, 0, 200, 150, "A\t");
    list.addItem("x\ty");
    list.addItem("x");
    list.addItem("");
    list.addItem("p\tq\textra\tmore"); // cells beyond the columns are dropped, without GTK's complaints
    ASSERT_EQ(rows(list), 4);
    EXPECT_EQ(cell(list, 0, 1), "x");
    EXPECT_EQ(cell(list, 0, 2), "y");
    EXPECT_FALSE(list.checked(0));
    EXPECT_EQ(cell(list, 1, 1), "x");
    EXPECT_EQ(cell(list, 1, 2), "(null)");
    EXPECT_EQ(cell(list, 2, 1), "");
    EXPECT_EQ(cell(list, 3, 2), "q");

    list.setChecked(0, true);
    list.modifyItem(0, "z");
    EXPECT_EQ(cell(list, 0, 1), "z");
    EXPECT_EQ(cell(list, 0, 2), "y");
    EXPECT_TRUE(list.checked(0));
    EXPECT_FALSE(list.checked(1));
}

TEST_F(Lists, rows_that_do_not_exist_are_left_alone) {
    ListBox list;
    list.create(window, 0, 0, 200, 150, "A\tB");
    list.addItem("a\tb");
    list.addItem("c\td");
    list.setSelection(1);
    for (unsigned row : {2u, 7u, 2147483647u, 2147483648u, 4294967295u}) {
        list.modifyItem(row, "no\tsuch");
        list.setChecked(row, true);
        EXPECT_FALSE(list.checked(row));
    }
    EXPECT_EQ(rows(list), 2);
    EXPECT_EQ(cell(list, 1, 1), "c");
    EXPECT_FALSE(list.checked(1));

    list.setSelection(2); // the list has only two rows: nothing stays selected
    EXPECT_FALSE(list.selection().has_value());
    list.setSelection(4294967295u);
    EXPECT_FALSE(list.selection().has_value());
    list.setSelection(1);
    ASSERT_TRUE(list.selection().has_value());
    EXPECT_EQ(*list.selection(), 1u);
}

TEST_F(Lists, click_on_a_check_box_flips_it_and_reports_its_row) {
    ListBox list;
    list.setCheckable(true);
    list.create(window, 10, 10, 250, 200, "Name\tSize");
    EXPECT_TRUE(gtk_tree_view_column_get_visible(column(list, 0)));
    for (const char *row : {"a\t1", "b\t2", "c\t3", "d\t4", "e\t5"})
        list.addItem(row);
    std::vector<unsigned> toggled;
    std::vector<bool> seenChecked; // the row's state as the callback sees it: already flipped
    list.onToggle = [&](unsigned row) {
        toggled.push_back(row);
        seenChecked.push_back(list.checked(row));
    };
    ASSERT_TRUE(support::showWindow(window));

    support::clickAt(support::cellCenter(view(list), 3, column(list, 0)));
    ASSERT_TRUE(support::pumpUntil([&] { return toggled.size() == 1; }));
    EXPECT_EQ(toggled[0], 3u);
    EXPECT_TRUE(list.checked(3));
    EXPECT_FALSE(list.checked(2));
    EXPECT_FALSE(list.checked(4));

    support::clickAt(support::cellCenter(view(list), 3, column(list, 0)));
    ASSERT_TRUE(support::pumpUntil([&] { return toggled.size() == 2; }));
    EXPECT_FALSE(list.checked(3));
    EXPECT_EQ(toggled, (std::vector<unsigned>{3, 3}));
    EXPECT_EQ(seenChecked, (std::vector<bool>{true, false}));

    list.setChecked(3, true);
    support::pumpFor(30);
    EXPECT_EQ(toggled.size(), 2u);
    EXPECT_TRUE(list.checked(3));

    list.setCheckable(false);
    EXPECT_FALSE(gtk_tree_view_column_get_visible(column(list, 0)));
}

TEST_F(Lists, user_selection_reports_changes_and_every_activation) {
    ListBox list;
    list.create(window, 10, 10, 250, 200, "Name");
    for (const char *row : {"zero", "one", "two"})
        list.addItem(row);
    int changes = 0, activations = 0;
    list.onChange = [&] { changes++; };
    list.onActivate = [&] { activations++; };
    ASSERT_TRUE(support::showWindow(window));

    support::clickAt(rowPoint(list, 0));
    ASSERT_TRUE(support::pumpUntil([&] { return changes == 1; }));
    EXPECT_EQ(*list.selection(), 0u);
    support::clickAt(rowPoint(list, 1));
    ASSERT_TRUE(support::pumpUntil([&] { return changes == 2; }));
    EXPECT_EQ(*list.selection(), 1u);
    pastDoubleClickTime();
    support::clickAt(rowPoint(list, 1)); // the cursor stays on the row already reported
    support::pumpFor(30);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(activations, 0);

    pastDoubleClickTime();
    support::doubleClickAt(rowPoint(list, 1));
    ASSERT_TRUE(support::pumpUntil([&] { return activations == 1; }));
    EXPECT_EQ(changes, 2);

    // Keyboard: Down moves the selection, Enter activates.
    support::pressKey(XK_Down);
    ASSERT_TRUE(support::pumpUntil([&] { return changes == 3; }));
    EXPECT_EQ(*list.selection(), 2u);
    support::pressKey(XK_Return);
    ASSERT_TRUE(support::pumpUntil([&] { return activations == 2; }));

    // A selection set by the program is not reported, and not remembered as reported either: the user
    // then choosing that row still reports it.
    list.setSelection(0);
    support::pumpFor(30);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(*list.selection(), 0u);
    pastDoubleClickTime();
    support::clickAt(rowPoint(list, 0));
    ASSERT_TRUE(support::pumpUntil([&] { return changes == 4; }));
    EXPECT_EQ(*list.selection(), 0u);
    EXPECT_EQ(activations, 2);
}

TEST_F(Lists, reset_empties_the_list_and_the_next_selection_reports) {
    ListBox list;
    list.create(window, 10, 10, 200, 80, "Name");
    for (int i = 0; i < 3; i++)
        list.addItem("row");
    int changes = 0;
    list.onChange = [&] { changes++; };
    ASSERT_TRUE(support::showWindow(window));
    support::clickAt(rowPoint(list, 0));
    ASSERT_TRUE(support::pumpUntil([&] { return changes == 1; }));

    list.reset();
    support::settle();
    EXPECT_EQ(rows(list), 0);
    EXPECT_FALSE(list.selection().has_value());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(columnCount(list), 2);

    list.addItem("again");
    list.addItem("more");
    pastDoubleClickTime();
    support::clickAt(rowPoint(list, 0)); // row 0 was the last one reported before the reset
    ASSERT_TRUE(support::pumpUntil([&] { return changes == 2; }));
    EXPECT_EQ(*list.selection(), 0u);
}

TEST_F(Lists, font_reaches_rows_and_headers_and_focus_is_the_tree_views) {
    Font font;
    font.create("Serif", 13, Font::Bold);
    window.setDefaultFont(font);
    ListBox list;
    list.create(window, 10, 10, 200, 100, "One\tTwo");
    list.addItem("a\tb");
    ListBox other;
    other.create(window, 10, 120, 200, 100, "Other");
    ASSERT_TRUE(support::showWindow(window));
    for (int number : {0, 1, 2}) {
        GtkWidget *label = gtk_tree_view_column_get_widget(column(list, number));
        EXPECT_EQ(pango_font_description_get_size(label->style->font_desc), 13 * PANGO_SCALE)
            << "header " << number;
    }
    EXPECT_EQ(pango_font_description_get_size(GTK_WIDGET(view(list))->style->font_desc), 13 * PANGO_SCALE);
    EXPECT_EQ(pango_font_description_get_weight(GTK_WIDGET(view(list))->style->font_desc), PANGO_WEIGHT_BOLD);

    list.setFocused();
    support::settle();
    EXPECT_TRUE(list.focused());
    EXPECT_FALSE(other.focused());
    other.setFocused();
    support::settle();
    EXPECT_FALSE(list.focused());
    EXPECT_TRUE(other.focused());
}

} // namespace
