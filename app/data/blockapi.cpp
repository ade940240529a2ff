// Block storage callbacks: configuring the block outputs of the running task and
// operations on shown blocks.
#include "data/blockoutputs.h"
#include "data/dataapi.h"
#include "data/registry.h"
#include "data/section.h"

#include "vexa_guard.hpp"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace vexa {

namespace {

std::atomic<PendingOutputs*> gPending { nullptr };
std::mutex gPopupMutex;
PopupHandler gPopupHandler;

BlockDescriptor* pendingBlock(int n)
{
    PendingOutputs* po = gPending.load();
    if (!po || n < 1)
        return nullptr;
    std::vector<ImageObject*> outs = po->outputs(SLOT_BLOCK_OUTPUT);
    if (n > int(outs.size()) || !outs[n - 1])
        return nullptr;
    return outs[n - 1]->block.get();
}

std::vector<BlockDescriptor*> pendingBlocks()
{
    std::vector<BlockDescriptor*> blocks;
    if (PendingOutputs* po = gPending.load())
        for (ImageObject* o : po->outputs(SLOT_BLOCK_OUTPUT))
            if (o && o->block)
                blocks.push_back(o->block.get());
    return blocks;
}

BlockDescriptor* pendingBlockById(std::uint32_t blockId)
{
    PendingOutputs* po = gPending.load();
    ImageObject* o = po ? po->outputById(blockId) : nullptr;
    return o ? o->block.get() : nullptr;
}

bool setImageOutputType(ImageObject* o, int type)
{
    if (!o || o->block || !vexaTypeIsValid(type))
        return false;
    std::lock_guard lock(o->image->lock);
    if (o->image->samples)
        return false;
    o->image->typeData = type;
    return true;
}

} // namespace

void setPendingOutputs(PendingOutputs* outputs)
{
    gPending.store(outputs);
}

PendingOutputs* pendingOutputs()
{
    return gPending.load();
}

void setPopupHandler(PopupHandler handler)
{
    std::lock_guard lock(gPopupMutex);
    gPopupHandler = std::move(handler);
}

std::unique_ptr<ImageObject> newImageOutputObject()
{
    auto o = std::make_unique<ImageObject>();
    o->image->width = 512;
    o->image->height = 512;
    o->image->typeData = TYPEDATA_U8;
    return o;
}

std::unique_ptr<ImageObject> newBlockOutputObject()
{
    auto o = std::make_unique<ImageObject>();
    o->block = std::make_unique<BlockDescriptor>();
    o->block->dimX = o->block->dimY = o->block->dimZ = 64;
    o->block->typeData = TYPEDATA_U8;
    o->image->typeData = TYPEDATA_U8;
    return o;
}

DataRecord* showImageObject(std::unique_ptr<ImageObject> object, std::uint32_t imageId,
    std::uint32_t blockId, std::string* reason)
{
    if (!object || !object->image)
        return nullptr;
    if (BlockDescriptor* b = object->block.get()) {
        if (!blockPrepareStorage(*b, reason))
            return nullptr;
        std::unique_lock lock(b->lock);
        b->shown = true;
    } else {
        ImageDescriptor& im = *object->image;
        std::lock_guard lock(im.lock);
        if (!im.samples) {
            if (!blockSizesValid(im.width, im.height, 1, im.typeData, reason))
                return nullptr;
            std::size_t bytes = std::size_t(im.sampleCount()) * vexaTypeSize(im.typeData);
            if (!im.samples.allocate(bytes)) {
                if (reason)
                    *reason = "Mémoire insuffisante pour une image de " + std::to_string(im.width)
                        + " x " + std::to_string(im.height);
                return nullptr;
            }
        }
    }
    return dataCreateImage(std::move(object), imageId, blockId);
}

DataRecord* extractSubBlock(
    DataRecord* record, int x1, int y1, int z1, int x2, int y2, int z2, std::string* reason)
{
    if (!record || !record->block())
        return nullptr;
    const BlockDescriptor& source = *record->block();
    std::unique_ptr<ImageObject> object = std::make_unique<ImageObject>();
    if (source.storage == STORAGE_MEMORY) {
        object->block = extractMemoryBlock(source, x1, y1, z1, x2, y2, z2, reason);
    } else {
        std::string description = writeExtractDescription(source, x1, y1, z1, x2, y2, z2, reason);
        if (description.empty())
            return nullptr;
        object->block = blockOpenFile(description, reason);
        if (object->block)
            object->block->temporaryFile = description;
        else
            std::remove(description.c_str());
    }
    if (!object->block)
        return nullptr;
    object->image->typeData = object->block->typeData;
    return showImageObject(std::move(object), kFreshId, kFreshId, reason);
}

} // namespace vexa

using namespace vexa;

extern "C" {

void* dozDataFree(void* p)
{
    std::free(p);
    return nullptr;
}

void* dozDataFreeUserData(int bytes)
{
    return bytes > 0 ? std::calloc(std::size_t(bytes), 1) : nullptr;
}

int dozDataSetBlockSize(void* handle, int n, int dimX, int dimY, int dimZ)
{
    (void)handle;
    BlockDescriptor* b = pendingBlock(n);
    return b && blockSetSize(*b, dimX, dimY, dimZ) ? 1 : 0;
}

int dozDataSetBlockSizeAll(void* handle, int dimX, int dimY, int dimZ)
{
    (void)handle;
    int done = 0;
    for (BlockDescriptor* b : pendingBlocks())
        done |= blockSetSize(*b, dimX, dimY, dimZ) ? 1 : 0;
    return done;
}

int dozDataSetType(void* handle, int slotKind, int n, int type)
{
    (void)handle;
    if (slotKind == SLOT_BLOCK_OUTPUT) {
        BlockDescriptor* b = pendingBlock(n);
        return b && blockSetType(*b, type) ? 1 : 0;
    }
    PendingOutputs* po = pendingOutputs();
    if (slotKind != SLOT_IMAGE_OUTPUT || !po || n < 1)
        return 0;
    std::vector<ImageObject*> outs = po->outputs(SLOT_IMAGE_OUTPUT);
    return n <= int(outs.size()) && setImageOutputType(outs[n - 1], type) ? 1 : 0;
}

int dozDataSetTypeAll(void* handle, int slotKind, int type)
{
    (void)handle;
    PendingOutputs* po = pendingOutputs();
    if (!po || (slotKind != SLOT_IMAGE_OUTPUT && slotKind != SLOT_BLOCK_OUTPUT))
        return 0;
    int done = 0;
    for (ImageObject* o : po->outputs(slotKind)) {
        if (slotKind == SLOT_BLOCK_OUTPUT)
            done |= o && o->block && blockSetType(*o->block, type) ? 1 : 0;
        else
            done |= setImageOutputType(o, type) ? 1 : 0;
    }
    return done;
}

int dozDataSetBlockMemory(void* handle, int n)
{
    (void)handle;
    BlockDescriptor* b = pendingBlock(n);
    return b && blockSetMemory(*b) ? 1 : 0;
}

int dozDataSetBlockMemoryAll(void* handle)
{
    (void)handle;
    int done = 0;
    for (BlockDescriptor* b : pendingBlocks())
        done |= blockSetMemory(*b) ? 1 : 0;
    return done;
}

int dozDataSetBlockFile(void* handle, int n, int mode, const char* path)
{
    (void)handle;
    BlockDescriptor* b = pendingBlock(n);
    if (!b || !path)
        return 0;
    return guarded([&] { return blockSetFile(*b, mode, path) ? 1 : 0; });
}

int vexaBlockSetSize(unsigned int blockId, int dimX, int dimY, int dimZ)
{
    BlockDescriptor* b = pendingBlockById(blockId);
    return b && blockSetSize(*b, dimX, dimY, dimZ) ? 1 : 0;
}

int vexaBlockSetTypeData(unsigned int blockId, int type)
{
    BlockDescriptor* b = pendingBlockById(blockId);
    return b && blockSetType(*b, type) ? 1 : 0;
}

int vexaBlockSetMemory(unsigned int blockId)
{
    BlockDescriptor* b = pendingBlockById(blockId);
    return b && blockSetMemory(*b) ? 1 : 0;
}

int vexaBlockSetFile(unsigned int blockId, int mode, const char* path)
{
    BlockDescriptor* b = pendingBlockById(blockId);
    if (!b || !path)
        return 0;
    return guarded([&] { return blockSetFile(*b, mode, path) ? 1 : 0; });
}

int vexaBlockGetSize(unsigned int blockId, int* dimX, int* dimY, int* dimZ)
{
    DataRecord* r = dataFindBlock(blockId);
    if (!r)
        return 0;
    BlockDescriptor& b = *r->block();
    std::shared_lock lock(b.lock);
    if (dimX)
        *dimX = b.dimX;
    if (dimY)
        *dimY = b.dimY;
    if (dimZ)
        *dimZ = b.dimZ;
    return 1;
}

int vexaBlockGetTypeData(unsigned int blockId)
{
    return dataFindBlock(blockId) ? dozDataGetTypeData(blockId) : 0;
}

void* vexaBlockGetPtrData(unsigned int blockId)
{
    return dataFindBlock(blockId) ? dozDataGetPtr(blockId) : nullptr;
}

int vexaBlockGetCursor(unsigned int id, int* x, int* y, int* z)
{
    DataRecord* r = dataFind(id);
    if (!r || r->kind != DATA_IMAGE || !r->block())
        return 0;
    BlockDescriptor& b = *r->block();
    if (x)
        *x = b.cursorX;
    if (y)
        *y = b.cursorY;
    if (z)
        *z = b.cursorZ;
    return 1;
}

int dozDataGetSpace(unsigned int blockId, double* start, double* step)
{
    DataRecord* r = dataFindBlock(blockId);
    if (!r)
        return 0;
    BlockDescriptor& b = *r->block();
    std::shared_lock lock(b.lock);
    if (b.spaceStart == 0 && b.spaceStep == 1)
        return 0;
    if (start)
        *start = b.spaceStart;
    if (step)
        *step = b.spaceStep;
    return 1;
}

int dozDataSetOp(unsigned int blockId, int op)
{
    DataRecord* r = dataFindBlock(blockId);
    if (!r)
        return 0;
    blockSetOp(*r->block(), op);
    return 1;
}

int vexaBlockCopyToFile(unsigned int blockId, const char* path)
{
    DataRecord* r = dataFindBlock(blockId);
    if (!r || !path)
        return 0;
    return guarded([&] { return blockCopyToFile(*r->block(), path) ? 1 : 0; });
}

unsigned int dozDataPopup(const void* data, int w, int h, int type)
{
    if (!data || w <= 0 || h <= 0 || !vexaTypeIsValid(type))
        return 0;
    if (!blockSizesValid(w, h, 1, type) || std::int64_t(w) * h > INT_MAX)
        return 0;
    return guarded([&]() -> unsigned int {
        auto object = newImageOutputObject();
        object->image->width = w;
        object->image->height = h;
        object->image->typeData = type;
        PopupHandler handler;
        {
            std::lock_guard lock(gPopupMutex);
            handler = gPopupHandler;
        }
        DataRecord* r = handler ? handler(std::move(object))
                                : showImageObject(std::move(object), kFreshId, kFreshId);
        if (!r || !r->image2d())
            return 0;
        {
            ImageDescriptor& im = *r->image2d();
            std::lock_guard lock(im.lock);
            std::size_t bytes = std::size_t(w) * std::size_t(h) * vexaTypeSize(type);
            if (im.samples.size() >= bytes && im.typeData == type)
                std::memcpy(im.samples.data(), data, bytes);
        }
        dataRedraw(r);
        return r->imageId;
    });
}

} // extern "C"
