// Record callbacks of the plug-in interface: names, sizes, classes, clicks, cursor,
// user data and event callbacks.
#include "data/dataapi.h"
#include "data/registry.h"
#include "data/section.h"

#include "vexa_guard.hpp"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>

using namespace vexa;

namespace {

int* reversedCopy(const std::vector<int>& values)
{
    if (values.empty())
        return nullptr;
    auto* out = static_cast<int*>(std::malloc(values.size() * sizeof(int)));
    if (!out)
        return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i)
        out[i] = values[values.size() - 1 - i];
    return out;
}

enum class PointList { Click, Capture };
enum class Axis { X, Y, Z };

// Lists of the 2D image (by imageId) or of the block (by blockId).
const std::vector<int>* pointList(DataRecord* r, std::uint32_t id, PointList which, Axis axis)
{
    if (!r || r->kind != DATA_IMAGE)
        return nullptr;
    if (id == r->imageId && r->image2d() && axis != Axis::Z) {
        ImageDescriptor& im = *r->image2d();
        if (which == PointList::Click)
            return axis == Axis::X ? &im.clickX : &im.clickY;
        return axis == Axis::X ? &im.captureX : &im.captureY;
    }
    if (id == r->blockId && r->block()) {
        BlockDescriptor& b = *r->block();
        if (which == PointList::Click)
            return axis == Axis::X ? &b.clickX : axis == Axis::Y ? &b.clickY : &b.clickZ;
        return axis == Axis::X ? &b.captureX : axis == Axis::Y ? &b.captureY : &b.captureZ;
    }
    return nullptr;
}

// The lock that guards a record's point lists: the block's or the image's.
template <typename F> auto withPointLists(DataRecord* r, std::uint32_t id, F&& f)
{
    if (r && r->kind == DATA_IMAGE && id == r->blockId && r->block()) {
        std::shared_lock lock(r->block()->lock);
        return f();
    }
    if (r && r->kind == DATA_IMAGE && r->image2d()) {
        std::lock_guard lock(r->image2d()->lock);
        return f();
    }
    return f();
}

int pointCount(std::uint32_t id, PointList which)
{
    DataRecord* r = dataFind(id);
    return withPointLists(r, id, [&] {
        const std::vector<int>* list = pointList(r, id, which, Axis::X);
        return list ? int(list->size()) : 0;
    });
}

int* pointArray(std::uint32_t id, PointList which, Axis axis)
{
    DataRecord* r = dataFind(id);
    return withPointLists(r, id, [&]() -> int* {
        const std::vector<int>* list = pointList(r, id, which, axis);
        return list ? reversedCopy(*list) : nullptr;
    });
}

int pointArrays(std::uint32_t id, PointList which, int** x, int** y, int** z)
{
    DataRecord* r = dataFind(id);
    return withPointLists(r, id, [&] {
        const std::vector<int>* lx = pointList(r, id, which, Axis::X);
        if (!lx)
            return 0;
        if (x)
            *x = reversedCopy(*lx);
        if (y)
            *y = reversedCopy(*pointList(r, id, which, Axis::Y));
        if (z) {
            const std::vector<int>* lz = pointList(r, id, which, Axis::Z);
            *z = lz ? reversedCopy(*lz) : nullptr;
        }
        return int(lx->size());
    });
}

enum class Dim { Width, Height, Depth };

int dimensionOf(std::uint32_t id, Dim dim)
{
    DataRecord* r = dataFind(id);
    if (!r)
        return 0;
    if (r->kind == DATA_IMAGE) {
        if (id == r->imageId && r->image2d()) {
            ImageDescriptor& im = *r->image2d();
            std::lock_guard lock(im.lock);
            return dim == Dim::Width ? im.width : dim == Dim::Height ? im.height : 0;
        }
        if (id == r->blockId && r->block()) {
            BlockDescriptor& b = *r->block();
            std::shared_lock lock(b.lock);
            return dim == Dim::Width ? b.dimX : dim == Dim::Height ? b.dimY : b.dimZ;
        }
        return 0;
    }
    if (KindObject* object = r->kindObject()) {
        int w = 0, h = 0, d = 0;
        object->reportSizes(w, h, d);
        return dim == Dim::Width ? w : dim == Dim::Height ? h : d;
    }
    return 0;
}

int cursorOf(std::uint32_t id, int axis)
{
    DataRecord* r = dataFind(id);
    if (!r || r->kind != DATA_IMAGE || !r->block())
        return 0;
    BlockDescriptor& b = *r->block();
    return axis == 0 ? b.cursorX.load() : axis == 1 ? b.cursorY.load() : b.cursorZ.load();
}

} // namespace

extern "C" {

char* dozDataGetName(unsigned int id)
{
    return guarded([&]() -> char* {
        std::string name;
        if (DataRecord* r = dataFind(id)) {
            std::shared_lock lock(registryMutex());
            name = r->name;
        }
        char* out = static_cast<char*>(std::malloc(name.size() + 1));
        if (out)
            std::memcpy(out, name.c_str(), name.size() + 1);
        return out;
    });
}

int dozDataSetName(unsigned int id, const char* name)
{
    DataRecord* r = dataFind(id);
    if (!r || !name)
        return 0;
    return guarded([&] {
        dataSetName(r, name);
        return 1;
    });
}

int dozDataRedraw(unsigned int id)
{
    DataRecord* r = dataFind(id);
    if (!r || (r->kind == DATA_IMAGE && id != r->imageId))
        return 0;
    return guarded([&] {
        dataRedraw(r);
        return 1;
    });
}

int vexaWindowClose(unsigned int id)
{
    DataRecord* r = dataFind(id);
    if (!r)
        return 0;
    return guarded([&] {
        dataClose(r);
        return 1;
    });
}

int dozDataDelete(unsigned int id)
{
    return vexaWindowClose(id);
}

int dozDataAnimateBegin(unsigned int id)
{
    DataRecord* r = dataFind(id);
    if (!r)
        return 0;
    return guarded([&] {
        hostAnimateBegin(r);
        return 1;
    });
}

int dozDataAnimateEnd(unsigned int id)
{
    DataRecord* r = dataFind(id);
    if (!r)
        return 0;
    return guarded([&] {
        hostAnimateEnd(r);
        return 1;
    });
}

unsigned int dozDataGetView3D(unsigned int id)
{
    DataRecord* r = dataFind(id);
    if (!r)
        return 0;
    return guarded([&] {
        DataRecord* view = dataFindView3dOf(r);
        return view ? view->imageId : 0u;
    });
}

int dozDataGetWidth(unsigned int id)
{
    return dimensionOf(id, Dim::Width);
}

int dozDataGetHeight(unsigned int id)
{
    return dimensionOf(id, Dim::Height);
}

int dozDataGetDepth(unsigned int id)
{
    return dimensionOf(id, Dim::Depth);
}

void* dozDataGetPtr(unsigned int id)
{
    DataRecord* r = dataFind(id);
    if (!r || r->kind != DATA_IMAGE)
        return nullptr;
    if (id == r->imageId && r->image2d()) {
        std::lock_guard lock(r->image2d()->lock);
        return r->image2d()->samples.data();
    }
    if (id != r->blockId || !r->block())
        return nullptr;
    BlockDescriptor& b = *r->block();
    std::shared_lock lock(b.lock);
    if (b.storage != STORAGE_MEMORY || !b.samples)
        return nullptr;
    auto** planes = static_cast<void**>(std::malloc(std::size_t(b.dimZ) * sizeof(void*)));
    if (planes)
        for (int z = 0; z < b.dimZ; ++z)
            planes[z] = b.plane(z);
    return planes;
}

int dozDataGetTypeData(unsigned int id)
{
    DataRecord* r = dataFind(id);
    if (!r || r->kind != DATA_IMAGE)
        return 0;
    if (id == r->imageId && r->image2d()) {
        std::lock_guard lock(r->image2d()->lock);
        return r->image2d()->typeData;
    }
    if (id == r->blockId && r->block()) {
        std::shared_lock lock(r->block()->lock);
        return r->block()->typeData;
    }
    return 0;
}

int dozDataSetClass(unsigned int id, int valueClass)
{
    DataRecord* r = dataFind(id);
    ClassSettings settings;
    if (!r || r->kind != DATA_IMAGE || !r->image2d() || !valueClassSettings(valueClass, settings))
        return 0;
    return guarded([&] {
        ImageDescriptor& im = *r->image2d();
        {
            std::lock_guard lock(im.lock);
            im.valueClass = valueClass;
            im.palette = settings.palette;
            if (!r->block()) {
                im.valueGain = settings.gain;
                im.valueOffset = settings.offset;
            }
        }
        if (BlockDescriptor* b = r->block()) {
            std::unique_lock lock(b->lock);
            b->valueClass = valueClass;
            b->palette = settings.palette;
        }
        // Gain and offset go to the block that the datum's view group shows.
        if (DataRecord* blockImage = r->block() ? dataFindBlockImageOf(r) : nullptr) {
            BlockDescriptor& b = *blockImage->block();
            std::unique_lock lock(b.lock);
            b.valueGain = settings.gain;
            b.valueOffset = settings.offset;
        }
        dataRedraw(r);
        if (dataActive() == r)
            if (Host* h = host())
                postToInterfaceThread(GuiRequest::OpenWindow, [h] {
                    if (DataRecord* active = dataActive())
                        h->refreshMenus(active->kind);
                });
        return 1;
    });
}

int dozDataGetClickNumber(unsigned int id)
{
    return pointCount(id, PointList::Click);
}

int* dozDataGetClickX(unsigned int id)
{
    return pointArray(id, PointList::Click, Axis::X);
}

int* dozDataGetClickY(unsigned int id)
{
    return pointArray(id, PointList::Click, Axis::Y);
}

int* dozDataGetClickZ(unsigned int id)
{
    return pointArray(id, PointList::Click, Axis::Z);
}

int dozDataGetCaptureNumber(unsigned int id)
{
    return pointCount(id, PointList::Capture);
}

int* dozDataGetCaptureX(unsigned int id)
{
    return pointArray(id, PointList::Capture, Axis::X);
}

int* dozDataGetCaptureY(unsigned int id)
{
    return pointArray(id, PointList::Capture, Axis::Y);
}

int* dozDataGetCaptureZ(unsigned int id)
{
    return pointArray(id, PointList::Capture, Axis::Z);
}

int vexaImageGetClickNumber(unsigned int imageId)
{
    return dataFindImage(imageId) ? pointCount(imageId, PointList::Click) : 0;
}

int vexaImageGetClickArray(unsigned int imageId, int** x, int** y)
{
    return dataFindImage(imageId) ? pointArrays(imageId, PointList::Click, x, y, nullptr) : 0;
}

int vexaImageGetCaptureNumber(unsigned int imageId)
{
    return dataFindImage(imageId) ? pointCount(imageId, PointList::Capture) : 0;
}

int vexaImageGetCaptureArray(unsigned int imageId, int** x, int** y)
{
    return dataFindImage(imageId) ? pointArrays(imageId, PointList::Capture, x, y, nullptr) : 0;
}

int vexaBlockGetClickNumber(unsigned int blockId)
{
    return dataFindBlock(blockId) ? pointCount(blockId, PointList::Click) : 0;
}

int vexaBlockGetClickArray(unsigned int blockId, int** x, int** y, int** z)
{
    return dataFindBlock(blockId) ? pointArrays(blockId, PointList::Click, x, y, z) : 0;
}

int vexaBlockGetCaptureNumber(unsigned int blockId)
{
    return dataFindBlock(blockId) ? pointCount(blockId, PointList::Capture) : 0;
}

int vexaBlockGetCaptureArray(unsigned int blockId, int** x, int** y, int** z)
{
    return dataFindBlock(blockId) ? pointArrays(blockId, PointList::Capture, x, y, z) : 0;
}

int dozDataGetCursorX(unsigned int id)
{
    return cursorOf(id, 0);
}

int dozDataGetCursorY(unsigned int id)
{
    return cursorOf(id, 1);
}

int dozDataGetCursorZ(unsigned int id)
{
    return cursorOf(id, 2);
}

int dozDataNewUserData(unsigned int id, const char* name)
{
    if (!name)
        return 0;
    return guarded([&] {
        dataUserDataNew(dataFind(id), name);
        return 1;
    });
}

int dozDataSetUserData(unsigned int id, const char* name, int value)
{
    if (!name)
        return 0;
    return guarded([&] {
        dataUserDataSet(dataFind(id), name, value);
        return 1;
    });
}

int dozDataGetUserData(unsigned int id, const char* name)
{
    if (!name)
        return 0;
    return guarded([&] { return dataUserDataGet(dataFind(id), name); });
}

int dozDataDeleteUserData(unsigned int id, const char* name)
{
    if (!name)
        return 0;
    return guarded([&] {
        dataUserDataDelete(dataFind(id), name);
        return 1;
    });
}

int dozDataCallbackAdd(
    unsigned int id, const char* name, DozDataCallback function, void* userArgument)
{
    if (!name || !function)
        return 0;
    return guarded([&] {
        dataCallbackAdd(dataFind(id), name, function, userArgument);
        return 1;
    });
}

int dozDataCallbackSub(unsigned int id, const char* name, DozDataCallback function)
{
    if (!name)
        return 0;
    return guarded([&] {
        dataCallbackSub(dataFind(id), name, function);
        return 1;
    });
}

int dozDataCallbackGetEvent(unsigned int id, const char* event, const char* key, void* out)
{
    return guarded([&] { return dataCallbackGetEvent(dataFind(id), event, key, out); });
}

int dozDataCallbackSetEvent(unsigned int id, const char* event, const char* key, void* value)
{
    return guarded([&] { return dataCallbackSetEvent(dataFind(id), event, key, value); });
}

} // extern "C"
