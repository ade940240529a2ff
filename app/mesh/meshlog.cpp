// Kept apart from the mesh code so that the readers can be built without the log
// (the fuzzer supplies its own line sink).
#include "mesh/trimesh.h"

#include "log/logmodel.h"

namespace vexa::mesh {

void postLogLine(const std::string& line)
{
    vexa::log::logPost(line.c_str());
}

} // namespace vexa::mesh
