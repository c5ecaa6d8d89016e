// A drag source as a file manager offers one, run as an X client of its own so that a drop crosses the
// X server as it does between two programs. It shows a small window at the given place whose area can
// be dragged with the first button, prints "ready" once it is on screen and "end" when its drag is over,
// then quits.
//   drag_source X Y files URI...  offers text/uri-list, and the same list as text as file managers do
//   drag_source X Y text TEXT     offers only the text

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum Info : guint { Text = 0, Uris = 1 };

struct Offer {
    bool files = false;
    std::vector<std::string> items;
};

void dataGet(GtkWidget *, GdkDragContext *, GtkSelectionData *data, guint info, guint, gpointer user) {
    auto *offer = static_cast<Offer *>(user);
    if (info == Uris) {
        std::vector<gchar *> uris;
        for (std::string &item : offer->items)
            uris.push_back(&item[0]);
        uris.push_back(nullptr);
        gtk_selection_data_set_uris(data, uris.data());
        return;
    }
    std::string text;
    for (const std::string &item : offer->items)
        text += offer->files ? item + "\r\n" : item;
    gtk_selection_data_set_text(data, text.c_str(), -1);
}

void say(const char *word) {
    printf("%s\n", word);
    fflush(stdout);
}

gboolean mapped(GtkWidget *, GdkEvent *, gpointer) {
    gdk_flush();
    say("ready");
    return FALSE;
}

void ended(GtkWidget *, GdkDragContext *, gpointer) {
    say("end");
    gtk_main_quit();
}

} // namespace

int main(int argc, char **argv) {
    if (!gtk_init_check(&argc, &argv) || argc < 5) {
        fputs("usage: drag_source X Y files|text ITEM...\n", stderr);
        return 2;
    }
    Offer offer;
    offer.files = strcmp(argv[3], "files") == 0;
    for (int i = 4; i < argc; i++)
        offer.items.push_back(argv[i]);

    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_move(GTK_WINDOW(window), atoi(argv[1]), atoi(argv[2]));
    gtk_window_set_default_size(GTK_WINDOW(window), 120, 80);
    GtkWidget *area = gtk_event_box_new();
    gtk_container_add(GTK_CONTAINER(window), area);
    gtk_container_add(GTK_CONTAINER(area), gtk_label_new(offer.files ? "files" : "text"));

    GtkTargetList *targets = gtk_target_list_new(nullptr, 0);
    if (offer.files)
        gtk_target_list_add_uri_targets(targets, Uris);
    gtk_target_list_add_text_targets(targets, Text);
    gtk_drag_source_set(area, GDK_BUTTON1_MASK, nullptr, 0, GDK_ACTION_COPY);
    gtk_drag_source_set_target_list(area, targets);
    gtk_target_list_unref(targets);
    g_signal_connect(area, "drag-data-get", G_CALLBACK(dataGet), &offer);
    g_signal_connect(area, "drag-end", G_CALLBACK(ended), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(mapped), nullptr);
    // A test that breaks off never leaves this client behind.
    g_timeout_add_seconds(
        30, [](gpointer) -> gboolean { exit(3); }, nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
