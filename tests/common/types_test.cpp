#include "vexa_types.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

extern "C" int vexaTypesFromC(int type);

TEST(SampleTypes, ElementSizeFollowsTheCodeAndIsThreeForUnknownCodes)
{
    EXPECT_EQ(vexaTypeSize(0), 3);
    EXPECT_EQ(vexaTypeSize(10), 3);
    EXPECT_EQ(vexaTypeSize(-1), 3);
    EXPECT_EQ(vexaTypeSize(TYPEDATA_RGBA), 4);
    EXPECT_EQ(vexaTypeSize(TYPEDATA_F64), 8);
    const int expected[10] = { 3, 1, 1, 8, 4, 2, 4, 4, 2, 4 };
    for (int code = 0; code <= 9; ++code) {
        EXPECT_EQ(vexaTypeSize(code), expected[code]) << code;
        EXPECT_EQ(vexaTypeBits(code), 8 * expected[code]) << code;
    }
}

TEST(SampleTypes, OnlySignedIntegersCarryTheSignFlag)
{
    for (int code = 0; code <= 10; ++code) {
        bool isSigned = code == TYPEDATA_S8 || code == TYPEDATA_S16 || code == TYPEDATA_S32;
        EXPECT_EQ(vexaTypeSign(code), isSigned ? 1 : 0) << code;
    }
}

TEST(SampleTypes, TypeListOrderMapsPositionsToCodes)
{
    EXPECT_EQ(vexaTypeListOrder[2], TYPEDATA_U16);
    EXPECT_EQ(vexaTypeListOrder[6], TYPEDATA_F32);
    for (int pos = 0; pos < VEXA_TYPE_COUNT; ++pos)
        EXPECT_EQ(vexaTypeListPosition(vexaTypeListOrder[pos]), pos);
    EXPECT_EQ(vexaTypeListPosition(0), -1);
}

TEST(SampleTypes, LabelsFollowTheCodeAndUnknownCodesShowTheColourLine)
{
    EXPECT_STREQ(vexaTypeSaveLabel(TYPEDATA_RGBA), "24 bits - RGB");
    EXPECT_STREQ(vexaTypeParamLabel(TYPEDATA_U16), "Entier 16 Bits Non Signé");
    EXPECT_STREQ(vexaTypeInfoLabel(TYPEDATA_F64), "  Réels 64 bits");
    EXPECT_STREQ(vexaTypeInfoLabel(42), "  Couleur 32 bits (R,G,B et A)");
}

TEST(SampleTypes, ByteOffsetOfASampleInABlock)
{
    // Sample (1, 2, 3) of a 4 x 5 x 6 block is element 69 (x fastest, then y, then z).
    // Its byte offset in a block of each type, worked out by hand.
    const struct {
        int type;
        std::int64_t offset;
    } cases[] = { { TYPEDATA_U8, 69 }, { TYPEDATA_S8, 69 }, { TYPEDATA_S16, 138 },
        { TYPEDATA_U16, 138 }, { TYPEDATA_S32, 276 }, { TYPEDATA_U32, 276 }, { TYPEDATA_F32, 276 },
        { TYPEDATA_RGBA, 276 }, { TYPEDATA_F64, 552 } };
    for (const auto& c : cases)
        EXPECT_EQ(69 * std::int64_t(vexaTypeSize(c.type)), c.offset) << c.type;
}

TEST(SampleTypes, HeaderIsUsableFromC)
{
    EXPECT_EQ(vexaTypesFromC(TYPEDATA_S16), 102);
    EXPECT_EQ(vexaTypesFromC(TYPEDATA_U32), 4);
}
