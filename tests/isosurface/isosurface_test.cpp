// Extraction runs on small volumes: shapes, selections, regions, limits, bad input.
#include "isotestsupport.h"

#include <cmath>
#include <cstring>
#include <numbers>

using namespace vexa::mesh;
using namespace isotest;

namespace {

Volume singleVoxel(double inside = 1.0, double outside = 0.0)
{
    Volume v(5, 5, 5, outside);
    v.at(2, 2, 2) = inside;
    return v;
}

struct SingleVoxelCase {
    int method;
    int points;
    int triangles;
    double volume;
};

class IsoSingleVoxel : public ::testing::TestWithParam<SingleVoxelCase> { };

TEST_P(IsoSingleVoxel, GivesTheMethodsClosedShape)
{
    const SingleVoxelCase& c = GetParam();
    IsoRun run = extract(singleVoxel(), threshold(0.5, c.method));
    ASSERT_NE(run.mesh, nullptr) << run.error;
    EXPECT_EQ(run.mesh->nbPoints, c.points);
    EXPECT_EQ(run.mesh->nbTriangles, c.triangles);
    if (c.triangles == 0)
        return;
    EXPECT_TRUE(isClosedAndOriented(*run.mesh));
    EXPECT_NEAR(signedVolume(*run.mesh), c.volume, 1e-4);
    EXPECT_EQ(duplicatePoints(*run.mesh), 0);
}

// Cuberille: the voxel's cube (six squares, 24 points welded to 8). Marching cubes:
// an octahedron through the edge midpoints. The simplified rule joins inside corners
// and a lone corner has nothing to join.
INSTANTIATE_TEST_SUITE_P(AllMethods, IsoSingleVoxel,
    ::testing::Values(SingleVoxelCase { kIsoCuberille, 8, 12, 1.0 },
        SingleVoxelCase { kIsoMarchingCubes15, 6, 8, 1.0 / 6.0 },
        SingleVoxelCase { kIsoMarchingCubes33, 6, 8, 1.0 / 6.0 },
        SingleVoxelCase { kIsoSimplified, 0, 0, 0.0 },
        SingleVoxelCase { kIsoSimplifiedEmulation, 6, 8, 1.0 / 6.0 },
        SingleVoxelCase { kIsoSimplifiedTable, 0, 0, 0.0 }));

TEST(IsoSingleVoxelWeld, CuberilleProduces24PointsBeforeMerging)
{
    IsoRun run = extract(singleVoxel(), threshold(0.5, kIsoCuberille));
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_EQ(run.report.pointsBeforeWeld, 24);
    EXPECT_EQ(run.mesh->nbPoints, 8);
    EXPECT_FLOAT_EQ(run.mesh->boxMin[0], 1.5f);
    EXPECT_FLOAT_EQ(run.mesh->boxMax[2], 2.5f);
}

TEST(IsoSingleVoxelWeld, EverySampleTypeGivesTheSameMesh)
{
    for (int type : { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_S16, TYPEDATA_U16, TYPEDATA_S32,
             TYPEDATA_U32, TYPEDATA_F32 }) {
        std::vector<unsigned char> bytes(size_t(125) * size_t(vexaTypeSize(type)), 0);
        // Sample 62 = (2, 2, 2) holds 1 in every type (little-endian).
        if (type == TYPEDATA_F32) {
            float one = 1.0f;
            std::memcpy(&bytes[62 * 4], &one, 4);
        } else {
            bytes[size_t(62 * vexaTypeSize(type))] = 1;
        }
        TriMeshPtr mesh(extractIsoSurfaceFromArray(
            5, 5, 5, type, bytes.data(), threshold(0.5, kIsoMarchingCubes15)));
        ASSERT_NE(mesh, nullptr) << type;
        EXPECT_EQ(mesh->nbTriangles, 8) << type;
    }
}

class IsoSphere : public ::testing::TestWithParam<int> { };

TEST_P(IsoSphere, IsClosedOrientedAndNearTheBallVolume)
{
    const double r = 7.3;
    IsoRun run = extract(ball(22, 10.5, r), threshold(0.0, GetParam()));
    ASSERT_NE(run.mesh, nullptr) << run.error;
    EXPECT_TRUE(isClosedAndOriented(*run.mesh));
    EXPECT_EQ(duplicatePoints(*run.mesh), 0);
    const double exact = 4.0 / 3.0 * std::numbers::pi * r * r * r;
    EXPECT_NEAR(signedVolume(*run.mesh), exact, 0.04 * exact);

    // The finishing pass of the model agrees and keeps the outward orientation.
    std::vector<std::string> report;
    ASSERT_EQ(finishMesh(run.mesh.get(), [&](const std::string& l) { report.push_back(l); }), 1);
    EXPECT_TRUE(report.empty());
    EXPECT_NEAR(run.mesh->volume, exact, 0.04 * exact);
    EXPECT_GT(signedVolume(*run.mesh), 0);
    EXPECT_NEAR(run.mesh->barycentre[0], 10.5, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Methods, IsoSphere,
    ::testing::Values(
        kIsoCuberille, kIsoMarchingCubes15, kIsoMarchingCubes33, kIsoSimplifiedEmulation));

TEST(IsoSphereCuberille, EnclosesExactlyTheInsideVoxels)
{
    Volume v = ball(16, 7.5, 5.2);
    int inside = 0;
    for (double s : v.samples)
        inside += s >= 0;
    IsoRun run = extract(v, threshold(0.0, kIsoCuberille));
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_NEAR(signedVolume(*run.mesh), inside, 1e-6);
}

TEST(IsoSphereSimplified, ComputedAndTabulatedRulesAgreeAwayFromTheLevel)
{
    // No sample equals the level, so "strictly above" and "at least" mark the same corners.
    Volume v = ball(18, 8.5, 6.1);
    IsoRun computed = extract(v, threshold(0.0, kIsoSimplified));
    IsoRun table = extract(v, threshold(0.0, kIsoSimplifiedTable));
    ASSERT_NE(computed.mesh, nullptr);
    ASSERT_NE(table.mesh, nullptr);
    ASSERT_GT(computed.mesh->nbTriangles, 0);
    ASSERT_EQ(computed.mesh->nbPoints, table.mesh->nbPoints);
    ASSERT_EQ(computed.mesh->nbTriangles, table.mesh->nbTriangles);
    for (int i = 0; i < 3 * computed.mesh->nbTriangles; ++i)
        ASSERT_EQ(computed.mesh->triangles[i], table.mesh->triangles[i]);
    EXPECT_EQ(duplicatePoints(*table.mesh), 0);
    // Its vertices are grid samples inside the ball.
    for (int i = 0; i < table.mesh->nbPoints; ++i) {
        const float* p = table.mesh->points + 3 * i;
        EXPECT_EQ(p[0], std::floor(p[0]));
        double d = std::sqrt((p[0] - 8.5) * (p[0] - 8.5) + (p[1] - 8.5) * (p[1] - 8.5)
            + (p[2] - 8.5) * (p[2] - 8.5));
        EXPECT_LE(d, 6.1);
    }
}

TEST(IsoSphereSimplified, SamplesAtTheLevelCountOnlyForTheTable)
{
    Volume v(4, 4, 4, 0.0);
    for (int z = 1; z <= 2; ++z)
        for (int y = 1; y <= 2; ++y)
            for (int x = 1; x <= 2; ++x)
                v.at(x, y, z) = 5.0;
    IsoRun strict = extract(v, threshold(5.0, kIsoSimplified));
    IsoRun table = extract(v, threshold(5.0, kIsoSimplifiedTable));
    ASSERT_NE(strict.mesh, nullptr);
    ASSERT_NE(table.mesh, nullptr);
    EXPECT_EQ(strict.mesh->nbTriangles, 0);
    EXPECT_GT(table.mesh->nbTriangles, 0);
}

// ---- Selections ----

TEST(IsoInterval, SamplesAboveTheUpperBoundFoldBelowTheLevel)
{
    IsoSurfaceParams p = threshold(10.0, kIsoMarchingCubes15);
    p.selection = kIsoInterval;
    p.seuil2 = 20.0;
    for (auto [value, triangles] :
        { std::pair { 15.0, 8 }, { 20.0, 8 }, { 10.0, 8 }, { 25.0, 0 }, { 21.0, 0 }, { 9.0, 0 } }) {
        IsoRun run = extract(singleVoxel(value), p);
        ASSERT_NE(run.mesh, nullptr);
        EXPECT_EQ(run.mesh->nbTriangles, triangles) << value;
    }
}

TEST(IsoInterval, ReversedBoundsAreRefused)
{
    IsoSurfaceParams p = threshold(20.0, kIsoMarchingCubes15);
    p.selection = kIsoInterval;
    p.seuil2 = 10.0;
    IsoRun run = extract(singleVoxel(15.0), p);
    EXPECT_EQ(run.mesh, nullptr);
    EXPECT_FALSE(run.error.empty());
}

Volume threeValues()
{
    Volume v(9, 5, 5, 0.0);
    v.at(2, 2, 2) = 3.0;
    v.at(4, 2, 2) = 5.0;
    v.at(6, 2, 2) = 7.0;
    return v;
}

TEST(IsoList, OnlyListedValuesWithinTheToleranceAreInside)
{
    IsoSurfaceParams p = threshold(0.0, kIsoMarchingCubes15);
    p.selection = kIsoList;
    p.values = { 7.0, 3.0 };
    for (auto [tolerance, triangles] :
        { std::pair { 0.0, 16 }, { 1.5, 16 }, { -2.0, 24 }, { 2.0, 24 } }) {
        p.tolerance = tolerance;
        IsoRun run = extract(threeValues(), p);
        ASSERT_NE(run.mesh, nullptr);
        EXPECT_EQ(run.mesh->nbTriangles, triangles) << tolerance;
    }
}

TEST(IsoList, TheLevelIsHalfwayBetweenOutsideAndInside)
{
    IsoSurfaceParams p = threshold(99.0, kIsoMarchingCubes15); // Seuil 1 plays no part
    p.selection = kIsoList;
    p.values = { 3.0 };
    IsoRun run = extract(threeValues(), p);
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_FLOAT_EQ(run.mesh->boxMin[0], 1.5f);
    EXPECT_FLOAT_EQ(run.mesh->boxMax[0], 2.5f);
}

TEST(IsoList, EmptyOrNonFiniteListsAreRefused)
{
    IsoSurfaceParams p = threshold(0.0, kIsoMarchingCubes15);
    p.selection = kIsoList;
    EXPECT_EQ(extract(threeValues(), p).mesh, nullptr);
    p.values = { 3.0, std::nan("") };
    EXPECT_EQ(extract(threeValues(), p).mesh, nullptr);
    p.values = { 3.0 };
    p.tolerance = std::nan("");
    EXPECT_EQ(extract(threeValues(), p).mesh, nullptr);
}

// ---- Regions ----

TEST(IsoRegion, RestrictedBoxClipsTheSurface)
{
    IsoSurfaceParams p = threshold(0.0, kIsoMarchingCubes15);
    p.x1 = 4, p.x2 = 10, p.y1 = 2, p.y2 = 19, p.z1 = 6, p.z2 = 15;
    IsoRun run = extract(ball(22, 10.5, 7.3), p);
    ASSERT_NE(run.mesh, nullptr) << run.error;
    ASSERT_GT(run.mesh->nbTriangles, 0);
    EXPECT_GE(run.mesh->boxMin[0], 4.0f);
    EXPECT_LE(run.mesh->boxMax[0], 10.0f);
    EXPECT_GE(run.mesh->boxMin[2], 6.0f);
    EXPECT_LE(run.mesh->boxMax[2], 15.0f);
    // Cut open where the box crosses the ball, but still a clean surface.
    Topology t = topology(*run.mesh);
    EXPECT_GT(t.boundaryEdges, 0);
    EXPECT_EQ(t.overusedEdges, 0);
    EXPECT_EQ(t.misorientedEdges, 0);
}

TEST(IsoRegion, BoundsBeyondTheVolumeAreClamped)
{
    Volume v = ball(12, 5.5, 4.2);
    IsoRun whole = extract(v, threshold(0.0, kIsoMarchingCubes15));
    IsoSurfaceParams p = threshold(0.0, kIsoMarchingCubes15);
    p.x1 = -7, p.y1 = -1, p.z1 = 0, p.x2 = 1000, p.y2 = 11, p.z2 = -1;
    IsoRun clamped = extract(v, p);
    ASSERT_NE(whole.mesh, nullptr);
    ASSERT_NE(clamped.mesh, nullptr);
    EXPECT_EQ(whole.mesh->nbTriangles, clamped.mesh->nbTriangles);
    EXPECT_EQ(whole.mesh->nbPoints, clamped.mesh->nbPoints);
}

TEST(IsoRegion, ReversedOrOutsideBoxesAreRefused)
{
    Volume v = ball(12, 5.5, 4.2);
    for (auto box : { std::array { 8, 0, 0, 3, 11, 11 }, std::array { 0, 0, 20, 11, 11, 30 },
             std::array { 0, 0, 0, 11, -5, 11 } }) {
        IsoSurfaceParams p = threshold(0.0, kIsoMarchingCubes15);
        p.x1 = box[0], p.y1 = box[1], p.z1 = box[2], p.x2 = box[3], p.y2 = box[4], p.z2 = box[5];
        IsoRun run = extract(v, p);
        EXPECT_EQ(run.mesh, nullptr);
        EXPECT_FALSE(run.error.empty());
    }
}

TEST(IsoRegion, FlatBoxGivesAnEmptyMesh)
{
    IsoSurfaceParams p = threshold(0.0, kIsoMarchingCubes15);
    p.z1 = p.z2 = 5;
    IsoRun run = extract(ball(12, 5.5, 4.2), p);
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_EQ(run.mesh->nbTriangles, 0);
    EXPECT_EQ(run.report.slabs, 0);
}

// ---- Limits and messages ----

TEST(IsoLimits, PointsLimitStopsAfterTheSlabThatCrossesIt)
{
    IsoSurfaceParams p = threshold(0.0, kIsoMarchingCubes15);
    p.maxPoints = 10;
    p.messages = true;
    IsoRun run = extract(ball(22, 10.5, 7.3), p);
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_TRUE(run.report.stoppedByLimit);
    // Slabs 0..2 are empty; slab 3 touches the ball's pole and crosses the limit.
    EXPECT_EQ(run.report.slabs, 4);
    ASSERT_EQ(run.lines.size(), 4u);
    EXPECT_EQ(run.lines[0], "Extraction de surface - étape 1/21 = ( 0 pts , 0 tr )");
    EXPECT_GT(run.report.pointsBeforeWeld, 10);
    EXPECT_GT(run.mesh->nbTriangles, 0);
    EXPECT_EQ(duplicatePoints(*run.mesh), 0);
    EXPECT_LT(run.mesh->boxMax[2], 5.0f);
}

TEST(IsoLimits, TrianglesLimitKeepsAWeldedPartialMesh)
{
    IsoSurfaceParams p = threshold(0.0, kIsoCuberille);
    p.maxTriangles = 200;
    IsoRun full = extract(ball(22, 10.5, 7.3), threshold(0.0, kIsoCuberille));
    IsoRun run = extract(ball(22, 10.5, 7.3), p);
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_TRUE(run.report.stoppedByLimit);
    EXPECT_GT(run.mesh->nbTriangles, 200);
    EXPECT_LT(run.mesh->nbTriangles, full.mesh->nbTriangles);
    EXPECT_FALSE(full.report.stoppedByLimit);
    EXPECT_EQ(duplicatePoints(*run.mesh), 0);
}

TEST(IsoLimits, MessagesReportEachSlabAndTheTime)
{
    IsoSurfaceParams p = threshold(0.5, kIsoMarchingCubes15);
    p.messages = true;
    IsoRun run = extract(singleVoxel(), p);
    ASSERT_EQ(run.lines.size(), 5u);
    EXPECT_EQ(run.lines[1], "Extraction de surface - étape 2/4 = ( 12 pts , 4 tr )");
    EXPECT_EQ(run.lines[3], "Extraction de surface - étape 4/4 = ( 24 pts , 8 tr )");
    EXPECT_EQ(run.lines[4].rfind("Temps : ", 0), 0u);
    // Without messages nothing is written.
    EXPECT_TRUE(extract(singleVoxel(), threshold(0.5, kIsoMarchingCubes15)).lines.empty());
}

TEST(IsoLimits, ProgressCoversTheBoxSlabBySlab)
{
    Volume v = singleVoxel();
    IsoSurfaceParams p = threshold(0.5, kIsoCuberille);
    p.z1 = 1, p.z2 = 3;
    std::vector<int> seen;
    int first = -1, last = -1;
    IsoSurfaceHooks hooks;
    hooks.progressRange = [&](int a, int b) { first = a, last = b; };
    hooks.progress = [&](int z) { seen.push_back(z); };
    TriMeshPtr mesh(extractIsoSurfaceFromArray(5, 5, 5, TYPEDATA_F64, v.samples.data(), p, hooks));
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 3);
    EXPECT_EQ(seen, (std::vector<int> { 1, 2 }));
}

// ---- Degenerate input ----

TEST(IsoDegenerate, TinyOrUniformVolumesGiveEmptyMeshes)
{
    for (int method = 0; method <= 5; ++method) {
        Volume one(1, 1, 1, 200.0);
        IsoRun run = extract(one, threshold(127.0, method));
        ASSERT_NE(run.mesh, nullptr) << method;
        EXPECT_EQ(run.mesh->nbPoints, 0);
        for (double value : { 0.0, 200.0, 127.0 }) {
            IsoRun uniform = extract(Volume(4, 3, 5, value), threshold(127.0, method));
            ASSERT_NE(uniform.mesh, nullptr);
            EXPECT_EQ(uniform.mesh->nbTriangles, 0) << method << " " << value;
        }
    }
}

TEST(IsoDegenerate, NanSamplesCountAsOutside)
{
    for (int method : { kIsoCuberille, kIsoMarchingCubes15 }) {
        IsoRun clean = extract(singleVoxel(), threshold(0.5, method));
        IsoRun withNan = extract(singleVoxel(1.0, std::nan("")), threshold(0.5, method));
        ASSERT_NE(withNan.mesh, nullptr);
        EXPECT_EQ(withNan.mesh->nbTriangles, clean.mesh->nbTriangles);
        EXPECT_TRUE(isClosedAndOriented(*withNan.mesh));
        for (int i = 0; i < 3 * withNan.mesh->nbPoints; ++i)
            ASSERT_TRUE(std::isfinite(withNan.mesh->points[i]));
    }
}

TEST(IsoDegenerate, ASampleAtTheLevelBesideNanStillGetsItsFaces)
{
    IsoRun run = extract(singleVoxel(0.5, std::nan("")), threshold(0.5, kIsoCuberille));
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_EQ(run.mesh->nbTriangles, 12);
    EXPECT_TRUE(isClosedAndOriented(*run.mesh));
}

TEST(IsoDegenerate, InfiniteSamplesGiveFinitePoints)
{
    IsoRun run = extract(singleVoxel(INFINITY, -INFINITY), threshold(0.5, kIsoMarchingCubes15));
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_EQ(run.mesh->nbTriangles, 8);
    for (int i = 0; i < 3 * run.mesh->nbPoints; ++i)
        ASSERT_TRUE(std::isfinite(run.mesh->points[i]));
}

TEST(IsoDegenerate, BadParametersAreRefusedWithAReason)
{
    Volume v = singleVoxel();
    auto refused = [&](const IsoSurfaceParams& p) {
        IsoRun run = extract(v, p);
        return run.mesh == nullptr && !run.error.empty();
    };
    EXPECT_TRUE(refused(threshold(std::nan(""), kIsoMarchingCubes15)));
    EXPECT_TRUE(refused(threshold(INFINITY, kIsoMarchingCubes15)));
    EXPECT_TRUE(refused(threshold(0.5, 6)));
    EXPECT_TRUE(refused(threshold(0.5, -1)));
    IsoSurfaceParams p = threshold(0.5, kIsoMarchingCubes15);
    p.selection = 3;
    EXPECT_TRUE(refused(p));

    std::string error;
    EXPECT_EQ(extractIsoSurfaceFromArray(
                  0, 5, 5, TYPEDATA_F64, v.samples.data(), threshold(0.5, 1), {}, &error),
        nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(
        extractIsoSurfaceFromArray(5, 5, 5, TYPEDATA_F64, nullptr, threshold(0.5, 1)), nullptr);
    EXPECT_EQ(
        extractIsoSurfaceFromArray(5, 5, 5, TYPEDATA_RGBA, v.samples.data(), threshold(0.5, 1)),
        nullptr);
    EXPECT_EQ(
        extractIsoSurfaceFromArray(5, 5, 5, 12, v.samples.data(), threshold(0.5, 1)), nullptr);
    EXPECT_EQ(extractIsoSurfaceFromArray(
                  70000, 70000, 2, TYPEDATA_F64, v.samples.data(), threshold(0.5, 1)),
        nullptr);
}

TEST(IsoDegenerate, AFailingSliceReaderEndsTheRun)
{
    std::string error;
    int calls = 0;
    SliceReader reader = [&](int z, double* out) {
        ++calls;
        std::fill(out, out + 9, double(z));
        return z < 2;
    };
    EXPECT_EQ(extractIsoSurface(reader, 3, 3, 5, threshold(0.5, 1), {}, &error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(calls, 3);
}

} // namespace
