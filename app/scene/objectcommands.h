// The context-menu commands of a 3D view object, without the window: each asks its
// parameter box, computes on a copy of the object's mesh and replaces or adds objects
// in the scene. They run on the calling thread (the box is modal there), so the
// window calls them from its own thread.
#pragma once

#include "scene/scene.h"

#include <cstdint>
#include <string>

namespace vexa::scene {

// Runs the command of that menu label on the object id of scene. Labels and objects
// it does not know, objects that are not meshes or have none, and cancelled boxes
// leave the scene as it was. "Informations Scène" works on the whole scene (id is
// ignored). Returns 1 when the command ran, 0 otherwise.
int runObjectCommand(Scene& scene, std::uint32_t id, const std::string& label);

// The label of the view's shape command (the menu of the view's empty space), which
// runObjectCommand also answers, whatever the id.
inline constexpr const char* kShapeCommandLabel = "Formes...";

} // namespace vexa::scene
