// Checks and log output shared by the mesh processing sources.
#pragma once

#include "mesh/meshprocessing.h"

#include <string>

namespace vexa::mesh::processing {

// Stores message in *error when error is given; always false.
bool fail(std::string* error, std::string message);

// True for a mesh the commands can work on: non-null, with points and triangles,
// indices in range and finite coordinates.
bool checkMesh(const TriMesh* mesh, std::string* error);

// Sends a line to sink, or to the message log when sink is empty.
void emit(const MeshLogSink& sink, const std::string& line);

} // namespace vexa::mesh::processing
