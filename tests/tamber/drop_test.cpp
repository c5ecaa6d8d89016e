// Files and text dropped from another program, through the X server's drag protocol with real input.

#include "support.h"
#include "support_drag.h"

#include "tamber/editbox.h"
#include "tamber/label.h"
#include "tamber/textbox.h"

using namespace tamber;
using support::widgetOf;

namespace {

using Names = std::vector<std::string>;

// What each drop target was handed.
struct Heard {
    std::vector<Names> calls;
    void bind(Widget &widget) {
        widget.onDrop = [this](const rudd::string_list &files) {
            Names names;
            for (uint32_t i = 0; i < files.count(); i++)
                names.push_back(files[i].text());
            calls.push_back(names);
        };
    }
};

class Drops : public support::ToolkitTest {};

TEST_F(Drops, files_reach_the_widget_that_asks_and_everything_else_stays_gtks) {
    Window window;
    Label label;
    TextBox asking, plain;
    EditBox edit;
    Heard atWindow, atAsking, atEdit;
    atWindow.bind(window);
    atAsking.bind(asking);
    atEdit.bind(edit);
    window.create(40, 40, 420, 200, "drops");
    label.create(window, 10, 10, 200, 25, "a label");
    asking.create(window, 10, 40, 300, 25, "");
    plain.create(window, 10, 70, 300, 25, "");
    edit.create(window, 10, 100, 300, 80, "");
    ASSERT_TRUE(support::showWindow(window));

    const std::string folder = "/tmp/dropped files";
    const std::string odd = "/tmp/caf\xe9.bin"; // Latin-1, not UTF-8: the file system's bytes
    const Names mixed{support::fileUri(folder + "/a b.qpt"), "http://example.org/remote.qpt",
                      support::fileUri(odd), "file://localhost/tmp/c", "sftp://host/unmounted.sfc"};
    const Names local{folder + "/a b.qpt", odd, "/tmp/c"};
    struct Case {
        const char *what;
        Widget *onto;
        bool text;   // plain text instead of files
        Names items; // the URIs (or the one text) offered
        std::vector<Names> window, asking, edit;
        std::string plainText; // a part of what the plain box then holds ("" for nothing)
        std::string editText;
    } cases[] = {
        // clang-format off
        {"files on a label go to the window", &label, false, mixed, {local}, {}, {}, "", ""},
        {"remote files alone call nothing", &label, false, {"http://a/b", "sftp://c/d"}, {}, {}, {}, "", ""},
        {"files on a box that asks go to it, as names, not text", &asking, false, mixed, {}, {local}, {},
         "", ""},
        {"files on a box that does not ask stay GTK's text", &plain, false, {support::fileUri("/tmp/c")},
         {}, {}, {}, "file:///tmp/c", ""},
        {"text on an edit box that asks for files stays GTK's", &edit, true, {"dropped words"}, {}, {}, {},
         "", "dropped words"},
        // clang-format on
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        atWindow.calls.clear();
        atAsking.calls.clear();
        atEdit.calls.clear();
        asking.setText("");
        plain.setText("");
        edit.setText("");
        support::Point to = support::screenCenter(widgetOf(*c.onto));
        ASSERT_TRUE(c.text ? support::dropText(to, c.items[0]) : support::dropFiles(to, c.items));
        EXPECT_EQ(c.window, atWindow.calls);
        EXPECT_EQ(c.asking, atAsking.calls);
        EXPECT_EQ(c.edit, atEdit.calls);
        EXPECT_EQ("", std::string(asking.text()));
        std::string plainText = plain.text().text(), editText = edit.text().text();
        if (c.plainText.empty())
            EXPECT_EQ("", plainText);
        else
            EXPECT_NE(std::string::npos, plainText.find(c.plainText)) << plainText;
        EXPECT_EQ(c.editText, editText);
    }
    window.setVisible(false);
}

} // namespace
