// The live main window under a private Xvfb, driven with real input: clicks and keys through XTest,
// message boxes and file dialogs read and answered from inside their own modal loops.

#include "tests/support/scenarios.h"
#include "tests/tamber/support.h"
#include "tests/tamber/support_drag.h"

#include "core/files.h"
#include "core/replacement.h"
#include "rudd/qpt.h"
#include "tamber/toolkit.h"
#include "vopra/application.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <unistd.h>

namespace {

GtkWidget *widget(tamber::Object &object) {
    return support::widgetOf(object);
}

// A message box as the user sees it.
struct Box {
    GtkMessageType type = GtkMessageType(-1);
    std::string text;
    std::string secondary; // the text below it; empty when there is none
    bool modal = false;
    GtkWindow *parent = nullptr;
    std::vector<gint> responses;
    bool onScreen = false; // the box and its Ok button lie wholly within the screen
};

// Whether the widget's window area, as the X server places it, lies within the screen.
bool withinScreen(GtkWidget *widget) {
    int x = 0, y = 0;
    gdk_window_get_origin(gtk_widget_get_toplevel(widget)->window, &x, &y);
    int dx = 0, dy = 0;
    gtk_widget_translate_coordinates(widget, gtk_widget_get_toplevel(widget), 0, 0, &dx, &dy);
    GtkAllocation size = widget->allocation;
    return x + dx >= 0 && y + dy >= 0 && x + dx + size.width <= support::screenWidth() &&
           y + dy + size.height <= support::screenHeight();
}

void collectResponse(GtkWidget *button, gpointer data) {
    auto *box = static_cast<Box *>(data);
    GtkWidget *dialog = gtk_widget_get_toplevel(button);
    box->responses.push_back(gtk_dialog_get_response_for_widget(GTK_DIALOG(dialog), button));
}

Box readBox(GtkWidget *dialog) {
    Box box;
    if (!GTK_IS_MESSAGE_DIALOG(dialog)) {
        ADD_FAILURE() << "the dialog shown is no message box";
        return box;
    }
    gchar *text = nullptr, *secondary = nullptr;
    g_object_get(dialog, "message-type", &box.type, "text", &text, "secondary-text", &secondary, nullptr);
    box.text = text ? text : "";
    box.secondary = secondary ? secondary : "";
    g_free(text);
    g_free(secondary);
    GtkWidget *ok = support::dialogButton(dialog, GTK_RESPONSE_OK);
    box.onScreen = withinScreen(dialog) && ok && withinScreen(ok);
    box.modal = gtk_window_get_modal(GTK_WINDOW(dialog));
    box.parent = gtk_window_get_transient_for(GTK_WINDOW(dialog));
    gtk_container_foreach(GTK_CONTAINER(GTK_DIALOG(dialog)->action_area), collectResponse, &box);
    return box;
}

// Types into a path box as a user does: click into it, select all, delete, type.
void typeInto(tamber::TextBox &box, const std::string &text) {
    support::click(widget(box));
    support::pressKey(XK_a, true);
    support::pressKey(XK_BackSpace);
    support::typeText(text.c_str());
    // Returns as soon as the text is there; the long limit only serves a loaded machine.
    EXPECT_TRUE(support::pumpUntil([&] { return std::string(box.text()) == text; }, 15000))
        << "typed " << text;
}

// Runs the program's main loop until something ends it; a watchdog keeps a broken run from hanging.
bool runUntilQuit(int timeoutMs = 30000) {
    bool expired = false;
    guint watchdog = g_timeout_add(
        timeoutMs,
        [](gpointer flag) -> gboolean {
            *static_cast<bool *>(flag) = true;
            gtk_main_quit();
            return FALSE;
        },
        &expired);
    tamber::Toolkit::main();
    if (!expired)
        g_source_remove(watchdog);
    return !expired;
}

// A fresh window for each run, as a fresh start of the program gives. It is never destroyed: the
// toolkit keeps its GTK widgets for the whole process and their handlers point at the object.
Application *openWindow() {
    auto *window = new Application;
    window->initialize();
    EXPECT_TRUE(support::showWindow(*window));
    return window;
}

void closeWindow(Application *window) {
    window->setVisible(false);
    support::settle();
}

// Presses Ok with the real pointer and reads the box that reports the outcome.
Box pressOk(Application &window) {
    Box box;
    support::answerDialog(
        [&box](GtkWidget *dialog) {
            box = readBox(dialog);
            GtkWidget *ok = support::dialogButton(dialog, GTK_RESPONSE_OK);
            if (!ok)
                return false;
            support::clickNow(ok);
            return true;
        },
        30000);
    support::clickNow(widget(window.okButton));
    EXPECT_TRUE(runUntilQuit()) << "the Ok handler did not end the main loop";
    EXPECT_TRUE(support::dialogAnswered());
    // One operation per run: the window stays locked, with nothing left to start another.
    EXPECT_FALSE(window.okButton.enabled());
    EXPECT_FALSE(window.sourceText.enabled());
    EXPECT_FALSE(window.targetText.enabled());
    EXPECT_FALSE(window.sourceBrowse.enabled());
    EXPECT_FALSE(window.targetBrowse.enabled());
    EXPECT_TRUE(window.progressBar.visible());
    EXPECT_TRUE(box.modal);
    EXPECT_EQ(GTK_WINDOW(widget(window)), box.parent);
    EXPECT_EQ(std::vector<gint>{GTK_RESPONSE_OK}, box.responses);
    return box;
}

class WindowDriver : public Driver {
public:
    Seen run(Operation operation, const std::string &first, const std::string &second) override {
        Application *window = openWindow();
        support::click(widget(operation == Operation::Apply ? window->applyMode : window->createMode));
        EXPECT_EQ(operation == Operation::Apply, window->applyMode.checked());
        typeInto(window->sourceText, first);
        typeInto(window->targetText, second);
        EXPECT_TRUE(window->okButton.enabled());
        Box box = pressOk(*window);
        closeWindow(window);
        EXPECT_TRUE(box.onScreen) << "the box or its Ok button is off the screen";
        if (box.type != GTK_MESSAGE_WARNING && box.type != GTK_MESSAGE_INFO)
            ADD_FAILURE() << "a message box of type " << box.type;
        return Seen{box.type == GTK_MESSAGE_INFO ? vopra::Outcome::Kind::Information
                                                 : vopra::Outcome::Kind::Warning,
                    box.text, box.secondary};
    }
};

VOPRA_SCENARIO_TESTS(Window, Scenarios, through_the_window, WindowDriver, scenarios());

class MainWindow : public support::ToolkitTest {
protected:
    void SetUp() override {
        support::ToolkitTest::SetUp();
        window = openWindow();
    }
    void TearDown() override {
        closeWindow(window);
        support::ToolkitTest::TearDown();
    }
    Application *window = nullptr;
};

struct Place {
    int x, y, width, height;
    bool operator==(const Place &other) const {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
};
std::ostream &operator<<(std::ostream &out, const Place &p) {
    return out << p.x << "," << p.y << " " << p.width << "x" << p.height;
}

Place placeInForm(Application &window, tamber::Object &control) {
    GtkWidget *form = support::stateOf(window).formContainer;
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(widget(control), form, 0, 0, &x, &y);
    GtkAllocation size = widget(control)->allocation;
    return Place{x, y, size.width, size.height};
}

std::string caption(tamber::Object &control) {
    GtkWidget *w = widget(control);
    if (GTK_IS_LABEL(w))
        return gtk_label_get_text(GTK_LABEL(w));
    return gtk_button_get_label(GTK_BUTTON(w));
}

// A place of the layout drawn for 96 dots per inch on this screen: each edge scaled by the font
// resolution GTK draws with, to the nearest pixel.
Place onScreen(Place p) {
    double f = gdk_screen_get_resolution(gdk_screen_get_default()) / 96;
    auto at = [f](int n) { return int(std::lround(n * f)); };
    return Place{at(p.x), at(p.y), at(p.x + p.width) - at(p.x), at(p.y + p.height) - at(p.y)};
}

// Whether the caption, as Pango measures it, lies within its label's allocation, to which GTK clips it:
// its advance across, its ink from top to bottom (a line's logical height holds room no glyph uses).
bool textFits(GtkWidget *label) {
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(gtk_label_get_layout(GTK_LABEL(label)), &ink, &logical);
    int x = 0, y = 0;
    gtk_label_get_layout_offsets(GTK_LABEL(label), &x, &y);
    GdkRectangle text{x + logical.x, y + ink.y, logical.width, ink.height}, within{};
    gdk_rectangle_intersect(&text, &label->allocation, &within);
    std::printf("%-52s %3dx%-3d in %3dx%d\n", gtk_label_get_text(GTK_LABEL(label)), text.width, text.height,
                label->allocation.width, label->allocation.height);
    return within.width == text.width && within.height == text.height;
}

// The same layout at every font resolution, each caption whole.
TEST_F(MainWindow, starts_with_its_layout_captions_font_and_states) {
    GtkWidget *toplevel = widget(*window);
    EXPECT_STREQ("vopra v04", gtk_window_get_title(GTK_WINDOW(toplevel)));
    int x = 0, y = 0;
    gdk_window_get_origin(toplevel->window, &x, &y);
    EXPECT_EQ(onScreen(Place{128, 128, 480, 135}),
              (Place{x, y, toplevel->allocation.width, toplevel->allocation.height}));
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(toplevel)));

    struct Expected {
        tamber::Object *control;
        Place place;
        const char *text;
    } table[] = {
        {&window->modeLabel, {5, 5, 80, 15}, "Patch mode:"},
        {&window->applyMode, {90, 5, 385, 15}, "Apply an existing source QPT patch to target file"},
        {&window->createMode, {90, 25, 385, 15}, "Create a new QPT patch from source and target files"},
        {&window->sourceLabel, {5, 45, 80, 25}, "Source file:"},
        {&window->sourceText, {90, 45, 300, 25}, nullptr},
        {&window->sourceBrowse, {395, 45, 80, 25}, "Browse ..."},
        {&window->targetLabel, {5, 75, 80, 25}, "Target file:"},
        {&window->targetText, {90, 75, 300, 25}, nullptr},
        {&window->targetBrowse, {395, 75, 80, 25}, "Browse ..."},
        {&window->okButton, {395, 105, 80, 25}, "Ok"},
    };
    for (auto &expected : table) {
        EXPECT_EQ(onScreen(expected.place), placeInForm(*window, *expected.control));
        if (expected.text) {
            EXPECT_EQ(expected.text, caption(*expected.control));
            // Every text control got the window's 8-point Sans.
            GtkWidget *w = widget(*expected.control);
            GtkWidget *text = GTK_IS_BIN(w) ? gtk_bin_get_child(GTK_BIN(w)) : w;
            EXPECT_TRUE(textFits(text)) << expected.text;
            PangoFontDescription *font = text->style->font_desc;
            EXPECT_STREQ("Sans", pango_font_description_get_family(font)) << expected.text;
            EXPECT_EQ(8 * PANGO_SCALE, pango_font_description_get_size(font)) << expected.text;
        }
    }
    EXPECT_TRUE(window->applyMode.checked());
    EXPECT_FALSE(window->createMode.checked());
    EXPECT_EQ("", std::string(window->sourceText.text()));
    EXPECT_TRUE(window->sourceText.enabled() && window->targetText.enabled());
    EXPECT_TRUE(gtk_editable_get_editable(GTK_EDITABLE(widget(window->sourceText))));
    EXPECT_TRUE(gtk_editable_get_editable(GTK_EDITABLE(widget(window->targetText))));
    EXPECT_TRUE(window->sourceBrowse.enabled() && window->targetBrowse.enabled());
    EXPECT_FALSE(window->progressBar.visible());
    EXPECT_FALSE(window->okButton.enabled());
    window->progressBar.setVisible(true);
    support::settle();
    EXPECT_EQ(onScreen(Place{5, 105, 385, 25}), placeInForm(*window, window->progressBar));
    EXPECT_EQ(0.0, gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(widget(window->progressBar))));
}

TEST_F(MainWindow, ok_is_enabled_exactly_when_both_paths_hold_text) {
    typeInto(window->sourceText, "a");
    EXPECT_FALSE(window->okButton.enabled());
    typeInto(window->targetText, " ");
    EXPECT_TRUE(window->okButton.enabled()); // spaces count as a path
    typeInto(window->sourceText, "");
    EXPECT_FALSE(window->okButton.enabled());
    typeInto(window->sourceText, "b");
    EXPECT_TRUE(window->okButton.enabled());
    // Switching the mode and pressing Enter in a path box change nothing.
    support::click(widget(window->createMode));
    EXPECT_TRUE(window->createMode.checked());
    EXPECT_TRUE(window->okButton.enabled());
    EXPECT_EQ("b", std::string(window->sourceText.text()));
    support::click(widget(window->targetText));
    support::pressKey(XK_Return);
    support::pumpFor(100);
    EXPECT_EQ(nullptr, support::liveDialog());
    EXPECT_TRUE(window->okButton.enabled());
    typeInto(window->targetText, "");
    EXPECT_FALSE(window->okButton.enabled());
}

// What a Browse dialog offered.
struct Offer {
    std::string title;
    GtkFileChooserAction action = GtkFileChooserAction(-1);
    std::vector<std::string> filters;
    std::string folder;
};

Offer look(GtkWidget *dialog) {
    Offer offer;
    offer.title = gtk_window_get_title(GTK_WINDOW(dialog));
    offer.action = gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog));
    GSList *filters = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(dialog));
    for (GSList *f = filters; f; f = f->next)
        offer.filters.push_back(gtk_file_filter_get_name(GTK_FILE_FILTER(f->data)));
    g_slist_free(filters);
    gchar *folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
    offer.folder = folder ? folder : "";
    g_free(folder);
    return offer;
}

// Clicks a Browse button and cancels the dialog it opens.
Offer browseAndCancel(tamber::Button &button) {
    Offer offer;
    support::answerDialog([&offer](GtkWidget *dialog) {
        offer = look(dialog);
        support::clickNow(support::dialogButton(dialog, GTK_RESPONSE_CANCEL));
        return true;
    });
    support::click(widget(button));
    EXPECT_TRUE(support::pumpUntil([] { return support::dialogAnswered() && !support::liveDialog(); }, 8000));
    return offer;
}

// Clicks a Browse button, chooses the file in the dialog and presses its accepting button.
void browseAndChoose(tamber::Button &button, const std::string &path) {
    support::answerDialog([&path](GtkWidget *dialog) {
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        gchar *selected = gtk_file_chooser_get_filename(chooser);
        bool ready = selected && path == selected;
        g_free(selected);
        if (!ready) {
            if (gtk_file_chooser_get_action(chooser) == GTK_FILE_CHOOSER_ACTION_SAVE)
                gtk_file_chooser_set_filename(chooser, path.c_str());
            else
                gtk_file_chooser_select_filename(chooser, path.c_str());
            return false;
        }
        support::clickNow(support::dialogButton(dialog, GTK_RESPONSE_ACCEPT));
        return true;
    });
    support::click(widget(button));
    EXPECT_TRUE(support::pumpUntil([] { return support::dialogAnswered() && !support::liveDialog(); }, 8000));
}

TEST_F(MainWindow, browse_offers_the_dialog_of_the_mode_and_fills_its_box) {
    using Names = std::vector<std::string>;
    typeInto(window->sourceText, "/somewhere/else/kept.qpt");
    Offer offer = browseAndCancel(window->sourceBrowse);
    EXPECT_EQ("Open File", offer.title);
    EXPECT_EQ(GTK_FILE_CHOOSER_ACTION_OPEN, offer.action);
    EXPECT_EQ(Names{"QPT patches (*.qpt)"}, offer.filters);
    // The dialog starts in the same folder whatever the box holds.
    std::string startFolder = offer.folder;
    EXPECT_EQ(std::string::npos, startFolder.find("somewhere"));
    // Cancelled: the box and Ok are as they were.
    EXPECT_EQ("/somewhere/else/kept.qpt", std::string(window->sourceText.text()));
    EXPECT_FALSE(window->okButton.enabled());

    offer = browseAndCancel(window->targetBrowse);
    EXPECT_EQ("Save File", offer.title);
    EXPECT_EQ(GTK_FILE_CHOOSER_ACTION_SAVE, offer.action);
    EXPECT_EQ(Names{"All files (*)"}, offer.filters);
    EXPECT_EQ(startFolder, offer.folder);

    support::click(widget(window->createMode));
    for (tamber::Button *button : {&window->sourceBrowse, &window->targetBrowse}) {
        offer = browseAndCancel(*button);
        EXPECT_EQ("Open File", offer.title);
        EXPECT_EQ(GTK_FILE_CHOOSER_ACTION_OPEN, offer.action);
        EXPECT_EQ(Names{"All files (*)"}, offer.filters);
        EXPECT_EQ(startFolder, offer.folder);
    }

    // A chosen file replaces the box's text and Ok follows at once.
    std::string folder = freshFolder("vopra-browse");
    std::ofstream(folder + "/new.sfc") << "new";
    support::click(widget(window->applyMode));
    browseAndChoose(window->targetBrowse, folder + "/new.sfc");
    EXPECT_EQ(folder + "/new.sfc", std::string(window->targetText.text()));
    EXPECT_TRUE(window->okButton.enabled());
    std::filesystem::remove_all(folder);
}

TEST_F(MainWindow, progress_moves_in_whole_percents_and_the_window_repaints) {
    // Large enough for the engine to report many times; event handling follows whole-percent steps.
    std::string folder = freshFolder("vopra-progress");
    std::string oldData(6 << 20, 'a'), newData = oldData;
    for (size_t i = 0; i < newData.size(); i += 4093)
        newData[i] = 'b';
    std::ofstream(folder + "/big.sfc", std::ios::binary) << oldData;
    std::ofstream(folder + "/big.new", std::ios::binary) << newData;

    struct Watched {
        std::vector<double> fractions;
        int exposes = 0;
    } seen;
    GtkWidget *bar = widget(window->progressBar);
    g_signal_connect(bar, "notify::fraction", G_CALLBACK(+[](GObject *object, GParamSpec *, gpointer data) {
                         static_cast<Watched *>(data)->fractions.push_back(
                             gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(object)));
                     }),
                     &seen);
    g_signal_connect(bar, "expose-event", G_CALLBACK(+[](GtkWidget *, GdkEvent *, gpointer data) -> gboolean {
                         static_cast<Watched *>(data)->exposes++;
                         return FALSE;
                     }),
                     &seen);
    support::click(widget(window->createMode));
    typeInto(window->sourceText, folder + "/big.sfc");
    typeInto(window->targetText, folder + "/big.new");
    Box box = pressOk(*window);
    EXPECT_EQ("Patch creation was successful!\nOutput file name: big.qpt", box.text);

    // 1, 2, 3, ... percent, each shown once, and a full bar once the run has succeeded.
    while (!seen.fractions.empty() && seen.fractions.front() == 0.0)
        seen.fractions.erase(seen.fractions.begin());
    ASSERT_EQ(seen.fractions.size(), 100u);
    for (size_t i = 0; i < seen.fractions.size(); i++)
        EXPECT_NEAR(double(i + 1) / 100, seen.fractions[i], 1e-9);
    // The bar was drawn while the work went on, not only once it was over.
    EXPECT_GE(seen.exposes, 20);
    EXPECT_LE(seen.exposes, 150);
    std::filesystem::remove_all(folder);
}

// Whether a path box shows the end of its text (a path's file name), however long the text is.
bool showsEnd(tamber::TextBox &box) {
    GtkEntry *entry = GTK_ENTRY(widget(box));
    support::settle();
    PangoLayout *layout = gtk_entry_get_layout(entry);
    int x = 0, y = 0;
    gtk_entry_get_layout_offsets(entry, &x, &y);
    PangoRectangle end;
    pango_layout_index_to_pos(layout, int(strlen(pango_layout_get_text(layout))), &end);
    int endX = x + PANGO_PIXELS(end.x);
    return endX >= 0 && endX <= widget(box)->allocation.width;
}

class Dropping : public support::ToolkitTest {};

TEST_F(Dropping, files_fill_the_box_they_land_on_or_the_boxes_the_mode_gives_them) {
    std::string folder = freshFolder("vopra-drop");
    std::filesystem::create_directories(folder + "/sub");
    const std::string longName = std::string(120, 'l') + ".sfc";
    for (const std::string &name :
         {std::string("game.sfc"), std::string("new.sfc"), std::string("fix.QPT"), longName})
        std::ofstream(folder + "/" + name) << name;
    // Names are of files in the folder; "" is an empty box.
    auto path = [&](const std::string &name) { return name.empty() ? name : folder + "/" + name; };
    using Names = std::vector<std::string>;
    enum Onto { SourceBox, TargetBox, Elsewhere };
    struct Case {
        const char *what;
        bool create;
        bool running;
        std::string source, target; // the boxes before the drop
        Onto onto;
        Names files; // names in the folder, or URIs of other places
        std::string sourceAfter, targetAfter;
        bool ok;
    } cases[] = {
        // clang-format off
        {"a box takes any file, patch or not", false, false, "", "kept", TargetBox, {"fix.QPT"},
         "", "fix.QPT", false},
        {"a long path shows its file name", false, false, "", "", TargetBox, {longName}, "", longName, false},
        {"a box takes the first of several", false, false, "kept", "other", SourceBox,
         {"game.sfc", "new.sfc"}, "game.sfc", "other", true},
        {"apply: the patch by its extension, any case", false, false, "", "", Elsewhere,
         {"game.sfc", "fix.QPT"}, "fix.QPT", "game.sfc", true},
        {"apply: another file fills the target", false, false, "kept.qpt", "", Elsewhere, {"new.sfc"},
         "kept.qpt", "new.sfc", true},
        {"create: two files are source and target", true, false, "kept", "other", Elsewhere,
         {"game.sfc", "new.sfc"}, "game.sfc", "new.sfc", true},
        {"create: one file fills the first empty box", true, false, "", "", Elsewhere, {"game.sfc"},
         "game.sfc", "", false},
        {"create: one file fills the target after a source", true, false, "game.sfc", "", Elsewhere,
         {"new.sfc"}, "game.sfc", "new.sfc", true},
        {"folders and other places change nothing", true, false, "", "", Elsewhere,
         {"sub", "http://example.org/x.sfc", "sftp://host/y.sfc"}, "", "", false},
        {"a folder on a box changes nothing", false, false, "kept", "", SourceBox, {"sub"},
         "kept", "", false},
        {"while an operation runs a box stays", false, true, "kept", "", SourceBox, {"fix.QPT"},
         "kept", "", false},
        {"while an operation runs the window stays", true, true, "", "", Elsewhere, {"game.sfc", "new.sfc"},
         "", "", false},
        // clang-format on
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        Application *window = openWindow();
        if (c.create)
            window->createMode.setChecked();
        window->sourceText.setText(path(c.source).c_str());
        window->targetText.setText(path(c.target).c_str());
        window->synchronize();
        if (c.running)
            window->beginOperation();
        Names uris;
        for (const std::string &name : c.files)
            uris.push_back(name.find(':') != std::string::npos ? name : support::fileUri(path(name)));
        tamber::Widget *onto[] = {&window->sourceText, &window->targetText, &window->sourceLabel};
        EXPECT_TRUE(support::dropFiles(support::screenCenter(widget(*onto[c.onto])), uris));
        EXPECT_EQ(path(c.sourceAfter), std::string(window->sourceText.text()));
        EXPECT_EQ(path(c.targetAfter), std::string(window->targetText.text()));
        EXPECT_EQ(c.ok, window->okButton.enabled());
        EXPECT_TRUE(showsEnd(window->sourceText) && showsEnd(window->targetText));
        EXPECT_EQ(nullptr, support::liveDialog());
        closeWindow(window);
    }
    std::filesystem::remove_all(folder);
}

TEST_F(MainWindow, closing_the_window_ends_the_program) {
    support::sendCloseRequest(widget(*window));
    EXPECT_TRUE(runUntilQuit(5000));
    EXPECT_FALSE(window->visible());
}

} // namespace
