#pragma once

#include "tamber/object.h"

namespace tamber {

class Menu;

// Base of every menu entry. Entries are not widgets: they have no geometry or focus of their own and take
// the font of their parent (the window's default font, or the parent menu's) when they are created. An
// entry is created once and stays in its menu until the program ends.
class Action : public Object {
public:
    Action();

    bool visible();
    void setVisible(bool visible);
    bool enabled();
    void setEnabled(bool enabled);

protected:
    friend struct MenuAccess;
    Font *font = nullptr; // borrowed from the parent at create(); null when the parent has none
};

// A menu: an entry of a window's menu bar or of another menu, with a drop-down list of entries of its own.
// The window's menu bar stays hidden until Window::setMenuVisible(true).
class Menu : public Action {
public:
    void create(Window &parent, const rudd::string &text);
    void create(Menu &parent, const rudd::string &text);
};

class MenuItem : public Action {
public:
    void create(Menu &parent, const rudd::string &text);

    rudd::function<void()> onActivate; // the user chose the entry
};

class SeparatorMenuItem : public Action {
public:
    void create(Menu &parent);
};

// A menu entry with a check mark. onToggle reports the user's changes in both directions; setChecked
// stays silent.
class CheckMenuItem : public Action {
public:
    void create(Menu &parent, const rudd::string &text);
    bool checked();
    void setChecked(bool checked);

    rudd::function<void()> onToggle;
};

// A menu entry of a radio group: the first item, created in a menu, starts a group; items created from a
// sibling join its group and its menu. onToggle runs only on the item the user just chose.
class RadioMenuItem : public Action {
public:
    void create(Menu &parent, const rudd::string &text);
    void create(RadioMenuItem &sibling, const rudd::string &text);
    bool checked();
    // Checks this item (and so unchecks the group's other one) without calling any callback.
    void setChecked();

    rudd::function<void()> onToggle;
    RadioMenuItem *group = nullptr; // borrowed: the first item of the group (itself for the first)
};

} // namespace tamber
