// A tour of the tamber toolkit: one window holding every control, a menu bar and a status bar.
//
// The manner of every tamber program: derive the main window from Window, keep the controls as members,
// create the window first, give it a default font, create each control at its pixel position, then bind
// callbacks (a lambda or a member function) and run the event loop.

#include <cstdio>

#include "tamber/button.h"
#include "tamber/canvas.h"
#include "tamber/checkbox.h"
#include "tamber/combobox.h"
#include "tamber/editbox.h"
#include "tamber/font.h"
#include "tamber/label.h"
#include "tamber/listbox.h"
#include "tamber/menu.h"
#include "tamber/progressbar.h"
#include "tamber/radiobox.h"
#include "tamber/slider.h"
#include "tamber/textbox.h"
#include "tamber/toolkit.h"

using namespace tamber;
using rudd::string;

class Example : public Window {
public:
    void initialize();

private:
    void paintCanvas();
    void levelChanged();

    Font font;
    Menu fileMenu, viewMenu;
    MenuItem aboutItem, quitItem;
    SeparatorMenuItem separator;
    CheckMenuItem statusItem;
    RadioMenuItem listItem, detailsItem;

    Label nameLabel;
    TextBox nameText;
    Button greetButton;
    RadioBox smallRadio, largeRadio;
    CheckBox boldCheck;
    ComboBox colorCombo;
    EditBox notes;
    HorizontalSlider level;
    VerticalSlider balance;
    ProgressBar progress;
    Label hint;
    ListBox files;
    Canvas canvas;
    Viewport viewport;
    Label canvasLabel, viewportLabel;
};

void Example::initialize() {
    create(100, 100, 560, 290, "tamber controls");
    font.create("Sans", 9, 0);
    setDefaultFont(font); // controls and menus created from now on use it

    fileMenu.create(*this, "File");
    aboutItem.create(fileMenu, "About");
    separator.create(fileMenu);
    quitItem.create(fileMenu, "Quit");
    viewMenu.create(*this, "View");
    statusItem.create(viewMenu, "Status bar");
    listItem.create(viewMenu, "List");
    detailsItem.create(listItem, "Details");
    statusItem.setChecked(true);
    setMenuVisible(true);
    setStatusVisible(true);

    nameLabel.create(*this, 10, 10, 60, 25, "Name:");
    nameText.create(*this, 70, 10, 170, 25, "World");
    greetButton.create(*this, 250, 10, 80, 25, "Greet");
    smallRadio.create(*this, 10, 45, 80, 20, "Small");
    largeRadio.create(smallRadio, 90, 45, 80, 20, "Large");
    boldCheck.create(*this, 180, 45, 70, 20, "Bold");
    colorCombo.create(*this, 250, 42, 80, 26, "Red\nGreen\nBlue");
    notes.create(*this, 10, 75, 320, 80, "An edit box: several lines of text, wrapped at word boundaries.");
    level.create(*this, 10, 165, 280, 25, 101);
    balance.create(*this, 300, 165, 30, 100, 11);
    progress.create(*this, 10, 200, 280, 20);
    hint.create(*this, 10, 230, 280, 40,
                "Move the slider: the progress bar follows.\nThe check boxes of the list answer clicks.");
    files.setCheckable(true);
    files.create(*this, 340, 10, 210, 145, "Name\tSize");
    files.setHeaderVisible(true);
    files.addItem("readme.txt\t2 KiB");
    files.addItem("photo.png\t88 KiB");
    files.addItem("notes.md\t1 KiB");
    files.setChecked(1, true);
    files.autoSizeColumns();
    canvas.create(*this, 340, 165, 100, 100);
    viewport.create(*this, 450, 165, 100, 100);
    canvasLabel.create(*this, 340, 268, 100, 18, "Canvas");
    viewportLabel.create(*this, 450, 268, 100, 18, "Viewport");
    paintCanvas();

    onClose = [] {
        Toolkit::quit();
        return true;
    };
    quitItem.onActivate = [] { Toolkit::quit(); };
    aboutItem.onActivate = [this] {
        Toolkit::information(*this, "Every control of tamber in one window.", Toolkit::DialogButtons::Ok);
    };
    statusItem.onToggle = [this] { setStatusVisible(statusItem.checked()); };
    greetButton.onClick = [this] { setStatusText(string("Hello, ", nameText.text(), "!")); };
    level.onChange = rudd::function<void()>(&Example::levelChanged, this);
    files.onToggle = [this](unsigned row) {
        setStatusText(files.checked(row) ? "Row checked" : "Row unchecked");
    };
    level.setPosition(60);
    setStatusText("Ready");
}

void Example::levelChanged() {
    progress.setPosition(level.position());
    setStatusText(string("Level ", rudd::decimal(level.position())));
}

// The buffer holds 0x00RRGGBB pixels, row after row; redraw asks GTK to show it.
void Example::paintCanvas() {
    uint32_t *pixels = canvas.buffer();
    for (uint32_t y = 0; y < 100; y++)
        for (uint32_t x = 0; x < 100; x++)
            pixels[y * 100 + x] = (x * 255 / 99) << 16 | (y * 255 / 99) << 8 | 0x80;
    canvas.redraw();
}

int main(int, char **) {
    if (!Toolkit::ready()) {
        std::fputs("toolkit-example: cannot open the X display\n", stderr);
        return 1;
    }
    Example example;
    example.initialize();
    example.setVisible(true);
    Toolkit::main();
    return 0;
}
