#pragma once

#include "core/workflow.h"
#include "rudd/string.h"
#include "tamber/button.h"
#include "tamber/font.h"
#include "tamber/label.h"
#include "tamber/object.h"
#include "tamber/progressbar.h"
#include "tamber/radiobox.h"
#include "tamber/textbox.h"

#include <cstdint>

// The program's one window: the mode choice, the two paths, the progress bar and Ok. Constructing it
// makes no GTK widget; initialize() builds the window once. Every operation a user can start goes
// through the callbacks bound there, and one run of the program performs at most one operation.
// The program has exactly one, a global object; tests build their own to drive one window each.
class Application : public tamber::Window {
public:
    void initialize();

    // Enables Ok exactly when both path boxes hold text.
    void synchronize();
    // Locks the window for a running operation and shows the progress bar at 0.
    void beginOperation();
    // The operation's progress callback: moves the bar in whole percents and lets the window repaint.
    void updateProgress(unsigned offset, unsigned total);
    void applyPatch(const rudd::string &patchPath, const rudd::string &targetPath);
    void createPatch(const rudd::string &sourcePath, const rudd::string &targetPath);
    // Shows the outcome's box, unless the window was closed while the operation ran.
    void finish(const vopra::Outcome &outcome);
    // The six callbacks through which the window works, and its drops; called by initialize().
    void bindCallbacks();
    // Files dropped on a path box replace its text with the first of them; files dropped anywhere else
    // on the window go to the boxes the mode gives them. Folders are never taken, and while an
    // operation runs no drop changes anything.
    void dropOnBox(tamber::TextBox &box, const rudd::string_list &files);
    void dropOnWindow(const rudd::string_list &files);

    tamber::Font font;
    tamber::Label modeLabel;
    tamber::RadioBox applyMode;
    tamber::RadioBox createMode;
    tamber::Label sourceLabel;
    tamber::TextBox sourceText;
    tamber::Button sourceBrowse;
    tamber::Label targetLabel;
    tamber::TextBox targetText;
    tamber::Button targetBrowse;
    tamber::ProgressBar progressBar;
    tamber::Button okButton;
    uint32_t progressPosition = 0; // the last percentage shown during an operation
    bool running = false;          // an operation's work is under way
    bool closed = false;           // the user closed the window
};
