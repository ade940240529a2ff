#include "display/gui/recordcorrection.h"

#include "data/registry.h"
#include "display/palettelist.h"
#include "vexa_types.h"
#include "views/imageview.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <shared_mutex>

namespace vexa {

namespace {

// The "Filtre" flag is only passed through: the display does not use it, so it is
// kept per image here, for the run. Touched on the interface thread only.
std::map<std::uint32_t, int> s_filters;

std::vector<DataRecord*> otherViews(const DataRecord& record)
{
    std::vector<DataRecord*> views;
    auto take = [&](const std::vector<DataRecord*>& group) {
        for (DataRecord* r : group)
            if (r != &record && r->kind == DATA_IMAGE && r->image2d()
                && std::find(views.begin(), views.end(), r) == views.end())
                views.push_back(r);
    };
    if (record.linkGroup)
        take(dataListByLinkGroup(record.linkGroup));
    if (record.viewGroup)
        take(dataListByViewGroup(record.viewGroup));
    return views;
}

} // namespace

RecordCorrection::RecordCorrection(const DataRecord& record)
    : imageId_(record.imageId)
{
}

DataRecord* RecordCorrection::record() const
{
    DataRecord* r = dataFindImage(imageId_);
    return r && r->kind == DATA_IMAGE && r->image2d() ? r : nullptr;
}

bool RecordCorrection::getCorrection(double& gain, double& offset, int& filter)
{
    DataRecord* r = record();
    if (!r)
        return false;
    const DisplaySettings settings = displaySettings(*r);
    gain = settings.gain;
    offset = settings.offset;
    auto it = s_filters.find(imageId_);
    filter = it != s_filters.end() ? it->second : 0;
    return true;
}

void RecordCorrection::setCorrection(double gain, double offset, int filter)
{
    DataRecord* r = record();
    if (!r)
        return;
    if (setRecordCorrection(*r, gain, offset))
        s_filters[imageId_] = filter;
}

void RecordCorrection::broadcastCorrection(double gain, double offset, int filter)
{
    DataRecord* r = record();
    if (!r)
        return;
    for (DataRecord* other : otherViews(*r))
        if (setRecordCorrection(*other, gain, offset))
            s_filters[other->imageId] = filter;
}

template <typename Use> bool RecordCorrection::withPart(int partial, Use&& use) const
{
    DataRecord* r = record();
    if (!r)
        return false;
    ImageDescriptor& image = *r->image2d();
    std::lock_guard lock(image.lock);
    ImagePart part { image.samples.data(), image.samples.size(), image.typeData, image.width,
        image.height, 0, 0, image.width, image.height };
    if (partial) {
        const ZoomView& zoom = imageViewData(image).zoom;
        // A view that has not been laid out yet shows the whole image.
        if (zoom.visibleW > 0 && zoom.visibleH > 0) {
            part.x0 = zoom.originX, part.y0 = zoom.originY;
            part.w = zoom.visibleW, part.h = zoom.visibleH;
        }
    }
    return use(part);
}

bool RecordCorrection::getRange(int partial, double& min, double& max)
{
    return withPart(partial, [&](const ImagePart& part) { return partRange(part, min, max); });
}

std::vector<std::int64_t> RecordCorrection::getHistogram(
    int nbBins, double low, double high, int partial)
{
    std::vector<std::int64_t> bins;
    withPart(partial, [&](const ImagePart& part) {
        bins = partHistogram(part, nbBins, low, high);
        return true;
    });
    return bins;
}

bool RecordCorrection::paletteTable(ColourTable& out) const
{
    DataRecord* r = record();
    if (!r)
        return false;
    const PaletteRef palette = displaySettings(*r).palette;
    copyPaletteTable(palette.family, palette.variant, out);
    return true;
}

bool setRecordCorrection(DataRecord& record, double gain, double offset)
{
    if (!std::isfinite(gain) || !std::isfinite(offset))
        return false;
    if (BlockDescriptor* block = record.block()) {
        std::unique_lock lock(block->lock);
        block->valueGain = gain;
        block->valueOffset = offset;
    } else if (ImageDescriptor* image = record.image2d()) {
        std::lock_guard lock(image->lock);
        image->valueGain = gain;
        image->valueOffset = offset;
    } else {
        return false;
    }
    dataRedraw(&record);
    return true;
}

bool setRecordPalette(DataRecord& record, PaletteRef palette)
{
    ImageDescriptor* image = record.image2d();
    if (record.kind != DATA_IMAGE || !image)
        return false;
    {
        std::lock_guard lock(image->lock);
        image->palette = palette;
    }
    if (BlockDescriptor* block = record.block()) {
        std::unique_lock lock(block->lock);
        block->palette = palette;
    }
    dataRedraw(&record);
    return true;
}

} // namespace vexa
