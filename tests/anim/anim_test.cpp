#include "fakeanimtarget.h"

#include "mesh/meshapi.h"
#include "scene/anim.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

using namespace vexa::scene;
using animtest::FakeTarget;

namespace {

class Anim : public ::testing::Test {
protected:
    vexatest::TempDir dir { "vexa-anim" };

    std::string write(const std::string& name, const std::string& text)
    {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    // Plays <ANIM>body</ANIM> into the fake.
    int play(const std::string& body, FakeTarget& target)
    {
        return playAnimation(write("a.xml", "<ANIM>" + body + "</ANIM>"), target);
    }
};

std::string rotations(const FakeTarget& target)
{
    std::string out;
    for (const std::string& call : target.calls)
        if (call == "render" || call.rfind("rotate", 0) == 0)
            out += (call == "render" ? "|" : call.substr(7) + ";");
    return out;
}

} // namespace

TEST_F(Anim, OnlyAnUpperCaseAnimRootPlaysAndUnreadableFilesMakeNothing)
{
    FakeTarget target;
    EXPECT_FALSE(isAnimationFile(write("lower.xml", "<anim><FRAME/></anim>")));
    EXPECT_EQ(playAnimation(dir.file("lower.xml"), target), 0);
    EXPECT_EQ(playAnimation(write("broken.xml", "<ANIM><FRAME>"), target), 0);
    EXPECT_EQ(playAnimation(dir.file("missing.xml"), target), 0);
    EXPECT_FALSE(target.viewMade);
    EXPECT_TRUE(target.calls.empty());

    EXPECT_TRUE(isAnimationFile(write("empty.xml", "<ANIM/>")));
    EXPECT_EQ(playAnimation(dir.file("empty.xml"), target), 1);
    EXPECT_TRUE(target.viewMade);
    EXPECT_EQ(target.calls, std::vector<std::string> { "box 1" });
}

TEST_F(Anim, FramesSequencesAndIncrementalCameraAdvanceOncePerFrame)
{
    FakeTarget frames;
    play("<FRAME NB='3'/><FRAME/>", frames);
    EXPECT_EQ(frames.renders, 4);

    // Registered before the frames: a quarter turn each frame, nothing in the fifth.
    FakeTarget camera;
    play("<CAMERA INCREMENTAL='4' ROTATEY='1.0'/><FRAME NB='5'/>", camera);
    EXPECT_EQ(rotations(camera), "1 0.25;|1 0.25;|1 0.25;|1 0.25;||");

    FakeTarget sequence;
    play("<SEQUENCE><STEP><CAMERA ROTATEX='1'/></STEP><STEP><CAMERA ROTATEX='2'/></STEP>"
         "<STEP><CAMERA ROTATEX='3'/></STEP></SEQUENCE><FRAME NB='5'/>",
        sequence);
    EXPECT_EQ(rotations(sequence), "0 1;|0 2;|0 3;|||");

    // A frame's own moves happen in each of its images.
    FakeTarget own;
    play("<FRAME NB='2'><CAMERA ROTATEZ='0.5'/></FRAME>", own);
    EXPECT_EQ(rotations(own), "2 0.5;|2 0.5;|");

    // A step holding a frame does not replay itself.
    FakeTarget nested;
    play("<SEQUENCE><STEP><FRAME/></STEP></SEQUENCE><FRAME/>", nested);
    EXPECT_EQ(nested.renders, 2);
}

TEST_F(Anim, DrawRangeRendersOnlyItsFramesWhileSequencesKeepAdvancing)
{
    FakeTarget target;
    play("<DRAW BEGIN='2' END='3' WIDTH='320' HEIGHT='240'/>"
         "<SEQUENCE><STEP><CAMERA ROTATEX='1'/></STEP><STEP><CAMERA ROTATEX='2'/></STEP>"
         "<STEP><CAMERA ROTATEX='3'/></STEP><STEP><CAMERA ROTATEX='4'/></STEP></SEQUENCE>"
         "<FRAME NB='5'/>",
        target);
    EXPECT_EQ(rotations(target), "0 1;0 2;|0 3;|0 4;");
    EXPECT_EQ(target.only("resize"), std::vector<std::string> { "resize 320 240" });
}

TEST_F(Anim, CameraMovesInDocumentOrderScaledByUnitsAndSteps)
{
    FakeTarget target;
    play("<CAMERA><TRANSLATEY>2</TRANSLATEY><ZOOM>4</ZOOM><TRANSLATEZ_LOCAL>1</TRANSLATEZ_LOCAL>"
         "</CAMERA><CAMERA INCREMENTAL='2' ZOOM='4' TRANSLATEX='1'/><FRAME NB='2'/>",
        target);
    const std::vector<std::string> expected = { "move 1 6", "zoom 4", "own 2 4", "zoom 2",
        "move 0 1", "render", "zoom 2", "move 0 1", "render" };
    std::vector<std::string> moves;
    for (const std::string& call : target.calls)
        if (call != "box 1")
            moves.push_back(call);
    EXPECT_EQ(moves, expected);
}

TEST_F(Anim, ViewMaskFollowsTheSelectedSubView)
{
    FakeTarget target;
    play("<ADDVIEW X='0' Y='0' W='0.5' H='0.5' VISIBILITY='1'/><ADDVIEW X='0'/>"
         "<VIEW SET='0'/><OBJECT><CUBE/></OBJECT><VIEW SET='2'/><OBJECT><CUBE/></OBJECT>"
         "<VIEW SET='40'/><OBJECT><CUBE/></OBJECT>",
        target);
    ASSERT_EQ(target.added.size(), 3u);
    EXPECT_EQ(target.added[0].mask, 1u);
    EXPECT_EQ(target.added[1].mask, 4u);
    EXPECT_EQ(target.added[2].mask, 4u); // a sub-view past the mask's bits is ignored
    // The incomplete ADDVIEW adds nothing; the new sub-view is shown then left.
    EXPECT_EQ(target.subViews, 2);
    const std::vector<std::string> expected = { "select 1", "refresh", "select 0", "visible 1 1" };
    EXPECT_EQ(
        std::vector<std::string>(target.calls.begin() + 1, target.calls.begin() + 5), expected);
}

TEST_F(Anim, PartsMissingRequiredItemsBuildNothingAndTheWalkGoesOn)
{
    FakeTarget target;
    play("<OBJECT NAME='a'><FRONT X1='0' Y1='0' X2='1' Y2='1'/></OBJECT>"
         "<OBJECT NAME='b'><LINE><PT X='0' Y='0' Z='0'/><PT X='1' Y='0' Z='0'/></LINE></OBJECT>"
         "<OBJECT NAME='c'><ARROW X1='0' Y1='0' Z1='0' X2='0' Y2='0' Z2='5' RADIUS='1'/></OBJECT>"
         "<OBJECT NAME='d'><FRONT X1='0' Y1='0' X2='1' Y2='1'/><CUBE/><COLOR R='1' G='0'/></OBJECT>"
         "<OBJECT NAME='e'><SPHERE PRECISION='2'/></OBJECT>",
        target);
    ASSERT_EQ(target.added.size(), 1u);
    EXPECT_EQ(target.added[0].object.name, "d");
    EXPECT_EQ(target.added[0].object.mesh->nbPoints, 8);
    EXPECT_FALSE(target.added[0].object.colour);
}

TEST_F(Anim, GeometryOfQuadsTubesArrowsAndCylinders)
{
    FakeTarget target;
    play("<OBJECT NAME='right'><RIGHT X1='1' Y1='2' X2='3' Y2='4' NO='7'/><COLOR R='1' G='0.5' "
         "B='0' A='0.25'/></OBJECT>"
         "<OBJECT NAME='line'><LINE RADIUS='0.5' PRECISION='6'><PT X='0' Y='0' Z='0'/>"
         "<PT X='1' Y='0' Z='0'/><PT X='2' Y='1' Z='0'/></LINE></OBJECT>"
         "<OBJECT NAME='arrow'><ARROW X1='0' Y1='0' Z1='0' X2='0' Y2='0' Z2='5' RADIUS='1' "
         "PRECISION='2'/></OBJECT>"
         "<OBJECT NAME='cyl'><CYLINDER RADIUS='2' X1='0' Y1='0' Z1='0' X2='0' Y2='0' "
         "Z2='10'/></OBJECT>"
         "<OBJECT NAME='arrows'><ARROWS RADIUS='1' PRECISION='3'><ELEMENT/></ARROWS></OBJECT>",
        target);
    ASSERT_EQ(target.added.size(), 5u);
    const TriMesh& quad = *target.added[0].object.mesh;
    // RIGHT: x = NO, corners (z, y).
    const float expected[12] = { 7, 2, 1, 7, 2, 3, 7, 4, 3, 7, 4, 1 };
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(quad.points[i], expected[i]) << i;
    EXPECT_EQ(quad.nbTriangles, 2);
    EXPECT_DOUBLE_EQ(target.added[0].object.colour->g, 0.5);
    EXPECT_DOUBLE_EQ(*target.added[0].object.alpha, 0.25);

    EXPECT_EQ(target.added[1].object.mesh->nbPoints, 3 * 6);

    const double from[3] = { 0, 0, 0 }, to[3] = { 0, 0, 5 };
    Mesh3d* four = vexaMesh3dArrow(from, to, 1, 4);
    ASSERT_NE(four, nullptr);
    EXPECT_EQ(target.added[2].object.mesh->nbPoints, four->nbPoints);
    vexaMesh3dFree(four);

    // The cylinder lies along z from 0 to 10 with radius 2.
    const TriMesh& cyl = *target.added[3].object.mesh;
    EXPECT_NEAR(cyl.boxMin[2], 0, 1e-4);
    EXPECT_NEAR(cyl.boxMax[2], 10, 1e-4);
    for (int i = 0; i < cyl.nbPoints; ++i)
        EXPECT_NEAR(std::hypot(cyl.points[3 * i], cyl.points[3 * i + 1]), 2, 1e-4) << i;

    EXPECT_EQ(target.added[4].object.mesh, nullptr);
}

TEST_F(Anim, IncrementalTransformRebuildsTheObjectUntilItsLastStep)
{
    FakeTarget target;
    play("<OBJECT NAME='box'><CUBE/><TRANSFORM><INCREMENTAL NB='3'>"
         "<TRANSLATEX BEGIN='0' END='10'/></INCREMENTAL></TRANSFORM></OBJECT><FRAME NB='4'/>",
        target);
    ASSERT_EQ(target.added.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const TriMesh& mesh = *target.added[std::size_t(i)].object.mesh;
        EXPECT_NEAR((mesh.boxMin[0] + mesh.boxMax[0]) / 2, 5.0 * i, 1e-5) << i;
    }
    EXPECT_EQ(target.only("delete").size(), 2u);
}

TEST_F(Anim, PolylinesScriptsAndBlobsFromIncludedFiles)
{
    std::filesystem::create_directories(dir.file("sub"));
    write("sub/lines.xml",
        "<POLYLINE RADIUS='0.5'><LINE><PT X='0' Y='0' Z='0'/><PT X='1' Y='0' Z='0'/><PT X='1' "
        "Y='1' Z='0'/></LINE>"
        "<LINE><PT X='0' Y='0' Z='1'/><PT X='1' Y='0' Z='1'/><PT X='1' Y='1' "
        "Z='1'/></LINE></POLYLINE>");
    write("steps.xml",
        "<ANIM><DELETE "
        "NAME='x'/><SCRIPT><FILENAME>steps.xml</FILENAME><FILENAME>steps.xml</FILENAME>"
        "</SCRIPT></ANIM>");
    FakeTarget target;
    play("<OBJECT NAME='p'><POLYLINE FILENAME='sub/lines.xml'/></OBJECT><SCRIPT "
         "FILENAME='steps.xml'/>"
         "<SCRIPT FILENAME='none.xml'/>"
         "<OBJECT NAME='b'><BLOB><VERTICES><PT X='0' Y='0' Z='0'/><PT X='2' Y='0' Z='0'/><PT X='0' "
         "Y='4' Z='0'/>"
         "</VERTICES><TRIANGLES><INDEXES INDEX1='0' INDEX2='1' "
         "INDEX3='2'/></TRIANGLES></BLOB></OBJECT>"
         "<OBJECT NAME='empty'><BLOB><VERTICES/><TRIANGLES/></BLOB></OBJECT>"
         "<OBJECT NAME='bad'><BLOB><VERTICES><PT X='0' Y='0' Z='0'/></VERTICES>"
         "<TRIANGLES><INDEXES INDEX1='0' INDEX2='1' INDEX3='2'/></TRIANGLES></BLOB></OBJECT>",
        target);
    ASSERT_EQ(target.added.size(), 3u);
    EXPECT_EQ(target.added[0].object.name, "p0");
    EXPECT_EQ(target.added[1].object.name, "p1");
    // Hue 0 is red, hue 239 nearly red again.
    EXPECT_DOUBLE_EQ(target.added[0].object.colour->r, 1.0);
    EXPECT_NEAR(target.added[1].object.colour->r, 1.0, 1e-9);
    EXPECT_LT(target.added[0].object.colour->b, 0.5);
    EXPECT_EQ(target.added[2].object.name, "b");
    EXPECT_EQ(target.added[2].object.mesh->nbTriangles, 1);
    // The script naming itself twice stops at the inclusion limit instead of doubling
    // its work at every level.
    EXPECT_GT(target.only("delete x").size(), 1u);
    EXPECT_LE(target.only("delete x").size(), 1001u);
}

TEST_F(Anim, RecordingAsksRaytracingAndFramesTheWholePlayback)
{
    FakeTarget target;
    play("<PLAY FILENAME='out.avi' FREQUENCY='25'/><ADDVIEW X='0' Y='0' W='1' H='1'/><FRAME "
         "NB='2'/>",
        target);
    ASSERT_GE(target.calls.size(), 5u);
    EXPECT_EQ(target.calls[1], "film " + dir.file("out.avi") + " 25");
    EXPECT_EQ(target.calls[2], "raytracing");
    EXPECT_EQ(target.calls[3], "begin");
    EXPECT_EQ(target.calls.back(), "end");

    // Without FILENAME nothing is recorded.
    FakeTarget plain;
    play("<PLAY FREQUENCY='25'/><FRAME/>", plain);
    EXPECT_TRUE(plain.only("film").empty());
    EXPECT_TRUE(plain.only("begin").empty());
}

TEST_F(Anim, ImagesThatCannotBeReadLeaveTheObjectWithoutTexture)
{
    FakeTarget target;
    play("<OBJECT NAME='f'><FRONT FILENAME='absent.gdr' X1='0' Y1='0' X2='2' Y2='2' "
         "NO='1'/></OBJECT>"
         "<OBJECT NAME='s'><SURFACE FILENAME='absent.gdr'/></OBJECT><FRAME/>",
        target);
    ASSERT_EQ(target.added.size(), 1u);
    EXPECT_EQ(target.added[0].object.name, "f");
    EXPECT_EQ(target.added[0].object.texture, nullptr);
    EXPECT_EQ(target.renders, 1);
}
