#include "plugins/directoryapi.h"

#include "data/datasave.h"
#include "data/registry.h"

#include "vexa_guard.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

enum class EntryKind { File, Directory };

// Reads the whole listing before allocating anything for the caller, so that an
// error halfway leaves nothing to free.
bool listNames(const char* directory, EntryKind kind, std::vector<std::string>& names)
{
    if (!directory || !*directory)
        return false;
    std::error_code ec;
    fs::directory_iterator it(directory, ec);
    if (ec)
        return false;
    for (const fs::directory_entry& entry : it) {
        std::error_code typeError;
        const bool wanted = kind == EntryKind::File ? entry.is_regular_file(typeError)
                                                    : entry.is_directory(typeError);
        // An entry that vanished or cannot be examined is simply not listed.
        if (wanted && !typeError)
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return true;
}

char** toCArray(const std::vector<std::string>& names)
{
    auto** out = static_cast<char**>(std::calloc(names.size() + 1, sizeof(char*)));
    if (!out)
        return nullptr;
    for (std::size_t i = 0; i < names.size(); ++i) {
        out[i] = static_cast<char*>(std::malloc(names[i].size() + 1));
        if (!out[i]) {
            for (std::size_t j = 0; j < i; ++j)
                std::free(out[j]);
            std::free(out);
            return nullptr;
        }
        std::memcpy(out[i], names[i].c_str(), names[i].size() + 1);
    }
    return out;
}

char** scan(const char* directory, int* count, EntryKind kind)
{
    if (count)
        *count = 0;
    return vexa::guarded([&]() -> char** {
        std::vector<std::string> names;
        if (!listNames(directory, kind, names) || names.size() >= std::size_t(INT_MAX))
            return nullptr;
        char** out = toCArray(names);
        if (out && count)
            *count = static_cast<int>(names.size());
        return out;
    });
}

} // namespace

extern "C" {

char** vexaDirectoryScanGetFiles(const char* directory, int* count)
{
    return scan(directory, count, EntryKind::File);
}

char** vexaDirectoryScanGetDirectories(const char* directory, int* count)
{
    return scan(directory, count, EntryKind::Directory);
}

int dozDataSaveDib(unsigned int id, const char* path)
{
    if (!path || !*path)
        return 0;
    return vexa::guarded([&] {
        vexa::DataRecord* record = vexa::dataFind(id);
        if (!record || record->kind != vexa::DATA_IMAGE || !record->image2d())
            return 0;
        int type;
        {
            vexa::ImageDescriptor& image = *record->image2d();
            std::lock_guard lock(image.lock);
            type = image.typeData;
        }
        vexa::SaveRequest request;
        request.formatCode = vexa::SAVE_FORMAT_BMP;
        request.typeData = type == TYPEDATA_RGBA ? TYPEDATA_RGBA : TYPEDATA_U8;
        request.path = path;
        return vexa::dataSave(record, request) ? 1 : 0;
    });
}

} // extern "C"
