// Volume objects without GL: transfer functions, the palette mapping of block samples,
// refused sizes and boxes, and the box that frames and picks a volume.
#include "scene/scene.h"
#include "scene/volume.h"

#include "data/block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

using namespace vexa::scene;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

vexa::ColourTable greyRamp()
{
    vexa::ColourTable table;
    vexa::fillGreyRamp(table);
    return table;
}

std::shared_ptr<Volume> smallFloats(int nx, int ny, int nz)
{
    std::vector<float> values(std::size_t(nx) * ny * nz, 1.f);
    return volumeFromFloats(values.data(), nx, ny, nz, { { 0, 0, 0, 0, 0 }, { 1, 1, 1, 1, 1 } });
}

} // namespace

TEST(TransferFunction, RefusesWhatCannotBeSampled)
{
    EXPECT_NE(transferFunctionError({ { 0, 1, 1, 1, 1 } }), "");
    EXPECT_NE(transferFunctionError({ { 1, 0, 0, 0, 0 }, { 1, 1, 1, 1, 1 } }), "");
    EXPECT_NE(transferFunctionError({ { 2, 0, 0, 0, 0 }, { 1, 1, 1, 1, 1 } }), "");
    EXPECT_NE(transferFunctionError({ { kNaN, 0, 0, 0, 0 }, { 1, 1, 1, 1, 1 } }), "");
    EXPECT_NE(transferFunctionError({ { 0, 0, 0, 0, 0 }, { 1, 1.5, 1, 1, 1 } }), "");
    EXPECT_NE(transferFunctionError({ { 0, 0, 0, 0, -0.1 }, { 1, 1, 1, 1, 1 } }), "");
    EXPECT_TRUE(transferTable({ { 0, 1, 1, 1, 1 } }).empty());
    EXPECT_EQ(transferFunctionError({ { -5, 0, 0, 0, 0 }, { 7, 1, 1, 1, 1 } }), "");
}

TEST(TransferFunction, TableRunsThroughEveryPointLinearly)
{
    // Red rises over the first half, then green over the second; alpha is constant.
    const auto table
        = transferTable({ { 0, 0, 0, 0, 0.5 }, { 255, 1, 0, 0, 0.5 }, { 510, 1, 1, 0, 0.5 } });
    ASSERT_EQ(table.size(), std::size_t(kTransferEntries) * 4);
    auto entry = [&](int e, int c) { return int(table[std::size_t(e) * 4 + std::size_t(c)]); };
    EXPECT_EQ(entry(0, 0), 0);
    EXPECT_EQ(entry(0, 3), 128);
    EXPECT_EQ(entry(255, 0), 255);
    EXPECT_EQ(entry(255, 1), 255);
    // Entry 128 sits at value 256, just past the middle point.
    EXPECT_EQ(entry(128, 0), 255);
    EXPECT_NEAR(entry(128, 1), 1, 1);
    EXPECT_NEAR(entry(64, 0), 128, 1);
    EXPECT_EQ(entry(64, 1), 0);
}

TEST(PaletteVoxels, RangeEndsAreClearAndOpaque)
{
    vexa::ColourTable palette = greyRamp();
    palette[255] = { 10, 20, 30, 0 }; // blue, green, red
    const double values[]
        = { -100, 0, 50, 100, 1e9, kNaN, std::numeric_limits<double>::infinity() };
    std::vector<std::uint8_t> out;
    appendPaletteVoxels(values, 7, 0, 100, palette, out);
    ASSERT_EQ(out.size(), 28u);
    auto alpha = [&](int i) { return int(out[std::size_t(i) * 4 + 3]); };
    EXPECT_EQ(alpha(0), 0);
    EXPECT_EQ(alpha(1), 0);
    EXPECT_EQ(alpha(2), 128);
    EXPECT_EQ(out[8], 128); // grey level 128
    EXPECT_EQ(alpha(3), 255);
    EXPECT_EQ(alpha(4), 255);
    EXPECT_EQ(alpha(5), 0); // NaN is clear, not the top colour
    EXPECT_EQ(alpha(6), 255);
    // The palette's colour comes out as red, green, blue.
    EXPECT_EQ(out[12], 30);
    EXPECT_EQ(out[13], 20);
    EXPECT_EQ(out[14], 10);
}

TEST(VolumeFromBlock, TakesTheBlocksOwnRangeAndKeepsVoxelOrder)
{
    vexa::BlockDescriptor block;
    ASSERT_TRUE(vexa::blockSetSize(block, 3, 2, 2));
    ASSERT_TRUE(vexa::blockSetType(block, TYPEDATA_S16));
    ASSERT_TRUE(vexa::blockSetMemory(block));
    std::int16_t samples[12];
    for (int i = 0; i < 12; ++i)
        samples[i] = std::int16_t(-1000 + i * 100);
    ASSERT_TRUE(block.samples.allocate(sizeof samples));
    std::memcpy(block.samples.data(), samples, sizeof samples);

    std::string reason;
    const auto own = volumeFromBlock(block, 0, 0, greyRamp(), &reason);
    ASSERT_NE(own, nullptr) << reason;
    EXPECT_EQ(own->format, VOLUME_RGBA8);
    EXPECT_EQ(own->rgba.size(), 48u);
    EXPECT_EQ(own->low, -1000);
    EXPECT_EQ(own->high, 100);
    EXPECT_EQ(own->rgba[3], 0); // first voxel: the minimum
    EXPECT_EQ(own->rgba[11 * 4 + 3], 255); // last voxel (x 2, y 1, z 1): the maximum
    EXPECT_LT(own->rgba[1 * 4 + 3], own->rgba[6 * 4 + 3]); // x fastest, then y, then z

    const auto fixed = volumeFromBlock(block, -500, -400, greyRamp());
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->rgba[4 * 4 + 3], 0); // -600
    EXPECT_EQ(fixed->rgba[6 * 4 + 3], 255); // -400

    EXPECT_EQ(volumeFromBlock(block, kNaN, 1, greyRamp(), &reason), nullptr);
    EXPECT_NE(reason, "");
    EXPECT_EQ(volumeFromBlock(block, 5, 1, greyRamp()), nullptr);
    vexa::BlockDescriptor empty;
    EXPECT_EQ(volumeFromBlock(empty, 0, 0, greyRamp()), nullptr);
}

TEST(VolumeFromFloats, RefusesBadSizesBeforeReadingAnything)
{
    const std::vector<TransferPoint> ramp { { 0, 0, 0, 0, 0 }, { 1, 1, 1, 1, 1 } };
    const float one = 1;
    std::string reason;
    EXPECT_EQ(volumeFromFloats(&one, 0, 1, 1, ramp, &reason), nullptr);
    EXPECT_NE(reason, "");
    EXPECT_EQ(volumeFromFloats(&one, -3, 1, 1, ramp), nullptr);
    EXPECT_EQ(volumeFromFloats(&one, kMaxVolumeSide + 1, 1, 1, ramp), nullptr);
    // Each side allowed, the product not.
    EXPECT_EQ(volumeFromFloats(&one, 2048, 2048, 2048, ramp), nullptr);
    EXPECT_EQ(volumeFromFloats(nullptr, 1, 1, 1, ramp), nullptr);
    EXPECT_EQ(volumeFromFloats(&one, 1, 1, 1, { ramp[0] }), nullptr);

    const float values[] = { 0.5f, std::numeric_limits<float>::quiet_NaN(),
        -std::numeric_limits<float>::infinity() };
    const auto volume = volumeFromFloats(values, 3, 1, 1, ramp);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->format, VOLUME_R32F);
    EXPECT_EQ(volume->values[0], 0.5f);
    // Filtering would spread a NaN or an infinity to the samples around it.
    EXPECT_EQ(volume->values[1], 0.f);
    EXPECT_TRUE(std::isfinite(volume->values[2]));
}

TEST(VolumeObject, BoxFramesAndPicksTheVolume)
{
    Scene scene;
    const std::uint32_t id = scene.createObject("vol", OBJECT_MESH);
    EXPECT_EQ(scene.setVolume(id, nullptr), 0);
    ASSERT_EQ(scene.setVolume(id, smallFloats(4, 5, 6)), 1);
    EXPECT_EQ(scene.type(id), OBJECT_VOLUME);
    Box b = scene.bounds(0);
    EXPECT_EQ(b.min.x, 0);
    EXPECT_EQ(b.max.x, 4);
    EXPECT_EQ(b.max.y, 5);
    EXPECT_EQ(b.max.z, 6);

    EXPECT_EQ(scene.setVolumeBox(id, { 10, 0, 0 }, { 0, 1, 1 }), 0);
    EXPECT_EQ(scene.setVolumeBox(id, { 10, 0, 0 }, { -1, 1, 1 }), 0);
    EXPECT_EQ(scene.setVolumeBox(id, { kNaN, 0, 0 }, { 1, 1, 1 }), 0);
    EXPECT_EQ(scene.setVolumeBox(id + 1000, { 0, 0, 0 }, { 1, 1, 1 }), 0);
    ASSERT_EQ(scene.setVolumeBox(id, { 10, 20, 30 }, { 2, 2, 2 }), 1);
    b = scene.bounds(0);
    EXPECT_EQ(b.min.x, 10);
    EXPECT_EQ(b.max.z, 32);
    // New samples keep the box the user placed.
    ASSERT_EQ(scene.setVolume(id, smallFloats(8, 8, 8)), 1);
    EXPECT_EQ(scene.bounds(0).max.z, 32);

    scene.resetCamera();
    EXPECT_EQ(scene.pick(100, 50, 200, 100), id);
    EXPECT_EQ(scene.pick(1, 1, 200, 100), 0u);
}

// Each side view shows the block as the image window shows that plane's sections:
// the first column on the left and the first row at the top.
TEST(VolumeObject, SideViewsMatchTheImageWindowSections)
{
    Scene scene;
    const std::uint32_t id = scene.createObject("vol");
    ASSERT_EQ(scene.setVolume(id, smallFloats(2, 2, 2)), 1);
    struct Case {
        int side;
        Vec3 columns, rows; // world directions of the section's columns and rows
    };
    const Case cases[] = {
        { Scene::SIDE_FRONT, { 1, 0, 0 }, { 0, 1, 0 } }, // (c, r) = (x, y)
        { Scene::SIDE_RIGHT, { 0, 0, 1 }, { 0, 1, 0 } }, // (z, y)
        { Scene::SIDE_TOP, { 1, 0, 0 }, { 0, 0, -1 } }, // (x, last z - z)
    };
    for (const Case& c : cases) {
        scene.viewFrom(c.side);
        const Camera camera = scene.camera();
        EXPECT_NEAR(camera.target().x, 1, 1e-9);
        const Mat4 pv = scene.projectionView(0, 200, 200);
        const Vec3 centre { 1, 1, 1 };
        const auto middle = projectToScreen(pv, centre, 200, 200);
        const auto right = projectToScreen(pv, centre + c.columns * 0.5, 200, 200);
        const auto below = projectToScreen(pv, centre + c.rows * 0.5, 200, 200);
        ASSERT_TRUE(middle && right && below) << c.side;
        EXPECT_GT(right->x, middle->x + 10) << c.side;
        EXPECT_NEAR(right->y, middle->y, 1e-6) << c.side;
        EXPECT_GT(below->y, middle->y + 10) << c.side; // screen y runs down
        EXPECT_NEAR(below->x, middle->x, 1e-6) << c.side;
        EXPECT_EQ(scene.pick(100, 50, 200, 100), id) << c.side;
    }
}

// One visible voxel at the far x end: its brick and the neighbour that interpolates
// it are marked, the rest is skipped; a table that shows the background marks all.
TEST(VolumeObject, BricksAreMarkedWhereSomethingVisibleMaySample)
{
    std::vector<float> values(20 * 8 * 8, 0.f);
    values[19] = 1.f;
    const auto hidden = volumeFromFloats(
        values.data(), 20, 8, 8, { { 0, 1, 1, 1, 0 }, { 0.5, 1, 1, 1, 0 }, { 1, 1, 1, 1, 1 } });
    ASSERT_TRUE(hidden);
    BrickGrid grid = volumeBricks(*hidden);
    EXPECT_EQ((std::array<int, 3> { grid.bx, grid.by, grid.bz }), (std::array<int, 3> { 3, 1, 1 }));
    EXPECT_EQ(grid.occupied, (std::vector<std::uint8_t> { 0, 1, 1 }));

    const auto shown
        = volumeFromFloats(values.data(), 20, 8, 8, { { 0, 1, 1, 1, 0.1 }, { 1, 1, 1, 1, 1 } });
    EXPECT_EQ(volumeBricks(*shown).occupied, (std::vector<std::uint8_t> { 1, 1, 1 }));
    // Values beyond the table's ends take its end entries.
    values[19] = 50.f;
    std::fill(values.begin(), values.begin() + 8, -50.f);
    const auto beyond = volumeFromFloats(
        values.data(), 20, 8, 8, { { 0, 1, 1, 1, 0 }, { 0.9, 1, 1, 1, 0 }, { 1, 1, 1, 1, 1 } });
    EXPECT_EQ(volumeBricks(*beyond).occupied, (std::vector<std::uint8_t> { 0, 1, 1 }));

    Volume bytes;
    bytes.nx = bytes.ny = 8;
    bytes.nz = 17;
    bytes.rgba.assign(std::size_t(bytes.voxelCount()) * 4, 200);
    for (std::size_t i = 3; i < bytes.rgba.size(); i += 4)
        bytes.rgba[i] = 0;
    bytes.rgba[std::size_t(bytes.voxelCount()) * 4 - 1] = 1;
    EXPECT_EQ(volumeBricks(bytes).occupied, (std::vector<std::uint8_t> { 0, 1, 1 }));
    bytes.rgba.pop_back(); // samples that do not match the sizes: nothing to skip by
    EXPECT_TRUE(volumeBricks(bytes).occupied.empty());
}
