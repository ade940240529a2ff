// Animation files: XML documents rooted at "ANIM" that build a scene (slices of image
// files, height fields, meshes, primitives, tubes), move the camera and objects frame
// after frame and render the frames, optionally recorded into a film.
//
// The interpreter edits the document in memory as it plays: incremental nodes keep
// their progress in an added INCREMENTAL_ON item. The file on disk is never written.
#pragma once

#include "scene/animtarget.h"

#include "data/datarecord.h"

#include <string>

namespace vexa::scene {

// Whether the file is an XML document whose root is named "ANIM" (case-sensitive).
bool isAnimationFile(const std::string& path);

// Plays the file into target: 0 when it is not an animation file (nothing is asked of
// the target then), 1 otherwise.
int playAnimation(const std::string& path, AnimTarget& target);

// Plays the file into a new View 3D in the calling thread.
int playAnimationFile(std::string path);
// The same on a worker thread (a task; on the calling thread when multitasking is
// off). False when the file is not an animation file (no view is made then).
bool playAnimationFileThread(std::string path);

// The file opener of animation files: claims XML files whose root is "ANIM" only,
// opens their View 3D at once and plays into it as a task.
bool claimsAnimationFile(const std::string& path, const std::string& head);
DataRecord* openAnimationFile(const std::string& path, std::string* reason);
void installAnimationFileOpener();

} // namespace vexa::scene
