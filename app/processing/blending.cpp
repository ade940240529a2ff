#include "processing/blending.h"

#include "vexa_types.h"
#include "views/displaybuffer.h"
#include "views/imageview.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vexa::processing {

bool shownColours(
    const Image2d& image, const ShownAs& shown, std::vector<std::uint8_t>& rgb, std::string* reason)
{
    const std::size_t pixels = std::size_t(image.sampleCount());
    if (pixels == 0 || !vexaTypeIsValid(image.type)
        || image.samples.size() < pixels * std::size_t(vexaTypeSize(image.type))) {
        if (reason)
            *reason = "Image sans échantillons";
        return false;
    }
    rgb.assign(pixels * 3, 0);
    if (image.type == TYPEDATA_RGBA) {
        const std::uint8_t* p = image.samples.bytes();
        for (std::size_t i = 0; i < pixels; ++i)
            std::memcpy(&rgb[3 * i], p + 4 * i, 3);
        return true;
    }
    const DisplayColours colours = paletteColours(shown.palette);
    DisplayRequest r;
    r.samples = image.samples.data();
    r.width = r.visibleW = image.width;
    r.height = r.visibleH = image.height;
    r.type = image.type;
    r.gain = shown.gain;
    r.offset = shown.offset;
    r.labelPalette = isLabelPalette(shown.palette);
    DisplayBitmap levels;
    if (!buildDisplayBitmap(r, levels)) {
        if (reason)
            *reason = "Image trop grande pour être affichée";
        return false;
    }
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const auto& c = colours[*levels.pixel(x, y)]; // blue, green, red
            std::uint8_t* out = &rgb[3 * (std::size_t(y) * std::size_t(image.width) + x)];
            out[0] = c[2];
            out[1] = c[1];
            out[2] = c[0];
        }
    return true;
}

void mixColours(const std::vector<std::uint8_t>& first, const std::vector<std::uint8_t>& second,
    double weight, std::uint32_t* rgba)
{
    const double w = std::isnan(weight) ? 0.0 : std::clamp(weight, 0.0, 1.0);
    const std::size_t pixels = std::min(first.size(), second.size()) / 3;
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint8_t px[4] = { 0, 0, 0, 255 };
        for (int c = 0; c < 3; ++c)
            px[c] = std::uint8_t(std::lround(
                (1 - w) * first[3 * i + std::size_t(c)] + w * second[3 * i + std::size_t(c)]));
        std::memcpy(&rgba[i], px, 4);
    }
}

double dynamicWeight(int k, int n)
{
    return n > 1 ? double(k) / double(n - 1) : 0.0;
}

double vectorAngle(int k, int n)
{
    return n > 0 ? double(k) * std::numbers::pi / double(n) : 0.0;
}

} // namespace vexa::processing
