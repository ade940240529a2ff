// The MATLAB engine: its engine and array libraries are not linked but loaded at run
// time from the directory the user confirms once per run, every entry point found by
// name. Each start reports in channel 1 of the message log what it loads and finds.
#pragma once

#include <cstddef>
#include <string>

namespace vexa::matlab {

// The entry points the bridge calls, typed as the libraries define them.
struct EngineApi {
    void* (*engOpen)(const char* startCommand) = nullptr;
    int (*engSetVisible)(void* engine, bool visible) = nullptr;
    void* (*engGetVariable)(void* engine, const char* name) = nullptr;
    int (*engPutVariable)(void* engine, const char* name, const void* array) = nullptr;
    int (*engEvalString)(void* engine, const char* command) = nullptr;
    int (*mxGetClassID)(const void* array) = nullptr;
    std::size_t (*mxGetNumberOfDimensions)(const void* array) = nullptr;
    const std::size_t* (*mxGetDimensions)(const void* array) = nullptr;
    void* (*mxGetPr)(const void* array) = nullptr;
    void (*mxDestroyArray)(void* array) = nullptr;
    void* (*mxCreateNumericArray)(
        std::size_t rank, const std::size_t* dims, int classId, int complexity)
        = nullptr;
    // Optional: when the library has it, complex arrays are refused.
    bool (*mxIsComplex)(const void* array) = nullptr;
};

// Version choice of the directory box.
enum EngineVersion : int { kVersion32 = 0, kVersion64 = 1 };

// The default directory: the first entry of a PATH value (entries separated by ':')
// whose text contains "MATLAB"; empty when none does.
std::string defaultEngineDirectory(const char* pathValue);
// Where the libraries of a MATLAB directory are: <dir>/bin/glnxa64 ("64 bits") or
// glnxa32, or <dir>/glnxa64 when the directory given is already the bin folder.
std::string engineLibraryDirectory(const std::string& directory, int version);

// The directory confirmed for the run and the version choice; the box asks them on
// first use. Setting them skips the box (the headless runner, tests).
void setEngineDirectory(const std::string& directory, int version);
bool engineDirectoryConfirmed();

enum class EngineStart {
    Started,
    Cancelled, // the directory box was cancelled: the directory is forgotten
    Failed, // a library or entry point is missing, or the engine did not open
};

// Starts the engine: asks the directory once per run, logs the library directory,
// loads libeng.so then libmx.so and finds every entry point (each reported as
// "MATLAB - %s", or "MATLAB - %s inconnue" which ends the start), then opens the
// engine session. On Linux every engOpen starts a new MATLAB process, so one session
// is opened per run and kept: what is exported stays where later imports find it.
// On success api and engine are set; they stay valid until matlabBridgeReset.
EngineStart startEngine(const EngineApi*& api, void*& engine);

// Whether a process named like MATLAB runs (the first word of /proc/<pid>/comm or the
// executable's name contains "MATLAB"). Replaceable for the tests.
using ProcessProbe = bool (*)();
bool matlabProcessRunning();
void setProcessProbe(ProcessProbe probe);

// The variable names kept between exchanges (export, import), "" at first.
std::string exportVariableName();
void setExportVariableName(const std::string& name);
std::string importVariableName();
void setImportVariableName(const std::string& name);

// Forgets the directory, names and session and unloads the libraries (end of a run).
void matlabBridgeReset();

} // namespace vexa::matlab
