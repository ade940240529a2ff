// "Rendu volumique" run as a task on a volume of the registry: the volume object it puts
// in the image's 3D view, its colours, and what it refuses.
#include "processingtestsupport.h"

#include "processing/volumerendercommand.h"
#include "scene/scene.h"
#include "scene/volume.h"

#include <cstdint>

using namespace vexa;

namespace {

constexpr int kVolumeRendering = 1241;

class VolumeRenderCommand : public vexa::testing::ProcessingFixture {
protected:
    static std::shared_ptr<scene::Scene> sceneOf(DataRecord* image)
    {
        DataRecord* view = dataFindView3dOf(image);
        if (!view || view == image)
            return nullptr;
        auto* object = dynamic_cast<scene::View3dObject*>(view->kindObject());
        return object ? object->scene : nullptr;
    }

    // The volume objects of the scene (name, samples).
    struct Shown {
        std::uint32_t id = 0;
        std::string name;
        std::shared_ptr<const scene::Volume> volume;
    };
    static std::vector<Shown> volumes(const scene::Scene& s)
    {
        std::vector<Shown> found;
        for (std::uint32_t id : s.objectIds())
            s.readObject(id, [&](const scene::SceneObject& o) {
                if (o.type == scene::OBJECT_VOLUME)
                    found.push_back({ o.id, o.name, o.volume });
            });
        return found;
    }

    int alerts() const { return host.count(GuiRequest::MessageBox); }
};

} // namespace

TEST_F(VolumeRenderCommand, AddsOneVolumeToTheLinkedViewAndReplacesItOnASecondRun)
{
    DataRecord* block = volume(4, 3, 2, TYPEDATA_U8);
    fill<std::uint8_t>(block, [](int x, int, int z) { return 10 * x + 100 * z; });
    dataActivate(block);
    run(kVolumeRendering);
    EXPECT_EQ(alerts(), 0);

    auto made = outputs({ block });
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0]->kind, DATA_VIEW3D);
    EXPECT_EQ(made[0]->linkGroup, block->linkGroup);
    auto view = sceneOf(block);
    ASSERT_TRUE(view);
    auto first = volumes(*view);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].name, processing::kVolumeObjectName);
    ASSERT_TRUE(first[0].volume);
    const scene::Volume& v = *first[0].volume;
    EXPECT_EQ(v.nx, 4);
    EXPECT_EQ(v.ny, 3);
    EXPECT_EQ(v.nz, 2);
    ASSERT_EQ(v.rgba.size(), 4u * 3 * 2 * 4);
    // The window shows 0 .. 255 unchanged: 0 is clear, 130 about half opaque.
    EXPECT_EQ(v.rgba[3], 0);
    EXPECT_EQ(v.rgba[v.rgba.size() - 1], 130);

    // Again, after another object was added: the volume is replaced, the rest stays.
    view->createObject("autre");
    run(kVolumeRendering);
    EXPECT_EQ(outputs({ block }).size(), 1u);
    auto second = volumes(*view);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second[0].volume, first[0].volume);
    EXPECT_EQ(view->objectCount(), 2);
    EXPECT_EQ(alerts(), 0);
}

TEST_F(VolumeRenderCommand, TheDisplayedRangeSetsTheOpacities)
{
    DataRecord* block = volume(2, 1, 1, TYPEDATA_F32);
    fill<float>(block, [](int x, int, int) { return x == 0 ? 10.0f : 20.0f; });
    // The window shows 10 .. 30: 10 is clear, 20 half opaque.
    block->block()->valueGain = 255.0 / 20.0;
    block->block()->valueOffset = -10.0 * 255.0 / 20.0;
    dataActivate(block);
    // Samples read as they are, then read through the value scale: the same picture.
    for (int scaleOn : { 0, 1 }) {
        block->block()->valueScaleOn = scaleOn;
        run(kVolumeRendering);
        auto view = sceneOf(block);
        ASSERT_TRUE(view);
        auto shown = volumes(*view);
        ASSERT_EQ(shown.size(), 1u);
        const std::vector<std::uint8_t>& rgba = shown[0].volume->rgba;
        ASSERT_EQ(rgba.size(), 8u);
        EXPECT_EQ(rgba[3], 0) << scaleOn;
        EXPECT_NEAR(rgba[7], 127, 1) << scaleOn;
    }
    // A correction of gain 0 shows no range: the block's own one is taken.
    block->block()->valueGain = 0;
    block->block()->valueScaleOn = 0;
    run(kVolumeRendering);
    auto shown = volumes(*sceneOf(block));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].volume->rgba[7], 255);
    EXPECT_EQ(alerts(), 0);
}

TEST_F(VolumeRenderCommand, RefusesWhatIsNotAScalarBlock)
{
    DataRecord* flat = image<std::uint8_t>(2, 2, TYPEDATA_U8, { 1, 2, 3, 4 });
    run(kVolumeRendering);
    EXPECT_EQ(alerts(), 1);
    EXPECT_EQ(sceneOf(flat), nullptr);

    DataRecord* colours = volume(2, 2, 2, TYPEDATA_RGBA);
    dataActivate(colours);
    run(kVolumeRendering);
    EXPECT_EQ(alerts(), 2);
    EXPECT_EQ(sceneOf(colours), nullptr);
    EXPECT_TRUE(outputs({ flat, colours }).empty());
}
