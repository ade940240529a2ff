#include "views/readouts.h"

#include "vexa_types.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace vexa;

TEST(StatusTexts, ShortTypeCodes)
{
    EXPECT_STREQ(shortTypeCode(TYPEDATA_U8), "8BNS");
    EXPECT_STREQ(shortTypeCode(TYPEDATA_S16), "16BS");
    EXPECT_STREQ(shortTypeCode(TYPEDATA_U32), "32BNS");
    EXPECT_STREQ(shortTypeCode(TYPEDATA_F64), "F64");
    EXPECT_STREQ(shortTypeCode(TYPEDATA_RGBA), "RGBA");
    EXPECT_STREQ(shortTypeCode(0), "");
}

TEST(StatusTexts, CursorAndVolumePositions)
{
    EXPECT_EQ(cursorText(3, 7, 100, 50), "X=00003  Y=00007  (-00096,-00042)");
    EXPECT_EQ(volumeText(1, 22, 333), "x=00001  y=00022  z=00333");
}

TEST(StatusTexts, SizeUnits)
{
    EXPECT_EQ(sizeText(1000), "1000 o");
    EXPECT_EQ(sizeText(1023), "1023 o");
    EXPECT_EQ(sizeText(1024), "1 Ko");
    EXPECT_EQ(sizeText(512 * 512 * 2), "512 Ko");
    EXPECT_EQ(sizeText(1048576), "1 Mo");
    EXPECT_EQ(sizeText(std::int64_t(2048) * 2048 * 2048 * 8), "65536 Mo");
}

TEST(ValueReadout, ShowsValueAndScaledValue)
{
    const std::vector<std::int16_t> samples = { -3, 40 };
    ReadoutSource s { samples.data(), 2, 1, TYPEDATA_S16, 0.5, 1, false, 0, 0 };
    EXPECT_EQ(valueReadout(s, 1, 0), "40 (21)");
    s.scaleOn = true;
    EXPECT_EQ(valueReadout(s, 0, 0), "-0.5 (-0.5)");
}

TEST(ValueReadout, UnsignedThirtyTwoBitStaysPositive)
{
    const std::vector<std::uint32_t> samples = { 3000000000u };
    ReadoutSource s { samples.data(), 1, 1, TYPEDATA_U32, 1, 0, false, 0, 0 };
    EXPECT_EQ(valueReadout(s, 0, 0), "3000000000 (3000000000)");
}

TEST(ValueReadout, RgbaShowsItsFourBytes)
{
    const std::vector<std::uint8_t> samples = { 1, 2, 3, 4 };
    ReadoutSource s { samples.data(), 1, 1, TYPEDATA_RGBA, 2, 5, true, 0, 0 };
    EXPECT_EQ(valueReadout(s, 0, 0), "(1,2,3,4)");
}

TEST(ValueReadout, DirectionPalettesShowDegreesOrNeant)
{
    const std::vector<double> samples = { 2.0, 1.0, -3.0 };
    ReadoutSource s { samples.data(), 3, 1, TYPEDATA_F64, 1, 0, false, 3, 2 };
    EXPECT_EQ(valueReadout(s, 0, 0), "2 [NEANT]");
    EXPECT_EQ(valueReadout(s, 1, 0), "1 [57.296 Deg]");
    // Other value kinds accept the whole circle.
    s.valueClass = 4;
    EXPECT_EQ(valueReadout(s, 0, 0), "2 [114.59 Deg]");
    EXPECT_EQ(valueReadout(s, 2, 0), "-3 [-171.89 Deg]");
    s.paletteFamily = 1;
    EXPECT_EQ(valueReadout(s, 1, 0), "1 (1)");
}

TEST(ValueReadout, CursorOutsideTheImageLeavesItEmpty)
{
    const std::vector<std::uint8_t> samples = { 1, 2, 3, 4 };
    ReadoutSource s { samples.data(), 2, 2, TYPEDATA_U8, 1, 0, false, 0, 0 };
    EXPECT_EQ(valueReadout(s, -1, 0), "");
    EXPECT_EQ(valueReadout(s, 2, 0), "");
    EXPECT_EQ(valueReadout(s, 0, 2), "");
    EXPECT_EQ(valueReadout(s, 1, 1), "4 (4)");
}

TEST(InformationWindow, PlainImageLines)
{
    InfoSource info;
    info.width = 512;
    info.height = 512;
    info.type = TYPEDATA_S16;
    info.visibleW = 256;
    info.visibleH = 128;
    info.zoomX = 0.25;
    info.zoomY = 2.0;
    const std::vector<std::string> expected = { "Dimensions", "  2D : 512x512 (512 Ko en mémoire)",
        "", "Format numérique", "  Entiers 16 bits signés", "", "Partie visible",
        "  Surface 256x128", "  Grandissements [1:4]x[2:1]" };
    EXPECT_EQ(infoLines(info), expected);
}

TEST(InformationWindow, BlockLinesAndComputingTime)
{
    InfoSource info;
    info.width = 100;
    info.height = 50;
    info.type = TYPEDATA_F32;
    info.hasBlock = true;
    info.dimX = 100;
    info.dimY = 50;
    info.dimZ = 400;
    info.blockType = TYPEDATA_F32;
    info.blockInFile = true;
    info.blockTime = 1.23456;
    std::vector<std::string> lines = infoLines(info);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], "  3D : 100x50x400 (8 Mo sur fichier)");
    EXPECT_EQ(lines.back(), "Durée de calcul : 1.235s");
    info.blockInFile = false;
    info.imageTime = 0.5;
    lines = infoLines(info);
    EXPECT_EQ(lines[2], "  3D : 100x50x400 (8 Mo en mémoire)");
    EXPECT_EQ(lines.back(), "Durée de calcul : 0.500s");
    info.imageTime = info.blockTime = 0;
    EXPECT_EQ(infoLines(info).back().rfind("  Grandissements", 0), 0u);
}
