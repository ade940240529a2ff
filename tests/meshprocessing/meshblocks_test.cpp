// The block partition: "Reconditionnement" and "Déconditionnement" on meshes whose
// octant splits are known.
#include "../mesh/meshtestsupport.h"

#include "mesh/meshprocessing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

using meshtest::TriMeshPtr;
using namespace vexa::mesh;

struct Lines {
    std::vector<std::string> lines;
    MeshLogSink sink()
    {
        return [this](const std::string& line) { lines.push_back(line); };
    }
};

// count degenerate triangles (p, p, p) at the given places, one per place.
TriMeshPtr pointTriangles(const std::vector<std::array<float, 3>>& places)
{
    const size_t n = places.size();
    auto* p = static_cast<float*>(std::malloc(n * 3 * sizeof(float)));
    auto* t = static_cast<int32_t*>(std::malloc(n * 3 * sizeof(int32_t)));
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            p[i * 3 + k] = places[i][size_t(k)];
            t[i * 3 + k] = int32_t(i);
        }
    return TriMeshPtr(triMeshCreate(p, int32_t(n), t, int32_t(n)));
}

// A strip of count triangles along x, each in its own unit of length.
TriMeshPtr strip(int count, float spacing = 1.0f)
{
    std::vector<std::array<float, 3>> places;
    for (int i = 0; i < count; ++i)
        places.push_back({ float(i) * spacing, float(i % 7), float(i % 3) });
    return pointTriangles(places);
}

void visit(const MeshBlock* block, const std::function<void(const MeshBlock&)>& f)
{
    if (!block)
        return;
    f(*block);
    for (const MeshBlock* child : block->children)
        visit(child, f);
}

// Every structural rule of a partition of mesh made with maxFacets.
void expectSoundPartition(const TriMesh& mesh, const MeshBlock* root, int32_t maxFacets)
{
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->root, root);
    EXPECT_EQ(root->depth, 1);
    ASSERT_NE(root->shared, nullptr);
    EXPECT_EQ(root->shared->points, mesh.points);
    std::vector<int> seen(size_t(mesh.nbTriangles), 0);
    visit(root, [&](const MeshBlock& b) {
        EXPECT_EQ(b.root, root);
        EXPECT_EQ(b.shared, root->shared);
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(b.centre[k], (b.boxMin[k] + b.boxMax[k]) / 2);
        bool hasChildren = false;
        for (const MeshBlock* c : b.children)
            if (c) {
                hasChildren = true;
                EXPECT_EQ(c->depth, b.depth + 1);
            }
        if (hasChildren) {
            EXPECT_EQ(b.nbTriangles, 0);
            EXPECT_EQ(b.triangles, nullptr);
            EXPECT_EQ(b.ids, nullptr);
            return;
        }
        // A leaf over the limit is one that could not be split further.
        if (b.nbTriangles > maxFacets) {
            int first = -1;
            for (int i = 0; i < b.nbTriangles; ++i) {
                const float* p = mesh.points + int64_t(b.triangles[i * 3]) * 3;
                const int code
                    = (p[0] > b.centre[0]) * 4 + (p[1] > b.centre[1]) * 2 + (p[2] > b.centre[2]);
                if (first < 0)
                    first = code;
                EXPECT_EQ(code, first) << "splittable leaf of " << b.nbTriangles;
            }
        }
        for (int i = 0; i < b.nbTriangles; ++i) {
            const int32_t id = b.ids[i];
            ASSERT_GE(id, 0);
            ASSERT_LT(id, mesh.nbTriangles);
            ++seen[size_t(id)];
            EXPECT_EQ(std::memcmp(b.triangles + i * 3, mesh.triangles + int64_t(id) * 3,
                          3 * sizeof(int32_t)),
                0);
            for (int c = 0; c < 3; ++c) {
                const float* p = mesh.points + int64_t(b.triangles[i * 3 + c]) * 3;
                for (int k = 0; k < 3; ++k) {
                    EXPECT_GE(p[k], b.boxMin[k]);
                    EXPECT_LE(p[k], b.boxMax[k]);
                }
            }
        }
    });
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], 1) << "triangle " << i;
}

int maxDepth(const MeshBlock* root)
{
    int depth = 0;
    visit(root, [&](const MeshBlock& b) { depth = std::max(depth, int(b.depth)); });
    return depth;
}

} // namespace

TEST(MeshBlocks, NoPartitionUpToTheFacetLimit)
{
    auto mesh = strip(5000);
    Lines log;
    ASSERT_EQ(reconditionMesh(mesh.get(), "bloc", {}, log.sink()), 1);
    EXPECT_EQ(mesh->blocks, nullptr);
    EXPECT_EQ(log.lines,
        (std::vector<std::string> {
            "Debut Reconditionnement Objet 3D - bloc", "Fin Reconditionnement Objet 3D" }));
    std::string why;
    EXPECT_EQ(buildBlocks(mesh.get(), {}, &why), nullptr);
    EXPECT_TRUE(why.empty()); // no partition is not a refusal
}

TEST(MeshBlocks, OneOverTheLimitSplitsOnceIntoLeaves)
{
    auto mesh = strip(5001);
    Lines log;
    ASSERT_EQ(reconditionMesh(mesh.get(), "bloc", {}, log.sink()), 1);
    ASSERT_NE(mesh->blocks, nullptr);
    expectSoundPartition(*mesh, mesh->blocks, 5000);
    EXPECT_EQ(maxDepth(mesh->blocks), 2);
    EXPECT_EQ(mesh->blocks->shared->visibilityLevel, 100);
    // The root spans the whole mesh.
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(mesh->blocks->boxMin[k], mesh->boxMin[k]);
        EXPECT_EQ(mesh->blocks->boxMax[k], mesh->boxMax[k]);
    }
    const float dx = mesh->boxMax[0] - mesh->boxMin[0];
    const float dy = mesh->boxMax[1] - mesh->boxMin[1];
    const float dz = mesh->boxMax[2] - mesh->boxMin[2];
    EXPECT_NEAR(mesh->blocks->radius, std::sqrt(dx * dx + dy * dy + dz * dz) / 2, 1e-2);
}

// Centre (0, 0, 0): a first vertex on the centre counts as below it on every axis.
TEST(MeshBlocks, ChildrenSitAtTheOctantOfTheFirstVertex)
{
    auto mesh
        = pointTriangles({ { -1, -1, -1 }, { 1, 1, 1 }, { 0, 0, 0 }, { 1, -1, 1 }, { -1, 1, -1 } });
    BlockSettings s;
    s.maxFacets = 1;
    s.visibilityLevel = 7;
    MeshBlock* root = buildBlocks(mesh.get(), s);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->shared->visibilityLevel, 7);
    // Codes: x above weighs 4, y 2, z 1, plus one; child slot is code - 1.
    // (-1,-1,-1) and the centre share slot 0; that child is split again below.
    ASSERT_NE(root->children[0], nullptr);
    EXPECT_EQ(root->children[0]->nbTriangles, 0);
    ASSERT_NE(root->children[7], nullptr);
    EXPECT_EQ(root->children[7]->ids[0], 1);
    ASSERT_NE(root->children[5], nullptr); // (1, -1, 1): code 6
    EXPECT_EQ(root->children[5]->ids[0], 3);
    ASSERT_NE(root->children[2], nullptr); // (-1, 1, -1): code 3
    EXPECT_EQ(root->children[2]->ids[0], 4);
    for (int o : { 1, 3, 4, 6 })
        EXPECT_EQ(root->children[o], nullptr);
    // The two-triangle child has the box of its own vertices, centre (-0.5, -0.5, -0.5).
    const MeshBlock* low = root->children[0];
    EXPECT_EQ(low->boxMin[0], -1.0f);
    EXPECT_EQ(low->boxMax[0], 0.0f);
    ASSERT_NE(low->children[0], nullptr);
    EXPECT_EQ(low->children[0]->ids[0], 0);
    ASSERT_NE(low->children[7], nullptr);
    EXPECT_EQ(low->children[7]->ids[0], 2);
    EXPECT_EQ(low->children[7]->depth, 3);
    expectSoundPartition(*mesh, root, 1);
    meshBlocksRelease(root);
}

TEST(MeshBlocks, UnsplittableBlockStaysALeafOverTheLimit)
{
    // Every triangle starts at the same vertex: one octant, no split.
    std::vector<float> pts = { 0, 0, 0 };
    std::vector<int32_t> tris;
    for (int i = 0; i < 40; ++i) {
        pts.insert(pts.end(), { float(i), 1, 0, float(i), 0, 1 });
        tris.insert(tris.end(), { 0, 2 * i + 1, 2 * i + 2 });
    }
    auto* p = static_cast<float*>(std::malloc(pts.size() * sizeof(float)));
    auto* t = static_cast<int32_t*>(std::malloc(tris.size() * sizeof(int32_t)));
    std::copy(pts.begin(), pts.end(), p);
    std::copy(tris.begin(), tris.end(), t);
    TriMeshPtr mesh(triMeshCreate(p, int32_t(pts.size() / 3), t, int32_t(tris.size() / 3)));
    BlockSettings s;
    s.maxFacets = 10;
    MeshBlock* root = buildBlocks(mesh.get(), s);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->nbTriangles, 40);
    for (const MeshBlock* c : root->children)
        EXPECT_EQ(c, nullptr);
    expectSoundPartition(*mesh, root, 10);
    meshBlocksRelease(root);
}

TEST(MeshBlocks, SmallLimitGivesADeepTreeCoveringEveryFacetOnce)
{
    auto mesh = strip(3000, 0.37f);
    BlockSettings s;
    s.maxFacets = 16;
    MeshBlock* root = buildBlocks(mesh.get(), s);
    expectSoundPartition(*mesh, root, 16);
    EXPECT_GE(maxDepth(root), 3);
    meshBlocksRelease(root);
}

// Places halving towards the origin peel one triangle per level: the tree is as deep as
// the mesh is long.
TEST(MeshBlocks, GeometricSeriesGivesATreeAsDeepAsTheMesh)
{
    std::vector<std::array<float, 3>> places;
    for (int k = 0; k < 100; ++k) {
        const float x = std::ldexp(1.0f, -k);
        places.push_back({ x, x, x });
    }
    auto mesh = pointTriangles(places);
    BlockSettings s;
    s.maxFacets = 1;
    MeshBlock* root = buildBlocks(mesh.get(), s);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(maxDepth(root), 100);
    expectSoundPartition(*mesh, root, 1);
    meshBlocksRelease(root);
}

// A chain far deeper than any stack allows recursion for, made as buildBlocks makes
// trees (children share the root's record), released whole and from a subtree.
TEST(MeshBlocks, ReleasingAVeryDeepTreeDoesNotRecurse)
{
    constexpr int kDepth = 300000;
    const auto block = [] { return static_cast<MeshBlock*>(std::calloc(1, sizeof(MeshBlock))); };
    MeshBlock* root = block();
    root->root = root;
    root->depth = 1;
    root->shared = static_cast<MeshBlockShared*>(std::calloc(1, sizeof(MeshBlockShared)));
    MeshBlock* middle = nullptr;
    MeshBlock* last = root;
    for (int d = 2; d <= kDepth; ++d) {
        MeshBlock* child = block();
        child->root = root;
        child->shared = root->shared;
        child->depth = d;
        child->nbTriangles = 1;
        child->triangles = static_cast<int32_t*>(std::calloc(3, sizeof(int32_t)));
        child->ids = static_cast<int32_t*>(std::calloc(1, sizeof(int32_t)));
        if (d % 1000 == 0)
            last->children[(d + 3) % 8] = block(); // a sibling now and then
        if (d == kDepth / 2) {
            middle = child; // detached: released apart as a subtree
        } else {
            last->children[d % 8] = child;
        }
        last = child;
    }
    // A subtree leaves the root's record alone; the rest goes with the root (leaks and
    // double frees are the sanitizers' to catch).
    meshBlocksRelease(middle);
    EXPECT_EQ(root->shared->visibilityLevel, 0);
    meshBlocksRelease(root);
    meshBlocksRelease(nullptr);
}

TEST(MeshBlocks, RebuildingReplacesThePartitionAndUnconditioningFreesIt)
{
    auto mesh = strip(200);
    BlockSettings s;
    s.maxFacets = 20;
    Lines log;
    ASSERT_EQ(reconditionMesh(mesh.get(), "a", s, log.sink()), 1);
    ASSERT_NE(mesh->blocks, nullptr);
    log.lines.clear();
    ASSERT_EQ(reconditionMesh(mesh.get(), "a", s, log.sink()), 1);
    EXPECT_EQ(log.lines,
        (std::vector<std::string> { "Debut Reconditionnement Objet 3D - a",
            "Debut Liberation Tableau Noeud", "Fin Liberation Tableau Noeud",
            "Fin Reconditionnement Objet 3D" }));
    expectSoundPartition(*mesh, mesh->blocks, 20);

    log.lines.clear();
    EXPECT_EQ(unconditionMesh(mesh.get(), log.sink()), 1);
    EXPECT_EQ(mesh->blocks, nullptr);
    EXPECT_EQ(log.lines,
        (std::vector<std::string> {
            "Debut Liberation Tableau Noeud", "Fin Liberation Tableau Noeud" }));
    log.lines.clear();
    EXPECT_EQ(unconditionMesh(mesh.get(), log.sink()), 0);
    EXPECT_EQ(unconditionMesh(nullptr, log.sink()), 0);
    EXPECT_TRUE(log.lines.empty());
}

TEST(MeshBlocks, CopiesNeverShareAPartitionAndFreeingAPartitionedMeshIsSafe)
{
    auto mesh = strip(100);
    BlockSettings s;
    s.maxFacets = 8;
    ASSERT_EQ(reconditionMesh(mesh.get(), "a", s, [](const std::string&) {}), 1);
    TriMeshPtr moved(translateMesh(mesh.get(), { 1, 0, 0 }));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->blocks, nullptr);
    TriMesh* raw = mesh.release();
    triMeshFree(&raw); // releases the tree with the mesh (checked by the sanitizers)
    EXPECT_EQ(raw, nullptr);
}

TEST(MeshBlocks, AbsurdSettingsAreRefusedAndKeepTheOldPartition)
{
    auto mesh = strip(300);
    BlockSettings good;
    good.maxFacets = 50;
    ASSERT_EQ(reconditionMesh(mesh.get(), "a", good, [](const std::string&) {}), 1);
    MeshBlock* before = mesh->blocks;
    ASSERT_NE(before, nullptr);

    std::vector<BlockSettings> bad(7, good);
    bad[0].maxFacets = 0;
    bad[1].maxFacets = -5000;
    bad[2].minVolumeRatio = std::numeric_limits<double>::quiet_NaN();
    bad[3].minVolumeRatio = 1.5;
    bad[4].minVolumeRatio = -0.1;
    bad[5].minFacets = -1;
    bad[6].visibilityLevel = -1;
    for (const BlockSettings& s : bad) {
        Lines log;
        std::string why;
        EXPECT_EQ(reconditionMesh(mesh.get(), "a", s, log.sink(), &why), 0);
        EXPECT_FALSE(why.empty());
        EXPECT_TRUE(log.lines.empty());
        EXPECT_EQ(mesh->blocks, before);
        why.clear();
        EXPECT_EQ(buildBlocks(mesh.get(), s, &why), nullptr);
        EXPECT_FALSE(why.empty());
    }
    TriMesh empty {};
    std::string why;
    EXPECT_EQ(reconditionMesh(&empty, "a", good, {}, &why), 0);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(reconditionMesh(nullptr, "a", good, {}, &why), 0);
    EXPECT_EQ(buildBlocks(nullptr, good, &why), nullptr);
}
