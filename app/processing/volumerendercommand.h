// "Rendu volumique": the volume windows' command that shows the block taken as input
// as a volume object of the image's 3D view.
#pragma once

#include <string>

namespace vexa::processing {

// Name of the volume object the command adds, and replaces on a later run.
extern const char* const kVolumeObjectName;

// The command's work on the calling task: takes a block input, maps its samples through
// the image's displayed range (the block's own range when there is none) onto its
// palette, and puts the result in the image's View 3D, made in the image's link group
// when it has none. Refusals are shown under caption.
void runVolumeRendering(const std::string& caption);

} // namespace vexa::processing
