#include "tamber/dialogs.h"

#include "tamber/internal.h"

namespace tamber {

namespace {

// A name without spaces (a path, a file name) would keep a label on one line as wide as itself, and a
// box wider than the screen is centred off both its edges with its button out of reach. Breaking
// between characters where no word break fits keeps each label within the width GTK gives wrapped text
// (half the screen), and a box that fits is kept on the screen by GTK. No hyphen is added at such a
// break: in a name it would read as part of the name.
void wrapAnywhere(GtkWidget *widget, gpointer) {
    if (!GTK_IS_LABEL(widget))
        return;
    GtkLabel *label = GTK_LABEL(widget);
    gtk_label_set_line_wrap_mode(label, PANGO_WRAP_WORD_CHAR);
    PangoAttrList *own = gtk_label_get_attributes(label);
    PangoAttrList *attributes = own ? pango_attr_list_copy(own) : pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
    gtk_label_set_attributes(label, attributes);
    pango_attr_list_unref(attributes);
}

Toolkit::DialogResponse showMessage(Window &parent, GtkMessageType type, const rudd::string &text,
                                    Toolkit::DialogButtons buttons, const rudd::string &secondary) {
    requireDisplay();
    GtkButtonsType buttonSet = GTK_BUTTONS_OK;
    if (buttons == Toolkit::DialogButtons::OkCancel)
        buttonSet = GTK_BUTTONS_OK_CANCEL;
    else if (buttons == Toolkit::DialogButtons::YesNo)
        buttonSet = GTK_BUTTONS_YES_NO;

    // The text goes in as an argument, so a percent sign in it is shown as it stands.
    GtkWidget *dialog =
        gtk_message_dialog_new(parentWindowOf(parent), GTK_DIALOG_MODAL, type, buttonSet, "%s", text.text());
    if (!secondary.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", secondary.text());
    gtk_container_foreach(GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog))),
                          wrapAnywhere, nullptr);
    gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);

    switch (response) {
    case GTK_RESPONSE_OK:
        return Toolkit::DialogResponse::Ok;
    case GTK_RESPONSE_CANCEL:
        return Toolkit::DialogResponse::Cancel;
    case GTK_RESPONSE_YES:
        return Toolkit::DialogResponse::Yes;
    case GTK_RESPONSE_NO:
        return Toolkit::DialogResponse::No;
    default:
        // Escape or a close through the window manager: the answer that commits to nothing.
        if (buttons == Toolkit::DialogButtons::OkCancel)
            return Toolkit::DialogResponse::Cancel;
        if (buttons == Toolkit::DialogButtons::YesNo)
            return Toolkit::DialogResponse::No;
        return Toolkit::DialogResponse::Ok;
    }
}

GtkWidget *newChooser(Window &parent, const char *title, GtkFileChooserAction action,
                      const rudd::string &folder) {
    requireDisplay();
    GtkWidget *dialog = gtk_file_chooser_dialog_new(title, parentWindowOf(parent), action, GTK_STOCK_CANCEL,
                                                    GTK_RESPONSE_CANCEL, GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT,
                                                    static_cast<const char *>(nullptr));
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), folder);
    return dialog;
}

// Each "\n"-separated entry becomes one filter: its name, then "\t", then a comma list of patterns.
void addFilters(GtkWidget *dialog, const rudd::string &filter) {
    rudd::string_list entries;
    entries.split("\n", filter);
    for (uint32_t i = 0; i < entries.count(); i++) {
        rudd::string_list parts;
        parts.split("\t", entries[i]);
        if (parts.count() < 2)
            parts.resize(2);
        GtkFileFilter *fileFilter = gtk_file_filter_new();
        gtk_file_filter_set_name(fileFilter, rudd::string(parts[0], " (", parts[1], ")"));
        rudd::string_list patterns;
        patterns.split(",", parts[1]);
        for (uint32_t j = 0; j < patterns.count(); j++)
            gtk_file_filter_add_pattern(fileFilter, patterns[j]);
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), fileFilter);
    }
}

// Runs the chooser and answers the accepted file name, or the empty text.
rudd::string runChooser(GtkWidget *dialog) {
    rudd::string result;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        gchar *name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
        if (name) {
            result = name;
            g_free(name);
        }
    }
    gtk_widget_destroy(dialog);
    return result;
}

rudd::string chooseFile(Window &parent, const char *title, GtkFileChooserAction action,
                        const rudd::string &filter, const rudd::string &folder) {
    GtkWidget *dialog = newChooser(parent, title, action, folder);
    addFilters(dialog, filter);
    return runChooser(dialog);
}

} // namespace

Toolkit::DialogResponse Toolkit::information(Window &parent, const rudd::string &text, DialogButtons buttons,
                                             const rudd::string &secondary) {
    return showMessage(parent, GTK_MESSAGE_INFO, text, buttons, secondary);
}

Toolkit::DialogResponse Toolkit::question(Window &parent, const rudd::string &text, DialogButtons buttons,
                                          const rudd::string &secondary) {
    return showMessage(parent, GTK_MESSAGE_QUESTION, text, buttons, secondary);
}

Toolkit::DialogResponse Toolkit::warning(Window &parent, const rudd::string &text, DialogButtons buttons,
                                         const rudd::string &secondary) {
    return showMessage(parent, GTK_MESSAGE_WARNING, text, buttons, secondary);
}

Toolkit::DialogResponse Toolkit::critical(Window &parent, const rudd::string &text, DialogButtons buttons,
                                          const rudd::string &secondary) {
    return showMessage(parent, GTK_MESSAGE_ERROR, text, buttons, secondary);
}

rudd::string Toolkit::fileOpen(Window &parent, const rudd::string &filter, const rudd::string &folder) {
    return chooseFile(parent, "Open File", GTK_FILE_CHOOSER_ACTION_OPEN, filter, folder);
}

rudd::string Toolkit::fileSave(Window &parent, const rudd::string &filter, const rudd::string &folder) {
    return chooseFile(parent, "Save File", GTK_FILE_CHOOSER_ACTION_SAVE, filter, folder);
}

rudd::string Toolkit::folderSelect(Window &parent, const rudd::string &folder) {
    rudd::string result =
        runChooser(newChooser(parent, "Select Folder", GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, folder));
    uint32_t length = result.length();
    if (length == 0 || result[length - 1] != '/')
        result.append("/");
    return result;
}

} // namespace tamber
