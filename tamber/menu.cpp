#include "tamber/menu.h"

#include "tamber/internal.h"

namespace tamber {

// The menu classes read each other's inherited font.
struct MenuAccess {
    static Font *&font(Action &action) { return action.font; }
};

namespace {

GtkMenuShell *menuShellOf(Object &object) {
    return GTK_MENU_SHELL(Internal::state(object).menuContainer);
}

// The common tail of every create: the entry takes its font (when it has one with a description), joins
// its menu shell and is shown.
void placeEntry(Action &entry, GtkMenuShell *shell) {
    GtkWidget *widget = Internal::state(entry).widget;
    if (Font *font = MenuAccess::font(entry))
        applyFontIfSet(widget, Internal::description(*font));
    gtk_menu_shell_append(shell, widget);
    gtk_widget_show(widget);
}

void menuItemActivated(MenuItem *item) {
    if (item->onActivate)
        item->onActivate();
}

void checkMenuItemToggled(CheckMenuItem *item) {
    reportChange(*item, item->onToggle);
}

// GTK emits "toggled" on the item losing the check too; only the one gaining it reports.
void radioMenuItemToggled(RadioMenuItem *item) {
    if (gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(Internal::state(*item).widget)))
        reportChange(*item, item->onToggle);
}

void createMenu(Menu &menu, GtkMenuShell *shell, const rudd::string &text) {
    ObjectState &state = Internal::state(menu);
    state.widget = gtk_menu_item_new_with_label(text);
    state.menuContainer = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(state.widget), state.menuContainer);
    placeEntry(menu, shell);
}

} // namespace

// Action

Action::Action() {}

bool Action::visible() {
    TAMBER_VERIFY(state->widget, "Action::visible() called before create()");
    return gtk_widget_get_visible(state->widget);
}

void Action::setVisible(bool visible) {
    TAMBER_VERIFY(state->widget, "Action::setVisible() called before create()");
    gtk_widget_set_visible(state->widget, visible);
}

bool Action::enabled() {
    TAMBER_VERIFY(state->widget, "Action::enabled() called before create()");
    return gtk_widget_get_sensitive(state->widget);
}

void Action::setEnabled(bool enabled) {
    TAMBER_VERIFY(state->widget, "Action::setEnabled() called before create()");
    gtk_widget_set_sensitive(state->widget, enabled);
}

// Menu

void Menu::create(Window &parent, const rudd::string &text) {
    font = Internal::defaultFont(parent);
    createMenu(*this, menuShellOf(parent), text);
}

void Menu::create(Menu &parent, const rudd::string &text) {
    font = parent.font;
    createMenu(*this, menuShellOf(parent), text);
}

// MenuItem

void MenuItem::create(Menu &parent, const rudd::string &text) {
    font = MenuAccess::font(parent);
    state->widget = gtk_menu_item_new_with_label(text);
    connectSignal(state->widget, "activate", G_CALLBACK(menuItemActivated), this);
    placeEntry(*this, menuShellOf(parent));
}

// SeparatorMenuItem

void SeparatorMenuItem::create(Menu &parent) {
    font = MenuAccess::font(parent);
    state->widget = gtk_separator_menu_item_new();
    placeEntry(*this, menuShellOf(parent));
}

// CheckMenuItem

void CheckMenuItem::create(Menu &parent, const rudd::string &text) {
    font = MenuAccess::font(parent);
    state->widget = gtk_check_menu_item_new_with_label(text);
    connectSignal(state->widget, "toggled", G_CALLBACK(checkMenuItemToggled), this);
    placeEntry(*this, menuShellOf(parent));
}

bool CheckMenuItem::checked() {
    TAMBER_VERIFY(state->widget, "CheckMenuItem::checked() called before create()");
    return gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(state->widget)) != 0;
}

void CheckMenuItem::setChecked(bool checked) {
    TAMBER_VERIFY(state->widget, "CheckMenuItem::setChecked() called before create()");
    SilentChange silent(*state);
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(state->widget), checked);
}

// RadioMenuItem

void RadioMenuItem::create(Menu &parent, const rudd::string &text) {
    font = MenuAccess::font(parent);
    group = this;
    state->parentMenu = &parent;
    // The handler is connected only now, so the check GTK gives a new group's first item is not reported.
    state->widget = gtk_radio_menu_item_new_with_label(nullptr, text);
    connectSignal(state->widget, "toggled", G_CALLBACK(radioMenuItemToggled), this);
    placeEntry(*this, menuShellOf(parent));
}

void RadioMenuItem::create(RadioMenuItem &sibling, const rudd::string &text) {
    font = sibling.font;
    group = sibling.group;
    state->parentMenu = Internal::state(sibling).parentMenu;
    GtkRadioMenuItem *first = GTK_RADIO_MENU_ITEM(Internal::state(*group).widget);
    state->widget = gtk_radio_menu_item_new_with_label_from_widget(first, text);
    connectSignal(state->widget, "toggled", G_CALLBACK(radioMenuItemToggled), this);
    placeEntry(*this, menuShellOf(*state->parentMenu));
}

bool RadioMenuItem::checked() {
    TAMBER_VERIFY(state->widget, "RadioMenuItem::checked() called before create()");
    return gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(state->widget)) != 0;
}

void RadioMenuItem::setChecked() {
    TAMBER_VERIFY(state->widget, "RadioMenuItem::setChecked() called before create()");
    SilentChange silent(*state);
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(state->widget), TRUE);
}

} // namespace tamber
