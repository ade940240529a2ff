// The 3D view callbacks, reached by name the way a C plug-in reaches them: a scene built
// object by object, then edited, searched and emptied through the view's identifier.
#include "../tasks/tasktestsupport.h"

#include "mesh/meshapi.h"
#include "plugins/callbacktable.h"
#include "plugins/libraries.h"
#include "scene/scene.h"
#include "scene/volume.h"

#include <cmath>
#include <cstring>
#include <set>

using namespace vexa;

namespace {

using NewFn = unsigned int (*)(void);
using CreateFn = unsigned int (*)(int);
using NameFn = int (*)(unsigned int, const char*);
using ColourFn = int (*)(unsigned int, double, double, double, double);
using MeshFn = int (*)(unsigned int, const Mesh3d*);
using TextureFn = int (*)(unsigned int, const uint8_t*, int, int, const float*, int32_t);
using AddFn = int (*)(unsigned int, unsigned int);
using SizeFn = int (*)(unsigned int, double, double, double);
using SnapshotFn = unsigned int (*)(unsigned int, int, int);
using VolumeDataFn = int (*)(unsigned int, unsigned int, double, double);
using VolumeBoxFn = int (*)(unsigned int, double, double, double, double, double, double);
using VolumeFn = int (*)(unsigned int, const float*, int, int, int, const double*, int32_t);

template <typename F> F lookup(const char* name)
{
    return reinterpret_cast<F>(vexaCallbackLookup(name));
}

class View3dCallbacks : public vexa::testing::TaskFixture {
protected:
    void SetUp() override
    {
        TaskFixture::SetUp();
        taskSetObjectFactory([](int, int, int) -> std::unique_ptr<KindObject> {
            return std::make_unique<scene::View3dObject>();
        });
        taskMainContext();
        view = lookup<NewFn>("vexaView3dNew")();
        ASSERT_NE(view, 0u);
    }
    void TearDown() override
    {
        taskSetObjectFactory(nullptr);
        TaskFixture::TearDown();
    }
    scene::Scene* sceneOf(unsigned int id)
    {
        DataRecord* record = dataFind(id);
        auto* object = record ? dynamic_cast<scene::View3dObject*>(record->view3d.get()) : nullptr;
        return object ? object->scene.get() : nullptr;
    }
    // A named object holding the mesh, added to the view; its identifier.
    unsigned int addNamed(const char* name, Mesh3d* mesh)
    {
        const unsigned int id = lookup<CreateFn>("dozObject3dCreate")(1);
        EXPECT_EQ(lookup<NameFn>("vexaObject3dSetName")(id, name), 1);
        EXPECT_EQ(lookup<MeshFn>("vexaObject3dSetMesh3d")(id, mesh), 1);
        EXPECT_EQ(lookup<AddFn>("dozDataView3DAddObject3d")(view, id), 1);
        vexaMesh3dFree(mesh);
        return id;
    }
    unsigned int view = 0;
};

// Renders every pixel as its own index, so a shifted or cut copy shows.
class PaintingHost : public FakeHost {
public:
    bool snapshotView3d(
        DataRecord& record, int width, int height, std::vector<std::uint8_t>& rgba) override
    {
        seen = &record;
        rgba.resize(std::size_t(width) * std::size_t(height) * 4);
        for (std::size_t i = 0; i < rgba.size(); ++i)
            rgba[i] = std::uint8_t(i);
        return true;
    }
    DataRecord* seen = nullptr;
};

} // namespace

TEST_F(View3dCallbacks, BuildsEditsAndEmptiesAScene)
{
    const double from[3] = { 0, 0, 0 }, to[3] = { 0, 0, 2 };
    const unsigned int sphere = addNamed("boule", vexaMesh3dSphere(8));
    const unsigned int arrow = addNamed("fleche", vexaMesh3dArrow(from, to, 0.2, 8));
    const unsigned int cube = addNamed("boule", vexaMesh3dCube());
    EXPECT_TRUE(sphere && arrow && cube && sphere != arrow && arrow != cube);

    // The view's output was shown for its scene to exist.
    scene::Scene* scene = sceneOf(view);
    ASSERT_TRUE(scene);
    ASSERT_EQ(scene->objectCount(), 3);
    const scene::Box all = scene->bounds(0);
    EXPECT_NEAR(scene->camera().target().x, (all.min.x + all.max.x) / 2, 1e-6);
    std::string shape;
    scene->readObject(cube, [&](const scene::SceneObject& o) { shape = o.shapeName; });
    EXPECT_EQ(shape, "CUBE"); // the primitive's hasMatrix placement was taken

    // A primitive moved by the mesh callbacks is drawn where they put it, once.
    Mesh3d* ball = vexaMesh3dSphere(12);
    vexaMesh3dScale(ball, 15, 15, 15);
    vexaMesh3dTranslate(ball, 25, 50, 50);
    scene::Box expected;
    for (int i = 0; i < ball->nbPoints; ++i)
        expected.add(
            scene::Vec3 { ball->points[3 * i], ball->points[3 * i + 1], ball->points[3 * i + 2] });
    const unsigned int moved = addNamed("deplacee", ball);
    scene::Box box;
    scene->readObject(moved, [&](const scene::SceneObject& o) {
        box = scene::transformBox(scene->modelMatrix(o), o.meshBounds);
    });
    EXPECT_NEAR(box.min.x, expected.min.x, 1e-3);
    EXPECT_NEAR(box.max.y, expected.max.y, 1e-3);
    EXPECT_NEAR(box.max.z, expected.max.z, 1e-3);
    EXPECT_EQ(lookup<AddFn>("vexaView3dDeleteObject3d")(view, moved), 1);

    // Setters still reach an object once it is in the view.
    EXPECT_EQ(lookup<ColourFn>("dozObject3dSetColor")(arrow, 1, 0, 0, 1), 1);
    EXPECT_EQ(scene->colour(arrow).r, 1);
    EXPECT_EQ(lookup<NameFn>("dozObject3dSetName")(arrow, "vecteur"), 1);
    EXPECT_EQ(scene->name(arrow), "vecteur");

    // Adds kept framing the whole scene; a camera set by the plug-in stays.
    using CameraFn = int (*)(unsigned int, const double*, const double*, const double*, double);
    const double eye[3] = { 0, 0, 500 }, at[3] = { 0, 0, 0 }, up[3] = { 0, 1, 0 };
    ASSERT_EQ(lookup<CameraFn>("vexaView3dSetCamera")(view, eye, at, up, 2), 1);
    EXPECT_EQ(lookup<CameraFn>("vexaView3dSetCamera")(view, eye, eye, up, 2), 0);

    using SurfaceFn
        = unsigned int (*)(unsigned int, const Mesh3d*, const char*, double, double, double);
    Mesh3d* surface = vexaMesh3dCube();
    const unsigned int added
        = lookup<SurfaceFn>("dozDataAddSurface3d")(view, surface, "surface", 0, 0, 1);
    vexaMesh3dFree(surface);
    ASSERT_NE(added, 0u);
    EXPECT_EQ(scene->name(added), "surface");
    EXPECT_EQ(scene->colour(added).b, 1);
    EXPECT_EQ(scene->camera().eye().z, 500);
    EXPECT_EQ(scene->camera().zoom(), 2);
    EXPECT_EQ(lookup<AddFn>("vexaView3dDeleteObject3d")(view, added), 1);

    // An object is added once; unknown objects and views do nothing.
    EXPECT_EQ(lookup<AddFn>("vexaView3dAddObject3d")(view, sphere), 0);
    EXPECT_EQ(lookup<AddFn>("vexaView3dAddObject3d")(view, 987654), 0);
    EXPECT_EQ(
        lookup<AddFn>("vexaView3dAddObject3d")(987654, lookup<CreateFn>("vexaObject3dCreate")(1)),
        0);
    EXPECT_EQ(lookup<NameFn>("vexaObject3dSetName")(987654, "x"), 0);
    EXPECT_EQ(lookup<ColourFn>("vexaObject3dSetColor")(987654, 0, 0, 0, 1), 0);

    // Deleting by name removes every object of that name, and only those.
    EXPECT_EQ(lookup<NameFn>("dozDataView3DDeleteObject3dByName")(view, "boule"), 2);
    EXPECT_EQ(scene->objectIds(), std::vector<std::uint32_t> { arrow });
    EXPECT_EQ(lookup<NameFn>("vexaView3dDeleteObject3dByName")(view, "boule"), 0);
    // A deleted object is gone for the setters too.
    EXPECT_EQ(lookup<NameFn>("vexaObject3dSetName")(sphere, "x"), 0);
    EXPECT_EQ(lookup<AddFn>("dozDataView3DDeleteObject3d")(view, arrow), 1);
    EXPECT_EQ(lookup<AddFn>("vexaView3dDeleteObject3d")(view, arrow), 0);
    EXPECT_EQ(scene->objectCount(), 0);
}

TEST_F(View3dCallbacks, RefusesBadInputAndKeepsWhatWasThere)
{
    EXPECT_EQ(lookup<CreateFn>("vexaObject3dCreate")(0), 0u);
    EXPECT_EQ(lookup<CreateFn>("vexaObject3dCreate")(6), 0u);
    const unsigned int id = lookup<CreateFn>("vexaObject3dCreate")(1);
    Mesh3d* cube = vexaMesh3dCube();
    ASSERT_EQ(lookup<MeshFn>("vexaObject3dSetMesh3d")(id, cube), 1);

    // A placement that is not finite, or an index past the points, is refused and the
    // earlier mesh stays.
    cube->extra->matrix[12] = std::nan("");
    EXPECT_EQ(lookup<MeshFn>("vexaObject3dSetMesh3d")(id, cube), 0);
    cube->extra->matrix[12] = 0;
    cube->triangles[5] = cube->nbPoints;
    EXPECT_EQ(lookup<MeshFn>("vexaObject3dSetMesh3d")(id, cube), 0);
    vexaMesh3dFree(cube);
    ASSERT_EQ(lookup<AddFn>("vexaView3dAddObject3d")(view, id), 1);
    EXPECT_EQ(sceneOf(view)->facetCount(), 12);

    EXPECT_EQ(lookup<ColourFn>("vexaObject3dSetColor")(id, 2, 0, 0, 1), 0);
    EXPECT_EQ(lookup<NameFn>("vexaObject3dSetName")(id, nullptr), 0);
    const std::uint8_t pixel[4] = { 1, 2, 3, 4 };
    EXPECT_EQ(
        lookup<TextureFn>("dozObject3dSetTexture")(id, pixel, 1 << 20, 1 << 20, nullptr, 0), 0);
    EXPECT_EQ(lookup<TextureFn>("vexaObject3dSetTexture")(id, pixel, 1, 1, nullptr, 0), 1);
    EXPECT_EQ(lookup<SizeFn>("vexaView3dSetSize")(view, 10, -1, 10), 0);
    EXPECT_EQ(lookup<SizeFn>("vexaView3dSetSize")(view, 10, 20, 30), 1);
    EXPECT_EQ(sceneOf(view)->referenceBox().y, 20);

    // A host without OpenGL: no image.
    EXPECT_EQ(lookup<SnapshotFn>("vexaView3dSnapshot")(view, 64, 64), 0u);

    // An image is not a view.
    DataRecord* image = newImage(4, 4);
    EXPECT_EQ(lookup<AddFn>("vexaView3dAddObject3d")(
                  image->imageId, lookup<CreateFn>("vexaObject3dCreate")(1)),
        0);
}

// The sample plug-in, compiled against the SDK header alone, builds its scene on a
// worker: the exchanged records and the callbacks' types agree with the workstation's.
TEST_F(View3dCallbacks, SamplePluginBuildsItsSceneOnAWorker)
{
    using namespace vexa::plugins;
    ASSERT_EQ(loadLibrary(std::string(VEXA_BIN_DIR) + "/plugins/vexa_exemples.so", true), kLoaded);
    auto menu = menus::MenuNode::subMenu("Traitement 2D");
    appendInsertedMenus(*menu, MenuLocation::Menu2d);
    int command = 0;
    for (const auto& popup : menu->children)
        for (const auto& item : popup->children)
            if (item->text == "Scène 3D")
                command = item->id;
    ASSERT_NE(command, 0);
    ASSERT_TRUE(runLibraryCommand(command));
    ASSERT_TRUE(waitForWorkers());
    host.processPending();
    unloadAllLibraries();

    scene::Scene* built = nullptr;
    for (DataRecord* record : dataListAll())
        if (record->kind == DATA_VIEW3D && record->imageId != view)
            built = sceneOf(record->imageId);
    ASSERT_TRUE(built);
    std::set<std::string> names;
    for (std::uint32_t id : built->objectIds())
        names.insert(built->name(id));
    EXPECT_EQ(names, (std::set<std::string> { "sphere", "flèche", "cube" }));
    EXPECT_GT(built->facetCount(), 12);
}

TEST_F(View3dCallbacks, SnapshotIsAnRgbaImageOfTheRenderedPixels)
{
    PaintingHost painter;
    installHost(&painter);
    const unsigned int image = lookup<SnapshotFn>("vexaView3dSnapshot")(view, 5, 3);
    const unsigned int tooLarge = lookup<SnapshotFn>("vexaView3dSnapshot")(view, 16384, 16384);
    const unsigned int notAView = lookup<SnapshotFn>("vexaView3dSnapshot")(987654, 5, 3);
    installHost(&host);
    EXPECT_EQ(tooLarge, 0u);
    EXPECT_EQ(notAView, 0u);
    ASSERT_NE(image, 0u);
    EXPECT_EQ(painter.seen, dataFind(view));
    EXPECT_EQ(dozDataGetTypeData(image), TYPEDATA_RGBA);
    EXPECT_EQ(dozDataGetWidth(image), 5);
    const auto* p = static_cast<const std::uint8_t*>(dozDataGetPtr(image));
    ASSERT_TRUE(p);
    for (int i = 0; i < 5 * 3 * 4; ++i)
        ASSERT_EQ(p[i], i) << i;
}

// The volume callbacks as a plug-in calls them: a block's samples, then floats with a
// transfer function; refused sizes, points and unknown identifiers leave the object as
// it was.
TEST_F(View3dCallbacks, VolumesOfABlockAndOfFloats)
{
    auto object = std::make_unique<ImageObject>();
    object->block = std::make_unique<BlockDescriptor>();
    BlockDescriptor& b = *object->block;
    b.dimX = 3;
    b.dimY = 2;
    b.dimZ = 2;
    b.typeData = TYPEDATA_U8;
    ASSERT_TRUE(blockPrepareStorage(b));
    auto* samples = static_cast<std::uint8_t*>(b.samples.data());
    for (std::size_t i = 0; i < 12; ++i)
        samples[i] = std::uint8_t(20 * i);
    DataRecord* block = dataCreateImage(std::move(object), kFreshId, kFreshId);
    ASSERT_TRUE(block);

    const unsigned int id = lookup<CreateFn>("vexaObject3dCreate")(3);
    ASSERT_EQ(lookup<AddFn>("vexaView3dAddObject3d")(view, id), 1);
    scene::Scene* scene = sceneOf(view);
    ASSERT_TRUE(scene);
    auto volumeOf = [&] {
        std::shared_ptr<const scene::Volume> v;
        scene::Box box;
        scene->readObject(id, [&](const scene::SceneObject& o) {
            v = o.volume;
            box = o.volumeBox;
        });
        return std::make_pair(v, box);
    };

    // Unknown block or object, and a range upside down: nothing is set.
    EXPECT_EQ(lookup<VolumeDataFn>("dozObject3dSetVolumeData")(id, 987654, 0, 0), 0);
    EXPECT_EQ(lookup<VolumeDataFn>("vexaObject3dSetVolumeData")(987654, block->blockId, 0, 0), 0);
    EXPECT_EQ(lookup<VolumeDataFn>("vexaObject3dSetVolumeData")(id, block->blockId, 9, 1), 0);
    EXPECT_FALSE(volumeOf().first);

    // The block's own range: the first voxel clear, the last opaque; the box is the
    // block's until moved.
    ASSERT_EQ(lookup<VolumeDataFn>("vexaObject3dSetVolumeData")(id, block->blockId, 0, 0), 1);
    auto [fromBlock, box] = volumeOf();
    ASSERT_TRUE(fromBlock);
    EXPECT_EQ(fromBlock->voxelCount(), 12);
    ASSERT_EQ(fromBlock->rgba.size(), 48u);
    EXPECT_EQ(fromBlock->rgba[3], 0);
    EXPECT_EQ(fromBlock->rgba[47], 255);
    EXPECT_EQ(box.max.x, 3);
    EXPECT_EQ(box.max.z, 2);

    EXPECT_EQ(lookup<VolumeBoxFn>("vexaObject3dSetVolumeLocation")(id, 1, 2, 3, 0, 5, 5), 0);
    EXPECT_EQ(
        lookup<VolumeBoxFn>("vexaObject3dSetVolumeLocation")(id, std::nan(""), 0, 0, 1, 1, 1), 0);
    EXPECT_EQ(lookup<VolumeBoxFn>("dozObject3dSetVolumeLocation")(987654, 0, 0, 0, 1, 1, 1), 0);
    EXPECT_EQ(volumeOf().second.max.x, 3);
    ASSERT_EQ(lookup<VolumeBoxFn>("dozObject3dSetVolumeLocation")(id, 1, 2, 3, 10, 20, 30), 1);
    EXPECT_EQ(volumeOf().second.min.y, 2);
    EXPECT_EQ(volumeOf().second.max.z, 33);

    // Floats through a transfer function; refusals keep the block's volume.
    const float values[8] = { 0, 1, 2, 3, 4, 5, 6, 7 };
    const double transfer[10] = { 0, 0, 0, 0, 0, 7, 1, 1, 1, 1 };
    const double backwards[10] = { 7, 0, 0, 0, 0, 0, 1, 1, 1, 1 };
    auto setFloats = lookup<VolumeFn>("vexaObject3dSetVolume");
    EXPECT_EQ(setFloats(id, values, 2, 2, 0, transfer, 2), 0);
    EXPECT_EQ(setFloats(id, values, scene::kMaxVolumeSide + 1, 1, 1, transfer, 2), 0);
    EXPECT_EQ(setFloats(id, values, 2, 2, 2, backwards, 2), 0);
    EXPECT_EQ(setFloats(id, values, 2, 2, 2, transfer, 1), 0);
    EXPECT_EQ(setFloats(id, nullptr, 2, 2, 2, transfer, 2), 0);
    EXPECT_EQ(setFloats(987654, values, 2, 2, 2, transfer, 2), 0);
    EXPECT_EQ(volumeOf().first, fromBlock);
    ASSERT_EQ(lookup<VolumeFn>("dozObject3dSetVolume")(id, values, 2, 2, 2, transfer, 2), 1);
    auto fromFloats = volumeOf().first;
    ASSERT_TRUE(fromFloats);
    EXPECT_EQ(fromFloats->format, scene::VOLUME_R32F);
    EXPECT_EQ(fromFloats->values.size(), 8u);
    EXPECT_EQ(fromFloats->transfer.size(), std::size_t(scene::kTransferEntries) * 4);
    EXPECT_EQ(scene->objectCount(), 1);
}
