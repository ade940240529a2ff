#include "datatest_util.h"

#include <array>
#include <cstring>

using namespace vexa;
using datatest::asDoubles;
using datatest::coordinateCode;

namespace {

enum class Storage { Memory, File, FileWithCompanions };

// A 10 x 20 x 30 S32 block holding coordinateCode(x, y, z), stored as the parameter
// says. Companions are written from the memory block's own sections.
class SectionGeometry : public datatest::RegistryTest,
                        public ::testing::WithParamInterface<Storage> {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        memory = datatest::memoryBlock(10, 20, 30, TYPEDATA_S32, coordinateCode);
        ASSERT_NE(memory, nullptr);
        if (GetParam() == Storage::Memory) {
            block = memory;
            return;
        }
        std::string name = dir.file(GetParam() == Storage::File ? "vol.gdr" : "volxy.gdr");
        if (GetParam() == Storage::FileWithCompanions) {
            writeCompanion(dir.file("volxz.gdr"), PLANE_TOP, 10, 30, 20);
            writeCompanion(dir.file("volyz.gdr"), PLANE_RIGHT, 30, 20, 10);
        }
        block = datatest::fileBlockFrom(memory, name);
        ASSERT_NE(block, nullptr);
        if (GetParam() == Storage::FileWithCompanions) {
            ASSERT_TRUE(block->block()->topFile);
            ASSERT_TRUE(block->block()->rightFile);
        }
    }

    // FRONT k of the x-z companion is TOP k; FRONT k of the y-z one is RIGHT dimX-1-k.
    void writeCompanion(const std::string& path, int plane, int w, int h, int d)
    {
        FileDescriptor* f = vexaFileNew();
        vexaFileSetFullName(f, path.c_str());
        vexaFileSetSizes(f, w, h, d);
        vexaFileSetTypeData(f, TYPEDATA_S32);
        vexaFileSetHeader(f, 1);
        ASSERT_EQ(vexaFileWriteHeader(f), 1);
        for (int k = 0; k < d; ++k) {
            int index = plane == PLANE_RIGHT ? 10 - 1 - k : k;
            void* s = readSection(*memory->block(), false, -1, plane, index, 0, 0, w - 1, h - 1);
            // Marks companion samples so that a test sees where a section came from.
            for (int i = 0; i < w * h; ++i)
                static_cast<std::int32_t*>(s)[i] += 1000000;
            vexaFileWriteImage(f, s, 0, k);
            std::free(s);
        }
        vexaFileRelease(f);
    }

    double expected(int x, int y, int z, int plane) const
    {
        double v = coordinateCode(x, y, z);
        bool fromCompanion = GetParam() == Storage::FileWithCompanions && plane != PLANE_FRONT;
        return fromCompanion ? v + 1000000 : v;
    }

    datatest::TempDir dir;
    DataRecord* memory = nullptr;
    DataRecord* block = nullptr;
};

} // namespace

TEST_P(SectionGeometry, FrontIsXByY)
{
    void* s = dozDataGetFront(block->blockId, 7, TYPEDATA_F64);
    auto v = asDoubles(s, 10 * 20, TYPEDATA_F64);
    dozDataFree(s);
    ASSERT_EQ(v.size(), 200u);
    EXPECT_EQ(v[0], expected(0, 0, 7, PLANE_FRONT));
    EXPECT_EQ(v[3 * 10 + 9], expected(9, 3, 7, PLANE_FRONT));
}

TEST_P(SectionGeometry, RightIsZByY)
{
    void* s = dozDataGetRight(block->blockId, 3, TYPEDATA_S32);
    auto v = asDoubles(s, 30 * 20, TYPEDATA_S32);
    dozDataFree(s);
    ASSERT_EQ(v.size(), 600u);
    for (int y : { 0, 5, 19 })
        for (int z : { 0, 11, 29 })
            EXPECT_EQ(v[y * 30 + z], expected(3, y, z, PLANE_RIGHT)) << y << " " << z;
}

TEST_P(SectionGeometry, TopRowsRunFromTheLastZ)
{
    void* s = dozDataGetTop(block->blockId, 5, TYPEDATA_S32);
    auto v = asDoubles(s, 10 * 30, TYPEDATA_S32);
    dozDataFree(s);
    ASSERT_EQ(v.size(), 300u);
    EXPECT_EQ(v[0], expected(0, 5, 29, PLANE_TOP));
    EXPECT_EQ(v[29 * 10 + 4], expected(4, 5, 0, PLANE_TOP));
}

TEST_P(SectionGeometry, PartialRectanglesKeepZerosOutside)
{
    // 4 x 3 at (8, 18) of FRONT 2: columns 8, 9 and rows 18, 19 inside.
    void* s = dozDataGetPartialFront(block->blockId, 2, TYPEDATA_F64, 8, 18, 4, 3);
    auto v = asDoubles(s, 12, TYPEDATA_F64);
    dozDataFree(s);
    ASSERT_EQ(v.size(), 12u);
    EXPECT_EQ(v[0], expected(8, 18, 2, PLANE_FRONT));
    EXPECT_EQ(v[1 * 4 + 1], expected(9, 19, 2, PLANE_FRONT));
    EXPECT_EQ(v[2], 0);
    EXPECT_EQ(v[2 * 4 + 0], 0);

    s = dozDataGetPartialRight(block->blockId, 4, TYPEDATA_F64, -1, 0, 3, 2);
    v = asDoubles(s, 6, TYPEDATA_F64);
    dozDataFree(s);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], expected(4, 0, 0, PLANE_RIGHT));
    EXPECT_EQ(v[3 + 2], expected(4, 1, 1, PLANE_RIGHT));

    s = dozDataGetPartialTop(block->blockId, 6, TYPEDATA_F64, 2, 1, 2, 2);
    v = asDoubles(s, 4, TYPEDATA_F64);
    dozDataFree(s);
    EXPECT_EQ(v[0], expected(2, 6, 28, PLANE_TOP));
    EXPECT_EQ(v[3], expected(3, 6, 27, PLANE_TOP));
}

TEST_P(SectionGeometry, IndexOutsideGivesZeros)
{
    for (auto [plane, index] : { std::pair { 0, 30 }, { 1, -1 }, { 2, 20 } }) {
        void* s = plane == 0 ? dozDataGetFront(block->blockId, index, TYPEDATA_U8)
            : plane == 1     ? dozDataGetRight(block->blockId, index, TYPEDATA_U8)
                             : dozDataGetTop(block->blockId, index, TYPEDATA_U8);
        ASSERT_NE(s, nullptr);
        int w = 0, h = 0;
        sectionSize(*block->block(), plane, w, h);
        std::vector<std::uint8_t> zeros(std::size_t(w) * h, 0);
        EXPECT_EQ(std::memcmp(s, zeros.data(), zeros.size()), 0);
        dozDataFree(s);
    }
}

TEST_P(SectionGeometry, DiagonalsFollowTheirPoints)
{
    int w = 0, h = 0;
    void* s = dozDataGetImageSONE(block->blockId, 3, TYPEDATA_F64, &w, &h);
    ASSERT_EQ(w, 7); // (3,0) .. (9,6)
    ASSERT_EQ(h, 20);
    auto v = asDoubles(s, w * h, TYPEDATA_F64);
    dozDataFree(s);
    EXPECT_EQ(v[0], expected(3, 0, 0, PLANE_FRONT));
    EXPECT_EQ(v[19 * 7 + 6], expected(9, 19, 6, PLANE_FRONT));

    s = dozDataGetImageNOSE(block->blockId, -4, TYPEDATA_F64, &w, &h);
    ASSERT_EQ(w, 5); // (0,4) .. (4,0)
    v = asDoubles(s, w * h, TYPEDATA_F64);
    dozDataFree(s);
    EXPECT_EQ(v[0], expected(0, 0, 4, PLANE_FRONT));
    EXPECT_EQ(v[4], expected(4, 0, 0, PLANE_FRONT));

    EXPECT_EQ(dozDataGetImageSONE(block->blockId, 10, TYPEDATA_F64, &w, &h), nullptr);
    EXPECT_EQ(w, 0);
}

TEST_P(SectionGeometry, WritesReadBackInEveryPlane)
{
    std::vector<std::int32_t> right(30 * 20), top(10 * 30);
    for (std::size_t i = 0; i < right.size(); ++i)
        right[i] = -int(i);
    for (std::size_t i = 0; i < top.size(); ++i)
        top[i] = 5000 + int(i);
    ASSERT_EQ(dozDataSetRight(block->blockId, 6, right.data()), 1);
    auto* r = static_cast<std::int32_t*>(dozDataGetRight(block->blockId, 6, TYPEDATA_S32));
    EXPECT_EQ(std::memcmp(r, right.data(), right.size() * 4), 0);
    dozDataFree(r);

    ASSERT_EQ(dozDataSetTop(block->blockId, 2, top.data()), 1);
    auto* t = static_cast<std::int32_t*>(dozDataGetTop(block->blockId, 2, TYPEDATA_S32));
    EXPECT_EQ(std::memcmp(t, top.data(), top.size() * 4), 0);
    dozDataFree(t);
    // TOP row 0 went to the last plane.
    auto* f = static_cast<std::int32_t*>(dozDataGetFront(block->blockId, 29, TYPEDATA_S32));
    EXPECT_EQ(f[2 * 10 + 0], 5000);
    dozDataFree(f);
}

INSTANTIATE_TEST_SUITE_P(Storages, SectionGeometry,
    ::testing::Values(Storage::Memory, Storage::File, Storage::FileWithCompanions));

using SectionPaths = datatest::RegistryTest;

TEST_F(SectionPaths, DiagonalStartRules)
{
    auto sone = [](int p) { return pathPoints(10, 5, p, kSoneDx, kSoneDz, 1); };
    auto nose = [](int p) { return pathPoints(10, 5, p, kNoseDx, kNoseDz, 1); };
    auto a = sone(3);
    ASSERT_EQ(a.size(), 5u);
    EXPECT_EQ(a.front().x, 3);
    EXPECT_EQ(a.back().x, 7);
    EXPECT_EQ(a.back().z, 4);
    auto b = sone(-2);
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b.front().z, 2);
    auto c = nose(-4);
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c.front().x, 0);
    EXPECT_EQ(c.front().z, 4);
    auto d = nose(-12);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.front().x, 8);
    EXPECT_EQ(d.front().z, 4);
    EXPECT_TRUE(nose(2).empty());
}

TEST_F(SectionPaths, NegativeXPatternsStartOnTheLastColumn)
{
    const int dx[] = { -1 }, dz[] = { 1 };
    auto a = pathPoints(10, 5, 2, dx, dz, 1); // rule 3, P < dimX - 1
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.front().x, 9);
    EXPECT_EQ(a.front().z, 0);
    auto b = pathPoints(10, 5, 11, dx, dz, 1); // P - dimX + 1 = 2
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(b.front().z, 2);

    const int ex[] = { -1 }, ez[] = { -1 };
    auto c = pathPoints(10, 5, 0, ex, ez, 1); // rule 4, middle case
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c.front().x, 9);
    EXPECT_EQ(c.front().z, 4);
    auto d = pathPoints(10, 5, -6, ex, ez, 1); // 1 - dimZ >= P: x = 9 - 6 + 4 = 7
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d.front().x, 7);
}

TEST_F(SectionPaths, PatternSignsComeFromItsEnds)
{
    // Two steps: signs of dx[1] - dx[0] and dz[1] - dz[0], here (+, -).
    const int dx[] = { 0, 1 }, dz[] = { 0, -1 };
    auto a = pathPoints(10, 5, -3, dx, dz, 2);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a[0].x, 0);
    EXPECT_EQ(a[0].z, 3);
    EXPECT_EQ(a[1].x, 0); // step 0 stands still
    EXPECT_EQ(a[2].x, 1);
}

TEST_F(SectionPaths, PatternThatNeverLeavesIsCut)
{
    // Starts at (2, 0), then steps 0, -1, +1 on x: it never leaves the block.
    const int dx[] = { 0, -1, 1 }, dz[] = { 0, 0, 0 };
    auto a = pathPoints(4, 3, 2, dx, dz, 3);
    EXPECT_EQ(a.size(), 12u);
    const int zero[] = { 0 };
    EXPECT_EQ(pathPoints(4, 3, 0, zero, zero, 1).size(), 12u);
    EXPECT_TRUE(pathPoints(4, 3, 0, dx, dz, 0).empty());
    EXPECT_TRUE(pathPoints(4, 3, 0, nullptr, dz, 3).empty());
}

TEST_F(SectionPaths, GeneralPatternReadMatchesTheDiagonal)
{
    DataRecord* b = datatest::memoryBlock(6, 3, 4, TYPEDATA_U8, coordinateCode);
    const int dx[] = { 1 }, dz[] = { 1 };
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    void* a = dozDataGetImageFromTopPatch(b->blockId, 1, TYPEDATA_U8, dx, dz, 1, &w1, &h1);
    void* s = dozDataGetImageSONE(b->blockId, 1, TYPEDATA_U8, &w2, &h2);
    ASSERT_EQ(w1, w2);
    ASSERT_EQ(h1, 3);
    EXPECT_EQ(std::memcmp(a, s, std::size_t(w1) * h1), 0);
    dozDataFree(a);
    dozDataFree(s);
}

using SectionWrites = datatest::RegistryTest;

TEST_F(SectionWrites, PartialFrontIsClippedToTheSection)
{
    DataRecord* b = datatest::memoryBlock(20, 20, 2, TYPEDATA_U8, [](int, int, int) { return 0; });
    std::vector<std::uint8_t> data(100, 7);
    ASSERT_EQ(dozDataSetPartialFront(b->blockId, 1, -5, -5, data.data(), 10, 10), 1);
    auto* f = static_cast<std::uint8_t*>(dozDataGetFront(b->blockId, 1, TYPEDATA_U8));
    int written = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            written += f[y * 20 + x] == 7 ? 1 : 0;
    EXPECT_EQ(written, 25);
    EXPECT_EQ(f[4 * 20 + 4], 7);
    EXPECT_EQ(f[5 * 20 + 5], 0);
    dozDataFree(f);
    // Not meeting the section at all, or outside its depth: nothing.
    EXPECT_EQ(dozDataSetPartialFront(b->blockId, 1, 30, 0, data.data(), 10, 10), 0);
    EXPECT_EQ(dozDataSetPartialFront(b->blockId, 2, 0, 0, data.data(), 10, 10), 0);
}

TEST_F(SectionWrites, RightAndTopRectanglesMustLieInside)
{
    DataRecord* b = datatest::memoryBlock(20, 20, 20, TYPEDATA_U8, [](int, int, int) { return 0; });
    std::vector<std::uint8_t> data(100, 7);
    EXPECT_EQ(dozDataSetPartialRight(b->blockId, 3, -5, -5, data.data(), 10, 10), 0);
    EXPECT_EQ(dozDataSetPartialTop(b->blockId, 3, 15, 0, data.data(), 10, 10), 0);
    EXPECT_EQ(dozDataSetPartialTop(b->blockId, 20, 0, 0, data.data(), 10, 10), 0);
    auto* r = static_cast<std::uint8_t*>(dozDataGetRight(b->blockId, 3, TYPEDATA_U8));
    for (int i = 0; i < 400; ++i)
        ASSERT_EQ(r[i], 0);
    dozDataFree(r);
    EXPECT_EQ(dozDataSetPartialRight(b->blockId, 3, 2, 4, data.data(), 10, 10), 1);
    // RIGHT column 2 is z = 2, at x = 3.
    auto* f = static_cast<std::uint8_t*>(dozDataGetFront(b->blockId, 2, TYPEDATA_U8));
    EXPECT_EQ(f[4 * 20 + 3], 7);
    EXPECT_EQ(f[4 * 20 + 4], 0);
    dozDataFree(f);
}

TEST_F(SectionWrites, ByTypeSaturatesToTheBlockType)
{
    DataRecord* b = datatest::memoryBlock(4, 1, 1, TYPEDATA_U8, [](int, int, int) { return 0; });
    const float values[4] = { -3.5f, 12.9f, 255.5f, 1e9f };
    ASSERT_EQ(dozDataSetFrontByType(b->blockId, 0, values, TYPEDATA_F32), 1);
    auto* f = static_cast<std::uint8_t*>(dozDataGetFront(b->blockId, 0, TYPEDATA_U8));
    EXPECT_EQ(f[0], 0);
    EXPECT_EQ(f[1], 12);
    EXPECT_EQ(f[2], 255);
    EXPECT_EQ(f[3], 255);
    dozDataFree(f);
    EXPECT_EQ(dozDataSetFrontByType(b->blockId, 0, values, 42), 0);
}

TEST_F(SectionWrites, WriteOperationCombines)
{
    DataRecord* b
        = datatest::memoryBlock(2, 2, 1, TYPEDATA_U8, [](int x, int, int) { return 100 + x; });
    dozDataSetOp(b->blockId, 1);
    const std::uint8_t add[4] = { 1, 200, 0, 0 };
    dozDataSetFront(b->blockId, 0, add);
    auto* f = static_cast<std::uint8_t*>(dozDataGetFront(b->blockId, 0, TYPEDATA_U8));
    EXPECT_EQ(f[0], 101);
    EXPECT_EQ(f[1], 255);
    dozDataFree(f);
    dozDataSetOp(b->blockId, 99);
    EXPECT_EQ(dozDataSetFront(b->blockId, 0, add), 0);
}

TEST_F(SectionWrites, DiagonalWriteAndReadAgree)
{
    DataRecord* b = datatest::memoryBlock(5, 2, 3, TYPEDATA_S16, [](int, int, int) { return 0; });
    int w = 0, h = 0;
    dozDataFree(dozDataGetImageNOSE(b->blockId, -2, TYPEDATA_S16, &w, &h));
    ASSERT_EQ(w, 3); // (0,2) (1,1) (2,0)
    std::vector<std::int16_t> data(std::size_t(w) * h);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::int16_t(i + 1);
    ASSERT_EQ(dozDataSetImageNOSE(b->blockId, -2, data.data()), 1);
    auto* back
        = static_cast<std::int16_t*>(dozDataGetImageNOSE(b->blockId, -2, TYPEDATA_S16, &w, &h));
    EXPECT_EQ(std::memcmp(back, data.data(), data.size() * 2), 0);
    dozDataFree(back);
    auto* f = static_cast<std::int16_t*>(dozDataGetFront(b->blockId, 2, TYPEDATA_S16));
    EXPECT_EQ(f[0], 1); // column 0 at (0, 2), row 0
    EXPECT_EQ(f[5 + 0], 4); // row 1
    dozDataFree(f);
    const double d[6] = { 1e6, 1e6, 1e6, -1e6, -1e6, -1e6 };
    ASSERT_EQ(dozDataSetImageSONEByType(b->blockId, 2, d, TYPEDATA_F64), 1);
    f = static_cast<std::int16_t*>(dozDataGetFront(b->blockId, 0, TYPEDATA_S16));
    EXPECT_EQ(f[2], 32767);
    dozDataFree(f);
}

using SectionConversion = datatest::RegistryTest;

TEST_F(SectionConversion, ValueScaleAppliesOnlyWhenOn)
{
    DataRecord* b
        = datatest::memoryBlock(2, 1, 1, TYPEDATA_U8, [](int x, int, int) { return 10 + x; });
    b->block()->valueGain = 2;
    b->block()->valueOffset = 1;
    void* s = dozDataGetFront(b->blockId, 0, TYPEDATA_F64);
    auto v = asDoubles(s, 2, TYPEDATA_F64);
    dozDataFree(s);
    EXPECT_EQ(v[0], 10);
    b->block()->valueScaleOn = 1;
    s = dozDataGetFront(b->blockId, 0, TYPEDATA_F64);
    v = asDoubles(s, 2, TYPEDATA_F64);
    dozDataFree(s);
    EXPECT_EQ(v[0], 21);
    EXPECT_EQ(v[1], 23);
    // Without scaling and without a wanted type, the raw samples.
    auto* raw = static_cast<std::uint8_t*>(readSection(*b->block(), false, -1, 0, 0, 0, 0, 1, 0));
    EXPECT_EQ(raw[1], 11);
    std::free(raw);
}

TEST_F(SectionConversion, RgbaReadAsScalarIsTheMeanOfRedGreenBlue)
{
    DataRecord* b = datatest::memoryBlock(2, 1, 1, TYPEDATA_RGBA, [](int, int, int) { return 0; });
    const std::uint8_t px[8] = { 10, 20, 31, 255, 255, 255, 254, 0 };
    ASSERT_EQ(dozDataSetFront(b->blockId, 0, px), 1);
    auto* u8 = static_cast<std::uint8_t*>(dozDataGetFront(b->blockId, 0, TYPEDATA_U8));
    EXPECT_EQ(u8[0], 20);
    EXPECT_EQ(u8[1], 254);
    dozDataFree(u8);
    auto* rgba = static_cast<std::uint8_t*>(dozDataGetFront(b->blockId, 0, TYPEDATA_RGBA));
    EXPECT_EQ(std::memcmp(rgba, px, 8), 0);
    dozDataFree(rgba);
}

TEST_F(SectionConversion, UnknownIdentifiersAndTypesGiveNothing)
{
    DataRecord* b = datatest::memoryBlock(2, 2, 2, TYPEDATA_U8, [](int, int, int) { return 1; });
    EXPECT_EQ(dozDataGetFront(b->imageId, 0, TYPEDATA_U8), nullptr);
    EXPECT_EQ(dozDataGetFront(12345, 0, TYPEDATA_U8), nullptr);
    EXPECT_EQ(dozDataGetFront(b->blockId, 0, 0), nullptr);
    EXPECT_EQ(dozDataGetPartialFront(b->blockId, 0, TYPEDATA_U8, 0, 0, 0, 2), nullptr);
    const std::uint8_t d[4] = {};
    EXPECT_EQ(dozDataSetFront(b->imageId, 0, d), 0);
    EXPECT_EQ(dozDataSetFront(b->blockId, 0, nullptr), 0);
}

using SectionImages = datatest::RegistryTest;

TEST_F(SectionImages, DisplayedSectionIsTheCentreFront)
{
    DataRecord* b
        = datatest::memoryBlock(100, 50, 21, TYPEDATA_U8, [](int, int, int z) { return z; });
    // The image record was created before the samples were written: show again.
    EXPECT_EQ(b->block()->cursorX, 50);
    EXPECT_EQ(b->block()->cursorY, 25);
    EXPECT_EQ(b->block()->cursorZ, 10);
    ASSERT_TRUE(showBlockSection(b, PLANE_TOP, 7));
    int w = 0, h = 0;
    vexaImageGetSize(b->imageId, &w, &h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 21);
    EXPECT_EQ(b->position, "TOP 00007");
    EXPECT_EQ(b->block()->cursorY, 7);
    auto* px = static_cast<std::uint8_t*>(vexaImageGetPtrData(b->imageId));
    EXPECT_EQ(px[0], 20);
    EXPECT_FALSE(showBlockSection(b, PLANE_RIGHT, 100));
}

TEST_F(SectionImages, GetDataConvertsWithTheValueScale)
{
    auto object = newImageOutputObject();
    object->image->width = 3;
    object->image->height = 1;
    object->image->typeData = TYPEDATA_S16;
    DataRecord* r = showImageObject(std::move(object), kFreshId, kFreshId);
    ASSERT_NE(r, nullptr);
    auto* s = static_cast<std::int16_t*>(vexaImageGetPtrData(r->imageId));
    s[0] = -5;
    s[1] = 300;
    s[2] = 70;
    auto* u8 = static_cast<std::uint8_t*>(dozDataGetData(r->imageId, TYPEDATA_U8));
    EXPECT_EQ(u8[0], 0);
    EXPECT_EQ(u8[1], 255);
    EXPECT_EQ(u8[2], 70);
    dozDataFree(u8);
    r->image2d()->valueScaleOn = 1;
    r->image2d()->valueGain = 0.5;
    auto* rgba = static_cast<std::uint8_t*>(dozDataGetData(r->imageId, TYPEDATA_RGBA));
    // Grey palette by default: level 35 for the sample 70.
    EXPECT_EQ(rgba[8], 35);
    EXPECT_EQ(rgba[9], 35);
    EXPECT_EQ(rgba[10], 35);
    dozDataFree(rgba);
    EXPECT_EQ(dozDataGetData(r->blockId, TYPEDATA_U8), nullptr);
}

TEST_F(SectionImages, PopupShowsACopy)
{
    const float data[6] = { 1, 2, 3, 4, 5, 6 };
    unsigned int id = dozDataPopup(data, 3, 2, TYPEDATA_F32);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(vexaImageGetTypeData(id), TYPEDATA_F32);
    auto* px = static_cast<float*>(vexaImageGetPtrData(id));
    EXPECT_EQ(px[5], 6.0f);
    EXPECT_EQ(dozDataPopup(data, 0, 2, TYPEDATA_F32), 0u);
    EXPECT_EQ(dozDataPopup(nullptr, 3, 2, TYPEDATA_F32), 0u);
}

// Sections of memory blocks against a sample-by-sample gather, for 1-, 2- and 8-byte
// samples: odd sizes leave partial groups of planes, and the RIGHT section of this
// block is large enough to be gathered by two threads.
TEST_F(SectionConversion, MemorySectionsEqualANaiveGather)
{
    constexpr int X = 3, Y = 509, Z = 517;
    auto code = [](int x, int y, int z) { return double((x * 7 + y * 131 + z * 31) % 251); };
    for (int type : { TYPEDATA_U8, TYPEDATA_U16, TYPEDATA_F64 }) {
        DataRecord* r = datatest::memoryBlock(X, Y, Z, type, code);
        ASSERT_NE(r, nullptr);
        const BlockDescriptor& b = *r->block();
        for (int plane : { PLANE_FRONT, PLANE_RIGHT, PLANE_TOP }) {
            const int index = sectionCount(b, plane) / 2;
            int w = 0, h = 0;
            ASSERT_TRUE(sectionSize(b, plane, w, h));
            // The whole section overhanging on every side, and a small inner rectangle.
            for (auto [c0, r0, c1, r1] :
                { std::array { -3, -2, w + 1, h + 1 }, { 5, 7, 11, 10 } }) {
                const int W = c1 - c0 + 1, H = r1 - r0 + 1;
                void* s = readSection(b, false, -1, plane, index, c0, r0, c1, r1);
                auto v = asDoubles(s, W * H, type);
                std::free(s);
                ASSERT_EQ(v.size(), std::size_t(W) * H);
                for (int row = r0; row <= r1; ++row)
                    for (int c = c0; c <= c1; ++c) {
                        double want = 0;
                        if (c >= 0 && c < w && row >= 0 && row < h)
                            want = plane == PLANE_FRONT ? code(c, row, index)
                                : plane == PLANE_RIGHT  ? code(index, row, c)
                                                        : code(c, index, Z - 1 - row);
                        ASSERT_EQ(v[std::size_t(row - r0) * W + (c - c0)], want)
                            << "type " << type << " plane " << plane << " at " << c << ", " << row;
                    }
            }
        }
    }
}
