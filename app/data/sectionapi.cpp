// Section callbacks: reads and writes of whole sections, rectangles and diagonals of
// blocks, and the samples of 2D images.
#include "data/dataapi.h"
#include "data/registry.h"
#include "data/section.h"

#include "vexa_guard.hpp"

#include <climits>
#include <mutex>
#include <shared_mutex>

using namespace vexa;

namespace {

void* getWhole(unsigned int blockId, int plane, int index, int type)
{
    DataRecord* r = dataFindBlock(blockId);
    if (!r)
        return nullptr;
    const BlockDescriptor& b = *r->block();
    int w = 0, h = 0;
    {
        std::shared_lock lock(b.lock);
        sectionSize(b, plane, w, h);
    }
    return guarded([&] { return readSection(b, true, type, plane, index, 0, 0, w - 1, h - 1); });
}

void* getPartial(unsigned int blockId, int plane, int index, int type, int c0, int r0, int w, int h)
{
    DataRecord* r = dataFindBlock(blockId);
    if (!r || w <= 0 || h <= 0)
        return nullptr;
    std::int64_t c1 = std::int64_t(c0) + w - 1, r1 = std::int64_t(r0) + h - 1;
    if (c1 > INT_MAX || r1 > INT_MAX)
        return nullptr;
    return guarded([&] {
        return readSection(*r->block(), true, type, plane, index, c0, r0, int(c1), int(r1));
    });
}

void* getPath(
    unsigned int blockId, int p, int type, const int* dx, const int* dz, int n, int* w, int* h)
{
    int width = 0, height = 0;
    void* out = nullptr;
    if (DataRecord* r = dataFindBlock(blockId))
        out = guarded(
            [&] { return readPathSection(*r->block(), p, type, dx, dz, n, width, height); });
    if (w)
        *w = out ? width : 0;
    if (h)
        *h = out ? height : 0;
    return out;
}

int setWhole(unsigned int blockId, int plane, int index, const void* data, int type)
{
    DataRecord* r = dataFindBlock(blockId);
    if (!r)
        return 0;
    BlockDescriptor& b = *r->block();
    int w = 0, h = 0, blockType = 0;
    {
        std::shared_lock lock(b.lock);
        sectionSize(b, plane, w, h);
        blockType = b.typeData;
    }
    return guarded([&] {
        return writeSection(b, plane, index, 0, 0, data, w, h, type == -1 ? blockType : type) ? 1
                                                                                              : 0;
    });
}

int setPartial(unsigned int blockId, int plane, int index, int c0, int r0, const void* data, int w,
    int h, int type)
{
    DataRecord* r = dataFindBlock(blockId);
    if (!r)
        return 0;
    BlockDescriptor& b = *r->block();
    if (type == -1) {
        std::shared_lock lock(b.lock);
        type = b.typeData;
    }
    return guarded([&] { return writeSection(b, plane, index, c0, r0, data, w, h, type) ? 1 : 0; });
}

int setPath(unsigned int blockId, int p, const int* dx, const int* dz, const void* data, int type)
{
    DataRecord* r = dataFindBlock(blockId);
    if (!r)
        return 0;
    BlockDescriptor& b = *r->block();
    if (type == -1) {
        std::shared_lock lock(b.lock);
        type = b.typeData;
    }
    return guarded([&] { return writePathSection(b, p, dx, dz, 1, data, type) ? 1 : 0; });
}

} // namespace

extern "C" {

void* dozDataGetFront(unsigned int blockId, int z, int type)
{
    return getWhole(blockId, PLANE_FRONT, z, type);
}

void* dozDataGetRight(unsigned int blockId, int x, int type)
{
    return getWhole(blockId, PLANE_RIGHT, x, type);
}

void* dozDataGetTop(unsigned int blockId, int y, int type)
{
    return getWhole(blockId, PLANE_TOP, y, type);
}

void* dozDataGetPartialFront(unsigned int blockId, int z, int type, int c0, int r0, int w, int h)
{
    return getPartial(blockId, PLANE_FRONT, z, type, c0, r0, w, h);
}

void* dozDataGetPartialRight(unsigned int blockId, int x, int type, int c0, int r0, int w, int h)
{
    return getPartial(blockId, PLANE_RIGHT, x, type, c0, r0, w, h);
}

void* dozDataGetPartialTop(unsigned int blockId, int y, int type, int c0, int r0, int w, int h)
{
    return getPartial(blockId, PLANE_TOP, y, type, c0, r0, w, h);
}

void* dozDataGetImageSONE(unsigned int blockId, int p, int type, int* w, int* h)
{
    return getPath(blockId, p, type, kSoneDx, kSoneDz, 1, w, h);
}

void* dozDataGetImageNOSE(unsigned int blockId, int p, int type, int* w, int* h)
{
    return getPath(blockId, p, type, kNoseDx, kNoseDz, 1, w, h);
}

void* dozDataGetImageFromTopPatch(
    unsigned int blockId, int p, int type, const int* dx, const int* dz, int n, int* w, int* h)
{
    return getPath(blockId, p, type, dx, dz, n, w, h);
}

int dozDataSetFront(unsigned int blockId, int z, const void* data)
{
    return setWhole(blockId, PLANE_FRONT, z, data, -1);
}

int dozDataSetRight(unsigned int blockId, int x, const void* data)
{
    return setWhole(blockId, PLANE_RIGHT, x, data, -1);
}

int dozDataSetTop(unsigned int blockId, int y, const void* data)
{
    return setWhole(blockId, PLANE_TOP, y, data, -1);
}

int dozDataSetPartialFront(
    unsigned int blockId, int z, int c0, int r0, const void* data, int w, int h)
{
    return setPartial(blockId, PLANE_FRONT, z, c0, r0, data, w, h, -1);
}

int dozDataSetPartialRight(
    unsigned int blockId, int x, int c0, int r0, const void* data, int w, int h)
{
    return setPartial(blockId, PLANE_RIGHT, x, c0, r0, data, w, h, -1);
}

int dozDataSetPartialTop(
    unsigned int blockId, int y, int c0, int r0, const void* data, int w, int h)
{
    return setPartial(blockId, PLANE_TOP, y, c0, r0, data, w, h, -1);
}

int dozDataSetImageSONE(unsigned int blockId, int p, const void* data)
{
    return setPath(blockId, p, kSoneDx, kSoneDz, data, -1);
}

int dozDataSetImageNOSE(unsigned int blockId, int p, const void* data)
{
    return setPath(blockId, p, kNoseDx, kNoseDz, data, -1);
}

int dozDataSetFrontByType(unsigned int blockId, int z, const void* data, int type)
{
    return vexaTypeIsValid(type) ? setWhole(blockId, PLANE_FRONT, z, data, type) : 0;
}

int dozDataSetRightByType(unsigned int blockId, int x, const void* data, int type)
{
    return vexaTypeIsValid(type) ? setWhole(blockId, PLANE_RIGHT, x, data, type) : 0;
}

int dozDataSetTopByType(unsigned int blockId, int y, const void* data, int type)
{
    return vexaTypeIsValid(type) ? setWhole(blockId, PLANE_TOP, y, data, type) : 0;
}

int dozDataSetPartialFrontByType(
    unsigned int blockId, int z, int c0, int r0, const void* data, int w, int h, int type)
{
    return vexaTypeIsValid(type) ? setPartial(blockId, PLANE_FRONT, z, c0, r0, data, w, h, type)
                                 : 0;
}

int dozDataSetPartialRightByType(
    unsigned int blockId, int x, int c0, int r0, const void* data, int w, int h, int type)
{
    return vexaTypeIsValid(type) ? setPartial(blockId, PLANE_RIGHT, x, c0, r0, data, w, h, type)
                                 : 0;
}

int dozDataSetPartialTopByType(
    unsigned int blockId, int y, int c0, int r0, const void* data, int w, int h, int type)
{
    return vexaTypeIsValid(type) ? setPartial(blockId, PLANE_TOP, y, c0, r0, data, w, h, type) : 0;
}

int dozDataSetImageSONEByType(unsigned int blockId, int p, const void* data, int type)
{
    return vexaTypeIsValid(type) ? setPath(blockId, p, kSoneDx, kSoneDz, data, type) : 0;
}

int dozDataSetImageNOSEByType(unsigned int blockId, int p, const void* data, int type)
{
    return vexaTypeIsValid(type) ? setPath(blockId, p, kNoseDx, kNoseDz, data, type) : 0;
}

int vexaImageGetSize(unsigned int imageId, int* w, int* h)
{
    DataRecord* r = dataFindImage(imageId);
    if (!r)
        return 0;
    ImageDescriptor& im = *r->image2d();
    std::lock_guard lock(im.lock);
    if (w)
        *w = im.width;
    if (h)
        *h = im.height;
    return 1;
}

int vexaImageGetTypeData(unsigned int imageId)
{
    return dataFindImage(imageId) ? dozDataGetTypeData(imageId) : 0;
}

void* vexaImageGetPtrData(unsigned int imageId)
{
    return dataFindImage(imageId) ? dozDataGetPtr(imageId) : nullptr;
}

void* dozDataGetData(unsigned int imageId, int type)
{
    DataRecord* r = dataFindImage(imageId);
    if (!r)
        return nullptr;
    return guarded([&]() -> void* {
        double gain = 1, offset = 0;
        if (const BlockDescriptor* b = r->block()) {
            std::shared_lock lock(b->lock);
            if (b->valueScaleOn) {
                gain = b->valueGain;
                offset = b->valueOffset;
            }
        }
        ImageDescriptor& im = *r->image2d();
        std::lock_guard lock(im.lock);
        if (!r->block() && im.valueScaleOn) {
            gain = im.valueGain;
            offset = im.valueOffset;
        }
        return readImageData(im, gain, offset, type);
    });
}

} // extern "C"
