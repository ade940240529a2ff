#include "data/object2d.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

namespace vexa {

namespace {

struct ObjectRegistry {
    std::mutex mutex;
    std::map<std::uint32_t, std::unique_ptr<Object2d>> objects;
    std::uint32_t counter = 0;
};

ObjectRegistry& registry()
{
    // Never destroyed: images still alive during static destruction release their
    // objects through it.
    static ObjectRegistry* r = new ObjectRegistry;
    return *r;
}

// Tree items carry the object identifier rather than a pointer, so that an item
// whose object is gone (registry reset) is simply skipped.
void* itemOf(std::uint32_t id)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
}
std::uint32_t idOf(void* payload)
{
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(payload));
}

// Delete function of overlay trees: one holder fewer; the last one frees the object.
void releaseItem(void* payload, void*)
{
    ObjectRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.objects.find(idOf(payload));
    if (it == r.objects.end())
        return;
    if (--it->second->attachments <= 0)
        r.objects.erase(it);
}

const char* const kTypeNames[] = { "M2D_OBJECT_SETOFPOINTS", "M2D_OBJECT_LINE",
    "M2D_OBJECT_POLYGON", "M2D_OBJECT_CIRCLE", "M2D_OBJECT_ASTERISK", "M2D_OBJECT_ARROW" };

} // namespace

const char* object2dTypeName(int type)
{
    return type >= 0 && type <= M2D_OBJECT_ARROW ? kTypeNames[type] : "";
}

std::uint32_t object2dCreate(int code)
{
    if (code < 0 || code > kObject2dSquare)
        return 0;
    auto object = std::make_unique<Object2d>();
    object->type = code == kObject2dSquare ? M2D_OBJECT_POLYGON : code;
    object->name = object2dTypeName(object->type);
    if (code == kObject2dSquare) {
        object->xs = { -0.5, 0.5, 0.5, -0.5 };
        object->ys = { -0.5, -0.5, 0.5, 0.5 };
    }
    ObjectRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    std::uint32_t id = ++r.counter;
    if (id == 0) // after 2^32 objects: 0 means none
        id = ++r.counter;
    r.objects[id] = std::move(object);
    return id;
}

bool object2dUpdate(std::uint32_t id, const std::function<void(Object2d&)>& fn)
{
    ObjectRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.objects.find(id);
    if (it == r.objects.end())
        return false;
    fn(*it->second);
    return true;
}

std::optional<Object2d> object2dGet(std::uint32_t id)
{
    ObjectRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.objects.find(id);
    if (it == r.objects.end())
        return std::nullopt;
    return *it->second;
}

bool object2dDiscard(std::uint32_t id)
{
    ObjectRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.objects.find(id);
    if (it == r.objects.end() || it->second->attachments > 0)
        return false;
    r.objects.erase(it);
    return true;
}

int object2dCount()
{
    ObjectRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    return static_cast<int>(r.objects.size());
}

void object2dResetRegistry()
{
    ObjectRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    r.objects.clear();
    r.counter = 0;
}

ImageOverlay::ImageOverlay()
    : tree(releaseItem, nullptr)
{
}
ImageOverlay::~ImageOverlay() = default;

ImageOverlay& imageOverlay(ImageDescriptor& image)
{
    std::lock_guard lock(image.lock);
    auto* overlay = dynamic_cast<ImageOverlay*>(image.objects.get());
    if (!overlay) {
        auto made = std::make_unique<ImageOverlay>();
        overlay = made.get();
        image.objects = std::move(made);
    }
    return *overlay;
}

bool overlayAttach(ImageDescriptor& image, std::uint32_t objectId)
{
    std::lock_guard imageLock(image.lock);
    ImageOverlay& overlay = imageOverlay(image);
    ObjectRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.objects.find(objectId);
    if (it == r.objects.end())
        return false;
    // Counted only once the item exists, so a failed insertion leaves no holder.
    overlay.tree.insert(nullptr, itemOf(objectId));
    ++it->second->attachments;
    return true;
}

namespace {

// Removes the items whose payload satisfies pred; image.lock is held.
int removeItems(ImageOverlay& overlay, const std::function<bool(std::uint32_t)>& pred)
{
    std::vector<arbor::Node*> doomed;
    overlay.tree.walk([&](arbor::Node* n, int) {
        if (pred(idOf(n->payload())))
            doomed.push_back(n);
        return true;
    });
    for (arbor::Node* n : doomed)
        overlay.tree.remove(n);
    return static_cast<int>(doomed.size());
}

} // namespace

bool overlayDetach(ImageDescriptor& image, std::uint32_t objectId)
{
    std::lock_guard imageLock(image.lock);
    auto* overlay = dynamic_cast<ImageOverlay*>(image.objects.get());
    if (!overlay)
        return false;
    return removeItems(*overlay, [objectId](std::uint32_t id) { return id == objectId; }) > 0;
}

int overlayDeleteByName(ImageDescriptor& image, const std::string& name)
{
    std::lock_guard imageLock(image.lock);
    auto* overlay = dynamic_cast<ImageOverlay*>(image.objects.get());
    if (!overlay)
        return 0;
    return removeItems(*overlay, [&name](std::uint32_t id) {
        ObjectRegistry& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.objects.find(id);
        return it != r.objects.end() && it->second->name == name;
    });
}

std::vector<std::uint32_t> overlayObjectIds(ImageDescriptor& image)
{
    std::lock_guard imageLock(image.lock);
    std::vector<std::uint32_t> ids;
    auto* overlay = dynamic_cast<ImageOverlay*>(image.objects.get());
    if (overlay)
        overlay->tree.walk([&](arbor::Node* n, int) {
            ids.push_back(idOf(n->payload()));
            return true;
        });
    return ids;
}

namespace {

struct ImagePosition {
    double x, y;
};

// The object's points placed by its scale and translation; undefined ones left out.
std::vector<ImagePosition> placedPoints(const Object2d& object)
{
    std::vector<ImagePosition> points;
    points.reserve(object.xs.size() + 1);
    for (std::size_t i = 0; i < object.xs.size() && i < object.ys.size(); ++i) {
        double x = object.xs[i] * object.scaleX + object.translateX;
        double y = object.ys[i] * object.scaleY + object.translateY;
        if (std::isfinite(x) && std::isfinite(y))
            points.push_back({ x, y });
    }
    return points;
}

void drawStroke(OverlayPainter& painter, PixelPoint a, PixelPoint b, const Object2d& object)
{
    const PixelPoint stroke[] = { a, b };
    painter.drawPolyline(stroke, object.width, object.color);
}

// Horizontal, vertical and both diagonal strokes across each point: markSize samples
// long (so they follow the zoom), or kAsteriskPixels pixels when it has no size.
void drawAsterisks(const Object2d& object, OverlayPainter& painter, const ImageToScreen& map)
{
    const bool sized = std::isfinite(object.markSize) && object.markSize > 0;
    const double h = object.markSize / 2;
    const int p = kAsteriskPixels / 2;
    for (const ImagePosition& c : placedPoints(object)) {
        if (sized) {
            drawStroke(painter, map(c.x - h, c.y), map(c.x + h, c.y), object);
            drawStroke(painter, map(c.x, c.y - h), map(c.x, c.y + h), object);
            drawStroke(painter, map(c.x - h, c.y - h), map(c.x + h, c.y + h), object);
            drawStroke(painter, map(c.x - h, c.y + h), map(c.x + h, c.y - h), object);
        } else {
            const PixelPoint m = map(c.x, c.y);
            drawStroke(painter, { m.x - p, m.y }, { m.x + p, m.y }, object);
            drawStroke(painter, { m.x, m.y - p }, { m.x, m.y + p }, object);
            drawStroke(painter, { m.x - p, m.y - p }, { m.x + p, m.y + p }, object);
            drawStroke(painter, { m.x - p, m.y + p }, { m.x + p, m.y - p }, object);
        }
    }
}

// The polyline, then a head of two barbs at 30 degrees on its last point. The head is
// sized in pixels (growing with the pen) so that it stays readable at any zoom, but
// never longer than half the last segment.
void drawArrow(const Object2d& object, OverlayPainter& painter, const ImageToScreen& map)
{
    std::vector<PixelPoint> points;
    for (const ImagePosition& p : placedPoints(object))
        points.push_back(map(p.x, p.y));
    if (points.size() < 2)
        return;
    painter.drawPolyline(points, object.width, object.color);
    const PixelPoint tip = points.back();
    auto from = std::find_if(
        points.rbegin(), points.rend(), [&tip](const PixelPoint& q) { return !(q == tip); });
    if (from == points.rend())
        return;
    const double dx = double(from->x) - tip.x, dy = double(from->y) - tip.y;
    const double length = std::hypot(dx, dy);
    const double head = std::min(8.0 + 2.0 * std::max(object.width, 0), length / 2);
    const double ux = dx / length, uy = dy / length;
    const double c = std::cos(std::numbers::pi / 6), s = std::sin(std::numbers::pi / 6);
    auto barb = [&](double sign) {
        const double bx = ux * c - sign * uy * s, by = sign * ux * s + uy * c;
        return PixelPoint { static_cast<int>(std::lround(tip.x + head * bx)),
            static_cast<int>(std::lround(tip.y + head * by)) };
    };
    const PixelPoint barbs[] = { barb(1), tip, barb(-1) };
    painter.drawPolyline(barbs, object.width, object.color);
}

} // namespace

void object2dDraw(const Object2d& object, OverlayPainter& painter, const ImageToScreen& map)
{
    if (!object.visible || object.type == M2D_OBJECT_SETOFPOINTS)
        return;
    if (object.type == M2D_OBJECT_LINE || object.type == M2D_OBJECT_POLYGON) {
        std::vector<PixelPoint> points;
        for (const ImagePosition& p : placedPoints(object))
            points.push_back(map(p.x, p.y));
        if (points.empty())
            return;
        if (object.type == M2D_OBJECT_POLYGON)
            points.push_back(points.front());
        painter.drawPolyline(points, object.width, object.color);
        return;
    }
    if (object.type == M2D_OBJECT_ASTERISK) {
        drawAsterisks(object, painter, map);
        return;
    }
    if (object.type == M2D_OBJECT_ARROW) {
        drawArrow(object, painter, map);
        return;
    }
    if (object.type == M2D_OBJECT_CIRCLE) {
        double left = object.translateX - object.scaleX, top = object.translateY - object.scaleY;
        double right = object.translateX + object.scaleX,
               bottom = object.translateY + object.scaleY;
        if (!std::isfinite(left) || !std::isfinite(top) || !std::isfinite(right)
            || !std::isfinite(bottom))
            return;
        PixelPoint a = map(left, top);
        PixelPoint b = map(right, bottom);
        PixelPoint centre { static_cast<int>((std::int64_t(a.x) + b.x) / 2),
            static_cast<int>((std::int64_t(a.y) + b.y) / 2) };
        int radius = static_cast<int>(std::llabs(std::int64_t(b.x) - a.x) / 2);
        painter.drawEllipse(centre, radius, radius, object.width, object.color);
    }
}

void overlayDraw(ImageDescriptor& image, OverlayPainter& painter, const ImageToScreen& map)
{
    std::lock_guard imageLock(image.lock);
    auto* overlay = dynamic_cast<ImageOverlay*>(image.objects.get());
    if (!overlay)
        return;
    overlay->tree.walk([&](arbor::Node* n, int) {
        // A copy, so that setters on other threads never wait for the painting.
        if (std::optional<Object2d> object = object2dGet(idOf(n->payload())))
            object2dDraw(*object, painter, map);
        return true;
    });
}

} // namespace vexa
