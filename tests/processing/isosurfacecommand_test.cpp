// "Extraction de surface de niveau" run as a task on a volume of the registry: the box,
// the remembered values and the objects it adds to the image's 3D view.
#include "processingtestsupport.h"

#include "mesh/isosurface.h"
#include "scene/scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>

using namespace vexa;

namespace {

constexpr int kExtraction = 1240;

struct Body {
    std::string name;
    int points = 0, triangles = 0;
    bool closed = false;
    scene::Colour colour;
};

class IsoSurfaceCommand : public vexa::testing::ProcessingFixture {
protected:
    void SetUp() override
    {
        ProcessingFixture::SetUp();
        mesh::resetIsoSurfaceSettings();
    }

    void TearDown() override
    {
        ProcessingFixture::TearDown();
        mesh::resetIsoSurfaceSettings();
    }

    // A 32³ volume of 0 with 1s in balls of radius 8 around the given centres.
    DataRecord* balls(std::vector<std::array<double, 3>> centres)
    {
        DataRecord* block = volume(32, 32, 32, TYPEDATA_U8);
        fill<std::uint8_t>(block, [&](int x, int y, int z) {
            for (const auto& c : centres)
                if (std::hypot(x - c[0], y - c[1], z - c[2]) <= 8.0)
                    return 1;
            return 0;
        });
        dataActivate(block);
        return block;
    }

    static void remember(bool separate, bool limitPoints = false)
    {
        mesh::IsoSurfaceSettings s = mesh::isoSurfaceSettings();
        s.seuil1 = 0.5;
        s.separateBodies = separate;
        s.limitPoints = limitPoints;
        s.maxPoints = 10;
        mesh::keepIsoSurfaceSettings(s);
    }

    // Every edge of a closed surface borders exactly two triangles.
    static bool isClosed(const TriMesh& m)
    {
        std::map<std::pair<int, int>, int> edges;
        for (int t = 0; t < m.nbTriangles; ++t)
            for (int k = 0; k < 3; ++k) {
                int a = m.triangles[3 * t + k], b = m.triangles[3 * t + (k + 1) % 3];
                ++edges[{ std::min(a, b), std::max(a, b) }];
            }
        for (const auto& [edge, count] : edges)
            if (count != 2)
                return false;
        return !edges.empty();
    }

    static std::shared_ptr<scene::Scene> sceneOf(DataRecord* image)
    {
        DataRecord* view = dataFindView3dOf(image);
        if (!view || view == image)
            return nullptr;
        auto* object = dynamic_cast<scene::View3dObject*>(view->kindObject());
        return object ? object->scene : nullptr;
    }

    static std::vector<Body> bodies(const scene::Scene& s)
    {
        std::vector<Body> found;
        for (std::uint32_t id : s.objectIds())
            s.readObject(id, [&](const scene::SceneObject& o) {
                Body b { o.name, 0, 0, false, o.material.diffuse };
                if (o.mesh) {
                    b.points = o.mesh->nbPoints;
                    b.triangles = o.mesh->nbTriangles;
                    b.closed = isClosed(*o.mesh);
                }
                found.push_back(b);
            });
        return found;
    }

    int alerts() const { return host.count(GuiRequest::MessageBox); }
};

} // namespace

TEST_F(IsoSurfaceCommand, SphereBecomesOneClosedObjectOfANewViewLinkedToTheImage)
{
    DataRecord* block = balls({ { 15.5, 15.5, 15.5 } });
    remember(false);
    answer();
    run(kExtraction);
    EXPECT_NE(boxes.back().find("Séparation des corps|"), std::string::npos) << boxes.back();

    auto made = outputs({ block });
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->kind, DATA_VIEW3D);
    EXPECT_EQ(made[0]->linkGroup, block->linkGroup);
    auto view = sceneOf(block);
    ASSERT_TRUE(view);
    auto objects = bodies(*view);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].name, "extract_surface_in");
    EXPECT_GT(objects[0].triangles, 500);
    EXPECT_TRUE(objects[0].closed);
    const scene::Colour c = objects[0].colour;
    EXPECT_GE(c.r + c.g + c.b, 1.0); // random colour mode 1
    EXPECT_EQ(c.a, 1.0);
    EXPECT_EQ(alerts(), 0);

    // A second run goes to the same view.
    answer();
    run(kExtraction);
    EXPECT_EQ(outputs({ block }).size(), 1u);
    EXPECT_EQ(view->objectCount(), 2);
}

TEST_F(IsoSurfaceCommand, CancelledBoxAddsNothingAndKeepsTheRememberedValues)
{
    DataRecord* block = balls({ { 15.5, 15.5, 15.5 } });
    remember(false);
    {
        // The user changes the level, then cancels.
        std::lock_guard lock(mutex);
        edits.push_back([](ParamBox& box) {
            for (ParamItem& item : box.items)
                if (item.label == "Seuil 1")
                    *static_cast<double*>(item.value) = 99.0;
        });
    }
    run(kExtraction);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(outputs({ block }).empty());
    EXPECT_EQ(mesh::isoSurfaceSettings().seuil1, 0.5);
    EXPECT_FALSE(mesh::isoSurfaceSettings().separateBodies);
    EXPECT_EQ(alerts(), 0);
}

TEST_F(IsoSurfaceCommand, SeparationGivesOneClosedObjectPerBody)
{
    DataRecord* block = balls({ { 10, 10, 10 }, { 22, 22, 22 } });
    remember(true);
    answer();
    run(kExtraction);
    auto view = sceneOf(block);
    ASSERT_TRUE(view);
    auto objects = bodies(*view);
    ASSERT_EQ(objects.size(), 2u);
    for (const Body& b : objects) {
        EXPECT_EQ(b.name, "extract_surface_out");
        EXPECT_TRUE(b.closed);
    }
    // Equal balls, drawn apart.
    EXPECT_EQ(objects[0].triangles, objects[1].triangles);
    EXPECT_NE(objects[0].colour.r, objects[1].colour.r);
}

TEST_F(IsoSurfaceCommand, RefusalsAndTheLimitAlert)
{
    // One slice has no surface to extract: told before any box.
    DataRecord* flat = volume(8, 8, 1, TYPEDATA_U8);
    dataActivate(flat);
    run(kExtraction);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(alerts(), 1);
    EXPECT_EQ(sceneOf(flat), nullptr);

    // A restricted box wholly outside the volume is refused with its reason.
    DataRecord* block = balls({ { 15.5, 15.5, 15.5 } });
    mesh::IsoSurfaceSettings s = mesh::isoSurfaceSettings();
    s.seuil1 = 0.5;
    s.region = 1;
    s.x1 = s.y1 = s.z1 = 200;
    s.x2 = s.y2 = s.z2 = 300;
    mesh::keepIsoSurfaceSettings(s);
    answer();
    run(kExtraction);
    EXPECT_EQ(alerts(), 2);
    EXPECT_EQ(sceneOf(block), nullptr);

    // A reached limit stops the walk with the alert; what was built is kept.
    mesh::resetIsoSurfaceSettings();
    remember(false, true);
    answer();
    run(kExtraction);
    EXPECT_EQ(alerts(), 3);
    auto view = sceneOf(block);
    ASSERT_TRUE(view);
    auto objects = bodies(*view);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_GT(objects[0].triangles, 0);
    EXPECT_FALSE(objects[0].closed); // the top of the ball was never reached
}
