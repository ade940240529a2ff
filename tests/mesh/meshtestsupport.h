// Small helpers shared by the mesh tests.
#pragma once

#include "mesh/trimesh.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

namespace meshtest {

struct TriMeshDeleter {
    void operator()(TriMesh* mesh) const { triMeshFree(&mesh); }
};
using TriMeshPtr = std::unique_ptr<TriMesh, TriMeshDeleter>;

// A mesh made through triMeshCreate from literal points and triangles.
inline TriMeshPtr makeMesh(std::initializer_list<std::array<float, 3>> points,
    std::initializer_list<std::array<int32_t, 3>> triangles)
{
    auto* p = static_cast<float*>(std::malloc(points.size() * 3 * sizeof(float) + 1));
    auto* t = static_cast<int32_t*>(std::malloc(triangles.size() * 3 * sizeof(int32_t) + 1));
    size_t i = 0;
    for (const auto& q : points)
        for (float v : q)
            p[i++] = v;
    i = 0;
    for (const auto& q : triangles)
        for (int32_t v : q)
            t[i++] = v;
    TriMesh* mesh = triMeshCreate(p, int32_t(points.size()), t, int32_t(triangles.size()));
    if (!mesh) {
        std::free(p);
        std::free(t);
    }
    return TriMeshPtr(mesh);
}

inline std::array<float, 3> point(const TriMesh& mesh, int i)
{
    return { mesh.points[3 * i], mesh.points[3 * i + 1], mesh.points[3 * i + 2] };
}

inline std::array<int32_t, 3> triangle(const TriMesh& mesh, int i)
{
    return { mesh.triangles[3 * i], mesh.triangles[3 * i + 1], mesh.triangles[3 * i + 2] };
}

// Unit cube with corners (0|1)^3, outward counter-clockwise faces.
inline TriMeshPtr unitCube(float ox = 0, float oy = 0, float oz = 0)
{
    return makeMesh(
        {
            { ox, oy, oz },
            { ox + 1, oy, oz },
            { ox + 1, oy + 1, oz },
            { ox, oy + 1, oz },
            { ox, oy, oz + 1 },
            { ox + 1, oy, oz + 1 },
            { ox + 1, oy + 1, oz + 1 },
            { ox, oy + 1, oz + 1 },
        },
        { { 0, 2, 1 }, { 0, 3, 2 }, { 4, 5, 6 }, { 4, 6, 7 }, { 0, 1, 5 }, { 0, 5, 4 }, { 1, 2, 6 },
            { 1, 6, 5 }, { 2, 3, 7 }, { 2, 7, 6 }, { 3, 0, 4 }, { 3, 4, 7 } });
}

} // namespace meshtest
