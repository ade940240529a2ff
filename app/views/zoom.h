// Zoom and visible part of an image window: whole-number zoom parts, the quantisation
// of zoom factors to powers of two, the visible sizes and scroll ranges for a client
// area, and the zoom commands (in place, around a point, of the window, initial).
#pragma once

#include <optional>

namespace vexa {

constexpr double kMinZoom = 0.125;
constexpr double kMaxZoom = 256.0;

// Pixels of n samples at zoom z: n x trunc(z) from zoom 1 on, n / trunc(1 / z) below.
int zoomCount(int n, double zoom);
// Window coordinate of image coordinate c with the given first visible sample.
int zoomCoordinate(int c, int origin, double zoom);
// Image coordinate under window coordinate p (inverse of zoomCoordinate).
int imageCoordinate(int p, int origin, double zoom);

struct ZoomPair {
    double zoomX = 1;
    double zoomY = 1;
};

// Quantises a wanted zoom (fx, fy) keeping the window ratio r = zoomY / zoomX:
// powers of two from 0.125 to 256 along x, zoomY = zoomX x r.
ZoomPair quantiseZoom(double fx, double fy, double ratio);

struct AxisView {
    int origin = 0;
    int visible = 0;
    bool scrollHidden = true;
};

// Visible samples of an axis of n samples shown at zoom in a client extent of
// clientPixels, starting at origin when possible. A partly shown last sample counts.
AxisView visibleAxis(int clientPixels, int n, double zoom, int origin);

// The zoom and visible part of one image window.
struct ZoomView {
    int imageW = 0, imageH = 0;
    int clientW = 0, clientH = 0;
    int originX = 0, originY = 0;
    int visibleW = 0, visibleH = 0;
    double zoomX = 1, zoomY = 1;
    bool scrollXHidden = true, scrollYHidden = true;

    double ratio() const { return zoomX > 0 ? zoomY / zoomX : 1.0; }
    // Size of the display at the current zoom: the visible part mapped to pixels.
    int displayW() const { return zoomCount(visibleW, zoomX); }
    int displayH() const { return zoomCount(visibleH, zoomY); }
};

// Recomputes visible sizes and limits the origin for the current client size. Without
// a client area (both sizes 0) the whole image is visible.
void updateVisible(ZoomView& view);
// Sets the origin (limited to the image), then recomputes the visible part.
void setOrigin(ZoomView& view, int originX, int originY);

struct ImagePoint {
    double x = 0;
    double y = 0;
};

// "Grandissement x2": false (nothing changed) when a zoom is already 256 or more.
// The visible part keeps its centre, or centres on point when given.
bool zoomIn(ZoomView& view, std::optional<ImagePoint> point = std::nullopt);
// "Grandissement /2": false when a zoom is already 0.125 or less.
bool zoomOut(ZoomView& view, std::optional<ImagePoint> point = std::nullopt);

// "Fenêtre agrandie" / "Fenêtre réduite": the zooms double (while the display stays
// under 10000 pixels) or halve, then are quantised. The window is then resized to
// the display size, which the caller does. False when nothing changed.
bool windowZoomIn(ZoomView& view);
bool windowZoomOut(ZoomView& view);

// Display size of an image axis at a zoom for the initial display: mapped by the whole
// zoom part, plus 1 when mapping it back falls short of the image size.
int initialDisplaySize(int n, double zoom);

// "Affichage initial": zooms that make the image fit about 900 x 675 pixels, origin
// (0, 0). Returns the display size the window should take (without its frame).
struct PixelSize {
    int width = 0;
    int height = 0;
};
PixelSize initialDisplay(ZoomView& view);

} // namespace vexa
