// Geometry of the layers drawn over an image: the pixel grid, cursor lines and their
// contrasting pen, click boxes, the block cursor and click points on the shown
// section, and the inner magnifier. All coordinates are window pixels; the window
// layer only strokes what these functions return.
#pragma once

#include "views/displaybuffer.h"
#include "views/zoom.h"

#include <cstdint>
#include <vector>

namespace vexa {

struct BlockDescriptor;

struct Segment {
    int x0, y0, x1, y1;
    bool operator==(const Segment&) const = default;
};

// Whole zoom parts used by the layers: trunc(zoom), 0 below zoom 1.
int layerPart(double zoom);

// Window coordinate of an image coordinate along x or y.
int mapX(const ZoomView& view, int x);
int mapY(const ZoomView& view, int y);

// The grid: empty unless gridOn and both zooms are at least 4. Each visible column
// has its two edge lines, and each visible row.
std::vector<Segment> gridSegments(const ZoomView& view, bool gridOn);

// Position of the vertical and horizontal cursor lines of a sample: its window
// coordinate plus half a zoomed sample.
int cursorLineX(const ZoomView& view, int x);
int cursorLineY(const ZoomView& view, int y);

// The four sides of the box drawn around a clicked sample at window (X, Y).
std::vector<Segment> clickBox(int X, int Y, int zx, int zy);

// Pens of cursor lines.
enum class CursorPen { Red, Blue, Black };

struct ContrastSource {
    const void* samples = nullptr;
    int width = 0;
    int height = 0;
    int type = 0;
    double gain = 1;
    double offset = 0;
    const DisplayColours* colours = nullptr; // grey when null
};

// The pen of a cursor line that stands out against the samples around the cursor on
// that line (the column for the vertical line, the row for the horizontal one):
// red over greyish colours, blue over dark and black over light coloured ones.
CursorPen cursorPen(const ContrastSource& image, int cursorX, int cursorY, bool vertical);

// Sections of a block, in section coordinates.
struct SectionPoint {
    int c = 0;
    int r = 0;
    bool operator==(const SectionPoint&) const = default;
};
// The block cursor on the shown section: FRONT (x, y), RIGHT (z, y), TOP (x, dimZ - 1 - z).
SectionPoint blockCursorOnSection(const BlockDescriptor& block, int plane);
// The block's click points that lie on the shown section (the one at the cursor).
std::vector<SectionPoint> blockClicksOnSection(const BlockDescriptor& block, int plane);
// The volume position of a section point on the current section of a plane.
struct VolumePoint {
    int x = 0, y = 0, z = 0;
    bool operator==(const VolumePoint&) const = default;
};
VolumePoint sectionToVolume(const BlockDescriptor& block, int plane, int c, int r);
// Extent of a section: (dimX, dimY) FRONT, (dimZ, dimY) RIGHT, (dimX, dimZ) TOP.
void sectionExtent(const BlockDescriptor& block, int plane, int& width, int& height);

// The inner magnifier around the 2D cursor.
struct LoupeGeometry {
    double factor = 3.0;
    int hx = 11, hy = 11; // half sizes in samples
    int sx = 1, sy = 1; // pixels of one sample (odd)
    int width = 0, height = 0; // pixels
};
LoupeGeometry loupeGeometry(double zoomX, double zoomY);

} // namespace vexa
