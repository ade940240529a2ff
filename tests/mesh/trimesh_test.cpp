#include "mesh/trimesh.h"

#include "meshtestsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace meshtest;

namespace {

std::vector<std::string> finishCapturing(TriMesh* mesh, int* result = nullptr)
{
    std::vector<std::string> lines;
    int r = vexa::mesh::finishMesh(mesh, [&](const std::string& line) { lines.push_back(line); });
    if (result)
        *result = r;
    return lines;
}

} // namespace

TEST(TriMeshCreate, ComputesBoxAndRefusesBadInput)
{
    auto mesh = makeMesh({ { 1, 5, -2 }, { -3, 2, 4 }, { 0, 7, 1 } }, { { 0, 1, 2 } });
    ASSERT_TRUE(mesh);
    EXPECT_EQ(mesh->boxMin[0], -3);
    EXPECT_EQ(mesh->boxMin[1], 2);
    EXPECT_EQ(mesh->boxMin[2], -2);
    EXPECT_EQ(mesh->boxMax[0], 1);
    EXPECT_EQ(mesh->boxMax[1], 7);
    EXPECT_EQ(mesh->boxMax[2], 4);
    EXPECT_EQ(mesh->surface, 0.0f);
    EXPECT_EQ(mesh->blocks, nullptr);

    EXPECT_FALSE(makeMesh({ { 0, 0, 0 }, { 1, 0, 0 } }, { { 0, 1, 2 } })) << "index 2 of 2 points";
    EXPECT_FALSE(makeMesh({ { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 } }, { { 0, -1, 2 } }));
    EXPECT_EQ(triMeshCreate(nullptr, 3, nullptr, 0), nullptr);
    EXPECT_EQ(triMeshCreate(nullptr, -1, nullptr, 0), nullptr);
}

TEST(TriMeshCopy, IsDeepAndKeepsFiguresButNotBlocks)
{
    auto cube = unitCube();
    ASSERT_EQ(vexa::mesh::finishMesh(cube.get(), nullptr), 1);
    TriMeshPtr copy(triMeshCopy(cube.get()));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->points, cube->points);
    EXPECT_NE(copy->triangles, cube->triangles);
    EXPECT_FLOAT_EQ(copy->surface, 6.0f);
    EXPECT_FLOAT_EQ(copy->volume, 1.0f);
    EXPECT_EQ(copy->boxMax[2], 1.0f);
    copy->points[0] = 42;
    EXPECT_EQ(cube->points[0], 0.0f);
    EXPECT_EQ(triMeshCopy(nullptr), nullptr);
}

TEST(TriMeshMerge, AppendsPointsAndShiftsSecondIndices)
{
    auto a = makeMesh(
        { { 0, 0, 0 }, { 1, 0, 0 }, { 1, 1, 0 }, { 0, 1, 0 } }, { { 0, 1, 2 }, { 0, 2, 3 } });
    auto b = makeMesh({ { 5, 5, 5 }, { 6, 5, 5 }, { 5, 6, 5 } }, { { 0, 1, 2 } });
    TriMeshPtr m(triMeshMerge(a.get(), b.get()));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->nbPoints, 7);
    EXPECT_EQ(m->nbTriangles, 3);
    EXPECT_EQ(triangle(*m, 2), (std::array<int32_t, 3> { 4, 5, 6 }));
    EXPECT_EQ(point(*m, 4), (std::array<float, 3> { 5, 5, 5 }));
    EXPECT_EQ(m->boxMax[0], 6.0f);

    TriMeshPtr onlyB(triMeshMerge(nullptr, b.get()));
    ASSERT_TRUE(onlyB);
    EXPECT_EQ(triangle(*onlyB, 0), (std::array<int32_t, 3> { 0, 1, 2 }));
    TriMeshPtr onlyA(triMeshMerge(a.get(), nullptr));
    ASSERT_TRUE(onlyA);
    EXPECT_EQ(onlyA->nbPoints, 4);
    EXPECT_EQ(triMeshMerge(nullptr, nullptr), nullptr);
}

TEST(TriMeshFree, ClearsCallerPointerAndToleratesNull)
{
    TriMesh* mesh = unitCube().release();
    triMeshFree(&mesh);
    EXPECT_EQ(mesh, nullptr);
    triMeshFree(&mesh);
    triMeshFree(nullptr);
}

TEST(TriMeshTransforms, TranslateAndScaleUseFloatStepsAndLeaveBox)
{
    auto mesh = makeMesh({ { 1, 2, 3 }, { 0, 0, 0 }, { 0, 1, 0 } }, { { 0, 1, 2 } });
    triMeshTranslate(mesh.get(), 0.1, -0.2, 1e10);
    EXPECT_EQ(mesh->points[0], 1.0f + float(0.1));
    EXPECT_EQ(mesh->points[1], 2.0f + float(-0.2));
    EXPECT_EQ(mesh->boxMax[0], 1.0f) << "box is left to triMeshComputeBox";

    auto scaled = makeMesh({ { 1, 2, 3 }, { 0, 0, 0 }, { 0, 1, 0 } }, { { 0, 1, 2 } });
    triMeshScale(scaled.get(), -2, 0.5, 3);
    EXPECT_EQ(point(*scaled, 0), (std::array<float, 3> { -2, 1, 9 }));
    triMeshComputeBox(scaled.get());
    EXPECT_EQ(scaled->boxMin[0], -2.0f);
    EXPECT_EQ(scaled->boxMax[2], 9.0f);

    triMeshTranslate(nullptr, 1, 1, 1);
    triMeshScale(nullptr, 1, 1, 1);
    triMeshRotate(nullptr, 0, 0, 1, 1);
    triMeshTransform(nullptr, nullptr);
}

TEST(TriMeshTransforms, RotationTurnsTheWayItsTransposedMatrixSays)
{
    auto mesh = makeMesh({ { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } }, { { 0, 1, 2 } });
    triMeshRotate(mesh.get(), 0, 0, 5, M_PI / 2); // the axis length does not matter
    EXPECT_NEAR(mesh->points[0], 0, 1e-6);
    EXPECT_NEAR(mesh->points[1], -1, 1e-6);
    EXPECT_NEAR(mesh->points[3], 1, 1e-6);
    EXPECT_NEAR(mesh->points[4], 0, 1e-6);
    EXPECT_NEAR(mesh->points[8], 1, 1e-6);
}

TEST(TriMeshTransforms, RotationsComposeAndFourQuarterTurnsRestore)
{
    auto a = unitCube(0.25f, -3, 2);
    auto b = unitCube(0.25f, -3, 2);
    auto original = unitCube(0.25f, -3, 2);
    triMeshRotate(a.get(), 1, 2, 3, 0.3);
    triMeshRotate(a.get(), 1, 2, 3, 0.5);
    triMeshRotate(b.get(), 1, 2, 3, 0.8);
    for (int i = 0; i < 24; ++i)
        EXPECT_NEAR(a->points[i], b->points[i], 1e-5);
    for (int k = 0; k < 4; ++k)
        triMeshRotate(original.get(), -1, 0.5, 2, M_PI / 2);
    auto reference = unitCube(0.25f, -3, 2);
    for (int i = 0; i < 24; ++i)
        EXPECT_NEAR(original->points[i], reference->points[i], 1e-5);
}

TEST(TriMeshTransforms, TransformReadsNineColumnMajorCoefficients)
{
    auto mesh = makeMesh({ { 1, 2, 3 }, { 0, 0, 0 }, { 0, 1, 0 } }, { { 0, 1, 2 } });
    const double m[9] = { 1, 2, 3, 4, 5, 6, 7, 8, 9 };
    triMeshTransform(mesh.get(), m);
    // x' = 1*1 + 4*2 + 7*3, y' = 2*1 + 5*2 + 8*3, z' = 3*1 + 6*2 + 9*3
    EXPECT_EQ(point(*mesh, 0), (std::array<float, 3> { 30, 36, 42 }));
}

TEST(TriMeshComputeBox, IgnoresEmptyMeshes)
{
    TriMesh empty {};
    empty.boxMin[0] = 7;
    triMeshComputeBox(&empty);
    EXPECT_EQ(empty.boxMin[0], 7.0f);
    triMeshComputeBox(nullptr);
}

TEST(TriMeshFinish, OneTriangleGivesHalfCrossAndDeterminantVolume)
{
    auto mesh = makeMesh({ { 1, 0, 0 }, { 0, 2, 0 }, { 0, 0, 3 } }, { { 0, 1, 2 } });
    int result = 0;
    EXPECT_TRUE(finishCapturing(mesh.get(), &result).empty());
    EXPECT_EQ(result, 1);
    // (p1 - p0) x (p2 - p0) = (-1,2,0) x (-1,0,3) = (6, 3, 2), length 7
    EXPECT_FLOAT_EQ(mesh->surface, 3.5f);
    EXPECT_FLOAT_EQ(mesh->volume, 1.0f); // det = 6, / 6
    EXPECT_FLOAT_EQ(mesh->barycentre[0], 1.0f / 3);
    EXPECT_FLOAT_EQ(mesh->barycentre[2], 1.0f);

    auto throughOrigin = makeMesh({ { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 } }, { { 0, 1, 2 } });
    finishCapturing(throughOrigin.get());
    EXPECT_EQ(throughOrigin->volume, 0.0f);
}

TEST(TriMeshFinish, CubeHasAreaSixAndVolumeOneWhereverPlaced)
{
    for (float offset : { 0.0f, 10.0f, -250.5f }) {
        auto cube = unitCube(offset, offset * 2, -offset);
        EXPECT_TRUE(finishCapturing(cube.get()).empty());
        EXPECT_NEAR(cube->surface, 6.0f, 1e-4);
        EXPECT_NEAR(cube->volume, 1.0f, 1e-3);
        EXPECT_NEAR(cube->barycentre[0], offset + 0.5f, 1e-3);
    }
}

TEST(TriMeshFinish, FlippedFaceIsTurnedBackToMatchTriangleZero)
{
    auto reference = unitCube();
    auto cube = unitCube();
    std::swap(cube->triangles[5 * 3 + 1], cube->triangles[5 * 3 + 2]); // flip triangle 5
    finishCapturing(cube.get());
    EXPECT_NEAR(cube->volume, 1.0f, 1e-5);
    // Every edge of a consistently oriented closed mesh is used once in each direction.
    int directed[8][8] = {};
    for (int t = 0; t < 12; ++t)
        for (int e = 0; e < 3; ++e)
            ++directed[cube->triangles[t * 3 + e]][cube->triangles[t * 3 + (e + 1) % 3]];
    for (int a = 0; a < 8; ++a)
        for (int b = 0; b < 8; ++b)
            EXPECT_LE(directed[a][b], 1) << a << "->" << b;
    // Triangle 0 leads its piece and is never changed.
    EXPECT_EQ(triangle(*cube, 0), triangle(*reference, 0));
}

TEST(TriMeshFinish, NeighbourSharingEdgeSameWayGetsFirstTwoIndicesSwapped)
{
    auto mesh = makeMesh({ { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 1, 1, 0 } },
        { { 0, 1, 2 }, { 1, 2, 3 } }); // both run 1->2
    finishCapturing(mesh.get());
    EXPECT_EQ(triangle(*mesh, 0), (std::array<int32_t, 3> { 0, 1, 2 }));
    EXPECT_EQ(triangle(*mesh, 1), (std::array<int32_t, 3> { 2, 1, 3 }));
}

TEST(TriMeshFinish, EdgeOfThreeTrianglesIsReportedAndLinksNothing)
{
    // Three fins on the edge 0-1, all running 0->1: none may be re-oriented.
    auto mesh = makeMesh({ { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 }, { 0, -1, 0 } },
        { { 0, 1, 2 }, { 0, 1, 3 }, { 0, 1, 4 } });
    auto lines = finishCapturing(mesh.get());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Poutre : 0 <-> 1 (3)");
    EXPECT_EQ(triangle(*mesh, 1), (std::array<int32_t, 3> { 0, 1, 3 }));
    EXPECT_EQ(triangle(*mesh, 2), (std::array<int32_t, 3> { 0, 1, 4 }));
}

TEST(TriMeshFinish, RefusesEmptyOrCorruptMeshes)
{
    int result = -1;
    finishCapturing(nullptr, &result);
    EXPECT_EQ(result, 0);
    TriMesh empty {};
    EXPECT_EQ(triMeshFinish(&empty), 0);

    auto mesh = unitCube();
    mesh->triangles[4] = 99; // corrupted after creation, e.g. by a plug-in
    finishCapturing(mesh.get(), &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(mesh->surface, 0.0f);
}

TEST(TriMeshFinish, DegenerateTriangleDoesNotLinkToItself)
{
    auto mesh = makeMesh({ { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 1, 1, 0 } },
        { { 0, 0, 1 }, { 1, 2, 3 } }); // (0, 0, 1) lists the edge 0-1 twice
    int result = 0;
    EXPECT_TRUE(finishCapturing(mesh.get(), &result).empty());
    EXPECT_EQ(result, 1);
    EXPECT_EQ(triangle(*mesh, 0), (std::array<int32_t, 3> { 0, 0, 1 }));
    EXPECT_FLOAT_EQ(mesh->surface, 0.5f);
}
