#include "display/gui/recordcorrection.h"

#include "data/registry.h"
#include "display/palettelist.h"
#include "vexa_types.h"
#include "views/imageview.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <shared_mutex>

namespace vexa {

namespace {

// The "Filtre" flag is only passed through: the display does not use it, so it is
// kept per image here, for the run. Touched on the interface thread only.
std::map<std::uint32_t, int> s_filters;

template <typename T> double load(const std::uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<double>(v);
}

double sampleAt(const std::uint8_t* p, int type)
{
    switch (type) {
    case TYPEDATA_U8:
        return p[0];
    case TYPEDATA_S8:
        return load<std::int8_t>(p);
    case TYPEDATA_U16:
        return load<std::uint16_t>(p);
    case TYPEDATA_S16:
        return load<std::int16_t>(p);
    case TYPEDATA_U32:
        return load<std::uint32_t>(p);
    case TYPEDATA_S32:
        return load<std::int32_t>(p);
    case TYPEDATA_F32:
        return load<float>(p);
    case TYPEDATA_F64:
        return load<double>(p);
    case TYPEDATA_RGBA:
        return (double(p[0]) + double(p[1]) + double(p[2])) / 3.0;
    default:
        return 0.0;
    }
}

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

namespace {

bool partValid(const ImagePart& p)
{
    if (!p.samples || !vexaTypeIsValid(p.type) || p.width <= 0 || p.height <= 0)
        return false;
    const std::size_t size = std::size_t(vexaTypeSize(p.type));
    return p.bytes / size / std::size_t(p.width) >= std::size_t(p.height);
}

template <typename Fn> void forEachValue(const ImagePart& p, Fn&& fn)
{
    const std::size_t size = std::size_t(vexaTypeSize(p.type));
    const int xa = std::clamp(p.x0, 0, p.width), ya = std::clamp(p.y0, 0, p.height);
    const int xb = int(std::clamp<std::int64_t>(std::int64_t(p.x0) + p.w, xa, p.width));
    const int yb = int(std::clamp<std::int64_t>(std::int64_t(p.y0) + p.h, ya, p.height));
    const auto* base = static_cast<const std::uint8_t*>(p.samples);
    for (int y = ya; y < yb; ++y) {
        const std::uint8_t* at
            = base + (std::size_t(y) * std::size_t(p.width) + std::size_t(xa)) * size;
        for (int x = xa; x < xb; ++x, at += size)
            fn(sampleAt(at, p.type));
    }
}

} // namespace

bool partRange(const ImagePart& part, double& min, double& max)
{
    if (!partValid(part))
        return false;
    bool any = false;
    forEachValue(part, [&](double v) {
        if (std::isnan(v))
            return;
        if (!any) {
            min = max = v;
            any = true;
        } else {
            min = std::min(min, v);
            max = std::max(max, v);
        }
    });
    return any;
}

std::vector<std::int64_t> partHistogram(const ImagePart& part, int nbBins, double low, double high)
{
    std::vector<std::int64_t> bins;
    if (!partValid(part) || nbBins < 1 || nbBins > kMaxHistogramBins || std::isnan(low)
        || std::isnan(high))
        return bins;
    bins.assign(std::size_t(nbBins), 0);
    if (low > high)
        std::swap(low, high);
    const double span = high - low;
    const bool spread = span > 0.0 && std::isfinite(span);
    const double last = double(nbBins - 1);
    forEachValue(part, [&](double v) {
        if (!(v >= low && v <= high))
            return;
        const double position = spread ? (v - low) / span * last : 0.0;
        ++bins[static_cast<std::size_t>(std::clamp(std::floor(position + 0.5), 0.0, last))];
    });
    return bins;
}

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

} // namespace vexa
