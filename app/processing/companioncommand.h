// "Création des fichiers compagnons": writes the x-z and y-z companions of a file
// block as a task, so that its TOP and RIGHT sections read as fast as FRONT ones.
#pragma once

#include <string>

namespace vexa::processing {

// The command's work on the calling task: takes an image input holding a file block,
// builds its companions with progress and stop, attaches them and logs the time
// taken. Refusals (a 2D image, a memory block, a name without the companion
// pattern...) are shown under caption; a stopped build ends without a word.
void runCompanionBuild(const std::string& caption);

} // namespace vexa::processing
