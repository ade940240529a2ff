// Volumes and mesh checks shared by the iso-surface tests.
#pragma once

#include "mesh/isosurface.h"
#include "vexa_types.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace isotest {

struct TriMeshDeleter {
    void operator()(TriMesh* mesh) const { triMeshFree(&mesh); }
};
using TriMeshPtr = std::unique_ptr<TriMesh, TriMeshDeleter>;

struct Volume {
    int dimX, dimY, dimZ;
    std::vector<double> samples;

    Volume(int x, int y, int z, double value = 0.0)
        : dimX(x)
        , dimY(y)
        , dimZ(z)
        , samples(size_t(x) * size_t(y) * size_t(z), value)
    {
    }
    double& at(int x, int y, int z)
    {
        return samples[(size_t(z) * size_t(dimY) + size_t(y)) * size_t(dimX) + size_t(x)];
    }
    template <typename F> void fill(F f)
    {
        for (int z = 0; z < dimZ; ++z)
            for (int y = 0; y < dimY; ++y)
                for (int x = 0; x < dimX; ++x)
                    at(x, y, z) = f(x, y, z);
    }
};

// A ball of radius r centred at c (all three coordinates): sample = r - distance, so the
// level 0 selects the voxels within the ball.
inline Volume ball(int dim, double c, double r)
{
    Volume v(dim, dim, dim);
    v.fill([&](int x, int y, int z) {
        return r - std::sqrt((x - c) * (x - c) + (y - c) * (y - c) + (z - c) * (z - c));
    });
    return v;
}

inline vexa::mesh::IsoSurfaceParams threshold(double level, int method)
{
    vexa::mesh::IsoSurfaceParams p;
    p.seuil1 = level;
    p.method = method;
    return p;
}

struct IsoRun {
    TriMeshPtr mesh;
    std::string error;
    std::vector<std::string> lines;
    vexa::mesh::IsoSurfaceReport report;
};

inline IsoRun extract(const Volume& v, const vexa::mesh::IsoSurfaceParams& params)
{
    IsoRun run;
    vexa::mesh::IsoSurfaceHooks hooks;
    hooks.log = [&run](const std::string& line) { run.lines.push_back(line); };
    run.mesh.reset(vexa::mesh::extractIsoSurfaceFromArray(v.dimX, v.dimY, v.dimZ, TYPEDATA_F64,
        v.samples.data(), params, hooks, &run.error, &run.report));
    return run;
}

struct Topology {
    int boundaryEdges = 0; // used by one triangle
    int overusedEdges = 0; // used by three or more
    int misorientedEdges = 0; // shared edge walked the same way by both triangles
};

inline Topology topology(const TriMesh& m)
{
    std::map<std::pair<int, int>, int> directed;
    for (int t = 0; t < m.nbTriangles; ++t)
        for (int k = 0; k < 3; ++k)
            directed[{ m.triangles[3 * t + k], m.triangles[3 * t + (k + 1) % 3] }]++;
    std::map<std::pair<int, int>, int> undirected;
    Topology topo;
    for (const auto& [edge, count] : directed) {
        undirected[{ std::min(edge.first, edge.second), std::max(edge.first, edge.second) }]
            += count;
        if (count > 1)
            topo.misorientedEdges++;
    }
    for (const auto& [edge, count] : undirected) {
        topo.boundaryEdges += count == 1;
        topo.overusedEdges += count > 2;
    }
    return topo;
}

inline bool isClosedAndOriented(const TriMesh& m)
{
    Topology t = topology(m);
    return m.nbTriangles > 0 && t.boundaryEdges == 0 && t.overusedEdges == 0
        && t.misorientedEdges == 0;
}

// Enclosed volume, positive when the triangles face outwards.
inline double signedVolume(const TriMesh& m)
{
    double sum = 0;
    for (int t = 0; t < m.nbTriangles; ++t) {
        const float* p[3];
        for (int k = 0; k < 3; ++k)
            p[k] = m.points + 3 * m.triangles[3 * t + k];
        sum += double(p[0][0]) * (double(p[1][1]) * p[2][2] - double(p[1][2]) * p[2][1])
            - double(p[0][1]) * (double(p[1][0]) * p[2][2] - double(p[1][2]) * p[2][0])
            + double(p[0][2]) * (double(p[1][0]) * p[2][1] - double(p[1][1]) * p[2][0]);
    }
    return sum / 6.0;
}

inline int duplicatePoints(const TriMesh& m)
{
    std::set<std::tuple<float, float, float>> seen;
    int dups = 0;
    for (int i = 0; i < m.nbPoints; ++i)
        dups += !seen.insert({ m.points[3 * i], m.points[3 * i + 1], m.points[3 * i + 2] }).second;
    return dups;
}

} // namespace isotest
