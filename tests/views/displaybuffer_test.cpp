#include "views/displaybuffer.h"

#include "vexa_types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

using namespace vexa;

namespace {

template <typename T>
DisplayRequest request(const std::vector<T>& samples, int width, int height, int type)
{
    DisplayRequest r;
    r.samples = samples.data();
    r.width = width;
    r.height = height;
    r.type = type;
    r.visibleW = width;
    r.visibleH = height;
    return r;
}

std::vector<std::uint8_t> topRowLevels(const DisplayBitmap& b, int y)
{
    const std::uint8_t* row = b.topRow(y);
    return { row, row + b.width * b.bytesPerPixel };
}

} // namespace

TEST(DisplayBufferLayout, ZoomFourMagnifiesEverySampleIntoABlock)
{
    std::vector<std::uint8_t> samples(100 * 80);
    for (int i = 0; i < 100 * 80; ++i)
        samples[std::size_t(i)] = std::uint8_t(i % 251);
    DisplayRequest r = request(samples, 100, 80, TYPEDATA_U8);
    r.zx = r.zy = 4;
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(b.width, 400);
    EXPECT_EQ(b.height, 320);
    EXPECT_EQ(b.stride, 400);
    EXPECT_EQ(b.bits.size(), 400u * 320u);
    // Sample (7, 3) fills pixels 28..31 of rows 12..15.
    for (int y = 12; y < 16; ++y)
        for (int x = 28; x < 32; ++x)
            EXPECT_EQ(*b.pixel(x, y), samples[3 * 100 + 7]);
}

TEST(DisplayBufferLayout, RowsArePaddedToFourBytesWithZeros)
{
    EXPECT_EQ(displayStride(300, 1), 300);
    EXPECT_EQ(displayStride(301, 1), 304);
    EXPECT_EQ(displayStride(5, 3), 16);
    std::vector<std::uint8_t> samples(101 * 2, 200);
    DisplayRequest r = request(samples, 101, 2, TYPEDATA_U8);
    r.zx = 3;
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(b.width, 303);
    EXPECT_EQ(b.stride, 304);
    for (int y = 0; y < 2; ++y)
        EXPECT_EQ(b.bits[std::size_t(y) * 304 + 303], 0);
}

TEST(DisplayBufferLayout, FirstImageRowIsTheLastBufferRow)
{
    std::vector<std::uint8_t> samples = { 10, 11, 12, 20, 21, 22 };
    DisplayRequest r = request(samples, 3, 2, TYPEDATA_U8);
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(b.stride, 4);
    EXPECT_EQ(b.bits[4], 10);
    EXPECT_EQ(b.bits[0], 20);
}

TEST(DisplayBufferLayout, HeaderDescribesABottomUpIndexedBitmapWithGreyDefault)
{
    std::vector<std::uint8_t> samples(6, 1);
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(request(samples, 3, 2, TYPEDATA_U8), b));
    ASSERT_EQ(b.header.size(), 40u + 1024u);
    auto le32 = [&](int at) {
        std::int32_t v;
        std::memcpy(&v, b.header.data() + at, 4);
        return v;
    };
    EXPECT_EQ(le32(0), 40);
    EXPECT_EQ(le32(4), 3);
    EXPECT_EQ(le32(8), 2);
    EXPECT_EQ(b.header[12], 1);
    EXPECT_EQ(b.header[14], 8);
    EXPECT_EQ(le32(32), 256);
    EXPECT_EQ(b.header[40 + 4 * 77], 77);
    EXPECT_EQ(b.header[40 + 4 * 77 + 2], 77);

    DisplayColours red {};
    for (auto& c : red)
        c = { 0, 0, 255, 0 };
    DisplayRequest r = request(samples, 3, 2, TYPEDATA_U8);
    r.colours = &red;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(b.header[40 + 4 * 9 + 2], 255);
    EXPECT_EQ(b.header[40 + 4 * 9], 0);
}

TEST(DisplayBufferLayout, RgbaBecomesBlueGreenRedWithoutScaleOrAlpha)
{
    std::vector<std::uint8_t> samples = { 1, 2, 3, 4, 250, 251, 252, 253 };
    DisplayRequest r = request(samples, 2, 1, TYPEDATA_RGBA);
    r.gain = 0.0;
    r.offset = 100;
    r.zx = 2;
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(b.bytesPerPixel, 3);
    EXPECT_EQ(b.stride, 12);
    EXPECT_EQ(topRowLevels(b, 0),
        (std::vector<std::uint8_t> { 3, 2, 1, 3, 2, 1, 252, 251, 250, 252, 251, 250 }));
    EXPECT_EQ(b.header.size(), 40u);
    EXPECT_EQ(b.header[14], 24);
}

TEST(DisplayBufferLayout, ZoomBelowOneIsNotAppliedToTheBuffer)
{
    std::vector<float> samples(64 * 32, 5.0f);
    DisplayRequest r = request(samples, 64, 32, TYPEDATA_F32);
    r.zx = magnification(0.25);
    r.zy = magnification(0.25);
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(b.width, 64);
    EXPECT_EQ(b.height, 32);
    EXPECT_EQ(magnification(2.0), 2);
    EXPECT_EQ(magnification(0.5), 1);
}

TEST(DisplayBufferLayout, PartOfTheRectangleOutsideTheImageStaysZero)
{
    std::vector<std::uint8_t> samples(4 * 4, 9);
    DisplayRequest r = request(samples, 4, 4, TYPEDATA_U8);
    r.originX = -1;
    r.originY = 2;
    r.visibleW = 3;
    r.visibleH = 3;
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(topRowLevels(b, 0), (std::vector<std::uint8_t> { 0, 9, 9 }));
    EXPECT_EQ(topRowLevels(b, 1), (std::vector<std::uint8_t> { 0, 9, 9 }));
    EXPECT_EQ(topRowLevels(b, 2), (std::vector<std::uint8_t> { 0, 0, 0 }));
}

TEST(DisplayBufferLayout, RefusesMissingSamplesBadTypesAndAbsurdSizes)
{
    std::vector<std::uint8_t> samples(4, 1);
    DisplayBitmap b;
    DisplayRequest r = request(samples, 2, 2, TYPEDATA_U8);
    r.samples = nullptr;
    EXPECT_FALSE(buildDisplayBitmap(r, b));
    r = request(samples, 2, 2, 12);
    EXPECT_FALSE(buildDisplayBitmap(r, b));
    r = request(samples, 2, 2, TYPEDATA_U8);
    r.zx = r.zy = 1 << 20;
    EXPECT_FALSE(buildDisplayBitmap(r, b));
    EXPECT_FALSE(b.ready);
    EXPECT_TRUE(b.bits.empty());
    r.zx = 0;
    EXPECT_FALSE(buildDisplayBitmap(r, b));
}

TEST(DisplayLevels, SixteenBitGainAndOffsetSaturateAtBothEnds)
{
    std::vector<std::int16_t> samples = { 3000, 50, 1000, 105 };
    DisplayRequest r = request(samples, 4, 1, TYPEDATA_S16);
    r.gain = 0.1;
    r.offset = -10;
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(topRowLevels(b, 0), (std::vector<std::uint8_t> { 255, 0, 90, 1 }));
}

TEST(DisplayLevels, LargeSixteenBitImagesGiveTheSameLevelsThroughTheirTable)
{
    // Past 65536 samples a lookup table is used; it must agree with the arithmetic.
    std::vector<std::uint16_t> samples(70000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::uint16_t(i * 7);
    DisplayRequest r = request(samples, 70000, 1, TYPEDATA_U16);
    r.gain = 0.003;
    r.offset = 1.25;
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    for (std::size_t i = 0; i < samples.size(); i += 997)
        EXPECT_EQ(b.topRow(0)[i], displayLevel(samples[i], 0.003, 1.25)) << i;
}

TEST(DisplayLevels, LevelsAreRoundedToNearestAndNanIsZero)
{
    EXPECT_EQ(displayLevel(1.49, 1, 0), 1);
    EXPECT_EQ(displayLevel(1.5, 1, 0), 2);
    EXPECT_EQ(displayLevel(254.6, 1, 0), 255);
    EXPECT_EQ(displayLevel(-0.4, 1, 0), 0);
    EXPECT_EQ(displayLevel(std::numeric_limits<double>::quiet_NaN(), 1, 0), 0);
    EXPECT_EQ(displayLevel(std::numeric_limits<double>::infinity(), 1, 0), 255);
}

TEST(DisplayLevels, EveryScalarTypeMapsThroughGainAndOffset)
{
    const std::vector<std::uint8_t> u8 = { 0, 100, 255 };
    const std::vector<std::int8_t> s8 = { -100, 0, 100 };
    const std::vector<std::uint32_t> u32 = { 4294967295u, 0, 2000000000u };
    const std::vector<std::int32_t> s32 = { -5, 60, 1000 };
    const std::vector<double> f64 = { 0.25, 0.5, 1.0 };
    DisplayBitmap b;

    DisplayRequest r = request(u8, 3, 1, TYPEDATA_U8);
    r.gain = -1;
    r.offset = 255;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(topRowLevels(b, 0), (std::vector<std::uint8_t> { 255, 155, 0 }));

    r = request(s8, 3, 1, TYPEDATA_S8);
    r.offset = 128;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(topRowLevels(b, 0), (std::vector<std::uint8_t> { 28, 128, 228 }));

    // Unsigned 32-bit samples read as unsigned.
    r = request(u32, 3, 1, TYPEDATA_U32);
    r.gain = 5e-8;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(topRowLevels(b, 0), (std::vector<std::uint8_t> { 215, 0, 100 }));

    r = request(s32, 3, 1, TYPEDATA_S32);
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(topRowLevels(b, 0), (std::vector<std::uint8_t> { 0, 60, 255 }));

    r = request(f64, 3, 1, TYPEDATA_F64);
    r.gain = 255;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(topRowLevels(b, 0), (std::vector<std::uint8_t> { 64, 128, 255 }));
}

TEST(DisplayLevels, LabelsWrapIntoOneTo255)
{
    const std::vector<std::int32_t> labels = { 0, 1, 255, 256, 511, 300 };
    DisplayRequest r = request(labels, 6, 1, TYPEDATA_S32);
    r.labelPalette = true;
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(topRowLevels(b, 0), (std::vector<std::uint8_t> { 0, 1, 255, 1, 1, 45 }));
    EXPECT_EQ(labelLevel(-1), 255);
}

TEST(DisplayLevels, LabelsAreTruncatedNotRoundedBeforeWrapping)
{
    // The label conversion follows the sample conversion rule: 2.9 is label 2.
    const std::vector<float> labels = { 2.9f, 0.6f, 256.5f };
    DisplayRequest r = request(labels, 3, 1, TYPEDATA_F32);
    r.labelPalette = true;
    DisplayBitmap b;
    ASSERT_TRUE(buildDisplayBitmap(r, b));
    EXPECT_EQ(topRowLevels(b, 0), (std::vector<std::uint8_t> { 2, 0, 1 }));
}

TEST(DericheSmoothing, CoefficientsFollowTheZoom)
{
    EXPECT_NEAR(dericheAlpha(1), 4.744, 0.002);
    EXPECT_NEAR(dericheAlpha(2), 2.372, 0.002);
    EXPECT_NEAR(dericheAlpha(4), 1.186, 0.002);
}

TEST(DericheSmoothing, ConstantLinesStayConstant)
{
    std::vector<double> line(37, 118.0);
    dericheSmoothLine(line.data(), int(line.size()), dericheAlpha(2));
    for (double v : line)
        EXPECT_NEAR(v, 118.0, 1e-9);
    std::vector<double> one = { 42.0 };
    dericheSmoothLine(one.data(), 1, dericheAlpha(1));
    EXPECT_NEAR(one[0], 42.0, 1e-9);
}

TEST(DericheSmoothing, StepIsSoftenedMonotonicallyAndSymmetrically)
{
    std::vector<double> line(40, 0.0);
    std::fill(line.begin() + 20, line.end(), 200.0);
    dericheSmoothLine(line.data(), 40, dericheAlpha(4));
    for (std::size_t i = 1; i < line.size(); ++i)
        EXPECT_GE(line[i] + 1e-9, line[i - 1]);
    EXPECT_GT(line[19], 1.0);
    EXPECT_LT(line[20], 199.0);
    EXPECT_NEAR(line[19] + line[20], 200.0, 1e-6);
    EXPECT_NEAR(line[0], 0.0, 0.5);
    EXPECT_NEAR(line[39], 200.0, 0.5);
}

TEST(DericheSmoothing, InterpolatedBufferSmoothsMagnifiedScalarImagesOnly)
{
    std::vector<std::uint8_t> samples = { 0, 255, 0, 255 };
    DisplayRequest r = request(samples, 2, 2, TYPEDATA_U8);
    r.zx = r.zy = 4;
    DisplayBitmap plain, smooth;
    ASSERT_TRUE(buildDisplayBitmap(r, plain));
    r.smooth = true;
    ASSERT_TRUE(buildDisplayBitmap(r, smooth));
    EXPECT_EQ(plain.topRow(0)[3], 0);
    EXPECT_GT(smooth.topRow(0)[3], 0);
    EXPECT_LT(smooth.topRow(0)[4], 255);
    // Uniform areas keep their level; mirror symmetry is kept.
    EXPECT_EQ(smooth.topRow(0)[3] + smooth.topRow(0)[4], 255);

    std::vector<std::uint8_t> rgba = { 0, 0, 0, 0, 255, 255, 255, 0 };
    DisplayRequest c = request(rgba, 2, 1, TYPEDATA_RGBA);
    c.zx = 4;
    c.smooth = true;
    ASSERT_TRUE(buildDisplayBitmap(c, smooth));
    EXPECT_EQ(smooth.topRow(0)[9], 0);
}
