#include "tamber/object.h"

#include "tamber/font.h"
#include "tamber/internal.h"
#include "tamber/toolkit.h"

#include <cstdio>
#include <cstdlib>

namespace tamber {

void verifyFailed(const char *file, int line, const char *condition, const char *what) {
    fprintf(stderr, "%s:%d: %s (%s)\n", file, line, what, condition);
    abort();
}

// Object

Object::Object() {
    Toolkit::initialize();
    state = new ObjectState;
}

void Object::reserved() {}

// Widget

Widget::Widget() {}

// A control whose create() made no GTK widget (a slider shorter than two positions) has nothing to act on:
// its operations do nothing rather than hand GTK a null widget.

bool Widget::visible() {
    return state->widget && gtk_widget_get_visible(state->widget);
}

void Widget::setVisible(bool visible) {
    if (!state->widget)
        return;
    if (visible)
        gtk_widget_show(state->widget);
    else
        gtk_widget_hide(state->widget);
}

bool Widget::enabled() {
    return state->widget && gtk_widget_get_sensitive(state->widget);
}

void Widget::setEnabled(bool enabled) {
    if (state->widget)
        gtk_widget_set_sensitive(state->widget, enabled);
}

void Widget::setFont(Font &font) {
    if (state->widget)
        applyFont(state->widget, Internal::description(font));
}

bool Widget::focused() {
    return state->widget && gtk_widget_is_focus(state->widget);
}

void Widget::setFocused() {
    if (!state->widget)
        return;
    if (!gtk_widget_get_visible(state->widget))
        gtk_widget_show(state->widget);
    gtk_widget_grab_focus(state->widget);
}

void Widget::setGeometry(int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!parent)
        return;
    gtk_fixed_move(GTK_FIXED(Internal::state(*parent).formContainer), state->widget, x, y);
    gtk_widget_set_size_request(state->widget, width, height);
}

void placeControl(Widget &control, Window &window, unsigned x, unsigned y, TakesFont takesFont) {
    GtkWidget *widget = Internal::state(control).widget;
    Font *font = Internal::defaultFont(window);
    if (takesFont == TakesFont::Yes && font)
        control.setFont(*font);
    gtk_fixed_put(GTK_FIXED(Internal::state(window).formContainer), widget, static_cast<gint>(x),
                  static_cast<gint>(y));
    ObjectState &state = Internal::state(control);
    acceptDrops(control, state.subWidget ? state.subWidget : widget);
    gtk_widget_show(widget);
}

void beginScrolledControl(Widget &control, Window &window, unsigned width, unsigned height) {
    ObjectState &state = Internal::state(control);
    state.widget = gtk_scrolled_window_new(nullptr, nullptr);
    Internal::parent(control) = &window;
    GtkScrolledWindow *scrolled = GTK_SCROLLED_WINDOW(state.widget);
    gtk_scrolled_window_set_policy(scrolled, GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(scrolled, GTK_SHADOW_ETCHED_IN);
    gtk_widget_set_size_request(state.widget, static_cast<gint>(width), static_cast<gint>(height));
}

// Window

Window Window::noParent;

Window::Window() {}

namespace {

// The window manager's close request. GTK must never destroy the window: the program keeps using it.
gboolean windowDeleted(Window *window) {
    if (!window->onClose || window->onClose())
        gtk_widget_hide(Internal::state(*window).widget);
    return TRUE;
}

} // namespace

void Window::create(int32_t x, int32_t y, int32_t width, int32_t height, const rudd::string &text) {
    requireDisplay();
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    state->widget = window;
    gtk_window_move(GTK_WINDOW(window), x, y);
    gtk_window_set_title(GTK_WINDOW(window), text);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_widget_set_app_paintable(window, TRUE);
    connectSignal(window, "delete_event", G_CALLBACK(windowDeleted), this);
    acceptDrops(*this, window);

    state->layoutBox = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), state->layoutBox);
    gtk_widget_show(state->layoutBox);

    state->menuContainer = gtk_menu_bar_new();
    gtk_box_pack_start(GTK_BOX(state->layoutBox), state->menuContainer, FALSE, FALSE, 0);

    state->formContainer = gtk_fixed_new();
    gtk_widget_set_size_request(state->formContainer, width, height);
    gtk_box_pack_start(GTK_BOX(state->layoutBox), state->formContainer, TRUE, TRUE, 0);
    gtk_widget_show(state->formContainer);

    state->statusContainer = gtk_event_box_new();
    state->statusBar = gtk_statusbar_new();
    gtk_statusbar_set_has_resize_grip(GTK_STATUSBAR(state->statusBar), FALSE);
    gtk_container_add(GTK_CONTAINER(state->statusContainer), state->statusBar);
    gtk_box_pack_start(GTK_BOX(state->layoutBox), state->statusContainer, FALSE, FALSE, 0);
    gtk_widget_show(state->statusContainer);

    gtk_widget_realize(window);
}

Geometry Window::geometry() {
    TAMBER_VERIFY(state->widget, "Window::geometry() called before create()");
    Geometry geometry{};
    gint x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(GTK_WINDOW(state->widget), &x, &y);
    gtk_widget_get_size_request(state->formContainer, &width, &height);
    geometry.x = x;
    geometry.y = y;
    geometry.width = width;
    geometry.height = height;
    return geometry;
}

void Window::setGeometry(int32_t x, int32_t y, int32_t width, int32_t height) {
    // Like a control's, a window's geometry cannot change before create().
    if (!state->widget)
        return;
    gtk_window_move(GTK_WINDOW(state->widget), x, y);
    gtk_widget_set_size_request(state->formContainer, width, height);
}

void Window::setDefaultFont(Font &font) {
    defaultFont = &font;
}

void Window::setFont(Font &font) {
    TAMBER_VERIFY(state->widget, "Window::setFont() called before create()");
    applyFont(state->statusBar, Internal::description(font));
}

bool Window::focused() {
    TAMBER_VERIFY(state->widget, "Window::focused() called before create()");
    return gtk_window_is_active(GTK_WINDOW(state->widget));
}

void Window::setFocused() {
    TAMBER_VERIFY(state->widget, "Window::setFocused() called before create()");
    gtk_window_present(GTK_WINDOW(state->widget));
}

void Window::setTitle(const rudd::string &text) {
    TAMBER_VERIFY(state->widget, "Window::setTitle() called before create()");
    gtk_window_set_title(GTK_WINDOW(state->widget), text);
}

void Window::setStatusText(const rudd::string &text) {
    TAMBER_VERIFY(state->widget, "Window::setStatusText() called before create()");
    gtk_statusbar_pop(GTK_STATUSBAR(state->statusBar), 1);
    gtk_statusbar_push(GTK_STATUSBAR(state->statusBar), 1, text);
}

void Window::setMenuVisible(bool visible) {
    TAMBER_VERIFY(state->widget, "Window::setMenuVisible() called before create()");
    gtk_widget_set_visible(state->menuContainer, visible);
}

void Window::setStatusVisible(bool visible) {
    TAMBER_VERIFY(state->widget, "Window::setStatusVisible() called before create()");
    gtk_widget_set_visible(state->statusBar, visible);
}

void Window::setBackgroundColor(uint8_t red, uint8_t green, uint8_t blue) {
    TAMBER_VERIFY(state->widget, "Window::setBackgroundColor() called before create()");
    GdkColor color;
    color.pixel = (static_cast<guint32>(red) << 16) | (static_cast<guint32>(green) << 8) | blue;
    color.red = static_cast<guint16>(red * 257);
    color.green = static_cast<guint16>(green * 257);
    color.blue = static_cast<guint16>(blue * 257);
    gtk_widget_modify_bg(state->widget, GTK_STATE_NORMAL, &color);
}

GtkWindow *parentWindowOf(Window &parent) {
    if (&parent == &Window::noParent)
        return nullptr;
    return GTK_WINDOW(Internal::state(parent).widget);
}

} // namespace tamber
