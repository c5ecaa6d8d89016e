#pragma once

// Shared by the toolkit's own units (and white-box tests) only: the GTK handles behind the public classes,
// font application, and the pieces every control's create() is built from. Public headers stay free of GTK.

#include <gtk/gtk.h>

#include "rudd/function.h"

#include "tamber/font.h"
#include "tamber/object.h"
#include "tamber/verify.h"

namespace tamber {

class Menu;

// One record per toolkit object; each kind uses only its own fields, the rest stay empty (false, null, 0).
struct ObjectState {
    bool locked = false;            // the toolkit itself is changing the value: change handlers stay silent
    GtkWidget *widget = nullptr;    // the main GTK widget: GtkWindow, the control, or the menu item
    GtkWidget *subWidget = nullptr; // ListBox, EditBox: the tree or text view inside the scrolled window
    GtkWidget *layoutBox = nullptr; // Window: the vertical box filling the window
    GtkWidget *formContainer = nullptr;   // Window: the GtkFixed that holds the controls
    GtkWidget *statusContainer = nullptr; // Window: the event box around the status bar
    GtkWidget *menuContainer = nullptr;   // Window: its GtkMenuBar; Menu: its GtkMenu
    GtkWidget *statusBar = nullptr;       // Window: the GtkStatusbar
    Menu *parentMenu = nullptr;           // radio menu items: the menu their group was added to
    Window *parentWindow = nullptr;       // RadioBox: the window of its group
    GtkTextBuffer *textBuffer = nullptr;  // EditBox: the text view's buffer
    int32_t position = 0;                 // sliders: the last position reported to the callback
};

struct FontState {
    PangoFontDescription *description = nullptr; // owned; null until Font::create
};

// The one door from a toolkit unit into another object's private records.
struct Internal {
    static ObjectState &state(Object &object) { return *object.state; }
    static Window *&parent(Widget &widget) { return widget.parent; }
    static Font *defaultFont(Window &window) { return window.defaultFont; }
    static PangoFontDescription *description(Font &font) { return font.fontState->description; }
};

// The silent half of the locked rule: held around a GTK call by which the toolkit itself changes the
// object's value, so the "changed"/"toggled" handlers it sets off report nothing.
class SilentChange {
public:
    explicit SilentChange(ObjectState &state) : state(state) { state.locked = true; }
    ~SilentChange() { state.locked = false; }
    SilentChange(const SilentChange &) = delete;
    SilentChange &operator=(const SilentChange &) = delete;

private:
    ObjectState &state;
};

// The handlers' half: calls the change callback when it is bound, unless a SilentChange is held on the
// object, so change callbacks report only the user's changes.
inline void reportChange(Object &object, const rudd::function<void()> &callback) {
    if (!Internal::state(object).locked && callback)
        callback();
}

// The GtkWindow of a dialog's parent: none for Window::noParent (compared by address).
GtkWindow *parentWindowOf(Window &parent);

// Sets the font on the widget and on every widget below it. A null description is handed to GTK as is,
// which drops earlier font changes.
void applyFont(GtkWidget *widget, PangoFontDescription *description);
// As applyFont, but leaves everything alone when the description is null.
inline void applyFontIfSet(GtkWidget *widget, PangoFontDescription *description) {
    if (description)
        applyFont(widget, description);
}

// Connects a GTK signal by the toolkit's convention: swapped, the toolkit object as the handler's first
// argument, no destroy notifier.
inline gulong connectSignal(gpointer instance, const char *signal, GCallback handler, Object *object) {
    return g_signal_connect_data(instance, signal, handler, object, nullptr, G_CONNECT_SWAPPED);
}

// The last steps of placing a control, after its widget, parent, size request and signals are set: a text
// control (takesFont) gets the window's default font through its own virtual setFont; then the widget is
// put into the window's form at (x, y) and shown.
enum class TakesFont : bool { No = false, Yes = true };
void placeControl(Widget &control, Window &window, unsigned x, unsigned y, TakesFont takesFont);

// The first steps of a scrolled control (edit box, list box): its widget is a scrolled window with
// automatic scroll bars and an etched frame, sized as asked; the caller adds the inner view.
void beginScrolledControl(Widget &control, Window &window, unsigned width, unsigned height);

// Makes the GTK widget report dropped files to the owner's onDrop (tamber/drop.cpp). Window::create and
// placeControl call it, for a scrolled control on its inner view, so every widget can take files.
void acceptDrops(Widget &owner, GtkWidget *widget);

// Ends a program that goes on to use the toolkit although start-up found no display, as GTK's own
// start-up would have ended it: one line on stderr naming the display, exit status 1. Every operation
// that can come first in a program (creating a window, a dialog, the event loop) asks it.
void requireDisplay();

} // namespace tamber
