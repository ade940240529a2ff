// The "Curseur 3D" slices: where each section lies in the block's box, which way its
// texture runs, and how the slices follow the cursor and the option.
#include "scene/cursorslices.h"

#include "data/datatest_util.h"

#include <gtest/gtest.h>

using namespace vexa::scene;

namespace {

class CursorSlices : public datatest::RegistryTest { };

// Corner of the quad whose texture coordinates are (u, v).
Vec3 cornerAt(const TriMesh& mesh, const std::vector<float>& uv, float u, float v)
{
    for (int i = 0; i < 4; ++i)
        if (uv[std::size_t(i) * 2] == u && uv[std::size_t(i) * 2 + 1] == v)
            return { mesh.points[i * 3], mesh.points[i * 3 + 1], mesh.points[i * 3 + 2] };
    ADD_FAILURE() << "no corner at " << u << ", " << v;
    return {};
}

std::uint32_t slice(const Scene& scene, int plane)
{
    for (std::uint32_t id : scene.objectIds())
        if (scene.name(id) == kCursorSliceNames[plane])
            return id;
    return 0;
}

Box boundsOf(const Scene& scene, std::uint32_t id)
{
    Box box;
    scene.readObject(id, [&](const SceneObject& o) { box = o.meshBounds; });
    return box;
}

} // namespace

TEST_F(CursorSlices, QuadsLieThroughTheVoxelMiddlesWithTheSectionsOrientation)
{
    vexa::BlockDescriptor block;
    ASSERT_TRUE(vexa::blockSetSize(block, 4, 3, 2));
    std::vector<float> uv;

    TriMeshPtr front(cursorSliceQuad(block, vexa::PLANE_FRONT, 1, uv));
    ASSERT_TRUE(front);
    Vec3 first = cornerAt(*front, uv, 0, 0), last = cornerAt(*front, uv, 1, 1);
    EXPECT_EQ(first.x, 0);
    EXPECT_EQ(first.y, 0);
    EXPECT_EQ(first.z, 1.5);
    EXPECT_EQ(last.x, 4);
    EXPECT_EQ(last.y, 3);

    // RIGHT: columns along z, rows along y.
    TriMeshPtr right(cursorSliceQuad(block, vexa::PLANE_RIGHT, 3, uv));
    ASSERT_TRUE(right);
    const Vec3 column = cornerAt(*right, uv, 1, 0);
    EXPECT_EQ(column.x, 3.5);
    EXPECT_EQ(column.y, 0);
    EXPECT_EQ(column.z, 2);

    // TOP: the first row is the last z.
    TriMeshPtr top(cursorSliceQuad(block, vexa::PLANE_TOP, 0, uv));
    ASSERT_TRUE(top);
    first = cornerAt(*top, uv, 0, 0);
    EXPECT_EQ(first.y, 0.5);
    EXPECT_EQ(first.z, 2);
    EXPECT_EQ(cornerAt(*top, uv, 0, 1).z, 0);

    EXPECT_EQ(cursorSliceQuad(block, 7, 0, uv), nullptr);
    vexa::BlockDescriptor empty;
    EXPECT_EQ(cursorSliceQuad(empty, vexa::PLANE_FRONT, 0, uv), nullptr);
}

TEST_F(CursorSlices, FollowTheCursorAndTheOption)
{
    vexa::DataRecord* record = datatest::memoryBlock(
        4, 3, 2, TYPEDATA_U8, [](int x, int y, int z) { return x * 20 + y * 5 + z * 100; });
    ASSERT_NE(record, nullptr);
    vexa::BlockDescriptor& block = *record->block();
    Scene scene;
    // Slices put into an empty view are framed.
    block.cursor3dShown = 1;
    ASSERT_EQ(updateCursorSlices(scene, *record), 3);
    EXPECT_NE(scene.pick(100, 50, 200, 100), 0u);
    // Framed as the image window shows the block: row 0 at the top, column 0 left.
    EXPECT_TRUE(scene.imageAxes());
    const Mat4 pv = scene.projectionView(0, 200, 100);
    const auto topLeft = projectToScreen(pv, { 0, 0, 1 }, 200, 100);
    const auto bottomRight = projectToScreen(pv, { 4, 3, 1 }, 200, 100);
    ASSERT_TRUE(topLeft && bottomRight);
    EXPECT_LT(topLeft->x, bottomRight->x);
    EXPECT_LT(topLeft->y, bottomRight->y);
    block.cursor3dShown = 0;
    EXPECT_EQ(updateCursorSlices(scene, *record), 0);
    EXPECT_EQ(scene.objectCount(), 0);
    const std::uint32_t other = scene.createObject("autre");

    EXPECT_EQ(updateCursorSlices(scene, *record), 0);
    EXPECT_EQ(scene.objectCount(), 1);

    block.cursor3dShown = 1;
    block.cursorX = 2;
    block.cursorY = 1;
    block.cursorZ = 0;
    ASSERT_EQ(updateCursorSlices(scene, *record), 3);
    EXPECT_EQ(scene.objectCount(), 4);
    const std::uint32_t front = slice(scene, vexa::PLANE_FRONT);
    ASSERT_NE(front, 0u);
    EXPECT_EQ(scene.type(front), OBJECT_SLICE);
    const std::pair<int, std::pair<int, int>> sizes[] = { { vexa::PLANE_FRONT, { 4, 3 } },
        { vexa::PLANE_RIGHT, { 2, 3 } }, { vexa::PLANE_TOP, { 4, 2 } } };
    for (const auto& [plane, size] : sizes) {
        scene.readObject(slice(scene, plane), [&, size = size](const SceneObject& o) {
            ASSERT_TRUE(o.texture);
            EXPECT_EQ(o.texture->width, size.first);
            EXPECT_EQ(o.texture->height, size.second);
            EXPECT_EQ(o.texCoords.size(), 8u);
        });
    }
    EXPECT_EQ(boundsOf(scene, front).min.z, 0.5);
    EXPECT_EQ(boundsOf(scene, slice(scene, vexa::PLANE_RIGHT)).min.x, 2.5);

    // The FRONT texture shows section 0, then section 1 once the cursor moves there.
    std::vector<std::uint8_t> before;
    scene.readObject(front, [&](const SceneObject& o) { before = o.texture->rgba; });
    block.cursorZ = 1;
    ASSERT_EQ(updateCursorSlices(scene, *record), 3);
    EXPECT_EQ(slice(scene, vexa::PLANE_FRONT), front); // moved, not replaced
    EXPECT_EQ(boundsOf(scene, front).min.z, 1.5);
    scene.readObject(front, [&](const SceneObject& o) { EXPECT_NE(o.texture->rgba, before); });
    EXPECT_EQ(scene.objectCount(), 4);

    block.cursor3dShown = 0;
    EXPECT_EQ(updateCursorSlices(scene, *record), 0);
    EXPECT_EQ(scene.objectIds(), std::vector<std::uint32_t> { other });
}
