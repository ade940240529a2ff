// What the drawing of graphs and overlay objects needs from a window: lines of a
// width and colour, filled and outlined polygons, ellipses, and clipping to a
// polygon. The Qt layer implements it over QPainter; tests record the calls.
// Coordinates are window pixels.
#pragma once

#include <span>

namespace vexa {

struct PixelPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PixelPoint&) const = default;
};

// Red, green, blue from 0 to 1.
struct Rgb {
    double r = 0;
    double g = 0;
    double b = 0;
    bool operator==(const Rgb&) const = default;
};

class OverlayPainter {
public:
    virtual ~OverlayPainter() = default;
    // Restricts the following drawing to the polygon, until the matching popClip.
    virtual void pushClip(std::span<const PixelPoint> polygon) = 0;
    virtual void popClip() = 0;
    // An open polyline; width 0 means the thinnest line the device draws.
    virtual void drawPolyline(std::span<const PixelPoint> points, int width, Rgb color) = 0;
    virtual void fillPolygon(std::span<const PixelPoint> polygon, Rgb color) = 0;
    // The closed outline of a polygon.
    virtual void drawPolygon(std::span<const PixelPoint> polygon, int width, Rgb color) = 0;
    virtual void drawEllipse(PixelPoint center, int radiusX, int radiusY, int width, Rgb color) = 0;
};

} // namespace vexa
