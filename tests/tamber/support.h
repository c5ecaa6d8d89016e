#pragma once

// Helpers for the toolkit's tests: they drive real GTK widgets under the private Xvfb server with real
// input (XTest), real close requests and dialogs answered from inside their own modal loop.

#include <functional>

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "tamber/internal.h"
#include "tamber/object.h"

namespace support {

// The main GTK widget of a toolkit object.
GtkWidget *widgetOf(tamber::Object &object);
tamber::ObjectState &stateOf(tamber::Object &object);

// Runs the GTK loop until the condition holds or the time is up; answers whether it held. The time is
// generous on purpose: it only bounds a failing test, and CI runs these under load and sanitizers.
bool pumpUntil(const std::function<bool()> &condition, int timeoutMs = 10000);
// Runs the GTK loop for a while, for "nothing more happens" checks.
void pumpFor(int milliseconds);
// Lets the X server and GTK catch up: flushes requests and handles everything that comes back.
void settle();

// Shows a toolkit window and waits until it is on screen, laid out and drawn.
bool showWindow(tamber::Window &window);
// Waits until a GTK toplevel is viewable and has its size.
bool waitMapped(GtkWidget *toplevel);

// Real pointer and keyboard input through XTest. Keys go to the window under the pointer (there is no
// window manager), so typing into a widget starts with a click on it. The ...Now forms only send the
// input, for use inside a dialog's own loop; the others also let GTK handle it.
void movePointerTo(GtkWidget *widget);
void movePointerNow(GtkWidget *widget);
void click(GtkWidget *widget, unsigned button = 1);
void clickNow(GtkWidget *widget, unsigned button = 1);
void pressKey(unsigned long key, bool control = false);
void pressKeyNow(unsigned long key, bool control = false);
// Types ASCII text key by key.
void typeText(const char *text);
// A WM_DELETE_WINDOW request as a window manager sends it; GTK reports it as "delete-event" once the
// loop runs (the request is only sent, so it may be used inside a dialog's loop).
void sendCloseRequest(GtkWidget *toplevel);

// The visible dialog among GTK's toplevels (file chooser or message box), or null.
GtkWidget *liveDialog();
// The button of a dialog that answers the response.
GtkWidget *dialogButton(GtkWidget *dialog, gint response);

// Answers the next modal dialog from inside its own loop: polls for it (a file chooser until it has listed
// its folder, as GTK's chooser may crash when destroyed before that), then calls the action with it.
// The action returns true once it has done its work (it may be called again while it returns false,
// e.g. to wait for a file chooser to load a folder). A dialog that never shows up fails the test; one
// still open at the timeout (unanswered, or open although answered) fails it too and is closed with
// GTK_RESPONSE_DELETE_EVENT, so a broken test cannot hang.
void answerDialog(std::function<bool(GtkWidget *dialog)> action, int timeoutMs = 10000);
// Whether the last answerDialog found its dialog and finished its action.
bool dialogAnswered();

// The X screen's size, asked of the X server itself.
int screenWidth();
int screenHeight();

// GTK and GLib warnings and criticals seen so far.
int loggedWarnings();

// Base of the toolkit's tests: each test fails when GTK logged a warning or critical during it (a wrong
// cast or a call on a missing widget shows up there).
class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    int warningsBefore = 0;
};

// A toolkit test with one created, hidden window at the given place, hidden again after the test.
class WindowTest : public ToolkitTest {
protected:
    WindowTest(int x, int y, int width, int height, const char *title)
        : x(x), y(y), width(width), height(height), title(title) {}
    void SetUp() override;
    void TearDown() override;

    tamber::Window window;

private:
    int x, y, width, height;
    const char *title;
};

} // namespace support
