#pragma once

#include <cstdint>

#include "tamber/object.h"

namespace tamber {

// A drawing surface with a plain pixel buffer of the size given to create: one 32-bit 0x00RRGGBB value
// per pixel (the top byte is ignored), pixel (x, y) at index y * width + x. The program writes the buffer
// and calls redraw; every expose converts the whole buffer and draws it, so a repaint shows the buffer as
// it is when GTK handles the expose, not when redraw was called. If the area is later given another size,
// only the part that both the buffer and the area cover is drawn.
class Canvas : public Widget {
public:
    Canvas();
    ~Canvas();

    // The canvas starts black.
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height);
    // Valid for the canvas's life; null before create.
    uint32_t *buffer();
    // Asks GTK to repaint the whole canvas from its main loop; draws nothing itself.
    void redraw();

private:
    friend struct CanvasAccess;
    struct CanvasState *canvasState; // owned
};

// An empty black area whose native X11 window lets code outside the toolkit draw into it directly.
class Viewport : public Widget {
public:
    void create(Window &parent, unsigned x, unsigned y, unsigned width, unsigned height);
    // The X11 window id of the area. It realizes the area first when it has no window yet, so the id is
    // valid at once; 0 before create.
    unsigned long handle();
};

} // namespace tamber
