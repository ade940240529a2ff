// Mesh processing commands on small hand-built meshes: settings and names, translation,
// scaling, smoothing, simplification and separation.
#include "../mesh/meshtestsupport.h"

#include "mesh/meshprocessing.h"
#include "mesh/primitives.h"
#include "mesh/randomcolour.h"
#include "params/parambox.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace {

using meshtest::makeMesh;
using meshtest::point;
using meshtest::triangle;
using meshtest::TriMeshPtr;
using meshtest::unitCube;
using namespace vexa::mesh;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Lines {
    std::vector<std::string> lines;
    MeshLogSink sink()
    {
        return [this](const std::string& line) { lines.push_back(line); };
    }
};

TriMeshPtr tetrahedron()
{
    return makeMesh({ { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } },
        { { 0, 2, 1 }, { 0, 1, 3 }, { 0, 3, 2 }, { 1, 2, 3 } });
}

// n x n vertices in the plane z = 0, each square cut along its (i, j)-(i+1, j+1)
// diagonal.
TriMeshPtr flatGrid(int n)
{
    std::vector<float> pts;
    std::vector<int32_t> tris;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
            pts.insert(pts.end(), { float(i), float(j), 0.0f });
    for (int j = 0; j + 1 < n; ++j)
        for (int i = 0; i + 1 < n; ++i) {
            const int a = j * n + i, b = a + 1, c = a + n + 1, d = a + n;
            tris.insert(tris.end(), { a, b, c, a, c, d });
        }
    auto* p = static_cast<float*>(std::malloc(pts.size() * sizeof(float)));
    auto* t = static_cast<int32_t*>(std::malloc(tris.size() * sizeof(int32_t)));
    std::copy(pts.begin(), pts.end(), p);
    std::copy(tris.begin(), tris.end(), t);
    return TriMeshPtr(triMeshCreate(p, int32_t(pts.size() / 3), t, int32_t(tris.size() / 3)));
}

TriMeshPtr finished(TriMeshPtr mesh)
{
    EXPECT_EQ(finishMesh(mesh.get(), [](const std::string&) {}), 1);
    return mesh;
}

void expectPoint(const TriMesh& mesh, int i, float x, float y, float z, float tolerance = 1e-6f)
{
    const auto p = point(mesh, i);
    EXPECT_NEAR(p[0], x, tolerance) << "point " << i;
    EXPECT_NEAR(p[1], y, tolerance) << "point " << i;
    EXPECT_NEAR(p[2], z, tolerance) << "point " << i;
}

bool sameTriangles(const TriMesh& a, const TriMesh& b)
{
    return a.nbTriangles == b.nbTriangles
        && std::equal(a.triangles, a.triangles + 3 * a.nbTriangles, b.triangles);
}

void freeAll(std::vector<TriMesh*>& parts)
{
    for (TriMesh*& part : parts)
        triMeshFree(&part);
}

} // namespace

TEST(MeshProcessingSettings, StartWithTheDocumentedValuesAndResetToThem)
{
    resetMeshProcessingSettings();
    MeshProcessingSettings s = meshProcessingSettings();
    EXPECT_EQ(s.translation.dx, 0.0);
    EXPECT_EQ(s.affinity.fixedPoint, kFixedOrigin);
    EXPECT_EQ(s.affinity.sz, 1.0);
    EXPECT_EQ(s.smoothing.coefficient, 1.0);
    EXPECT_EQ(s.simplification.threshold, 0.01);
    EXPECT_EQ(s.simplification.phases, 5);
    EXPECT_EQ(s.blocks.maxFacets, 5000);
    EXPECT_EQ(s.blocks.minVolumeRatio, 0.5);
    EXPECT_EQ(s.blocks.minFacets, 50);
    EXPECT_EQ(s.blocks.visibilityLevel, 100);
    s.simplification.phases = 9;
    keepMeshProcessingSettings(s.simplification);
    EXPECT_EQ(meshProcessingSettings().simplification.phases, 9);
    resetMeshProcessingSettings();
    EXPECT_EQ(meshProcessingSettings().simplification.phases, 5);
}

// Each description must bind exactly the fields of its settings record, with the
// directive that matches the field's type (%f double, %d and %l int32).
TEST(MeshProcessingSettings, DescriptionsBindEveryFieldWithItsType)
{
    MeshProcessingSettings s;
    struct Case {
        std::string description;
        std::vector<void*> fields;
        std::vector<int32_t> kinds;
    };
    const Case cases[] = {
        { translationDescription(), { &s.translation.dx, &s.translation.dy, &s.translation.dz },
            { PARAM_REAL, PARAM_REAL, PARAM_REAL } },
        { affinityDescription(),
            { &s.affinity.fixedPoint, &s.affinity.sx, &s.affinity.sy, &s.affinity.sz },
            { PARAM_LIST, PARAM_REAL, PARAM_REAL, PARAM_REAL } },
        { smoothingDescription(), { &s.smoothing.coefficient }, { PARAM_REAL } },
        { simplificationDescription(), { &s.simplification.threshold, &s.simplification.phases },
            { PARAM_REAL, PARAM_INT } },
        { blockDescription(),
            { &s.blocks.maxFacets, &s.blocks.minVolumeRatio, &s.blocks.minFacets,
                &s.blocks.visibilityLevel },
            { PARAM_INT, PARAM_REAL, PARAM_INT, PARAM_INT } },
    };
    for (const Case& c : cases) {
        std::vector<vexa::params::Binding> bindings(c.fields.begin(), c.fields.end());
        vexa::params::ListBindings list(bindings);
        ParamBox box;
        vexa::params::parseDescription(box, c.description.c_str(), list);
        EXPECT_EQ(box.valid, 1) << c.description;
        std::vector<int32_t> kinds;
        std::vector<void*> values;
        for (const ParamItem& item : box.items)
            if (item.kind != PARAM_NEWLINE && item.kind != PARAM_TITLE) {
                kinds.push_back(item.kind);
                values.push_back(item.value);
            }
        EXPECT_EQ(kinds, c.kinds) << c.description;
        EXPECT_EQ(values, c.fields) << c.description;
    }
}

TEST(MeshProcessingNames, CountersNameObjectsInOrderAndIndependently)
{
    resetNameCounters();
    const double colour[4] = { 0.2, 0.4, 0.6, 0.5 };
    EXPECT_EQ(replacementLook(MeshCommand::Smoothing, "a", colour).name, "smooth_1");
    EXPECT_EQ(replacementLook(MeshCommand::Simplification, "a", colour).name, "simplifie1");
    EXPECT_EQ(replacementLook(MeshCommand::Smoothing, "a", colour).name, "smooth_2");
    EXPECT_EQ(replacementLook(MeshCommand::Simplification, "a", colour).name, "simplifie2");
    // The other commands do not advance the counters.
    replacementLook(MeshCommand::Translation, "a", colour);
    replacementLook(MeshCommand::Separation, "a", colour);
    EXPECT_EQ(replacementLook(MeshCommand::Smoothing, "a", colour).name, "smooth_3");
}

TEST(MeshProcessingNames, ColoursFollowTheCommand)
{
    resetRandomColour();
    const double colour[4] = { 0.2, 0.4, 0.6, 0.5 };
    ObjectLook moved = replacementLook(MeshCommand::Translation, "pièce", colour);
    EXPECT_EQ(moved.name, "pièce");
    EXPECT_EQ(std::vector<double>(moved.colour, moved.colour + 4),
        std::vector<double>(colour, colour + 4));

    ObjectLook scaled = replacementLook(MeshCommand::Affinity, "pièce", colour);
    EXPECT_EQ(scaled.name, "pièce");
    EXPECT_EQ(std::vector<double>(scaled.colour, scaled.colour + 4),
        (std::vector<double> { 0.2, 0.4, 0.6, 1.0 }));

    for (MeshCommand c :
        { MeshCommand::Smoothing, MeshCommand::Simplification, MeshCommand::Separation }) {
        ObjectLook look = replacementLook(c, "pièce", colour);
        EXPECT_GE(look.colour[0] + look.colour[1] + look.colour[2], 1.0);
        EXPECT_EQ(look.colour[3], 1.0);
    }
    EXPECT_EQ(replacementLook(MeshCommand::Separation, "x", nullptr).name, "extract_surface_out");
    ObjectLook noColour = replacementLook(MeshCommand::Translation, "x", nullptr);
    EXPECT_EQ(noColour.colour[3], 1.0);
}

TEST(MeshProcessingNames, SceneInformationTextCountsBeyond32Bits)
{
    EXPECT_EQ(
        sceneInformationText(2, 24), "Nombre total d'objects : 2\nNombre total de facettes : 24");
    EXPECT_EQ(sceneInformationText(3, 5000000000LL),
        "Nombre total d'objects : 3\nNombre total de facettes : 5000000000");
    EXPECT_STREQ(kSceneInformationTitle, "Informations Scène");
}

TEST(MeshProcessingRefusals, EveryCommandRefusesUnusableMeshes)
{
    TriMesh empty {};
    auto nan = tetrahedron();
    nan->points[4] = std::numeric_limits<float>::quiet_NaN();
    auto bad = tetrahedron();
    bad->triangles[5] = 17; // out of range after creation
    for (const TriMesh* mesh :
        { static_cast<const TriMesh*>(nullptr), static_cast<const TriMesh*>(&empty),
            static_cast<const TriMesh*>(nan.get()), static_cast<const TriMesh*>(bad.get()) }) {
        std::string why;
        EXPECT_EQ(translateMesh(mesh, {}, &why), nullptr);
        EXPECT_FALSE(why.empty());
        why.clear();
        EXPECT_EQ(scaleMeshAbout(mesh, {}, &why), nullptr);
        EXPECT_FALSE(why.empty());
        why.clear();
        EXPECT_EQ(smoothMesh(mesh, 1.0, &why), nullptr);
        EXPECT_FALSE(why.empty());
        why.clear();
        Lines log;
        EXPECT_EQ(simplifyMesh(mesh, 0.01, 5, log.sink(), &why), nullptr);
        EXPECT_FALSE(why.empty());
        EXPECT_TRUE(log.lines.empty());
        why.clear();
        EXPECT_TRUE(splitIntoParts(mesh, &why).empty());
        EXPECT_FALSE(why.empty());
        why.clear();
        EXPECT_TRUE(separateMesh(mesh, log.sink(), &why).empty());
        EXPECT_FALSE(why.empty());
    }
}

TEST(MeshTranslation, MovesEveryVertexAndKeepsTheSource)
{
    auto source = finished(tetrahedron());
    const float areaBefore = source->surface;
    const float volumeBefore = source->volume;
    TriMeshPtr moved(translateMesh(source.get(), { 10.0, -2.0, 0.5 }));
    ASSERT_TRUE(moved);
    ASSERT_EQ(moved->nbPoints, 4);
    expectPoint(*moved, 0, 10, -2, 0.5f);
    expectPoint(*moved, 3, 10, -2, 1.5f);
    EXPECT_TRUE(sameTriangles(*moved, *source));
    expectPoint(*source, 0, 0, 0, 0);
    // The box and the figures describe the moved mesh.
    EXPECT_FLOAT_EQ(moved->boxMin[0], 10.0f);
    EXPECT_FLOAT_EQ(moved->boxMax[2], 1.5f);
    EXPECT_NEAR(moved->surface, areaBefore, 1e-5);
    EXPECT_NEAR(moved->volume, volumeBefore, 1e-5);
    EXPECT_NEAR(moved->barycentre[0], source->barycentre[0] + 10.0, 1e-5);
    EXPECT_EQ(moved->blocks, nullptr);
}

TEST(MeshTranslation, LeavesFiguresUncomputedWhenTheSourceHadNone)
{
    auto source = tetrahedron();
    TriMeshPtr moved(translateMesh(source.get(), { 1, 1, 1 }));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->surface, 0.0f);
    EXPECT_EQ(moved->volume, 0.0f);
}

TEST(MeshTranslation, RefusesNonFiniteOrFloatOverflowingDisplacements)
{
    auto source = tetrahedron();
    for (TranslationSettings s : { TranslationSettings { kNaN, 0, 0 },
             TranslationSettings { 0, kInf, 0 }, TranslationSettings { 0, 0, 1e300 } }) {
        std::string why;
        EXPECT_EQ(translateMesh(source.get(), s, &why), nullptr);
        EXPECT_FALSE(why.empty());
    }
    // Finite in float but the sum overflows.
    auto far = makeMesh({ { 3e38f, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } }, { { 0, 1, 2 } });
    std::string why;
    EXPECT_EQ(translateMesh(far.get(), { 3e38, 0, 0 }, &why), nullptr);
    EXPECT_FALSE(why.empty());
}

TEST(MeshAffinity, BarycentreKeepsTheCentreAndOriginScalesIt)
{
    auto cube = finished(unitCube(4.5f, 4.5f, 4.5f)); // centred at (5, 5, 5)
    TriMeshPtr about(scaleMeshAbout(cube.get(), { kFixedBarycentre, 2, 2, 2 }));
    ASSERT_TRUE(about);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(about->boxMin[k], 4.0, 1e-5);
        EXPECT_NEAR(about->boxMax[k], 6.0, 1e-5);
    }
    TriMeshPtr fromOrigin(scaleMeshAbout(cube.get(), { kFixedOrigin, 2, 2, 2 }));
    ASSERT_TRUE(fromOrigin);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(fromOrigin->boxMin[k], 9.0, 1e-5);
        EXPECT_NEAR(fromOrigin->boxMax[k], 11.0, 1e-5);
    }
    // Side 2: area 4 times, volume 8 times the unit cube's.
    EXPECT_NEAR(about->surface, 24.0, 1e-4);
    EXPECT_NEAR(about->volume, 8.0, 1e-4);
    EXPECT_NEAR(fromOrigin->volume, 8.0, 1e-3);
}

TEST(MeshAffinity, NegativeScalesMirrorWithoutChangingTheFigures)
{
    auto cube = finished(unitCube());
    TriMeshPtr mirrored(scaleMeshAbout(cube.get(), { kFixedOrigin, -1, 3, 1 }));
    ASSERT_TRUE(mirrored);
    EXPECT_FLOAT_EQ(mirrored->boxMin[0], -1.0f);
    EXPECT_FLOAT_EQ(mirrored->boxMax[1], 3.0f);
    EXPECT_NEAR(mirrored->volume, 3.0, 1e-5);
    EXPECT_NEAR(mirrored->surface, 14.0, 1e-5);
}

TEST(MeshAffinity, RefusesZeroNonFiniteScalesAndUnknownFixedPoints)
{
    auto cube = unitCube();
    const AffinitySettings refused[] = {
        { kFixedOrigin, 0, 1, 1 },
        { kFixedBarycentre, 1, 1e-50, 1 }, // zero once rounded to float
        { kFixedOrigin, 1, kNaN, 1 },
        { kFixedOrigin, 1, 1, -kInf },
        { 2, 1, 1, 1 },
        { -1, 1, 1, 1 },
    };
    for (const AffinitySettings& s : refused) {
        std::string why;
        EXPECT_EQ(scaleMeshAbout(cube.get(), s, &why), nullptr);
        EXPECT_FALSE(why.empty());
    }
}

TEST(MeshSmoothing, CoefficientZeroChangesNothing)
{
    std::unique_ptr<TriMesh, meshtest::TriMeshDeleter> sphere(makeSphere(8));
    ASSERT_TRUE(sphere);
    TriMeshPtr same(smoothMesh(sphere.get(), 0.0));
    ASSERT_TRUE(same);
    EXPECT_TRUE(std::equal(sphere->points, sphere->points + 3 * sphere->nbPoints, same->points));
    EXPECT_TRUE(sameTriangles(*same, *sphere));
}

// One triangle: vertex 0 at the origin has neighbours (1,0,0) at distance 1 and
// (0,2,0) at distance 2, so the weighted mean is (1 (1,0,0) + 0.5 (0,2,0)) / 1.5 =
// (2/3, 2/3, 0), and coefficient 1 goes halfway there.
TEST(MeshSmoothing, MovesTowardsTheInverseDistanceWeightedMean)
{
    auto mesh = makeMesh({ { 0, 0, 0 }, { 1, 0, 0 }, { 0, 2, 0 } }, { { 0, 1, 2 } });
    TriMeshPtr once(smoothMesh(mesh.get(), 1.0));
    ASSERT_TRUE(once);
    expectPoint(*once, 0, 1.0f / 3, 1.0f / 3, 0);
    // Coefficient 3: three quarters of the way.
    TriMeshPtr strong(smoothMesh(mesh.get(), 3.0));
    ASSERT_TRUE(strong);
    expectPoint(*strong, 0, 0.5f, 0.5f, 0);
    // Vertex 1: neighbours at distance 1 (origin) and sqrt 5 ((0,2,0)).
    const double w = 1.0 / std::sqrt(5.0);
    const double ay = 2.0 * w / (1.0 + w);
    const double ax = 0.0;
    expectPoint(*once, 1, float((ax + 1.0) / 2), float(ay / 2), 0, 1e-6f);
    // The box follows the new points.
    for (int k = 0; k < 3; ++k) {
        float lo = once->points[k], hi = once->points[k];
        for (int i = 1; i < 3; ++i) {
            lo = std::min(lo, once->points[3 * i + k]);
            hi = std::max(hi, once->points[3 * i + k]);
        }
        EXPECT_EQ(once->boxMin[k], lo);
        EXPECT_EQ(once->boxMax[k], hi);
    }
}

TEST(MeshSmoothing, NeighboursSharedByTwoTrianglesCountOnce)
{
    // Vertex 0 meets vertex 1 through both triangles; counting it twice would pull
    // vertex 0 towards (1, 0, 0) more than towards (0, 1, 0) and (0, -1, 0).
    auto mesh = makeMesh(
        { { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 0, -1, 0 } }, { { 0, 1, 2 }, { 0, 3, 1 } });
    TriMeshPtr smooth(smoothMesh(mesh.get(), 1.0));
    ASSERT_TRUE(smooth);
    expectPoint(*smooth, 0, 1.0f / 6, 0, 0);
}

TEST(MeshSmoothing, KeepsTopologyIsolatedAndCoincidentVertices)
{
    // Vertex 3 is used by no triangle; vertices 4 and 5 share one place.
    auto mesh
        = makeMesh({ { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 7, 7, 7 }, { 2, 2, 0 }, { 2, 2, 0 } },
            { { 0, 1, 2 }, { 1, 4, 5 }, { 1, 4, 2 } });
    TriMeshPtr smooth(smoothMesh(mesh.get(), 1.0));
    ASSERT_TRUE(smooth);
    EXPECT_EQ(smooth->nbPoints, 6);
    EXPECT_TRUE(sameTriangles(*smooth, *mesh));
    expectPoint(*smooth, 3, 7, 7, 7);
    expectPoint(*smooth, 4, 2, 2, 0);
    expectPoint(*smooth, 5, 2, 2, 0);
    for (int i = 0; i < 3 * smooth->nbPoints; ++i)
        EXPECT_TRUE(std::isfinite(smooth->points[i]));
}

TEST(MeshSmoothing, ShrinksAClosedSurfaceInsideItsBox)
{
    auto cube = finished(unitCube());
    TriMeshPtr smooth(smoothMesh(cube.get(), 1.0));
    ASSERT_TRUE(smooth);
    ASSERT_EQ(finishMesh(smooth.get(), [](const std::string&) {}), 1);
    EXPECT_LT(smooth->volume, cube->volume);
    for (int k = 0; k < 3; ++k) {
        EXPECT_GE(smooth->boxMin[k], 0.0f);
        EXPECT_LE(smooth->boxMax[k], 1.0f);
    }
}

TEST(MeshSmoothing, ManyPassesEqualRepeatedSinglePasses)
{
    // A bumpy grid big enough for the two-thread split.
    TriMeshPtr grid = flatGrid(500);
    for (int i = 0; i < grid->nbPoints; ++i)
        grid->points[3 * i + 2] = float((i * 37 % 11) * 0.1);
    TriMeshPtr step(triMeshCopy(grid.get()));
    for (int pass = 0; pass < 3; ++pass)
        step.reset(smoothMesh(step.get(), 0.7));
    TriMeshPtr at(smoothMeshPasses(grid.get(), 0.7, 3));
    ASSERT_TRUE(step);
    ASSERT_TRUE(at);
    ASSERT_EQ(at->nbPoints, step->nbPoints);
    EXPECT_EQ(std::memcmp(at->points, step->points, sizeof(float) * 3 * size_t(at->nbPoints)), 0);
    EXPECT_TRUE(sameTriangles(*at, *step));
    EXPECT_EQ(smoothMeshPasses(grid.get(), 0.7, 0), nullptr);
}

TEST(MeshSmoothing, RefusesNegativeAndNonFiniteCoefficients)
{
    auto mesh = tetrahedron();
    for (double c : { -1.0, -0.5, kNaN, kInf }) {
        std::string why;
        EXPECT_EQ(smoothMesh(mesh.get(), c, &why), nullptr) << c;
        EXPECT_FALSE(why.empty());
    }
}

// 3 x 3 grid: corners (2, 0) and (0, 2) lie in one triangle each (flatness 1), every
// other vertex has flatness 0. Triangle 0 (0, 1, 4) is the first of cost 0: it collapses
// into vertex 0 at (2/3, 1/3); every triangle touching 0, 1 or 4 leaves the list, and
// the two remaining ones cost 1.
TEST(MeshSimplification, OnePhaseOnASmallGridGivesTheWorkedResult)
{
    auto grid = flatGrid(3);
    ASSERT_TRUE(grid);
    Lines log;
    TriMeshPtr simple(simplifyMesh(grid.get(), 0.01, 1, log.sink()));
    ASSERT_TRUE(simple);
    ASSERT_EQ(log.lines,
        (std::vector<std::string> { "Simplification (Phase 1) - Pt (9->7), Tr (8->5)" }));
    ASSERT_EQ(simple->nbPoints, 7);
    ASSERT_EQ(simple->nbTriangles, 5);
    expectPoint(*simple, 0, 2.0f / 3, 1.0f / 3, 0);
    expectPoint(*simple, 1, 2, 0, 0); // old vertex 2
    expectPoint(*simple, 6, 2, 2, 0); // old vertex 8
    const std::array<int32_t, 3> expected[]
        = { { 0, 1, 3 }, { 2, 0, 5 }, { 2, 5, 4 }, { 0, 3, 6 }, { 0, 6, 5 } };
    for (int t = 0; t < 5; ++t)
        EXPECT_EQ(triangle(*simple, t), expected[t]) << t;
}

TEST(MeshSimplification, PhasesNeverAddPointsOrTriangles)
{
    auto grid = flatGrid(12);
    Lines log;
    TriMeshPtr simple(simplifyMesh(grid.get(), 0.01, 5, log.sink()));
    ASSERT_TRUE(simple);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_LE(log.lines.size(), 5u);
    int points = grid->nbPoints, triangles = grid->nbTriangles;
    for (size_t i = 0; i < log.lines.size(); ++i) {
        int phase, p0, p1, t0, t1;
        ASSERT_EQ(
            std::sscanf(log.lines[i].c_str(),
                "Simplification (Phase %d) - Pt (%d->%d), Tr (%d->%d)", &phase, &p0, &p1, &t0, &t1),
            5);
        EXPECT_EQ(phase, int(i) + 1);
        EXPECT_EQ(p0, points);
        EXPECT_EQ(t0, triangles);
        EXPECT_LE(p1, p0);
        EXPECT_LE(t1, t0);
        points = p1;
        triangles = t1;
    }
    EXPECT_LT(simple->nbTriangles, grid->nbTriangles / 2);
    EXPECT_EQ(simple->nbPoints, points);
    EXPECT_TRUE(hasValidIndices(*simple));
    // Collapsed positions stay in the plane and inside the grid.
    for (int i = 0; i < simple->nbPoints; ++i) {
        const auto p = point(*simple, i);
        EXPECT_EQ(p[2], 0.0f);
        EXPECT_GE(p[0], 0.0f);
        EXPECT_LE(p[0], 11.0f);
    }
}

TEST(MeshSimplification, SharpMeshIsUnchangedAndStopsAfterOnePhase)
{
    auto tet = tetrahedron();
    Lines log;
    TriMeshPtr same(simplifyMesh(tet.get(), 0.01, 100000000, log.sink()));
    ASSERT_TRUE(same);
    EXPECT_EQ(log.lines,
        (std::vector<std::string> { "Simplification (Phase 1) - Pt (4->4), Tr (4->4)" }));
    EXPECT_TRUE(sameTriangles(*same, *tet));
    EXPECT_TRUE(std::equal(tet->points, tet->points + 12, same->points));
}

TEST(MeshSimplification, UnusedPointsAreDroppedAndRenumbered)
{
    auto mesh = makeMesh({ { 9, 9, 9 }, { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } },
        { { 1, 3, 2 }, { 1, 2, 4 }, { 1, 4, 3 }, { 2, 3, 4 } });
    Lines log;
    TriMeshPtr simple(simplifyMesh(mesh.get(), 0.01, 3, log.sink()));
    ASSERT_TRUE(simple);
    ASSERT_EQ(log.lines.size(), 2u); // the renumbering phase, then one that changes nothing
    EXPECT_EQ(log.lines[0], "Simplification (Phase 1) - Pt (5->4), Tr (4->4)");
    EXPECT_EQ(simple->nbPoints, 4);
    EXPECT_EQ(triangle(*simple, 0), (std::array<int32_t, 3> { 0, 2, 1 }));
}

// A high threshold collapses the cheapest triangle; the three others each hold two of
// its corners, so they are dropped and nothing is left.
TEST(MeshSimplification, CollapseDropsTrianglesWithOneCommonRoot)
{
    auto tet = tetrahedron();
    Lines log;
    TriMeshPtr gone(simplifyMesh(tet.get(), 1e9, 5, log.sink()));
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->nbPoints, 0);
    EXPECT_EQ(gone->nbTriangles, 0);
    EXPECT_EQ(log.lines,
        (std::vector<std::string> { "Simplification (Phase 1) - Pt (4->0), Tr (4->0)" }));
}

TEST(MeshSimplification, NoPhaseGivesANewCopyNeverTheInput)
{
    auto grid = flatGrid(4);
    for (int32_t phases : { 0, -3 }) {
        Lines log;
        TriMeshPtr copy(simplifyMesh(grid.get(), 0.01, phases, log.sink()));
        ASSERT_TRUE(copy);
        EXPECT_NE(copy.get(), grid.get());
        EXPECT_TRUE(sameTriangles(*copy, *grid));
        EXPECT_TRUE(log.lines.empty());
    }
}

TEST(MeshSimplification, RefusesANaNThresholdAndNeverCollapsesWithANegativeOne)
{
    auto grid = flatGrid(4);
    std::string why;
    EXPECT_EQ(simplifyMesh(grid.get(), kNaN, 2, {}, &why), nullptr);
    EXPECT_FALSE(why.empty());
    Lines log;
    TriMeshPtr same(simplifyMesh(grid.get(), -1.0, 2, log.sink()));
    ASSERT_TRUE(same);
    EXPECT_TRUE(sameTriangles(*same, *grid));
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST(MeshSimplification, SphereKeepsValidIndicesThroughManyPhases)
{
    std::unique_ptr<TriMesh, meshtest::TriMeshDeleter> sphere(makeSphere(24));
    ASSERT_TRUE(sphere);
    Lines log;
    TriMeshPtr simple(simplifyMesh(sphere.get(), 0.05, 6, log.sink()));
    ASSERT_TRUE(simple);
    EXPECT_LE(simple->nbTriangles, sphere->nbTriangles);
    EXPECT_TRUE(hasValidIndices(*simple));
}

TEST(MeshSeparation, TwoDisjointCubesGiveTwoClosedParts)
{
    auto a = unitCube();
    auto b = unitCube(5, 0, 0);
    TriMeshPtr both(triMeshMerge(a.get(), b.get()));
    Lines log;
    std::vector<TriMesh*> parts = separateMesh(both.get(), log.sink());
    ASSERT_EQ(parts.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(parts[i]->nbPoints, 8);
        EXPECT_EQ(parts[i]->nbTriangles, 12);
        EXPECT_NEAR(parts[i]->surface, 6.0, 1e-5);
        EXPECT_NEAR(parts[i]->volume, 1.0, 1e-5);
    }
    EXPECT_FLOAT_EQ(parts[0]->boxMin[0], 0.0f);
    EXPECT_FLOAT_EQ(parts[1]->boxMin[0], 5.0f);
    EXPECT_TRUE(log.lines.empty()); // no edge shared by three triangles
    freeAll(parts);
}

TEST(MeshSeparation, PartsFollowTheirFirstTriangleAndKeepMeshOrder)
{
    // Triangles alternate between two bodies; the body of triangle 0 comes first.
    auto mesh = makeMesh({ { 10, 0, 0 }, { 0, 0, 0 }, { 11, 0, 0 }, { 1, 0, 0 }, { 10, 1, 0 },
                             { 0, 1, 0 }, { 11, 1, 0 }, { 5, 5, 5 } },
        { { 1, 3, 5 }, { 0, 2, 4 }, { 3, 5, 1 }, { 2, 6, 4 } });
    std::vector<TriMesh*> parts = splitIntoParts(mesh.get());
    ASSERT_EQ(parts.size(), 2u);
    // Part 0: old vertices 1, 3, 5 become 0, 1, 2.
    ASSERT_EQ(parts[0]->nbPoints, 3);
    EXPECT_EQ(triangle(*parts[0], 0), (std::array<int32_t, 3> { 0, 1, 2 }));
    EXPECT_EQ(triangle(*parts[0], 1), (std::array<int32_t, 3> { 1, 2, 0 }));
    expectPoint(*parts[0], 1, 1, 0, 0);
    // Part 1: old vertices 0, 2, 4, 6; the unused vertex 7 is in no part.
    ASSERT_EQ(parts[1]->nbPoints, 4);
    EXPECT_EQ(triangle(*parts[1], 1), (std::array<int32_t, 3> { 1, 3, 2 }));
    expectPoint(*parts[1], 3, 11, 1, 0);
    // Parts are not finished: their figures are not computed.
    EXPECT_EQ(parts[1]->surface, 0.0f);
    freeAll(parts);
}

TEST(MeshSeparation, UnweldedTrianglesAtOnePlaceStayTogether)
{
    // Two triangles with their own copies of the shared edge's vertices.
    auto mesh
        = makeMesh({ { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 1, 0, 0 }, { 1, 1, 0 }, { 0, 1, 0 } },
            { { 0, 1, 2 }, { 3, 4, 5 } });
    std::vector<TriMesh*> parts = splitIntoParts(mesh.get());
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0]->nbPoints, 6);
    EXPECT_EQ(parts[0]->nbTriangles, 2);
    freeAll(parts);
}

TEST(MeshSeparation, PartsTogetherCoverTheMesh)
{
    std::vector<TriMeshPtr> bodies;
    bodies.push_back(unitCube(0, 0, 0));
    bodies.push_back(tetrahedron());
    bodies.back().reset(translateMesh(bodies.back().get(), { 0, 4, 0 }));
    bodies.push_back(flatGrid(5));
    bodies.back().reset(translateMesh(bodies.back().get(), { 0, 0, 9 }));
    TriMeshPtr all(triMeshMerge(bodies[0].get(), bodies[1].get()));
    all.reset(triMeshMerge(all.get(), bodies[2].get()));
    std::vector<TriMesh*> parts = splitIntoParts(all.get());
    ASSERT_EQ(parts.size(), 3u);
    int points = 0, triangles = 0;
    for (TriMesh* p : parts) {
        points += p->nbPoints;
        triangles += p->nbTriangles;
        EXPECT_TRUE(hasValidIndices(*p));
    }
    EXPECT_EQ(points, all->nbPoints);
    EXPECT_EQ(triangles, all->nbTriangles);
    freeAll(parts);
}
