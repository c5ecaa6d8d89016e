#pragma once

#include <cstdint>

#include "rudd/function.h"
#include "rudd/string.h"

// The toolkit's object model: Object, Widget and Window.
//
// How a control unit is written (tamber/label.cpp and tamber/radiobox.cpp are the models):
// - The constructor only sets fields (every callback empty); GTK widgets are made in create(), once.
// - create(Window &parent, x, y, width, height, ...) runs, in order: make the GTK widget and store it in
//   state->widget (and subWidget for scrolled kinds); parent = &parent; class-specific set-up that must
//   not reach a callback (initial text, alignment); gtk_widget_set_size_request; connect the signals;
//   then placeControl(*this, parent, x, y, takesFont) from tamber/internal.h, which gives a text control
//   the window's default font through its virtual setFont, puts it into the form and shows it.
// - Signals are connected with connectSignal(instance, "signal", G_CALLBACK(handler), this) from
//   tamber/internal.h: g_signal_connect_data, swapped, so each handler receives the toolkit object first.
//   A handler calls a callback holder only when it is bound.
// - The locked rule: an operation that changes the value itself holds a SilentChange (tamber/internal.h)
//   around the GTK call; "changed"/"toggled" handlers call back through reportChange, which stays silent
//   meanwhile, so change callbacks report only the user's changes. Action signals ("clicked", "activate")
//   ignore it.
// - Other units reach an object's private records through Internal (tamber/internal.h), e.g.
//   Internal::state(window).formContainer or Internal::defaultFont(window).

namespace tamber {

class Font;
class Window;
struct ObjectState;

struct Geometry {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// The root of every toolkit class. Its constructor starts the toolkit (once) and allocates the object's
// state record. Toolkit objects are static objects or members and are never copied or deleted through a
// base pointer, so there is no virtual destructor.
class Object {
public:
    Object();
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;

    virtual void reserved();

protected:
    friend struct Internal;
    // Never released, like the GTK widgets it names: both live until the process ends.
    ObjectState *state;
};

// Anything placed in a window. The toolkit never destroys its GTK widgets: a window is hidden on close and
// can be shown again, and a control lives as long as its window, so the GTK handles stay valid for the
// whole run and destructors release only the callback holders.
class Widget : public Object {
public:
    Widget();

    bool visible();
    void setVisible(bool visible);
    bool enabled();
    void setEnabled(bool enabled);

    // Applies the font to the widget and everything inside it.
    virtual void setFont(Font &font);
    virtual bool focused();
    // Shows a hidden widget first, then gives it the focus.
    virtual void setFocused();
    // Moves and resizes a control within its window's form; does nothing before create().
    virtual void setGeometry(int32_t x, int32_t y, int32_t width, int32_t height);

    // Files dropped on the widget (from a file manager), as local file names with the file system's
    // bytes; URIs naming no file of this machine are left out, and a drop without any calls nothing.
    // While it is empty, and for drops of plain text, GTK's behaviour stays (an edit box takes dropped
    // text). A window gets the files dropped on its parts that neither ask for files themselves nor take
    // text as GTK makes them (labels, buttons, the bare form).
    rudd::function<void(const rudd::string_list &files)> onDrop;

protected:
    friend struct Internal;
    Window *parent = nullptr; // borrowed: the window the control was created in; null for a Window
};

// A top-level window of fixed size: a hidden menu bar, the form area in which controls sit at pixel
// positions, and a hidden status bar. Its width and height are those of the form area.
class Window : public Widget {
public:
    Window();

    // Builds the window's widget tree; the window stays hidden until setVisible(true).
    void create(int32_t x, int32_t y, int32_t width, int32_t height, const rudd::string &text);
    // The window's position and the requested form size (not a measured allocation).
    Geometry geometry();
    // Moves the window and sets its form size; does nothing before create().
    void setGeometry(int32_t x, int32_t y, int32_t width, int32_t height) override;
    // Only controls created afterwards receive the font; the font must outlive the window's use of it.
    void setDefaultFont(Font &font);
    // Applies the font to the status bar only.
    void setFont(Font &font) override;
    bool focused() override;
    void setFocused() override;
    void setTitle(const rudd::string &text);
    // The status bar shows only the latest text.
    void setStatusText(const rudd::string &text);
    void setMenuVisible(bool visible);
    void setStatusVisible(bool visible);
    void setBackgroundColor(uint8_t red, uint8_t green, uint8_t blue);

    // Asked when the user closes the window. Empty or returning true hides the window; false keeps it
    // open. The window is never destroyed, and hiding it does not end the event loop.
    rudd::function<bool()> onClose;

    // Stands for "no parent window" in the dialogs; it is never created.
    static Window noParent;

protected:
    friend struct Internal;
    Font *defaultFont = nullptr; // borrowed
};

} // namespace tamber
