// The "Matlab" entries of the open and save menus, and MAT files: when no MATLAB
// directory is given (the directory box cancelled) or its engine cannot start, the
// same arrays go through a MAT file instead.
#pragma once

#include "data/datarecord.h"

#include <string>

namespace vexa::matlab {

// Open menu, "Matlab": a MATLAB variable becomes a new image (2 dimensions) or memory
// block (3 dimensions). Without an engine, offers a MAT file. Null when nothing was
// made: a cancelled box, no MATLAB running, a missing variable, a class outside the
// table, a logical or complex array, a rank other than 2 or 3.
DataRecord* matlabOpenCommand();

// Save menu, "Matlab": the image or block of record becomes a MATLAB variable (a
// block with its value scale applied). Without an engine, offers a MAT file. Nothing
// happens for RGBA images. True when the variable was stored.
bool matlabSaveCommand(DataRecord* record);

// Asks a MAT file and opens one of its variables (chosen from a list when the file
// holds several). Failures are shown in the "Erreur" box.
DataRecord* openMatFileCommand();
// Asks a variable name and a file, and writes the record's array to it.
bool saveMatFileCommand(DataRecord* record);

// The open path's hooks for ".mat" files (any case): opens the file's variable, asking
// which when there are several. Null with a reason naming the file otherwise.
bool isMatFile(const std::string& path, const std::string& head);
DataRecord* openMatFile(const std::string& path, std::string* reason);
// Installs the hooks into the data layer's file opening.
void installMatFileOpener();

} // namespace vexa::matlab
