// 2D overlay objects: small vector shapes (polylines, polygons, circles, ...) with a
// colour and a pen width, kept in a process-wide registry under a 32-bit identifier
// and attached to the overlay tree of one or more 2D images, over which the image
// views draw them. Coordinates are image sample coordinates.
//
// Locking: an image's overlay is guarded by its ImageDescriptor::lock, the registry
// by its own mutex, always taken in that order. An object is released when the last
// overlay tree holding it lets it go.
#pragma once

#include "data/datarecord.h"
#include "data/graph.h"
#include "data/graphpainter.h"

#include <arbor.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vexa {

struct ImageDescriptor;

enum Object2dType : int {
    M2D_OBJECT_SETOFPOINTS = 0, // not drawn
    M2D_OBJECT_LINE = 1,
    M2D_OBJECT_POLYGON = 2,
    M2D_OBJECT_CIRCLE = 3, // centre = translation, radii = scale
    M2D_OBJECT_ASTERISK = 4, // a star mark on each point, markSize across
    M2D_OBJECT_ARROW = 5, // a polyline with a head at its last point
};

// Asterisks without a size are drawn this many pixels across, whatever the zoom.
constexpr int kAsteriskPixels = 9;

// Creation code of a unit square centred on 0 (a POLYGON).
constexpr int kObject2dSquare = 6;

// Name an object of that type gets at creation; empty for an unknown type.
const char* object2dTypeName(int type);

struct Object2d {
    std::string name;
    int type = M2D_OBJECT_SETOFPOINTS;
    std::vector<double> xs, ys;
    double translateX = 0, translateY = 0;
    double scaleX = 1, scaleY = 1;
    int width = 0;
    // Asterisks: the length of each stroke, in image samples (0: kAsteriskPixels).
    double markSize = 0;
    bool visible = true;
    Rgb color;
    // Overlay tree items holding the object.
    int attachments = 0;

    int pointCount() const { return static_cast<int>(xs.size()); }
};

// Creates and registers an object for a creation code 0..6; 0 for another code.
std::uint32_t object2dCreate(int code);
// Runs fn on the object under the registry lock; false for an unknown identifier.
bool object2dUpdate(std::uint32_t id, const std::function<void(Object2d&)>& fn);
// A copy of the object, empty for an unknown identifier.
std::optional<Object2d> object2dGet(std::uint32_t id);
// Frees an object that no image holds; false when unknown or attached.
bool object2dDiscard(std::uint32_t id);
int object2dCount();
// Frees every registered object and starts the identifiers again at 1 (end of run,
// tests). Overlays that still name an object find it gone and skip it.
void object2dResetRegistry();

// The overlay of a 2D image: its tree of objects and its list of graphs. Lives in
// ImageDescriptor::objects, created on first use.
struct ImageOverlay : OverlayObjects {
    ImageOverlay();
    ~ImageOverlay() override;
    arbor::Tree tree;
    GraphList graphs;
};

// The image's overlay, created when missing; take image.lock around tree use.
ImageOverlay& imageOverlay(ImageDescriptor& image);

// Attaches a registered object to the image's tree; false for an unknown object.
bool overlayAttach(ImageDescriptor& image, std::uint32_t objectId);
// Deletes the image's items of that object (releasing it when no tree holds it any
// more); false when the image holds none.
bool overlayDetach(ImageDescriptor& image, std::uint32_t objectId);
// Deletes every object of the image whose name is name; returns how many items.
int overlayDeleteByName(ImageDescriptor& image, const std::string& name);
// Identifiers of the image's objects in tree order.
std::vector<std::uint32_t> overlayObjectIds(ImageDescriptor& image);

// Maps image coordinates to window pixels (the view's zoom and origin).
using ImageToScreen = std::function<PixelPoint(double x, double y)>;

// Draws one object: nothing when invisible or a set of points.
void object2dDraw(const Object2d& object, OverlayPainter& painter, const ImageToScreen& map);
// Draws every object of the image's tree, under image.lock.
void overlayDraw(ImageDescriptor& image, OverlayPainter& painter, const ImageToScreen& map);

} // namespace vexa
