// "Extraction de surface de niveau": the volume windows' command that turns the
// volume taken as input into iso-surface meshes and adds them to the image's 3D view.
#pragma once

#include <string>

namespace vexa::processing {

// The command's work on the calling task: takes a block input, asks the parameter box
// (bound to a copy of the remembered values, kept only when validated), extracts, and
// adds the objects to the image's View 3D, made in the image's link group when it has
// none. Refusals and the limits' alert are shown under caption.
void runIsoSurfaceExtraction(const std::string& caption);

} // namespace vexa::processing
