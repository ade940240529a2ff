// The mesh callbacks, reached the way a C plug-in reaches them: by name through the
// callback lookup, cast to the function type the plug-in expects.
#include "mesh/meshapi.h"
#include "plugins/callbacktable.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using AllocFn = Mesh3d* (*)(int32_t, int32_t);
using FreeFn = int (*)(Mesh3d*);
using Move3Fn = int (*)(Mesh3d*, double, double, double);
using RotateFn = int (*)(Mesh3d*, double, double, double, double);
using TransformFn = int (*)(Mesh3d*, const double*);
using ColoursFn = int (*)(Mesh3d*, const uint8_t*);
using ReadFn = Mesh3d* (*)(const char*);
using CubeFn = Mesh3d* (*)(void);
using PrecisionFn = Mesh3d* (*)(int32_t);
using ArrowFn = Mesh3d* (*)(const double*, const double*, double, int32_t);
using LineFn = Mesh3d* (*)(const double*, int32_t, double, int32_t);

template <typename F> F lookup(const char* name)
{
    return reinterpret_cast<F>(vexaCallbackLookup(name));
}

struct Mesh3dDeleter {
    void operator()(Mesh3d* mesh) const { lookup<FreeFn>("dozMesh3dFree")(mesh); }
};
using Mesh3dPtr = std::unique_ptr<Mesh3d, Mesh3dDeleter>;

bool isIdentity(const double m[16])
{
    for (int i = 0; i < 16; ++i)
        if (m[i] != (i % 5 == 0 ? 1.0 : 0.0))
            return false;
    return true;
}

} // namespace

TEST(Mesh3dCallbacks, AliasesShareOneFunctionAndNoneIsAStandIn)
{
    const char* pairs[][2] = { { "vexaMesh3dCube", "dozMesh3dCube" },
        { "vexaMesh3dSphere", "dozMesh3dSphere" }, { "vexaMesh3dArrow", "dozMesh3dArrow" },
        { "vexaMesh3dReadFromFile", "dozMesh3dReadFromFile" },
        { "vexaMesh3dFree", "dozMesh3dFree" }, { "vexaMesh3dScale", "dozMesh3dScale" },
        { "vexaMesh3dTranslate", "dozMesh3dTranslate" },
        { "vexaMesh3dRotate", "dozMesh3dRotate" } };
    for (auto& pair : pairs)
        EXPECT_EQ(vexaCallbackLookup(pair[0]), vexaCallbackLookup(pair[1])) << pair[0];
    EXPECT_EQ(
        vexaCallbackLookup("vexaMesh3dAlloc"), reinterpret_cast<VexaCallback>(vexaMesh3dAlloc));
    EXPECT_EQ(vexaCallbackLookup("vexaMesh3dAddColorVertices"),
        reinterpret_cast<VexaCallback>(vexaMesh3dAddColorVertices));
    EXPECT_EQ(vexaCallbackLookup("vexaMesh3dLine"), reinterpret_cast<VexaCallback>(vexaMesh3dLine));
}

TEST(Mesh3dCallbacks, AllocRefusesZeroCountsAndZeroFills)
{
    auto alloc = lookup<AllocFn>("vexaMesh3dAlloc");
    EXPECT_EQ(alloc(0, 5), nullptr);
    EXPECT_EQ(alloc(5, 0), nullptr);
    EXPECT_EQ(alloc(-1, 5), nullptr);
    EXPECT_EQ(alloc(2000000000, 1), nullptr);
    Mesh3dPtr mesh(alloc(4, 2));
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->nbPoints, 4);
    EXPECT_EQ(mesh->extra, nullptr);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(mesh->points[i], 0.0);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(mesh->triangles[i], 0);
}

TEST(Mesh3dCallbacks, NullAndEmptyMeshesDoNothing)
{
    EXPECT_EQ(lookup<FreeFn>("vexaMesh3dFree")(nullptr), 0);
    EXPECT_EQ(lookup<Move3Fn>("vexaMesh3dTranslate")(nullptr, 1, 2, 3), 0);
    EXPECT_EQ(lookup<Move3Fn>("vexaMesh3dScale")(nullptr, 1, 2, 3), 0);
    EXPECT_EQ(lookup<RotateFn>("vexaMesh3dRotate")(nullptr, 1, 2, 3, 1), 0);
    const double m[9] = { 1, 0, 0, 0, 1, 0, 0, 0, 1 };
    EXPECT_EQ(lookup<TransformFn>("vexaMesh3dTransform")(nullptr, m), 0);
    const uint8_t colours[4] = { 1, 2, 3, 4 };
    EXPECT_EQ(lookup<ColoursFn>("vexaMesh3dAddColorVertices")(nullptr, colours), 0);
    EXPECT_EQ(lookup<ReadFn>("vexaMesh3dReadFromFile")(nullptr), nullptr);

    Mesh3d broken {}; // counts without arrays, as a careless plug-in may pass
    broken.nbPoints = 3;
    EXPECT_EQ(lookup<Move3Fn>("vexaMesh3dTranslate")(&broken, 1, 2, 3), 0);
    EXPECT_EQ(lookup<ColoursFn>("vexaMesh3dAddColorVertices")(&broken, colours), 0);
    EXPECT_EQ(vexa::mesh::mesh3dToTriMesh(&broken), nullptr);
}

TEST(Mesh3dCallbacks, PrimitivesCarryNameAndIdentityPlacement)
{
    struct Case {
        const char* name;
        Mesh3d* mesh;
        int points;
    };
    Case cases[] = {
        { "CUBE", lookup<CubeFn>("dozMesh3dCube")(), 8 },
        { "SPHERE", lookup<PrecisionFn>("dozMesh3dSphere")(8), 50 },
        { "CONE", lookup<PrecisionFn>("vexaMesh3dCone")(8), 10 },
        { "CYLINDER", lookup<PrecisionFn>("vexaMesh3dCylinder")(8), 16 },
    };
    for (Case& c : cases) {
        Mesh3dPtr mesh(c.mesh);
        ASSERT_TRUE(mesh) << c.name;
        EXPECT_EQ(mesh->nbPoints, c.points) << c.name;
        ASSERT_TRUE(mesh->extra) << c.name;
        EXPECT_STREQ(mesh->extra->name, c.name);
        EXPECT_EQ(mesh->extra->hasMatrix, 1);
        EXPECT_EQ(mesh->extra->colours, nullptr);
        EXPECT_TRUE(isIdentity(mesh->extra->matrix)) << c.name;
    }
    EXPECT_EQ(lookup<PrecisionFn>("vexaMesh3dSphere")(2), nullptr);
    EXPECT_EQ(lookup<PrecisionFn>("vexaMesh3dCylinder")(-1), nullptr);
}

TEST(Mesh3dCallbacks, CylinderSpansUnitLengthAboutTheXAxis)
{
    Mesh3dPtr mesh(lookup<PrecisionFn>("vexaMesh3dCylinder")(16));
    ASSERT_TRUE(mesh);
    double minX = 1e9, maxX = -1e9;
    for (int i = 0; i < mesh->nbPoints; ++i) {
        const double* p = mesh->points + 3 * i;
        minX = std::min(minX, p[0]);
        maxX = std::max(maxX, p[0]);
        EXPECT_NEAR(std::hypot(p[1], p[2]), 1.0, 1e-6);
    }
    EXPECT_DOUBLE_EQ(minX, -0.5);
    EXPECT_DOUBLE_EQ(maxX, 0.5);
}

TEST(Mesh3dCallbacks, TransformsComposeThePlacementAfterTheOldOne)
{
    Mesh3dPtr mesh(lookup<CubeFn>("vexaMesh3dCube")());
    ASSERT_TRUE(mesh);
    EXPECT_EQ(lookup<Move3Fn>("dozMesh3dTranslate")(mesh.get(), 1, 2, 3), 1);
    EXPECT_EQ(lookup<Move3Fn>("dozMesh3dScale")(mesh.get(), 2, 2, -2), 1);
    // Translation first, then scale: the translation row is scaled too.
    EXPECT_EQ(mesh->extra->matrix[0], 2.0);
    EXPECT_EQ(mesh->extra->matrix[10], -2.0);
    EXPECT_EQ(mesh->extra->matrix[12], 2.0);
    EXPECT_EQ(mesh->extra->matrix[13], 4.0);
    EXPECT_EQ(mesh->extra->matrix[14], -6.0);
    // Vertex 0 (-0.5, -0.5, -0.5) went through the same steps.
    EXPECT_EQ(mesh->points[0], 1.0);
    EXPECT_EQ(mesh->points[2], -5.0);
    // A mirror moves points only: the triangles keep their index order.
    EXPECT_EQ(mesh->triangles[0], 0);
    EXPECT_EQ(mesh->triangles[1], 1);
    EXPECT_EQ(mesh->triangles[2], 2);
}

TEST(Mesh3dCallbacks, RotationMatrixActsOnRowVectorsLikeTheVertexRotation)
{
    Mesh3dPtr mesh(lookup<CubeFn>("vexaMesh3dCube")());
    ASSERT_TRUE(mesh);
    std::vector<double> before(mesh->points, mesh->points + 24);
    auto rotate = lookup<RotateFn>("dozMesh3dRotate");
    ASSERT_EQ(rotate(mesh.get(), 1, -2, 0.5, 0.7), 1);
    ASSERT_EQ(rotate(mesh.get(), 0, 0, 1, -1.1), 1);
    const double* m = mesh->extra->matrix;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 3; ++j) {
            const double* v = before.data() + 3 * i;
            double expected
                = v[0] * m[0 * 4 + j] + v[1] * m[1 * 4 + j] + v[2] * m[2 * 4 + j] + m[12 + j];
            EXPECT_NEAR(mesh->points[3 * i + j], expected, 1e-6);
        }
    EXPECT_EQ(m[15], 1.0);
    EXPECT_EQ(m[3], 0.0);
}

TEST(Mesh3dCallbacks, TransformAndCoordinatesComeBackAsFloat)
{
    auto alloc = lookup<AllocFn>("vexaMesh3dAlloc");
    Mesh3dPtr mesh(alloc(1, 1));
    mesh->points[0] = 0.1;
    mesh->points[1] = 1;
    mesh->points[2] = 2;
    const double m[9] = { 0, 1, 0, 1, 0, 0, 0, 0, 1 }; // swaps x and y
    ASSERT_EQ(lookup<TransformFn>("vexaMesh3dTransform")(mesh.get(), m), 1);
    EXPECT_EQ(mesh->points[0], 1.0);
    EXPECT_EQ(mesh->points[1], double(0.1f));
    EXPECT_EQ(mesh->extra, nullptr);
    EXPECT_EQ(lookup<TransformFn>("vexaMesh3dTransform")(mesh.get(), nullptr), 0);
}

TEST(Mesh3dCallbacks, VertexColoursReplaceThePlacement)
{
    Mesh3dPtr mesh(lookup<CubeFn>("vexaMesh3dCube")());
    ASSERT_TRUE(mesh);
    std::vector<uint8_t> colours(8 * 4);
    for (size_t i = 0; i < colours.size(); ++i)
        colours[i] = uint8_t(i * 7);
    auto addColours = lookup<ColoursFn>("vexaMesh3dAddColorVertices");
    EXPECT_EQ(addColours(mesh.get(), nullptr), 0);
    EXPECT_EQ(mesh->extra->hasMatrix, 1) << "a refused call leaves the mesh alone";
    ASSERT_EQ(addColours(mesh.get(), colours.data()), 1);
    ASSERT_TRUE(mesh->extra);
    EXPECT_EQ(mesh->extra->hasMatrix, 0);
    EXPECT_STREQ(mesh->extra->name, "");
    EXPECT_EQ(mesh->extra->matrix[0], 0.0);
    ASSERT_NE(mesh->extra->colours, nullptr);
    EXPECT_NE(mesh->extra->colours, colours.data());
    EXPECT_EQ(std::memcmp(mesh->extra->colours, colours.data(), colours.size()), 0);
    ASSERT_EQ(addColours(mesh.get(), colours.data()), 1) << "replacing colours frees the old ones";
}

TEST(Mesh3dCallbacks, ArrowIsShaftThenHeadWithoutPlacement)
{
    const double from[3] = { 1, 1, 1 };
    const double to[3] = { 1, 1, 11 };
    Mesh3dPtr arrow(lookup<ArrowFn>("dozMesh3dArrow")(from, to, 2, 8));
    ASSERT_TRUE(arrow);
    EXPECT_EQ(arrow->nbPoints, 16 + 10);
    EXPECT_EQ(arrow->nbTriangles, 16 + 16);
    EXPECT_EQ(arrow->extra, nullptr);
    // Head: base centre at 80 % of the way, apex at the tip.
    EXPECT_DOUBLE_EQ(arrow->points[3 * 16 + 2], 9.0);
    EXPECT_DOUBLE_EQ(arrow->points[3 * 17 + 2], 11.0);
    EXPECT_EQ(arrow->triangles[3 * 16], 16);
    // Shaft radius is half the given radius.
    EXPECT_NEAR(std::hypot(arrow->points[0] - 1, arrow->points[1] - 1), 1.0, 1e-6);
    EXPECT_EQ(lookup<ArrowFn>("vexaMesh3dArrow")(from, from, 2, 8), nullptr);
    EXPECT_EQ(lookup<ArrowFn>("vexaMesh3dArrow")(nullptr, to, 2, 8), nullptr);
}

TEST(Mesh3dCallbacks, LineIsAnOpenTubeAlongThePoints)
{
    const double points[] = { 0, 0, 0, 0, 0, 5, 3, 0, 5 };
    auto line = lookup<LineFn>("vexaMesh3dLine");
    Mesh3dPtr tube(line(points, 3, 0.5, 6));
    ASSERT_TRUE(tube);
    EXPECT_EQ(tube->nbPoints, 18);
    EXPECT_EQ(tube->nbTriangles, 24);
    EXPECT_EQ(tube->extra, nullptr);
    EXPECT_EQ(line(points, 1, 0.5, 6), nullptr);
    EXPECT_EQ(line(nullptr, 3, 0.5, 6), nullptr);
}

TEST(Mesh3dCallbacks, ReadFromFileGivesAnExchangeMesh)
{
    vexatest::TempDir dir("vexa-mesh3d");
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("quad.off");
    std::ofstream(path) << "OFF\n4 1 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3\n";
    auto read = lookup<ReadFn>("dozMesh3dReadFromFile");
    Mesh3dPtr mesh(read(path.c_str()));
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->nbPoints, 4);
    EXPECT_EQ(mesh->nbTriangles, 2);
    EXPECT_EQ(mesh->extra, nullptr);
    EXPECT_EQ(mesh->points[6], 1.0);

    std::ofstream(path) << "OFF\n4 1 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 9\n";
    EXPECT_EQ(read(path.c_str()), nullptr);
    EXPECT_EQ(read(dir.file("missing.off").c_str()), nullptr);
}

TEST(Mesh3dConversion, ChecksIndicesFromPlugins)
{
    Mesh3dPtr mesh(lookup<AllocFn>("vexaMesh3dAlloc")(3, 1));
    mesh->triangles[0] = 0;
    mesh->triangles[1] = 1;
    mesh->triangles[2] = 2;
    mesh->points[3] = 1.5;
    TriMesh* work = vexa::mesh::mesh3dToTriMesh(mesh.get());
    ASSERT_TRUE(work);
    EXPECT_EQ(work->points[3], 1.5f);
    triMeshFree(&work);
    mesh->triangles[2] = 3;
    EXPECT_EQ(vexa::mesh::mesh3dToTriMesh(mesh.get()), nullptr);
    mesh->triangles[2] = -1;
    EXPECT_EQ(vexa::mesh::mesh3dToTriMesh(mesh.get()), nullptr);
}
