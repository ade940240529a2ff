// The reader of version 5 MAT files. Every length the file states is checked against
// the bytes that hold it before anything is reserved, and compressed variables are
// inflated no further than their announced size.
#pragma once

#include "matlab/matfile.h"

namespace vexa::matlab::v5 {

// True when path starts with a version 5 header; bigEndian tells its byte order.
bool isV5File(const std::string& path, bool& bigEndian);

bool listVariables(
    const std::string& path, std::vector<MatVariable>& variables, std::string* reason);
bool readVariable(const std::string& path, const std::string& name, const MatSamplesUse& use,
    std::string* reason);

} // namespace vexa::matlab::v5
