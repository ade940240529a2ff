// Image transformations on small images worked out by hand.
#include "processing/transform2d.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

using namespace vexa;
using namespace vexa::processing;

namespace {

template <typename T>
Image2d makeImage(int width, int height, int type, const std::vector<T>& values)
{
    Image2d image;
    EXPECT_TRUE(allocateImage(image, width, height, type, nullptr));
    EXPECT_EQ(values.size() * sizeof(T), image.samples.size());
    std::memcpy(image.samples.data(), values.data(), image.samples.size());
    return image;
}

Image2d u8(int width, int height, const std::vector<std::uint8_t>& values)
{
    return makeImage(width, height, TYPEDATA_U8, values);
}

template <typename T = std::uint8_t> std::vector<T> samplesOf(const Image2d& image)
{
    std::vector<T> values(std::size_t(image.sampleCount()));
    std::memcpy(values.data(), image.samples.data(), values.size() * sizeof(T));
    return values;
}

using Bytes = std::vector<std::uint8_t>;

// Rows (1 2 3) (4 5 6).
Image2d threeByTwo()
{
    return u8(3, 2, { 1, 2, 3, 4, 5, 6 });
}

} // namespace

TEST(MirrorOrTurn, ThreeByTwoImage)
{
    struct Case {
        int move, width, height;
        Bytes samples;
    };
    const Case cases[] = {
        { MOVE_MIRROR_HORIZONTAL, 3, 2, { 3, 2, 1, 6, 5, 4 } },
        { MOVE_MIRROR_VERTICAL, 3, 2, { 4, 5, 6, 1, 2, 3 } },
        { MOVE_ROTATE_90, 2, 3, { 3, 6, 2, 5, 1, 4 } },
        { MOVE_ROTATE_180, 3, 2, { 6, 5, 4, 3, 2, 1 } },
        { MOVE_ROTATE_270, 2, 3, { 4, 1, 5, 2, 6, 3 } },
    };
    Image2d source = threeByTwo();
    for (const Case& c : cases) {
        Image2d result;
        ASSERT_TRUE(mirrorOrTurn(source, c.move, result, nullptr)) << c.move;
        EXPECT_EQ(result.width, c.width) << c.move;
        EXPECT_EQ(result.height, c.height) << c.move;
        EXPECT_EQ(result.type, TYPEDATA_U8);
        EXPECT_EQ(samplesOf(result), c.samples) << c.move;
    }
    EXPECT_EQ(samplesOf(source), (Bytes { 1, 2, 3, 4, 5, 6 }));
}

TEST(MirrorOrTurn, FourQuarterTurnsGiveTheOriginalForEveryWidth)
{
    std::vector<double> values(5 * 3);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = double(i) * 1.5 - 4;
    Image2d start = makeImage(5, 3, TYPEDATA_F64, values);
    for (int move : { MOVE_ROTATE_90, MOVE_ROTATE_270 }) {
        Image2d a, b, c, d;
        ASSERT_TRUE(mirrorOrTurn(start, move, a, nullptr));
        ASSERT_TRUE(mirrorOrTurn(a, move, b, nullptr));
        ASSERT_TRUE(mirrorOrTurn(b, move, c, nullptr));
        ASSERT_TRUE(mirrorOrTurn(c, move, d, nullptr));
        EXPECT_EQ(d.width, 5);
        EXPECT_EQ(samplesOf<double>(d), values);
    }
    std::vector<std::uint32_t> colours = { 0x11223344, 0x55667788 };
    Image2d rgba = makeImage(2, 1, TYPEDATA_RGBA, colours), turned;
    ASSERT_TRUE(mirrorOrTurn(rgba, MOVE_MIRROR_HORIZONTAL, turned, nullptr));
    EXPECT_EQ(
        samplesOf<std::uint32_t>(turned), (std::vector<std::uint32_t> { 0x55667788, 0x11223344 }));
}

TEST(MirrorOrTurn, RefusesAnUnknownMoveOrAnEmptySource)
{
    Image2d result, empty;
    std::string reason;
    EXPECT_FALSE(mirrorOrTurn(threeByTwo(), 0, result, &reason));
    EXPECT_FALSE(mirrorOrTurn(threeByTwo(), MOVE_ROTATE_270 + 1, result, &reason));
    EXPECT_FALSE(mirrorOrTurn(empty, MOVE_MIRROR_HORIZONTAL, result, &reason));
    EXPECT_FALSE(reason.empty());
}

TEST(Transposition, SwapsRowsAndColumns)
{
    Image2d result;
    ASSERT_TRUE(transposeImage(threeByTwo(), result, nullptr));
    EXPECT_EQ(result.width, 2);
    EXPECT_EQ(result.height, 3);
    EXPECT_EQ(samplesOf(result), (Bytes { 1, 4, 2, 5, 3, 6 }));

    std::vector<std::int16_t> values = { -1, 2, -3, 4, -5, 6 };
    Image2d wide = makeImage(6, 1, TYPEDATA_S16, values);
    ASSERT_TRUE(transposeImage(wide, result, nullptr));
    EXPECT_EQ(result.width, 1);
    EXPECT_EQ(result.height, 6);
    EXPECT_EQ(samplesOf<std::int16_t>(result), values);
}

TEST(WidthHeightExchange, ReadsTheSamplesAsHColumnsAndTransposes)
{
    Image2d result;
    ASSERT_TRUE(exchangeWidthHeight(threeByTwo(), result, nullptr));
    EXPECT_EQ(result.width, 3);
    EXPECT_EQ(result.height, 2);
    EXPECT_EQ(samplesOf(result), (Bytes { 1, 3, 5, 2, 4, 6 }));
}

TEST(FreeRotation, ZeroDegreesAddsAZeroColumnAndRow)
{
    std::vector<std::uint8_t> values(10 * 20);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::uint8_t(1 + i % 250);
    Image2d result;
    ASSERT_TRUE(rotateImage(u8(10, 20, values), 0.0, result, nullptr));
    ASSERT_EQ(result.width, 11);
    ASSERT_EQ(result.height, 21);
    EXPECT_EQ(result.type, TYPEDATA_U8);
    Bytes out = samplesOf(result);
    for (int y = 0; y < 21; ++y)
        EXPECT_EQ(out[std::size_t(y) * 11 + 10], 0) << y;
    for (int x = 0; x < 11; ++x)
        EXPECT_EQ(out[20 * 11 + std::size_t(x)], 0) << x;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(out[std::size_t(y) * 11 + std::size_t(x)],
                values[std::size_t(y) * 10 + std::size_t(x)]);
}

TEST(FreeRotation, KeepsTypesAndColours)
{
    std::vector<float> values = { 1.25f, -2.5f, 1e-3f, 7e6f };
    Image2d result;
    ASSERT_TRUE(rotateImage(makeImage(2, 2, TYPEDATA_F32, values), 0.0, result, nullptr));
    ASSERT_EQ(result.type, TYPEDATA_F32);
    std::vector<float> out = samplesOf<float>(result);
    EXPECT_EQ(out[0], 1.25f);
    EXPECT_EQ(out[1], -2.5f);
    EXPECT_EQ(out[3], 1e-3f);
    EXPECT_EQ(out[4], 7e6f);

    // Colour samples would read as 0 through a scalar conversion.
    std::vector<std::uint32_t> colours = { 0xff102030, 0x80405060, 0x01020304, 0xfefdfcfb };
    ASSERT_TRUE(rotateImage(makeImage(2, 2, TYPEDATA_RGBA, colours), 0.0, result, nullptr));
    ASSERT_EQ(result.type, TYPEDATA_RGBA);
    std::vector<std::uint32_t> rgba = samplesOf<std::uint32_t>(result);
    EXPECT_EQ(rgba[0], colours[0]);
    EXPECT_EQ(rgba[1], colours[1]);
    EXPECT_EQ(rgba[3], colours[2]);
    EXPECT_EQ(rgba[4], colours[3]);
    EXPECT_EQ(rgba[2], 0u);
}

TEST(FreeRotation, HalfTurnMovesTheCornersAndRefusesNonFiniteAngles)
{
    Image2d result;
    ASSERT_TRUE(rotateImage(threeByTwo(), 180.0, result, nullptr));
    Bytes out = samplesOf(result);
    // Every source value lands somewhere; nothing is invented.
    int found = 0;
    for (std::uint8_t v : out) {
        EXPECT_LE(v, 6);
        found += v != 0;
    }
    EXPECT_GE(found, 4);

    std::string reason;
    EXPECT_FALSE(
        rotateImage(threeByTwo(), std::numeric_limits<double>::quiet_NaN(), result, &reason));
    EXPECT_FALSE(
        rotateImage(threeByTwo(), std::numeric_limits<double>::infinity(), result, &reason));
    EXPECT_FALSE(reason.empty());
}

TEST(Resize, NearestSampleBothWays)
{
    Image2d result;
    ASSERT_TRUE(resizeImage(u8(2, 2, { 1, 2, 3, 4 }), 4, 4, result, nullptr));
    ASSERT_EQ(result.width, 4);
    ASSERT_EQ(result.height, 4);
    Bytes out = samplesOf(result);
    // First and last rows and columns map onto each other.
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[3], 2);
    EXPECT_EQ(out[12], 3);
    EXPECT_EQ(out[15], 4);

    ASSERT_TRUE(resizeImage(threeByTwo(), 1, 1, result, nullptr));
    EXPECT_EQ(samplesOf(result), (Bytes { 1 }));

    std::vector<std::uint16_t> values = { 100, 200, 300, 400, 500, 600 };
    ASSERT_TRUE(resizeImage(makeImage(3, 2, TYPEDATA_U16, values), 3, 2, result, nullptr));
    EXPECT_EQ(result.type, TYPEDATA_U16);
    EXPECT_EQ(samplesOf<std::uint16_t>(result), values);
}

TEST(Resize, RefusesEmptyAndHugeSizes)
{
    Image2d result;
    std::string reason;
    EXPECT_FALSE(resizeImage(threeByTwo(), 0, 5, result, &reason));
    EXPECT_FALSE(resizeImage(threeByTwo(), 5, -1, result, &reason));
    EXPECT_FALSE(resizeImage(threeByTwo(), 100000, 100000, result, &reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(result.samples);
}

TEST(Reframe, RemovesLeftColumnsAndAddsBottomRows)
{
    std::vector<std::uint8_t> values(100);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::uint8_t(i + 1);
    Image2d result;
    ASSERT_TRUE(reframeImage(u8(10, 10, values), { 2, 0, 0, 3 }, result, nullptr));
    ASSERT_EQ(result.width, 8);
    ASSERT_EQ(result.height, 13);
    Bytes out = samplesOf(result);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 8; ++x) {
            std::uint8_t expected = y < 10 ? values[std::size_t(y) * 10 + std::size_t(x) + 2] : 0;
            EXPECT_EQ(out[std::size_t(y) * 8 + std::size_t(x)], expected) << x << "," << y;
        }
}

TEST(Reframe, NegativeMarginsDoTheOpposite)
{
    // Gauche -1 adds a column at the left, Haut 1 removes the top row, Droite -1
    // removes the right column.
    Image2d result;
    ASSERT_TRUE(reframeImage(threeByTwo(), { -1, -1, 1, 0 }, result, nullptr));
    ASSERT_EQ(result.width, 3);
    ASSERT_EQ(result.height, 1);
    EXPECT_EQ(samplesOf(result), (Bytes { 0, 4, 5 }));

    std::vector<double> values = { 1.5, -2.5 };
    ASSERT_TRUE(
        reframeImage(makeImage(1, 2, TYPEDATA_F64, values), { 0, 1, -1, 0 }, result, nullptr));
    EXPECT_EQ(samplesOf<double>(result), (std::vector<double> { 0, 0, 1.5, 0, -2.5, 0 }));

    // Everything cut away leaves a zero image of the asked size.
    ASSERT_TRUE(reframeImage(threeByTwo(), { 5, 5, 0, 0 }, result, nullptr));
    EXPECT_EQ(samplesOf(result), (Bytes(6, 0)));
}

TEST(Reframe, RefusesEmptyOrOverflowingResults)
{
    Image2d result;
    std::string reason;
    EXPECT_FALSE(reframeImage(threeByTwo(), { 3, 0, 0, 0 }, result, &reason));
    EXPECT_FALSE(reframeImage(threeByTwo(), { 0, 0, 1, -1 }, result, &reason));
    EXPECT_FALSE(reframeImage(threeByTwo(), { INT_MIN, INT_MAX, 0, 0 }, result, &reason));
    EXPECT_FALSE(reframeImage(threeByTwo(), { 0, INT_MAX, 0, INT_MAX }, result, &reason));
    EXPECT_FALSE(reason.empty());
}

TEST(SplitTiles, TwoByTwoInColumnOrder)
{
    std::vector<TileRect> tiles;
    ASSERT_TRUE(splitTiles(100, 100, 2, 2, 0, 0, tiles, nullptr));
    ASSERT_EQ(tiles.size(), 4u);
    const int origins[4][2] = { { 0, 0 }, { 0, 50 }, { 50, 0 }, { 50, 50 } };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tiles[std::size_t(i)].x, origins[i][0]);
        EXPECT_EQ(tiles[std::size_t(i)].y, origins[i][1]);
        EXPECT_EQ(tiles[std::size_t(i)].width, 50);
        EXPECT_EQ(tiles[std::size_t(i)].height, 50);
    }
    ASSERT_TRUE(splitTiles(100, 100, 2, 2, 5, 5, tiles, nullptr));
    for (const TileRect& t : tiles) {
        EXPECT_EQ(t.width, 55);
        EXPECT_EQ(t.height, 55);
    }
    EXPECT_EQ(tiles[3].x, 45);
}

TEST(SplitTiles, UnevenCountsPartitionTheImage)
{
    std::vector<TileRect> tiles;
    ASSERT_TRUE(splitTiles(10, 7, 3, 1, 0, 0, tiles, nullptr));
    ASSERT_EQ(tiles.size(), 3u);
    EXPECT_EQ(tiles[0].width, 3);
    EXPECT_EQ(tiles[1].x, 3);
    EXPECT_EQ(tiles[1].width, 3);
    EXPECT_EQ(tiles[2].x, 6);
    EXPECT_EQ(tiles[2].width, 4);
    EXPECT_EQ(tiles[2].height, 7);
    // Huge borders clip every tile to the image.
    ASSERT_TRUE(splitTiles(10, 7, 5, 5, INT_MAX, INT_MAX, tiles, nullptr));
    for (const TileRect& t : tiles) {
        EXPECT_EQ(t.width, 10);
        EXPECT_EQ(t.height, 7);
    }
}

TEST(SplitTiles, RefusesBadCountsBordersAndTooSmallImages)
{
    std::vector<TileRect> tiles;
    std::string reason;
    EXPECT_FALSE(splitTiles(100, 100, 0, 1, 0, 0, tiles, &reason));
    EXPECT_FALSE(splitTiles(100, 100, 1, 6, 0, 0, tiles, &reason));
    EXPECT_FALSE(splitTiles(100, 100, 2, 2, -1, 0, tiles, &reason));
    EXPECT_FALSE(splitTiles(3, 100, 4, 1, 0, 0, tiles, &reason));
    EXPECT_FALSE(splitTiles(0, 100, 1, 1, 0, 0, tiles, &reason));
    EXPECT_TRUE(tiles.empty());
    EXPECT_FALSE(reason.empty());
}

TEST(SplitTiles, ExtractsTheTileSamples)
{
    Image2d tile;
    ASSERT_TRUE(extractTile(threeByTwo(), { 1, 0, 2, 2 }, tile, nullptr));
    EXPECT_EQ(tile.width, 2);
    EXPECT_EQ(tile.height, 2);
    EXPECT_EQ(samplesOf(tile), (Bytes { 2, 3, 5, 6 }));
    EXPECT_FALSE(extractTile(threeByTwo(), { 2, 0, 2, 2 }, tile, nullptr));
    EXPECT_FALSE(extractTile(threeByTwo(), { -1, 0, 1, 1 }, tile, nullptr));
}
