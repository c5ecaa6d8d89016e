#include "tamber/canvas.h"

#include <algorithm>

#include <gdk/gdkx.h>

#include "tamber/internal.h"

namespace tamber {

struct CanvasState {
    uint32_t *buffer = nullptr;       // owned (new[]): width * height pixels 0x00RRGGBB, as the program draws
    uint32_t *rasterBuffer = nullptr; // owned (new[]): the same pixels as the bytes red, green, blue, 0
    uint32_t pitch = 0;               // bytes per row of rasterBuffer
    uint32_t width = 0;               // the size given to create, which the buffers keep
    uint32_t height = 0;
};

struct CanvasAccess {
    static CanvasState &of(Canvas &canvas) { return *canvas.canvasState; }
};

namespace {

void setBlack(GtkWidget *widget) {
    GdkColor black = {0, 0, 0, 0};
    gtk_widget_modify_bg(widget, GTK_STATE_NORMAL, &black);
}

// Without double buffering GDK leaves an exposed area as it was, so the part of the area that the buffer
// does not cover is cleared to the (black) background here.
void clearUncovered(GtkWidget *widget, uint32_t width, uint32_t height) {
    gint areaWidth = widget->allocation.width;
    gint areaHeight = widget->allocation.height;
    gint coveredWidth = static_cast<gint>(width);
    gint coveredHeight = static_cast<gint>(height);
    if (areaWidth > coveredWidth)
        gdk_window_clear_area(widget->window, coveredWidth, 0, areaWidth - coveredWidth, areaHeight);
    if (areaHeight > coveredHeight)
        gdk_window_clear_area(widget->window, 0, coveredHeight, coveredWidth, areaHeight - coveredHeight);
}

// Repaints everything on every expose. Only the part that both the buffers and the allocated area cover is
// converted and drawn, so an area resized by setGeometry never makes it read or write past the buffers.
gboolean canvasExposed(Canvas *canvas) {
    CanvasState &canvasState = CanvasAccess::of(*canvas);
    GtkWidget *widget = Internal::state(*canvas).widget;
    uint32_t width =
        std::min(canvasState.width, static_cast<uint32_t>(std::max(widget->allocation.width, 0)));
    uint32_t height =
        std::min(canvasState.height, static_cast<uint32_t>(std::max(widget->allocation.height, 0)));
    if (width == 0 || height == 0) {
        clearUncovered(widget, 0, 0);
        return TRUE;
    }
    for (uint32_t y = 0; y < height; y++) {
        const uint32_t *source = canvasState.buffer + size_t(y) * canvasState.width;
        uint32_t *target = canvasState.rasterBuffer + size_t(y) * canvasState.width;
        for (uint32_t x = 0; x < width; x++) {
            uint32_t p = source[x];
            target[x] = ((p << 16) & 0xFF0000) | ((p >> 16) & 0xFF) | (p & 0xFF00);
        }
    }
    gdk_draw_rgb_32_image(widget->window, widget->style->fg_gc[gtk_widget_get_state(widget)], 0, 0,
                          static_cast<gint>(width), static_cast<gint>(height), GDK_RGB_DITHER_NONE,
                          reinterpret_cast<const guchar *>(canvasState.rasterBuffer),
                          static_cast<gint>(canvasState.pitch));
    clearUncovered(widget, width, height);
    // Nothing else draws on a canvas.
    return TRUE;
}

} // namespace

// Canvas

Canvas::Canvas() : canvasState(new CanvasState) {}

Canvas::~Canvas() {
    // The drawing area outlives the canvas; its expose handler must not reach the buffers freed here.
    if (state->widget)
        g_signal_handlers_disconnect_by_data(state->widget, this);
    delete[] canvasState->buffer;
    delete[] canvasState->rasterBuffer;
    delete canvasState;
}

void Canvas::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height) {
    // A size whose pixel count or row pitch does not fit in 32 bits would make a buffer shorter than the
    // area it stands for; such a canvas, like an empty one, gets empty buffers and never draws.
    uint64_t pixels = uint64_t(width) * height;
    if (pixels == 0 || pixels > UINT32_MAX || width > UINT32_MAX / 4)
        width = height = 0;
    uint32_t count = width * height;
    canvasState->buffer = new uint32_t[count]();
    canvasState->rasterBuffer = new uint32_t[count]();
    canvasState->pitch = width * 4;
    canvasState->width = width;
    canvasState->height = height;

    state->widget = gtk_drawing_area_new();
    this->parent = &parent;
    setBlack(state->widget);
    // Full frames are drawn straight to the window; double buffering would only copy them once more.
    gtk_widget_set_double_buffered(state->widget, FALSE);
    gtk_widget_add_events(state->widget, GDK_EXPOSURE_MASK);
    gtk_widget_set_size_request(state->widget, static_cast<gint>(width), static_cast<gint>(height));
    connectSignal(state->widget, "expose-event", G_CALLBACK(canvasExposed), this);
    placeControl(*this, parent, x, y, TakesFont::No);
}

uint32_t *Canvas::buffer() {
    return canvasState->buffer;
}

void Canvas::redraw() {
    GtkWidget *widget = state->widget;
    if (!widget || !widget->window)
        return;
    GdkRectangle area = {0, 0, widget->allocation.width, widget->allocation.height};
    gdk_window_invalidate_rect(widget->window, &area, TRUE);
}

// Viewport

void Viewport::create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height) {
    state->widget = gtk_drawing_area_new();
    this->parent = &parent;
    gtk_widget_set_size_request(state->widget, static_cast<gint>(width), static_cast<gint>(height));
    setBlack(state->widget);
    placeControl(*this, parent, x, y, TakesFont::No);
}

unsigned long Viewport::handle() {
    GtkWidget *widget = state->widget;
    if (!widget)
        return 0;
    if (!widget->window)
        gtk_widget_realize(widget);
    // GDK gives the area a native X window of its own here, if it had none, and waits until the server
    // has made it.
    return gdk_x11_drawable_get_xid(widget->window);
}

} // namespace tamber
