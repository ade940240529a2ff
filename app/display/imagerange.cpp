#include "display/imagerange.h"

#include "vexa_types.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexa {

namespace {

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

} // namespace vexa
