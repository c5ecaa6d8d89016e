#pragma once

#include "rudd/string.h"

namespace tamber {

class Window;

// The toolkit's process-wide services over GTK+ 2: start-up, the event loop, the desktop size, and the
// modal message, file and folder dialogs. Everything runs on the program's one thread.
class Toolkit {
public:
    // Starts GTK once, with a fixed one-element argument vector (the process's own arguments never reach
    // GTK), and installs the toolkit's style. Called by every Object constructor; later calls do nothing.
    static void initialize();
    // Whether start-up found a display. When it is false the front end says so and stops; start-up itself
    // never prints. A program that goes on regardless is ended at its first window, dialog or event loop
    // with one line naming the display and exit status 1, as GTK's own start-up would end it.
    static bool ready();

    // Names the program for the desktop and for assistive technologies: the class and name of the windows
    // created afterwards (which a launcher's StartupWMClass matches), the application's name, and the
    // theme's icon of that name for every window (none, quietly, where the theme has no such icon). The
    // fixed argument vector GTK started with stays as it is.
    static void setApplicationName(const rudd::string &name);

    static bool pending();
    // Handles every waiting event and returns; never blocks. Safe from inside a callback.
    static void run();
    static void main();
    static void quit();
    // Sends every request made so far to the display and waits until it has handled them: what the
    // program showed or hid is on screen, even if the process ends right after.
    static void flush();
    static int desktopWidth();
    static int desktopHeight();
    // The screen's font resolution over the 96 dots per inch a layout in pixels is drawn for: the
    // factor by which GTK's fonts grow (from Xft.dpi, or the screen's own size where that is not set).
    static double scale();
    // pixels times scale(), to the nearest pixel: the one rounding for every position and size.
    static int scaled(int pixels);

    enum class DialogButtons : unsigned { Ok = 0, OkCancel = 1, YesNo = 2 };
    enum class DialogResponse : unsigned { Ok = 0, Cancel = 1, Yes = 2, No = 3 };

    // Modal message boxes; the texts are shown literally (no printf conversions). The secondary text, when
    // not empty, explains the text below it in a plainer face; without one a box shows its text alone.
    // Every box fits the screen: its texts wrap, within a long name where they must. Escape or a close
    // through the window manager answers Cancel for OkCancel, No for YesNo and Ok otherwise. The parent
    // is a created window or Window::noParent.
    static DialogResponse information(Window &parent, const rudd::string &text, DialogButtons buttons,
                                      const rudd::string &secondary = rudd::string());
    static DialogResponse question(Window &parent, const rudd::string &text, DialogButtons buttons,
                                   const rudd::string &secondary = rudd::string());
    static DialogResponse warning(Window &parent, const rudd::string &text, DialogButtons buttons,
                                  const rudd::string &secondary = rudd::string());
    static DialogResponse critical(Window &parent, const rudd::string &text, DialogButtons buttons,
                                   const rudd::string &secondary = rudd::string());

    // Modal file choosers. The filter text holds entries separated by "\n", each a name and a comma list
    // of patterns separated by "\t" (for example "QPT patches\t*.qpt\nAll files\t*"). They answer the
    // chosen path, or the empty text when the user cancels.
    static rudd::string fileOpen(Window &parent, const rudd::string &filter, const rudd::string &folder);
    static rudd::string fileSave(Window &parent, const rudd::string &filter, const rudd::string &folder);
    // The chosen folder, always ending in "/"; a cancelled dialog answers "/".
    static rudd::string folderSelect(Window &parent, const rudd::string &folder);

private:
    static bool started;
    static bool available;
};

} // namespace tamber
