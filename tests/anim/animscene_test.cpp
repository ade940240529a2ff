#include "fakeanimtarget.h"

#include "data/dataopen.h"
#include "data/registry.h"
#include "host/host.h"
#include "params/paramapi.h"
#include "params/parambox.h"
#include "quill.h"
#include "scene/anim.h"
#include "scene/animscene.h"
#include "scene/motion.h"
#include "support/fakehost.h"
#include "support/tempdir.h"
#include "tasks/workerthread.h"
#include "vexafile.h"

#ifdef VEXA_ANIM_FILMS
#include "video/filmreader.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>

using namespace vexa;
using namespace vexa::scene;

namespace {

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A U8 volume of w x h x d whose sample is x + 10 y + 100 z (mod 256).
void writeVolume(const std::string& path, int w, int h, int d)
{
    FileDescriptor* desc = vexaFileNew();
    vexaFileSetFullName(desc, path.c_str());
    vexaFileSetSizes(desc, w, h, d);
    vexaFileSetTypeData(desc, TYPEDATA_U8);
    vexaFileSetHeader(desc, VEXAFILE_HEADER_GDR);
    ASSERT_EQ(vexaFileWriteHeader(desc), 1);
    std::vector<std::uint8_t> samples(std::size_t(w) * h * d);
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                samples[(std::size_t(z) * h + y) * w + x] = std::uint8_t(x + 10 * y + 100 * z);
    ASSERT_EQ(vexaFileWriteBlock(desc, samples.data()), 1);
    vexaFileRelease(desc);
}

double angleBetween(Vec3 a, Vec3 b)
{
    return std::acos(std::clamp(dot(normalised(a), normalised(b)), -1.0, 1.0));
}

} // namespace

TEST(AnimScene, BuildsTexturedObjectsAndMovesTheCameraOfARealScene)
{
    vexatest::TempDir dir("vexa-anim");
    writeVolume(dir.file("vol.gdr"), 8, 6, 4);
    const std::string path = dir.file("a.xml");
    writeText(path,
        "<ANIM><REFERENCE WIDTH='8' HEIGHT='6' DEPTH='4' VISIBILITY='0'/>"
        "<OBJECT NAME='front'><FRONT FILENAME='vol.gdr' X1='0' Y1='0' X2='7' Y2='5' "
        "NO='2'/></OBJECT>"
        "<OBJECT NAME='slice'><SLICE FILENAME='vol.gdr' X1='0' Z1='0' X2='7' Z2='3' Y='0' "
        "DY='5'/></OBJECT>"
        "<OBJECT NAME='hf'><SURFACE FILENAME='vol.gdr' STEP='2'><TEXTURE><FRONT FILENAME='vol.gdr' "
        "X1='1' Y1='1' X2='3' Y2='2' NO='3'/></TEXTURE></SURFACE></OBJECT>"
        "<CAMERA INCREMENTAL='4' ROTATEY='1.0'/><FRAME NB='6'/><DELETE NAME='hf'/></ANIM>");
    auto scene = std::make_shared<Scene>();
    scene->setReferenceBox(8, 6, 4);
    scene->resetCamera();
    SceneAnimTarget target(scene);
    const Vec3 before = scene->camera().eye() - scene->camera().target();
    ASSERT_EQ(playAnimation(path, target), 1);
    EXPECT_EQ(target.framesRendered(), 6);
    EXPECT_FALSE(scene->referenceBoxShown());
    EXPECT_DOUBLE_EQ(scene->referenceBox().x, 8);
    // The four incremental quarter turns make one radian.
    const Vec3 after = scene->camera().eye() - scene->camera().target();
    EXPECT_NEAR(angleBetween(before, after), 1.0, 1e-6);

    ASSERT_EQ(scene->objectCount(), 2);
    for (std::uint32_t id : scene->objectIds()) {
        scene->readObject(id, [&](const SceneObject& o) {
            ASSERT_NE(o.texture, nullptr) << o.name;
            EXPECT_EQ(o.type, OBJECT_SLICE);
            if (o.name == "front") {
                EXPECT_EQ(o.texture->width, 8);
                EXPECT_EQ(o.texture->height, 6);
                // The file's image is its first plane, wherever NO puts the quad:
                // sample (1, 2) as a grey pixel.
                const std::uint8_t* p = o.texture->rgba.data() + 4 * (2 * 8 + 1);
                EXPECT_EQ(p[0], 1 + 20);
                EXPECT_EQ(p[3], 255);
            } else {
                // Corner 0 of the slice is voxel (0, 0, 0), corner 1 voxel (7, 0, 3).
                const int w = o.texture->width;
                EXPECT_EQ(o.texture->rgba[0], 0);
                EXPECT_EQ(o.texture->rgba[4 * std::size_t(w - 1)], (7 + 300) % 256);
            }
        });
    }
}

TEST(AnimScene, OpenerClaimsOnlyAnimDocumentsAndPlaysIntoANewView)
{
    vexatest::TempDir dir("vexa-anim");
    const std::string other = dir.file("settings.xml");
    writeText(other, "<CONFIG><FRAME/></CONFIG>");
    const std::string anim = dir.file("show.xml");
    writeText(anim, "<ANIM><OBJECT NAME='c'><CUBE/></OBJECT><FRAME NB='2'/></ANIM>");
    EXPECT_FALSE(claimsAnimationFile(other, "<CONFIG><FRAME/></CONFIG>"));
    EXPECT_FALSE(claimsAnimationFile(dir.file("raw.bin"), "GDR"));
    EXPECT_TRUE(claimsAnimationFile(anim, "<ANIM>"));
    std::string reason;
    EXPECT_EQ(openAnimationFile(other, &reason), nullptr);
    EXPECT_NE(reason.find(other), std::string::npos);
    EXPECT_EQ(playAnimationFile(other), 0);

    installAnimationFileOpener();
    OpenResult opened = dataOpen(anim);
    ASSERT_EQ(opened.outcome, OpenOutcome::Opened) << opened.reason;
    ASSERT_TRUE(taskWaitForWorkers([] {}, std::chrono::seconds(20)));
    auto* view = dynamic_cast<View3dObject*>(opened.record->kindObject());
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->scene->objectCount(), 1);
    EXPECT_EQ(view->scene->name(view->scene->objectIds()[0]), "c");
    dataDelete(opened.record);
    clearForeignFileOpeners();
}

TEST(Motion, WrittenFileHoldsOneCameraStepPerFrameAndPlaysBackTheWholeMove)
{
    vexatest::TempDir dir("vexa-anim");
    MotionSettings settings;
    settings.path = dir.file("motion.xml");
    settings.images = 10;
    settings.moves = 2;
    settings.move[0] = { 4, 90.0 };
    settings.move[1] = { 7, 1024.0 };
    settings.move[2] = { 1, 5.0 }; // beyond the number of moves: left out
    std::string reason;
    ASSERT_TRUE(writeMotionFile(settings, reason)) << reason;

    QuillNode* doc = quillRead(settings.path.c_str(), 10);
    ASSERT_NE(doc, nullptr);
    int count = 0;
    QuillNode** frames = quillNodeGetNodes(doc, &count);
    ASSERT_EQ(count, 10);
    for (int i = 0; i < count; ++i) {
        EXPECT_STREQ(quillNodeGetName(frames[i]), "FRAME");
        int cameras = 0;
        QuillNode** camera = quillNodeGetNodes(frames[i], &cameras);
        ASSERT_EQ(cameras, 1);
        EXPECT_STREQ(quillGetTextItem(camera[0], "ROTATEX"), "0.157080");
        EXPECT_STREQ(quillGetTextItem(camera[0], "ZOOM"), "2.000000");
        EXPECT_EQ(quillGetTextItem(camera[0], "TRANSLATEX"), nullptr);
        quillRelease(camera);
    }
    quillRelease(frames);
    quillDestroy(doc);

    animtest::FakeTarget target;
    ASSERT_EQ(playAnimation(settings.path, target), 1);
    EXPECT_EQ(target.renders, 10);
    EXPECT_EQ(target.only("rotate 0 0.15708").size(), 10u);
    EXPECT_EQ(target.only("zoom 2").size(), 10u);

    settings.images = 0;
    EXPECT_FALSE(writeMotionFile(settings, reason));
    settings.images = 3;
    settings.path = dir.file("no/such/folder/motion.xml");
    EXPECT_FALSE(writeMotionFile(settings, reason));
    EXPECT_NE(reason.find(settings.path), std::string::npos);
}

TEST(AnimFilm, UnwritableFilmIsToldAndThePlaybackGoesOn)
{
    vexatest::TempDir dir("vexa-anim");
    FakeHost host;
    installHost(&host);
    const std::string path = dir.file("a.xml");
    writeText(path, "<ANIM><PLAY FILENAME='no/such/folder/out.avi'/><FRAME NB='3'/></ANIM>");
    SceneAnimTarget target(std::make_shared<Scene>());
    target.setRenderer(
        [](const std::shared_ptr<Scene>&, int w, int h, std::vector<std::uint8_t>& rgba) {
            rgba.assign(std::size_t(w) * h * 4, 128);
            return true;
        });
    EXPECT_EQ(playAnimation(path, target), 1);
    EXPECT_EQ(target.framesRendered(), 3);
    EXPECT_EQ(target.filmFrames(), 0);
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 1);
    installHost(nullptr);
}

#ifdef VEXA_ANIM_FILMS
TEST(AnimFilm, FiftyFramesOfARotatingCameraMakeAFilmOfFiftyFrames)
{
    vexatest::TempDir dir("vexa-anim");
    const std::string path = dir.file("a.xml");
    writeText(path,
        "<ANIM><PLAY FILENAME='turn.avi' FREQUENCY='25'/><DRAW WIDTH='320' HEIGHT='240'/>"
        "<OBJECT><CUBE/></OBJECT><CAMERA INCREMENTAL='50' ROTATEY='6.283185'/><FRAME "
        "NB='50'/></ANIM>");
    SceneAnimTarget target(std::make_shared<Scene>());
    int calls = 0;
    target.setRenderer([&calls](const std::shared_ptr<Scene>& scene, int w, int h,
                           std::vector<std::uint8_t>& rgba) {
        // A picture that changes with the camera, as a renderer's would.
        const auto shade = std::uint8_t(int(scene->camera().eye().x * 10) & 255);
        rgba.assign(std::size_t(w) * h * 4, shade);
        ++calls;
        return true;
    });
    ASSERT_EQ(playAnimation(path, target), 1);
    EXPECT_EQ(calls, 50);
    EXPECT_EQ(target.frameWidth(), 320);
    std::string reason;
    auto film = video::FilmReader::open(dir.file("turn.avi"), reason);
    ASSERT_NE(film, nullptr) << reason;
    EXPECT_EQ(film->frameCount(), 50);
    EXPECT_EQ(film->width(), 320);
    EXPECT_EQ(film->height(), 240);
}
#endif

TEST(AnimScene, TheSampleAnimationPlaysBesideADemoVolume)
{
    // The sample sits two folders below the demo volume, as in the program's folder.
    vexatest::TempDir dir("vexa-anim");
    std::filesystem::create_directories(dir.file("ressources/animations"));
    std::filesystem::create_directories(dir.file("demo"));
    writeVolume(dir.file("demo/demo_xy.gdr"), 16, 12, 10);
    const std::string path = dir.file("ressources/animations/demo.xml");
    std::filesystem::copy_file(VEXA_DEMO_ANIMATION, path);
    auto scene = std::make_shared<Scene>();
    SceneAnimTarget target(scene);
    ASSERT_EQ(playAnimation(path, target), 1);
    EXPECT_EQ(target.framesRendered(), 100);
    EXPECT_EQ(scene->objectCount(), 5);
    int textured = 0;
    for (std::uint32_t id : scene->objectIds())
        scene->readObject(id, [&](const SceneObject& o) { textured += o.texture != nullptr; });
    EXPECT_EQ(textured, 3);
}

TEST(AnimScene, BlobsFromMeshFilesOrInlinePointsWithPlanarTextureMapping)
{
    vexatest::TempDir dir("vexa-anim");
    writeVolume(dir.file("pic.gdr"), 4, 4, 1);
    writeText(dir.file("t.off"),
        "OFF\n4 4 0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n"
        "3 0 1 2\n3 0 1 3\n3 0 2 3\n3 1 2 3\n");
    const std::string path = dir.file("a.xml");
    writeText(path,
        "<ANIM><OBJECT NAME='file'><BLOB FILENAME='t.off'/></OBJECT>"
        "<OBJECT NAME='inline'><BLOB><VERTICES><PT X='0' Y='0' Z='0'/><PT X='2' Y='0' Z='0'/>"
        "<PT X='0' Y='4' Z='1'/></VERTICES><TRIANGLES><INDEXES INDEX1='0' INDEX2='1' INDEX3='2'/>"
        "</TRIANGLES><TEXTURE FILENAME='pic.gdr'/></BLOB></OBJECT></ANIM>");
    auto scene = std::make_shared<Scene>();
    SceneAnimTarget target(scene);
    ASSERT_EQ(playAnimation(path, target), 1);
    ASSERT_EQ(scene->objectCount(), 2);
    for (std::uint32_t id : scene->objectIds()) {
        scene->readObject(id, [](const SceneObject& o) {
            if (o.name == "file") {
                EXPECT_EQ(o.mesh->nbTriangles, 4);
                EXPECT_EQ(o.texture, nullptr);
            } else {
                ASSERT_NE(o.texture, nullptr);
                EXPECT_EQ(o.texCoords, (std::vector<float> { 0, 0, 1, 0, 0, 1 }));
            }
        });
    }
}

TEST(Motion, CommandTakesItsBoxValuesKeepsThemForTheNextUseAndACancelWritesNothing)
{
    vexatest::TempDir dir("vexa-anim");
    const std::string path = dir.file("turn.xml");
    std::vector<std::int32_t> kinds;
    int shown = 0;
    int seenImages = 0;
    // The user asks 10 images and one move Rx = 90 the first time, cancels the second.
    params::setParamDialogPresenter([&](ParamBox* box) {
        kinds.clear();
        int lists = 0;
        for (ParamItem& item : box->items) {
            kinds.push_back(item.kind);
            if (item.kind == PARAM_FILE && shown == 0)
                std::snprintf(
                    static_cast<char*>(item.value), PARAM_PATH_BUFFER, "%s", path.c_str());
            if (item.kind == PARAM_INT) {
                seenImages = *static_cast<int*>(item.value);
                *static_cast<int*>(item.value) = 10;
            }
            if (item.kind == PARAM_LIST)
                *static_cast<int*>(item.value) = lists++ == 0 ? 1 : 4;
            if (item.kind == PARAM_REAL)
                *static_cast<double*>(item.value) = 90;
        }
        return shown++ == 0 ? 1 : 0;
    });
    EXPECT_TRUE(motionFileCommand());
    EXPECT_EQ(seenImages, 250);
    // File, count and move count, then five pairs of a kind and a value.
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), PARAM_LIST), 6);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), PARAM_REAL), 5);
    QuillNode* doc = quillRead(path.c_str(), 10);
    EXPECT_EQ(quillNodeCountNodes(doc), 10);
    quillDestroy(doc);

    std::filesystem::remove(path);
    EXPECT_FALSE(motionFileCommand());
    EXPECT_EQ(seenImages, 10);
    EXPECT_FALSE(std::filesystem::exists(path));
    params::setParamDialogPresenter({});
}
