#include "tasks/taskapi.h"

#include "data/block.h"
#include "tasks/taskcontext.h"
#include "tasks/taskmutex.h"

#include "vexa_guard.hpp"

#include <string>

// The French and older names are the same functions, not forwarders: the callback
// table hands out one address per function whatever name is asked.
#define VEXA_ALIAS(target) __attribute__((alias(#target)))

namespace vexa {

namespace {

// A plug-in asking for absurd numbers of outputs must not exhaust memory.
constexpr std::size_t kMaxSlotsPerTask = 100000;

bool validSize(int width, int height)
{
    return width > 0 && height > 0;
}

// The pending object of an output slot that may still be configured.
ImageObject* pendingImage(TaskSlot& slot)
{
    if (slot.record || slot.showing || slot.failed)
        return nullptr;
    return slot.image.get();
}

BlockDescriptor* pendingBlock(TaskSlot& slot)
{
    ImageObject* object = slot.kind == SLOT_BLOCK_OUT ? pendingImage(slot) : nullptr;
    return object ? object->block.get() : nullptr;
}

bool graphPending(const TaskSlot& slot)
{
    return (slot.kind == SLOT_GRAPH_OUT || slot.kind == SLOT_VIEW3D_OUT) && !slot.record
        && !slot.showing && !slot.failed;
}

// Applies fn to one slot of the current task, under the task mutex: the slot of a
// kind with an identifier, or the n-th of a kind.
template <typename Fn> int onSlotById(int kind, std::uint32_t id, Fn fn)
{
    return guarded([&]() -> int {
        TaskLock lock;
        TaskContext* context = taskCurrent();
        int index = taskFindSlot(context, kind, id);
        return index < 0 ? 0 : (fn(context->taskSlots[std::size_t(index)]) ? 1 : 0);
    });
}

template <typename Fn> int onNthSlot(int kind, int n, Fn fn)
{
    return guarded([&]() -> int {
        TaskLock lock;
        TaskContext* context = taskCurrent();
        int index = taskNthSlot(context, kind, n);
        return index < 0 ? 0 : (fn(context->taskSlots[std::size_t(index)]) ? 1 : 0);
    });
}

// Applies fn to every slot of a kind; 1 when at least one slot took it.
template <typename Fn> int onAllSlots(int kind, Fn fn)
{
    return guarded([&]() -> int {
        TaskLock lock;
        TaskContext* context = taskCurrent();
        if (!context)
            return 0;
        bool any = false;
        for (TaskSlot& slot : context->taskSlots)
            if (slot.kind == kind && fn(slot))
                any = true;
        return any ? 1 : 0;
    });
}

bool setImageType(TaskSlot& slot, int type)
{
    ImageObject* object = pendingImage(slot);
    if (!object || !vexaTypeIsValid(type))
        return false;
    object->image->typeData = type;
    return true;
}

bool setImageSize(TaskSlot& slot, int width, int height)
{
    ImageObject* object = pendingImage(slot);
    if (!object || !validSize(width, height))
        return false;
    object->image->width = width;
    object->image->height = height;
    return true;
}

bool setObjectSize(TaskSlot& slot, int width, int height)
{
    if (!graphPending(slot) || !validSize(width, height))
        return false;
    slot.objectWidth = width;
    slot.objectHeight = height;
    return true;
}

bool setBlockSize(TaskSlot& slot, int dimX, int dimY, int dimZ)
{
    BlockDescriptor* block = pendingBlock(slot);
    return block && blockSetSize(*block, dimX, dimY, dimZ);
}

bool setBlockType(TaskSlot& slot, int type)
{
    BlockDescriptor* block = pendingBlock(slot);
    return block && blockSetType(*block, type);
}

std::uint32_t takeInput(int kind)
{
    return guarded([&] { return taskTakeInput(taskCurrent(), kind); });
}

std::uint32_t declareOutput(int kind)
{
    return guarded([&] { return taskDeclareOutput(taskCurrent(), kind); });
}

// Declares count outputs of a kind. False when the task would grow past its limit.
bool declareOutputs(TaskContext* context, int kind, int count)
{
    if (!context || count <= 0)
        return true;
    {
        TaskLock lock;
        if (context->taskSlots.size() + std::size_t(count) > kMaxSlotsPerTask)
            return false;
    }
    for (int i = 0; i < count; ++i)
        if (!taskDeclareOutput(context, kind))
            return false;
    return true;
}

void* showOutput(int kind, std::uint32_t id)
{
    return guarded([&]() -> void* {
        TaskContext* context = nullptr;
        int index = -1;
        {
            TaskLock lock;
            context = taskCurrent();
            index = taskFindSlot(context, kind, id);
        }
        return index < 0 ? nullptr : taskShowOutput(context, index);
    });
}

template <typename Fn> int onProgress(Fn fn)
{
    return guarded([&]() -> int {
        TaskLock lock;
        TaskContext* context = taskCurrent();
        return context ? fn(*context) : 0;
    });
}

} // namespace

} // namespace vexa

using namespace vexa;

extern "C" {

unsigned int vexaImageGetIn(void) noexcept
{
    return takeInput(SLOT_IMAGE_IN);
}

unsigned int vexaBlockGetIn(void) noexcept
{
    return takeInput(SLOT_BLOCK_IN);
}

unsigned int vexaStudyGetIn(void) noexcept
{
    return takeInput(SLOT_STUDY_IN);
}

unsigned int vexaView3dGetIn(void) noexcept
{
    return takeInput(SLOT_VIEW3D_IN);
}

unsigned int vexaImageNew(void) noexcept
{
    return declareOutput(SLOT_IMAGE_OUT);
}

unsigned int vexaBlockNew(void) noexcept
{
    return declareOutput(SLOT_BLOCK_OUT);
}

unsigned int vexaGraphNew(void) noexcept
{
    return declareOutput(SLOT_GRAPH_OUT);
}

unsigned int vexaView3dNew(void) noexcept
{
    return declareOutput(SLOT_VIEW3D_OUT);
}

int vexaImageSetTypeData(unsigned int imageId, int type) noexcept
{
    return onSlotById(SLOT_IMAGE_OUT, imageId, [&](TaskSlot& s) { return setImageType(s, type); });
}

int vexaImageSetSize(unsigned int imageId, int width, int height) noexcept
{
    return onSlotById(
        SLOT_IMAGE_OUT, imageId, [&](TaskSlot& s) { return setImageSize(s, width, height); });
}

int vexaGraphSetSize(unsigned int imageId, int width, int height) noexcept
{
    return onSlotById(
        SLOT_GRAPH_OUT, imageId, [&](TaskSlot& s) { return setObjectSize(s, width, height); });
}

void* vexaImageShow(unsigned int imageId) noexcept
{
    return showOutput(SLOT_IMAGE_OUT, imageId);
}

void* vexaBlockShow(unsigned int blockId) noexcept
{
    return showOutput(SLOT_BLOCK_OUT, blockId);
}

void* vexaGraphShow(unsigned int imageId) noexcept
{
    return showOutput(SLOT_GRAPH_OUT, imageId);
}

void* vexaView3dShow(unsigned int imageId) noexcept
{
    return showOutput(SLOT_VIEW3D_OUT, imageId);
}

int dozDataSetNumber(void* handle, int slotKind, int count) noexcept
{
    (void)handle;
    return guarded([&]() -> int {
        TaskContext* context = taskCurrent();
        if (!context)
            return 0;
        if (slotIsInput(slotKind)) {
            {
                TaskLock lock;
                for (const TaskSlot& slot : context->taskSlots)
                    if (slot.kind == slotKind)
                        return 0;
            }
            for (int i = 0; i < count; ++i)
                if (!taskTakeInput(context, slotKind))
                    break;
            return 1;
        }
        if (slotIsOutput(slotKind))
            return declareOutputs(context, slotKind, count) ? 1 : 0;
        return 1;
    });
}
int dozDataSetNombre(void* handle, int slotKind, int count) noexcept VEXA_ALIAS(dozDataSetNumber);

int dozDataSetImageNumberTypeSize(void* handle, int count, int type, int width, int height) noexcept
{
    (void)handle;
    return guarded([&]() -> int {
        if (!declareOutputs(taskCurrent(), SLOT_IMAGE_OUT, count))
            return 0;
        onAllSlots(SLOT_IMAGE_OUT, [&](TaskSlot& s) {
            bool typed = setImageType(s, type);
            bool sized = setImageSize(s, width, height);
            return typed || sized;
        });
        return 1;
    });
}
int dozDataSetImageNombreTypeTaille(void* handle, int count, int type, int width,
    int height) noexcept VEXA_ALIAS(dozDataSetImageNumberTypeSize);

int dozDataSetBlockNumberTypeSize(
    void* handle, int count, int type, int dimX, int dimY, int dimZ) noexcept
{
    (void)handle;
    return guarded([&]() -> int {
        if (!declareOutputs(taskCurrent(), SLOT_BLOCK_OUT, count))
            return 0;
        onAllSlots(SLOT_BLOCK_OUT, [&](TaskSlot& s) {
            bool typed = setBlockType(s, type);
            bool sized = setBlockSize(s, dimX, dimY, dimZ);
            return typed || sized;
        });
        return 1;
    });
}
int dozDataSetBlockNombreTypeTaille(void* handle, int count, int type, int dimX, int dimY,
    int dimZ) noexcept VEXA_ALIAS(dozDataSetBlockNumberTypeSize);
int dozDataSetBlocNombreTypeTaille(void* handle, int count, int type, int dimX, int dimY,
    int dimZ) noexcept VEXA_ALIAS(dozDataSetBlockNumberTypeSize);

int dozDataSetImageSize(void* handle, int n, int width, int height) noexcept
{
    (void)handle;
    return onNthSlot(
        SLOT_IMAGE_OUT, n, [&](TaskSlot& s) { return setImageSize(s, width, height); });
}
int dozDataSetImageTaille(void* handle, int n, int width, int height) noexcept
    VEXA_ALIAS(dozDataSetImageSize);

int dozDataSetImageSizeAll(void* handle, int width, int height) noexcept
{
    (void)handle;
    return onAllSlots(SLOT_IMAGE_OUT, [&](TaskSlot& s) { return setImageSize(s, width, height); });
}
int dozDataSetImageTailleAll(void* handle, int width, int height) noexcept
    VEXA_ALIAS(dozDataSetImageSizeAll);

int dozDataSetGraphSize(void* handle, int n, int width, int height) noexcept
{
    (void)handle;
    return onNthSlot(
        SLOT_GRAPH_OUT, n, [&](TaskSlot& s) { return setObjectSize(s, width, height); });
}

int dozDataSetGraphSizeAll(void* handle, int width, int height) noexcept
{
    (void)handle;
    return onAllSlots(SLOT_GRAPH_OUT, [&](TaskSlot& s) { return setObjectSize(s, width, height); });
}

unsigned int dozDataGetIdByCount(void* handle, int slotKind, int n) noexcept
{
    (void)handle;
    return guarded([&]() -> std::uint32_t {
        if (slotKind < 0 || slotKind > 7)
            return 0;
        TaskContext* context = nullptr;
        int index = -1;
        std::uint32_t id = 0;
        bool needsShow = false;
        {
            TaskLock lock;
            context = taskCurrent();
            index = taskNthSlot(context, slotKind, n);
            if (index < 0)
                return 0;
            const TaskSlot& slot = context->taskSlots[std::size_t(index)];
            bool byBlock = slotKind == SLOT_BLOCK_IN || slotKind == SLOT_BLOCK_OUT;
            id = byBlock ? slot.blockId : slot.imageId;
            needsShow = slotIsOutput(slotKind) && !slot.record;
        }
        // An identifier must name a datum the plug-in can reach.
        if (needsShow && !taskShowOutput(context, index))
            return 0;
        return id;
    });
}

int dozTaskSetIntervalProgress(void* handle, int a, int b) noexcept
{
    (void)handle;
    return onProgress([&](TaskContext& c) {
        progressSetInterval(c.progress, a, b);
        return 1;
    });
}
int dozTacheSetIntervalProgression(void* handle, int a, int b) noexcept
    VEXA_ALIAS(dozTaskSetIntervalProgress);

int vexaProgressSetMinMax(int a, int b) noexcept
{
    return dozTaskSetIntervalProgress(nullptr, a, b);
}

int dozTaskSetProgress(void* handle, int position) noexcept
{
    (void)handle;
    int accepted = onProgress(
        [&](TaskContext& c) { return progressSetPosition(c.progress, position) ? 1 : 0; });
    // Outside the task mutex: a suspended task waits here.
    bool stop = guarded([] { return taskStopRequested() ? 1 : 0; }) != 0;
    return stop ? 0 : accepted;
}
int dozTacheSetProgression(void* handle, int position) noexcept VEXA_ALIAS(dozTaskSetProgress);

int vexaProgressSetPosition(int position) noexcept
{
    return dozTaskSetProgress(nullptr, position);
}

int dozTaskResetTimer(void* handle) noexcept
{
    (void)handle;
    return onProgress([](TaskContext& c) {
        c.clockStart = taskClockMs();
        return 1;
    });
}

int vexaProgressReset(void) noexcept
{
    return dozTaskResetTimer(nullptr);
}

int dozTaskShouldStop(void* handle) noexcept
{
    (void)handle;
    return guarded([] { return taskStopRequested() ? 1 : 0; });
}

int dozTaskGetMenuId(void* handle) noexcept
{
    (void)handle;
    int commandId = onProgress([](TaskContext& c) { return int(c.commandId); });
    return guarded([&] { return taskMenuIdOf(commandId); });
}

} // extern "C"
