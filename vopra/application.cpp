#include "vopra/application.h"

#include "core/interruption.h"
#include "core/quoting.h"
#include "core/workflow.h"
#include "tamber/toolkit.h"

#include <sys/stat.h>
#include <unistd.h>

using rudd::function;
using rudd::string;
using rudd::string_list;
using tamber::Toolkit;

// The dropped names that may fill a path box: a folder never names a patch, a source or a target.
static void keepFiles(const string_list &dropped, string_list &files) {
    for (uint32_t i = 0; i < dropped.count(); i++) {
        struct stat info;
        if (stat(dropped[i], &info) == 0 && S_ISDIR(info.st_mode))
            continue;
        files[files.count()] = dropped[i];
    }
}

// The box's text is the outcome's own; its notes (why a run failed, where an original is kept, what a
// success did beyond the expected) follow below it, a line each, in the same words qpt prints. The
// window shows names as they are: GTK draws what it can.
static void report(Application &window, const vopra::Outcome &outcome) {
    string message = vopra::shown(outcome.message, vopra::NameStyle::plain);
    string cause = vopra::shown(outcome.notes, vopra::NameStyle::plain);
    if (outcome.kind == vopra::Outcome::Kind::Information) {
        // The engine reports every 256 positions, so a patch's creation may end with the bar at 99:
        // a finished run shows a full bar behind its message.
        window.progressBar.setPosition(100);
        Toolkit::information(window, message, Toolkit::DialogButtons::Ok, cause);
    } else
        Toolkit::warning(window, message, Toolkit::DialogButtons::Ok, cause);
}

// A path the toolkit or a drop puts in a box shows its end: in the narrow box the file's own name is what
// tells the user which file it is.
static void fillPath(tamber::TextBox &box, const string &path) {
    box.setText(path);
    box.showEnd();
}

// The layout is drawn for 96 dots per inch and grows with the screen's font resolution. Each edge is
// scaled by the toolkit's one rounding, so edges that line up here line up on every screen.
static tamber::Geometry scaled(int x, int y, int width, int height) {
    int left = Toolkit::scaled(x), top = Toolkit::scaled(y);
    return tamber::Geometry{left, top, Toolkit::scaled(x + width) - left, Toolkit::scaled(y + height) - top};
}

template <typename Control, typename Parent, typename... Text>
static void place(Control &control, Parent &parent, const tamber::Geometry &at, const Text &...text) {
    control.create(parent, at.x, at.y, at.width, at.height, text...);
}

void Application::initialize() {
    // Before the window exists: its class ties it to vopra's menu entry.
    Toolkit::setApplicationName("vopra");
    tamber::Geometry created = scaled(128, 128, 256, 256), fixed = scaled(128, 128, 480, 135);
    create(created.x, created.y, created.width, created.height, "vopra v04");
    // Controls take the window's default font when they are created, so it must be set first.
    font.create("Sans", 8, 0);
    setDefaultFont(font);

    place(modeLabel, *this, scaled(5, 5, 80, 15), "Patch mode:");
    place(applyMode, *this, scaled(90, 5, 385, 15), "Apply an existing source QPT patch to target file");
    place(createMode, applyMode, scaled(90, 25, 385, 15),
          "Create a new QPT patch from source and target files");
    place(sourceLabel, *this, scaled(5, 45, 80, 25), "Source file:");
    place(sourceText, *this, scaled(90, 45, 300, 25), "");
    place(sourceBrowse, *this, scaled(395, 45, 80, 25), "Browse ...");
    place(targetLabel, *this, scaled(5, 75, 80, 25), "Target file:");
    place(targetText, *this, scaled(90, 75, 300, 25), "");
    place(targetBrowse, *this, scaled(395, 75, 80, 25), "Browse ...");
    place(progressBar, *this, scaled(5, 105, 385, 25));
    progressBar.setVisible(false);
    place(okButton, *this, scaled(395, 105, 80, 25), "Ok");
    okButton.setEnabled(false);
    // A screen reader names each path box by the caption beside it.
    sourceLabel.setFor(sourceText);
    targetLabel.setFor(targetText);

    setGeometry(fixed.x, fixed.y, fixed.width, fixed.height);
    bindCallbacks();
}

// The closures reach the controls through this object; in the program it is the one global window.
void Application::bindCallbacks() {
    targetText.onChange = function<void()>(&Application::synchronize, this);
    sourceText.onChange = targetText.onChange;
    sourceBrowse.onClick = [this]() {
        string path =
            Toolkit::fileOpen(*this, applyMode.checked() ? "QPT patches\t*.qpt" : "All files\t*", "");
        if (path.empty())
            return;
        fillPath(sourceText, path);
        synchronize();
    };
    targetBrowse.onClick = [this]() {
        string path = applyMode.checked() ? Toolkit::fileSave(*this, "All files\t*", "")
                                          : Toolkit::fileOpen(*this, "All files\t*", "");
        if (path.empty())
            return;
        fillPath(targetText, path);
        synchronize();
    };
    okButton.onClick = [this]() {
        beginOperation();
        string source = sourceText.text(), target = targetText.text();
        if (applyMode.checked())
            applyPatch(source, target);
        else
            createPatch(source, target);
        // One operation per run: the program ends once its outcome has been read, or at once when the
        // window was closed meanwhile.
        Toolkit::quit();
    };
    sourceText.onDrop = [this](const string_list &files) { dropOnBox(sourceText, files); };
    targetText.onDrop = [this](const string_list &files) { dropOnBox(targetText, files); };
    onDrop = function<void(const string_list &)>(&Application::dropOnWindow, this);
    onClose = [this]() {
        // A run closed before any name has changed is dropped whole: nothing of it is left once the
        // process ends (the kernel drops the unnamed output, the lock and the maps), so it ends now,
        // its window gone at once while the system frees what the run wrote. Once names change, the
        // run completes and ends without its box.
        if (running && vopra::abandonUnplaced()) {
            setVisible(false);
            Toolkit::flush();
            _exit(0);
        }
        closed = true;
        Toolkit::quit();
        return true;
    };
}

void Application::synchronize() {
    if (sourceText.text().empty()) {
        okButton.setEnabled(false);
        return;
    }
    okButton.setEnabled(!targetText.text().empty());
}

void Application::beginOperation() {
    sourceText.setEnabled(false);
    sourceBrowse.setEnabled(false);
    targetText.setEnabled(false);
    targetBrowse.setEnabled(false);
    okButton.setEnabled(false);
    progressPosition = 0;
    progressBar.setPosition(0);
    progressBar.setVisible(true);
}

void Application::updateProgress(unsigned offset, unsigned total) {
    unsigned percent = total == 0 ? 0 : unsigned(double(offset) / double(total) * 100.0);
    // The window is serviced once per whole-percent step, so keeping it alive costs the same for any
    // file size.
    if (percent > progressPosition) {
        progressPosition = percent;
        progressBar.setPosition(percent);
        Toolkit::run();
    }
}

// A close request sent while the last steps kept the window away (the swap) is seen here first.
void Application::finish(const vopra::Outcome &outcome) {
    running = false;
    Toolkit::run();
    if (!closed)
        report(*this, outcome);
}

void Application::applyPatch(const string &patchPath, const string &targetPath) {
    running = true;
    finish(vopra::applyPatch(patchPath, targetPath,
                             function<void(unsigned, unsigned)>(&Application::updateProgress, this)));
}

void Application::createPatch(const string &sourcePath, const string &targetPath) {
    running = true;
    finish(vopra::createPatch(sourcePath, targetPath,
                              function<void(unsigned, unsigned)>(&Application::updateProgress, this)));
}

// beginOperation disables the path boxes for the rest of the run, so an enabled box means no operation
// has started.
void Application::dropOnBox(tamber::TextBox &box, const string_list &dropped) {
    string_list files;
    keepFiles(dropped, files);
    if (!box.enabled() || files.count() == 0)
        return;
    fillPath(box, files[0]);
    synchronize();
}

void Application::dropOnWindow(const string_list &dropped) {
    string_list files;
    keepFiles(dropped, files);
    if (!sourceText.enabled() || files.count() == 0)
        return;
    if (applyMode.checked()) {
        // The first patch and the first other file; further ones of either kind are left out.
        bool patchTaken = false, targetTaken = false;
        for (uint32_t i = 0; i < files.count(); i++) {
            bool patch = rudd::iendswith(files[i], ".qpt");
            if (patch && !patchTaken)
                fillPath(sourceText, files[i]);
            else if (!patch && !targetTaken)
                fillPath(targetText, files[i]);
            (patch ? patchTaken : targetTaken) = true;
        }
    } else if (files.count() >= 2) {
        fillPath(sourceText, files[0]);
        fillPath(targetText, files[1]);
    } else if (sourceText.text().empty())
        fillPath(sourceText, files[0]);
    else if (targetText.text().empty())
        fillPath(targetText, files[0]);
    synchronize();
}
