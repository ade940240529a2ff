#include "vexamem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

const int kAllTypes[] = { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_U16, TYPEDATA_S16, TYPEDATA_U32,
    TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64, TYPEDATA_RGBA };

// Distinct bytes everywhere, so a misplaced sample or a torn element shows.
std::vector<unsigned char> patterned(std::size_t bytes)
{
    std::vector<unsigned char> v(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        v[i] = static_cast<unsigned char>(i * 7 + i / 251);
    return v;
}

std::vector<unsigned char> naiveTranspose(const std::vector<unsigned char>& a, int w, int h, int es)
{
    std::vector<unsigned char> out(a.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::memcpy(&out[(static_cast<std::size_t>(x) * h + y) * es],
                &a[(static_cast<std::size_t>(y) * w + x) * es], static_cast<std::size_t>(es));
    return out;
}

TEST(VexaMemTranspose, SmallArrayInPlace)
{
    std::int32_t a[6] = { 1, 2, 3, 4, 5, 6 };
    vexaMemTranspose(a, TYPEDATA_S32, 3, 2);
    EXPECT_EQ(
        std::vector<std::int32_t>(a, a + 6), (std::vector<std::int32_t> { 1, 4, 2, 5, 3, 6 }));
}

TEST(VexaMemTranspose, MatchesTheDefinitionForEveryElementSizeAndShape)
{
    const int shapes[][2] = { { 1, 1 }, { 1, 9 }, { 9, 1 }, { 2, 3 }, { 17, 17 }, { 37, 53 },
        { 64, 64 }, { 53, 37 }, { 100, 16 }, { 16, 100 }, { 129, 130 } };
    for (int type : { TYPEDATA_U8, TYPEDATA_S16, TYPEDATA_F32, TYPEDATA_F64 }) {
        const int es = vexaTypeSize(type);
        for (const auto& s : shapes) {
            std::vector<unsigned char> a = patterned(static_cast<std::size_t>(s[0]) * s[1] * es);
            std::vector<unsigned char> expected = naiveTranspose(a, s[0], s[1], es);
            vexaMemTranspose(a.data(), type, s[0], s[1]);
            EXPECT_EQ(a, expected) << "type " << type << " " << s[0] << "x" << s[1];
        }
    }
}

TEST(VexaMemTranspose, InvalidTypeZeroesTheBuffer)
{
    std::vector<unsigned char> a(5 * 3 * 3, 0x55);
    vexaMemTranspose(a.data(), 0, 5, 3);
    EXPECT_EQ(a, std::vector<unsigned char>(a.size(), 0));
    vexaMemTranspose(nullptr, TYPEDATA_U8, 5, 3);
    vexaMemTranspose(a.data(), TYPEDATA_U8, 0, 3);
}

TEST(VexaMemMirrors, SmallCasesWorkedByHand)
{
    const std::int32_t a[6] = { 1, 2, 3, 4, 5, 6 };
    std::int32_t out[6] = {};
    vexaMemSwapHorizontal(a, 3, 2, TYPEDATA_S32, out);
    EXPECT_EQ(
        std::vector<std::int32_t>(out, out + 6), (std::vector<std::int32_t> { 3, 2, 1, 6, 5, 4 }));
    vexaMemSwapVertical(a, 3, 2, TYPEDATA_S32, out);
    EXPECT_EQ(
        std::vector<std::int32_t>(out, out + 6), (std::vector<std::int32_t> { 4, 5, 6, 1, 2, 3 }));
    vexaMemRotate90(a, 3, 2, TYPEDATA_S32, out);
    EXPECT_EQ(
        std::vector<std::int32_t>(out, out + 6), (std::vector<std::int32_t> { 3, 6, 2, 5, 1, 4 }));
    vexaMemRotate180(a, 3, 2, TYPEDATA_S32, out);
    EXPECT_EQ(
        std::vector<std::int32_t>(out, out + 6), (std::vector<std::int32_t> { 6, 5, 4, 3, 2, 1 }));
    vexaMemRotate270(a, 3, 2, TYPEDATA_S32, out);
    EXPECT_EQ(
        std::vector<std::int32_t>(out, out + 6), (std::vector<std::int32_t> { 4, 1, 5, 2, 6, 3 }));
}

TEST(VexaMemMirrors, TurnsAndMirrorsComposeForEverySampleSize)
{
    std::vector<int> types(std::begin(kAllTypes), std::end(kAllTypes));
    types.push_back(0); // 3-byte samples still move as units
    // Shapes below and above one cache line of every sample size per row.
    const int shapes[][2] = { { 23, 18 }, { 1, 5 }, { 70, 131 } };
    for (const auto& shape : shapes)
        for (int type : types) {
            const int w = shape[0], h = shape[1];
            const std::size_t bytes = static_cast<std::size_t>(w) * h * vexaTypeSize(type);
            const std::vector<unsigned char> a = patterned(bytes);
            std::vector<unsigned char> b(bytes), c(bytes), d(bytes);

            // Four quarter turns give the original back.
            vexaMemRotate90(a.data(), w, h, type, b.data());
            vexaMemRotate90(b.data(), h, w, type, c.data());
            vexaMemRotate90(c.data(), w, h, type, d.data());
            vexaMemRotate90(d.data(), h, w, type, b.data());
            EXPECT_EQ(b, a) << type;

            // A quarter turn each way cancels.
            vexaMemRotate90(a.data(), w, h, type, b.data());
            vexaMemRotate270(b.data(), h, w, type, c.data());
            EXPECT_EQ(c, a) << type;

            // Two quarter turns, and both mirrors, are the half turn.
            vexaMemRotate270(a.data(), w, h, type, b.data());
            vexaMemRotate270(b.data(), h, w, type, c.data());
            vexaMemRotate180(a.data(), w, h, type, d.data());
            EXPECT_EQ(c, d) << type;
            vexaMemSwapHorizontal(a.data(), w, h, type, b.data());
            vexaMemSwapVertical(b.data(), w, h, type, c.data());
            EXPECT_EQ(c, d) << type;

            // A mirror is its own inverse.
            vexaMemSwapHorizontal(a.data(), w, h, type, b.data());
            vexaMemSwapHorizontal(b.data(), w, h, type, c.data());
            EXPECT_EQ(c, a) << type;

            // A quarter turn clockwise is the transposition mirrored left-right.
            if (type != 0) {
                std::vector<unsigned char> t = a;
                vexaMemTranspose(t.data(), type, w, h);
                vexaMemSwapHorizontal(t.data(), h, w, type, b.data());
                vexaMemRotate270(a.data(), w, h, type, c.data());
                EXPECT_EQ(b, c) << type;
            }
        }
}

TEST(VexaMemMirrors, NullPointersAndEmptySizesDoNothing)
{
    std::uint8_t a[4] = { 1, 2, 3, 4 }, b[4] = {};
    vexaMemRotate90(nullptr, 2, 2, TYPEDATA_U8, b);
    vexaMemRotate270(a, 2, 2, TYPEDATA_U8, nullptr);
    vexaMemSwapHorizontal(a, 0, 2, TYPEDATA_U8, b);
    vexaMemSwapVertical(a, 2, -1, TYPEDATA_U8, b);
    vexaMemRotate180(a, 2, 0, TYPEDATA_U8, b);
    EXPECT_EQ(std::vector<std::uint8_t>(b, b + 4), std::vector<std::uint8_t>(4, 0));
}

TEST(VexaMemRotateComputeDim, AddsOneToTheTurnedExtent)
{
    int w = 0, h = 0;
    vexaMemRotateComputeDim(10, 20, 0.0, &w, &h);
    EXPECT_EQ(w, 11);
    EXPECT_EQ(h, 21);
    // cos(pi/2) is not exactly 0 as a double: the second axis rounds up once more.
    vexaMemRotateComputeDim(10, 20, std::numbers::pi / 2, &w, &h);
    EXPECT_EQ(w, 21);
    EXPECT_EQ(h, 12);
    // 45 degrees: the extent is (10 + 20) / sqrt(2) = 21.2 on both axes.
    vexaMemRotateComputeDim(10, 20, std::numbers::pi / 4, &w, &h);
    EXPECT_EQ(w, 23);
    EXPECT_EQ(h, 23);
    vexaMemRotateComputeDim(10, 20, std::nan(""), &w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    vexaMemRotateComputeDim(10, 20, 0.0, nullptr, nullptr);
}

TEST(VexaMemRotate, ZeroAngleCopiesAndLeavesTheExtraRowAndColumn)
{
    const int w = 4, h = 3;
    std::vector<double> src(w * h);
    for (int i = 0; i < w * h; ++i)
        src[static_cast<std::size_t>(i)] = i + 1;
    std::vector<double> dst((w + 1) * (h + 1), -1.0);
    vexaMemRotate(src.data(), w, h, dst.data(), 0.0);
    for (int j = 0; j <= h; ++j)
        for (int i = 0; i <= w; ++i) {
            double expected = (i < w && j < h) ? src[static_cast<std::size_t>(j * w + i)] : -1.0;
            EXPECT_EQ(dst[static_cast<std::size_t>(j * (w + 1) + i)], expected) << i << "," << j;
        }
}

TEST(VexaMemRotate, TakesOnlyInputSamplesAndKeepsTheBackground)
{
    const int w = 9, h = 7;
    std::vector<double> src(w * h);
    for (int i = 0; i < w * h; ++i)
        src[static_cast<std::size_t>(i)] = 100 + i;
    for (double angle : { 0.3, -1.0, 2.5 }) {
        int ow = 0, oh = 0;
        vexaMemRotateComputeDim(w, h, angle, &ow, &oh);
        std::vector<double> dst(static_cast<std::size_t>(ow) * oh, -1.0);
        vexaMemRotate(src.data(), w, h, dst.data(), angle);
        int background = 0;
        for (double v : dst) {
            if (v == -1.0)
                ++background;
            else
                EXPECT_TRUE(v >= 100 && v < 100 + w * h && v == std::floor(v)) << v;
        }
        // The corners of the output lie outside the turned input.
        EXPECT_EQ(dst[0], -1.0) << angle;
        EXPECT_EQ(dst.back(), -1.0) << angle;
        EXPECT_GT(background, 0);
        EXPECT_LT(background, ow * oh);
    }
}

TEST(VexaMemResize, NearestSampleByTruncation)
{
    std::vector<double> src = { 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    std::vector<double> dst(25);
    vexaMemResize(src.data(), 3, 3, dst.data(), 5, 5);
    EXPECT_EQ(
        std::vector<double>(dst.begin(), dst.begin() + 5), (std::vector<double> { 1, 1, 2, 2, 3 }));
    EXPECT_EQ(
        std::vector<double>(dst.begin() + 20, dst.end()), (std::vector<double> { 7, 7, 8, 8, 9 }));

    // Shrinking keeps the first and last rows and columns.
    std::vector<double> small(4);
    vexaMemResize(src.data(), 3, 3, small.data(), 2, 2);
    EXPECT_EQ(small, (std::vector<double> { 1, 3, 7, 9 }));

    // A new size of 1 takes index 0 on that axis.
    std::vector<double> one(3);
    vexaMemResize(src.data(), 3, 3, one.data(), 1, 3);
    EXPECT_EQ(one, (std::vector<double> { 1, 4, 7 }));
    double single = 0;
    vexaMemResize(src.data(), 3, 3, &single, 1, 1);
    EXPECT_EQ(single, 1);

    std::vector<double> same(9);
    vexaMemResize(src.data(), 3, 3, same.data(), 3, 3);
    EXPECT_EQ(same, src);
    vexaMemResize(src.data(), 3, 3, same.data(), 0, 3);
    vexaMemResize(nullptr, 3, 3, same.data(), 3, 3);
}

TEST(VexaMemRoll, RotatesWordsLeftByOne)
{
    std::uint32_t a[3] = { 1, 2, 3 };
    vexaMemRoll(a, 3);
    EXPECT_EQ(std::vector<std::uint32_t>(a, a + 3), (std::vector<std::uint32_t> { 2, 3, 1 }));
    vexaMemRoll(a, 1);
    EXPECT_EQ(a[0], 2u);
    vexaMemRoll(a, 0);
    vexaMemRoll(a, -5);
    vexaMemRoll(nullptr, 3);
    EXPECT_EQ(std::vector<std::uint32_t>(a, a + 3), (std::vector<std::uint32_t> { 2, 3, 1 }));
}

TEST(VexaMemRoll, RollsEveryArrayGiven)
{
    std::uint32_t a[3] = { 1, 2, 3 };
    float b[3] = { 0.5f, 1.5f, 2.5f };
    std::int32_t c[3] = { -1, -2, -3 };
    vexaMemRolls(3, 3, a, b, c);
    EXPECT_EQ(std::vector<std::uint32_t>(a, a + 3), (std::vector<std::uint32_t> { 2, 3, 1 }));
    EXPECT_EQ(std::vector<float>(b, b + 3), (std::vector<float> { 1.5f, 2.5f, 0.5f }));
    EXPECT_EQ(std::vector<std::int32_t>(c, c + 3), (std::vector<std::int32_t> { -2, -3, -1 }));
    vexaMemRolls(0, 3);
}

} // namespace
