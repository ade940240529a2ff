// How the data callbacks reach the outputs of the running task that are declared
// but not shown yet. The task manager installs an implementation; without one,
// every operation on a pending output does nothing.
#pragma once

#include "data/datarecord.h"
#include "vexa_plugin.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace vexa {

// Task slot kinds of outputs, as plug-ins number them.
enum OutputSlotKind : int {
    SLOT_IMAGE_OUTPUT = VEXA_SLOT_IMAGE_OUT,
    SLOT_BLOCK_OUTPUT = VEXA_SLOT_BLOCK_OUT
};

class PendingOutputs {
public:
    virtual ~PendingOutputs() = default;
    // The not yet shown outputs of that slot kind of the calling thread's task, in
    // declaration order (n-th output = entry n - 1). Shown outputs are left out.
    virtual std::vector<ImageObject*> outputs(int slotKind) = 0;
    // The not yet shown output whose blockId (or imageId) is id, or null.
    virtual ImageObject* outputById(std::uint32_t id) = 0;
};

void setPendingOutputs(PendingOutputs* outputs);
PendingOutputs* pendingOutputs();

// dozDataPopup's way to create an image output of the running task and show it.
// Installed by the task manager; by default the image record is created directly.
using PopupHandler = std::function<DataRecord*(std::unique_ptr<ImageObject>)>;
void setPopupHandler(PopupHandler handler);

// A new ImageObject as a task declares it: image output 512 x 512 U8, block output
// 64 x 64 x 64 U8 in memory.
std::unique_ptr<ImageObject> newImageOutputObject();
std::unique_ptr<ImageObject> newBlockOutputObject();

// Shows a pending image object: allocates the samples (memory block or 2D image) and
// creates the image record with the given identifiers. Null with a reason when the
// memory cannot be had; nothing is created then.
DataRecord* showImageObject(std::unique_ptr<ImageObject> object, std::uint32_t imageId,
    std::uint32_t blockId, std::string* reason = nullptr);

// Extracts the inclusive region (x1, y1, z1)-(x2, y2, z2) of a record's block as a
// new datum: a memory block is copied; a file block is shown through a logical
// description of the region written to a temporary file (no samples copied). Null
// with a reason when the corners are outside or reversed, or nothing could be made.
DataRecord* extractSubBlock(DataRecord* record, int x1, int y1, int z1, int x2, int y2, int z2,
    std::string* reason = nullptr);

} // namespace vexa
