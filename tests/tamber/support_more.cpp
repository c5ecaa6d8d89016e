#include "support_more.h"

#include "support.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>

namespace support {

namespace {

Display *display() {
    return gdk_x11_get_default_xdisplay();
}

void moveTo(Point point) {
    XTestFakeMotionEvent(display(), -1, point.x, point.y, CurrentTime);
}

void button(unsigned number, bool press) {
    XTestFakeButtonEvent(display(), number, press ? True : False, CurrentTime);
}

struct Search {
    GType type;
    GtkWidget *found;
};

void searchChild(GtkWidget *child, gpointer data) {
    Search *search = static_cast<Search *>(data);
    if (!search->found)
        search->found = findDescendant(child, search->type);
}

struct PopupSearch {
    GtkTreeModel *model;
    GtkTreeView *found;
};

void searchPopup(gpointer data, gpointer result) {
    GtkWidget *toplevel = GTK_WIDGET(data);
    PopupSearch *search = static_cast<PopupSearch *>(result);
    if (search->found || !gtk_widget_get_mapped(toplevel))
        return;
    if (gtk_window_get_window_type(GTK_WINDOW(toplevel)) != GTK_WINDOW_POPUP)
        return;
    GtkWidget *view = findDescendant(toplevel, GTK_TYPE_TREE_VIEW);
    if (view && gtk_tree_view_get_model(GTK_TREE_VIEW(view)) == search->model)
        search->found = GTK_TREE_VIEW(view);
}

} // namespace

Point screenOrigin(GtkWidget *widget) {
    GtkWidget *toplevel = gtk_widget_get_toplevel(widget);
    gint dx = 0, dy = 0, ox = 0, oy = 0;
    gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &dx, &dy);
    gdk_window_get_origin(toplevel->window, &ox, &oy);
    return {ox + dx, oy + dy};
}

Point screenCenter(GtkWidget *widget) {
    Point origin = screenOrigin(widget);
    return {origin.x + widget->allocation.width / 2, origin.y + widget->allocation.height / 2};
}

Point cellCenter(GtkTreeView *view, unsigned row, GtkTreeViewColumn *column) {
    GtkTreePath *path = gtk_tree_path_new_from_indices(static_cast<gint>(row), -1);
    GdkRectangle cell = {0, 0, 0, 0};
    gtk_tree_view_get_cell_area(view, path, column, &cell);
    gtk_tree_path_free(path);
    gint ox = 0, oy = 0;
    gdk_window_get_origin(gtk_tree_view_get_bin_window(view), &ox, &oy);
    return {ox + cell.x + cell.width / 2, oy + cell.y + cell.height / 2};
}

void clickAt(Point point, unsigned number) {
    moveTo(point);
    button(number, true);
    button(number, false);
    XSync(display(), False);
    settle();
}

void doubleClickAt(Point point) {
    moveTo(point);
    for (int i = 0; i < 2; i++) {
        button(1, true);
        button(1, false);
    }
    XSync(display(), False);
    settle();
}

// In steps, so GTK sees the pointer move while the button is held, as a hand would move it.
void dragFromTo(Point from, Point to, int stepMs) {
    // Lets GTK handle what was sent, and, for a drag between programs, the other one too.
    auto pause = [stepMs] {
        XSync(display(), False);
        if (stepMs > 0)
            pumpFor(stepMs);
        else
            settle();
    };
    moveTo(from);
    pause();
    button(1, true);
    pause();
    const int steps = stepMs > 0 ? 12 : 8;
    for (int i = 1; i <= steps; i++) {
        moveTo({from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
        pause();
    }
    if (stepMs > 0) {
        // A little movement over a drop target gives it positions to answer before the release.
        moveTo({to.x + 1, to.y});
        pause();
        moveTo(to);
        pumpFor(200);
    }
    button(1, false);
    XSync(display(), False);
    settle();
}

GtkWidget *findDescendant(GtkWidget *widget, GType type) {
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type))
        return widget;
    if (!GTK_IS_CONTAINER(widget))
        return nullptr;
    Search search = {type, nullptr};
    gtk_container_forall(GTK_CONTAINER(widget), searchChild, &search);
    return search.found;
}

GtkTreeView *popupTreeViewOf(GtkTreeModel *model) {
    GList *toplevels = gtk_window_list_toplevels();
    PopupSearch search = {model, nullptr};
    g_list_foreach(toplevels, searchPopup, &search);
    g_list_free(toplevels);
    return search.found;
}

std::vector<uint32_t> screenPixels(Point origin, int width, int height) {
    settle();
    Display *d = display();
    std::vector<uint32_t> pixels;
    XImage *image = XGetImage(d, DefaultRootWindow(d), origin.x, origin.y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image)
        return pixels;
    pixels.reserve(size_t(width) * size_t(height));
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            pixels.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF);
    XDestroyImage(image);
    return pixels;
}

uint32_t screenPixel(Point point) {
    std::vector<uint32_t> pixels = screenPixels(point, 1, 1);
    return pixels.empty() ? 0xFFFFFFFF : pixels[0];
}

} // namespace support
