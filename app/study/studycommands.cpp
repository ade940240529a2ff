#include "study/study.h"

#include "config/config.h"
#include "data/registry.h"
#include "host/host.h"
#include "params/paramapi.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace vexa::study {

namespace {

// A study directory is a handful of study files in a few folders; beyond these the
// chooser would be unusable anyway, and a link loop must not hang it.
constexpr int kMaxChooserDepth = 16;
constexpr std::size_t kMaxChooserEntries = 10000;

void listChooser(const std::string& directory, int depth, std::vector<ChooserEntry>& out)
{
    std::vector<std::pair<std::string, bool>> names;
    std::error_code ec;
    fs::directory_iterator it(directory, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // Hidden entries (".git", editor files) are never studies.
        if (name.empty() || name[0] == '.')
            continue;
        std::error_code statusError;
        const bool folder = it->is_directory(statusError);
        if (!statusError)
            names.emplace_back(name, folder);
    }
    std::sort(names.begin(), names.end());
    for (const auto& [name, folder] : names) {
        if (out.size() >= kMaxChooserEntries)
            return;
        ChooserEntry entry;
        entry.depth = depth;
        if (folder) {
            if (depth >= kMaxChooserDepth)
                continue;
            entry.label = name;
            entry.directory = joinFolder(directory, name);
            out.push_back(entry);
            listChooser(entry.directory, depth + 1, out);
        } else {
            const std::size_t dot = name.rfind('.');
            entry.label = dot == std::string::npos ? name : name.substr(0, dot);
            entry.isFile = true;
            entry.directory = joinFolder(directory, "");
            entry.fileName = name;
            out.push_back(entry);
        }
    }
}

std::mutex gSettingsMutex;
StudySettings gSettings;

void copyToBuffer(char (&buffer)[PARAM_STRING_BUFFER], const std::string& text)
{
    const std::size_t n = std::min(text.size(), sizeof buffer - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

std::vector<ChooserEntry> chooserEntries(const std::vector<std::string>& directories)
{
    std::vector<ChooserEntry> out;
    for (const std::string& value : directories) {
        if (out.size() >= kMaxChooserEntries)
            break;
        ChooserEntry top;
        top.label = value;
        top.directory = value;
        std::replace(top.directory.begin(), top.directory.end(), '\\', '/');
        top.directory = joinFolder(top.directory, "");
        out.push_back(top);
        listChooser(top.directory, 1, out);
    }
    return out;
}

std::vector<std::string> chooserLabels(const std::vector<ChooserEntry>& entries)
{
    std::vector<std::string> labels;
    labels.reserve(entries.size());
    for (const ChooserEntry& entry : entries)
        labels.push_back(std::string(std::size_t(entry.depth) * 4, ' ') + entry.label);
    return labels;
}

StudyObject* studyOf(DataRecord* record)
{
    if (!record || record->kind != DATA_STUDY)
        return nullptr;
    return dynamic_cast<StudyObject*>(record->study.get());
}

DataRecord* openStudyFile(const std::string& studyFile)
{
    const std::optional<StudyFileContent> content = readStudyFile(studyFile);
    if (!content)
        return nullptr;
    auto object = std::make_unique<StudyObject>();
    object->path = content->path;
    if (!content->line.empty())
        object->title = content->line;
    fillStudy(*object);
    const bool missing = object->folderMissing;
    const std::string title = object->title;
    DataRecord* record = dataCreateKind(DATA_STUDY, std::move(object), kFreshId, kFreshId);
    if (!record)
        return nullptr;
    dataSetName(record, title);
    if (missing)
        hostMessageBox(kOpenProblemCaption, kMissingFolderText);
    return record;
}

DataRecord* openStudyCommand()
{
    const std::vector<std::string> directories = config::configValues(config::PATH_STUDY);
    if (directories.empty())
        return nullptr;
    const std::vector<ChooserEntry> entries = chooserEntries(directories);
    const int index = hostChooseFromList(kChooserTitle, chooserLabels(entries));
    if (index < 0 || std::size_t(index) >= entries.size() || !entries[std::size_t(index)].isFile)
        return nullptr;
    const ChooserEntry& chosen = entries[std::size_t(index)];
    return openStudyFile(chosen.directory + chosen.fileName);
}

StudySettings studySettings()
{
    std::lock_guard lock(gSettingsMutex);
    return gSettings;
}

bool studySettingsCommand()
{
    char name[PARAM_STRING_BUFFER], data[PARAM_STRING_BUFFER], studies[PARAM_STRING_BUFFER];
    {
        std::lock_guard lock(gSettingsMutex);
        copyToBuffer(name, gSettings.name);
        copyToBuffer(data, gSettings.dataFolder);
        copyToBuffer(studies, gSettings.studyFolder);
    }
    if (dozBoxParameter(kSettingsDescription, name, data, studies) != 1)
        return false;
    std::lock_guard lock(gSettingsMutex);
    gSettings.name = name;
    gSettings.dataFolder = data;
    gSettings.studyFolder = studies;
    return true;
}

} // namespace vexa::study
