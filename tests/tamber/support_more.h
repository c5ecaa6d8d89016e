#pragma once

// More helpers for the toolkit's tests: input at exact points (cells of a tree view, a slider's knob,
// double clicks and drags) and pixels read back from the X server.

#include <cstdint>
#include <vector>

#include <gtk/gtk.h>

namespace support {

struct Point {
    int x;
    int y;
};

// Where a widget's top-left corner is on the screen.
Point screenOrigin(GtkWidget *widget);
Point screenCenter(GtkWidget *widget);
// The centre of a tree view cell on the screen, from the row number and the column.
Point cellCenter(GtkTreeView *view, unsigned row, GtkTreeViewColumn *column);

// Real input through XTest at screen points; each lets GTK handle what it sent.
void clickAt(Point point, unsigned button = 1);
void doubleClickAt(Point point);
// A drag onto another program's window (stepMs > 0) waits that long at each step and lingers over the
// target before the release, so both programs answer as they would to a hand.
void dragFromTo(Point from, Point to, int stepMs = 0);

// The first widget of the type in the tree below (and including) the widget, or null.
GtkWidget *findDescendant(GtkWidget *widget, GType type);
// A visible popup window of GTK's (a menu, a combo box's list) that holds a tree view over the model.
GtkTreeView *popupTreeViewOf(GtkTreeModel *model);

// The pixels of a screen rectangle as the X server holds them, 0xRRGGBB each, row after row.
std::vector<uint32_t> screenPixels(Point origin, int width, int height);
uint32_t screenPixel(Point point);

} // namespace support
