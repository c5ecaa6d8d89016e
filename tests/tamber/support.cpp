#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

#include "tamber/toolkit.h"

namespace support {

namespace {

int warnings = 0;

Display *display() {
    return gdk_x11_get_default_xdisplay();
}

void logHandler(const gchar *domain, GLogLevelFlags level, const gchar *message, gpointer) {
    if (!(level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)))
        return;
    fprintf(stderr, "[%s] %s\n", domain ? domain : "glib", message);
    // The file chooser records chosen files in the user's data folder, which a bare CI home may lack;
    // that is the machine's state, not a fault of the code under test.
    if (strstr(message, "recently-used.xbel"))
        return;
    warnings++;
}

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(tamber::Toolkit::ready()) << "no X display: GUI tests need one (tools/with-xvfb.sh)";
        g_log_set_default_handler(logHandler, nullptr);
        for (const char *domain : {"Gtk", "Gdk", "GLib", "GLib-GObject", "Pango", "GdkPixbuf", "GLib-GIO"})
            g_log_set_handler(domain,
                              GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
                              logHandler, nullptr);
        int event = 0, error = 0, major = 0, minor = 0;
        ASSERT_TRUE(XTestQueryExtension(display(), &event, &error, &major, &minor))
            << "the X server lacks XTest";
    }
};

::testing::Environment *const environment = ::testing::AddGlobalTestEnvironment(new Environment);

struct Answer {
    std::function<bool(GtkWidget *)> action;
    gint64 deadline = 0;
    bool found = false;
    bool done = false;
};

Answer currentAnswer;
guint pollSource = 0; // the poll of the current answer while it runs

void collectTreeViews(GtkWidget *widget, gpointer data) {
    if (GTK_IS_TREE_VIEW(widget))
        static_cast<std::vector<GtkTreeView *> *>(data)->push_back(GTK_TREE_VIEW(widget));
    else if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), collectTreeViews, data);
}

// Whether a file chooser has put its folder's listing into its file list (a message box always has).
// GTK 2.24's chooser leaves a timer for that step running when it is destroyed; should the chooser live on
// a little (its pending look-ups hold it) the timer later works on the freed file list and the program
// crashes. A user's answer comes long after the listing; the tests' answers wait for it too.
bool listed(GtkWidget *dialog) {
    if (!GTK_IS_FILE_CHOOSER(dialog))
        return true;
    std::vector<GtkTreeView *> views;
    gtk_container_forall(GTK_CONTAINER(dialog), collectTreeViews, &views);
    for (GtkTreeView *view : views)
        if (!gtk_tree_view_get_model(view))
            return false;
    return !views.empty();
}

gboolean pollDialog(gpointer) {
    Answer &answer = currentAnswer;
    GtkWidget *dialog = liveDialog();
    bool ready =
        dialog && gtk_widget_get_mapped(dialog) && gdk_window_is_viewable(dialog->window) && listed(dialog);
    if (ready) {
        answer.found = true;
        if (!answer.done && answer.action(dialog))
            answer.done = true;
    }
    // Keep watching after the answer until the dialog is gone, so an answer that did not take cannot
    // leave the test hanging in the dialog's loop.
    if (answer.done && !dialog) {
        pollSource = 0;
        return FALSE;
    }
    if (g_get_monotonic_time() > answer.deadline) {
        if (!answer.found)
            ADD_FAILURE() << "no dialog showed up (or a file chooser never listed its folder)";
        else if (!answer.done)
            ADD_FAILURE() << "the dialog's answer did not complete";
        else
            ADD_FAILURE() << "the dialog stayed open after its answer";
        if (dialog)
            gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
        pollSource = 0;
        return FALSE;
    }
    return TRUE;
}

void collectDialog(gpointer data, gpointer result) {
    GtkWidget *widget = GTK_WIDGET(data);
    if (GTK_IS_DIALOG(widget) && gtk_widget_get_visible(widget))
        *static_cast<GtkWidget **>(result) = widget;
}

void center(GtkWidget *widget, int &x, int &y) {
    GtkWidget *toplevel = gtk_widget_get_toplevel(widget);
    gint dx = 0, dy = 0, ox = 0, oy = 0;
    gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &dx, &dy);
    gdk_window_get_origin(toplevel->window, &ox, &oy);
    x = ox + dx + widget->allocation.width / 2;
    y = oy + dy + widget->allocation.height / 2;
}

} // namespace

void ToolkitTest::SetUp() {
    settle();
    warningsBefore = warnings;
}

void ToolkitTest::TearDown() {
    settle();
    EXPECT_EQ(warnings, warningsBefore) << "GTK logged warnings during the test (see stderr)";
}

void WindowTest::SetUp() {
    ToolkitTest::SetUp();
    window.create(x, y, width, height, title);
}

void WindowTest::TearDown() {
    window.setVisible(false);
    ToolkitTest::TearDown();
}

GtkWidget *widgetOf(tamber::Object &object) {
    return tamber::Internal::state(object).widget;
}

tamber::ObjectState &stateOf(tamber::Object &object) {
    return tamber::Internal::state(object);
}

bool pumpUntil(const std::function<bool()> &condition, int timeoutMs) {
    gint64 deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    for (;;) {
        XFlush(display());
        while (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
        if (condition())
            return true;
        if (g_get_monotonic_time() > deadline)
            return false;
        g_usleep(1000);
    }
}

void pumpFor(int milliseconds) {
    pumpUntil([] { return false; }, milliseconds);
}

void settle() {
    for (int round = 0; round < 3; round++) {
        gdk_flush();
        XSync(display(), False);
        while (gtk_events_pending())
            gtk_main_iteration_do(FALSE);
    }
}

bool waitMapped(GtkWidget *toplevel) {
    bool mapped = pumpUntil([toplevel] {
        return gtk_widget_get_mapped(toplevel) && toplevel->window &&
               gdk_window_is_viewable(toplevel->window) && toplevel->allocation.width > 1;
    });
    settle();
    return mapped;
}

bool showWindow(tamber::Window &window) {
    window.setVisible(true);
    return waitMapped(widgetOf(window));
}

void movePointerNow(GtkWidget *widget) {
    int x = 0, y = 0;
    center(widget, x, y);
    XTestFakeMotionEvent(display(), -1, x, y, CurrentTime);
    XSync(display(), False);
}

void movePointerTo(GtkWidget *widget) {
    movePointerNow(widget);
    settle();
}

void clickNow(GtkWidget *widget, unsigned button) {
    int x = 0, y = 0;
    center(widget, x, y);
    XTestFakeMotionEvent(display(), -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display(), button, True, CurrentTime);
    XTestFakeButtonEvent(display(), button, False, CurrentTime);
    XSync(display(), False);
}

void click(GtkWidget *widget, unsigned button) {
    clickNow(widget, button);
    settle();
}

namespace {

void sendKey(unsigned long key, bool shift, bool control) {
    Display *d = display();
    KeyCode code = XKeysymToKeycode(d, key);
    KeyCode shiftCode = XKeysymToKeycode(d, XK_Shift_L);
    KeyCode controlCode = XKeysymToKeycode(d, XK_Control_L);
    if (control)
        XTestFakeKeyEvent(d, controlCode, True, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(d, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(d, shiftCode, False, CurrentTime);
    if (control)
        XTestFakeKeyEvent(d, controlCode, False, CurrentTime);
    XSync(d, False);
}

} // namespace

void pressKeyNow(unsigned long key, bool control) {
    sendKey(key, false, control);
}

void pressKey(unsigned long key, bool control) {
    sendKey(key, false, control);
    settle();
}

void typeText(const char *text) {
    Display *d = display();
    for (const char *c = text; *c; c++) {
        KeySym key = static_cast<unsigned char>(*c);
        if (*c == ' ')
            key = XK_space;
        KeyCode code = XKeysymToKeycode(d, key);
        // A character that is not the key's plain symbol needs Shift (capitals, most punctuation).
        bool shift = XkbKeycodeToKeysym(d, code, 0, 0) != key;
        sendKey(key, shift, false);
    }
    settle();
}

void sendCloseRequest(GtkWidget *toplevel) {
    Display *d = display();
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = GDK_WINDOW_XID(toplevel->window);
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, event.xclient.window, False, NoEventMask, &event);
    XSync(d, False);
}

GtkWidget *liveDialog() {
    GList *toplevels = gtk_window_list_toplevels();
    GtkWidget *dialog = nullptr;
    g_list_foreach(toplevels, collectDialog, &dialog);
    g_list_free(toplevels);
    return dialog;
}

GtkWidget *dialogButton(GtkWidget *dialog, gint response) {
    return gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), response);
}

void answerDialog(std::function<bool(GtkWidget *dialog)> action, int timeoutMs) {
    // An earlier answer whose dialog never came must not act on this one.
    if (pollSource)
        g_source_remove(pollSource);
    currentAnswer = Answer();
    currentAnswer.action = std::move(action);
    currentAnswer.deadline = g_get_monotonic_time() + gint64(timeoutMs) * 1000;
    pollSource = g_timeout_add(20, pollDialog, nullptr);
}

bool dialogAnswered() {
    return currentAnswer.done;
}

int screenWidth() {
    return DisplayWidth(display(), DefaultScreen(display()));
}

int screenHeight() {
    return DisplayHeight(display(), DefaultScreen(display()));
}

int loggedWarnings() {
    return warnings;
}

} // namespace support
