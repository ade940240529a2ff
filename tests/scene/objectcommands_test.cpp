#include "scene/objectcommands.h"

#include "mesh/meshprocessing.h"
#include "mesh/primitives.h"
#include "params/parambox.h"
#include "scene/volume.h"
#include "support/fakehost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

using namespace vexa;

namespace {

class ObjectCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        installHost(&host);
        params::setParamDialogPresenter([](ParamBox* box) { return hostParamDialog(box); });
        mesh::resetMeshProcessingSettings();
        mesh::resetNameCounters();
    }
    void TearDown() override
    {
        params::setParamDialogPresenter({});
        installHost(nullptr);
        mesh::resetMeshProcessingSettings();
    }

    // A sphere object named "boule", optionally merged with a second one at dx.
    std::uint32_t addBall(double secondAt = 0)
    {
        scene::TriMeshPtr ball(mesh::makeSphere(12));
        if (secondAt != 0) {
            scene::TriMeshPtr other(triMeshCopy(ball.get()));
            triMeshTranslate(other.get(), secondAt, 0, 0);
            ball.reset(triMeshMerge(ball.get(), other.get()));
        }
        const std::uint32_t id = scene.createObject("boule");
        scene.setMesh(id, ball.get());
        scene.setColour(id, { 0.2, 0.4, 0.6, 1 });
        return id;
    }

    float firstX(std::uint32_t id) const
    {
        scene::TriMeshPtr copy(scene.copyMesh(id));
        return copy ? copy->points[0] : -1e9f;
    }

    FakeHost host;
    scene::Scene scene;
};

} // namespace

TEST_F(ObjectCommands, TranslationReplacesTheObjectKeepingNameAndColour)
{
    const std::uint32_t id = addBall();
    const float x = firstX(id);
    mesh::keepMeshProcessingSettings(mesh::TranslationSettings { 5, 0, 0 });
    host.queueParamAnswer(1);
    ASSERT_EQ(scene::runObjectCommand(scene, id, "Translation"), 1);
    EXPECT_FALSE(scene.hasObject(id));
    ASSERT_EQ(scene.objectCount(), 1);
    const std::uint32_t made = scene.objectIds()[0];
    EXPECT_EQ(scene.name(made), "boule");
    EXPECT_DOUBLE_EQ(scene.colour(made).g, 0.4);
    EXPECT_FLOAT_EQ(firstX(made), x + 5);
}

TEST_F(ObjectCommands, SmoothingAndSimplificationMakeNumberedObjects)
{
    const std::uint32_t id = addBall();
    const std::int64_t facets = scene.facetCount();
    host.queueParamAnswer(1);
    ASSERT_EQ(scene::runObjectCommand(scene, id, "Lissage"), 1);
    ASSERT_EQ(scene.objectCount(), 1);
    const std::uint32_t smooth = scene.objectIds()[0];
    EXPECT_EQ(scene.name(smooth), "smooth_1");
    EXPECT_EQ(scene.facetCount(), facets);

    // A threshold every triangle passes: something must collapse.
    mesh::keepMeshProcessingSettings(mesh::SimplificationSettings { 10.0, 2 });
    host.queueParamAnswer(1);
    ASSERT_EQ(scene::runObjectCommand(scene, smooth, "Simplification"), 1);
    ASSERT_EQ(scene.objectCount(), 1);
    EXPECT_EQ(scene.name(scene.objectIds()[0]), "simplifie1");
    EXPECT_LT(scene.facetCount(), facets);
}

TEST_F(ObjectCommands, SeparationGivesOneObjectPerBall)
{
    const std::uint32_t id = addBall(10);
    const std::int64_t facets = scene.facetCount();
    ASSERT_EQ(scene::runObjectCommand(scene, id, "Séparation"), 1);
    ASSERT_EQ(scene.objectCount(), 2);
    for (std::uint32_t part : scene.objectIds())
        EXPECT_EQ(scene.name(part), mesh::kSeparatedPartName);
    EXPECT_EQ(scene.facetCount(), facets);
}

TEST_F(ObjectCommands, CancelledBoxUnknownObjectOrLabelChangeNothing)
{
    const std::uint32_t id = addBall();
    const float x = firstX(id);
    mesh::keepMeshProcessingSettings(mesh::TranslationSettings { 5, 0, 0 });
    for (const char* label : { "Translation", "Affinité", "Lissage", "Simplification" }) {
        host.queueParamAnswer(0);
        EXPECT_EQ(scene::runObjectCommand(scene, id, label), 0) << label;
    }
    EXPECT_EQ(host.count(GuiRequest::ParamDialog), 4);
    EXPECT_TRUE(scene.hasObject(id));
    EXPECT_EQ(scene.objectCount(), 1);
    EXPECT_FLOAT_EQ(firstX(id), x);
    EXPECT_DOUBLE_EQ(mesh::meshProcessingSettings().translation.dx, 5);

    const int boxes = host.count(GuiRequest::ParamDialog);
    EXPECT_EQ(scene::runObjectCommand(scene, id + 1000, "Translation"), 0);
    EXPECT_EQ(scene::runObjectCommand(scene, id, "Inconnue"), 0);
    EXPECT_EQ(host.count(GuiRequest::ParamDialog), boxes);
    EXPECT_EQ(scene.objectCount(), 1);
}

TEST_F(ObjectCommands, SceneInformationCountsObjectsAndFacets)
{
    addBall();
    host.queueMessageAnswer(MessageAnswer::Ok);
    ASSERT_EQ(scene::runObjectCommand(scene, 0, "Informations Scène"), 1);
    const std::string expected
        = std::string("Informations Scène|") + mesh::sceneInformationText(1, scene.facetCount());
    bool shown = false;
    for (const FakeHost::Request& request : host.requests())
        shown = shown || request.text == expected;
    EXPECT_TRUE(shown);
}

// A two-voxel volume dark at -x and bright at +x over z < 0 only: the ball's vertices
// take its ramp below z = 0 and keep the object's colour above.
TEST_F(ObjectCommands, VolumeTextureColoursTheVerticesWhereTheyLie)
{
    const std::uint32_t id = addBall();
    EXPECT_EQ(scene::runObjectCommand(scene, id, "Ajouter une texture 3D"), 0);
    EXPECT_EQ(host.count(GuiRequest::ChooseFromList), 0); // no volume: refused at once

    const float ramp[2] = { 0, 1 };
    const std::uint32_t vol = scene.createObject("rampe");
    ASSERT_EQ(scene.setVolume(vol,
                  scene::volumeFromFloats(ramp, 2, 1, 1, { { 0, 0, 0, 0, 0 }, { 1, 1, 1, 1, 1 } })),
        1);
    ASSERT_EQ(scene.setVolumeBox(vol, { -2, -2, -2 }, { 4, 4, 2 }), 1);
    ASSERT_EQ(scene.translateObject(vol, 1, 1, 1), 1); // placement counts: box (-1..3, .., -1..1)
    ASSERT_EQ(scene.translateObject(id, 0, 0, 0.5), 1); // so does the mesh's

    EXPECT_EQ(scene::runObjectCommand(scene, id, "Ajouter une texture 3D"), 0); // list cancelled
    host.queueListAnswer(0);
    ASSERT_EQ(scene::runObjectCommand(scene, id, "Ajouter une texture 3D"), 1);
    scene.readObject(id, [](const scene::SceneObject& object) {
        ASSERT_EQ(object.vertexColours.size(), std::size_t(object.mesh->nbPoints) * 4);
        int inside = 0, outside = 0;
        for (int i = 0; i < object.mesh->nbPoints; ++i) {
            const float* p = object.mesh->points + i * 3;
            const std::uint8_t* c = &object.vertexColours[std::size_t(i) * 4];
            EXPECT_EQ(c[3], 255);
            if (p[2] + 0.5f > 1.001f) {
                ++outside;
                EXPECT_EQ((std::array<int, 3> { c[0], c[1], c[2] }),
                    (std::array<int, 3> { 51, 102, 153 }));
                continue;
            }
            ++inside;
            // Voxel centres at world x 0 (value 0) and 2 (value 1).
            const double expected = 255 * std::clamp(double(p[0]) / 2, 0.0, 1.0);
            EXPECT_NEAR(c[0], expected, 1.5) << p[0];
            EXPECT_EQ(c[0], c[2]);
        }
        EXPECT_GT(inside, 10);
        EXPECT_GT(outside, 10);
    });
}
