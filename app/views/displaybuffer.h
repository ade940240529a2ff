// The display buffer of an image window: the visible rectangle of a 2D image turned
// into an indexed 8-bit bitmap (one palette level per pixel) or a 24-bit colour bitmap
// for RGBA samples, magnified by whole-number zooms, optionally smoothed.
//
// Layout is that of a bottom-up device-independent bitmap: rows are padded to a
// multiple of 4 bytes with zeros, and the first image row is the last buffer row.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace vexa {

// 256 colours as blue, green, red, unused (the colour table of an indexed bitmap).
using DisplayColours = std::array<std::array<std::uint8_t, 4>, 256>;

// Bytes of a padded row: pixels x bytesPerPixel rounded up to a multiple of 4.
int displayStride(int pixels, int bytesPerPixel);

// Whole-number zoom part used for magnification: trunc(zoom) from zoom 1 on, else 1.
int magnification(double zoom);

struct DisplayRequest {
    // The whole 2D image: width x height samples of type, row by row.
    const void* samples = nullptr;
    int width = 0;
    int height = 0;
    int type = 0;
    // The rectangle to show, in image coordinates. Parts outside the image stay 0.
    int originX = 0;
    int originY = 0;
    int visibleW = 0;
    int visibleH = 0;
    // Whole-number magnifications (each sample fills zx x zy pixels).
    int zx = 1;
    int zy = 1;
    // level = gain x value + offset.
    double gain = 1;
    double offset = 0;
    // Labels: values are wrapped into 1..255 (0 stays 0) before they index the palette.
    bool labelPalette = false;
    // Deriche smoothing of magnified scalar images ("Interpolation").
    bool smooth = false;
    // Colour table of the header; grey when null.
    const DisplayColours* colours = nullptr;
};

struct DisplayBitmap {
    std::vector<std::uint8_t> bits; // stride x height bytes, bottom-up
    // 40-byte bitmap information header, followed for indexed bitmaps by the 256
    // four-byte colour entries.
    std::vector<std::uint8_t> header;
    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;
    int stride = 0;
    bool ready = false;

    // Pixel (x, y) counted from the top row.
    const std::uint8_t* pixel(int x, int y) const
    {
        return bits.data() + std::size_t(height - 1 - y) * std::size_t(stride)
            + std::size_t(x) * std::size_t(bytesPerPixel);
    }
    const std::uint8_t* topRow(int y) const { return pixel(0, y); }
};

// Largest display buffer built, in pixels: beyond it the request is refused rather
// than allocating gigabytes for an absurd zoom.
constexpr std::int64_t kMaxDisplayPixels = std::int64_t(1) << 28;

// Builds the bitmap. False (out left empty, not ready) for a missing image, an unknown
// type, an empty rectangle, zooms below 1 or a buffer above kMaxDisplayPixels.
bool buildDisplayBitmap(const DisplayRequest& request, DisplayBitmap& out);

// Display level of a scalar value: gain x value + offset limited to 0..255 and rounded
// to the nearest integer; NaN gives 0.
std::uint8_t displayLevel(double value, double gain, double offset);

// Byte of a label value (already converted to a signed 32-bit integer): 0 stays 0,
// others become ((v - 1) rem 255) + 1, the remainder truncated toward zero.
std::uint8_t labelLevel(std::int32_t value);

// The smoothing coefficient alpha of a magnification: root of
// 1 - (1 + alpha z) e^(-alpha z) = 0.95, found by bisection on [0, 10] to 0.001.
double dericheAlpha(double zoom);

// Smooths one line of n values in place with Deriche's recursive filter of
// coefficient alpha; both ends continue with their end value.
void dericheSmoothLine(double* line, int n, double alpha);

// Smooths an indexed bitmap in place: rows with the coefficient of zx, then columns
// with that of zy; results limited to 0..255 and rounded. Padding bytes stay 0.
void smoothDisplayBitmap(DisplayBitmap& bitmap, int zx, int zy);

// Fills header with the bitmap information header of a width x height bitmap
// (bottom-up), and for 8-bit bitmaps the 256 colour entries (grey when colours is null).
void buildDisplayHeader(int width, int height, int bytesPerPixel, const DisplayColours* colours,
    std::vector<std::uint8_t>& header);

} // namespace vexa
