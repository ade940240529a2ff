// Mesh files of any bytes through the file-level entry points: the reader chosen by
// the extension must give what the in-memory reader of that format gives, and the
// colour read alone must match the colour of a Standard file that reads whole.
#include "fuzzscratch.h"
#include "mesh/meshformats.h"

#include <cstdint>

namespace {

using namespace vexa::mesh;

// Counts of a mesh, or -1 for none; the mesh is freed.
std::int64_t shape(TriMesh* mesh)
{
    if (!mesh)
        return -1;
    if (!hasValidIndices(*mesh))
        __builtin_trap();
    const std::int64_t counts = std::int64_t(mesh->nbPoints) * 4000000007LL + mesh->nbTriangles;
    triMeshFree(&mesh);
    return counts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char* const kExtensions[] = { ".stl", ".off", ".vtk", ".msh" };
    fuzzscratch::Controls in(data, size);
    const int kind = in.byte() & 3;
    static const std::string base = fuzzscratch::folder().file("mesh");
    const std::string path = base + kExtensions[kind];
    if (!fuzzscratch::put(path, data, size))
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    MeshColour colour { -1, -1, -1 };
    const std::int64_t fromFile = shape(readMeshFile(path.c_str(), &colour));
    if ((fromFile < 0) == lastMeshError().empty())
        __builtin_trap();
    MeshColour parsed { -1, -1, -1 };
    std::int64_t fromMemory;
    switch (kind) {
    case 0:
        fromMemory = shape(parseMeshStl(bytes, nullptr));
        break;
    case 1:
        fromMemory = shape(parseMeshOff(bytes, nullptr));
        break;
    case 2:
        fromMemory = shape(parseMeshVtk(bytes, nullptr));
        break;
    default:
        fromMemory = shape(parseMeshStandard(bytes, &parsed, nullptr));
        break;
    }
    if (fromFile != fromMemory)
        __builtin_trap();

    MeshColour alone;
    const bool colourRead = readMeshColour(path.c_str(), &alone);
    if (kind == 3 && fromFile >= 0 && size <= 1024
        && (!colourRead || alone.r != colour.r || alone.g != colour.g || alone.b != colour.b))
        __builtin_trap();
    return 0;
}
