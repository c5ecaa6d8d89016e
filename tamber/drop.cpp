#include "tamber/internal.h"

namespace tamber {

namespace {

GdkAtom fileTarget() {
    return gdk_atom_intern_static_string("text/uri-list");
}

bool offersFiles(GdkDragContext *context) {
    for (GList *target = gdk_drag_context_list_targets(context); target; target = target->next)
        if (GDK_POINTER_TO_ATOM(target->data) == fileTarget())
            return true;
    return false;
}

// A drop is the toolkit's when it carries files and the widget asks for them; every other drop is left
// to GTK: to the widget's own handling (an entry takes dropped text) or to the widgets around it.
bool takesDrop(Widget *owner, GdkDragContext *context) {
    return owner->onDrop && offersFiles(context);
}

// GTK hands a drop site only data of a target in its list. The file target is in it exactly while the
// toolkit takes the drop, so a text widget keeps GTK's own choice of target for every other drop.
void holdFileTarget(GtkWidget *widget, bool wanted) {
    GtkTargetList *list = gtk_drag_dest_get_target_list(widget);
    guint info = 0;
    bool held = list && gtk_target_list_find(list, fileTarget(), &info);
    if (held == wanted)
        return;
    if (!wanted) {
        gtk_target_list_remove(list, fileTarget());
        return;
    }
    if (!list) {
        list = gtk_target_list_new(nullptr, 0);
        gtk_drag_dest_set_target_list(widget, list);
        gtk_target_list_unref(list);
    }
    gtk_target_list_add_uri_targets(list, 0);
}

gboolean dropMotion(Widget *owner, GdkDragContext *context, gint, gint, guint time, GtkWidget *widget) {
    bool taken = takesDrop(owner, context);
    holdFileTarget(widget, taken);
    if (!taken)
        return FALSE;
    GdkDragAction action = (gdk_drag_context_get_actions(context) & GDK_ACTION_COPY)
                               ? GDK_ACTION_COPY
                               : gdk_drag_context_get_suggested_action(context);
    gdk_drag_status(context, action, time);
    return TRUE;
}

gboolean dropped(Widget *owner, GdkDragContext *context, gint, gint, guint time, GtkWidget *widget) {
    if (!takesDrop(owner, context))
        return FALSE;
    holdFileTarget(widget, true);
    gtk_drag_get_data(widget, context, fileTarget(), time);
    return TRUE;
}

// A file of this machine: no host, or this host by name.
bool localHost(const gchar *host) {
    return !host || !*host || g_ascii_strcasecmp(host, "localhost") == 0 ||
           g_ascii_strcasecmp(host, g_get_host_name()) == 0;
}

void dropReceived(Widget *owner, GdkDragContext *context, gint, gint, GtkSelectionData *data, guint,
                  guint time, GtkWidget *widget) {
    if (gtk_selection_data_get_target(data) != fileTarget())
        return;
    // The widget's own handler would insert the list as text.
    g_signal_stop_emission_by_name(widget, "drag-data-received");
    rudd::string_list files;
    gchar **uris = gtk_selection_data_get_uris(data);
    for (gchar **uri = uris; uri && *uri; uri++) {
        gchar *host = nullptr;
        // The name as the file system holds it: bytes that are not UTF-8 stay as they are.
        gchar *name = g_filename_from_uri(*uri, &host, nullptr);
        if (name && localHost(host))
            files[files.count()] = name;
        g_free(name);
        g_free(host);
    }
    g_strfreev(uris);
    // Finished first, so the source ends its drag before the callback can open a modal dialog.
    gtk_drag_finish(context, files.count() > 0, FALSE, time);
    if (files.count() > 0 && owner->onDrop)
        owner->onDrop(files);
}

} // namespace

void acceptDrops(Widget &owner, GtkWidget *widget) {
    // GTK's text widgets are drop sites already and keep their settings; any other widget becomes a
    // site that GTK leaves entirely to these handlers.
    if (!gtk_drag_dest_get_target_list(widget))
        gtk_drag_dest_set(widget, GtkDestDefaults(0), nullptr, 0, GDK_ACTION_COPY);
    connectSignal(widget, "drag-motion", G_CALLBACK(dropMotion), &owner);
    connectSignal(widget, "drag-drop", G_CALLBACK(dropped), &owner);
    connectSignal(widget, "drag-data-received", G_CALLBACK(dropReceived), &owner);
}

} // namespace tamber
