// Mesh files opened as data: "Ouvrir une donnée", -in and drops hand a ".stl", ".off",
// polygon ".vtk" or Standard ("Data3D_V1.0") file to a new View 3D holding the mesh
// as one object named after the file.
#pragma once

#include "data/datarecord.h"

#include <string>

namespace vexa::scene {

// Whether the file is a mesh this opener reads: by its extension (any case), a ".vtk"
// only when it holds polygon data, or by the Standard header on its first line.
bool isMeshFile(const std::string& path, const std::string& head);

// Reads the mesh and shows it in a new View 3D record; null with a reason naming the
// file when it cannot be read (no record is made then).
DataRecord* openMeshFile(const std::string& path, std::string* reason);

// Installs the opener into the data layer's file opening.
void installMeshFileOpener();

} // namespace vexa::scene
