// Palettes: the record of one palette and the rules that turn its parameters into
// 256 colours. Display levels 0..255 index these colours.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vexa {

// One colour table entry, laid out as the 32-bit entries of an 8-bit indexed bitmap:
// blue, green, red, then an unused byte kept at 0.
struct PaletteColour {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t unused = 0;
};
static_assert(sizeof(PaletteColour) == 4, "colour tables are 256 packed 32-bit entries");

using ColourTable = std::array<PaletteColour, 256>;

enum PaletteFamily {
    kFamilySlope = 0, // "Pente": grey ramps and three-colour ramps
    kFamilyEditable = 1, // "Editable": a stored table
    kFamilyDirection = 2, // four-colour cycle, half-circular
    kFamilyDirectionHsl = 3, // hue cycle, half-circular
    kFamilyOrientationHsl = 4, // hue cycle, circular
    kFamilyOrientationLinear = 5, // luma ramp with a chroma swing
    kFamilyColourTable = 6 // table read from a colormap file
};

// Slope variants 0..8 are built in; user slope palettes take 9 and above.
constexpr int kFirstUserSlopeVariant = 9;

struct PaletteRecord {
    std::string name;
    int family = kFamilySlope;
    int variant = 0;
    int user = 0;
    double centre = 0.5; // slope editor: centre and width of the ramp
    double width = 1.0;
    double low = 0.0; // slope: the ramp runs from low to high (fractions of the level range)
    double high = 1.0;
    double phase = 0.5; // direction: rotation of the cycle, 0.5 = none
    double alpha1 = 0.0; // HSL families: hue shift and saturation
    double alpha2 = 1.0;
    double p1 = 1.0; // linear orientation: width and strength of the chroma swing
    double p2 = 1.0;
    ColourTable table {}; // the colours of the editable and colour-table families
    // User slope palettes: colours A, B, C as r, g, b bytes (9 values).
    // User direction palettes: colours P0..P3 as r, g, b bytes (12 values).
    std::array<int, 12> control {};
};

// The 256 colours of a palette. Editable and colour-table palettes give their stored table.
void computePalette(const PaletteRecord& record, ColourTable& out);

struct RgbReal {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

// Colour of a level as reals (byte / 255). Levels outside 0..255 are limited to it.
RgbReal paletteColour(const ColourTable& table, int level);

// Sets the colour of a level from bytes (limited to 0..255) or from reals in [0, 1]
// (stored as floor(c x 255); NaN reads as 0). A level outside 0..255 is ignored.
void setPaletteColour(ColourTable& table, int level, int r, int g, int b);
void setPaletteColour(ColourTable& table, int level, double r, double g, double b);

// For each of count levels (limited to 0..255), writes r, g, b, 255 into out
// (4 x count bytes). Used to colour histogram bars.
void paletteToRgbTable(
    const PaletteRecord& record, const int* levels, int count, std::uint8_t* out);

// The table as 0xAARRGGBB words with opaque alpha, ready for an indexed image.
void paletteToArgb(const ColourTable& table, std::uint32_t out[256]);

// Helpers shared by the palette rules and the colormap reader.

// floor(c x 255) of a component limited to [0, 1]; NaN gives 0.
std::uint8_t realToByte(double c);

// Grey ramp: entry i = (i, i, i).
void fillGreyRamp(ColourTable& table);

// Ramps every channel linearly from c0 to c1 over entries s..e (inclusive):
// entry i = floor(((i - s)(c1 - c0) / (e - s) + c0) x 255 + 0.5). One entry takes c0.
void fillSegment(ColourTable& table, int s, int e, const RgbReal& c0, const RgbReal& c1);

// HSL on the 0..240 scale (hue 240 = a full turn) to RGB reals.
RgbReal hslToRgb(double hue, double saturation, double lightness);

} // namespace vexa
