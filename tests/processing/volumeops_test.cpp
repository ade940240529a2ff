// Volume operators and transformations between blocks made in the registry.
#include "processingtestsupport.h"

#include "processing/valueoperators.h"
#include "processing/volumeops.h"

#include <cstdint>

using namespace vexa;
using namespace vexa::processing;

namespace {

class VolumeOps : public vexa::testing::ProcessingFixture {
protected:
    // Every sample names its place: x + 10 y + 100 z.
    DataRecord* numbered(int dimX, int dimY, int dimZ, int type = TYPEDATA_U16)
    {
        DataRecord* r = volume(dimX, dimY, dimZ, type);
        fill<std::uint16_t>(r, [](int x, int y, int z) { return x + 10 * y + 100 * z; });
        return r;
    }
};

} // namespace

TEST_F(VolumeOps, UnaryWorksPerSliceAndKeepsTheResultType)
{
    DataRecord* in = volume(2, 2, 2, TYPEDATA_U8);
    // Slice 0: 1 2 3 6 (mean 3); slice 1: all 5.
    const int values[8] = { 1, 2, 3, 6, 5, 5, 5, 5 };
    fill<std::uint8_t>(in, [&](int x, int y, int z) { return values[z * 4 + y * 2 + x]; });
    DataRecord* out = volume(2, 2, 2, TYPEDATA_U8);
    ASSERT_TRUE(unaryVolume(in->blockId, out->blockId, UNARY_VARIANCE, 0));
    EXPECT_EQ(at<std::uint8_t>(out, 0, 0, 0), 4);
    EXPECT_EQ(at<std::uint8_t>(out, 1, 0, 0), 1);
    EXPECT_EQ(at<std::uint8_t>(out, 0, 1, 0), 0);
    EXPECT_EQ(at<std::uint8_t>(out, 1, 1, 0), 9);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(at<std::uint8_t>(out, i % 2, i / 2, 1), 0);

    // Results outside the type are clamped; fractions truncated.
    ASSERT_TRUE(unaryVolume(in->blockId, out->blockId, UNARY_NEGATE, 0));
    EXPECT_EQ(at<std::uint8_t>(out, 1, 1, 0), 0);
    ASSERT_TRUE(unaryVolume(in->blockId, out->blockId, UNARY_SQRT, 0));
    EXPECT_EQ(at<std::uint8_t>(out, 1, 0, 0), 1); // sqrt 2
    ASSERT_TRUE(unaryVolume(in->blockId, out->blockId, UNARY_POWER, 2));
    EXPECT_EQ(at<std::uint8_t>(out, 1, 1, 0), 36);
}

TEST_F(VolumeOps, UnaryRefusesOtherSizesAndCodes)
{
    DataRecord* in = volume(2, 2, 2, TYPEDATA_U8);
    DataRecord* other = volume(2, 2, 3, TYPEDATA_U8);
    EXPECT_FALSE(unaryVolume(in->blockId, other->blockId, UNARY_ABS, 0));
    EXPECT_FALSE(unaryVolume(in->blockId, in->blockId, 0, 0));
    EXPECT_FALSE(unaryVolume(in->blockId, 12345, UNARY_ABS, 0));
}

TEST_F(VolumeOps, BinaryAndNaryFoldInOrder)
{
    DataRecord* a = volume(3, 2, 2, TYPEDATA_S16);
    DataRecord* b = volume(3, 2, 2, TYPEDATA_U8);
    DataRecord* c = volume(3, 2, 2, TYPEDATA_F32);
    fill<std::int16_t>(a, [](int x, int, int z) { return -x - 10 * z; });
    fill<std::uint8_t>(b, [](int, int y, int) { return 2 * y + 1; });
    fill<float>(c, [](int x, int y, int z) { return 0.5f * float(x + y + z); });
    DataRecord* out = volume(3, 2, 2, TYPEDATA_F64);

    ASSERT_TRUE(binaryVolume(a->blockId, b->blockId, out->blockId, BINARY_SUBTRACT));
    EXPECT_EQ(at<double>(out, 2, 1, 1), -2 - 10 - 3);
    ASSERT_TRUE(binaryVolume(a->blockId, b->blockId, out->blockId, BINARY_EXTREMUM));
    EXPECT_EQ(at<double>(out, 0, 1, 0), 3);
    EXPECT_EQ(at<double>(out, 2, 0, 1), -12);

    ASSERT_TRUE(naryVolume({ a->blockId, b->blockId, c->blockId }, out->blockId, BINARY_ADD));
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(
                    at<double>(out, x, y, z), (-x - 10 * z) + (2 * y + 1) + 0.5 * (x + y + z));
    ASSERT_TRUE(naryVolume({ a->blockId, b->blockId, c->blockId }, out->blockId, BINARY_MAX));
    EXPECT_EQ(at<double>(out, 2, 1, 1), 3);
}

TEST_F(VolumeOps, NaryOfOneVolumeCopiesIt)
{
    DataRecord* a = numbered(3, 2, 2);
    DataRecord* out = volume(3, 2, 2, TYPEDATA_U16);
    ASSERT_TRUE(naryVolume({ a->blockId }, out->blockId, BINARY_MULTIPLY));
    EXPECT_EQ(at<std::uint16_t>(out, 2, 1, 1), 112);
    EXPECT_EQ(at<std::uint16_t>(out, 1, 0, 0), 1);
}

TEST_F(VolumeOps, NaryRefusesMismatchedSizes)
{
    DataRecord* a = volume(3, 2, 2, TYPEDATA_U8);
    DataRecord* b = volume(2, 3, 2, TYPEDATA_U8);
    DataRecord* out = volume(3, 2, 2, TYPEDATA_U8);
    EXPECT_FALSE(naryVolume({ a->blockId, b->blockId }, out->blockId, BINARY_ADD));
    EXPECT_FALSE(binaryVolume(a->blockId, b->blockId, out->blockId, BINARY_ADD));
    EXPECT_FALSE(naryVolume({}, out->blockId, BINARY_ADD));
    EXPECT_FALSE(naryVolume({ a->blockId }, out->blockId, 9));
}

TEST_F(VolumeOps, MirrorsAlongEachAxis)
{
    DataRecord* in = numbered(3, 2, 4);
    DataRecord* out = volume(3, 2, 4, TYPEDATA_U16);
    ASSERT_TRUE(mirrorVolume(in->blockId, out->blockId, MIRROR_X));
    EXPECT_EQ(at<std::uint16_t>(out, 0, 1, 3), 2 + 10 + 300);
    ASSERT_TRUE(mirrorVolume(in->blockId, out->blockId, MIRROR_Y));
    EXPECT_EQ(at<std::uint16_t>(out, 2, 0, 1), 2 + 10 + 100);
    ASSERT_TRUE(mirrorVolume(in->blockId, out->blockId, MIRROR_Z));
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(at<std::uint16_t>(out, x, y, z), x + 10 * y + 100 * (3 - z));

    DataRecord* other = volume(3, 2, 4, TYPEDATA_U8);
    EXPECT_FALSE(mirrorVolume(in->blockId, other->blockId, MIRROR_X));
    EXPECT_FALSE(mirrorVolume(in->blockId, out->blockId, MIRROR_Z + 1));
}

TEST_F(VolumeOps, RotationsMoveEverySampleAsTurnsAboutTheAxes)
{
    const int X = 4, Y = 3, Z = 2;
    DataRecord* in = numbered(X, Y, Z);
    struct Case {
        int axis, angle;
        // Where source (x, y, z) goes.
        std::function<void(int, int, int, int&, int&, int&)> to;
    };
    const Case cases[] = {
        { AXIS_OX, ANGLE_PLUS_90,
            [&](int x, int y, int z, int& a, int& b, int& c) { a = x, b = Z - 1 - z, c = y; } },
        { AXIS_OX, ANGLE_180,
            [&](int x, int y, int z, int& a, int& b, int& c) {
                a = x, b = Y - 1 - y, c = Z - 1 - z;
            } },
        { AXIS_OX, ANGLE_MINUS_90,
            [&](int x, int y, int z, int& a, int& b, int& c) { a = x, b = z, c = Y - 1 - y; } },
        { AXIS_OY, ANGLE_PLUS_90,
            [&](int x, int y, int z, int& a, int& b, int& c) { a = z, b = y, c = X - 1 - x; } },
        { AXIS_OY, ANGLE_180,
            [&](int x, int y, int z, int& a, int& b, int& c) {
                a = X - 1 - x, b = y, c = Z - 1 - z;
            } },
        { AXIS_OY, ANGLE_MINUS_90,
            [&](int x, int y, int z, int& a, int& b, int& c) { a = Z - 1 - z, b = y, c = x; } },
        { AXIS_OZ, ANGLE_PLUS_90,
            [&](int x, int y, int z, int& a, int& b, int& c) { a = Y - 1 - y, b = x, c = z; } },
        { AXIS_OZ, ANGLE_180,
            [&](int x, int y, int z, int& a, int& b, int& c) {
                a = X - 1 - x, b = Y - 1 - y, c = z;
            } },
        { AXIS_OZ, ANGLE_MINUS_90,
            [&](int x, int y, int z, int& a, int& b, int& c) { a = y, b = X - 1 - x, c = z; } },
    };
    for (const Case& c : cases) {
        int rx = 0, ry = 0, rz = 0;
        ASSERT_TRUE(rotatedVolumeSizes(c.axis, c.angle, X, Y, Z, rx, ry, rz));
        DataRecord* out = volume(rx, ry, rz, TYPEDATA_U16);
        ASSERT_TRUE(rotateVolume(in->blockId, out->blockId, c.axis, c.angle)) << c.axis << c.angle;
        for (int z = 0; z < Z; ++z)
            for (int y = 0; y < Y; ++y)
                for (int x = 0; x < X; ++x) {
                    int a, b, d;
                    c.to(x, y, z, a, b, d);
                    ASSERT_TRUE(a >= 0 && a < rx && b >= 0 && b < ry && d >= 0 && d < rz);
                    EXPECT_EQ(at<std::uint16_t>(out, a, b, d), x + 10 * y + 100 * z)
                        << "axis " << c.axis << " angle " << c.angle << " at " << x << y << z;
                }
    }
}

TEST_F(VolumeOps, RotationsRefuseColourAndWrongResults)
{
    DataRecord* rgba = volume(2, 2, 2, TYPEDATA_RGBA);
    DataRecord* out = volume(2, 2, 2, TYPEDATA_RGBA);
    EXPECT_FALSE(rotateVolume(rgba->blockId, out->blockId, AXIS_OZ, ANGLE_180));
    DataRecord* in = numbered(4, 3, 2);
    DataRecord* wrong = volume(4, 3, 2, TYPEDATA_U16);
    EXPECT_FALSE(rotateVolume(in->blockId, wrong->blockId, AXIS_OZ, ANGLE_PLUS_90));
    int a, b, c;
    EXPECT_FALSE(rotatedVolumeSizes(3, 0, 1, 1, 1, a, b, c));
    EXPECT_FALSE(rotatedVolumeSizes(0, 3, 1, 1, 1, a, b, c));
    EXPECT_FALSE(rotateVolume(in->blockId, wrong->blockId, AXIS_OX, -1));
}

TEST_F(VolumeOps, DecimationAveragesBlocksAndDropsTheRest)
{
    DataRecord* in = volume(5, 5, 3, TYPEDATA_F32);
    fill<float>(in, [](int x, int y, int z) { return float(x + 10 * y + 100 * z); });
    VolumeInfo source, sizes;
    ASSERT_TRUE(volumeInfo(in->blockId, source));
    ASSERT_TRUE(decimatedVolumeSizes(source, 2, 2, 2, sizes, nullptr));
    EXPECT_EQ(sizes.dimX, 2);
    EXPECT_EQ(sizes.dimY, 2);
    EXPECT_EQ(sizes.dimZ, 1);
    DataRecord* out = volume(2, 2, 1, TYPEDATA_F32);
    ASSERT_TRUE(decimateVolume(in->blockId, out->blockId, 2, 2, 2));
    // Mean of x in {0,1}, y in {0,1}, z in {0,1}: 0.5 + 5 + 50.
    EXPECT_FLOAT_EQ(at<float>(out, 0, 0, 0), 55.5f);
    EXPECT_FLOAT_EQ(at<float>(out, 1, 1, 0), 55.5f + 2 + 20);

    DataRecord* u8 = volume(2, 1, 1, TYPEDATA_U8);
    fill<std::uint8_t>(u8, [](int x, int, int) { return x == 0 ? 2 : 5; });
    DataRecord* one = volume(1, 1, 1, TYPEDATA_U8);
    ASSERT_TRUE(decimateVolume(u8->blockId, one->blockId, 2, 1, 1));
    EXPECT_EQ(at<std::uint8_t>(one, 0, 0, 0), 3); // 3.5 truncated
}

TEST_F(VolumeOps, DecimationRefusesZeroAndOversizedFactors)
{
    VolumeInfo source { 4, 4, 4, TYPEDATA_U8 }, sizes;
    std::string reason;
    EXPECT_FALSE(decimatedVolumeSizes(source, 0, 2, 2, sizes, &reason));
    EXPECT_FALSE(decimatedVolumeSizes(source, 2, -1, 2, sizes, &reason));
    EXPECT_FALSE(decimatedVolumeSizes(source, 2, 2, 5, sizes, &reason));
    EXPECT_FALSE(reason.empty());
    DataRecord* in = volume(4, 4, 4, TYPEDATA_U8);
    DataRecord* out = volume(2, 2, 2, TYPEDATA_U8);
    EXPECT_FALSE(decimateVolume(in->blockId, out->blockId, 0, 2, 2));
    EXPECT_FALSE(decimateVolume(in->blockId, out->blockId, 3, 3, 3));
}
