#include "vexamem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

TEST(VexaMemOp, CombinationsSaturateToTheDestinationType)
{
    const std::int16_t s16 = 30000;
    std::uint8_t u8 = 100;
    vexaMemOp(&s16, TYPEDATA_S16, 1, 1, 0, 0, 1, 1, &u8, TYPEDATA_U8, 1, 1, 0, 0, VEXAMEM_OP_ADD);
    EXPECT_EQ(u8, 255);

    const double half = 0.5;
    u8 = 3;
    vexaMemOp(
        &half, TYPEDATA_F64, 1, 1, 0, 0, 1, 1, &u8, TYPEDATA_U8, 1, 1, 0, 0, VEXAMEM_OP_MULTIPLY);
    EXPECT_EQ(u8, 1);

    const std::int8_t s8 = -4;
    std::uint16_t u16 = 7;
    vexaMemOp(&s8, TYPEDATA_S8, 1, 1, 0, 0, 1, 1, &u16, TYPEDATA_U16, 1, 1, 0, 0, VEXAMEM_OP_MIN);
    EXPECT_EQ(u16, 0);

    u16 = 7;
    vexaMemOp(&s8, TYPEDATA_S8, 1, 1, 0, 0, 1, 1, &u16, TYPEDATA_U16, 1, 1, 0, 0, VEXAMEM_OP_MAX);
    EXPECT_EQ(u16, 7);
}

TEST(VexaMemOp, PasteConvertsIntoExactlyTheTargetRectangle)
{
    const float src[4] = { 1.9f, 1.9f, 1.9f, 1.9f };
    std::int32_t dst[16] = {};
    vexaMemOp(src, TYPEDATA_F32, 2, 2, 0, 0, 2, 2, dst, TYPEDATA_S32, 4, 4, 1, 1, VEXAMEM_OP_PASTE);
    const std::int32_t expected[16] = { 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 0 };
    EXPECT_EQ(std::memcmp(dst, expected, sizeof dst), 0);
}

TEST(VexaMemOp, SameTypePasteMovesSamplesBetweenRectangles)
{
    // 5 x 4 source, the 3 x 2 rectangle at (1, 2) into a 4 x 3 destination at (0, 1).
    std::vector<double> src(20);
    for (int i = 0; i < 20; ++i)
        src[static_cast<std::size_t>(i)] = i;
    std::vector<double> dst(12, -1);
    vexaMemOp(src.data(), TYPEDATA_F64, 5, 4, 1, 2, 3, 2, dst.data(), TYPEDATA_F64, 4, 3, 0, 1,
        VEXAMEM_OP_PASTE);
    EXPECT_EQ(dst, (std::vector<double> { -1, -1, -1, -1, 11, 12, 13, -1, 16, 17, 18, -1 }));
}

TEST(VexaMemOp, PastesIntoAPlaneOfAVolume)
{
    // A 3 x 2 x 3 volume of U16; the plane pointer is advanced by the caller.
    std::vector<std::uint16_t> volume(18, 0);
    const std::uint8_t image[6] = { 1, 2, 3, 4, 5, 6 };
    vexaMemOp(image, TYPEDATA_U8, 3, 2, 0, 0, 3, 2, volume.data() + 2 * 6, TYPEDATA_U16, 3, 2, 0, 0,
        VEXAMEM_OP_PASTE);
    EXPECT_EQ(std::vector<std::uint16_t>(volume.begin(), volume.begin() + 12),
        std::vector<std::uint16_t>(12, 0));
    EXPECT_EQ(std::vector<std::uint16_t>(volume.begin() + 12, volume.end()),
        (std::vector<std::uint16_t> { 1, 2, 3, 4, 5, 6 }));
}

TEST(VexaMemOp, RectangleCombinationsMatchSampleByCombination)
{
    const std::int16_t src[6] = { -300, 10, 200, 5, 40, 1000 };
    for (int op : { VEXAMEM_OP_ADD, VEXAMEM_OP_MULTIPLY, VEXAMEM_OP_MIN, VEXAMEM_OP_MAX }) {
        std::uint8_t dst[9] = { 9, 9, 9, 9, 100, 0, 9, 250, 3 };
        // The 2 x 2 rectangle at (1, 0) of the 3 x 2 source onto (1, 1) of a 3 x 3 destination.
        vexaMemOp(src, TYPEDATA_S16, 3, 2, 1, 0, 2, 2, dst, TYPEDATA_U8, 3, 3, 1, 1, op);
        const double s[4] = { 10, 200, 40, 1000 };
        const double d[4] = { 100, 0, 250, 3 };
        const int at[4] = { 4, 5, 7, 8 };
        for (int k = 0; k < 4; ++k) {
            double v = op == VEXAMEM_OP_ADD ? d[k] + s[k]
                : op == VEXAMEM_OP_MULTIPLY ? d[k] * s[k]
                : op == VEXAMEM_OP_MIN      ? std::min(d[k], s[k])
                                            : std::max(d[k], s[k]);
            EXPECT_EQ(dst[at[k]], v > 255 ? 255 : static_cast<int>(v)) << "op " << op << " k " << k;
        }
        for (int untouched : { 0, 1, 2, 3, 6 })
            EXPECT_EQ(dst[untouched], 9);
    }
}

TEST(VexaMemOp, UnknownCodesPasteTheSourceAnd99DoesNothing)
{
    const double src[2] = { -7.9, 300.5 };
    std::int8_t dst[2] = { 1, 2 };
    vexaMemOp(src, TYPEDATA_F64, 2, 1, 0, 0, 2, 1, dst, TYPEDATA_S8, 2, 1, 0, 0, 42);
    EXPECT_EQ(dst[0], -7);
    EXPECT_EQ(dst[1], 127);

    std::vector<unsigned char> before(64, 0x5A), after = before;
    vexaMemOp(src, TYPEDATA_F64, 2, 1, 0, 0, 2, 1, after.data(), TYPEDATA_U8, 8, 8, 0, 0,
        VEXAMEM_OP_NONE);
    // 99 returns before looking at anything, even null pointers.
    vexaMemOp(nullptr, 0, -1, -1, -5, -5, 1000, 1000, nullptr, 0, 0, 0, 0, 0, VEXAMEM_OP_NONE);
    EXPECT_EQ(after, before);
}

TEST(VexaMemOp, ColourPixelsCopyButCombineToZero)
{
    const std::uint32_t src[2] = { 0x01020304u, 0xA0B0C0D0u };
    std::uint32_t dst[2] = { 5, 6 };
    vexaMemOp(
        src, TYPEDATA_RGBA, 2, 1, 0, 0, 2, 1, dst, TYPEDATA_RGBA, 2, 1, 0, 0, VEXAMEM_OP_PASTE);
    EXPECT_EQ(dst[0], src[0]);
    EXPECT_EQ(dst[1], src[1]);
    vexaMemOp(src, TYPEDATA_RGBA, 2, 1, 0, 0, 2, 1, dst, TYPEDATA_RGBA, 2, 1, 0, 0, VEXAMEM_OP_MAX);
    EXPECT_EQ(dst[0], 0u);
    EXPECT_EQ(dst[1], 0u);

    // RGBA reads as 0 into numeric destinations.
    std::int16_t s16[2] = { -5, 5 };
    vexaMemOp(src, TYPEDATA_RGBA, 2, 1, 0, 0, 2, 1, s16, TYPEDATA_S16, 2, 1, 0, 0, VEXAMEM_OP_MAX);
    EXPECT_EQ(s16[0], 0);
    EXPECT_EQ(s16[1], 5);
}

TEST(VexaMemOp, RectanglesOutsideTheirArraysAreRefused)
{
    const std::uint8_t src[4] = { 1, 2, 3, 4 };
    std::uint8_t dst[4] = { 0, 0, 0, 0 };
    vexaMemOp(src, TYPEDATA_U8, 2, 2, 1, 0, 2, 1, dst, TYPEDATA_U8, 2, 2, 0, 0, VEXAMEM_OP_PASTE);
    vexaMemOp(src, TYPEDATA_U8, 2, 2, 0, 0, 2, 2, dst, TYPEDATA_U8, 2, 2, 0, 1, VEXAMEM_OP_ADD);
    vexaMemOp(src, TYPEDATA_U8, 2, 2, -1, 0, 1, 1, dst, TYPEDATA_U8, 2, 2, 0, 0, VEXAMEM_OP_PASTE);
    vexaMemOp(src, TYPEDATA_U8, 2, 2, 0, 0, 0, 1, dst, TYPEDATA_U8, 2, 2, 0, 0, VEXAMEM_OP_PASTE);
    vexaMemOp(
        nullptr, TYPEDATA_U8, 2, 2, 0, 0, 1, 1, dst, TYPEDATA_U8, 2, 2, 0, 0, VEXAMEM_OP_PASTE);
    EXPECT_EQ(std::vector<std::uint8_t>(dst, dst + 4), std::vector<std::uint8_t>(4, 0));
}

TEST(VexaMemOp, InvalidTypesPasteZeros)
{
    std::vector<unsigned char> src(4 * 3, 0x77);
    std::int32_t dst[4] = { 1, 2, 3, 4 };
    vexaMemOp(src.data(), 0, 2, 2, 0, 0, 2, 1, dst, TYPEDATA_S32, 2, 2, 0, 1, VEXAMEM_OP_PASTE);
    EXPECT_EQ(std::vector<std::int32_t>(dst, dst + 4), (std::vector<std::int32_t> { 1, 2, 0, 0 }));

    // Same invalid type on both sides: three-byte units are copied.
    std::vector<unsigned char> other(4 * 3, 0);
    vexaMemOp(src.data(), 12, 2, 2, 0, 0, 2, 2, other.data(), 12, 2, 2, 0, 0, VEXAMEM_OP_PASTE);
    EXPECT_EQ(other, src);
}

} // namespace
