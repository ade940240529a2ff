#include "mesh/primitives.h"

#include "meshtestsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

using namespace meshtest;
using namespace vexa::mesh;

namespace {

double dot3(const float* a, Vec3 b)
{
    return a[0] * b.x + a[1] * b.y + a[2] * b.z;
}

double length3(const float* a)
{
    return std::sqrt(double(a[0]) * a[0] + double(a[1]) * a[1] + double(a[2]) * a[2]);
}

} // namespace

struct ShapeCounts {
    const char* name;
    int points;
    int triangles;
    TriMesh* (*make)();
};

class PrimitiveCounts : public ::testing::TestWithParam<ShapeCounts> { };

TEST_P(PrimitiveCounts, MatchTheirFormulaAndKeepIndicesInRange)
{
    TriMeshPtr mesh(GetParam().make());
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->nbPoints, GetParam().points);
    EXPECT_EQ(mesh->nbTriangles, GetParam().triangles);
    EXPECT_TRUE(hasValidIndices(*mesh));
}

INSTANTIATE_TEST_SUITE_P(Shapes, PrimitiveCounts,
    ::testing::Values(ShapeCounts { "cube", 8, 12, [] { return makeCube(); } },
        ShapeCounts { "pyramid", 5, 6, [] { return makePyramid(); } },
        ShapeCounts { "sphere8", 50, 84, [] { return makeSphere(8); } },
        ShapeCounts { "sphere3", 5, 4, [] { return makeSphere(3); } },
        ShapeCounts { "sphere17", 15 * 17 + 2, 2 * 16 * 15, [] { return makeSphere(17); } },
        ShapeCounts { "disc20", 21, 20,
            [] {
                return makeDisc({ 0, 1, 0 }, 10, 20);
            } },
        ShapeCounts { "cone8", 10, 16,
            [] {
                return makeCone({ 0, 10, 0 }, 10, 8);
            } },
        ShapeCounts { "truncated8", 18, 32,
            [] {
                return makeTruncatedCone({ 0, 0, 5 }, 2, 1, 8);
            } },
        ShapeCounts { "cylinder8", 16, 16,
            [] {
                return makeCylinder({ 1, 0, 0 }, 1, 8);
            } },
        ShapeCounts { "torus", 9 * 6, 2 * 6 * 8,
            [] {
                return makeTorus({ 0, 1, 0 }, 10, 3, 8, 6);
            } }),
    [](const auto& test) { return std::string(test.param.name); });

TEST(PrimitiveShapes, RefuseTooLowPrecisionAndBadVectors)
{
    EXPECT_FALSE(TriMeshPtr(makeSphere(2)));
    EXPECT_FALSE(TriMeshPtr(makeSphere(-5)));
    EXPECT_FALSE(TriMeshPtr(makeDisc({ 0, 1, 0 }, 1, 0)));
    EXPECT_FALSE(TriMeshPtr(makeCone({ NAN, 1, 0 }, 1, 8)));
    EXPECT_FALSE(TriMeshPtr(makeSphere(2000000000)));
    const Vec3 one[1] = { { 0, 0, 0 } };
    EXPECT_FALSE(TriMeshPtr(makeTube(one, 1, 1, 8)));
    EXPECT_FALSE(TriMeshPtr(makeTube(nullptr, 3, 1, 8)));
}

TEST(PrimitiveShapes, CubeHasItsFixedCornerAndFaceOrder)
{
    TriMeshPtr cube(makeCube());
    EXPECT_EQ(point(*cube, 0), (std::array<float, 3> { -.5f, -.5f, -.5f }));
    EXPECT_EQ(point(*cube, 2), (std::array<float, 3> { .5f, .5f, -.5f }));
    EXPECT_EQ(point(*cube, 7), (std::array<float, 3> { -.5f, .5f, .5f }));
    EXPECT_EQ(triangle(*cube, 3), (std::array<int32_t, 3> { 5, 1, 0 }));
    EXPECT_EQ(triangle(*cube, 11), (std::array<int32_t, 3> { 5, 7, 6 }));
    ASSERT_EQ(finishMesh(cube.get(), nullptr), 1);
    EXPECT_NEAR(cube->volume, 1.0f, 1e-6);
    EXPECT_NEAR(cube->surface, 6.0f, 1e-6);
}

TEST(PrimitiveShapes, SphereHasPolesFirstAndLastAndClosedRings)
{
    const int n = 8;
    TriMeshPtr sphere(makeSphere(n));
    EXPECT_EQ(point(*sphere, 0), (std::array<float, 3> { 0, 1, 0 }));
    EXPECT_EQ(point(*sphere, (n - 2) * n + 1), (std::array<float, 3> { 0, -1, 0 }));
    for (int ring = 0; ring < n - 2; ++ring) {
        int first = 1 + ring * n;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(
                sphere->points[3 * first + c], sphere->points[3 * (first + n - 1) + c], 1e-6);
    }
    for (int i = 0; i < sphere->nbPoints; ++i)
        EXPECT_NEAR(length3(sphere->points + 3 * i), 1.0, 1e-6);
    // First ring: latitude (0.5 - 1/7) pi, longitude 0.
    const double a = (0.5 - 1.0 / 7) * 3.14159265359;
    EXPECT_FLOAT_EQ(sphere->points[3], float(std::cos(a)));
    EXPECT_FLOAT_EQ(sphere->points[4], float(std::sin(a)));
    EXPECT_EQ(triangle(*sphere, 0), (std::array<int32_t, 3> { 0, 1, 2 }));
    EXPECT_EQ(triangle(*sphere, n - 1), (std::array<int32_t, 3> { 1, 2, 1 + n }));
    EXPECT_EQ(triangle(*sphere, sphere->nbTriangles - 1),
        (std::array<int32_t, 3> { (n - 3) * n + 1 + n - 2, (n - 3) * n + n, (n - 2) * n + 1 }));
}

TEST(PrimitiveShapes, DiscSharesItsCentreAndLiesInThePlane)
{
    const Vec3 normal { 1, 2, -2 };
    TriMeshPtr disc(makeDisc(normal, 10, 20));
    for (int t = 0; t < 20; ++t)
        EXPECT_EQ(disc->triangles[3 * t], 0);
    EXPECT_EQ(triangle(*disc, 19), (std::array<int32_t, 3> { 0, 20, 1 }));
    for (int i = 1; i <= 20; ++i) {
        EXPECT_NEAR(dot3(disc->points + 3 * i, normal), 0, 1e-4);
        EXPECT_NEAR(length3(disc->points + 3 * i), 10, 1e-4);
    }
}

TEST(PrimitiveShapes, PerpendicularFollowsItsCaseRules)
{
    Vec3 u = perpendicular({ 0, 0, 3 });
    EXPECT_NEAR(u.x, std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(u.y, std::sqrt(0.5), 1e-12);
    EXPECT_EQ(u.z, 0);
    Vec3 v = perpendicular({ 0, 2, 2 }); // (1, -1, 1) normalised
    EXPECT_NEAR(v.y, -1 / std::sqrt(3.0), 1e-12);
    Vec3 w = perpendicular({ 2, 1, 1 }); // (-1, 1, 1) normalised
    EXPECT_NEAR(w.x, -1 / std::sqrt(3.0), 1e-12);
}

TEST(PrimitiveShapes, ConeAndTruncatedConeHaveCentresThenRings)
{
    TriMeshPtr cone(makeCone({ 0, 10, 0 }, 2, 8));
    EXPECT_EQ(point(*cone, 0), (std::array<float, 3> { 0, 0, 0 }));
    EXPECT_EQ(point(*cone, 1), (std::array<float, 3> { 0, 10, 0 }));
    EXPECT_NEAR(cone->points[3 * 2 + 1], 0, 1e-6);
    EXPECT_NEAR(length3(cone->points + 6), 2, 1e-5);
    EXPECT_EQ(triangle(*cone, 14), (std::array<int32_t, 3> { 0, 9, 2 }));
    EXPECT_EQ(triangle(*cone, 15), (std::array<int32_t, 3> { 1, 9, 2 }));

    TriMeshPtr frustum(makeTruncatedCone({ 0, 0, 5 }, 2, 1, 8));
    EXPECT_NEAR(frustum->points[3 * 10 + 2], 5, 1e-6);
    EXPECT_EQ(triangle(*frustum, 1), (std::array<int32_t, 3> { 1, 10, 11 }));
    EXPECT_EQ(triangle(*frustum, 3), (std::array<int32_t, 3> { 2, 11, 10 }));
}

TEST(PrimitiveShapes, TubeRingsAlongCollinearPointsArePerpendicular)
{
    const Vec3 path[3] = { { 0, 0, 0 }, { 0, 0, 5 }, { 0, 0, 9 } };
    TriMeshPtr tube(makeTube(path, 3, 2, 6));
    ASSERT_TRUE(tube);
    EXPECT_EQ(tube->nbPoints, 18);
    EXPECT_EQ(tube->nbTriangles, 24);
    for (int ring = 0; ring < 3; ++ring)
        for (int j = 0; j < 6; ++j) {
            const float* p = tube->points + 3 * (ring * 6 + j);
            EXPECT_NEAR(p[2], path[ring].z, 1e-5);
            EXPECT_NEAR(std::hypot(p[0], p[1]), 2, 1e-5);
        }
    EXPECT_EQ(triangle(*tube, 0), (std::array<int32_t, 3> { 0, 6, 1 }));
    EXPECT_EQ(triangle(*tube, 11), (std::array<int32_t, 3> { 11, 6, 0 }));
}

TEST(PrimitiveShapes, TubeThatTurnsBackKeepsItsRingsOnThePath)
{
    const Vec3 path[3] = { { 0, 0, 0 }, { 0, 0, 5 }, { 0, 0, 1 } };
    TriMeshPtr tube(makeTube(path, 3, 1, 4));
    ASSERT_TRUE(tube);
    for (int j = 0; j < 4; ++j) {
        const float* p = tube->points + 3 * (4 + j);
        EXPECT_NEAR(p[2], 5, 1e-5) << "ring 1 collapsed onto the origin";
        EXPECT_NEAR(std::hypot(p[0], p[1]), 1, 1e-5);
    }
}

TEST(PrimitiveShapes, CylinderAndTorusCloseTheirRings)
{
    TriMeshPtr cylinder(makeCylinder({ 4, 0, 0 }, 1, 8));
    EXPECT_FLOAT_EQ(cylinder->boxMin[0], 0);
    EXPECT_FLOAT_EQ(cylinder->boxMax[0], 4);
    EXPECT_NEAR(cylinder->boxMax[1], 1, 1e-6);

    TriMeshPtr torus(makeTorus({ 0, 1, 0 }, 10, 3, 8, 6));
    ASSERT_TRUE(torus);
    // Ring 0 surrounds the first point of the large circle, 10 u with u = (1, 0, 1) / sqrt 2.
    const double c = 10 / std::sqrt(2.0);
    for (int j = 0; j < 6; ++j) {
        const float* p = torus->points + 3 * j;
        EXPECT_NEAR(
            std::sqrt((p[0] - c) * (p[0] - c) + p[1] * p[1] + (p[2] - c) * (p[2] - c)), 3, 1e-4);
    }
}
