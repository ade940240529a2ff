#include "matlab/matlabcommands.h"

#include "data/dataopen.h"
#include "host/host.h"
#include "log/logmodel.h"
#include "matlab/matfile.h"
#include "matlab/matlabarray.h"
#include "matlab/matlabengine.h"
#include "params/paramapi.h"

#include <vexa_reason.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace vexa::matlab {

namespace {

constexpr const char* kMatFilter = "Fichier MAT (*.mat)";

void showError(const std::string& text)
{
    if (!text.empty())
        hostMessageBox(kErrorCaption, text);
}

// "Variable%s" with the kept name; false when cancelled. An invalid name is refused
// in the "Erreur" box (MATLAB would refuse it later without saying why).
bool askVariableName(std::string& name)
{
    char text[PARAM_STRING_BUFFER] = {};
    std::strncpy(text, name.c_str(), sizeof text - 1);
    if (dozBoxParameter("Variable%s", text) != 1)
        return false;
    name = text;
    if (!validVariableName(name)) {
        showError("Nom de variable invalide : " + name);
        return false;
    }
    return true;
}

bool offerMatFile()
{
    return hostMessageBox("MATLAB",
               "Le moteur MATLAB n'a pas pu être démarré (voir la fenêtre Messages).\n"
               "Échanger les données par un fichier MAT ?",
               MessageButtons::YesNoCancel)
        == MessageAnswer::Yes;
}

// Opens a variable of a MAT file; cancelled is set (and no reason given) when the
// user closed the variable list.
DataRecord* openMatVariable(const std::string& path, std::string* reason, bool* cancelled)
{
    std::vector<MatVariable> variables;
    if (!listMatVariables(path, variables, reason))
        return nullptr;
    std::vector<std::string> names;
    for (const MatVariable& v : variables)
        if (v.supported)
            names.push_back(v.name);
    if (names.empty()) {
        if (variables.empty())
            setReason(reason, fileReason(path, "aucune variable"));
        else
            setReason(reason, fileReason(path, variables[0].name + " : " + variables[0].reason));
        return nullptr;
    }
    std::string name = names[0];
    if (names.size() > 1) {
        const int chosen = hostChooseFromList("Variable MATLAB", names);
        if (chosen < 0 || std::size_t(chosen) >= names.size()) {
            if (cancelled)
                *cancelled = true;
            setReason(reason, fileReason(path, "aucune variable choisie"));
            return nullptr;
        }
        name = names[std::size_t(chosen)];
    }
    DataRecord* record = nullptr;
    readMatVariable(
        path, name,
        [&](const ArrayShape& shape, const void* columns) {
            record = createRecordFromColumns(shape, columns, name, reason);
            return record != nullptr;
        },
        reason);
    return record;
}

// The record's array in column order, in a buffer of shape.byteCount() bytes.
std::unique_ptr<void, decltype(&std::free)> exportBuffer(
    DataRecord& record, const ArrayShape& shape, std::string* reason)
{
    std::unique_ptr<void, decltype(&std::free)> buffer(nullptr, &std::free);
    const auto bytes = std::uint64_t(shape.byteCount());
    if (bytes > availableMemoryBytes()
        || !(buffer.reset(std::malloc(std::size_t(bytes))), buffer)) {
        setReason(reason, "Mémoire insuffisante pour " + byteCountText(bytes));
        return buffer;
    }
    if (!exportColumnOrder(record, shape, buffer.get(), reason))
        buffer.reset();
    return buffer;
}

} // namespace

DataRecord* matlabOpenCommand()
{
    const EngineApi* api = nullptr;
    void* engine = nullptr;
    switch (startEngine(api, engine)) {
    case EngineStart::Started:
        break;
    case EngineStart::Cancelled:
        return openMatFileCommand();
    case EngineStart::Failed:
        return offerMatFile() ? openMatFileCommand() : nullptr;
    }
    if (!matlabProcessRunning())
        return nullptr;
    std::string name = importVariableName();
    if (!askVariableName(name))
        return nullptr;
    setImportVariableName(name);

    void* array = api->engGetVariable(engine, name.c_str());
    if (!array)
        return nullptr;
    DataRecord* record = nullptr;
    const std::size_t rank = api->mxGetNumberOfDimensions(array);
    ArrayShape shape;
    const bool complex = api->mxIsComplex && api->mxIsComplex(array);
    if (!complex
        && shapeFromMatlab(
            api->mxGetClassID(array), rank, api->mxGetDimensions(array), shape, nullptr)) {
        if (const void* data = api->mxGetPr(array)) {
            std::string reason;
            record = createRecordFromColumns(shape, data, name, &reason);
            showError(reason);
        }
    }
    api->mxDestroyArray(array);
    return record;
}

bool matlabSaveCommand(DataRecord* record)
{
    ArrayShape shape;
    if (!record || !exportShape(*record, shape, nullptr))
        return false;
    const EngineApi* api = nullptr;
    void* engine = nullptr;
    switch (startEngine(api, engine)) {
    case EngineStart::Started:
        break;
    case EngineStart::Cancelled:
        return saveMatFileCommand(record);
    case EngineStart::Failed:
        return offerMatFile() && saveMatFileCommand(record);
    }
    std::string name = exportVariableName();
    if (!askVariableName(name))
        return false;
    setExportVariableName(name);
    api->engSetVisible(engine, true);

    std::size_t dims[3];
    matlabDims(shape, dims);
    void* array
        = api->mxCreateNumericArray(std::size_t(shape.rank), dims, classForType(shape.type), 0);
    if (!array) {
        showError(
            "Mémoire MATLAB insuffisante pour " + byteCountText(std::uint64_t(shape.byteCount())));
        return false;
    }
    std::string reason;
    void* data = api->mxGetPr(array);
    bool stored = data && exportColumnOrder(*record, shape, data, &reason);
    stored = stored && api->engPutVariable(engine, name.c_str(), array) == 0;
    api->mxDestroyArray(array);
    showError(reason);
    return stored;
}

DataRecord* openMatFileCommand()
{
    FileChoice choice;
    choice.title = "Ouvrir un fichier MAT";
    choice.filter = kMatFilter;
    std::string path;
    if (!hostChooseFile(choice, path))
        return nullptr;
    std::string reason;
    bool cancelled = false;
    DataRecord* record = openMatVariable(path, &reason, &cancelled);
    if (!record && !cancelled)
        showError(reason);
    return record;
}

bool saveMatFileCommand(DataRecord* record)
{
    ArrayShape shape;
    std::string reason;
    if (!record || !exportShape(*record, shape, &reason)) {
        showError(reason);
        return false;
    }
    std::string name = exportVariableName();
    if (!askVariableName(name))
        return false;
    setExportVariableName(name);
    FileChoice choice;
    choice.save = true;
    choice.title = "Enregistrer un fichier MAT";
    choice.filter = kMatFilter;
    choice.initialPath = name + ".mat";
    std::string path;
    if (!hostChooseFile(choice, path))
        return false;
    if (std::filesystem::path(path).extension().empty())
        path += ".mat";
    auto columns = exportBuffer(*record, shape, &reason);
    if (!columns
        || !writeMatVariable(path, name, shape, columns.get(), MatVersion::Automatic, &reason)) {
        showError(reason);
        return false;
    }
    return true;
}

bool isMatFile(const std::string& path, const std::string& head)
{
    (void)head;
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(
        ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".mat";
}

DataRecord* openMatFile(const std::string& path, std::string* reason)
{
    return openMatVariable(path, reason, nullptr);
}

void installMatFileOpener()
{
    addForeignFileOpener({ isMatFile, openMatFile });
}

} // namespace vexa::matlab
