// Message, file and folder dialogs, answered from inside their own modal loop with real input and read
// back from the live GTK widgets.

#include "support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "tamber/dialogs.h"

using namespace tamber;
using Buttons = Toolkit::DialogButtons;
using Response = Toolkit::DialogResponse;

namespace {

// What the live dialog showed.
struct Seen {
    std::string title;
    std::string text;
    std::string secondary; // the second label's text, as shown: empty when it is hidden
    int messageType = -1;
    GtkWindow *transientFor = nullptr;
    bool modal = false;
    std::vector<std::string> buttons; // stock ids or labels, left to right
    std::vector<gint> responses;      // the same buttons' responses
};

void collectButton(GtkWidget *child, gpointer data) {
    if (GTK_IS_BUTTON(child) && gtk_widget_get_visible(child))
        static_cast<std::vector<GtkWidget *> *>(data)->push_back(child);
}

Seen look(GtkWidget *dialog) {
    Seen seen;
    const char *title = gtk_window_get_title(GTK_WINDOW(dialog));
    seen.title = title ? title : "";
    if (GTK_IS_MESSAGE_DIALOG(dialog)) {
        gchar *text = nullptr;
        GtkMessageType type;
        g_object_get(dialog, "text", &text, "message-type", &type, nullptr);
        seen.text = text ? text : "";
        seen.messageType = type;
        g_free(text);
        GList *labels = gtk_container_get_children(
            GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))));
        if (GList *second = g_list_nth(labels, 1); second && gtk_widget_get_visible(GTK_WIDGET(second->data)))
            seen.secondary = gtk_label_get_text(GTK_LABEL(second->data));
        g_list_free(labels);
    }
    seen.transientFor = gtk_window_get_transient_for(GTK_WINDOW(dialog));
    seen.modal = gtk_window_get_modal(GTK_WINDOW(dialog));
    std::vector<GtkWidget *> buttons;
    gtk_container_foreach(GTK_CONTAINER(gtk_dialog_get_action_area(GTK_DIALOG(dialog))), collectButton,
                          &buttons);
    std::sort(buttons.begin(), buttons.end(),
              [](GtkWidget *a, GtkWidget *b) { return a->allocation.x < b->allocation.x; });
    for (GtkWidget *button : buttons) {
        const char *label = gtk_button_get_label(GTK_BUTTON(button));
        seen.buttons.push_back(label ? label : "");
        seen.responses.push_back(gtk_dialog_get_response_for_widget(GTK_DIALOG(dialog), button));
    }
    return seen;
}

enum class Answer { Button, Escape, Close };

// Opens the next dialog's answer: looks at it, then answers by clicking the button of `response`,
// pressing Escape over it or sending it a window manager's close request.
void answerWith(Seen &seen, Answer answer, gint response = GTK_RESPONSE_NONE) {
    support::answerDialog([&seen, answer, response](GtkWidget *dialog) {
        seen = look(dialog);
        switch (answer) {
        case Answer::Button: {
            GtkWidget *button = support::dialogButton(dialog, response);
            if (!button)
                return false;
            support::clickNow(button);
            break;
        }
        case Answer::Escape:
            support::movePointerNow(dialog);
            support::pressKeyNow(XK_Escape);
            break;
        case Answer::Close:
            support::sendCloseRequest(dialog);
            break;
        }
        return true;
    });
}

class Dialogs : public support::WindowTest {
protected:
    Dialogs() : WindowTest(100, 100, 300, 200, "parent") {}
    void SetUp() override {
        support::WindowTest::SetUp();
        ASSERT_TRUE(support::showWindow(window));
    }
    void TearDown() override {
        EXPECT_EQ(support::liveDialog(), nullptr) << "a dialog was left open";
        support::WindowTest::TearDown();
    }
};

using Show = Response (*)(Window &, const rudd::string &, Buttons, const rudd::string &);

TEST_F(Dialogs, every_button_set_answers_by_button_escape_and_close) {
    struct Case {
        Buttons buttons;
        Answer answer;
        gint response;
        Response expected;
        std::vector<std::string> shown;
    };
    const std::vector<std::string> ok{"gtk-ok"}, okCancel{"gtk-cancel", "gtk-ok"}, yesNo{"gtk-no", "gtk-yes"};
    const Case cases[] = {
        {Buttons::Ok, Answer::Button, GTK_RESPONSE_OK, Response::Ok, ok},
        {Buttons::Ok, Answer::Escape, 0, Response::Ok, ok},
        {Buttons::Ok, Answer::Close, 0, Response::Ok, ok},
        {Buttons::OkCancel, Answer::Button, GTK_RESPONSE_OK, Response::Ok, okCancel},
        {Buttons::OkCancel, Answer::Button, GTK_RESPONSE_CANCEL, Response::Cancel, okCancel},
        {Buttons::OkCancel, Answer::Escape, 0, Response::Cancel, okCancel},
        {Buttons::OkCancel, Answer::Close, 0, Response::Cancel, okCancel},
        {Buttons::YesNo, Answer::Button, GTK_RESPONSE_YES, Response::Yes, yesNo},
        {Buttons::YesNo, Answer::Button, GTK_RESPONSE_NO, Response::No, yesNo},
        {Buttons::YesNo, Answer::Escape, 0, Response::No, yesNo},
        {Buttons::YesNo, Answer::Close, 0, Response::No, yesNo},
        // Any other value is the Ok set.
        {Buttons(7), Answer::Button, GTK_RESPONSE_OK, Response::Ok, ok},
        {Buttons(7), Answer::Close, 0, Response::Ok, ok},
    };
    int index = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE("case " + std::to_string(index++));
        Seen seen;
        answerWith(seen, c.answer, c.response);
        Response response = Toolkit::question(window, "Go on?", c.buttons);
        EXPECT_TRUE(support::dialogAnswered());
        EXPECT_EQ(response, c.expected);
        EXPECT_EQ(seen.buttons, c.shown);
        EXPECT_EQ(support::liveDialog(), nullptr) << "the dialog was not destroyed";
    }
}

TEST_F(Dialogs, each_kind_shows_its_message_type_and_the_text_literally) {
    struct Case {
        Show show;
        GtkMessageType type;
        const char *secondary; // "" shows the text alone
    } cases[] = {{Toolkit::information, GTK_MESSAGE_INFO, ""},
                 {Toolkit::question, GTK_MESSAGE_QUESTION, "why: 50% %s"},
                 {Toolkit::warning, GTK_MESSAGE_WARNING, "why: 50% %s"},
                 {Toolkit::critical, GTK_MESSAGE_ERROR, ""}};
    for (const Case &c : cases) {
        Seen seen;
        answerWith(seen, Answer::Button, GTK_RESPONSE_OK);
        EXPECT_EQ(c.show(window, "100% done: %s %d %n %%", Buttons::Ok, c.secondary), Response::Ok);
        EXPECT_EQ(seen.messageType, c.type);
        EXPECT_EQ(seen.text, "100% done: %s %d %n %%");
        EXPECT_EQ(seen.secondary, c.secondary);
        EXPECT_EQ(seen.transientFor, GTK_WINDOW(support::widgetOf(window)));
        EXPECT_TRUE(seen.modal);
    }
}

TEST_F(Dialogs, message_without_parent_has_no_transient_parent) {
    Seen seen;
    answerWith(seen, Answer::Button, GTK_RESPONSE_OK);
    EXPECT_EQ(Toolkit::information(Window::noParent, "alone", Buttons::Ok), Response::Ok);
    EXPECT_TRUE(support::dialogAnswered());
    EXPECT_EQ(seen.transientFor, nullptr);
    EXPECT_EQ(seen.text, "alone");
}

// A fresh folder with a few files in it, removed afterwards.
class Folder {
public:
    Folder() {
        char pattern[] = "/tmp/tamber-dialogs-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~Folder() {
        for (const std::string &file : files)
            unlink(file.c_str());
        for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
            rmdir(folder->c_str());
        rmdir(path.c_str());
    }
    std::string file(const char *name) {
        std::string file = path + "/" + name;
        FILE *f = fopen(file.c_str(), "w");
        if (f)
            fclose(f);
        files.push_back(file);
        return file;
    }
    std::string folder(const char *name) {
        std::string folder = path + "/" + name;
        mkdir(folder.c_str(), 0700);
        folders.push_back(folder);
        return folder;
    }
    void forget(const std::string &file) { files.push_back(file); }
    std::string path;

private:
    std::vector<std::string> files, folders;
};

struct Filters {
    std::vector<std::string> names;
    std::vector<GtkFileFilter *> filters;
};

Filters filtersOf(GtkWidget *dialog) {
    Filters result;
    GSList *list = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(dialog));
    for (GSList *item = list; item; item = item->next) {
        GtkFileFilter *filter = GTK_FILE_FILTER(item->data);
        g_object_ref(filter);
        result.filters.push_back(filter);
        result.names.push_back(gtk_file_filter_get_name(filter));
    }
    g_slist_free(list);
    return result;
}

bool accepts(GtkFileFilter *filter, const char *name) {
    GtkFileFilterInfo info{};
    info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
    info.display_name = name;
    return gtk_file_filter_filter(filter, &info);
}

// Opens a file dialog with the filter text and cancels it, answering what filters it showed.
Filters showFilters(Window &window, const char *text) {
    Filters filters;
    support::answerDialog([&filters](GtkWidget *dialog) {
        filters = filtersOf(dialog);
        support::clickNow(support::dialogButton(dialog, GTK_RESPONSE_CANCEL));
        return true;
    });
    EXPECT_STREQ(Toolkit::fileOpen(window, text, ""), "");
    EXPECT_TRUE(support::dialogAnswered());
    return filters;
}

TEST_F(Dialogs, filter_texts_become_named_filters) {
    using Names = std::vector<std::string>;
    {
        Filters f = showFilters(window, "QPT patches\t*.qpt");
        ASSERT_EQ(f.names, Names{"QPT patches (*.qpt)"});
        EXPECT_TRUE(accepts(f.filters[0], "fix.qpt"));
        EXPECT_FALSE(accepts(f.filters[0], "fix.bin"));
    }
    {
        Filters f = showFilters(window, "QPT patches\t*.qpt\nAll files\t*");
        ASSERT_EQ(f.names, (Names{"QPT patches (*.qpt)", "All files (*)"}));
        EXPECT_TRUE(accepts(f.filters[1], "fix.bin"));
    }
    {
        Filters f = showFilters(window, "Images\t*.png,*.jpg");
        ASSERT_EQ(f.names, Names{"Images (*.png,*.jpg)"});
        EXPECT_TRUE(accepts(f.filters[0], "a.png"));
        EXPECT_TRUE(accepts(f.filters[0], "a.jpg"));
        EXPECT_FALSE(accepts(f.filters[0], "a.gif"));
    }
    {
        // A trailing line feed adds an entry with no name and one empty pattern.
        Filters f = showFilters(window, "Text\t*.txt\n");
        ASSERT_EQ(f.names, (Names{"Text (*.txt)", " ()"}));
        EXPECT_FALSE(accepts(f.filters[1], "a.txt"));
    }
    {
        Filters f = showFilters(window, "");
        ASSERT_EQ(f.names, Names{" ()"});
        EXPECT_FALSE(accepts(f.filters[0], "anything"));
    }
    {
        Filters f = showFilters(window, "Docs");
        ASSERT_EQ(f.names, Names{"Docs ()"});
        EXPECT_FALSE(accepts(f.filters[0], "Docs"));
    }
    {
        // Text after a second tab is ignored.
        Filters f = showFilters(window, "Code\t*.c\t*.h");
        ASSERT_EQ(f.names, Names{"Code (*.c)"});
        EXPECT_TRUE(accepts(f.filters[0], "a.c"));
        EXPECT_FALSE(accepts(f.filters[0], "a.h"));
    }
}

TEST_F(Dialogs, file_open_cancels_and_accepts) {
    Folder folder;
    std::string chosen = folder.file("patch.qpt");
    folder.file("other.bin");

    Seen seen;
    std::string current;
    support::answerDialog([&](GtkWidget *dialog) {
        seen = look(dialog);
        // The chooser changes folder in the background; wait until it tells.
        gchar *shown = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
        current = shown ? shown : "";
        g_free(shown);
        if (current.empty())
            return false;
        EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog)), GTK_FILE_CHOOSER_ACTION_OPEN);
        support::clickNow(support::dialogButton(dialog, GTK_RESPONSE_CANCEL));
        return true;
    });
    EXPECT_STREQ(Toolkit::fileOpen(window, "QPT patches\t*.qpt", folder.path.c_str()), "");
    EXPECT_TRUE(support::dialogAnswered());
    EXPECT_EQ(seen.title, "Open File");
    EXPECT_EQ(seen.buttons, (std::vector<std::string>{"gtk-cancel", "gtk-open"}));
    EXPECT_EQ(seen.responses, (std::vector<gint>{GTK_RESPONSE_CANCEL, GTK_RESPONSE_ACCEPT}));
    EXPECT_EQ(seen.transientFor, GTK_WINDOW(support::widgetOf(window)));
    EXPECT_TRUE(seen.modal);
    EXPECT_EQ(current, folder.path);

    // Escape answers nothing either.
    answerWith(seen, Answer::Escape);
    EXPECT_STREQ(Toolkit::fileOpen(window, "All files\t*", folder.path.c_str()), "");

    // Select the file as the user would, then press the open button.
    support::answerDialog([&](GtkWidget *dialog) {
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        gchar *selected = gtk_file_chooser_get_filename(chooser);
        bool ready = selected && chosen == selected;
        g_free(selected);
        if (!ready) {
            gtk_file_chooser_select_filename(chooser, chosen.c_str());
            return false;
        }
        support::clickNow(support::dialogButton(dialog, GTK_RESPONSE_ACCEPT));
        return true;
    });
    EXPECT_STREQ(Toolkit::fileOpen(window, "QPT patches\t*.qpt", folder.path.c_str()), chosen.c_str());
    EXPECT_TRUE(support::dialogAnswered());
}

TEST_F(Dialogs, file_save_takes_a_typed_name_without_asking_to_overwrite) {
    Folder folder;
    std::string existing = folder.file("old.qpt");

    Seen seen;
    bool confirms = true;
    bool typed = false;
    support::answerDialog([&](GtkWidget *dialog) {
        if (!typed) {
            seen = look(dialog);
            confirms = gtk_file_chooser_get_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog));
            EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog)), GTK_FILE_CHOOSER_ACTION_SAVE);
            // The name entry has the focus; keys go to the window under the pointer.
            support::movePointerNow(dialog);
            for (const char *c = "new.qpt"; *c; c++)
                support::pressKeyNow(*c == '.' ? XK_period : static_cast<unsigned char>(*c));
            typed = true;
            return false;
        }
        // Press the open button once the name has arrived in the entry.
        GtkWidget *entry = gtk_window_get_focus(GTK_WINDOW(dialog));
        if (!entry || !GTK_IS_ENTRY(entry) || strcmp(gtk_entry_get_text(GTK_ENTRY(entry)), "new.qpt") != 0)
            return false;
        support::clickNow(support::dialogButton(dialog, GTK_RESPONSE_ACCEPT));
        return true;
    });
    std::string named = folder.path + "/new.qpt";
    folder.forget(named);
    EXPECT_STREQ(Toolkit::fileSave(window, "QPT patches\t*.qpt", folder.path.c_str()), named.c_str());
    EXPECT_TRUE(support::dialogAnswered());
    EXPECT_EQ(seen.title, "Save File");
    EXPECT_EQ(seen.buttons, (std::vector<std::string>{"gtk-cancel", "gtk-open"}));
    EXPECT_FALSE(confirms);

    // An existing name is taken as it is: no overwrite question opens.
    support::answerDialog([&](GtkWidget *dialog) {
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), "old.qpt");
        support::clickNow(support::dialogButton(dialog, GTK_RESPONSE_ACCEPT));
        return true;
    });
    EXPECT_STREQ(Toolkit::fileSave(window, "All files\t*", folder.path.c_str()), existing.c_str());

    answerWith(seen, Answer::Close);
    EXPECT_STREQ(Toolkit::fileSave(Window::noParent, "All files\t*", folder.path.c_str()), "");
    EXPECT_EQ(seen.transientFor, nullptr);
}

TEST_F(Dialogs, folder_select_always_ends_in_a_slash) {
    Folder folder;
    std::string inner = folder.folder("inner");

    Seen seen;
    support::answerDialog([&](GtkWidget *dialog) {
        seen = look(dialog);
        EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(dialog)),
                  GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
        EXPECT_EQ(gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(dialog)), nullptr);
        gchar *current = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
        bool ready = current && inner == current;
        g_free(current);
        if (!ready)
            return false;
        support::clickNow(support::dialogButton(dialog, GTK_RESPONSE_ACCEPT));
        return true;
    });
    EXPECT_STREQ(Toolkit::folderSelect(window, inner.c_str()), (inner + "/").c_str());
    EXPECT_TRUE(support::dialogAnswered());
    EXPECT_EQ(seen.title, "Select Folder");
    EXPECT_EQ(seen.buttons, (std::vector<std::string>{"gtk-cancel", "gtk-open"}));

    // A path that already ends in "/" (the root) gains none.
    support::answerDialog([](GtkWidget *dialog) {
        gchar *current = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
        bool ready = current && strcmp(current, "/") == 0;
        g_free(current);
        if (!ready)
            return false;
        support::clickNow(support::dialogButton(dialog, GTK_RESPONSE_ACCEPT));
        return true;
    });
    EXPECT_STREQ(Toolkit::folderSelect(window, "/"), "/");
    EXPECT_TRUE(support::dialogAnswered());

    answerWith(seen, Answer::Button, GTK_RESPONSE_CANCEL);
    EXPECT_STREQ(Toolkit::folderSelect(window, inner.c_str()), "/");
    answerWith(seen, Answer::Escape);
    EXPECT_STREQ(Toolkit::folderSelect(Window::noParent, ""), "/");
}

} // namespace
