#include "mesh/meshformats.h"

#include "meshtestsupport.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

using namespace meshtest;
using namespace vexa::mesh;
namespace fs = std::filesystem;
using vexatest::TempDir;

namespace {

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Two facets of an ASCII STL, the second upside down in the file.
const char* const kTwoFacets = "solid two\n"
                               " facet normal 0 0 1\n  outer loop\n"
                               "   vertex 0 0 0\n   vertex 1 0 0\n   vertex 0 1 0\n"
                               "  endloop\n endfacet\n"
                               " facet normal 0 0 -1\n  outer loop\n"
                               "   vertex 5 5 5\n   vertex 5 6 5\n   vertex 6 5 5\n"
                               "  endloop\n endfacet\n"
                               "endsolid two\n";

std::string binaryStl(uint32_t announced, int stored)
{
    std::string bytes(80, 'x');
    for (int i = 0; i < 4; ++i)
        bytes.push_back(char((announced >> (8 * i)) & 0xff));
    for (int t = 0; t < stored; ++t) {
        bytes.append(12, '\0');
        for (int c = 0; c < 9; ++c) {
            float v = float(t * 10 + c);
            char raw[4];
            std::memcpy(raw, &v, 4);
            bytes.append(raw, 4);
        }
        bytes.append(2, '\0');
    }
    return bytes;
}

const char* const kStandardBody
    = "rouge : 255\nvert : 128\nbleu : 0\n"
      "nbp : 3\n0 : 0.000000 0.000000 0.000000\n"
      "1 : 1.500000 0.000000 0.000000\n2 : 0.000000 2.000000 -1.000000\n"
      "nbf : 1 \n0 1 2\n";

} // namespace

TEST(MeshStandardFormat, WriteThenReadKeepsSixDecimalsAndColour)
{
    TempDir dir;
    auto mesh
        = makeMesh({ { 0.1234564f, -2, 3 }, { 1e6f, 0, 0 }, { 0, 0.5f, 0 } }, { { 2, 0, 1 } });
    const std::string path = dir.file("object.txt");
    ASSERT_TRUE(writeMeshStandard(path.c_str(), mesh.get(), 0.2, 1.0, 0.0));
    const std::string text = readFile(path);
    EXPECT_EQ(
        text.rfind("Data3D_V1.0\nrouge : 51\nvert : 255\nbleu : 0\nnbp : 3\n0 : 0.123456 ", 0), 0u);
    EXPECT_NE(text.find("nbf : 1 \n2 0 1\n"), std::string::npos);

    MeshColour colour;
    TriMeshPtr back(readMeshFile(path.c_str(), &colour));
    ASSERT_TRUE(back) << lastMeshError();
    EXPECT_EQ(back->nbPoints, 3);
    EXPECT_NEAR(back->points[0], 0.123456, 1e-7);
    EXPECT_EQ(back->points[3], 1e6f);
    EXPECT_EQ(triangle(*back, 0), (std::array<int32_t, 3> { 2, 0, 1 }));
    EXPECT_DOUBLE_EQ(colour.r, 51 / 255.0);
    EXPECT_DOUBLE_EQ(colour.g, 1.0);
    EXPECT_EQ(back->surface, 0.0f) << "figures are the caller's business";

    MeshColour only;
    EXPECT_TRUE(readMeshColour(path.c_str(), &only));
    EXPECT_DOUBLE_EQ(only.r, 51 / 255.0);
}

TEST(MeshStandardFormat, FileWithoutHeaderReadsButHasNoColourOfItsOwn)
{
    TempDir dir;
    const std::string path = dir.file("noheader.dat");
    writeFile(path, kStandardBody);
    MeshColour colour;
    TriMeshPtr mesh(readMeshFile(path.c_str(), &colour));
    ASSERT_TRUE(mesh) << lastMeshError();
    EXPECT_EQ(mesh->nbTriangles, 1);
    EXPECT_DOUBLE_EQ(colour.r, 1.0);
    MeshColour only { 1, 1, 1 };
    EXPECT_FALSE(readMeshColour(path.c_str(), &only));
    EXPECT_EQ(only.r, 0.0);
    EXPECT_FALSE(readMeshColour(dir.file("missing").c_str(), &only));
}

TEST(MeshStandardFormat, RefusesGocadAndDamagedFiles)
{
    std::string error;
    EXPECT_FALSE(TriMeshPtr(parseMeshStandard("GOCAD TSurf 1\nrouge : 1\n", nullptr, &error)));
    EXPECT_FALSE(error.empty());

    const std::string good = std::string("Data3D_V1.0\n") + kStandardBody;
    ASSERT_TRUE(TriMeshPtr(parseMeshStandard(good, nullptr, &error)));
    // Every cut before the last index must fail cleanly.
    const size_t lastIndex = good.rfind('2');
    for (size_t cut = 0; cut < lastIndex; ++cut)
        EXPECT_FALSE(TriMeshPtr(parseMeshStandard(good.substr(0, cut), nullptr, &error))) << cut;

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    EXPECT_FALSE(
        TriMeshPtr(parseMeshStandard(replaced("nbp : 3", "nbp : 1099511627776"), nullptr, &error)));
    EXPECT_FALSE(TriMeshPtr(parseMeshStandard(replaced("nbp : 3", "nbp : -3"), nullptr, &error)));
    EXPECT_FALSE(
        TriMeshPtr(parseMeshStandard(replaced("nbf : 1", "nbf : 400000000"), nullptr, &error)));
    EXPECT_FALSE(TriMeshPtr(parseMeshStandard(replaced("0 1 2\n", "0 1 3\n"), nullptr, &error)));
    EXPECT_FALSE(TriMeshPtr(parseMeshStandard(replaced("0 1 2\n", "0 -1 2\n"), nullptr, &error)));
    EXPECT_FALSE(TriMeshPtr(parseMeshStandard(replaced("1.500000", "nan"), nullptr, &error)));
    EXPECT_FALSE(TriMeshPtr(parseMeshStandard(replaced("1.500000", "1e300"), nullptr, &error)));
}

TEST(MeshStlFormat, BinaryOfTwoTrianglesIs184BytesAndGivesSixPoints)
{
    TempDir dir;
    auto mesh = makeMesh(
        { { 0, 0, 0 }, { 1, 0, 0 }, { 0, 1, 0 }, { 0, 0, 1 } }, { { 0, 1, 2 }, { 3, 2, 1 } });
    const std::string path = dir.file("two.stl");
    ASSERT_TRUE(writeMeshStlBinary(path.c_str(), mesh.get()));
    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 184u);
    EXPECT_EQ(bytes.substr(0, 80), std::string(80, '\0'));

    TriMeshPtr back(readMeshFile(path.c_str(), nullptr));
    ASSERT_TRUE(back) << lastMeshError();
    EXPECT_EQ(back->nbPoints, 6);
    EXPECT_EQ(back->nbTriangles, 2);
    EXPECT_EQ(triangle(*back, 0), (std::array<int32_t, 3> { 0, 1, 2 }));
    EXPECT_EQ(triangle(*back, 1), (std::array<int32_t, 3> { 3, 4, 5 }));
    EXPECT_EQ(point(*back, 3), (std::array<float, 3> { 0, 0, 1 }));
}

TEST(MeshStlFormat, BinaryRefusesTruncationHugeCountsAndNonFinite)
{
    std::string error;
    EXPECT_TRUE(TriMeshPtr(parseMeshStlBinary(binaryStl(2, 2), &error)));
    EXPECT_TRUE(TriMeshPtr(parseMeshStlBinary(binaryStl(2, 2) + "trailer", &error)));
    const std::string good = binaryStl(2, 2);
    for (size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(TriMeshPtr(parseMeshStlBinary(good.substr(0, cut), &error))) << cut;
    EXPECT_FALSE(TriMeshPtr(parseMeshStlBinary(binaryStl(0xffffffffu, 1), &error)));

    std::string nanFile = binaryStl(1, 1);
    const float nan = std::nanf("");
    std::memcpy(&nanFile[84 + 12 + 4], &nan, 4);
    EXPECT_FALSE(TriMeshPtr(parseMeshStlBinary(nanFile, &error)));
}

TEST(MeshStlFormat, AsciiFacetsKeepFileOrder)
{
    std::string error;
    TriMeshPtr mesh(parseMeshStl(kTwoFacets, &error));
    ASSERT_TRUE(mesh) << error;
    ASSERT_EQ(mesh->nbPoints, 6);
    EXPECT_EQ(triangle(*mesh, 0), (std::array<int32_t, 3> { 0, 1, 2 }));
    EXPECT_EQ(point(*mesh, 1), (std::array<float, 3> { 1, 0, 0 }));
    EXPECT_EQ(point(*mesh, 4), (std::array<float, 3> { 5, 6, 5 }));
}

TEST(MeshStlFormat, AsciiReadsEverySolidAndEmptyOnes)
{
    std::string error;
    std::string twice = std::string(kTwoFacets) + "solid\n" + (std::strchr(kTwoFacets, '\n') + 1);
    TriMeshPtr mesh(parseMeshStl(twice, &error));
    ASSERT_TRUE(mesh) << error;
    EXPECT_EQ(mesh->nbTriangles, 4);

    TriMeshPtr empty(parseMeshStl("solid Empty\nendsolid Empty\n", &error));
    ASSERT_TRUE(empty) << error;
    EXPECT_EQ(empty->nbTriangles, 0);
}

TEST(MeshStlFormat, AsciiTruncationFailsCleanly)
{
    const std::string good = kTwoFacets;
    std::string error;
    const size_t endsolid = good.find("endsolid");
    for (size_t cut = 5; cut < endsolid; ++cut)
        EXPECT_FALSE(TriMeshPtr(parseMeshStl(good.substr(0, cut), &error))) << cut;
}

TEST(MeshStlFormat, BinaryHeaderBeginningWithSolidIsReadAsBinary)
{
    std::string bytes = binaryStl(3, 3);
    std::memcpy(bytes.data(), "solid binary", 12);
    std::string error;
    TriMeshPtr mesh(parseMeshStl(bytes, &error));
    ASSERT_TRUE(mesh) << error;
    EXPECT_EQ(mesh->nbTriangles, 3);
    EXPECT_EQ(mesh->points[9], 10.0f);
}

TEST(MeshOffFormat, PolygonsBecomeFansAndExtrasAreIgnored)
{
    const char* text
        = "  OFF # comment\n6 2 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n-1 0.5 0\n9 9 9\n"
          "5 0 1 2\n 3 4 0.5 0.5 0.5 1\n" // a face spread over two lines, then a colour
          "3 5 4 3 # last\n";
    std::string error;
    TriMeshPtr mesh(parseMeshOff(text, &error));
    ASSERT_TRUE(mesh) << error;
    EXPECT_EQ(mesh->nbPoints, 6);
    ASSERT_EQ(mesh->nbTriangles, 4);
    EXPECT_EQ(triangle(*mesh, 0), (std::array<int32_t, 3> { 0, 1, 2 }));
    EXPECT_EQ(triangle(*mesh, 1), (std::array<int32_t, 3> { 0, 2, 3 }));
    EXPECT_EQ(triangle(*mesh, 2), (std::array<int32_t, 3> { 0, 3, 4 }));
    EXPECT_EQ(triangle(*mesh, 3), (std::array<int32_t, 3> { 5, 4, 3 }));
}

TEST(MeshOffFormat, WriteThenReadGivesTheSameMesh)
{
    TempDir dir;
    auto cube = unitCube(-1, 2, 0.25f);
    const std::string path = dir.file("cube.off");
    ASSERT_TRUE(writeMeshOff(path.c_str(), cube.get()));
    EXPECT_EQ(readFile(path).rfind("OFF\n8 12 0\n-1.000000 2.000000 0.250000\n", 0), 0u);
    MeshColour colour;
    TriMeshPtr back(readMeshFile(path.c_str(), &colour));
    ASSERT_TRUE(back) << lastMeshError();
    ASSERT_EQ(back->nbTriangles, 12);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(back->points[i], cube->points[i]);
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(back->triangles[i], cube->triangles[i]);
    EXPECT_GE(colour.r + colour.g + colour.b, 2.0) << "OFF files get a light random colour";
}

TEST(MeshOffFormat, RefusesBadHeadersCountsAndIndices)
{
    std::string error;
    const std::string good = "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
    ASSERT_TRUE(TriMeshPtr(parseMeshOff(good, &error)));
    for (const char* bad : {
             "COFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n",
             "OFF\n1099511627776 1 0\n0 0 0\n",
             "OFF\n3 1099511627776 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n",
             "OFF\n-3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n",
             "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n",
             "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n2 0 1\n",
             "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n2000000000 0 1 2\n",
             "OFF\n3 1 0\n0 0 0\n1 inf 0\n0 1 0\n3 0 1 2\n",
         })
        EXPECT_FALSE(TriMeshPtr(parseMeshOff(bad, &error))) << bad;
    for (size_t cut = 0; cut + 1 < good.size(); ++cut)
        EXPECT_FALSE(TriMeshPtr(parseMeshOff(good.substr(0, cut), &error))) << cut;
}

TEST(MeshVtkFormat, QuadsGiveTwoTrianglesEachOthersFansAndStrips)
{
    const char* text = "# vtk DataFile Version 3.0\nvtk output\nASCII\nDATASET POLYDATA\n"
                       "POINTS 5 float\n0 0 0 1 0 0 1 1 0\n0 1 0 2 2 2\n"
                       "POLYGONS 2 9\n4 0 1 2 3\n3 4 1 2\n"
                       "TRIANGLE_STRIPS 1 5\n4 0 1 2 3\n"
                       "POINT_DATA 5\nSCALARS s float\nLOOKUP_TABLE default\n1 2 3 4 5\n";
    std::string error;
    TriMeshPtr mesh(parseMeshVtk(text, &error));
    ASSERT_TRUE(mesh) << error;
    EXPECT_EQ(mesh->nbPoints, 5);
    ASSERT_EQ(mesh->nbTriangles, 5);
    EXPECT_EQ(triangle(*mesh, 0), (std::array<int32_t, 3> { 0, 1, 2 }));
    EXPECT_EQ(triangle(*mesh, 1), (std::array<int32_t, 3> { 2, 3, 0 }));
    EXPECT_EQ(triangle(*mesh, 2), (std::array<int32_t, 3> { 4, 1, 2 }));
    EXPECT_EQ(triangle(*mesh, 3), (std::array<int32_t, 3> { 0, 1, 2 }));
    EXPECT_EQ(triangle(*mesh, 4), (std::array<int32_t, 3> { 2, 1, 3 }));
}

TEST(MeshVtkFormat, RefusesWhatIsNotAnAsciiSurface)
{
    const std::string head = "# vtk DataFile Version 3.0\nvtk output\nASCII\nDATASET POLYDATA\n";
    std::string error;
    for (const std::string& bad : {
             std::string("# vtx DataFile\n"),
             std::string("# vtk DataFile Version 3.0\nt\nBINARY\nDATASET POLYDATA\n"),
             std::string("# vtk DataFile Version 3.0\nt\nASCII\nDATASET STRUCTURED_POINTS\n"),
             head + "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nLINES 1 3\n2 0 1\n",
             head + "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 1 4\n3 0 1 3\n",
             head + "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 1 4\n5 0 1 2 0 1\n",
             head + "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 1099511627776 4\n3 0 1 2\n",
             head + "POINTS 1099511627776 float\n0 0 0\n",
             head + "POLYGONS 1 4\n3 0 1 2\nPOINTS 3 float\n0 0 0 1 0 0 0 1 0\n",
         })
        EXPECT_FALSE(TriMeshPtr(parseMeshVtk(bad, &error))) << bad;

    const std::string good = head + "POINTS 3 float\n0 0 0 1 0 0 0 1 0\nPOLYGONS 1 4\n3 0 1 2\n";
    ASSERT_TRUE(TriMeshPtr(parseMeshVtk(good, &error))) << error;
    for (size_t cut = 0; cut + 1 < good.size(); ++cut)
        EXPECT_FALSE(TriMeshPtr(parseMeshVtk(good.substr(0, cut), &error))) << cut;
}

TEST(MeshPointsNormals, WritesCentroidAndUnitNormalPerTriangle)
{
    auto mesh = makeMesh(
        { { 0, 0, 0 }, { 3, 0, 0 }, { 0, 3, 0 }, { 6, 0, 0 } }, { { 0, 1, 2 }, { 0, 1, 3 } });
    EXPECT_EQ(formatMeshPointsNormals(*mesh),
        "POINTS_NORMALS 2\n"
        "1.000000 1.000000 0.000000 0.000000 0.000000 1.000000\n"
        "3.000000 0.000000 0.000000 0.000000 0.000000 0.000000\n");
}

TEST(MeshFileDispatch, ChoosesReaderByExactLowerCaseEnding)
{
    TempDir dir;
    const std::string upper = dir.file("two.STL");
    writeFile(upper, binaryStl(2, 2));
    EXPECT_FALSE(TriMeshPtr(readMeshFile(upper.c_str(), nullptr)))
        << "an upper-case ending goes to the workstation's own format";
    EXPECT_NE(lastMeshError().find("two.STL"), std::string::npos);

    const std::string lower = dir.file("two.stl");
    writeFile(lower, binaryStl(2, 2));
    MeshColour untouched { 0.25, 0.5, 0.75 };
    TriMeshPtr mesh(readMeshFile(lower.c_str(), &untouched));
    ASSERT_TRUE(mesh);
    EXPECT_EQ(untouched.g, 0.5) << "STL carries no colour";

    EXPECT_FALSE(TriMeshPtr(readMeshFile(nullptr, nullptr)));
    EXPECT_FALSE(TriMeshPtr(readMeshFile(dir.file("absent.off").c_str(), nullptr)));
    EXPECT_FALSE(TriMeshPtr(readMeshFile(dir.file("").c_str(), nullptr))) << "a directory";
}

TEST(MeshWriters, RefuseBadMeshesAndKeepOldFileOnFailure)
{
    TempDir dir;
    auto mesh = unitCube();
    EXPECT_FALSE(writeMeshOff("/nonexistent-dir/x.off", mesh.get()));
    EXPECT_FALSE(writeMeshStandard(dir.file("n.txt").c_str(), nullptr, 0, 0, 0));
    EXPECT_FALSE(writeMeshStlBinary(nullptr, mesh.get()));

    const std::string path = dir.file("keep.off");
    writeFile(path, "old contents");
    mesh->triangles[0] = 1000; // corrupt: must not replace the file
    EXPECT_FALSE(writeMeshOff(path.c_str(), mesh.get()));
    EXPECT_FALSE(writeMeshPointsNormals(path.c_str(), mesh.get()));
    EXPECT_EQ(readFile(path), "old contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path).parent_path()), {}), 1)
        << "no temporary file left behind";
}

// Real files from other tools: counts as their headers state them.
struct RealFile {
    const char* path;
    int points;
    int triangles;
};

class MeshRealFiles : public ::testing::TestWithParam<RealFile> { };

TEST_P(MeshRealFiles, ReadWithTheCountsTheFileDeclares)
{
    const fs::path path = fs::path(VEXA_TESTDATA_DIR) / "mesh" / GetParam().path;
    if (!fs::exists(path))
        GTEST_SKIP() << "test data not present: " << path;
    std::string ext = path.extension().string();
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    const std::string bytes = readFile(path.string());
    std::string error;
    TriMeshPtr mesh(ext == ".stl" ? parseMeshStl(bytes, &error)
            : ext == ".off"       ? parseMeshOff(bytes, &error)
                                  : parseMeshVtk(bytes, &error));
    if (GetParam().points < 0) {
        EXPECT_FALSE(mesh);
        return;
    }
    ASSERT_TRUE(mesh) << error;
    EXPECT_EQ(mesh->nbPoints, GetParam().points);
    EXPECT_EQ(mesh->nbTriangles, GetParam().triangles);
    EXPECT_TRUE(hasValidIndices(*mesh));
}

INSTANTIATE_TEST_SUITE_P(Stl, MeshRealFiles,
    ::testing::Values(RealFile { "stl/trimesh-unit_cube.STL", 36, 12 },
        RealFile { "stl/trimesh-torus.STL", 3 * 8700, 8700 },
        RealFile { "stl/trimesh-teapot.stl", 3 * 894, 894 },
        RealFile { "stl/trimesh-20mm-xyz-cube.stl", 3 * 260, 260 },
        RealFile { "stl/trimesh-cylinder.stl", 3 * 416, 416 },
        RealFile { "stl/trimesh-soup.stl", 300, 100 },
        RealFile { "stl/trimesh-stl_empty_bin.stl", 0, 0 },
        RealFile { "stl/trimesh-1002_tray_bottom.STL", 3 * 4520, 4520 },
        RealFile { "stl/trimesh-multibody.stl", 3 * 32, 32 },
        RealFile { "stl/trimesh-two_objects_mixed_case_names.stl", 3 * 24, 24 },
        RealFile { "stl/trimesh-empty.stl", 0, 0 },
        RealFile { "stl/cgal-sphere.stl", 3 * 320, 320 },
        RealFile { "stl/cgal-pig.stl", 3 * 16848, 16848 },
        RealFile { "stl/vtk-greatWhite.stl", 3 * 6264, 6264 }));

INSTANTIATE_TEST_SUITE_P(Off, MeshRealFiles,
    ::testing::Values(RealFile { "off/libigl-bunny.off", 34834, 69451 },
        RealFile { "off/libigl-bunny_small.off", 3485, 6966 },
        RealFile { "off/libigl-cube.off", 8, 12 },
        RealFile { "off/libigl-halftunnel.off", 831, 1568 },
        RealFile { "off/libigl-inspired_mesh_quads_Conjugate.off", 1749, 3266 },
        RealFile { "off/cgal-cube_quad.off", 8, 12 }, RealFile { "off/cgal-cube_poly.off", 8, 12 },
        RealFile { "off/cgal-cross_quad.off", 40, 76 },
        RealFile { "off/cgal-elephant.off", 2775, 5558 },
        RealFile { "off/trimesh-ballA.off", 1900, 3796 },
        RealFile { "off/trimesh-comments.off", 8, 12 },
        RealFile { "off/trimesh-whitespace.off", 8, 12 }));

INSTANTIATE_TEST_SUITE_P(Vtk, MeshRealFiles,
    ::testing::Values(RealFile { "vtk/vtk-polyEx.vtk", 8, 12 },
        RealFile { "vtk/vtk-plate.vtk", 315, 624 }, RealFile { "vtk/vtk-t.vtk", 64, 124 },
        RealFile { "vtk/vtk-k.vtk", 166, 328 }, RealFile { "vtk/vtk-v.vtk", 100, 196 },
        RealFile { "vtk/vtk-fran_cut.vtk", 2205, 4224 }, RealFile { "vtk/vtk-usa.vtk", 3652, 3498 },
        RealFile { "vtk/vtk-brainImageSmooth.vtk", 5153, 9522 },
        RealFile { "vtk/cgal-sphere.vtk", 162, 320 },
        RealFile { "vtk/vtk-hello.vtk", -1, 0 })); // lines only: not a surface

TEST(MeshRealFileContents, BoundingBoxesMatchTheKnownShapes)
{
    const fs::path root = fs::path(VEXA_TESTDATA_DIR) / "mesh";
    if (!fs::exists(root))
        GTEST_SKIP() << "test data not present";
    {
        TriMeshPtr cube(
            parseMeshStl(readFile((root / "stl/trimesh-unit_cube.STL").string()), nullptr));
        ASSERT_TRUE(cube);
        triMeshComputeBox(cube.get());
        EXPECT_FLOAT_EQ(cube->boxMin[0], -0.5f);
        EXPECT_FLOAT_EQ(cube->boxMax[2], 0.5f);
        ASSERT_EQ(vexa::mesh::finishMesh(cube.get(), nullptr), 1);
        EXPECT_NEAR(cube->surface, 6.0f, 1e-4);
    }
    {
        MeshColour colour;
        const std::string path = (root / "off/libigl-bunny.off").string();
        TriMeshPtr bunny(readMeshFile(path.c_str(), &colour));
        ASSERT_TRUE(bunny) << lastMeshError();
        triMeshComputeBox(bunny.get());
        EXPECT_NEAR(bunny->boxMin[0], -0.09469, 1e-5);
        EXPECT_NEAR(bunny->boxMax[1], 0.18732, 1e-5);
        EXPECT_NEAR(bunny->boxMax[2], 0.05880, 1e-5);
    }
    {
        TriMeshPtr plate(parseMeshVtk(readFile((root / "vtk/vtk-plate.vtk").string()), nullptr));
        ASSERT_TRUE(plate);
        triMeshComputeBox(plate.get());
        EXPECT_FLOAT_EQ(plate->boxMax[0], 3.0f);
        EXPECT_FLOAT_EQ(plate->boxMax[2], 9.0f);
    }
}

TEST(MeshSaveCommand, EachListEntryWritesItsFormatWithoutAddingAnExtension)
{
    TempDir dir;
    auto cube = unitCube();
    const std::string path = dir.file("saved");
    ASSERT_TRUE(writeMeshAs(MeshSaveFormat::StlBinary, path.c_str(), cube.get(), 0, 0, 0));
    EXPECT_EQ(readFile(path).size(), 84u + 12 * 50);
    ASSERT_TRUE(writeMeshAs(MeshSaveFormat::Off, path.c_str(), cube.get(), 0, 0, 0));
    EXPECT_EQ(readFile(path).rfind("OFF\n", 0), 0u);
    ASSERT_TRUE(writeMeshAs(MeshSaveFormat::PointsNormals, path.c_str(), cube.get(), 0, 0, 0));
    EXPECT_EQ(readFile(path).rfind("POINTS_NORMALS 12\n", 0), 0u);
    ASSERT_TRUE(writeMeshAs(MeshSaveFormat::Standard, path.c_str(), cube.get(), 1, 0, 0));
    MeshColour colour;
    TriMeshPtr back(readMeshFile(path.c_str(), &colour)); // no ending: the Standard reader
    ASSERT_TRUE(back) << lastMeshError();
    EXPECT_EQ(colour.r, 1.0);
    EXPECT_FALSE(writeMeshAs(MeshSaveFormat(7), path.c_str(), cube.get(), 0, 0, 0));
    EXPECT_FALSE(fs::exists(path + ".stl"));
}
