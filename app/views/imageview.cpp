#include "views/imageview.h"

#include "data/dataapi.h"
#include "data/registry.h"
#include "data/section.h"
#include "display/correction.h"
#include "display/imagerange.h"
#include "display/palettelist.h"
#include "vexa_types.h"
#include "vexamem.h"
#include "views/readouts.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>

namespace vexa {

namespace {

// The event being delivered on this thread, for the event getter.
thread_local const ViewEvent* tCurrentEvent = nullptr;

int viewEventGetter(unsigned int, const char*, const char* key, void* out)
{
    const ViewEvent* e = tCurrentEvent;
    if (!e || !key || !out)
        return 0;
    const std::string k = key;
    if (k == "hWnd") {
        *static_cast<void**>(out) = e->window;
        return 1;
    }
    if (k == "id") {
        *static_cast<unsigned int*>(out) = e->imageId;
        return 1;
    }
    const struct {
        const char* name;
        int value;
    } keys[] = {
        { "x", e->x },
        { "y", e->y },
        { "z", e->z },
        { "x_image", e->x },
        { "y_image", e->y },
        { "x1_image", e->x1 },
        { "y1_image", e->y1 },
        { "x2_image", e->x2 },
        { "y2_image", e->y2 },
        { "sx_image", e->width },
        { "sy_image", e->height },
        { "x_screen", e->screenX },
        { "y_screen", e->screenY },
        { "wparam", e->wparam },
        { "lparam", e->lparam },
        { "type_view", e->typeView },
    };
    for (const auto& entry : keys)
        if (k == entry.name) {
            *static_cast<int*>(out) = entry.value;
            return 1;
        }
    return 0;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

DisplayRequest displayRequest(
    const ImageDescriptor& image, const DisplaySettings& settings, const DisplayColours& colours)
{
    DisplayRequest r;
    r.samples = image.samples.data();
    r.width = image.width;
    r.height = image.height;
    r.type = image.typeData;
    r.gain = settings.gain;
    r.offset = settings.offset;
    r.labelPalette = isLabelPalette(settings.palette);
    r.colours = &colours;
    return r;
}

bool samplesMatch(const ImageDescriptor& image)
{
    return image.samples && image.width > 0 && image.height > 0 && vexaTypeIsValid(image.typeData)
        && image.samples.size() >= std::size_t(image.width) * std::size_t(image.height)
            * std::size_t(vexaTypeSize(image.typeData));
}

// Scanning a whole volume for its range is worth it up to this size; beyond, the shown
// section stands for it.
constexpr std::size_t kMaxRangeScanBytes = std::size_t(256) << 20;

bool blockRange(const BlockDescriptor& block, double& min, double& max)
{
    std::shared_lock lock(block.lock);
    const std::int64_t rows = std::int64_t(block.dimY) * std::int64_t(block.dimZ);
    if (block.storage != STORAGE_MEMORY || !block.samples || rows <= 0 || rows > INT_MAX
        || block.samples.size() > kMaxRangeScanBytes)
        return false;
    const ImagePart part { block.samples.data(), block.samples.size(), block.typeData, block.dimX,
        int(rows), 0, 0, block.dimX, int(rows) };
    return partRange(part, min, max);
}

} // namespace

InitialCorrection applyInitialCorrection(DataRecord& record, bool autoRange)
{
    ImageDescriptor* image = record.image2d();
    if (!image || !autoRange)
        return InitialCorrection::Kept;
    const DisplaySettings settings = displaySettings(record);
    if (settings.gain != 1.0 || settings.offset != 0.0 || settings.valueClass != CLASS_DEFAULT
        || isLabelPalette(settings.palette))
        return InitialCorrection::Kept;
    BlockDescriptor* block = record.block();
    double low = 0.0, high = 0.0;
    InitialCorrection how = InitialCorrection::MinMax;
    {
        std::lock_guard lock(image->lock);
        const int type = block ? block->typeData : image->typeData;
        if (type == TYPEDATA_RGBA || !vexaTypeIsValid(type))
            return InitialCorrection::Kept;
        if (image->displayRangeSet) {
            low = image->displayLow;
            high = image->displayHigh;
            how = InitialCorrection::FileWindow;
        } else if (!block || !blockRange(*block, low, high)) {
            const ImagePart part { image->samples.data(), image->samples.size(), image->typeData,
                image->width, image->height, 0, 0, image->width, image->height };
            if (!partRange(part, low, high))
                return InitialCorrection::Undecided;
        }
    }
    if (how == InitialCorrection::MinMax && low == high)
        return InitialCorrection::Undecided;
    if (how == InitialCorrection::MinMax && low >= 0.0 && high <= 255.0)
        return InitialCorrection::Kept;
    double gain = 1.0, offset = 0.0;
    if (!rangeCorrection(low, high, gain, offset))
        return InitialCorrection::Kept;
    if (block) {
        std::unique_lock lock(block->lock);
        block->valueGain = gain;
        block->valueOffset = offset;
    } else {
        std::lock_guard lock(image->lock);
        image->valueGain = gain;
        image->valueOffset = offset;
    }
    return how;
}

bool displayedRange(const DataRecord& record, double& atLevel0, double& atLevel255)
{
    const DisplaySettings settings = displaySettings(record);
    return valueAtLevel(settings.gain, settings.offset, 0.0, atLevel0)
        && valueAtLevel(settings.gain, settings.offset, 255.0, atLevel255);
}

ImageViewData& imageViewData(ImageDescriptor& image)
{
    auto* data = dynamic_cast<ImageViewData*>(image.view.get());
    if (!data) {
        auto fresh = std::make_unique<ImageViewData>();
        fresh->zoom.imageW = image.width;
        fresh->zoom.imageH = image.height;
        fresh->zoom.visibleW = image.width;
        fresh->zoom.visibleH = image.height;
        data = fresh.get();
        image.view = std::move(fresh);
    }
    return *data;
}

DisplaySettings displaySettings(const DataRecord& record)
{
    DisplaySettings s;
    if (const BlockDescriptor* block = record.block()) {
        std::shared_lock lock(block->lock);
        s.gain = block->valueGain;
        s.offset = block->valueOffset;
        s.scaleOn = block->valueScaleOn;
        s.palette = block->palette;
        s.valueClass = block->valueClass;
    } else if (const ImageDescriptor* image = record.image2d()) {
        s.gain = image->valueGain;
        s.offset = image->valueOffset;
        s.scaleOn = image->valueScaleOn;
        s.palette = image->palette;
        s.valueClass = image->valueClass;
    }
    return s;
}

bool isLabelPalette(PaletteRef palette)
{
    return palette.family == kLabelPaletteFamily && palette.variant == kLabelPaletteVariant;
}

DisplayColours paletteColours(PaletteRef palette)
{
    ColourTable table;
    copyPaletteTable(palette.family, palette.variant, table);
    DisplayColours colours;
    for (std::size_t i = 0; i < 256; ++i)
        colours[i] = { table[i].blue, table[i].green, table[i].red, 0 };
    return colours;
}

bool rebuildDisplay(DataRecord& record)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return false;
    const DisplaySettings settings = displaySettings(record);
    const DisplayColours colours = paletteColours(settings.palette);
    std::lock_guard lock(image->lock);
    ImageViewData& view = imageViewData(*image);
    if (view.zoom.imageW != image->width || view.zoom.imageH != image->height) {
        view.zoom.imageW = image->width;
        view.zoom.imageH = image->height;
        updateVisible(view.zoom);
    }
    view.display = DisplayBitmap {};
    if (!samplesMatch(*image))
        return false;
    DisplayRequest r = displayRequest(*image, settings, colours);
    r.originX = view.zoom.originX;
    r.originY = view.zoom.originY;
    r.visibleW = view.zoom.visibleW;
    r.visibleH = view.zoom.visibleH;
    r.zx = magnification(view.zoom.zoomX);
    r.zy = magnification(view.zoom.zoomY);
    r.smooth = view.displayMode == DISPLAY_INTERPOLATED;
    return buildDisplayBitmap(r, view.display);
}

bool buildLoupeBitmap(DataRecord& record, const LoupeGeometry& g, DisplayBitmap& out)
{
    ImageDescriptor* image = record.image2d();
    out = DisplayBitmap {};
    if (!image)
        return false;
    const DisplaySettings settings = displaySettings(record);
    const DisplayColours colours = paletteColours(settings.palette);
    std::lock_guard lock(image->lock);
    if (!samplesMatch(*image))
        return false;
    ImageViewData& view = imageViewData(*image);
    DisplayRequest r = displayRequest(*image, settings, colours);
    r.originX = view.cursorX - g.hx;
    r.originY = view.cursorY - g.hy;
    r.visibleW = 2 * g.hx + 1;
    r.visibleH = 2 * g.hy + 1;
    r.zx = g.sx;
    r.zy = g.sy;
    r.smooth = view.displayMode == DISPLAY_INTERPOLATED;
    return buildDisplayBitmap(r, out);
}

CursorPen recordCursorPen(DataRecord& record, bool vertical)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return CursorPen::Red;
    const DisplaySettings settings = displaySettings(record);
    const DisplayColours colours = paletteColours(settings.palette);
    std::lock_guard lock(image->lock);
    if (!samplesMatch(*image))
        return CursorPen::Red;
    const ImageViewData& view = imageViewData(*image);
    ContrastSource source { image->samples.data(), image->width, image->height, image->typeData,
        settings.gain, settings.offset, &colours };
    return cursorPen(source, view.cursorX, view.cursorY, vertical);
}

std::string recordValueReadout(DataRecord& record, int cx, int cy)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return {};
    const DisplaySettings settings = displaySettings(record);
    std::lock_guard lock(image->lock);
    if (!samplesMatch(*image))
        return {};
    ReadoutSource source { image->samples.data(), image->width, image->height, image->typeData,
        settings.gain, settings.offset, settings.scaleOn != 0, settings.palette.family,
        settings.valueClass };
    return valueReadout(source, cx, cy);
}

StatusTexts statusTexts(DataRecord& record, int cx, int cy)
{
    StatusTexts texts;
    ImageDescriptor* image = record.image2d();
    if (!image)
        return texts;
    int type, width, height, plane;
    {
        std::lock_guard lock(image->lock);
        type = image->typeData;
        width = image->width;
        height = image->height;
        plane = imageViewData(*image).plane;
    }
    texts.type = shortTypeCode(type);
    if (const BlockDescriptor* block = record.block()) {
        sectionExtent(*block, plane, width, height);
        if (block->cursor3dShown) {
            const VolumePoint p = sectionToVolume(*block, plane, cx, cy);
            texts.volume = volumeText(p.x, p.y, p.z);
        }
    }
    texts.cursor = cursorText(cx, cy, width, height);
    texts.value = recordValueReadout(record, cx, cy);
    return texts;
}

std::vector<std::string> recordInfoLines(DataRecord& record)
{
    InfoSource info;
    std::string fileInfo;
    ImageDescriptor* image = record.image2d();
    if (!image)
        return {};
    {
        std::lock_guard lock(image->lock);
        const ImageViewData& view = imageViewData(*image);
        info.width = image->width;
        info.height = image->height;
        info.type = image->typeData;
        info.visibleW = view.zoom.visibleW;
        info.visibleH = view.zoom.visibleH;
        info.zoomX = view.zoom.zoomX;
        info.zoomY = view.zoom.zoomY;
        info.imageTime = image->computeTime;
        fileInfo = image->fileInfo;
    }
    if (const BlockDescriptor* block = record.block()) {
        std::shared_lock lock(block->lock);
        info.hasBlock = true;
        info.dimX = block->dimX;
        info.dimY = block->dimY;
        info.dimZ = block->dimZ;
        info.blockType = block->typeData;
        info.blockInFile = block->storage == STORAGE_FILE;
        info.blockTime = block->computeTime;
    }
    std::vector<std::string> lines = infoLines(info);
    // What another program's file said about itself follows, after a blank row.
    if (!fileInfo.empty()) {
        lines.emplace_back();
        std::size_t at = 0;
        while (at <= fileInfo.size()) {
            std::size_t end = fileInfo.find('\n', at);
            if (end == std::string::npos)
                end = fileInfo.size();
            if (end > at)
                lines.push_back(fileInfo.substr(at, end - at));
            at = end + 1;
        }
    }
    return lines;
}

int currentSectionIndex(const BlockDescriptor& block, int plane)
{
    switch (plane) {
    case PLANE_RIGHT:
        return block.cursorX;
    case PLANE_TOP:
        return block.cursorY;
    default:
        return block.cursorZ;
    }
}

bool loadSection(DataRecord& record, int plane, int index)
{
    BlockDescriptor* block = record.block();
    ImageDescriptor* image = record.image2d();
    if (!block || !image)
        return false;
    int w = 0, h = 0;
    if (!sectionSize(*block, plane, w, h) || w <= 0 || h <= 0)
        return false;
    index = std::clamp(index, 0, std::max(sectionCount(*block, plane) - 1, 0));
    std::unique_ptr<void, FreeDeleter> raw(
        readSection(*block, false, -1, plane, index, 0, 0, w - 1, h - 1));
    if (!raw)
        return false;
    {
        std::lock_guard lock(image->lock);
        ImageViewData& view = imageViewData(*image);
        const bool sameSize = image->width == w && image->height == h;
        image->width = w;
        image->height = h;
        image->typeData = block->typeData;
        image->samples.adopt(raw.release(),
            std::size_t(w) * std::size_t(h) * std::size_t(vexaTypeSize(block->typeData)));
        view.plane = plane;
        view.zoom.imageW = w;
        view.zoom.imageH = h;
        if (!sameSize)
            updateVisible(view.zoom);
        view.cursorX = std::clamp(view.cursorX, 0, w - 1);
        view.cursorY = std::clamp(view.cursorY, 0, h - 1);
    }
    if (plane == PLANE_FRONT)
        block->cursorZ = index;
    else if (plane == PLANE_RIGHT)
        block->cursorX = index;
    else
        block->cursorY = index;
    {
        std::lock_guard lock(image->lock);
        ImageViewData& view = imageViewData(*image);
        const SectionPoint p = blockCursorOnSection(*block, plane);
        view.cursor3dX = p.c;
        view.cursor3dY = p.r;
    }
    dataSetPosition(&record, positionLabel(plane, index));
    return true;
}

bool reloadSection(DataRecord& record)
{
    BlockDescriptor* block = record.block();
    ImageDescriptor* image = record.image2d();
    if (!block || !image)
        return false;
    int plane;
    {
        std::lock_guard lock(image->lock);
        plane = imageViewData(*image).plane;
    }
    return loadSection(record, plane, currentSectionIndex(*block, plane));
}

bool moveBlockCursor(DataRecord& record, int c, int r)
{
    BlockDescriptor* block = record.block();
    ImageDescriptor* image = record.image2d();
    if (!block || !image)
        return false;
    int plane;
    {
        std::lock_guard lock(image->lock);
        plane = imageViewData(*image).plane;
    }
    int w = 0, h = 0;
    sectionExtent(*block, plane, w, h);
    if (c < 0 || r < 0 || c >= w || r >= h)
        return false;
    const VolumePoint p = sectionToVolume(*block, plane, c, r);
    block->cursorX = p.x;
    block->cursorY = p.y;
    block->cursorZ = p.z;
    std::lock_guard lock(image->lock);
    ImageViewData& view = imageViewData(*image);
    view.cursor3dX = c;
    view.cursor3dY = r;
    return true;
}

bool buildSectionBitmap(DataRecord& record, int plane, DisplayBitmap& out)
{
    out = DisplayBitmap {};
    BlockDescriptor* block = record.block();
    int w = 0, h = 0;
    if (!block || !sectionSize(*block, plane, w, h))
        return false;
    std::unique_ptr<void, FreeDeleter> raw(readSection(
        *block, false, -1, plane, currentSectionIndex(*block, plane), 0, 0, w - 1, h - 1));
    if (!raw)
        return false;
    const DisplaySettings settings = displaySettings(record);
    const DisplayColours colours = paletteColours(settings.palette);
    DisplayRequest r;
    r.samples = raw.get();
    r.width = r.visibleW = w;
    r.height = r.visibleH = h;
    r.type = block->typeData;
    r.gain = settings.gain;
    r.offset = settings.offset;
    r.labelPalette = isLabelPalette(settings.palette);
    r.colours = &colours;
    return buildDisplayBitmap(r, out);
}

std::vector<ConversionEntry> conversionMenu(DataRecord& record)
{
    std::vector<ConversionEntry> entries;
    ImageDescriptor* image = record.image2d();
    if (!image)
        return entries;
    int type, valueClass;
    {
        std::lock_guard lock(image->lock);
        type = image->typeData;
        valueClass = image->valueClass;
    }
    const bool plain = record.block() == nullptr;
    if (plain) {
        // The eight numeric types in the type list order.
        for (int i = 0; i < VEXA_TYPE_COUNT; ++i) {
            const int t = vexaTypeListOrder[i];
            if (t == TYPEDATA_RGBA || t == type)
                continue;
            entries.push_back({ std::string("->") + shortTypeCode(t), t, -1 });
        }
    }
    if (type == TYPEDATA_RGBA)
        return entries;
    if (!entries.empty())
        entries.push_back({ "", 0, -1 });
    static const char* const classes[] = { "->CLASS_DEFAULT", "->CLASS_LABEL", "->CLASS_DIRECTION",
        "->CLASS_BOOLEAN", "->CLASS_ORIENTATION" };
    for (int c = 0; c < 5; ++c)
        if (c != valueClass)
            entries.push_back({ classes[c], 0, c });
    return entries;
}

bool convertImageType(DataRecord& record, int type)
{
    ImageDescriptor* image = record.image2d();
    if (!image || record.block() || !vexaTypeIsValid(type) || type == TYPEDATA_RGBA)
        return false;
    std::lock_guard lock(image->lock);
    if (!samplesMatch(*image))
        return false;
    if (image->typeData == type)
        return true;
    void* converted = readImageData(*image, 1.0, 0.0, type);
    if (!converted)
        return false;
    image->samples.adopt(converted,
        std::size_t(image->width) * std::size_t(image->height) * std::size_t(vexaTypeSize(type)));
    image->typeData = type;
    return true;
}

bool setImageValueClass(DataRecord& record, int valueClass)
{
    if (dataFind(record.imageId) != &record)
        return false;
    return dozDataSetClass(record.imageId, valueClass) == 1;
}

DataRecord* duplicateShownImage(DataRecord& record)
{
    ImageDescriptor* image = record.image2d();
    if (!image)
        return nullptr;
    auto object = std::make_unique<ImageObject>();
    ImageDescriptor& copy = *object->image;
    {
        std::lock_guard lock(image->lock);
        if (!samplesMatch(*image) || !copy.samples.allocate(image->samples.size()))
            return nullptr;
        std::memcpy(copy.samples.data(), image->samples.data(), image->samples.size());
        copy.width = image->width;
        copy.height = image->height;
        copy.typeData = image->typeData;
        copy.valueGain = image->valueGain;
        copy.valueOffset = image->valueOffset;
        copy.valueScaleOn = image->valueScaleOn;
        copy.valueClass = image->valueClass;
        copy.palette = image->palette;
    }
    // A section shows through the block's value scale: the copy keeps it as its own.
    if (const BlockDescriptor* block = record.block()) {
        std::shared_lock lock(block->lock);
        copy.valueGain = block->valueGain;
        copy.valueOffset = block->valueOffset;
        copy.valueScaleOn = block->valueScaleOn;
        copy.palette = block->palette;
    }
    const std::string name = record.name.empty() ? dataTitle(&record) : record.name;
    DataRecord* made = dataCreateImage(std::move(object), kFreshId, kFreshId);
    if (made)
        dataSetName(made, name);
    return made;
}

ViewEvent viewEventOf(DataRecord& record)
{
    ViewEvent e;
    e.window = record.window.load();
    e.imageId = record.imageId;
    e.typeView = -1;
    if (ImageDescriptor* image = record.image2d()) {
        std::lock_guard lock(image->lock);
        const ImageViewData& v = imageViewData(*image);
        e.x = e.x1 = e.x2 = v.cursorX;
        e.y = e.y1 = e.y2 = v.cursorY;
        e.width = image->width;
        e.height = image->height;
        if (record.block())
            e.typeView = v.plane;
    }
    if (const BlockDescriptor* block = record.block())
        e.z = block->cursorZ;
    return e;
}

int fireViewEvent(DataRecord& record, const std::string& name, const ViewEvent& event)
{
    const ViewEvent* previous = tCurrentEvent;
    tCurrentEvent = &event;
    int result = 0;
    // The datum's own callbacks first; a global callback sees the same event.
    if (dataCallbackCount(&record, name) > 0)
        result = dataFire(&record, name, nullptr, viewEventGetter, nullptr);
    if (dataCallbackCount(nullptr, name) > 0)
        result = dataFire(nullptr, name, nullptr, viewEventGetter, nullptr);
    tCurrentEvent = previous;
    return result;
}

int fireImageUpdate(DataRecord& record)
{
    return fireViewEvent(record, "IMAGE_UPDATE", viewEventOf(record));
}

int fireMessageHook(DataRecord& record, int key, int keyState)
{
    ViewEvent e = viewEventOf(record);
    e.wparam = key;
    e.lparam = keyState;
    return fireViewEvent(record, "MSG_HOOK", e);
}

} // namespace vexa
