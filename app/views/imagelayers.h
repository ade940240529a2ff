// The layers drawn over an image's display, in their order, with the locks they need:
// the pixel grid, the 2D cursor, the image's click list, the block cursor, the block's
// clicks on the shown section, the overlay objects and graphs, the inner magnifier,
// the value box, and last the drag rectangle of the rectangle and measure modes.
// The window implements LayerPainter over its own painter; the geometry, colours and
// texts come from here.
#pragma once

#include "data/graphpainter.h"
#include "views/imagemouse.h"

#include <cstdint>
#include <span>
#include <string>

namespace vexa {

enum class PenStyle { Solid, Dotted };

struct LayerPen {
    std::uint8_t r = 0, g = 0, b = 0;
    int width = 1;
    PenStyle style = PenStyle::Solid;
    bool operator==(const LayerPen&) const = default;
};

// The pen of a cursor line: the contrasting colour, solid or dotted.
LayerPen cursorLinePen(CursorPen pen, bool solid);

// What the layers draw with, besides the overlay objects' own shapes. Coordinates are
// pixels of the image area.
class LayerPainter : public OverlayPainter {
public:
    virtual void drawSegments(std::span<const Segment> segments, const LayerPen& pen) = 0;
    // The outline of the rectangle whose corners (both included) are given.
    virtual void drawRectangle(int left, int top, int right, int bottom, const LayerPen& pen) = 0;
    // Text whose top-left corner is at (x, y).
    virtual void drawTextBelow(int x, int y, const std::string& text, const LayerPen& pen) = 0;
    // Text whose baseline starts at (x, y).
    virtual void drawTextAt(int x, int y, const std::string& text, const LayerPen& pen) = 0;
    // A bitmap drawn unscaled with its top-left corner at (x, y).
    virtual void drawBitmap(int x, int y, const DisplayBitmap& bitmap) = 0;
    // The value box next to the cursor lines' crossing (x, y), kept inside the area.
    virtual void drawValueBox(int x, int y, const std::string& text) = 0;
};

// Draws every layer of the record's view. The image's click list and size are read
// under the image's lock, the block's clicks under the block's lock, and the overlay
// objects and graphs are drawn while the image's lock is held, so that a task
// replacing them never frees what is being drawn.
void drawImageLayers(DataRecord& record, const ImageMouse& mouse, LayerPainter& painter);

} // namespace vexa
