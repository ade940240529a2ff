// The scene model without GL: object operations, refusals, camera maths and picking.
#include "scene/scene.h"

#include "mesh/meshprocessing.h"
#include "mesh/primitives.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <vector>

using namespace vexa::scene;

namespace {

constexpr double kPi = 3.14159265358979323846;

TriMeshPtr cube()
{
    return TriMeshPtr(vexa::mesh::makeCube());
}

// Screen position of p in a 200 x 100 window through the current camera.
Vec3 screenOf(const Scene& scene, Vec3 p)
{
    auto s = projectToScreen(scene.projectionView(0, 200, 100), p, 200, 100);
    EXPECT_TRUE(s.has_value());
    return s.value_or(Vec3 {});
}

} // namespace

TEST(SceneObjects, KeepTheirOwnMeshCopyAndCountFacets)
{
    Scene scene;
    TriMeshPtr mesh = cube();
    const std::uint32_t a = scene.createObject("a");
    const std::uint32_t b = scene.createObject("b");
    ASSERT_NE(a, b);
    EXPECT_EQ(scene.setMesh(a, mesh.get()), 1);
    EXPECT_EQ(scene.setMesh(b, mesh.get()), 1);
    mesh->points[0] = 42;
    TriMeshPtr copy(scene.copyMesh(a));
    ASSERT_TRUE(copy);
    EXPECT_FLOAT_EQ(copy->points[0], -0.5f);
    EXPECT_EQ(scene.facetCount(), 24);

    // An object made apart keeps its identifier when added and when moved on.
    auto apart = std::make_unique<SceneObject>();
    const std::uint32_t id = apart->id;
    EXPECT_EQ(scene.addObject(std::move(apart), 4), id);
    Scene other;
    EXPECT_EQ(other.addObject(scene.takeObject(id), 1), id);
    EXPECT_FALSE(scene.hasObject(id));
}

TEST(SceneObjects, RemovingByNameRemovesEveryObjectOfThatName)
{
    Scene scene;
    scene.createObject("surface");
    const std::uint32_t keep = scene.createObject("other");
    const std::uint32_t selected = scene.createObject("surface");
    scene.selectObject(selected);
    EXPECT_EQ(scene.removeObjectsNamed("surface"), 2);
    EXPECT_EQ(scene.objectIds(), std::vector<std::uint32_t> { keep });
    EXPECT_EQ(scene.selectedObject(), 0u);
    EXPECT_EQ(scene.removeObjectsNamed("surface"), 0);
}

TEST(SceneObjects, UnknownIdentifiersDoNothingAndReturnZero)
{
    Scene scene;
    const std::uint32_t real = scene.createObject("real");
    const std::uint64_t revision = scene.revision();
    TriMeshPtr mesh = cube();
    const std::uint8_t rgba[4 * 8] = {};
    const float uv[2 * 8] = {};
    for (std::uint32_t id : { 0u, real + 1000 }) {
        EXPECT_EQ(scene.setName(id, "x"), 0);
        EXPECT_EQ(scene.type(id), 0);
        EXPECT_EQ(scene.setMesh(id, mesh.get()), 0);
        EXPECT_EQ(scene.copyMesh(id), nullptr);
        EXPECT_EQ(scene.setVertexColours(id, rgba, 8), 0);
        EXPECT_EQ(scene.setColour(id, { 1, 0, 0, 1 }), 0);
        EXPECT_EQ(scene.setTransparency(id, 0.5), 0);
        EXPECT_EQ(scene.setTexture(id, rgba, 2, 4), 0);
        EXPECT_EQ(scene.setTexCoords(id, uv, 8), 0);
        EXPECT_EQ(scene.setWrapping(id, WRAP_CLAMP), 0);
        EXPECT_EQ(scene.translateObject(id, 1, 2, 3), 0);
        EXPECT_EQ(scene.rotateObject(id, 0, 1, 0, 1), 0);
        EXPECT_EQ(scene.scaleObject(id, 2, 2, 2), 0);
        EXPECT_EQ(scene.setViewMask(id, 3), 0);
        EXPECT_EQ(scene.removeObject(id), 0);
        EXPECT_EQ(scene.takeObject(id), nullptr);
    }
    EXPECT_EQ(scene.revision(), revision);
    EXPECT_EQ(scene.objectCount(), 1);
}

TEST(SceneObjects, RefuseBadValuesAndKeepWhatTheyHad)
{
    Scene scene;
    const std::uint32_t id = scene.createObject("o");
    TriMeshPtr mesh = cube();
    ASSERT_EQ(scene.setMesh(id, mesh.get()), 1);
    std::vector<std::uint8_t> rgba(8 * 4, 200);
    EXPECT_EQ(scene.setVertexColours(id, rgba.data(), 7), 0);
    EXPECT_EQ(scene.setVertexColours(id, rgba.data(), 8), 1);
    EXPECT_EQ(scene.setColour(id, { 1.5, 0, 0, 1 }), 0);
    EXPECT_EQ(scene.setColour(id, { std::nan(""), 0, 0, 1 }), 0);
    EXPECT_EQ(scene.setTransparency(id, -0.1), 0);
    EXPECT_EQ(scene.translateObject(id, std::numeric_limits<double>::infinity(), 0, 0), 0);

    // A 2 GiB request is refused before anything is read or allocated.
    EXPECT_FALSE(textureSizeError(32768, 16384).empty());
    EXPECT_EQ(scene.setTexture(id, rgba.data(), 32768, 16384), 0);
    EXPECT_EQ(scene.setTexture(id, rgba.data(), 0, 1), 0);
    EXPECT_EQ(scene.setTexture(id, rgba.data(), 2, 4), 1);

    // A mesh with an index out of range is refused; the old one stays.
    TriMeshPtr bad = cube();
    bad->triangles[5] = 99;
    EXPECT_EQ(scene.setMesh(id, bad.get()), 0);
    // A new mesh of another point count drops the colours that no longer fit.
    TriMeshPtr sphere(vexa::mesh::makeSphere(6));
    EXPECT_EQ(scene.setMesh(id, sphere.get()), 1);
    scene.readObject(id, [&](const SceneObject& o) {
        EXPECT_EQ(o.mesh->nbPoints, sphere->nbPoints);
        EXPECT_TRUE(o.vertexColours.empty());
        EXPECT_EQ(o.material.diffuse.r, 0.8);
        EXPECT_EQ(o.texture->width, 2);
    });
}

TEST(SceneObjects, MenuListsDeconditioningOnlyForPartitionedMeshes)
{
    Scene scene;
    const std::uint32_t id = scene.createObject("s");
    scene.readObject(id, [](const SceneObject& o) { EXPECT_TRUE(objectCommands(o).empty()); });
    TriMeshPtr sphere(vexa::mesh::makeSphere(10));
    scene.setMesh(id, sphere.get());
    auto count = [&](const char* label) {
        int n = 0;
        scene.readObject(id, [&](const SceneObject& o) {
            for (const std::string& c : objectCommands(o))
                n += c == label;
        });
        return n;
    };
    EXPECT_EQ(count("Sauvegarde"), 1);
    EXPECT_EQ(count("Déconditionnement"), 0);
    scene.editObject(id, [](SceneObject& o) {
        vexa::mesh::BlockSettings settings;
        settings.maxFacets = 10;
        o.mesh->blocks = vexa::mesh::buildBlocks(o.mesh.get(), settings);
        return false;
    });
    EXPECT_EQ(count("Déconditionnement"), 1);
    EXPECT_EQ(scene.setType(id, OBJECT_SLICE), 1);
    EXPECT_EQ(count("Sauvegarde"), 0);
}

TEST(SceneCamera, HalfTurnAboutYMirrorsLeftAndRight)
{
    Scene scene;
    scene.setReferenceBox(2, 2, 2);
    Camera camera;
    camera.frame({ { 0, 0, 0 }, 2 });
    scene.setCamera(camera);
    const Vec3 p { 0.6, 0.4, 0 };
    const Vec3 before = screenOf(scene, p);
    EXPECT_GT(before.x, 100);
    EXPECT_LT(before.y, 50);
    scene.rotateCamera(1, kPi);
    const Vec3 after = screenOf(scene, p);
    EXPECT_NEAR(after.x, 200 - before.x, 1e-6);
    EXPECT_NEAR(after.y, before.y, 1e-6);
    // A full turn comes back.
    scene.rotateCamera(1, kPi);
    EXPECT_NEAR(screenOf(scene, p).x, before.x, 1e-6);
}

// A view of meshes from files shows y upwards; a view of an image's content shows
// voxel y downwards and x to the right, as the image window does, on reset, on a
// fresh view and when framed again; a new sub-view takes the camera it is made from.
TEST(SceneCamera, ImageViewsShowYDownwardsAndMeshViewsYUpwards)
{
    Scene scene;
    TriMeshPtr mesh = cube();
    scene.setMesh(scene.createObject("c"), mesh.get());
    scene.resetCamera();
    const Vec3 o = screenOf(scene, { 0, 0, 0 });
    EXPECT_LT(screenOf(scene, { 0, 0.4, 0 }).y, o.y - 1);
    EXPECT_GT(screenOf(scene, { 0.4, 0, 0 }).x, o.x + 1);

    // The flag alone leaves a framed camera as it is, until the next reset.
    scene.setImageAxes(true);
    EXPECT_GT(scene.camera().up().y, 0);
    scene.resetCamera();
    EXPECT_GT(screenOf(scene, { 0, 0.4, 0 }).y, o.y + 1);
    EXPECT_GT(screenOf(scene, { 0.4, 0, 0 }).x, o.x + 1);
    EXPECT_LT(scene.camera().eye().z, scene.camera().target().z); // the front side
    // "Vue de face" is the same picture.
    const Camera reset = scene.camera();
    scene.viewFrom(Scene::SIDE_FRONT);
    EXPECT_NEAR(length(scene.camera().eye() - reset.eye()), 0, 1e-9);
    EXPECT_NEAR(length(scene.camera().up() - reset.up()), 0, 1e-9);

    // Framing keeps a turned image camera's direction and up vector.
    scene.rotateCamera(1, 0.3);
    scene.multiplyZoom(3);
    const Camera turned = scene.camera();
    scene.fitView();
    EXPECT_NEAR(length(scene.camera().up() - turned.up()), 0, 1e-9);
    EXPECT_DOUBLE_EQ(scene.camera().zoom(), 1);
    const int index = scene.addSubView(0.5, 0, 0.5, 1);
    EXPECT_NEAR(length(scene.subView(index).camera.eye() - scene.camera().eye()), 0, 1e-9);

    // An empty view made for an image is framed on its reference box at once.
    Scene fresh;
    fresh.setReferenceBox(40, 20, 10);
    fresh.setImageAxes(true);
    EXPECT_TRUE(fresh.imageAxes());
    EXPECT_NEAR(length(fresh.camera().target() - Vec3 { 20, 10, 5 }), 0, 1e-9);
    EXPECT_LT(fresh.camera().up().y, -0.999);
    fresh.setImageAxes(false);
    fresh.resetCamera();
    EXPECT_GT(fresh.camera().up().y, 0.999);
}

TEST(SceneCamera, ZoomAndTranslationsMoveThePicture)
{
    Scene scene;
    Camera camera;
    camera.frame({ { 0, 0, 0 }, 2 });
    scene.setCamera(camera);
    const Vec3 p { 0.5, 0, 0 };
    const double x0 = screenOf(scene, p).x - 100;
    scene.multiplyZoom(2);
    EXPECT_NEAR(screenOf(scene, p).x - 100, 2 * x0, 1e-6);
    scene.multiplyZoom(0);
    scene.multiplyZoom(std::nan(""));
    EXPECT_DOUBLE_EQ(scene.camera().zoom(), 2);

    // Moving the camera right moves the picture left; world and own x agree here.
    scene.translateCameraOwn(0, 0.5);
    EXPECT_NEAR(screenOf(scene, { 1, 0, 0 }).x, 100 + 2 * x0, 1e-6);
    scene.translateCameraWorld(0, -0.5);
    EXPECT_NEAR(screenOf(scene, p).x, 100 + 2 * x0, 1e-6);
    // Own z is the line of sight: stepping forward enlarges.
    scene.translateCameraOwn(2, 1);
    EXPECT_GT(screenOf(scene, p).x - 100, 2 * x0);
    // The unit scale stretches the data: one data unit along x now spans 3.
    scene.setCamera(camera);
    scene.setUnitScale({ 3, 1, 1 });
    const std::uint32_t id = scene.createObject("c");
    TriMeshPtr mesh = cube();
    scene.setMesh(id, mesh.get());
    const Box b = scene.bounds(0);
    EXPECT_DOUBLE_EQ(b.max.x - b.min.x, 3);
    EXPECT_DOUBLE_EQ(b.max.y - b.min.y, 1);
}

TEST(ScenePicking, ReturnsTheNearestObjectUnderThePixel)
{
    Scene scene;
    TriMeshPtr mesh = cube();
    const std::uint32_t left = scene.createObject("left");
    const std::uint32_t right = scene.createObject("right");
    const std::uint32_t front = scene.createObject("front");
    for (std::uint32_t id : { left, right, front })
        scene.setMesh(id, mesh.get());
    scene.translateObject(left, -2, 0, 0);
    scene.translateObject(right, 2, 0, 0);
    scene.scaleObject(front, 0.8, 0.8, 0.8);
    scene.translateObject(front, 2, 0, 2); // in front of right, nearer the eye
    Camera camera;
    camera.frame({ { 0, 0, 0 }, 4 });
    scene.setCamera(camera);
    const Mat4 pv = scene.projectionView(0, 200, 100);
    const Vec3 l = *projectToScreen(pv, { -2, 0, 0 }, 200, 100);
    const Vec3 r = *projectToScreen(pv, { 2, 0, 0 }, 200, 100);
    EXPECT_EQ(scene.pick(l.x, l.y, 200, 100), left);
    EXPECT_EQ(scene.pick(r.x, r.y, 200, 100), front);
    EXPECT_EQ(scene.pick(100, 50, 200, 100), 0u);
    EXPECT_EQ(scene.pick(-5, 50, 200, 100), 0u);
    // An object not shown in the current sub-view cannot be picked.
    scene.setViewMask(left, 2);
    EXPECT_EQ(scene.pick(l.x, l.y, 200, 100), 0u);
}

TEST(ScenePicking, NonFiniteCoordinatesAreNeverHit)
{
    Scene scene;
    TriMeshPtr mesh = cube();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int i = 0; i < 4; ++i)
        mesh->points[i * 3] = nan;
    const std::uint32_t id = scene.createObject("nan");
    scene.setMesh(id, mesh.get());
    scene.resetCamera();
    // The box leaves the NaN corners out; sweeping picks over the window must not
    // trip the sanitizers.
    const Box b = scene.bounds(0);
    EXPECT_FALSE(b.empty());
    EXPECT_TRUE(isFinite(b.min));
    for (int y = 0; y < 100; y += 7)
        for (int x = 0; x < 200; x += 7)
            scene.pick(x, y, 200, 100);
    EXPECT_EQ(rayTriangle({ { 0, 0, 5 }, { 0, 0, -1 } }, { nan, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }),
        std::nullopt);
}

TEST(SceneSubViews, RectanglesMasksAndCurrentCamera)
{
    Scene scene;
    EXPECT_EQ(scene.addSubView(0.5, 0, 0, 1), -1);
    EXPECT_EQ(scene.addSubView(0.5, 0, std::nan(""), 1), -1);
    const int index = scene.addSubView(0.5, 0.5, 0.5, 0.5);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(scene.viewport(1, 400, 200), (std::array<int, 4> { 200, 100, 200, 100 }));
    EXPECT_EQ(scene.selectSubView(2), 0);
    ASSERT_EQ(scene.selectSubView(1), 1);
    scene.rotateCamera(1, 1);
    scene.selectSubView(0);
    EXPECT_DOUBLE_EQ(scene.camera().eye().x, scene.subView(0).camera.eye().x);
    EXPECT_NE(scene.subView(1).camera.eye().x, scene.subView(0).camera.eye().x);

    // An object of mask 2 counts in the bounds of sub-view 1 only.
    TriMeshPtr mesh = cube();
    const std::uint32_t id = scene.createObject("c");
    scene.setMesh(id, mesh.get());
    scene.setViewMask(id, 2);
    EXPECT_TRUE(scene.bounds(0).empty());
    EXPECT_FALSE(scene.bounds(1).empty());
    scene.showReferenceBox(true);
    EXPECT_DOUBLE_EQ(scene.bounds(0).max.z, 100);
}

// Three clusters of ten small triangles: ahead of the camera, behind it and far to
// its side. Only the first survives the culling, whatever the octants made of them.
TEST(SceneCulling, BlocksOutsideTheFrustumAreSkipped)
{
    const Vec3 places[3] = { { 0, 0, -10 }, { 0, 0, 10 }, { 50, 0, -10 } };
    std::vector<float> points;
    std::vector<std::int32_t> triangles;
    for (const Vec3& c : places)
        for (int i = 0; i < 10; ++i) {
            const float x = float(c.x) + 0.05f * float(i), y = float(i % 3) - 1, z = float(c.z);
            const auto n = std::int32_t(points.size() / 3);
            points.insert(points.end(), { x, y, z, x + 0.5f, y, z, x, y + 0.5f, z });
            triangles.insert(triangles.end(), { n, n + 1, n + 2 });
        }
    auto* p = static_cast<float*>(std::malloc(points.size() * sizeof(float)));
    auto* t = static_cast<std::int32_t*>(std::malloc(triangles.size() * sizeof(std::int32_t)));
    std::copy(points.begin(), points.end(), p);
    std::copy(triangles.begin(), triangles.end(), t);
    TriMeshPtr mesh(triMeshCreate(p, std::int32_t(points.size() / 3), t, 30));
    vexa::mesh::BlockSettings settings;
    settings.maxFacets = 4;
    ASSERT_EQ(vexa::mesh::reconditionMesh(mesh.get(), "m", settings), 1);
    ASSERT_NE(mesh->blocks, nullptr);

    const Mat4 clip
        = perspective(kPi / 3, 1, 0.1, 100) * lookAt({ 0, 0, 0 }, { 0, 0, -1 }, { 0, 1, 0 });
    const Frustum frustum = frustumOf(clip);
    const auto ids = [&](int level) {
        mesh->blocks->shared->visibilityLevel = level;
        std::vector<const MeshBlock*> leaves;
        visibleBlocks(mesh->blocks, frustum, leaves);
        std::vector<int> out;
        for (const MeshBlock* leaf : leaves)
            out.insert(out.end(), leaf->ids, leaf->ids + leaf->nbTriangles);
        std::sort(out.begin(), out.end());
        return out;
    };
    std::vector<int> ahead(10), all(30);
    std::iota(ahead.begin(), ahead.end(), 0);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(ids(100), ahead);
    EXPECT_EQ(ids(0), all); // level 0 tests nothing
    std::vector<const MeshBlock*> leaves;
    partitionLeaves(mesh->blocks, leaves);
    EXPECT_GT(leaves.size(), 3u);

    EXPECT_EQ(classifySphere(frustum, { 0, 0, -10 }, 1), SphereSide::Inside);
    EXPECT_EQ(classifySphere(frustum, { 0, 0, 0 }, 1), SphereSide::Crossing); // the near plane
    EXPECT_EQ(classifySphere(frustum, { 0, 0, 0.5 }, 0.1), SphereSide::Outside);
    EXPECT_EQ(classifySphere(frustum, { 0, 0, -200 }, 50), SphereSide::Outside);
    EXPECT_EQ(classifySphere(frustumOf(Mat4 {}), { 1e9, 0, 0 }, 0), SphereSide::Inside);
    EXPECT_EQ(classifySphere(frustum, { NAN, 0, 0 }, 1), SphereSide::Crossing);
}
