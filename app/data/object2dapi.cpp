#include "data/object2dapi.h"

#include "data/object2d.h"
#include "data/registry.h"

#include <vexa_guard.hpp>

#include <algorithm>
#include <optional>
#include <string>

namespace vexa {
namespace {

// The 2D image of an image record named by its imageId (or also by its blockId).
ImageDescriptor* imageFor(unsigned int id, bool acceptBlockId)
{
    if (id == 0)
        return nullptr;
    DataRecord* record = dataFind(id);
    if (!record || record->kind != DATA_IMAGE)
        return nullptr;
    if (record->imageId != id && !(acceptBlockId && record->blockId == id))
        return nullptr;
    return record->image2d();
}

int update(unsigned int objectId, const std::function<void(Object2d&)>& fn)
{
    return guarded([&] { return object2dUpdate(objectId, fn) ? 1 : 0; });
}

// Creates an object, lets fill set it up and attaches it; nothing is left behind
// when that fails (out of memory for the points).
unsigned int addObject(ImageDescriptor* image, int code, const std::function<void(Object2d&)>& fill)
{
    if (!image)
        return 0u;
    return guarded([&] {
        std::uint32_t id = object2dCreate(code);
        bool ok = false;
        try {
            ok = object2dUpdate(id, fill) && overlayAttach(*image, id);
        } catch (...) {
        }
        if (!ok) {
            object2dDiscard(id);
            return 0u;
        }
        return static_cast<unsigned int>(id);
    });
}

} // namespace
} // namespace vexa

using vexa::Object2d;

unsigned int vexaObject2dCreate(int type)
{
    return vexa::guarded([&] { return static_cast<unsigned int>(vexa::object2dCreate(type)); });
}

int vexaObject2dSetName(unsigned int objectId, const char* name)
{
    if (!name)
        return 0;
    return vexa::update(objectId, [&](Object2d& o) { o.name = name; });
}

int vexaObject2dSetColor(unsigned int objectId, double r, double g, double b)
{
    return vexa::update(objectId, [&](Object2d& o) { o.color = { r, g, b }; });
}

int vexaObject2dSetThickness(unsigned int objectId, int width)
{
    return vexa::update(objectId, [&](Object2d& o) { o.width = width; });
}

int vexaObject2dSetArrayPoints(unsigned int objectId, const double* points, int count)
{
    if (count <= 0 || !points)
        return 0;
    return vexa::guarded([&] {
        // Copied before taking the registry lock: a large array is not copied under it.
        std::vector<double> xs(static_cast<std::size_t>(count)),
            ys(static_cast<std::size_t>(count));
        for (std::size_t i = 0; i < xs.size(); ++i) {
            xs[i] = points[2 * i];
            ys[i] = points[2 * i + 1];
        }
        return vexa::object2dUpdate(objectId,
                   [&](Object2d& o) {
                       o.xs.swap(xs);
                       o.ys.swap(ys);
                   })
            ? 1
            : 0;
    });
}

int vexaObject2dTranslate(unsigned int objectId, double tx, double ty)
{
    return vexa::update(objectId, [&](Object2d& o) {
        o.translateX = tx;
        o.translateY = ty;
    });
}

int vexaObject2dScale(unsigned int objectId, double sx, double sy)
{
    return vexa::update(objectId, [&](Object2d& o) {
        o.scaleX = sx;
        o.scaleY = sy;
    });
}

int vexaImageAddObject2d(unsigned int imageId, unsigned int objectId)
{
    return vexa::guarded([&] {
        vexa::ImageDescriptor* image = vexa::imageFor(imageId, false);
        return image && vexa::overlayAttach(*image, objectId) ? 1 : 0;
    });
}

int vexaImageDeleteObject2d(unsigned int imageId, unsigned int objectId)
{
    return vexa::guarded([&] {
        vexa::ImageDescriptor* image = vexa::imageFor(imageId, false);
        return image && vexa::overlayDetach(*image, objectId) ? 1 : 0;
    });
}

int vexaImageDeleteObject2dByName(unsigned int imageId, const char* name)
{
    if (!name)
        return 0;
    return vexa::guarded([&] {
        vexa::ImageDescriptor* image = vexa::imageFor(imageId, false);
        return image && vexa::overlayDeleteByName(*image, name) > 0 ? 1 : 0;
    });
}

unsigned int vexaImageAddLine(unsigned int imageId, double x1, double y1, double x2, double y2)
{
    return vexa::addObject(vexa::imageFor(imageId, false), vexa::M2D_OBJECT_LINE, [&](Object2d& o) {
        o.xs = { x1, x2 };
        o.ys = { y1, y2 };
    });
}

unsigned int vexaImageAddSquare(unsigned int imageId, double x, double y, double size)
{
    return vexa::addObject(vexa::imageFor(imageId, false), vexa::kObject2dSquare, [&](Object2d& o) {
        o.scaleX = o.scaleY = size;
        o.translateX = x;
        o.translateY = y;
    });
}

unsigned int dozDataAddLineRGB(unsigned int id, const double* xs, const double* ys, int count,
    const char* name, int closed, double r, double g, double b, int width)
{
    if (count < 0 || (count > 0 && (!xs || !ys)))
        return 0;
    return vexa::addObject(vexa::imageFor(id, true), vexa::M2D_OBJECT_LINE, [&](Object2d& o) {
        o.xs.assign(xs, xs + count);
        o.ys.assign(ys, ys + count);
        if (closed && count > 0) {
            o.xs.push_back(xs[0]);
            o.ys.push_back(ys[0]);
        }
        if (name)
            o.name = name;
        o.color = { r, g, b };
        o.width = width;
    });
}

unsigned int dozDataAddSquareRGB(unsigned int id, double x, double y, double size, const char* name,
    double r, double g, double b, int width)
{
    return vexa::addObject(vexa::imageFor(id, true), vexa::kObject2dSquare, [&](Object2d& o) {
        o.scaleX = o.scaleY = size;
        o.translateX = x;
        o.translateY = y;
        if (name)
            o.name = name;
        o.color = { r, g, b };
        o.width = width;
    });
}

unsigned int dozDataAddAsteriskRGB(unsigned int id, double x, double y, double size,
    const char* name, double r, double g, double b, int width)
{
    return vexa::addObject(vexa::imageFor(id, true), vexa::M2D_OBJECT_ASTERISK, [&](Object2d& o) {
        o.xs = { x };
        o.ys = { y };
        o.markSize = size;
        if (name)
            o.name = name;
        o.color = { r, g, b };
        o.width = width;
    });
}

unsigned int dozDataAddArrowRGB(unsigned int id, double x1, double y1, double x2, double y2,
    const char* name, double r, double g, double b, int width)
{
    return vexa::addObject(vexa::imageFor(id, true), vexa::M2D_OBJECT_ARROW, [&](Object2d& o) {
        o.xs = { x1, x2 };
        o.ys = { y1, y2 };
        if (name)
            o.name = name;
        o.color = { r, g, b };
        o.width = width;
    });
}

int dozDataGetFaille(unsigned int id, const char* name, double* xs, double* ys, int capacity)
{
    return vexa::guarded([&] {
        vexa::ImageDescriptor* image = vexa::imageFor(id, true);
        if (!image)
            return 0;
        const std::string wanted = name && *name ? name : "Faille";
        for (std::uint32_t objectId : vexa::overlayObjectIds(*image)) {
            std::optional<Object2d> o = vexa::object2dGet(objectId);
            if (!o || o->name != wanted
                || (o->type != vexa::M2D_OBJECT_LINE && o->type != vexa::M2D_OBJECT_POLYGON))
                continue;
            const int count = std::min(o->pointCount(), static_cast<int>(o->ys.size()));
            const int copied = xs && ys ? std::clamp(capacity, 0, count) : 0;
            for (int i = 0; i < copied; ++i) {
                xs[i] = o->xs[std::size_t(i)] * o->scaleX + o->translateX;
                ys[i] = o->ys[std::size_t(i)] * o->scaleY + o->translateY;
            }
            return count;
        }
        return 0;
    });
}
