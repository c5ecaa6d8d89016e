// Start-up, the event loop and a small window built from the toolkit's pieces, used as a person would.

#include "support.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "tamber/button.h"
#include "tamber/font.h"
#include "tamber/label.h"
#include "tamber/progressbar.h"
#include "tamber/radiobox.h"
#include "tamber/textbox.h"
#include "tamber/toolkit.h"

extern char **environ;

// This binary's own gtk_init_check and gtk_rc_parse_string stand in front of GTK's, so the test sees how
// often and with what the toolkit starts GTK. Start-up runs during static construction, so everything
// they record is constant-initialised.
namespace record {
int initCalls = 0;
int initArgc = -1;
char initArgv0[64];
bool initArgvEnds = false;
int styleCalls = 0;
char style[1024];
} // namespace record

extern "C" gboolean gtk_init_check(int *argc, char ***argv) {
    record::initCalls++;
    record::initArgc = argc ? *argc : -1;
    if (argv && *argv && (*argv)[0]) {
        strncpy(record::initArgv0, (*argv)[0], sizeof record::initArgv0 - 1);
        record::initArgvEnds = (*argv)[1] == nullptr;
    }
    auto real = reinterpret_cast<gboolean (*)(int *, char ***)>(dlsym(RTLD_NEXT, "gtk_init_check"));
    return real(argc, argv);
}

extern "C" void gtk_rc_parse_string(const gchar *text) {
    record::styleCalls++;
    strncpy(record::style, text, sizeof record::style - 1);
    auto real = reinterpret_cast<void (*)(const gchar *)>(dlsym(RTLD_NEXT, "gtk_rc_parse_string"));
    real(text);
}

using namespace tamber;
using support::stateOf;
using support::widgetOf;

namespace {

// Runs this binary again as the named child (see main) with the given environment change and extra
// arguments; answers its exit status and what it wrote to stderr and stdout.
int runChild(const char *child, bool withDisplay, const char *extraArgument, std::string &errors,
             std::string &output) {
    const char *argv[] = {"/proc/self/exe", nullptr, nullptr, nullptr};
    if (extraArgument) {
        argv[1] = "--display";
        argv[2] = extraArgument;
    }
    std::vector<std::string> variables{std::string("TAMBER_TEST_CHILD=") + child};
    for (char **variable = environ; *variable; variable++)
        if (withDisplay || strncmp(*variable, "DISPLAY=", 8) != 0)
            variables.push_back(*variable);
    std::vector<char *> envp;
    for (std::string &variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    // Both outputs are small, far below a pipe's buffer, so reading one after the other cannot stall.
    int errorPipe[2], outputPipe[2];
    if (pipe(errorPipe) != 0 || pipe(outputPipe) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errorPipe[1], 2);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], 1);
    for (int fd : {errorPipe[0], errorPipe[1], outputPipe[0], outputPipe[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    pid_t pid = 0;
    int spawned =
        posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, const_cast<char **>(argv), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(errorPipe[1]);
    close(outputPipe[1]);
    if (spawned == 0) {
        for (auto [fd, text] : {std::pair{errorPipe[0], &errors}, std::pair{outputPipe[0], &output}}) {
            char buffer[4096];
            ssize_t got;
            while ((got = read(fd, buffer, sizeof buffer)) > 0)
                text->append(buffer, size_t(got));
        }
    }
    close(errorPipe[0]);
    close(outputPipe[0]);
    if (spawned != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Toolkit objects living as long as the program, as an application's would.
Window staticWindow;
Font staticFont;

TEST(Startup, gtk_starts_once_with_its_own_argument_vector_and_the_style) {
    // Start-up already happened during static construction; make more objects before and inside the loop.
    {
        Window window;
        Label label;
        Font font;
    }
    g_idle_add(
        [](gpointer) -> gboolean {
            Button button;
            TextBox box;
            Toolkit::quit();
            return FALSE;
        },
        nullptr);
    Toolkit::main();

    EXPECT_TRUE(Toolkit::ready());
    EXPECT_EQ(record::initCalls, 1);
    EXPECT_EQ(record::initArgc, 1);
    EXPECT_STREQ(record::initArgv0, "tamber");
    EXPECT_TRUE(record::initArgvEnds);
    EXPECT_EQ(record::styleCalls, 1);
    EXPECT_STREQ(record::style, "style \"tamber-gtk\"\n"
                                "{\n"
                                "  GtkComboBox::appears-as-list = 1\n"
                                "  GtkTreeView::vertical-separator = 0\n"
                                "}\n"
                                "class \"GtkComboBox\" style \"tamber-gtk\"\n"
                                "class \"GtkTreeView\" style \"tamber-gtk\"\n");
}

TEST(Startup, style_turns_combo_boxes_into_lists_and_removes_row_gaps) {
    staticWindow.create(0, 0, 200, 200, "style");
    GtkWidget *combo = gtk_combo_box_new_text();
    GtkWidget *tree = gtk_tree_view_new();
    gtk_fixed_put(GTK_FIXED(stateOf(staticWindow).formContainer), combo, 0, 0);
    gtk_fixed_put(GTK_FIXED(stateOf(staticWindow).formContainer), tree, 0, 50);
    gtk_widget_ensure_style(combo);
    gtk_widget_ensure_style(tree);
    gboolean list = FALSE;
    gint separator = -1;
    gtk_widget_style_get(combo, "appears-as-list", &list, nullptr);
    gtk_widget_style_get(tree, "vertical-separator", &separator, nullptr);
    EXPECT_TRUE(list);
    EXPECT_EQ(separator, 0);
}

TEST(Startup, without_a_display_the_toolkit_says_so_quietly) {
    std::string errors, output;
    EXPECT_EQ(runChild("without_display", false, nullptr, errors, output), 0) << output;
    EXPECT_EQ(errors, "") << "the toolkit (or GTK through it) printed";
}

TEST(Startup, a_program_that_goes_on_without_a_display_ends_with_one_line) {
    std::string errors, output;
    // runChild answers -1 for a child killed by a signal.
    EXPECT_EQ(runChild("program_without_display", false, nullptr, errors, output), 1) << errors;
    EXPECT_EQ(errors, "tamber: cannot open the X display: DISPLAY is not set\n");
}

TEST(Startup, process_arguments_never_reach_gtk) {
    // GTK would fail to open a display that does not exist, were it given the process's arguments.
    std::string errors, output;
    EXPECT_EQ(runChild("with_display_arguments", true, ":4077", errors, output), 0) << output << errors;
}

class Loop : public support::ToolkitTest {};

TEST_F(Loop, run_handles_what_waits_and_never_blocks) {
    support::settle();
    // A run that blocked would wait for the next event, and the first one due is this timer's; a run that
    // returns at once leaves it unfired. No clock is read, so a loaded machine cannot fail the test.
    bool fired = false;
    guint timer = g_timeout_add_seconds(
        20,
        [](gpointer data) -> gboolean {
            *static_cast<bool *>(data) = true;
            return FALSE;
        },
        &fired);
    Toolkit::run();
    EXPECT_FALSE(fired) << "run blocked with nothing to do";
    if (!fired)
        g_source_remove(timer);

    int ran = 0;
    g_idle_add(
        [](gpointer data) -> gboolean {
            ++*static_cast<int *>(data);
            return FALSE;
        },
        &ran);
    EXPECT_TRUE(Toolkit::pending());
    Toolkit::run();
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(Toolkit::pending());
}

TEST_F(Loop, run_inside_a_callback_returns_to_it) {
    struct Run {
        int inner = 0;
        bool innerRanInside = false;
    } run;
    g_idle_add(
        [](gpointer data) -> gboolean {
            Run &run = *static_cast<Run *>(data);
            g_idle_add(
                [](gpointer data) -> gboolean {
                    static_cast<Run *>(data)->inner++;
                    return FALSE;
                },
                &run);
            Toolkit::run();
            run.innerRanInside = run.inner == 1;
            Toolkit::quit();
            return FALSE;
        },
        &run);
    Toolkit::main();
    EXPECT_TRUE(run.innerRanInside);
    EXPECT_EQ(run.inner, 1);
}

TEST_F(Loop, desktop_size_is_the_screens) {
    EXPECT_EQ(Toolkit::desktopWidth(), support::screenWidth());
    EXPECT_EQ(Toolkit::desktopHeight(), support::screenHeight());
}

// A small window of the toolkit's pieces, built as an application builds its own: static objects, a
// default font, callbacks bound to the window's members. The user types a name, picks an option, presses
// the button (which works, moves the progress bar and reports in the status bar) and closes the window.
class Form : public Window {
public:
    Label caption;
    TextBox name;
    RadioBox quick, thorough;
    Button go;
    ProgressBar progress;
    Font font;
    int changes = 0;
    int picks = 0;
    bool closed = false;

    void initialize() {
        create(200, 150, 320, 180, "Form");
        font.create("Sans", 8, 0);
        setDefaultFont(font);
        caption.create(*this, 10, 10, 80, 24, "Name:");
        name.create(*this, 100, 10, 200, 26, "");
        quick.create(*this, 10, 50, 140, 24, "Quick");
        thorough.create(quick, 160, 50, 140, 24, "Thorough");
        go.create(*this, 10, 90, 100, 30, "Go");
        progress.create(*this, 10, 140, 300, 20);
        go.setEnabled(false);
        name.onChange = rudd::function<void()>(&Form::nameChanged, this);
        thorough.onToggle = [this] { picks++; };
        go.onClick = rudd::function<void()>(&Form::goClicked, this);
        onClose = rudd::function<bool()>(&Form::closing, this);
        setStatusVisible(true);
    }

    void nameChanged() {
        changes++;
        go.setEnabled(!name.text().empty());
    }

    void goClicked() {
        name.setEnabled(false);
        for (unsigned step = 0; step <= 100; step += 25) {
            progress.setPosition(step);
            Toolkit::run();
        }
        rudd::string status("Done: ", name.text(), thorough.checked() ? " (thorough)" : " (quick)");
        setStatusText(status);
        caption.setText("Finished");
    }

    bool closing() {
        closed = true;
        Toolkit::quit();
        return true;
    }
};

Form form;

TEST_F(Loop, small_window_is_shown_used_and_closed) {
    form.initialize();
    ASSERT_TRUE(support::showWindow(form));
    EXPECT_FALSE(form.go.enabled());

    // The user's session runs inside the main loop, step by step from a timer.
    struct Session {
        int step = 0;
        gint64 deadline;
    } session{0, g_get_monotonic_time() + 30 * 1000000};
    g_timeout_add(
        20,
        [](gpointer data) -> gboolean {
            Session &session = *static_cast<Session *>(data);
            if (g_get_monotonic_time() > session.deadline) {
                ADD_FAILURE() << "the session stalled at step " << session.step;
                Toolkit::quit();
                return FALSE;
            }
            switch (session.step) {
            case 0:
                support::clickNow(widgetOf(form.name));
                break;
            case 1:
                for (const char *c = "data"; *c; c++)
                    support::pressKeyNow(static_cast<unsigned char>(*c));
                break;
            case 2:
                if (!form.go.enabled())
                    return TRUE;
                support::clickNow(widgetOf(form.thorough));
                break;
            case 3:
                if (!form.thorough.checked())
                    return TRUE;
                support::clickNow(widgetOf(form.go));
                break;
            case 4:
                if (form.name.enabled())
                    return TRUE;
                support::sendCloseRequest(widgetOf(form));
                break;
            default:
                return TRUE; // the close request ends the loop
            }
            session.step++;
            return TRUE;
        },
        &session);
    Toolkit::main();
    g_source_remove_by_user_data(&session);

    EXPECT_TRUE(form.closed);
    EXPECT_FALSE(form.visible());
    EXPECT_STREQ(form.name.text(), "data");
    EXPECT_EQ(form.changes, 4);
    EXPECT_EQ(form.picks, 1);
    EXPECT_FALSE(form.quick.checked());
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(widgetOf(form.progress))), 1.0);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(widgetOf(form.caption))), "Finished");
    GtkWidget *area = gtk_statusbar_get_message_area(GTK_STATUSBAR(stateOf(form).statusBar));
    GList *children = gtk_container_get_children(GTK_CONTAINER(area));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(children->data)), "Done: data (thorough)");
    g_list_free(children);
    EXPECT_EQ(pango_font_description_get_size(gtk_widget_get_modifier_style(widgetOf(form.name))->font_desc),
              8 * PANGO_SCALE);
}

} // namespace

// The start-up tests' children: this binary started again with TAMBER_TEST_CHILD naming one of them
// runs it instead of the tests and ends with its status. Start-up has already happened by then, during
// static construction, in the environment the parent gave.
int main(int argc, char **argv) {
    const char *child = getenv("TAMBER_TEST_CHILD");
    if (!child) {
        testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    if (strcmp(child, "without_display") == 0)
        return Toolkit::ready() ? 1 : 0;
    if (strcmp(child, "with_display_arguments") == 0)
        return Toolkit::ready() ? 0 : 1;
    if (strcmp(child, "program_without_display") == 0) {
        // The shape of a toolkit program that never asks ready(): construct, create, show, run.
        Window window;
        Label label;
        window.create(0, 0, 100, 50, "no display");
        label.create(window, 0, 0, 100, 20, "never shown");
        window.setVisible(true);
        Toolkit::main();
        return 0;
    }
    return 2;
}
