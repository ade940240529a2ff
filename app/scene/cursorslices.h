// The "Curseur 3D" slices: the three sections of a block through its cursor (FRONT,
// RIGHT and TOP), drawn as textured planes in the block's 3D view where the image
// window shows them, and moved whenever the cursor moves.
//
// Voxel (x, y, z) fills the cell [x, x + 1] x [y, y + 1] x [z, z + 1], as in the
// block's reference box, so a slice lies through the middle of its voxels.
#pragma once

#include "scene/scene.h"

#include "data/datarecord.h"

#include <memory>
#include <string>
#include <vector>

namespace vexa::scene {

// Names of the slice objects, indexed by plane (PLANE_FRONT, PLANE_RIGHT, PLANE_TOP).
extern const char* const kCursorSliceNames[3];

// The plane's section at index as a quad of the block's box, with u, v per corner
// matching the section's columns and rows (first row at v = 0). Null for an unknown
// plane or an empty block; the caller frees it.
TriMesh* cursorSliceQuad(
    const BlockDescriptor& block, int plane, int index, std::vector<float>& uv);

// Brings the slices of scene in line with the block record: while its cursor3dShown
// is set, the three sections through the block cursor, coloured as the image window
// shows them; otherwise none. Returns the number of slices shown.
int updateCursorSlices(Scene& scene, DataRecord& image);

// The scene of the 3D view linked to an image record; with create, a View 3D with the
// block's reference box is made (and opened) when there is none. The scene is set to
// the image axes (Scene::setImageAxes). Interface thread.
std::shared_ptr<Scene> linkedViewScene(DataRecord& image, bool create);

// What an image window calls when its block cursor, section or option changes: the
// slices follow in the linked 3D view, made when the option is on and there is none.
void refreshCursorSlices(DataRecord& image);

} // namespace vexa::scene
