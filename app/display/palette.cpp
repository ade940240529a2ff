#include "display/palette.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vexa {

namespace {

// floor(x + 0.5) of a level, limited to 0..255 before the conversion so that odd
// parameters (huge, infinite or NaN) never reach an out-of-range cast.
std::uint8_t roundLevel(double x)
{
    if (!(x > 0.0))
        return 0;
    if (x >= 255.0)
        return 255;
    return static_cast<std::uint8_t>(std::floor(x + 0.5));
}

// floor(f x 255) of a parameter fraction, limited to 0..255.
int fractionToLevel(double f)
{
    if (!(f > 0.0))
        return 0;
    if (f >= 1.0)
        return 255;
    return static_cast<int>(std::floor(f * 255.0));
}

void setEntry(ColourTable& table, int i, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    table[i].red = r;
    table[i].green = g;
    table[i].blue = b;
    table[i].unused = 0;
}

void setGrey(ColourTable& table, int i, std::uint8_t v)
{
    setEntry(table, i, v, v, v);
}

double clampUnit(double t)
{
    return std::clamp(t, 0.0, 1.0);
}

// Variant 0: black below lo, a grey ramp from lo to hi, white above hi.
void slopeGrey(double low, double high, int lo, int hi, ColourTable& out)
{
    const double span = high - low;
    for (int i = 0; i < 256; ++i) {
        if (i < lo) {
            setGrey(out, i, 0);
        } else if (i <= hi) {
            const double x = i / 255.0;
            // A zero-width ramp is a step at low.
            const double t = span != 0.0 ? clampUnit((x - low) / span) : (x >= low ? 1.0 : 0.0);
            setGrey(out, i, roundLevel(t * 255.0));
        } else {
            setGrey(out, i, 255);
        }
    }
}

// Variant 1: white up to lo, a falling ramp between lo and hi, black from hi.
void slopeGreyInverse(double low, double high, int lo, int hi, ColourTable& out)
{
    const double span = high - low;
    for (int i = 0; i < 256; ++i) {
        if (i <= lo) {
            setGrey(out, i, 255);
        } else if (i < hi) {
            const double x = 1.0 - i / 255.0;
            const double t = span != 0.0 ? clampUnit((x - low) / span) : (x >= low ? 1.0 : 0.0);
            setGrey(out, i, roundLevel(t * 255.0));
        } else {
            setGrey(out, i, 0);
        }
    }
}

RgbReal controlColour(const std::array<int, 12>& control, int first)
{
    auto part = [&](int k) { return std::clamp(control[first + k], 0, 255) / 255.0; };
    return { part(0), part(1), part(2) };
}

void slopeThreeColours(int variant, const PaletteRecord& rec, int lo, int hi, ColourTable& out)
{
    static const RgbReal kBlue { 0, 0, 1 }, kYellow { 1, 1, 0 }, kRed { 1, 0, 0 },
        kGreen { 0, 1, 0 }, kBlack { 0, 0, 0 }, kWhite { 1, 1, 1 }, kDarkRed { 0.5, 0, 0 };
    RgbReal a, b, c;
    switch (variant) {
    case 2: // "Atlas"
        a = kBlue, b = kYellow, c = kRed;
        break;
    case 3: // "Profondeur"
        a = kBlue, b = kGreen, c = kRed;
        break;
    case 4: // "Noir-Blanc-Rouge"
        a = kBlack, b = kWhite, c = kRed;
        break;
    case 5: // "Noir-Blanc-Bleu"
        a = kBlack, b = kWhite, c = kBlue;
        break;
    case 6: // "Noir-Blanc-Vert"
        a = kBlack, b = kWhite, c = kGreen;
        break;
    case 7: // "France"
        a = kBlue, b = kWhite, c = kRed;
        break;
    case 8: // "Noir-Rouge"
        a = kBlack, b = kDarkRed, c = kRed;
        break;
    default: // user palettes: the three control colours
        a = controlColour(rec.control, 0);
        b = controlColour(rec.control, 3);
        c = controlColour(rec.control, 6);
        break;
    }
    const int mid = (lo + hi) / 2;
    fillSegment(out, 0, lo, a, a);
    fillSegment(out, lo, mid, a, b);
    fillSegment(out, mid, hi, b, c);
    if (hi != 255)
        fillSegment(out, hi, 255, c, c);
}

void computeSlope(const PaletteRecord& rec, ColourTable& out)
{
    const int lo = fractionToLevel(rec.low);
    const int hi = fractionToLevel(rec.high);
    // Parameters that are not numbers behave as the full range.
    const double low = std::isfinite(rec.low) ? rec.low : 0.0;
    const double high = std::isfinite(rec.high) ? rec.high : 1.0;
    if (rec.variant == 1)
        slopeGreyInverse(low, high, lo, hi, out);
    else if (rec.variant >= 2)
        slopeThreeColours(rec.variant, rec, lo, hi, out);
    else
        slopeGrey(low, high, lo, hi, out);
}

void computeDirection(const PaletteRecord& rec, ColourTable& out)
{
    RgbReal p[4];
    if (rec.variant == 0) {
        p[0] = { 0, 0, 0 };
        p[1] = { 127 / 255.0, 0, 0 };
        p[2] = { 1, 1, 1 };
        p[3] = { 0, 127 / 255.0, 0 };
    } else {
        for (int k = 0; k < 4; ++k)
            p[k] = controlColour(rec.control, 3 * k);
    }
    ColourTable cycle {};
    fillSegment(cycle, 0, 63, p[0], p[1]);
    fillSegment(cycle, 63, 127, p[1], p[2]);
    fillSegment(cycle, 127, 191, p[2], p[3]);
    fillSegment(cycle, 191, 255, p[3], p[0]);

    double shift = std::floor(0.5 + (rec.phase - 0.5) * 256.0);
    if (!std::isfinite(shift))
        shift = 0.0;
    const int s = static_cast<int>(std::fmod(shift, 256.0));
    for (int i = 0; i < 256; ++i)
        out[i] = cycle[((i - s) % 256 + 256) % 256];
}

void computeHsl(const PaletteRecord& rec, ColourTable& out)
{
    out.fill(PaletteColour {});
    double shift = std::nearbyint((rec.alpha1 + 0.5) * 201.0); // ties to even
    shift = std::isfinite(shift) ? std::fmod(shift, 201.0) : 0.0;
    const int s = static_cast<int>(shift);
    const double saturation = std::isfinite(rec.alpha2) ? rec.alpha2 * 240.0 : 240.0;
    for (int i = 27; i <= 227; ++i) {
        const int k = ((i - 27 + s) % 201 + 201) % 201;
        const double hue = k / 200.0 * 240.0;
        const RgbReal c = hslToRgb(hue, saturation, 120.0);
        setEntry(out, i, realToByte(c.r), realToByte(c.g), realToByte(c.b));
    }
}

void computeOrientationLinear(const PaletteRecord& rec, ColourTable& out)
{
    for (int i = 0; i < 256; ++i) {
        const double y = 0.8 * i / 255.0 + 0.1;
        double cb = 0.0, cr = 0.0;
        if (rec.p1 != 0.0) {
            const double x = 2.0 * (i / 255.0 - 0.5) / rec.p1;
            if (x >= -1.0 && x <= 1.0) {
                const double s = 0.25 * rec.p2 * std::sin(std::numbers::pi * x);
                cb = s / 2.0;
                cr = -s / 2.0;
            }
        }
        // ITU-R BT.601 YCbCr to RGB.
        const double r = 1.164 * y + 1.596 * cr;
        const double g = 1.164 * y - 0.813 * cr - 0.391 * cb;
        const double b = 1.164 * y + 2.018 * cb;
        setEntry(out, i, realToByte(r), realToByte(g), realToByte(b));
    }
}

} // namespace

std::uint8_t realToByte(double c)
{
    if (!(c > 0.0))
        return 0;
    if (c >= 1.0)
        return 255;
    return static_cast<std::uint8_t>(std::floor(c * 255.0));
}

void fillGreyRamp(ColourTable& table)
{
    for (int i = 0; i < 256; ++i)
        setGrey(table, i, static_cast<std::uint8_t>(i));
}

void fillSegment(ColourTable& table, int s, int e, const RgbReal& c0, const RgbReal& c1)
{
    s = std::clamp(s, 0, 255);
    e = std::clamp(e, 0, 255);
    if (e <= s) {
        if (e == s)
            setEntry(table, s, roundLevel(c0.r * 255.0), roundLevel(c0.g * 255.0),
                roundLevel(c0.b * 255.0));
        return;
    }
    const double n = e - s;
    for (int i = s; i <= e; ++i) {
        const double k = i - s;
        setEntry(table, i, roundLevel((k * (c1.r - c0.r) / n + c0.r) * 255.0),
            roundLevel((k * (c1.g - c0.g) / n + c0.g) * 255.0),
            roundLevel((k * (c1.b - c0.b) / n + c0.b) * 255.0));
    }
}

RgbReal hslToRgb(double hue, double saturation, double lightness)
{
    const double s = clampUnit(saturation / 240.0);
    const double l = clampUnit(lightness / 240.0);
    if (!std::isfinite(hue))
        return { l, l, l };
    // Sextant form: exact at the primary and secondary hues, where a byte is floored.
    double h = std::fmod(hue / 40.0, 6.0);
    if (h < 0.0)
        h += 6.0;
    const double chroma = (1.0 - std::fabs(2.0 * l - 1.0)) * s;
    const double x = chroma * (1.0 - std::fabs(std::fmod(h, 2.0) - 1.0));
    const double m = l - chroma / 2.0;
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h)) {
    case 0:
        r = chroma, g = x;
        break;
    case 1:
        r = x, g = chroma;
        break;
    case 2:
        g = chroma, b = x;
        break;
    case 3:
        g = x, b = chroma;
        break;
    case 4:
        r = x, b = chroma;
        break;
    default:
        r = chroma, b = x;
        break;
    }
    return { r + m, g + m, b + m };
}

void computePalette(const PaletteRecord& record, ColourTable& out)
{
    switch (record.family) {
    case kFamilySlope:
        computeSlope(record, out);
        break;
    case kFamilyEditable:
    case kFamilyColourTable:
        out = record.table;
        break;
    case kFamilyDirection:
        computeDirection(record, out);
        break;
    case kFamilyDirectionHsl:
    case kFamilyOrientationHsl:
        computeHsl(record, out);
        break;
    case kFamilyOrientationLinear:
        computeOrientationLinear(record, out);
        break;
    default:
        fillGreyRamp(out);
        break;
    }
}

RgbReal paletteColour(const ColourTable& table, int level)
{
    const PaletteColour& c = table[std::clamp(level, 0, 255)];
    return { c.red / 255.0, c.green / 255.0, c.blue / 255.0 };
}

void setPaletteColour(ColourTable& table, int level, int r, int g, int b)
{
    if (level < 0 || level > 255)
        return;
    setEntry(table, level, static_cast<std::uint8_t>(std::clamp(r, 0, 255)),
        static_cast<std::uint8_t>(std::clamp(g, 0, 255)),
        static_cast<std::uint8_t>(std::clamp(b, 0, 255)));
}

void setPaletteColour(ColourTable& table, int level, double r, double g, double b)
{
    if (level < 0 || level > 255)
        return;
    setEntry(table, level, realToByte(r), realToByte(g), realToByte(b));
}

void paletteToRgbTable(const PaletteRecord& record, const int* levels, int count, std::uint8_t* out)
{
    if (!levels || !out || count <= 0)
        return;
    ColourTable table;
    computePalette(record, table);
    for (int k = 0; k < count; ++k) {
        const PaletteColour& c = table[std::clamp(levels[k], 0, 255)];
        out[4 * k] = c.red;
        out[4 * k + 1] = c.green;
        out[4 * k + 2] = c.blue;
        out[4 * k + 3] = 255;
    }
}

void paletteToArgb(const ColourTable& table, std::uint32_t out[256])
{
    for (int i = 0; i < 256; ++i)
        out[i] = 0xFF000000u | (std::uint32_t(table[i].red) << 16)
            | (std::uint32_t(table[i].green) << 8) | table[i].blue;
}

} // namespace vexa
