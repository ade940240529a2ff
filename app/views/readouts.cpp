#include "views/readouts.h"

#include "vexa_types.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vexa {

namespace {

constexpr double kPi = 3.14159265359;
// Palette families whose levels are angles (direction and orientation cycles).
bool isAnglePalette(int family)
{
    return family == 2 || family == 3 || family == 4;
}

template <typename... Args> std::string format(const char* pattern, Args... args)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

double readSample(const void* samples, int type, std::size_t index)
{
    const auto* base = static_cast<const std::uint8_t*>(samples);
    switch (type) {
    case TYPEDATA_U8:
        return base[index];
    case TYPEDATA_S8: {
        std::int8_t v;
        std::memcpy(&v, base + index, 1);
        return v;
    }
    case TYPEDATA_U16: {
        std::uint16_t v;
        std::memcpy(&v, base + 2 * index, 2);
        return v;
    }
    case TYPEDATA_S16: {
        std::int16_t v;
        std::memcpy(&v, base + 2 * index, 2);
        return v;
    }
    case TYPEDATA_U32: {
        std::uint32_t v;
        std::memcpy(&v, base + 4 * index, 4);
        return v;
    }
    case TYPEDATA_S32: {
        std::int32_t v;
        std::memcpy(&v, base + 4 * index, 4);
        return v;
    }
    case TYPEDATA_F32: {
        float v;
        std::memcpy(&v, base + 4 * index, 4);
        return v;
    }
    case TYPEDATA_F64: {
        double v;
        std::memcpy(&v, base + 8 * index, 8);
        return v;
    }
    default:
        return 0;
    }
}

} // namespace

const char* shortTypeCode(int type)
{
    switch (type) {
    case TYPEDATA_U8:
        return "8BNS";
    case TYPEDATA_S8:
        return "8BS";
    case TYPEDATA_U16:
        return "16BNS";
    case TYPEDATA_S16:
        return "16BS";
    case TYPEDATA_U32:
        return "32BNS";
    case TYPEDATA_S32:
        return "32BS";
    case TYPEDATA_F32:
        return "F32";
    case TYPEDATA_F64:
        return "F64";
    case TYPEDATA_RGBA:
        return "RGBA";
    default:
        return "";
    }
}

std::string sizeText(std::int64_t bytes)
{
    if (bytes < 1024)
        return format("%d o", static_cast<int>(bytes));
    if (bytes < 1048576)
        return format("%.0f Ko", static_cast<double>(bytes) / 1024);
    return format("%.0f Mo", static_cast<double>(bytes) / 1048576);
}

std::string cursorText(int cx, int cy, int width, int height)
{
    return format("X=%.5d  Y=%.5d  (-%.5d,-%.5d)", cx, cy, width - cx - 1, height - cy - 1);
}

std::string volumeText(int x, int y, int z)
{
    return format("x=%.5d  y=%.5d  z=%.5d", x, y, z);
}

std::string valueReadout(const ReadoutSource& image, int x, int y)
{
    if (!image.samples || x < 0 || y < 0 || x >= image.width || y >= image.height
        || !vexaTypeIsValid(image.type))
        return {};
    const std::size_t index = std::size_t(y) * std::size_t(image.width) + std::size_t(x);
    if (image.type == TYPEDATA_RGBA) {
        const auto* p = static_cast<const std::uint8_t*>(image.samples) + 4 * index;
        return format("(%d,%d,%d,%d)", p[0], p[1], p[2], p[3]);
    }
    double v = readSample(image.samples, image.type, index);
    const double product = image.gain * v;
    const double s = product + image.offset;
    if (image.scaleOn)
        v = s;
    if (isAnglePalette(image.paletteFamily)) {
        const double degrees = v * 180 / kPi;
        const double limit = image.valueClass == 2 ? 90 : 180;
        if (degrees >= -limit && degrees <= limit)
            return format("%.10g [%.5g Deg]", v, degrees);
        return format("%.10g [NEANT]", v);
    }
    return format("%.10g (%.10g)", v, s);
}

std::string zoomPairText(double zoom)
{
    if (zoom >= 1)
        return format("[%d:1]", static_cast<int>(std::min(zoom, 1e9)));
    const double inverse = zoom > 0 ? 1 / zoom : 0;
    return format("[1:%d]", static_cast<int>(std::min(inverse, 1e9)));
}

std::vector<std::string> infoLines(const InfoSource& info)
{
    std::vector<std::string> lines;
    lines.emplace_back("Dimensions");
    const std::int64_t bytes2d = std::int64_t(info.width) * info.height * vexaTypeSize(info.type);
    lines.push_back(
        format("  2D : %dx%d (%s en mémoire)", info.width, info.height, sizeText(bytes2d).c_str()));
    if (info.hasBlock) {
        const std::int64_t bytes3d
            = std::int64_t(info.dimX) * info.dimY * info.dimZ * vexaTypeSize(info.blockType);
        lines.push_back(format(info.blockInFile ? "  3D : %dx%dx%d (%s sur fichier)"
                                                : "  3D : %dx%dx%d (%s en mémoire)",
            info.dimX, info.dimY, info.dimZ, sizeText(bytes3d).c_str()));
    }
    lines.emplace_back();
    lines.emplace_back("Format numérique");
    lines.emplace_back(vexaTypeInfoLabel(info.type));
    lines.emplace_back();
    lines.emplace_back("Partie visible");
    lines.push_back(format("  Surface %dx%d", info.visibleW, info.visibleH));
    lines.push_back(
        "  Grandissements " + zoomPairText(info.zoomX) + "x" + zoomPairText(info.zoomY));
    const double time = info.imageTime != 0      ? info.imageTime
        : (info.hasBlock && info.blockTime != 0) ? info.blockTime
                                                 : 0.0;
    if (time != 0)
        lines.push_back(format("Durée de calcul : %5.3fs", time));
    return lines;
}

} // namespace vexa
