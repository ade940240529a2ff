// Mesh files: the own text format "Data3D_V1.0" ("Standard"), binary and ASCII STL,
// OFF, legacy VTK polygon data (read), and "Points-Normales" (write).
//
// Readers take the whole file, check every count against the bytes that are really
// there before allocating, and refuse files with out-of-range or negative indices,
// non-finite coordinates or missing numbers: a bad file gives null and a reason,
// never a partial mesh. The meshes they return have their box and figures at zero;
// callers run triMeshComputeBox or triMeshFinish. Numbers are read and written
// independently of the process locale.
#pragma once

#include "mesh/trimesh.h"

#include <string>
#include <string_view>

namespace vexa::mesh {

struct MeshColour {
    double r = 0, g = 0, b = 0;
};

// Why the last read on this thread failed, naming the file ("" after a success).
const std::string& lastMeshError();

// Reads path, choosing the format from its last four characters compared exactly:
// ".stl" (ASCII, or binary when the file is not ASCII STL), ".off" and ".vtk" (the
// colour gets a light random colour), anything else the Standard format (which
// gives the colour). colour may be null; it is left as it was for STL.
TriMesh* readMeshFile(const char* path, MeshColour* colour);

// Colour of a Standard file without reading its mesh. False (colour set to 0, 0, 0)
// when the file cannot be opened, its first line holds "GOCAD" or is not exactly the
// "Data3D_V1.0" header.
bool readMeshColour(const char* path, MeshColour* colour);

// The readers of each format on bytes in memory; name is used in the error text.
TriMesh* parseMeshStandard(std::string_view bytes, MeshColour* colour, std::string* error);
// ASCII when the bytes begin with "solid" and parse as ASCII STL, otherwise binary.
TriMesh* parseMeshStl(std::string_view bytes, std::string* error);
TriMesh* parseMeshStlAscii(std::string_view bytes, std::string* error);
TriMesh* parseMeshStlBinary(std::string_view bytes, std::string* error);
TriMesh* parseMeshOff(std::string_view bytes, std::string* error);
TriMesh* parseMeshVtk(std::string_view bytes, std::string* error);

// Writers. Each refuses (false, nothing written) a null mesh or one with invalid
// indices, and writes to a temporary file beside path that replaces path only once
// complete, so a failed write leaves an existing file as it was.
bool writeMeshStandard(const char* path, const TriMesh* mesh, double r, double g, double b);
bool writeMeshStlBinary(const char* path, const TriMesh* mesh);
bool writeMeshOff(const char* path, const TriMesh* mesh);
bool writeMeshPointsNormals(const char* path, const TriMesh* mesh);

// The formats of the "Sauvegarde" command of a mesh object, in the order of its list.
enum class MeshSaveFormat { Standard = 0, StlBinary, Off, PointsNormals };

// Parameter description of that command's box: the format list and the file name.
constexpr const char* kMeshSaveDescription = "Standard,Stl Binaire,Off,Points-Normales%lNom%h%n";

// The format chosen last in this run (Standard at first), for the command's box.
MeshSaveFormat lastMeshSaveFormat();
void setLastMeshSaveFormat(MeshSaveFormat format);

// Writes mesh in the given format (r, g, b are used by Standard only). No extension
// is added to path. False for a format outside the list or a failed write.
bool writeMeshAs(
    MeshSaveFormat format, const char* path, const TriMesh* mesh, double r, double g, double b);

// The bytes each writer would write (empty for a refused mesh).
std::string formatMeshStandard(const TriMesh& mesh, double r, double g, double b);
std::string formatMeshStlBinary(const TriMesh& mesh);
std::string formatMeshOff(const TriMesh& mesh);
std::string formatMeshPointsNormals(const TriMesh& mesh);

} // namespace vexa::mesh
