// Menus: entries chosen by real clicks through the shown menu bar, check and radio state, inherited fonts.

#include "support.h"

#include "tamber/font.h"
#include "tamber/menu.h"

using namespace tamber;
using support::widgetOf;

namespace {

class Menus : public support::WindowTest {
protected:
    Menus() : WindowTest(40, 40, 240, 160, "menus") {}

    // Opens the menu from the menu bar, as a user would.
    static void open(Menu &menu, Action &entry) {
        GtkWidget *popup = support::stateOf(menu).menuContainer;
        support::click(widgetOf(menu));
        ASSERT_TRUE(support::pumpUntil([&] {
            return gtk_widget_get_mapped(popup) && widgetOf(entry)->allocation.width > 1;
        })) << "the menu did not open";
        support::settle();
    }
    // Opens the menu and clicks the entry; choosing it closes the menu.
    static void choose(Menu &menu, Action &entry) {
        open(menu, entry);
        support::click(widgetOf(entry));
        GtkWidget *popup = support::stateOf(menu).menuContainer;
        ASSERT_TRUE(support::pumpUntil([&] { return !gtk_widget_get_mapped(popup); }))
            << "the menu did not close";
    }
};

TEST_F(Menus, menu_bar_stays_hidden_until_shown_and_clicks_activate_items) {
    Menu file;
    file.create(window, "File");
    MenuItem open, quiet;
    SeparatorMenuItem separator;
    open.create(file, "Open");
    separator.create(file);
    quiet.create(file, "Nothing bound");
    int opened = 0;
    open.onActivate = [&] { opened++; };
    GtkWidget *bar = support::stateOf(window).menuContainer;
    EXPECT_EQ(gtk_widget_get_parent(widgetOf(file)), bar);
    EXPECT_EQ(gtk_menu_item_get_submenu(GTK_MENU_ITEM(widgetOf(file))), support::stateOf(file).menuContainer);
    EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(widgetOf(separator)));

    ASSERT_TRUE(support::showWindow(window));
    EXPECT_FALSE(gtk_widget_get_mapped(bar)) << "menus alone must not show the menu bar";
    window.setMenuVisible(true);
    ASSERT_TRUE(support::pumpUntil(
        [&] { return gtk_widget_get_mapped(widgetOf(file)) && widgetOf(file)->allocation.width > 1; }));

    choose(file, open);
    EXPECT_TRUE(support::pumpUntil([&] { return opened == 1; }));
    choose(file, quiet); // an empty onActivate does nothing
    choose(file, open);
    EXPECT_TRUE(support::pumpUntil([&] { return opened == 2; }));

    open.setEnabled(false);
    EXPECT_FALSE(open.enabled());
    Menus::open(file, open); // a disabled entry cannot be chosen; the menu is closed with Escape
    support::click(widgetOf(open));
    support::pumpFor(30);
    EXPECT_TRUE(gtk_widget_get_mapped(support::stateOf(file).menuContainer));
    support::pressKey(XK_Escape);
    support::pumpFor(30);
    EXPECT_EQ(opened, 2);
}

TEST_F(Menus, check_item_reports_each_click_but_not_set_checked) {
    Menu view;
    view.create(window, "View");
    CheckMenuItem grid;
    grid.create(view, "Grid");
    std::vector<bool> seen;
    grid.onToggle = [&] { seen.push_back(grid.checked()); };
    window.setMenuVisible(true);
    ASSERT_TRUE(support::showWindow(window));

    grid.setChecked(true);
    EXPECT_TRUE(grid.checked());
    EXPECT_TRUE(seen.empty());
    choose(view, grid);
    ASSERT_TRUE(support::pumpUntil([&] { return seen.size() == 1; }));
    choose(view, grid);
    ASSERT_TRUE(support::pumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
    grid.setChecked(false);
    support::pumpFor(30);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(Menus, radio_items_report_only_the_newly_chosen_one) {
    Menu mode;
    mode.create(window, "Mode");
    RadioMenuItem first, second, third;
    first.create(mode, "First");
    second.create(first, "Second");
    third.create(second, "Third");
    EXPECT_EQ(second.group, &first);
    EXPECT_EQ(third.group, &first);
    EXPECT_EQ(support::stateOf(third).parentMenu, &mode);
    EXPECT_EQ(gtk_widget_get_parent(widgetOf(third)), support::stateOf(mode).menuContainer);
    EXPECT_TRUE(first.checked());
    EXPECT_FALSE(second.checked());

    int firstToggles = 0, secondToggles = 0, thirdToggles = 0;
    first.onToggle = [&] { firstToggles++; };
    second.onToggle = [&] { secondToggles++; };
    third.onToggle = [&] { thirdToggles++; };
    window.setMenuVisible(true);
    ASSERT_TRUE(support::showWindow(window));

    choose(mode, second);
    ASSERT_TRUE(support::pumpUntil([&] { return secondToggles == 1; }));
    EXPECT_TRUE(second.checked());
    EXPECT_FALSE(first.checked());
    choose(mode, second); // already checked: stays so, reports nothing
    support::pumpFor(30);
    EXPECT_TRUE(second.checked());

    third.setChecked();
    EXPECT_TRUE(third.checked());
    EXPECT_FALSE(second.checked());
    support::pumpFor(30);
    EXPECT_EQ(firstToggles, 0);
    EXPECT_EQ(secondToggles, 1);
    EXPECT_EQ(thirdToggles, 0);

    choose(mode, first);
    ASSERT_TRUE(support::pumpUntil([&] { return firstToggles == 1; }));
    EXPECT_EQ(thirdToggles, 0);
}

// An entry's font is set on its label; GTK resolves it into the label's style once the menu is shown.
TEST_F(Menus, entries_take_the_font_of_their_parent_down_through_submenus) {
    Menu plain;
    plain.create(window, "Plain");
    MenuItem plainItem;
    plainItem.create(plain, "Item");

    Font font;
    font.create("Serif", 15, Font::Oblique);
    window.setDefaultFont(font);
    Menu styled, submenu;
    styled.create(window, "Styled");
    submenu.create(styled, "More");
    MenuItem deep;
    CheckMenuItem check;
    RadioMenuItem radio, sibling;
    deep.create(submenu, "Deep");
    check.create(submenu, "Check");
    radio.create(submenu, "Radio");
    sibling.create(radio, "Sibling");

    Font empty; // never created: it has no description and leaves the theme font alone
    Window other;
    other.create(0, 0, 100, 100, "other");
    other.setDefaultFont(empty);
    Menu bare;
    bare.create(other, "Bare");
    MenuItem bareItem;
    bareItem.create(bare, "Item");

    auto labelFont = [](Action &entry) {
        return gtk_widget_get_modifier_style(gtk_bin_get_child(GTK_BIN(widgetOf(entry))))->font_desc;
    };
    EXPECT_EQ(labelFont(plain), nullptr);
    EXPECT_EQ(labelFont(plainItem), nullptr);
    EXPECT_EQ(labelFont(bare), nullptr);
    EXPECT_EQ(labelFont(bareItem), nullptr);
    for (Action *entry :
         std::initializer_list<Action *>{&styled, &submenu, &deep, &check, &radio, &sibling}) {
        PangoFontDescription *shown = labelFont(*entry);
        ASSERT_NE(shown, nullptr);
        EXPECT_STREQ(pango_font_description_get_family(shown), "Serif");
        EXPECT_EQ(pango_font_description_get_size(shown), 15 * PANGO_SCALE);
        EXPECT_EQ(pango_font_description_get_style(shown), PANGO_STYLE_OBLIQUE);
    }
}

} // namespace
