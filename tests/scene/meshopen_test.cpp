#include "scene/meshopen.h"

#include "data/dataopen.h"
#include "data/registry.h"
#include "scene/scene.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace vexa;

namespace {

void write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

const char* kTetrahedron = "OFF\n4 4 0\n0 0 0\n1 0 0\n0 1 0\n0 0 1\n"
                           "3 0 1 2\n3 0 1 3\n3 0 2 3\n3 1 2 3\n";

} // namespace

TEST(MeshFiles, ClaimedByExtensionPolygonDataOrStandardHeader)
{
    EXPECT_TRUE(scene::isMeshFile("a.stl", ""));
    EXPECT_TRUE(scene::isMeshFile("/x/B.STL", ""));
    EXPECT_TRUE(scene::isMeshFile("c.Off", ""));
    EXPECT_TRUE(scene::isMeshFile("d.vtk", "# vtk DataFile\nASCII\nDATASET POLYDATA\n"));
    // Volumes in VTK files are images, not meshes.
    EXPECT_FALSE(scene::isMeshFile("e.vtk", "# vtk DataFile\nBINARY\nDATASET STRUCTURED_POINTS\n"));
    EXPECT_TRUE(scene::isMeshFile("surface.txt", "Data3D_V1.0\n"));
    EXPECT_FALSE(scene::isMeshFile("image.gdr", "GDR"));
}

TEST(MeshFiles, OpenIntoANewViewNamedAfterTheFileAndRefuseBadOnes)
{
    vexatest::TempDir dir;
    const std::string good = dir.file("TETRA.OFF");
    write(good, kTetrahedron);
    scene::installMeshFileOpener();

    OpenResult opened = dataOpen(good);
    ASSERT_EQ(opened.outcome, OpenOutcome::Opened) << opened.reason;
    ASSERT_NE(opened.record, nullptr);
    EXPECT_EQ(opened.record->kind, DATA_VIEW3D);
    auto* view = dynamic_cast<scene::View3dObject*>(opened.record->kindObject());
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->scene->objectCount(), 1);
    EXPECT_EQ(view->scene->name(view->scene->objectIds()[0]), "TETRA.OFF");
    EXPECT_EQ(view->scene->facetCount(), 4);

    // An index past the vertices: a reason naming the file and no record.
    const std::string bad = dir.file("bad.off");
    write(bad, "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n");
    const int before = int(dataListAll().size());
    OpenResult refused = dataOpen(bad);
    EXPECT_EQ(refused.outcome, OpenOutcome::Failed);
    EXPECT_EQ(refused.record, nullptr);
    EXPECT_NE(refused.reason.find("bad.off"), std::string::npos) << refused.reason;
    EXPECT_EQ(int(dataListAll().size()), before);

    clearForeignFileOpeners();
    dataResetRegistry();
}
