#include "tamber/toolkit.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tamber/internal.h"

namespace tamber {

namespace {

// Every combo box drops down a list instead of a menu, and tree views draw their rows without a gap.
const char styleText[] = "style \"tamber-gtk\"\n"
                         "{\n"
                         "  GtkComboBox::appears-as-list = 1\n"
                         "  GtkTreeView::vertical-separator = 0\n"
                         "}\n"
                         "class \"GtkComboBox\" style \"tamber-gtk\"\n"
                         "class \"GtkTreeView\" style \"tamber-gtk\"\n";

} // namespace

bool Toolkit::started = false;
bool Toolkit::available = false;

void Toolkit::initialize() {
    if (started)
        return;
    started = true;
    // GTK gets a vector of its own so that the process's arguments (GTK options included) never reach it.
    // GTK may keep pointers into it, so it is never released.
    static int argc = 1;
    static char **argv = nullptr;
    argv = static_cast<char **>(malloc(2 * sizeof(char *)));
    argv[0] = strdup("tamber");
    argv[1] = nullptr;
    // gtk_init would print and exit without a display; the front end decides what to tell the user.
    available = gtk_init_check(&argc, &argv);
    if (available)
        gtk_rc_parse_string(styleText);
}

bool Toolkit::ready() {
    return available;
}

void requireDisplay() {
    if (Toolkit::ready())
        return;
    const char *name = getenv("DISPLAY");
    if (name && *name)
        fprintf(stderr, "tamber: cannot open the X display \"%s\"\n", name);
    else
        fputs("tamber: cannot open the X display: DISPLAY is not set\n", stderr);
    exit(1);
}

void Toolkit::setApplicationName(const rudd::string &name) {
    requireDisplay();
    // GLib takes the application name once (a second call only warns).
    if (g_strcmp0(g_get_application_name(), name) != 0)
        g_set_application_name(name);
    g_set_prgname(name);
    gdk_set_program_class(name);
    gtk_window_set_default_icon_name(name);
    // GTK's accessibility module made its root object at start-up and gave it the program name as GLib
    // holds it, interned and never freed, without owning it: atk_object_set_name would free it. An
    // interned name is held the same way, and assistive technologies read the application's name there.
    if (AtkObject *root = atk_get_root())
        root->name = const_cast<gchar *>(g_intern_string(name));
}

bool Toolkit::pending() {
    requireDisplay();
    return gtk_events_pending();
}

void Toolkit::run() {
    requireDisplay();
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

void Toolkit::main() {
    requireDisplay();
    gtk_main();
}

void Toolkit::quit() {
    gtk_main_quit();
}

void Toolkit::flush() {
    requireDisplay();
    gdk_flush();
}

int Toolkit::desktopWidth() {
    requireDisplay();
    return gdk_screen_get_width(gdk_screen_get_default());
}

int Toolkit::desktopHeight() {
    requireDisplay();
    return gdk_screen_get_height(gdk_screen_get_default());
}

double Toolkit::scale() {
    requireDisplay();
    // In 1024ths of a dot per inch; none set leaves Pango at its own 96.
    gint dpi = -1;
    g_object_get(gtk_settings_get_default(), "gtk-xft-dpi", &dpi, nullptr);
    return dpi > 0 ? dpi / 1024.0 / 96.0 : 1.0;
}

int Toolkit::scaled(int pixels) {
    return int(std::lround(pixels * scale()));
}

} // namespace tamber
