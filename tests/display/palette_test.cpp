#include "display/palette.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace vexa;

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

Rgb at(const ColourTable& t, int i)
{
    return { t[i].red, t[i].green, t[i].blue };
}

void PrintTo(const Rgb& c, std::ostream* os)
{
    *os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

ColourTable slope(int variant, double low = 0.0, double high = 1.0)
{
    PaletteRecord rec;
    rec.family = kFamilySlope;
    rec.variant = variant;
    rec.low = low;
    rec.high = high;
    ColourTable t;
    computePalette(rec, t);
    return t;
}

ColourTable family(int fam, int variant = 0)
{
    PaletteRecord rec;
    rec.family = fam;
    rec.variant = variant;
    ColourTable t;
    computePalette(rec, t);
    return t;
}

bool unusedBytesZero(const ColourTable& t)
{
    for (const PaletteColour& c : t)
        if (c.unused != 0)
            return false;
    return true;
}

} // namespace

TEST(SlopePalette, GreyFullRangeIsIdentity)
{
    const ColourTable t = slope(0);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(at(t, i), (Rgb { i, i, i })) << i;
    EXPECT_TRUE(unusedBytesZero(t));
}

TEST(SlopePalette, GreyNarrowRampIsBlackBelowAndWhiteAbove)
{
    const ColourTable t = slope(0, 0.25, 0.75);
    for (int i = 0; i <= 63; ++i)
        ASSERT_EQ(at(t, i), (Rgb { 0, 0, 0 })) << i;
    for (int i = 192; i < 256; ++i)
        ASSERT_EQ(at(t, i), (Rgb { 255, 255, 255 })) << i;
    for (int i = 1; i < 256; ++i)
        ASSERT_GE(t[i].red, t[i - 1].red) << i;
    // Halfway up the ramp: (128/255 - 0.25) / 0.5 x 255 = 128.5 -> 129.
    EXPECT_EQ(t[128].red, 129);
}

TEST(SlopePalette, InverseGreyFullRangeRunsDown)
{
    const ColourTable t = slope(1);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(at(t, i), (Rgb { 255 - i, 255 - i, 255 - i })) << i;
}

TEST(SlopePalette, InverseGreyNarrowRampIsWhiteThenBlack)
{
    const ColourTable t = slope(1, 0.25, 0.75);
    for (int i = 0; i <= 63; ++i)
        ASSERT_EQ(t[i].red, 255) << i;
    for (int i = 191; i < 256; ++i)
        ASSERT_EQ(t[i].red, 0) << i;
    for (int i = 1; i < 256; ++i)
        ASSERT_LE(t[i].red, t[i - 1].red) << i;
}

TEST(SlopePalette, FranceRunsBlueWhiteRed)
{
    const ColourTable t = slope(7);
    EXPECT_EQ(at(t, 0), (Rgb { 0, 0, 255 }));
    EXPECT_EQ(at(t, 127), (Rgb { 255, 255, 255 }));
    EXPECT_EQ(at(t, 255), (Rgb { 255, 0, 0 }));
    // 64/127 of the way from blue to white: floor(128.50 + 0.5) = 129.
    EXPECT_EQ(at(t, 64), (Rgb { 129, 129, 255 }));
    // The second segment starts at the shared entry 127 and reaches red at 255.
    EXPECT_EQ(at(t, 191), (Rgb { 255, 128, 128 }));
}

TEST(SlopePalette, ThreeColourRampsUseTheirAnchors)
{
    struct Case {
        int variant;
        Rgb a, b, c;
    };
    const Case cases[] = {
        { 2, { 0, 0, 255 }, { 255, 255, 0 }, { 255, 0, 0 } },
        { 3, { 0, 0, 255 }, { 0, 255, 0 }, { 255, 0, 0 } },
        { 4, { 0, 0, 0 }, { 255, 255, 255 }, { 255, 0, 0 } },
        { 5, { 0, 0, 0 }, { 255, 255, 255 }, { 0, 0, 255 } },
        { 6, { 0, 0, 0 }, { 255, 255, 255 }, { 0, 255, 0 } },
        { 8, { 0, 0, 0 }, { 128, 0, 0 }, { 255, 0, 0 } },
    };
    for (const Case& c : cases) {
        const ColourTable t = slope(c.variant);
        EXPECT_EQ(at(t, 0), c.a) << c.variant;
        EXPECT_EQ(at(t, 127), c.b) << c.variant;
        EXPECT_EQ(at(t, 255), c.c) << c.variant;
    }
}

TEST(SlopePalette, NarrowThreeColourRampHoldsItsEndColours)
{
    // lo = 63, hi = 191, mid = 127.
    const ColourTable t = slope(2, 0.25, 0.75);
    for (int i = 0; i <= 63; ++i)
        ASSERT_EQ(at(t, i), (Rgb { 0, 0, 255 })) << i;
    EXPECT_EQ(at(t, 127), (Rgb { 255, 255, 0 }));
    for (int i = 191; i < 256; ++i)
        ASSERT_EQ(at(t, i), (Rgb { 255, 0, 0 })) << i;
}

TEST(SlopePalette, UserVariantUsesControlColours)
{
    PaletteRecord rec;
    rec.family = kFamilySlope;
    rec.variant = 9;
    rec.control = { 10, 20, 30, 200, 100, 50, 0, 255, 128 };
    ColourTable t;
    computePalette(rec, t);
    EXPECT_EQ(at(t, 0), (Rgb { 10, 20, 30 }));
    EXPECT_EQ(at(t, 127), (Rgb { 200, 100, 50 }));
    EXPECT_EQ(at(t, 255), (Rgb { 0, 255, 128 }));
    // Out-of-range control values are limited to a byte.
    rec.control = { -40, 300, 0, 0, 0, 0, 0, 0, 0 };
    computePalette(rec, t);
    EXPECT_EQ(at(t, 0), (Rgb { 0, 255, 0 }));
}

TEST(SlopePalette, DegenerateParametersStayInRange)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double params[][2] = { { 0.5, 0.5 }, { 0.8, 0.2 }, { nan, nan }, { -inf, inf },
        { -3.0, 7.0 }, { 1.0, 1.0 }, { 0.0, 0.0 } };
    for (int variant = 0; variant <= 9; ++variant) {
        for (const auto& p : params) {
            const ColourTable t = slope(variant, p[0], p[1]);
            EXPECT_TRUE(unusedBytesZero(t));
        }
    }
    // A zero-width grey ramp is a step at its level.
    const ColourTable step = slope(0, 0.5, 0.5);
    EXPECT_EQ(step[127].red, 0);
    EXPECT_EQ(step[128].red, 255);
}

TEST(DirectionPalette, CycleAnchorsWithoutPhase)
{
    const ColourTable t = family(kFamilyDirection);
    EXPECT_EQ(at(t, 0), (Rgb { 0, 0, 0 }));
    EXPECT_EQ(at(t, 63), (Rgb { 127, 0, 0 }));
    EXPECT_EQ(at(t, 127), (Rgb { 255, 255, 255 }));
    EXPECT_EQ(at(t, 191), (Rgb { 0, 127, 0 }));
    // The last segment closes the cycle back on black.
    EXPECT_EQ(at(t, 255), (Rgb { 0, 0, 0 }));
    EXPECT_EQ(at(t, 223), (Rgb { 0, 64, 0 }));
}

TEST(DirectionPalette, PhaseRotatesTheCycle)
{
    PaletteRecord rec;
    rec.family = kFamilyDirection;
    ColourTable cycle, t;
    computePalette(rec, cycle);

    rec.phase = 0.75; // s = 64
    computePalette(rec, t);
    EXPECT_EQ(at(t, 64), (Rgb { 0, 0, 0 }));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(at(t, i), at(cycle, (i - 64 + 256) % 256)) << i;

    rec.phase = 0.25; // s = -64
    computePalette(rec, t);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(at(t, i), at(cycle, (i + 64) % 256)) << i;

    rec.phase = 1.5; // a full turn
    computePalette(rec, t);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(at(t, i), at(cycle, i)) << i;

    // s = floor(0.5 + 0.001 x 256) = 0: a phase this close to 0.5 rotates nothing.
    rec.phase = 0.501;
    computePalette(rec, t);
    EXPECT_EQ(at(t, 0), at(cycle, 0));

    for (double phase : { 1e300, -1e300, std::numeric_limits<double>::quiet_NaN() }) {
        rec.phase = phase;
        computePalette(rec, t);
        EXPECT_TRUE(unusedBytesZero(t));
    }
}

TEST(DirectionPalette, UserVariantUsesItsFourColours)
{
    PaletteRecord rec;
    rec.family = kFamilyDirection;
    rec.variant = 1;
    rec.control = { 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255 };
    ColourTable t;
    computePalette(rec, t);
    EXPECT_EQ(at(t, 0), (Rgb { 255, 0, 0 }));
    EXPECT_EQ(at(t, 63), (Rgb { 0, 255, 0 }));
    EXPECT_EQ(at(t, 127), (Rgb { 0, 0, 255 }));
    EXPECT_EQ(at(t, 191), (Rgb { 255, 255, 255 }));
}

TEST(HslPalette, BlackOutsideTheHueBand)
{
    for (int fam : { kFamilyDirectionHsl, kFamilyOrientationHsl }) {
        const ColourTable t = family(fam);
        for (int i = 0; i < 27; ++i)
            ASSERT_EQ(at(t, i), (Rgb { 0, 0, 0 })) << i;
        for (int i = 228; i < 256; ++i)
            ASSERT_EQ(at(t, i), (Rgb { 0, 0, 0 })) << i;
    }
}

TEST(HslPalette, HueShiftRoundsHalfToEven)
{
    // alpha1 0: round(100.5) = 100 (ties to even), so entry 27 has hue 100/200 of a
    // turn (cyan); rounding half up would give 101 and a bluer cyan.
    const ColourTable t = family(kFamilyDirectionHsl);
    EXPECT_EQ(at(t, 27), (Rgb { 0, 255, 255 }));
    EXPECT_EQ(at(t, 127), (Rgb { 255, 0, 0 })); // k = 200: a full turn
    EXPECT_EQ(at(t, 128), (Rgb { 255, 0, 0 })); // k = 0
    EXPECT_EQ(at(t, 28), (Rgb { 0, 247, 255 })); // k = 101: hue 121.2 of 240

    // alpha1 -1: round(-100.5) = -100, so entry 27 takes k = 101.
    PaletteRecord rec;
    rec.family = kFamilyOrientationHsl;
    rec.alpha1 = -1.0;
    ColourTable shifted;
    computePalette(rec, shifted);
    EXPECT_EQ(at(shifted, 27), (Rgb { 0, 247, 255 }));

    // alpha1 0.5: round(201) = 201, no shift: entry 27 is hue 0, red.
    rec.alpha1 = 0.5;
    computePalette(rec, shifted);
    EXPECT_EQ(at(shifted, 27), (Rgb { 255, 0, 0 }));
    // k = 40: hue 48 of 240 is 72 degrees, past yellow.
    EXPECT_EQ(at(shifted, 67), (Rgb { 204, 255, 0 }));
}

TEST(HslPalette, SaturationZeroIsMidGrey)
{
    PaletteRecord rec;
    rec.family = kFamilyDirectionHsl;
    rec.alpha2 = 0.0;
    ColourTable t;
    computePalette(rec, t);
    for (int i = 27; i <= 227; ++i)
        ASSERT_EQ(at(t, i), (Rgb { 127, 127, 127 })) << i;
}

TEST(HslPalette, ConversionHitsPrimariesExactly)
{
    const RgbReal green = hslToRgb(80.0, 240.0, 120.0);
    EXPECT_EQ(green.r, 0.0);
    EXPECT_EQ(green.g, 1.0);
    EXPECT_EQ(green.b, 0.0);
    const RgbReal wrapped = hslToRgb(-160.0, 240.0, 120.0); // = 80
    EXPECT_EQ(wrapped.g, 1.0);
    const RgbReal white = hslToRgb(10.0, 240.0, 240.0);
    EXPECT_EQ(white.r, 1.0);
    EXPECT_EQ(white.b, 1.0);
}

TEST(OrientationLinearPalette, Bt601Values)
{
    const ColourTable t = family(kFamilyOrientationLinear);
    EXPECT_EQ(at(t, 0), (Rgb { 29, 29, 29 }));
    EXPECT_EQ(at(t, 64), (Rgb { 140, 75, 24 }));
    EXPECT_EQ(at(t, 128), (Rgb { 148, 149, 149 }));
    EXPECT_EQ(at(t, 200), (Rgb { 166, 229, 255 }));
    EXPECT_EQ(at(t, 255), (Rgb { 255, 255, 255 }));
}

TEST(OrientationLinearPalette, NarrowSwingLeavesTheEndsGrey)
{
    PaletteRecord rec;
    rec.family = kFamilyOrientationLinear;
    rec.p1 = 0.5; // chroma only for |i/255 - 0.5| <= 0.25
    ColourTable t;
    computePalette(rec, t);
    for (int i : { 0, 10, 60, 200, 250 }) {
        const int grey
            = static_cast<int>(std::floor(std::min(1.0, 1.164 * (0.8 * i / 255.0 + 0.1)) * 255.0));
        EXPECT_EQ(at(t, i), (Rgb { grey, grey, grey })) << i;
    }
    EXPECT_NE(t[100].red, t[100].blue);
    rec.p1 = 0.0;
    computePalette(rec, t);
    EXPECT_EQ(t[100].red, t[100].blue);
}

TEST(StoredTablePalette, EditableAndFileFamiliesReturnTheirTable)
{
    for (int fam : { kFamilyEditable, kFamilyColourTable }) {
        PaletteRecord rec;
        rec.family = fam;
        setPaletteColour(rec.table, 5, 1, 2, 3);
        ColourTable t;
        computePalette(rec, t);
        EXPECT_EQ(at(t, 5), (Rgb { 1, 2, 3 }));
        EXPECT_EQ(at(t, 6), (Rgb { 0, 0, 0 }));
    }
}

TEST(PaletteColourAccess, TableLayoutIsBlueGreenRedZero)
{
    ColourTable t {};
    setPaletteColour(t, 1, 10, 20, 30);
    unsigned char bytes[sizeof(ColourTable)];
    std::memcpy(bytes, t.data(), sizeof bytes);
    EXPECT_EQ(sizeof bytes, 1024u);
    EXPECT_EQ(bytes[4], 30);
    EXPECT_EQ(bytes[5], 20);
    EXPECT_EQ(bytes[6], 10);
    EXPECT_EQ(bytes[7], 0);
}

TEST(PaletteColourAccess, RealsAreFlooredAndLimited)
{
    ColourTable t {};
    setPaletteColour(t, 0, 0.5, 1.0, 0.999);
    EXPECT_EQ(at(t, 0), (Rgb { 127, 255, 254 }));
    setPaletteColour(t, 1, -0.5, 7.0, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(at(t, 1), (Rgb { 0, 255, 0 }));
    setPaletteColour(t, 2, 300, -1, 128);
    EXPECT_EQ(at(t, 2), (Rgb { 255, 0, 128 }));
    // Levels outside the table are ignored.
    const ColourTable before = t;
    setPaletteColour(t, 256, 1, 1, 1);
    setPaletteColour(t, -1, 1.0, 1.0, 1.0);
    EXPECT_EQ(std::memcmp(before.data(), t.data(), sizeof t), 0);

    const RgbReal c = paletteColour(t, 2);
    EXPECT_DOUBLE_EQ(c.r, 1.0);
    EXPECT_DOUBLE_EQ(c.b, 128 / 255.0);
    EXPECT_DOUBLE_EQ(paletteColour(t, 999).r, paletteColour(t, 255).r);
    EXPECT_DOUBLE_EQ(paletteColour(t, -4).g, 1.0);
}

TEST(PaletteColourAccess, RgbTableForLevels)
{
    PaletteRecord rec; // grey slope
    const int levels[] = { -5, 0, 128, 300 };
    std::uint8_t out[16];
    paletteToRgbTable(rec, levels, 4, out);
    const std::uint8_t expected[16]
        = { 0, 0, 0, 255, 0, 0, 0, 255, 128, 128, 128, 255, 255, 255, 255, 255 };
    EXPECT_EQ(std::memcmp(out, expected, 16), 0);
    paletteToRgbTable(rec, nullptr, 4, out); // nothing to do, no crash
    paletteToRgbTable(rec, levels, -1, out);

    rec.variant = 7; // France
    paletteToRgbTable(rec, levels + 1, 1, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2], 255);
}

TEST(PaletteColourAccess, ArgbWordsAreOpaque)
{
    ColourTable t {};
    setPaletteColour(t, 3, 0x12, 0x34, 0x56);
    std::uint32_t argb[256];
    paletteToArgb(t, argb);
    EXPECT_EQ(argb[3], 0xFF123456u);
    EXPECT_EQ(argb[0], 0xFF000000u);
}
