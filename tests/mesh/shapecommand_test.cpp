#include "mesh/shapecommand.h"

#include "meshtestsupport.h"

#include <gtest/gtest.h>

#include <deque>

using namespace meshtest;
using namespace vexa::mesh;

namespace {

// Draws handed out in the given order, then zeros.
RandomDraw scripted(std::deque<int> values)
{
    auto queue = std::make_shared<std::deque<int>>(std::move(values));
    return [queue] {
        if (queue->empty())
            return 0;
        int v = queue->front();
        queue->pop_front();
        return v;
    };
}

} // namespace

TEST(ShapeCommand, DescriptionsListShapesInMenuOrder)
{
    EXPECT_EQ(shapeCommandDescription().rfind("Forme%tDisque,Sphere,Ellipsoïde,Cube,", 0), 0u);
    EXPECT_NE(
        shapeCommandDescription().find("Mosaïque%c%nX%tNb%dPas%fVariation%f%n"), std::string::npos);
    EXPECT_EQ(shapeDescription(ShapeKind::Cone),
        "Vecteur normal%tX%fY%fZ%f%nRayon 1%fRayon 2%fPrécision%d%nHauteur%f%n");
    EXPECT_EQ(shapeDescription(ShapeKind::BSpline), "");
}

TEST(ShapeCommand, GridPlacesCopiesAroundThePositionXOutermost)
{
    ShapeSettings s;
    s.position = { 100, 0, -5 };
    EXPECT_EQ(shapeCopyPositions(s, scripted({})).size(), 1u) << "no grid: one copy";

    s.grid = true;
    s.axes[1].count = 1;
    s.axes[2].count = 2;
    s.axes[2].variation = 3.0;
    auto places = shapeCopyPositions(s, scripted({ 0, 0, 32767 }));
    ASSERT_EQ(places.size(), 6u);
    EXPECT_DOUBLE_EQ(places[0].x, 90);
    EXPECT_DOUBLE_EQ(places[2].x, 100);
    EXPECT_DOUBLE_EQ(places[5].x, 110);
    EXPECT_DOUBLE_EQ(places[0].z, -10 + 3.0) << "third draw of the first copy is for z";
    EXPECT_DOUBLE_EQ(places[1].z, 0);
    EXPECT_DOUBLE_EQ(places[0].y, 0);

    s.axes[0].count = 0;
    EXPECT_TRUE(shapeCopyPositions(s, scripted({})).empty());
}

TEST(ShapeCommand, ConeWithSecondRadiusZeroIsAPlainCone)
{
    ShapeSettings s;
    s.kind = ShapeKind::Cone;
    TriMeshPtr plain(makeShapeFromSettings(s));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->nbTriangles, 16);
    EXPECT_FLOAT_EQ(plain->points[4], 10.0f) << "apex at normal x height";
    s.cone.radius2 = 4;
    TriMeshPtr truncated(makeShapeFromSettings(s));
    ASSERT_TRUE(truncated);
    EXPECT_EQ(truncated->nbTriangles, 32);
}

TEST(ShapeCommand, ScaledShapesTakeTheirSizes)
{
    ShapeSettings s;
    s.kind = ShapeKind::Box;
    TriMeshPtr box(makeShapeFromSettings(s));
    ASSERT_TRUE(box);
    EXPECT_FLOAT_EQ(box->boxMax[0], 5.0f);
    EXPECT_FLOAT_EQ(box->boxMax[1], 4.0f);
    EXPECT_FLOAT_EQ(box->boxMin[2], -3.0f);
    s.kind = ShapeKind::Pyramid;
    TriMeshPtr pyramid(makeShapeFromSettings(s));
    EXPECT_FLOAT_EQ(pyramid->boxMax[1], 10.0f);
    s.kind = ShapeKind::BSpline;
    EXPECT_FALSE(TriMeshPtr(makeShapeFromSettings(s)));
}

TEST(ShapeCommand, NoiseMovesOnlyVerticesWhoseFirstDrawPassesTheThreshold)
{
    auto mesh = makeMesh({ { 1, 2, 3 }, { 4, 5, 6 }, { 0, 1, 0 } }, { { 0, 1, 2 } });
    // Vertex 0: 0.45 exactly stays. Vertex 1: moves, with scale 1 + 2 * (32767, 0, 32767)/32767.
    addShapeNoise(mesh.get(), 2.0, { 1, 1, 1 }, scripted({ 14745, 32767, 32767, 0, 32767, 0 }));
    EXPECT_EQ(point(*mesh, 0), (std::array<float, 3> { 1, 2, 3 }));
    EXPECT_EQ(point(*mesh, 1), (std::array<float, 3> { 1 + 3 * 3, 5, 1 + 5 * 3 }));
    EXPECT_EQ(point(*mesh, 2), (std::array<float, 3> { 0, 1, 0 }));
}

TEST(ShapeCommand, CopiesAreBuiltMovedAndOwnedByTheCaller)
{
    ShapeSettings s;
    s.kind = ShapeKind::Cube;
    s.grid = true;
    auto meshes = makeShapeCopies(s, scripted({}));
    ASSERT_EQ(meshes.size(), 27u);
    EXPECT_FLOAT_EQ(meshes[0]->boxMin[0], -15.0f);
    EXPECT_FLOAT_EQ(meshes[26]->boxMax[2], 15.0f);
    for (TriMesh*& m : meshes)
        triMeshFree(&m);
}

// Two tasks asking at once each work on a copy; each validated box stores only its own
// values, so neither brings back the other's old ones.
TEST(ShapeCommand, ValidatedBoxesKeepTheirOwnValuesOnly)
{
    resetShapeSettings();
    ShapeSettings first = shapeSettings();
    ShapeSettings second = shapeSettings();
    first.kind = ShapeKind::Cone;
    first.name = "tour";
    first.axes[2].count = 5;
    first.cone.radius2 = 99; // belongs to the cone box, which this task leaves unanswered
    second.cone.radius2 = 4;
    second.cube.side = 7;
    second.name = "ignored";

    keepShapeCommandValues(first);
    keepShapeValues(second, ShapeKind::Cone);
    ShapeSettings kept = shapeSettings();
    EXPECT_EQ(kept.kind, ShapeKind::Cone);
    EXPECT_EQ(kept.name, "tour");
    EXPECT_EQ(kept.axes[2].count, 5);
    EXPECT_EQ(kept.cone.radius2, 4);
    EXPECT_EQ(kept.cube.side, ShapeSettings {}.cube.side) << "only the cone box was validated";

    resetShapeSettings();
    EXPECT_EQ(shapeSettings().name, "synthesis");
    EXPECT_EQ(shapeSettings().cone.radius2, 0.0);
}

TEST(ShapeCommand, BSplineSurfaceInterpolatesItsCornersAndKeepsConstantHeights)
{
    BSplineValues b; // 4 x 4 points 10 apart, degree 3, 7 divisions, elevation 20
    TriMeshPtr flat(makeBSplineSurface(b, [] { return 0; }));
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->nbPoints, 8 * 8);
    EXPECT_EQ(flat->nbTriangles, 2 * 7 * 7);
    EXPECT_FLOAT_EQ(flat->boxMin[0], -15.0f);
    EXPECT_FLOAT_EQ(flat->boxMax[2], 15.0f);
    EXPECT_FLOAT_EQ(flat->boxMax[1], 0.0f);
    // The basis sums to one everywhere: equal control heights give a flat surface there.
    TriMeshPtr raised(makeBSplineSurface(b, [] { return 32767; }));
    for (int i = 0; i < raised->nbPoints; ++i)
        EXPECT_NEAR(raised->points[3 * i + 1], 20.0, 1e-4);
    // A degree the grid cannot carry is lowered (u: 2 points, degree 1), counts below
    // two are raised.
    b.u.count = 1;
    b.v.count = 6;
    TriMeshPtr low(makeBSplineSurface(b, [] { return 100; }));
    ASSERT_TRUE(low);
    EXPECT_EQ(low->nbPoints, (1 * 7 + 1) * (3 * 7 + 1));
}
