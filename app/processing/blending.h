// "Blending" of two images as their windows show them: each image becomes colours
// through its own value scale and palette (RGBA samples are their own colours), and
// the colours are mixed. The vector form mixes values instead: the two images are
// the components of a vector field seen along turning directions.
#pragma once

#include "processing/transform2d.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vexa::processing {

// How an image is shown: level = gain x value + offset through the palette.
struct ShownAs {
    double gain = 1;
    double offset = 0;
    PaletteRef palette;
};

// Red, green, blue bytes of every sample, row by row. False with a reason for an
// image without samples or of an unknown type.
bool shownColours(const Image2d& image, const ShownAs& shown, std::vector<std::uint8_t>& rgb,
    std::string* reason);

// RGBA samples (alpha 255) of (1 - weight) x first + weight x second, rounded; the
// weight is limited to 0..1. Both colour arrays hold pixels x 3 bytes.
void mixColours(const std::vector<std::uint8_t>& first, const std::vector<std::uint8_t>& second,
    double weight, std::uint32_t* rgba);

// The weight of section k of n of a dynamic blend: 0 for the first, 1 for the last.
double dynamicWeight(int k, int n);

// The direction of section k of n of a vector blend: k x pi / n (half a turn over the
// sections: the opposite direction only changes the sign).
double vectorAngle(int k, int n);

} // namespace vexa::processing
