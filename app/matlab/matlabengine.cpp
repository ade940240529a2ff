#include "matlab/matlabengine.h"

#include "host/host.h"
#include "log/logmodel.h"
#include "params/paramapi.h"

#include <dirent.h>
#include <dlfcn.h>

#include <cstring>
#include <fstream>
#include <mutex>

namespace vexa::matlab {

namespace {

constexpr const char* kDirectoryBox = "Matlab%sVersion%t32 bits,64 bits%l%n";

struct BridgeState {
    std::string directory; // as the user confirmed it; empty until then
    bool confirmed = false;
    int version = kVersion32;
    std::string exportName, importName;
    EngineApi api;
    void* engLibrary = nullptr;
    void* mxLibrary = nullptr;
    void* engine = nullptr;
    ProcessProbe probe = nullptr;
};

// Held for a whole start: two commands starting at once would otherwise both open a
// session.
std::recursive_mutex gMutex;
BridgeState gState;

void logLine(const std::string& text)
{
    if (isInterfaceThread())
        log::logLine(1, text.c_str());
    else
        log::messageLog().post(text.c_str(), 1);
}

template <typename Fn> bool resolve(void* library, const char* name, Fn& out, bool required = true)
{
    void* symbol = dlsym(library, name);
    // The 64-bit array API exports its size-taking functions under a suffixed name.
    if (!symbol)
        symbol = dlsym(library, (std::string(name) + "_730").c_str());
    if (!symbol) {
        if (required)
            logLine(std::string("MATLAB - ") + name + " inconnue");
        return false;
    }
    out = reinterpret_cast<Fn>(symbol);
    if (required)
        logLine(std::string("MATLAB - ") + name);
    return true;
}

void* openLibrary(const std::string& directory, const char* file)
{
    const std::string path
        = directory + (directory.empty() || directory.back() != '/' ? "/" : "") + file;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    logLine("MATLAB - " + path + (library ? "" : " inconnue"));
    return library;
}

// Loads both libraries and every entry point into api; the handles are returned
// open only when everything was found.
bool loadLibraries(const std::string& directory, EngineApi& api, void*& eng, void*& mx)
{
    eng = openLibrary(directory, "libeng.so");
    if (!eng)
        return false;
    bool ok = resolve(eng, "engOpen", api.engOpen)
        && resolve(eng, "engSetVisible", api.engSetVisible)
        && resolve(eng, "engGetVariable", api.engGetVariable)
        && resolve(eng, "engPutVariable", api.engPutVariable)
        && resolve(eng, "engEvalString", api.engEvalString);
    mx = ok ? openLibrary(directory, "libmx.so") : nullptr;
    ok = mx && resolve(mx, "mxGetClassID", api.mxGetClassID)
        && resolve(mx, "mxGetNumberOfDimensions", api.mxGetNumberOfDimensions)
        && resolve(mx, "mxGetDimensions", api.mxGetDimensions)
        && resolve(mx, "mxGetPr", api.mxGetPr) && resolve(mx, "mxDestroyArray", api.mxDestroyArray)
        && resolve(mx, "mxCreateNumericArray", api.mxCreateNumericArray);
    if (ok) {
        resolve(mx, "mxIsComplex", api.mxIsComplex, false);
        return true;
    }
    if (mx)
        dlclose(mx);
    dlclose(eng);
    eng = mx = nullptr;
    return false;
}

bool defaultProbe()
{
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
        std::string name;
        if (std::getline(comm, name) && name.find("MATLAB") != std::string::npos) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

// The directory box on first use; false when cancelled (the directory is forgotten).
bool confirmDirectory(BridgeState& s)
{
    if (s.confirmed)
        return true;
    char text[PARAM_STRING_BUFFER] = {};
    std::string initial = s.directory;
    if (initial.empty())
        initial = defaultEngineDirectory(std::getenv("PATH"));
    std::strncpy(text, initial.c_str(), sizeof text - 1);
    std::int32_t version = s.version;
    if (dozBoxParameter(kDirectoryBox, text, &version) != 1) {
        s.directory.clear();
        return false;
    }
    s.directory = text;
    s.version = version == kVersion64 ? kVersion64 : kVersion32;
    s.confirmed = true;
    return true;
}

} // namespace

std::string defaultEngineDirectory(const char* pathValue)
{
    if (!pathValue)
        return {};
    const std::string path = pathValue;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        std::string entry = path.substr(start, end - start);
        if (entry.find("MATLAB") != std::string::npos)
            return entry;
        start = end + 1;
    }
    return {};
}

std::string engineLibraryDirectory(const std::string& directory, int version)
{
    std::string dir = directory;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    const char* arch = version == kVersion64 ? "glnxa64" : "glnxa32";
    const std::size_t slash = dir.rfind('/');
    const std::string last = slash == std::string::npos ? dir : dir.substr(slash + 1);
    const std::string joint = dir.empty() || dir == "/" ? dir : dir + "/";
    return last == "bin" ? joint + arch : joint + "bin/" + arch;
}

void setEngineDirectory(const std::string& directory, int version)
{
    std::lock_guard lock(gMutex);
    gState.directory = directory;
    gState.version = version == kVersion64 ? kVersion64 : kVersion32;
    gState.confirmed = true;
}

bool engineDirectoryConfirmed()
{
    std::lock_guard lock(gMutex);
    return gState.confirmed;
}

EngineStart startEngine(const EngineApi*& api, void*& engine)
{
    std::lock_guard lock(gMutex);
    BridgeState& s = gState;
    if (!confirmDirectory(s))
        return EngineStart::Cancelled;
    const std::string libraries = engineLibraryDirectory(s.directory, s.version);
    logLine(libraries);
    EngineApi found;
    void* eng = nullptr;
    void* mx = nullptr;
    if (!loadLibraries(libraries, found, eng, mx))
        return EngineStart::Failed;
    if (s.engLibrary) {
        // Already loaded by an earlier start: the same objects, one reference is enough.
        dlclose(mx);
        dlclose(eng);
    } else {
        s.engLibrary = eng;
        s.mxLibrary = mx;
        s.api = found;
    }
    if (!s.engine)
        s.engine = s.api.engOpen(nullptr);
    if (!s.engine) {
        logLine("MATLAB - moteur non démarré");
        return EngineStart::Failed;
    }
    api = &s.api;
    engine = s.engine;
    return EngineStart::Started;
}

bool matlabProcessRunning()
{
    ProcessProbe probe;
    {
        std::lock_guard lock(gMutex);
        probe = gState.probe;
    }
    return probe ? probe() : defaultProbe();
}

void setProcessProbe(ProcessProbe probe)
{
    std::lock_guard lock(gMutex);
    gState.probe = probe;
}

std::string exportVariableName()
{
    std::lock_guard lock(gMutex);
    return gState.exportName;
}

void setExportVariableName(const std::string& name)
{
    std::lock_guard lock(gMutex);
    gState.exportName = name;
}

std::string importVariableName()
{
    std::lock_guard lock(gMutex);
    return gState.importName;
}

void setImportVariableName(const std::string& name)
{
    std::lock_guard lock(gMutex);
    gState.importName = name;
}

void matlabBridgeReset()
{
    std::lock_guard lock(gMutex);
    if (gState.mxLibrary)
        dlclose(gState.mxLibrary);
    if (gState.engLibrary)
        dlclose(gState.engLibrary);
    const ProcessProbe probe = gState.probe;
    gState = BridgeState {};
    gState.probe = probe;
}

} // namespace vexa::matlab
