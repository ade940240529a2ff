#include "scene/meshopen.h"

#include "data/dataopen.h"
#include "data/registry.h"
#include "mesh/meshformats.h"
#include "scene/scene.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vexa::scene {

namespace {

std::string lowerExtension(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

} // namespace

bool isMeshFile(const std::string& path, const std::string& head)
{
    const std::string ext = lowerExtension(path);
    if (ext == ".stl" || ext == ".off")
        return true;
    // Legacy VTK files also hold volumes (structured points), which are images.
    if (ext == ".vtk")
        return head.find("POLYDATA") != std::string::npos;
    return head.rfind("Data3D_V1.0", 0) == 0;
}

DataRecord* openMeshFile(const std::string& path, std::string* reason)
{
    const std::string ext = lowerExtension(path);
    mesh::MeshColour colour { 0.8, 0.8, 0.8 };
    TriMeshPtr mesh;
    std::string error;
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, ext) != 0 && ext.size() == 4) {
        // The file reader picks the format from an exact lower-case extension: a
        // ".STL" goes through the parser of its format.
        std::ifstream in(path, std::ios::binary);
        const std::string bytes { std::istreambuf_iterator<char>(in), {} };
        if (ext == ".stl")
            mesh.reset(mesh::parseMeshStl(bytes, &error));
        else if (ext == ".off")
            mesh.reset(mesh::parseMeshOff(bytes, &error));
        else
            mesh.reset(mesh::parseMeshVtk(bytes, &error));
        if (!mesh)
            error = path + " : " + error;
    } else {
        mesh.reset(mesh::readMeshFile(path.c_str(), &colour));
        if (!mesh)
            error = mesh::lastMeshError();
    }
    if (!mesh) {
        if (reason)
            *reason = error;
        return nullptr;
    }
    triMeshFinish(mesh.get());

    auto view = std::make_unique<View3dObject>();
    Scene& scene = *view->scene;
    const std::string name = std::filesystem::path(path).filename().string();
    const std::uint32_t id = scene.createObject(name, OBJECT_MESH);
    Material material;
    material.diffuse = { colour.r, colour.g, colour.b, 1 };
    material.ambient = { colour.r * 0.3, colour.g * 0.3, colour.b * 0.3, 1 };
    if (!id || !scene.setMesh(id, mesh.get()) || !scene.setMaterial(id, material)) {
        if (reason)
            *reason = path + " : maillage refusé";
        return nullptr;
    }
    scene.resetCamera();
    DataRecord* record = dataCreateKind(DATA_VIEW3D, std::move(view), kFreshId, kFreshId);
    if (!record) {
        if (reason)
            *reason = path + " : " + kCannotOpenFile;
        return nullptr;
    }
    dataSetName(record, path);
    return record;
}

void installMeshFileOpener()
{
    addForeignFileOpener({ isMeshFile, openMeshFile });
}

} // namespace vexa::scene
