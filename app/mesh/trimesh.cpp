#include "mesh/trimesh.h"

#include "vexa_guard.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vexa::mesh {

TriMesh* allocateTriMesh(int64_t nbPoints, int64_t nbTriangles)
{
    if (nbPoints < 0 || nbTriangles < 0 || nbPoints > TRIMESH_MAX_COUNT
        || nbTriangles > TRIMESH_MAX_COUNT)
        return nullptr;
    auto* mesh = static_cast<TriMesh*>(std::calloc(1, sizeof(TriMesh)));
    if (!mesh)
        return nullptr;
    if (nbPoints > 0)
        mesh->points = static_cast<float*>(std::malloc(size_t(nbPoints) * 3 * sizeof(float)));
    if (nbTriangles > 0)
        mesh->triangles
            = static_cast<int32_t*>(std::malloc(size_t(nbTriangles) * 3 * sizeof(int32_t)));
    if ((nbPoints > 0 && !mesh->points) || (nbTriangles > 0 && !mesh->triangles)) {
        std::free(mesh->points);
        std::free(mesh->triangles);
        std::free(mesh);
        return nullptr;
    }
    mesh->nbPoints = int32_t(nbPoints);
    mesh->nbTriangles = int32_t(nbTriangles);
    return mesh;
}

bool hasValidIndices(const TriMesh& mesh)
{
    if (mesh.nbPoints < 0 || mesh.nbTriangles < 0)
        return false;
    if ((mesh.nbPoints > 0 && !mesh.points) || (mesh.nbTriangles > 0 && !mesh.triangles))
        return false;
    const int64_t count = int64_t(mesh.nbTriangles) * 3;
    for (int64_t i = 0; i < count; ++i)
        if (mesh.triangles[i] < 0 || mesh.triangles[i] >= mesh.nbPoints)
            return false;
    return true;
}

namespace {

struct Edge {
    int32_t lo;
    int32_t hi;
    int32_t triangle;
};

std::array<double, 3> corner(const TriMesh& mesh, int32_t index)
{
    const float* p = mesh.points + int64_t(index) * 3;
    return { p[0], p[1], p[2] };
}

// Steps 1 and 2 share one sorted edge list: runs of more than two equal edges are
// reported, runs of exactly two link their triangles as neighbours.
void reportAndOrient(TriMesh& mesh, const LineSink& sink)
{
    const int32_t m = mesh.nbTriangles;
    std::vector<Edge> edges;
    edges.reserve(size_t(m) * 3);
    for (int32_t t = 0; t < m; ++t) {
        const int32_t* v = mesh.triangles + int64_t(t) * 3;
        for (int e = 0; e < 3; ++e) {
            int32_t a = v[e];
            int32_t b = v[(e + 1) % 3];
            edges.push_back({ std::min(a, b), std::max(a, b), t });
        }
    }
    std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
        if (x.lo != y.lo)
            return x.lo < y.lo;
        if (x.hi != y.hi)
            return x.hi < y.hi;
        return x.triangle < y.triangle;
    });

    std::vector<std::array<int32_t, 3>> neighbours(size_t(m), { -1, -1, -1 });
    auto link = [&](int32_t t, int32_t other) {
        for (int32_t& slot : neighbours[size_t(t)])
            if (slot < 0) {
                slot = other;
                return;
            }
    };
    for (size_t i = 0; i < edges.size();) {
        size_t j = i + 1;
        while (j < edges.size() && edges[j].lo == edges[i].lo && edges[j].hi == edges[i].hi)
            ++j;
        const size_t run = j - i;
        if (run > 2) {
            char line[96];
            std::snprintf(
                line, sizeof line, "Poutre : %d <-> %d (%d)", edges[i].lo, edges[i].hi, int(run));
            if (sink)
                sink(line);
        } else if (run == 2 && edges[i].triangle != edges[i + 1].triangle) {
            // A degenerate triangle (a, a, b) lists the edge a-b twice: no self link.
            link(edges[i].triangle, edges[i + 1].triangle);
            link(edges[i + 1].triangle, edges[i].triangle);
        }
        i = j;
    }
    edges = {};

    // The queue grows as needed: a triangle can be queued once per neighbour before
    // it is processed, so no fixed bound on its length is safe.
    std::vector<uint8_t> marked(size_t(m), 0);
    std::vector<int32_t> queue;
    for (int32_t start = 0; start < m; ++start) {
        if (marked[size_t(start)])
            continue;
        queue.clear();
        queue.push_back(start);
        for (size_t head = 0; head < queue.size(); ++head) {
            const int32_t t = queue[head];
            if (marked[size_t(t)])
                continue;
            const int32_t* v = mesh.triangles + int64_t(t) * 3;
            for (int32_t nb : neighbours[size_t(t)]) {
                if (nb < 0 || marked[size_t(nb)])
                    continue;
                int32_t* w = mesh.triangles + int64_t(nb) * 3;
                bool sameDirection = false;
                for (int e = 0; e < 3 && !sameDirection; ++e)
                    for (int f = 0; f < 3 && !sameDirection; ++f)
                        sameDirection = v[e] == w[f] && v[(e + 1) % 3] == w[(f + 1) % 3];
                if (sameDirection)
                    std::swap(w[0], w[1]);
                queue.push_back(nb);
            }
            marked[size_t(t)] = 1;
        }
    }
}

void computeFigures(TriMesh& mesh)
{
    const int32_t m = mesh.nbTriangles;
    double sum[3] = { 0, 0, 0 };
    float area = 0.0f;
    double volume = 0.0;
    for (int32_t t = 0; t < m; ++t) {
        const int32_t* v = mesh.triangles + int64_t(t) * 3;
        auto p0 = corner(mesh, v[0]);
        auto p1 = corner(mesh, v[1]);
        auto p2 = corner(mesh, v[2]);
        for (int k = 0; k < 3; ++k)
            sum[k] += p0[k] + p1[k] + p2[k];

        float e1[3], e2[3];
        for (int k = 0; k < 3; ++k) {
            e1[k] = float(p1[k]) - float(p0[k]);
            e2[k] = float(p2[k]) - float(p0[k]);
        }
        float cx = e1[1] * e2[2] - e1[2] * e2[1];
        float cy = e1[2] * e2[0] - e1[0] * e2[2];
        float cz = e1[0] * e2[1] - e1[1] * e2[0];
        area += std::sqrt(cx * cx + cy * cy + cz * cz);

        volume += p0[0] * (p1[1] * p2[2] - p1[2] * p2[1]) + p0[1] * (p1[2] * p2[0] - p1[0] * p2[2])
            + p0[2] * (p1[0] * p2[1] - p1[1] * p2[0]);
    }
    const double corners = 3.0 * double(m);
    for (int k = 0; k < 3; ++k)
        mesh.barycentre[k] = float(sum[k] / corners);
    mesh.surface = 0.5f * area;
    mesh.volume = float(std::fabs(volume) / 6.0);
}

} // namespace

int finishMesh(TriMesh* mesh, const LineSink& sink)
{
    if (!mesh || mesh->nbPoints <= 0 || mesh->nbTriangles <= 0 || !hasValidIndices(*mesh))
        return 0;
    return guarded([&] {
        reportAndOrient(*mesh, sink);
        computeFigures(*mesh);
        return 1;
    });
}

} // namespace vexa::mesh

using vexa::mesh::allocateTriMesh;
using vexa::mesh::hasValidIndices;

extern "C" {

TriMesh* triMeshCreate(
    float* points, int32_t nbPoints, int32_t* triangles, int32_t nbTriangles) noexcept
{
    TriMesh probe {};
    probe.points = points;
    probe.nbPoints = nbPoints;
    probe.triangles = triangles;
    probe.nbTriangles = nbTriangles;
    if (nbPoints > TRIMESH_MAX_COUNT || nbTriangles > TRIMESH_MAX_COUNT || !hasValidIndices(probe))
        return nullptr;
    auto* mesh = static_cast<TriMesh*>(std::calloc(1, sizeof(TriMesh)));
    if (!mesh)
        return nullptr;
    *mesh = probe;
    triMeshComputeBox(mesh);
    return mesh;
}

TriMesh* triMeshCopy(const TriMesh* mesh) noexcept
{
    if (!mesh || !hasValidIndices(*mesh))
        return nullptr;
    TriMesh* copy = allocateTriMesh(mesh->nbPoints, mesh->nbTriangles);
    if (!copy)
        return nullptr;
    if (mesh->nbPoints > 0)
        std::memcpy(copy->points, mesh->points, size_t(mesh->nbPoints) * 3 * sizeof(float));
    if (mesh->nbTriangles > 0)
        std::memcpy(
            copy->triangles, mesh->triangles, size_t(mesh->nbTriangles) * 3 * sizeof(int32_t));
    triMeshComputeBox(copy);
    copy->surface = mesh->surface;
    copy->volume = mesh->volume;
    std::memcpy(copy->barycentre, mesh->barycentre, sizeof copy->barycentre);
    return copy;
}

TriMesh* triMeshMerge(const TriMesh* a, const TriMesh* b) noexcept
{
    if (!a)
        return triMeshCopy(b);
    if (!b)
        return triMeshCopy(a);
    if (!hasValidIndices(*a) || !hasValidIndices(*b))
        return nullptr;
    TriMesh* merged = allocateTriMesh(
        int64_t(a->nbPoints) + b->nbPoints, int64_t(a->nbTriangles) + b->nbTriangles);
    if (!merged)
        return nullptr;
    if (a->nbPoints > 0)
        std::memcpy(merged->points, a->points, size_t(a->nbPoints) * 3 * sizeof(float));
    if (b->nbPoints > 0)
        std::memcpy(merged->points + size_t(a->nbPoints) * 3, b->points,
            size_t(b->nbPoints) * 3 * sizeof(float));
    if (a->nbTriangles > 0)
        std::memcpy(merged->triangles, a->triangles, size_t(a->nbTriangles) * 3 * sizeof(int32_t));
    int32_t* tail = merged->triangles + size_t(a->nbTriangles) * 3;
    for (int64_t i = 0; i < int64_t(b->nbTriangles) * 3; ++i)
        tail[i] = b->triangles[i] + a->nbPoints;
    triMeshComputeBox(merged);
    return merged;
}

void meshBlocksRelease(MeshBlock* block) noexcept
{
    // Trees have no depth limit (vertices in a geometric series peel one triangle per
    // level), so the walk must not recurse, and releasing must not fail, so it
    // allocates nothing: blocks waiting for release are chained through their root
    // field, free once the block's ownership of the shared record is settled.
    const auto enqueue = [](MeshBlock* b, MeshBlock* next) {
        if (b->root && b->root != b)
            b->shared = nullptr; // the tree's root owns it
        b->root = next;
        return b;
    };
    MeshBlock* pending = block ? enqueue(block, nullptr) : nullptr;
    while (pending) {
        MeshBlock* current = pending;
        pending = current->root;
        for (MeshBlock* child : current->children)
            if (child)
                pending = enqueue(child, pending);
        std::free(current->triangles);
        std::free(current->ids);
        std::free(current->shared);
        std::free(current);
    }
}

void triMeshFree(TriMesh** mesh) noexcept
{
    if (!mesh || !*mesh)
        return;
    std::free((*mesh)->points);
    std::free((*mesh)->triangles);
    meshBlocksRelease((*mesh)->blocks);
    std::free(*mesh);
    *mesh = nullptr;
}

void triMeshTranslate(TriMesh* mesh, double dx, double dy, double dz) noexcept
{
    if (!mesh || !mesh->points || mesh->nbPoints <= 0)
        return;
    const float d[3] = { float(dx), float(dy), float(dz) };
    for (int64_t i = 0; i < int64_t(mesh->nbPoints) * 3; ++i)
        mesh->points[i] += d[i % 3];
}

void triMeshScale(TriMesh* mesh, double sx, double sy, double sz) noexcept
{
    if (!mesh || !mesh->points || mesh->nbPoints <= 0)
        return;
    const float s[3] = { float(sx), float(sy), float(sz) };
    for (int64_t i = 0; i < int64_t(mesh->nbPoints) * 3; ++i)
        mesh->points[i] *= s[i % 3];
}

void triMeshRotate(TriMesh* mesh, double ax, double ay, double az, double angle) noexcept
{
    if (!mesh || !mesh->points || mesh->nbPoints <= 0)
        return;
    double length = std::sqrt(ax * ax + ay * ay + az * az);
    if (length == 0.0)
        length = 1.0;
    const double ux = ax / length, uy = ay / length, uz = az / length;
    const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
    // Columns give x', y', z' (the layout triMeshTransform takes). This is the
    // transpose of the usual right-handed matrix: meshes and placements saved by
    // earlier versions rely on this sense of turn.
    const double m[9] = {
        c + ux * ux * t, ux * uy * t - uz * s, ux * uz * t + uy * s, //
        ux * uy * t + uz * s, c + uy * uy * t, uy * uz * t - ux * s, //
        ux * uz * t - uy * s, uy * uz * t + ux * s, c + uz * uz * t, //
    };
    triMeshTransform(mesh, m);
}

void triMeshTransform(TriMesh* mesh, const double m[9]) noexcept
{
    if (!mesh || !m || !mesh->points || mesh->nbPoints <= 0)
        return;
    for (int64_t i = 0; i < mesh->nbPoints; ++i) {
        float* p = mesh->points + i * 3;
        const double x = p[0], y = p[1], z = p[2];
        p[0] = float(m[0] * x + m[3] * y + m[6] * z);
        p[1] = float(m[1] * x + m[4] * y + m[7] * z);
        p[2] = float(m[2] * x + m[5] * y + m[8] * z);
    }
}

void triMeshComputeBox(TriMesh* mesh) noexcept
{
    if (!mesh || mesh->nbPoints <= 0 || mesh->nbTriangles <= 0 || !mesh->points || !mesh->triangles)
        return;
    for (int k = 0; k < 3; ++k)
        mesh->boxMin[k] = mesh->boxMax[k] = mesh->points[k];
    for (int64_t i = 1; i < mesh->nbPoints; ++i) {
        const float* p = mesh->points + i * 3;
        for (int k = 0; k < 3; ++k) {
            if (p[k] < mesh->boxMin[k])
                mesh->boxMin[k] = p[k];
            else if (p[k] > mesh->boxMax[k])
                mesh->boxMax[k] = p[k];
        }
    }
}

int triMeshFinish(TriMesh* mesh) noexcept
{
    return vexa::mesh::finishMesh(mesh, vexa::mesh::postLogLine);
}

} // extern "C"
