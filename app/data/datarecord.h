// The record of every open datum (image, block, 3D view, study, graph, audio, film,
// multi-view) and the objects it owns.
#pragma once

#include "data/block.h"
#include "host/host.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexa {

enum DataKind : int {
    DATA_IMAGE = 0,
    DATA_VIEW3D = 2,
    DATA_STUDY = 3,
    DATA_GRAPH = 4,
    DATA_AUDIO = 5,
    DATA_AVI = 6,
    DATA_MVIEW = 7,
};

// Base of the kind-specific objects of kinds 2 to 7 (graph, 3D view, ...), which
// their own subsystems define by deriving from it.
struct KindObject {
    virtual ~KindObject() = default;
    // Sizes reported through dozDataGetWidth/Height/Depth (a 3D view's scene).
    virtual void reportSizes(int& width, int& height, int& depth) const
    {
        width = height = depth = 0;
    }
    // A 3D view object answers whether it carries this handle.
    virtual bool hasHandle(const void* handle) const
    {
        (void)handle;
        return false;
    }
};

// Base of the overlay object tree of an image (defined by the overlay module).
struct OverlayObjects {
    virtual ~OverlayObjects() = default;
};

// Base of the display state of an image view (zoom, display buffer, ...).
struct ImageViewState {
    virtual ~ImageViewState() = default;
};

// The 2D image shown in an image window: a plain image, or the current section of
// a block.
struct ImageDescriptor {
    int width = 512, height = 512;
    int typeData = TYPEDATA_U8;
    SampleBuffer samples;
    double valueGain = 1, valueOffset = 0;
    int valueScaleOn = 0;
    int valueClass = CLASS_DEFAULT;
    PaletteRef palette = defaultPalette();
    double computeTime = 0;
    std::string fileName;
    std::vector<int> clickX, clickY;
    std::vector<int> captureX, captureY;
    // Overlay objects drawn over the image; guarded by lock.
    std::unique_ptr<OverlayObjects> objects;
    std::int32_t calibration[6] = {};
    // A display window given by the file (other programs' formats), for the first
    // correction of the image.
    bool displayRangeSet = false;
    double displayLow = 0, displayHigh = 0;
    // What the file tells about itself (format, geometry, header lines) for the
    // information window; empty for the workstation's own formats.
    std::string fileInfo;
    std::unique_ptr<ImageViewState> view;
    // Held while the display buffer is rebuilt, while the overlay objects are read or
    // changed and while the samples are replaced.
    std::recursive_mutex lock;

    std::int64_t sampleCount() const { return std::int64_t(width) * std::int64_t(height); }
};

// The object of an image record: the 2D image, and the block when it shows one.
struct ImageObject {
    std::unique_ptr<BlockDescriptor> block;
    std::unique_ptr<ImageDescriptor> image = std::make_unique<ImageDescriptor>();
};

using DataCallbackFn = int (*)(unsigned int id, void* eventData, void* userArgument);
// Event accessors handed to callbacks while an event is delivered: they answer keys
// such as "x", "y", "hWnd" into out (or take value) and return 1 when they know it.
using DataEventGetter = int (*)(unsigned int id, const char* event, const char* key, void* out);
using DataEventSetter = int (*)(unsigned int id, const char* event, const char* key, void* value);

struct UserDataEntry {
    std::string name;
    int value = 0;
};

struct DataCallback {
    std::string name;
    DataCallbackFn function = nullptr;
    void* userArgument = nullptr;
    // Set only while this entry is being called for an event.
    DataEventGetter getter = nullptr;
    DataEventSetter setter = nullptr;
    std::string currentEvent;
    bool delivering = false;
    bool removed = false;
};

struct DataRecord {
    // Set on the interface thread once the host has built the window; read anywhere.
    std::atomic<WindowHandle> window { nullptr };
    int kind = DATA_IMAGE;
    // Tasks holding the datum as input or producing it; the window refuses to close
    // while it is not 0.
    std::atomic<int> busyCount { 0 };
    std::uint32_t imageId = 0;
    std::uint32_t blockId = 0;
    std::string number; // name counter at creation, in decimal
    std::string name;
    std::string position; // "FRONT %.5d", ... for a block image
    std::string fileName;
    std::string directory;
    int recency = 1000000;
    int kindRecency = 1000000;
    std::uint32_t linkGroup = 0;
    std::uint32_t viewGroup = 0;
    int shownByTask = 0;
    // Set once the datum was written to a file by a save (results then count as kept).
    std::atomic<bool> savedToFile { false };

    std::unique_ptr<ImageObject> image; // kind 0
    // One per kind 2..7; only the one matching kind is set.
    std::unique_ptr<KindObject> view3d, study, graph, audio, avi, mview;

    // Attachments of plug-ins, newest first. Guarded by the registry's attachment lock.
    std::list<UserDataEntry> userData;
    std::list<std::shared_ptr<DataCallback>> callbacks;

    // The kind object, whichever kind.
    KindObject* kindObject() const;
    BlockDescriptor* block() const { return image ? image->block.get() : nullptr; }
    ImageDescriptor* image2d() const { return image ? image->image.get() : nullptr; }
};

} // namespace vexa
