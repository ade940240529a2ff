// Value range and histogram of a rectangle of 2D samples of any type, as the
// "Correction" window and the initial display of a new window need them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexa {

// The samples of the part (x0, y0, w, h) of a width x height 2D image, limited to the
// image, as doubles (RGBA: the mean of red, green and blue).
struct ImagePart {
    const void* samples = nullptr;
    std::size_t bytes = 0;
    int type = 0;
    int width = 0, height = 0;
    int x0 = 0, y0 = 0, w = 0, h = 0;
};

// Range of the part's values, NaN left out. False for an unknown type, samples shorter
// than width x height, or when no value is a number.
bool partRange(const ImagePart& part, double& min, double& max);

// nbBins counts over [low, high]: bin i gathers the values nearest to
// low + (high - low) x i / (nbBins - 1); values outside the range or NaN are not counted.
// Empty for bad samples or nbBins outside 1..kMaxHistogramBins.
constexpr int kMaxHistogramBins = 1 << 16;
std::vector<std::int64_t> partHistogram(const ImagePart& part, int nbBins, double low, double high);

} // namespace vexa
