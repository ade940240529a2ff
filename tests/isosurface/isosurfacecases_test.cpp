// Cube rules, vertex merging, body splitting, the "Valeurs" list, the settings and
// the block entry.
#include "../data/datatest_util.h"
#include "isotestsupport.h"
#include "mesh/meshprocessing.h"

#include <cstring>
#include <numbers>
#include <random>

using namespace vexa::mesh;
using namespace isotest;

namespace {

constexpr float kCorner[8][3] = { { 0, 0, 0 }, { 1, 0, 0 }, { 1, 1, 0 }, { 0, 1, 0 }, { 0, 0, 1 },
    { 1, 0, 1 }, { 1, 1, 1 }, { 0, 1, 1 } };

bool inside(int caseIndex, int corner)
{
    return (caseIndex >> corner) & 1;
}

// ---- Marching cubes table ----

TEST(IsoMarchingTable, EveryCaseCutsOnlyEdgesBetweenInsideAndOutside)
{
    EXPECT_EQ(marchingCase(0).nbTriangles, 0);
    EXPECT_EQ(marchingCase(255).nbTriangles, 0);
    for (int c = 1; c < 255; ++c) {
        const MarchingCase& m = marchingCase(c);
        ASSERT_GT(m.nbTriangles, 0) << c;
        for (int p = 0; p < m.nbPoints; ++p) {
            int a = m.edges[p][0], b = m.edges[p][1];
            int differing = 0;
            for (int axis = 0; axis < 3; ++axis)
                differing += kCorner[a][axis] != kCorner[b][axis];
            EXPECT_EQ(differing, 1) << c;
            EXPECT_NE(inside(c, a), inside(c, b)) << c << " edge " << a << "-" << b;
        }
        // Every cut edge of the cube is used once.
        int cut = 0;
        for (int a = 0; a < 8; ++a)
            for (int b = a + 1; b < 8; ++b) {
                int differing = 0;
                for (int axis = 0; axis < 3; ++axis)
                    differing += kCorner[a][axis] != kCorner[b][axis];
                cut += differing == 1 && inside(c, a) != inside(c, b);
            }
        EXPECT_EQ(cut, m.nbPoints) << c;
    }
}

TEST(IsoMarchingTable, TrianglesFaceFromInsideToOutside)
{
    for (int c = 1; c < 255; ++c) {
        const MarchingCase& m = marchingCase(c);
        for (int t = 0; t < m.nbTriangles; ++t) {
            float p[3][3];
            double outward = 0;
            for (int k = 0; k < 3; ++k) {
                int point = m.triangles[t][k];
                int a = m.edges[point][0], b = m.edges[point][1];
                for (int axis = 0; axis < 3; ++axis)
                    p[k][axis] = (kCorner[a][axis] + kCorner[b][axis]) / 2;
            }
            double u[3], w[3];
            for (int axis = 0; axis < 3; ++axis)
                u[axis] = p[1][axis] - p[0][axis], w[axis] = p[2][axis] - p[0][axis];
            double n[3] = { u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                u[0] * w[1] - u[1] * w[0] };
            for (int k = 0; k < 3; ++k) {
                int point = m.triangles[t][k];
                int a = m.edges[point][0], b = m.edges[point][1];
                int in = inside(c, a) ? a : b, out = in == a ? b : a;
                for (int axis = 0; axis < 3; ++axis)
                    outward += n[axis] * (kCorner[out][axis] - kCorner[in][axis]);
            }
            EXPECT_GT(outward, 0) << "case " << c << " triangle " << t;
        }
    }
}

TEST(IsoMarchingTable, OnlyComplementedAmbiguousCasesAreRebuilt)
{
    int rebuilt = 0;
    for (int c = 1; c < 255; ++c) {
        const MarchingCase& m = marchingCase(c);
        if (!m.faceResolved)
            continue;
        ++rebuilt;
        EXPECT_GT(__builtin_popcount(unsigned(c)), 4) << c; // complements have many inside corners
    }
    EXPECT_GT(rebuilt, 0);
    EXPECT_FALSE(marchingCase(0x05).faceResolved); // base 3 itself
    EXPECT_TRUE(marchingCase(0xFA).faceResolved); // its complement
}

// Two voxels touching only along an edge: the face between them is ambiguous and
// their inside corners stay apart.
TEST(IsoMarchingWatertight, DiagonalVoxelsGiveTwoClosedShapes)
{
    Volume v(6, 6, 5, 0.0);
    v.at(2, 2, 2) = 1.0;
    v.at(3, 3, 2) = 1.0;
    IsoRun run = extract(v, threshold(0.5, kIsoMarchingCubes15));
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_TRUE(isClosedAndOriented(*run.mesh));
    std::vector<TriMesh*> parts = splitIntoParts(run.mesh.get());
    EXPECT_EQ(parts.size(), 2u); // inside corners kept apart
    for (TriMesh* part : parts)
        triMeshFree(&part);
}

class IsoMarchingRandom : public ::testing::TestWithParam<unsigned> { };

TEST_P(IsoMarchingRandom, NoiseVolumesGiveClosedOrientedSurfaces)
{
    std::mt19937 random(GetParam());
    Volume v(11, 10, 9, 0.0);
    for (int z = 1; z < 8; ++z)
        for (int y = 1; y < 9; ++y)
            for (int x = 1; x < 10; ++x)
                v.at(x, y, z) = std::uniform_real_distribution<double>(0.0, 2.0)(random);
    for (int method : { kIsoMarchingCubes15, kIsoMarchingCubes33, kIsoSimplifiedEmulation }) {
        IsoRun run = extract(v, threshold(1.0, method));
        ASSERT_NE(run.mesh, nullptr);
        Topology t = topology(*run.mesh);
        EXPECT_GT(run.mesh->nbTriangles, 100);
        EXPECT_EQ(t.boundaryEdges, 0);
        EXPECT_EQ(t.overusedEdges, 0);
        EXPECT_EQ(t.misorientedEdges, 0);
        EXPECT_EQ(duplicatePoints(*run.mesh), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, IsoMarchingRandom, ::testing::Values(1u, 2u, 3u, 4u));

// ---- Simplified rule ----

TEST(IsoSimplifiedTable, TrianglesJoinInsideCornersAndStayWithinNine)
{
    for (int c = 0; c < 256; ++c) {
        std::vector<int> corners = simplifiedCaseTriangles(c);
        ASSERT_EQ(corners.size() % 3, 0u);
        EXPECT_LE(corners.size(), 27u) << c;
        for (int k : corners)
            EXPECT_TRUE(inside(c, k)) << "case " << c << " corner " << k;
    }
}

TEST(IsoSimplifiedTable, WorkedCases)
{
    auto count = [](int c) { return simplifiedCaseTriangles(c).size() / 3; };
    EXPECT_EQ(count(0x00), 0u);
    EXPECT_EQ(count(0x01), 0u); // one corner
    EXPECT_EQ(count(0x03), 0u); // two corners
    EXPECT_EQ(count(0xFF), 0u);
    EXPECT_EQ(count(0x0F), 2u); // a face: the quad rule
    EXPECT_EQ(count(0x07), 1u); // three corners of one face
    EXPECT_EQ(count(0x41), 0u); // two opposite corners
    EXPECT_EQ(count(0x7F), 1u); // seven: the triangle round the missing corner
    // Six inside, the two missing corners 0 and 6 opposite: one triangle round each.
    EXPECT_EQ(count(0xBE), 2u);
    // The x = 0 face (corners 0, 3, 4, 7) as a quad: triangles (0, 7, 3) and (0, 7, 4)
    // in case numbering, up to orientation.
    std::vector<int> quad = simplifiedCaseTriangles(0x99);
    ASSERT_EQ(quad.size(), 6u);
    std::multiset<int> first(quad.begin(), quad.begin() + 3), second(quad.begin() + 3, quad.end());
    EXPECT_EQ(first, (std::multiset<int> { 0, 3, 7 }));
    EXPECT_EQ(second, (std::multiset<int> { 0, 4, 7 }));
}

// ---- Welding ----

TEST(IsoWeld, CoincidentPointsJoinTheLowestIndex)
{
    std::vector<float> points = { 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5 };
    std::vector<int32_t> triangles = { 0, 1, 2, 3, 5, 4 };
    weldVertices(points, triangles);
    EXPECT_EQ(points, (std::vector<float> { 0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5 }));
    EXPECT_EQ(triangles, (std::vector<int32_t> { 0, 1, 2, 1, 3, 2 }));
}

TEST(IsoWeld, MergesAcrossSubdivisionBoundaries)
{
    // A spread of 100 units forces several levels of boxes; each point appears three
    // times, some right on the halving planes.
    std::vector<float> points;
    std::vector<int32_t> triangles;
    const int n = 101;
    for (int copy = 0; copy < 3; ++copy)
        for (int i = 0; i < n; ++i) {
            points.insert(points.end(), { float(i), float(i % 7) * 0.5f, float(100 - i) });
        }
    for (int i = 0; i + 2 < 3 * n; i += 3)
        triangles.insert(triangles.end(), { i, i + 1, i + 2 });
    weldVertices(points, triangles);
    ASSERT_EQ(points.size(), size_t(3 * n));
    for (int32_t index : triangles)
        ASSERT_LT(index, n);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(points[size_t(3 * i)], float(i));
}

TEST(IsoWeld, KeepsPointsThatAreMerelyClose)
{
    std::vector<float> points = { 0, 0, 0, 1e-4f, 0, 0, 0, 0, 1e-4f };
    std::vector<int32_t> triangles = { 0, 1, 2 };
    weldVertices(points, triangles);
    EXPECT_EQ(points.size(), 9u);
    std::vector<float> none;
    std::vector<int32_t> noTriangles;
    weldVertices(none, noTriangles);
    EXPECT_TRUE(none.empty());
}

// ---- Bodies ----

TEST(IsoBodies, SeparateBallsBecomeSeparateParts)
{
    Volume v(24, 12, 12, -1.0);
    v.fill([](int x, int y, int z) {
        auto d = [&](double cx) {
            return std::sqrt((x - cx) * (x - cx) + (y - 5.5) * (y - 5.5) + (z - 5.5) * (z - 5.5));
        };
        return 4.2 - std::min(d(5.5), d(17.5));
    });
    IsoRun run = extract(v, threshold(0.0, kIsoMarchingCubes15));
    ASSERT_NE(run.mesh, nullptr);
    std::vector<TriMesh*> parts = splitIntoParts(run.mesh.get());
    ASSERT_EQ(parts.size(), 2u);
    int points = 0, triangles = 0;
    for (TriMesh* part : parts) {
        EXPECT_TRUE(isClosedAndOriented(*part));
        EXPECT_TRUE(hasValidIndices(*part));
        points += part->nbPoints;
        triangles += part->nbTriangles;
    }
    EXPECT_EQ(points, run.mesh->nbPoints);
    EXPECT_EQ(triangles, run.mesh->nbTriangles);
    EXPECT_LT(parts[0]->boxMax[0], 12.0f);
    EXPECT_GT(parts[1]->boxMin[0], 12.0f);
    for (TriMesh*& part : parts)
        triMeshFree(&part);
}

TEST(IsoBodies, EmptyMeshHasNoParts)
{
    IsoRun run = extract(Volume(3, 3, 3), threshold(0.5, kIsoMarchingCubes15));
    ASSERT_NE(run.mesh, nullptr);
    EXPECT_TRUE(splitIntoParts(run.mesh.get()).empty());
}

TEST(IsoBodies, CommandObjectsFollowTheSeparationFlag)
{
    Volume v(20, 10, 10, -1.0);
    v.fill([](int x, int y, int z) {
        auto d = [&](double cx) {
            return std::sqrt((x - cx) * (x - cx) + (y - 4.5) * (y - 4.5) + (z - 4.5) * (z - 4.5));
        };
        return 3.2 - std::min(d(4.5), d(14.5));
    });
    for (bool separate : { false, true }) {
        IsoRun run = extract(v, threshold(0.0, kIsoMarchingCubes15));
        const int points = run.mesh->nbPoints;
        std::vector<std::string> lines;
        std::vector<IsoSurfaceObject> objects = isoSurfaceObjects(
            run.mesh.release(), separate, true, [&](const std::string& l) { lines.push_back(l); });
        ASSERT_EQ(objects.size(), separate ? 2u : 1u);
        double volume = 0;
        for (IsoSurfaceObject& o : objects) {
            EXPECT_EQ(o.name, separate ? "extract_surface_out" : "extract_surface_in");
            EXPECT_GE(o.rgb[0] + o.rgb[1] + o.rgb[2], 1.0);
            EXPECT_GT(o.mesh->volume, 0.0f);
            volume += o.mesh->volume;
            triMeshFree(&o.mesh);
        }
        ASSERT_GE(lines.size(), 2u);
        const std::string totals = "Extraction de surface = (" + std::to_string(points) + " pt et ";
        EXPECT_EQ(lines[lines.size() - 2].rfind(totals, 0), 0u);
        EXPECT_EQ(lines.back().rfind("Surface totale = ", 0), 0u);
        if (separate) {
            EXPECT_EQ(lines[0], "Extraction de surface - nb_obj : 2");
            EXPECT_EQ(lines[1].rfind("Extraction de surface - obj 1/2 = (", 0), 0u);
        }
        const double ball = 4.0 / 3.0 * std::numbers::pi * 3.2 * 3.2 * 3.2;
        EXPECT_NEAR(volume, 2 * ball, 0.1 * 2 * ball);
    }
    std::vector<std::string> lines;
    EXPECT_TRUE(isoSurfaceObjects(nullptr, true, true, [&](const std::string& l) {
        lines.push_back(l);
    }).empty());
    EXPECT_TRUE(lines.empty());
}

// ---- "Valeurs" and the settings ----

TEST(IsoValues, ReadsSuccessiveNumbers)
{
    std::vector<double> values;
    std::string error;
    ASSERT_TRUE(parseIsoValues("3 7", values, &error));
    EXPECT_EQ(values, (std::vector<double> { 3, 7 }));
    ASSERT_TRUE(parseIsoValues(" 1.5;-2,+4\t1e2\n", values, &error));
    EXPECT_EQ(values, (std::vector<double> { 1.5, -2, 4, 100 }));
    ASSERT_TRUE(parseIsoValues("  ", values, &error));
    EXPECT_TRUE(values.empty());
}

TEST(IsoValues, RefusesWhatIsNotANumber)
{
    std::vector<double> values;
    for (const char* text : { "3 abc", "3x", "nan", "inf", "1e999", "+", "--2" }) {
        std::string error;
        EXPECT_FALSE(parseIsoValues(text, values, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_TRUE(values.empty());
    }
}

TEST(IsoSettings, InitialValuesMeanWholeVolumeAndNoLimits)
{
    IsoSurfaceSettings s;
    IsoSurfaceParams p;
    ASSERT_TRUE(isoParamsFromSettings(s, p, nullptr));
    EXPECT_EQ(p.method, kIsoMarchingCubes15);
    EXPECT_EQ(p.x1, -1);
    EXPECT_EQ(p.z2, -1);
    EXPECT_EQ(p.maxPoints, -1);
    EXPECT_EQ(p.maxTriangles, -1);
}

TEST(IsoSettings, RegionLimitsAndListFollowTheirFlags)
{
    IsoSurfaceSettings s;
    s.region = 1;
    s.x2 = 50;
    s.limitTriangles = true;
    s.maxTriangles = 77;
    s.selection = kIsoList;
    s.values = "3 7";
    IsoSurfaceParams p;
    ASSERT_TRUE(isoParamsFromSettings(s, p, nullptr));
    EXPECT_EQ(p.x1, 0);
    EXPECT_EQ(p.x2, 50);
    EXPECT_EQ(p.y2, 99);
    EXPECT_EQ(p.maxPoints, -1);
    EXPECT_EQ(p.maxTriangles, 77);
    EXPECT_EQ(p.values, (std::vector<double> { 3, 7 }));

    std::string error = "x";
    s.values = "";
    EXPECT_FALSE(isoParamsFromSettings(s, p, &error));
    EXPECT_TRUE(error.empty()); // ends silently
    s.values = "3 sept";
    EXPECT_FALSE(isoParamsFromSettings(s, p, &error));
    EXPECT_NE(error.find("sept"), std::string::npos);
}

// Two tasks asking at once each fill their own copy: nothing is kept before a box is
// validated, a cancelled box brings nothing back, and a kept copy stays the caller's.
TEST(IsoSettings, DialogsWorkOnCopiesAndOnlyValidatedBoxesAreKept)
{
    resetIsoSurfaceSettings();
    IsoSurfaceSettings first = isoSurfaceSettings();
    IsoSurfaceSettings cancelled = isoSurfaceSettings();
    first.selection = kIsoList;
    first.values = "3 7";
    first.method = kIsoCuberille;
    cancelled.seuil1 = 42;
    cancelled.values = "ignored";
    EXPECT_EQ(isoSurfaceSettings().values, "") << "a box being filled keeps nothing";

    keepIsoSurfaceSettings(first);
    first.values = "changed after validation";
    IsoSurfaceSettings kept = isoSurfaceSettings();
    EXPECT_EQ(kept.selection, kIsoList);
    EXPECT_EQ(kept.values, "3 7");
    EXPECT_EQ(kept.method, kIsoCuberille);
    EXPECT_EQ(kept.seuil1, 127.0) << "the cancelled box stored nothing";

    resetIsoSurfaceSettings();
    EXPECT_EQ(isoSurfaceSettings().values, "");
    EXPECT_EQ(isoSurfaceSettings().method, kIsoMarchingCubes15);
}

// ---- Block entry ----

class IsoBlock : public datatest::RegistryTest { };

TEST_F(IsoBlock, ReadsTheBlockThroughItsSections)
{
    Volume v = ball(12, 5.5, 4.2);
    vexa::DataRecord* record = datatest::memoryBlock(
        12, 12, 12, TYPEDATA_F32, [&](int x, int y, int z) { return v.at(x, y, z); });
    ASSERT_NE(record, nullptr);
    std::string error;
    TriMeshPtr fromBlock(extractIsoSurfaceFromBlock(
        record->blockId, threshold(0.0, kIsoMarchingCubes15), {}, &error));
    ASSERT_NE(fromBlock, nullptr) << error;
    // The block holds floats: compare with the same volume rounded to float.
    for (double& s : v.samples)
        s = double(float(s));
    IsoRun fromArray = extract(v, threshold(0.0, kIsoMarchingCubes15));
    ASSERT_EQ(fromBlock->nbPoints, fromArray.mesh->nbPoints);
    ASSERT_EQ(fromBlock->nbTriangles, fromArray.mesh->nbTriangles);
    EXPECT_EQ(std::memcmp(fromBlock->points, fromArray.mesh->points,
                  sizeof(float) * 3 * size_t(fromBlock->nbPoints)),
        0);

    EXPECT_EQ(extractIsoSurfaceFromBlock(987654u, threshold(0.0, 1), {}, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

} // namespace
