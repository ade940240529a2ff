// The block partition of a mesh: an octree of triangle lists whose bounding spheres
// let the 3D view skip whole blocks in its visibility tests.
#include "mesh/meshprocessing.h"
#include "mesh/meshprocessingcheck.h"

#include "vexa_guard.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace vexa::mesh {

using processing::checkMesh;
using processing::emit;
using processing::fail;

namespace {

struct BlockDeleter {
    void operator()(MeshBlock* root) const { meshBlocksRelease(root); }
};
using BlockPtr = std::unique_ptr<MeshBlock, BlockDeleter>;

void setBounds(MeshBlock& block, const float lo[3], const float hi[3])
{
    double diagonal = 0.0;
    for (int k = 0; k < 3; ++k) {
        block.boxMin[k] = lo[k];
        block.boxMax[k] = hi[k];
        block.centre[k] = float((double(lo[k]) + hi[k]) / 2.0);
        const double d = double(hi[k]) - lo[k];
        diagonal += d * d;
    }
    block.radius = float(std::sqrt(diagonal) / 2.0);
}

// A zeroed block with room for count triangles; null when memory runs out.
MeshBlock* newBlock(int64_t count)
{
    auto* block = static_cast<MeshBlock*>(std::calloc(1, sizeof(MeshBlock)));
    if (!block)
        return nullptr;
    block->triangles = static_cast<int32_t*>(std::malloc(size_t(count) * 3 * sizeof(int32_t)));
    block->ids = static_cast<int32_t*>(std::malloc(size_t(count) * sizeof(int32_t)));
    if (!block->triangles || !block->ids) {
        std::free(block->triangles);
        std::free(block->ids);
        std::free(block);
        return nullptr;
    }
    block->nbTriangles = int32_t(count);
    return block;
}

// Octant codes 1 to 8 by the side of the centre on each axis (x weighs 4, y 2, z 1).
int octantOf(const float* p, const float centre[3])
{
    return 1 + (p[0] > centre[0] ? 4 : 0) + (p[1] > centre[1] ? 2 : 0) + (p[2] > centre[2] ? 1 : 0);
}

// Splits block into children by the octant of each triangle's first vertex. False
// when memory ran out (the block is then unchanged); *split tells whether children
// were made.
bool splitBlock(MeshBlock& block, const float* points, bool* split)
{
    *split = false;
    const int32_t count = block.nbTriangles;
    std::vector<uint8_t> octant(static_cast<size_t>(count));
    int64_t perOctant[8] = {};
    for (int32_t i = 0; i < count; ++i) {
        const int code
            = octantOf(points + int64_t(block.triangles[int64_t(i) * 3]) * 3, block.centre);
        octant[size_t(i)] = uint8_t(code - 1);
        ++perOctant[code - 1];
    }
    int nonEmpty = 0;
    for (int64_t c : perOctant)
        nonEmpty += c > 0 ? 1 : 0;
    if (nonEmpty < 2)
        return true;

    MeshBlock* children[8] = {};
    for (int o = 0; o < 8; ++o) {
        if (perOctant[o] == 0)
            continue;
        children[o] = newBlock(perOctant[o]);
        if (!children[o]) {
            for (MeshBlock* c : children)
                meshBlocksRelease(c);
            return false;
        }
        children[o]->nbTriangles = 0;
    }
    for (int32_t i = 0; i < count; ++i) {
        MeshBlock& child = *children[octant[size_t(i)]];
        std::memcpy(child.triangles + int64_t(child.nbTriangles) * 3,
            block.triangles + int64_t(i) * 3, 3 * sizeof(int32_t));
        child.ids[child.nbTriangles++] = block.ids[i];
    }
    for (int o = 0; o < 8; ++o) {
        MeshBlock* child = children[o];
        if (!child)
            continue;
        const float* first = points + int64_t(child->triangles[0]) * 3;
        float lo[3] = { first[0], first[1], first[2] };
        float hi[3] = { first[0], first[1], first[2] };
        for (int64_t i = 0; i < int64_t(child->nbTriangles) * 3; ++i) {
            const float* p = points + int64_t(child->triangles[i]) * 3;
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], p[k]);
                hi[k] = std::max(hi[k], p[k]);
            }
        }
        setBounds(*child, lo, hi);
        child->depth = block.depth + 1;
        child->root = block.root;
        child->shared = block.shared;
        block.children[o] = child;
    }
    std::free(block.triangles);
    std::free(block.ids);
    block.triangles = nullptr;
    block.ids = nullptr;
    block.nbTriangles = 0;
    *split = true;
    return true;
}

bool checkSettings(const BlockSettings& s, std::string* error)
{
    if (s.maxFacets < 1)
        return fail(error, "the largest facet count per block must be at least 1");
    if (!std::isfinite(s.minVolumeRatio) || s.minVolumeRatio < 0.0 || s.minVolumeRatio > 1.0)
        return fail(error, "the minimal volume ratio must lie between 0 and 1");
    if (s.minFacets < 0)
        return fail(error, "the smallest facet count per block is negative");
    if (s.visibilityLevel < 0)
        return fail(error, "the visibility test level is negative");
    return true;
}

} // namespace

MeshBlock* buildBlocks(const TriMesh* mesh, const BlockSettings& settings, std::string* error)
{
    if (!checkMesh(mesh, error) || !checkSettings(settings, error))
        return nullptr;
    if (mesh->nbTriangles <= settings.maxFacets)
        return nullptr;
    BlockPtr root(guarded([&]() -> MeshBlock* {
        MeshBlock* block = newBlock(mesh->nbTriangles);
        if (!block)
            return nullptr;
        block->shared = static_cast<MeshBlockShared*>(std::calloc(1, sizeof(MeshBlockShared)));
        if (!block->shared) {
            meshBlocksRelease(block);
            return nullptr;
        }
        return block;
    }));
    if (!root)
        return fail(error, "out of memory"), nullptr;

    const float* points = mesh->points;
    root->shared->points = points;
    root->shared->visibilityLevel = settings.visibilityLevel;
    root->root = root.get();
    root->depth = 1;
    std::memcpy(root->triangles, mesh->triangles, size_t(mesh->nbTriangles) * 3 * sizeof(int32_t));
    for (int32_t i = 0; i < mesh->nbTriangles; ++i)
        root->ids[i] = i;
    // The box of every vertex, like the mesh's own box (the stored one may be stale).
    float lo[3] = { points[0], points[1], points[2] };
    float hi[3] = { points[0], points[1], points[2] };
    for (int64_t i = 1; i < mesh->nbPoints; ++i)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], points[i * 3 + k]);
            hi[k] = std::max(hi[k], points[i * 3 + k]);
        }
    setBounds(*root, lo, hi);

    const bool ok = guarded([&] {
        std::vector<MeshBlock*> work { root.get() };
        for (size_t i = 0; i < work.size(); ++i) {
            MeshBlock& block = *work[i];
            bool split = false;
            if (!splitBlock(block, points, &split))
                return false;
            if (!split)
                continue;
            for (MeshBlock* child : block.children)
                if (child && child->nbTriangles > settings.maxFacets)
                    work.push_back(child);
        }
        return true;
    });
    if (!ok)
        return fail(error, "out of memory"), nullptr;
    return root.release();
}

void freeBlocks(MeshBlock* root, const MeshLogSink& sink)
{
    emit(sink, "Debut Liberation Tableau Noeud");
    meshBlocksRelease(root);
    emit(sink, "Fin Liberation Tableau Noeud");
}

int reconditionMesh(TriMesh* mesh, const std::string& objectName, const BlockSettings& settings,
    const MeshLogSink& sink, std::string* error)
{
    if (!checkMesh(mesh, error) || !checkSettings(settings, error))
        return 0;
    std::string begin;
    guardedVoid([&] { begin = "Debut Reconditionnement Objet 3D - " + objectName; });
    emit(sink, begin);
    std::string reason;
    MeshBlock* blocks = buildBlocks(mesh, settings, &reason);
    if (!blocks && !reason.empty())
        return fail(error, reason), 0;
    if (mesh->blocks)
        freeBlocks(mesh->blocks, sink);
    mesh->blocks = blocks;
    emit(sink, "Fin Reconditionnement Objet 3D");
    return 1;
}

int unconditionMesh(TriMesh* mesh, const MeshLogSink& sink)
{
    if (!mesh || !mesh->blocks)
        return 0;
    freeBlocks(mesh->blocks, sink);
    mesh->blocks = nullptr;
    return 1;
}

} // namespace vexa::mesh
