// The slab walk: its result equals the cube-by-cube soup welded afterwards, whatever
// the threads and slab sizes, and a stop ends it with no mesh.
#include "isotestsupport.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <type_traits>

namespace {

using namespace vexa::mesh;
using namespace isotest;

constexpr int kPos[8][3] = { { 0, 0, 0 }, { 1, 0, 0 }, { 1, 1, 0 }, { 0, 1, 0 }, { 0, 0, 1 },
    { 1, 0, 1 }, { 1, 1, 1 }, { 0, 1, 1 } };

// Marching cubes the plain way: every cube appends its own points, then one weld.
void soupAndWeld(
    const Volume& v, double level, std::vector<float>& points, std::vector<int32_t>& tris)
{
    for (int z = 0; z + 1 < v.dimZ; ++z)
        for (int y = 0; y + 1 < v.dimY; ++y)
            for (int x = 0; x + 1 < v.dimX; ++x) {
                double c[8];
                int index = 0;
                for (int k = 0; k < 8; ++k) {
                    c[k]
                        = const_cast<Volume&>(v).at(x + kPos[k][0], y + kPos[k][1], z + kPos[k][2]);
                    index |= (c[k] >= level) << k;
                }
                const MarchingCase& e = marchingCase(index);
                if (e.nbTriangles == 0)
                    continue;
                const int32_t base = int32_t(points.size() / 3);
                for (int p = 0; p < e.nbPoints; ++p) {
                    int a = e.edges[p][0], b = e.edges[p][1];
                    if (kPos[a][0] + kPos[a][1] + kPos[a][2] > kPos[b][0] + kPos[b][1] + kPos[b][2])
                        std::swap(a, b);
                    double t = (level - c[a]) / (c[b] == c[a] ? 1.0 : c[b] - c[a]);
                    t = std::clamp(t, 0.00001, 0.99999);
                    const int off[3] = { x, y, z };
                    for (int k = 0; k < 3; ++k)
                        points.push_back(
                            float(kPos[a][k] * (1 - t) + kPos[b][k] * t) + float(off[k]));
                }
                for (int t = 0; t < e.nbTriangles; ++t)
                    for (int k = 0; k < 3; ++k)
                        tris.push_back(base + e.triangles[t][k]);
            }
    weldVertices(points, tris);
}

bool sameMesh(const TriMesh& a, const TriMesh& b)
{
    return a.nbPoints == b.nbPoints && a.nbTriangles == b.nbTriangles
        && std::memcmp(a.points, b.points, sizeof(float) * 3 * size_t(a.nbPoints)) == 0
        && std::memcmp(a.triangles, b.triangles, sizeof(int32_t) * 3 * size_t(a.nbTriangles)) == 0;
}

TriMeshPtr run(const Volume& v, IsoSurfaceParams p, int threads, int slabLayers)
{
    p.threads = threads;
    p.slabLayers = slabLayers;
    return TriMeshPtr(
        extractIsoSurfaceFromArray(v.dimX, v.dimY, v.dimZ, TYPEDATA_F64, v.samples.data(), p));
}

// Integer noise: many samples sit exactly on the level (the clamped ends of edges).
Volume noise(int x, int y, int z)
{
    Volume v(x, y, z);
    v.fill([](int i, int j, int k) { return double((i * 7 + j * 13 + k * 5 + i * j * k) % 5); });
    return v;
}

TEST(IsoSlabs, MarchingCubesEqualTheWeldedSoupPointForPoint)
{
    const Volume shapes[] = { noise(9, 8, 7), ball(13, 6.2, 4.9) };
    for (const Volume& v : shapes) {
        // Levels on the samples of the noise (clamped ends), between them for the ball.
        for (double level : { 2.0, &v == &shapes[0] ? 1.0 : 0.0 }) {
            std::vector<float> points;
            std::vector<int32_t> tris;
            soupAndWeld(v, level, points, tris);
            TriMeshPtr mesh = run(v, threshold(level, kIsoMarchingCubes15), 1, 0);
            ASSERT_NE(mesh, nullptr);
            ASSERT_EQ(size_t(mesh->nbPoints) * 3, points.size());
            ASSERT_EQ(size_t(mesh->nbTriangles) * 3, tris.size());
            ASSERT_GT(mesh->nbTriangles, 0);
            EXPECT_EQ(std::memcmp(mesh->points, points.data(), points.size() * sizeof(float)), 0);
            EXPECT_EQ(std::memcmp(mesh->triangles, tris.data(), tris.size() * sizeof(int32_t)), 0);
        }
    }
}

TEST(IsoSlabs, PointsRoundedOntoOneLatticePlaceAreStillMerged)
{
    // Past x = 256 a point 1e-5 from a sample rounds onto it: the edges on both sides
    // of the sample at the level then give one place, which the soup's weld merges.
    Volume v(300, 2, 2, 0.0);
    for (int y = 0; y < 2; ++y)
        for (int z = 0; z < 2; ++z)
            v.at(270, y, z) = 0.5;
    std::vector<float> points;
    std::vector<int32_t> tris;
    soupAndWeld(v, 0.5, points, tris);
    for (int threads : { 1, 2 }) {
        TriMeshPtr mesh = run(v, threshold(0.5, kIsoMarchingCubes15), threads, 1);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(size_t(mesh->nbPoints) * 3, points.size());
        EXPECT_EQ(size_t(mesh->nbTriangles) * 3, tris.size());
        EXPECT_EQ(duplicatePoints(*mesh), 0);
    }
}

TEST(IsoSlabs, ThreadsAndSlabSizesNeverChangeTheResult)
{
    const Volume shapes[] = { noise(11, 7, 13), ball(15, 7.3, 5.1) };
    for (const Volume& v : shapes)
        for (int method = 0; method <= 5; ++method) {
            const double level = &v == &shapes[0] ? 2.0 : 0.0;
            IsoSurfaceParams p = threshold(level, method);
            TriMeshPtr one = run(v, p, 1, 0);
            ASSERT_NE(one, nullptr);
            ASSERT_GT(one->nbTriangles, 0);
            for (int slab : { 1, 2, 5 })
                for (int threads : { 1, 2, 3 }) {
                    TriMeshPtr many = run(v, p, threads, slab);
                    ASSERT_NE(many, nullptr);
                    EXPECT_TRUE(sameMesh(*one, *many))
                        << "method " << method << " slab " << slab << " threads " << threads;
                }
            // A restricted box starts the slabs inside the volume.
            p.x1 = 1, p.y1 = 2, p.z1 = 3, p.x2 = 9, p.z2 = 11;
            TriMeshPtr box = run(v, p, 1, 0);
            TriMeshPtr boxSlabs = run(v, p, 2, 1);
            ASSERT_NE(box, nullptr);
            ASSERT_NE(boxSlabs, nullptr);
            EXPECT_TRUE(sameMesh(*box, *boxSlabs)) << "method " << method;
        }
    // A tall volume: the chosen layout makes the first slab longer than the others.
    const Volume tall = noise(6, 5, 40);
    const IsoSurfaceParams p = threshold(2.0, kIsoMarchingCubes15);
    TriMeshPtr one = run(tall, p, 1, 0);
    ASSERT_NE(one, nullptr);
    for (int threads : { 2, 3 }) {
        TriMeshPtr many = run(tall, p, threads, 0);
        ASSERT_NE(many, nullptr);
        EXPECT_TRUE(sameMesh(*one, *many)) << "threads " << threads;
    }
}

template <typename T> int vexaTypeOf()
{
    if constexpr (std::is_same_v<T, uint8_t>)
        return TYPEDATA_U8;
    else if constexpr (std::is_same_v<T, int16_t>)
        return TYPEDATA_S16;
    else if constexpr (std::is_same_v<T, uint32_t>)
        return TYPEDATA_U32;
    else if constexpr (std::is_same_v<T, float>)
        return TYPEDATA_F32;
    else
        return TYPEDATA_F64;
}

// Samples read straight from memory, whatever their type, give what the slice reader
// gives (missing float samples and samples on the level included), box and all.
template <typename T> void expectReaderResult(const Volume& v, double scale, double offset)
{
    std::vector<T> typed(v.samples.size());
    std::vector<double> widened(v.samples.size());
    for (size_t i = 0; i < typed.size(); ++i) {
        typed[i] = T(v.samples[i] * scale + offset);
        widened[i] = double(typed[i]);
    }
    if constexpr (std::is_floating_point_v<T>)
        typed[5] = typed[77] = T(NAN), widened[5] = widened[77] = NAN;
    const size_t slice = size_t(v.dimX) * size_t(v.dimY);
    const SliceReader reader = [&](int z, double* out) {
        std::copy_n(widened.begin() + std::ptrdiff_t(size_t(z) * slice), slice, out);
        return true;
    };
    for (int method = 0; method <= 5; ++method)
        for (int threads : { 1, 2 }) {
            IsoSurfaceParams p = threshold(2.0 * scale + offset, method);
            p.threads = threads;
            p.slabLayers = 2;
            TriMeshPtr read(extractIsoSurface(reader, v.dimX, v.dimY, v.dimZ, p));
            TriMeshPtr direct(extractIsoSurfaceFromArray(
                v.dimX, v.dimY, v.dimZ, vexaTypeOf<T>(), typed.data(), p));
            ASSERT_NE(read, nullptr);
            ASSERT_NE(direct, nullptr);
            ASSERT_GT(direct->nbTriangles, 0);
            EXPECT_TRUE(sameMesh(*read, *direct))
                << "method " << method << " type " << vexaTypeOf<T>() << " threads " << threads;
            TriMesh box = *direct;
            triMeshComputeBox(&box);
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(direct->boxMin[k], box.boxMin[k]);
                EXPECT_EQ(direct->boxMax[k], box.boxMax[k]);
            }
        }
}

TEST(IsoSlabs, SamplesInMemoryGiveWhatTheReaderGives)
{
    const Volume v = noise(10, 9, 8);
    expectReaderResult<uint8_t>(v, 60, 0);
    expectReaderResult<int16_t>(v, 60, -300);
    expectReaderResult<uint32_t>(v, 1000, 7);
    expectReaderResult<float>(v, 0.5, 0.25);
    expectReaderResult<double>(v, -1.5, 1e9);
}

TEST(IsoSlabs, SlabsKeepTheMessagesAndLimitsOfTheWalk)
{
    IsoSurfaceParams p = threshold(0.0, kIsoMarchingCubes15);
    p.messages = true;
    std::vector<std::string> lines[2];
    for (int i = 0; i < 2; ++i) {
        IsoSurfaceHooks hooks;
        hooks.log = [&lines, i](const std::string& line) { lines[i].push_back(line); };
        p.threads = i + 1;
        p.slabLayers = i;
        Volume v = ball(12, 5.5, 4.2);
        TriMeshPtr mesh(
            extractIsoSurfaceFromArray(12, 12, 12, TYPEDATA_F64, v.samples.data(), p, hooks));
        ASSERT_NE(mesh, nullptr);
    }
    ASSERT_EQ(lines[0].size(), 12u);
    ASSERT_EQ(lines[1].size(), 12u);
    for (size_t i = 0; i + 1 < lines[0].size(); ++i)
        EXPECT_EQ(lines[0][i], lines[1][i]);

    // Limits walk one slab after another and stop after the layer that crosses them.
    p.messages = false;
    p.maxTriangles = 30;
    IsoRun limited = extract(ball(12, 5.5, 4.2), p);
    p.slabLayers = 1;
    IsoRun limitedSlabs = extract(ball(12, 5.5, 4.2), p);
    ASSERT_NE(limited.mesh, nullptr);
    ASSERT_NE(limitedSlabs.mesh, nullptr);
    EXPECT_TRUE(limitedSlabs.report.stoppedByLimit);
    EXPECT_EQ(limited.report.slabs, limitedSlabs.report.slabs);
    EXPECT_TRUE(sameMesh(*limited.mesh, *limitedSlabs.mesh));
}

TEST(IsoSlabs, AStopEndsTheRunWithNoMesh)
{
    const Volume v = ball(14, 6.5, 5.0);
    for (int threads : { 1, 2 }) {
        std::atomic<int> asked { 0 };
        IsoSurfaceHooks hooks;
        // Stop on the third question: some layers are already done. With two threads
        // the helper may walk every slab before this thread has asked that often; the
        // question before the result is made must still see the stop.
        const int stopAt = threads == 1 ? 3 : 1;
        hooks.stopRequested = [&asked, stopAt] { return ++asked >= stopAt; };
        IsoSurfaceParams p = threshold(0.0, kIsoMarchingCubes15);
        p.threads = threads;
        p.slabLayers = 2;
        IsoSurfaceReport report;
        std::string error = "unchanged";
        TriMesh* mesh = extractIsoSurfaceFromArray(
            14, 14, 14, TYPEDATA_F64, v.samples.data(), p, hooks, &error, &report);
        EXPECT_EQ(mesh, nullptr);
        EXPECT_TRUE(report.stopped);
        EXPECT_TRUE(error.empty());
        EXPECT_GE(asked.load(), stopAt);
    }
    // Without a stop the same run gives its mesh.
    IsoSurfaceHooks never;
    never.stopRequested = [] { return false; };
    IsoSurfaceReport report;
    TriMeshPtr mesh(extractIsoSurfaceFromArray(14, 14, 14, TYPEDATA_F64, v.samples.data(),
        threshold(0.0, kIsoMarchingCubes15), never, nullptr, &report));
    ASSERT_NE(mesh, nullptr);
    EXPECT_FALSE(report.stopped);
}

TEST(IsoWeld, MergesOnlyWhatTheBoxSubdivisionMerges)
{
    // Equal places merge into the first one, in order; -0 and +0 are one place.
    std::vector<float> points = { 1, 2, 3, 0.0f, 5, 6, 1, 2, 3, -0.0f, 5, 6, 7, 7, 7 };
    std::vector<int32_t> tris = { 0, 1, 4, 3, 2, 4 };
    weldVertices(points, tris);
    EXPECT_EQ(points, (std::vector<float> { 1, 2, 3, 0, 5, 6, 7, 7, 7 }));
    EXPECT_EQ(tris, (std::vector<int32_t> { 0, 1, 2, 1, 0, 2 }));
    // NaN never merges; tiny coordinates closer than 1e-10 but different still do.
    std::vector<float> odd = { 1e-12f, 0, 0, 2e-12f, 0, 0, NAN, 0, 0, NAN, 0, 0 };
    std::vector<int32_t> t2 = { 2, 1, 0, 3, 2, 1 };
    weldVertices(odd, t2);
    EXPECT_EQ(odd.size(), 9u);
    EXPECT_EQ(t2, (std::vector<int32_t> { 1, 0, 0, 2, 1, 0 }));
}

} // namespace
