// MAT files: arrays exchanged with MATLAB users through files when no engine is at
// hand, with the same type table and layout as the engine. Version 5 files (zlib
// compressed) are written, and version 7.3 (HDF5) ones for arrays of 2 GB and more;
// both are read (version 5 by a reader of our own that checks every stated length).
// Version 4 files, which have no header to check, are refused.
#pragma once

#include "matlab/matlabarray.h"

#include <functional>
#include <string>
#include <vector>

namespace vexa::matlab {

enum class MatVersion { Automatic, V5, V73 };

struct MatVariable {
    std::string name;
    bool supported = false; // an array of the table, of rank 2 or 3, real and not logical
    ArrayShape shape; // when supported
    std::string reason; // why not, otherwise (French)
};

// The variables of a MAT file, in file order. False with a reason (naming the file)
// when the file cannot be opened as a MAT file.
bool listMatVariables(
    const std::string& path, std::vector<MatVariable>& variables, std::string* reason);

// Reads a supported variable and hands its shape and column-order samples to use,
// whose answer is returned. Sizes are checked against the file's size and the memory
// available before anything is read. False with a reason for a missing or refused
// variable or a damaged file.
using MatSamplesUse = std::function<bool(const ArrayShape& shape, const void* columns)>;
bool readMatVariable(const std::string& path, const std::string& name, const MatSamplesUse& use,
    std::string* reason);

// Writes one variable of column-order samples as a new MAT file. The file is written
// aside and replaces path only once complete: a failure keeps the old file.
bool writeMatVariable(const std::string& path, const std::string& name, const ArrayShape& shape,
    const void* columns, MatVersion version, std::string* reason);

} // namespace vexa::matlab
