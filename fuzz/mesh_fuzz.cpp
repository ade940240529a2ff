// Every mesh reader on the same bytes. A mesh that comes back must satisfy the index
// invariant, survive the finishing pass, and read back with the same counts after
// being written as OFF and as binary STL.
#include "mesh/meshformats.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexa::mesh {

// The readers are built without the message log.
void postLogLine(const std::string&) { }

} // namespace vexa::mesh

namespace {

using namespace vexa::mesh;

void check(TriMesh* mesh)
{
    if (!mesh)
        return;
    if (!hasValidIndices(*mesh))
        __builtin_trap();
    triMeshComputeBox(mesh);
    finishMesh(mesh, [](const std::string&) {});

    std::string off = formatMeshOff(*mesh);
    TriMesh* back = parseMeshOff(off, nullptr);
    if (!back || back->nbPoints != mesh->nbPoints || back->nbTriangles != mesh->nbTriangles)
        __builtin_trap();
    triMeshFree(&back);

    std::string stl = formatMeshStlBinary(*mesh);
    back = parseMeshStlBinary(stl, nullptr);
    if (!back || back->nbTriangles != mesh->nbTriangles)
        __builtin_trap();
    triMeshFree(&back);
    formatMeshPointsNormals(*mesh);
    triMeshFree(&mesh);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    MeshColour colour;
    std::string error;
    check(parseMeshStandard(bytes, &colour, &error));
    check(parseMeshStl(bytes, &error));
    check(parseMeshStlAscii(bytes, &error));
    check(parseMeshOff(bytes, &error));
    check(parseMeshVtk(bytes, &error));
    return 0;
}
