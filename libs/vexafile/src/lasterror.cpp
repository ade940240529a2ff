#include "vexa_guard.hpp"
#include "vexa_reason.hpp"
#include "vexafile_internal.hpp"

namespace vexafile {

namespace {

// Per thread: tasks read and write files concurrently and each reports its own.
thread_local std::string tLastError;

} // namespace

void setLastError(const std::string& file, const std::string& text, int err)
{
    vexa::guardedVoid([&] { tLastError = vexa::fileReason(file, vexa::withCause(text, err)); });
}

void clearLastError()
{
    tLastError.clear();
}

bool hasLastError()
{
    return !tLastError.empty();
}

} // namespace vexafile

extern "C" const char* vexaFileGetLastError(void)
{
    return vexafile::tLastError.c_str();
}
