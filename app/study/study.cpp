#include "study/study.h"

#include "data/dataopen.h"
#include "vexafile.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace vexa::study {

namespace {

// Study folders are listed on every opening; a link loop or an absurdly deep tree
// must not hang the program or exhaust its stack.
constexpr int kMaxFolderDepth = 32;

struct Category {
    const char* folder;
    std::initializer_list<const char*> condition;
    const char* label;
    int type;
    int icon;
};

// Rows are tried in order: a "HORIZONS" folder with raw surfaces is labelled as such
// even when it also holds horizontal surfaces.
const std::array<Category, 6> kCategories { {
    { "HORIZONS", { "iso", "gdr" }, "SURFACES BRUTES", TYPE_RAW_SURFACES, 0 },
    { "HORIZONS", { "hor" }, "SURFACES 3D HORIZONTALES", TYPE_SURFACES_3D, 0 },
    { "FAULTS", { "flt" }, "SURFACES 3D VERTICALES", TYPE_SURFACES_3D, 1 },
    { "REGIONS", { "blb", "stl", "off" }, "BLOBS", TYPE_BLOBS, 2 },
    { "TEXTURES", { "xml" }, "TEXTURES", TYPE_TEXTURES, 0 },
    { "SNURBS", { "xml" }, "SURFACE 3D (NURBS)", TYPE_NURBS, 0 },
} };

bool accepted(int type, const std::string& extension)
{
    auto in = [&](std::initializer_list<const char*> list) {
        return std::any_of(list.begin(), list.end(), [&](const char* e) { return extension == e; });
    };
    switch (type) {
    case TYPE_RAW_SURFACES:
        return in({ "iso", "gdr" });
    case TYPE_SURFACES_3D:
        return in({ "hor", "flt" });
    case TYPE_BLOBS:
        return in({ "blb", "stl", "vtk", "off" });
    case TYPE_TEXTURES:
    case TYPE_NURBS:
        return extension == "xml";
    default:
        return false;
    }
}

struct Listed {
    std::string name;
    bool folder = false;
};

// The entries of a folder by name; folders and regular files only (a pipe or a device
// would block the header reads), empty when the folder cannot be read.
std::vector<Listed> listFolder(const std::string& path)
{
    std::vector<Listed> out;
    std::error_code ec;
    fs::directory_iterator it(path, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code statusError;
        const fs::file_status status = it->status(statusError);
        if (statusError)
            continue;
        if (fs::is_directory(status))
            out.push_back({ it->path().filename().string(), true });
        else if (fs::is_regular_file(status))
            out.push_back({ it->path().filename().string(), false });
    }
    std::sort(
        out.begin(), out.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return out;
}

StudyColour randomColour()
{
    thread_local std::mt19937 engine { std::random_device {}() };
    std::uniform_int_distribution<int> byte(0, 255);
    return { std::uint8_t(byte(engine)), std::uint8_t(byte(engine)), std::uint8_t(byte(engine)) };
}

void listSeismic(StudyObject& study, StudyNode& node, int depth)
{
    for (const Listed& entry : listFolder(node.path)) {
        if (entry.folder) {
            if (depth >= kMaxFolderDepth)
                continue;
            StudyNode child;
            child.label = entry.name;
            child.path = joinFolder(node.path, entry.name);
            child.folder = true;
            listSeismic(study, child, depth + 1);
            node.children.push_back(std::move(child));
            continue;
        }
        if (extensionOf(entry.name).empty())
            continue;
        const std::string path = node.path + entry.name;
        FileHandle desc = dataOpenDescriptor(path);
        if (!desc)
            continue;
        StudyNode child;
        child.label = entry.name;
        child.path = path;
        vexaFileGetSizes(desc.get(), &child.width, &child.height, &child.depth);
        study.maxWidth = std::max(study.maxWidth, child.width);
        study.maxHeight = std::max(study.maxHeight, child.height);
        study.maxDepth = std::max(study.maxDepth, child.depth);
        node.children.push_back(std::move(child));
    }
}

void listCategory(StudyNode& node, int depth)
{
    for (const Listed& entry : listFolder(node.path)) {
        StudyNode child;
        child.label = entry.name;
        child.type = node.type;
        child.icon = node.icon;
        if (entry.folder) {
            if (depth >= kMaxFolderDepth)
                continue;
            child.path = joinFolder(node.path, entry.name);
            child.folder = true;
            listCategory(child, depth + 1);
        } else {
            if (!accepted(node.type, extensionOf(entry.name)))
                continue;
            child.path = node.path + entry.name;
            std::optional<StudyColour> stored;
            if (node.type == TYPE_SURFACES_3D || node.type == TYPE_BLOBS)
                stored = meshFileColour(child.path);
            child.colour = stored ? *stored : randomColour();
        }
        node.children.push_back(std::move(child));
    }
}

const Category* categoryOf(const std::string& folder, const std::vector<Listed>& files)
{
    for (const Category& row : kCategories) {
        if (folder != row.folder)
            continue;
        for (const Listed& file : files) {
            if (file.folder)
                continue;
            const std::string extension = extensionOf(file.name);
            for (const char* wanted : row.condition)
                if (extension == wanted)
                    return &row;
        }
    }
    return nullptr;
}

void listData(StudyNode& root)
{
    for (const Listed& entry : listFolder(root.path)) {
        if (!entry.folder)
            continue;
        const std::string path = joinFolder(root.path, entry.name);
        const Category* row = categoryOf(entry.name, listFolder(path));
        if (!row)
            continue;
        StudyNode child;
        child.label = row->label;
        child.path = path;
        child.folder = true;
        child.type = row->type;
        child.icon = row->icon;
        listCategory(child, 1);
        root.children.push_back(std::move(child));
    }
}

} // namespace

void StudyObject::reportSizes(int& width, int& height, int& depth) const
{
    width = maxWidth;
    height = maxHeight;
    depth = maxDepth;
}

std::string joinFolder(const std::string& base, const std::string& name)
{
    std::string out = base;
    if (!out.empty() && out.back() != '/')
        out += '/';
    out += name;
    if (out.empty() || out.back() != '/')
        out += '/';
    return out;
}

std::string extensionOf(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
}

std::optional<std::string> studyPathFromText(std::string_view bytes)
{
    const std::size_t end = bytes.find_first_of(std::string_view("\n\r\0", 3));
    const std::string_view line = bytes.substr(0, end);
    if (line.size() > kMaxStudyPathBytes)
        return std::nullopt;
    std::string path(line);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::optional<StudyFileContent> readStudyFile(const std::string& studyFile)
{
    std::error_code ec;
    if (!fs::is_regular_file(studyFile, ec))
        return std::nullopt;
    std::ifstream in(studyFile, std::ios::binary);
    if (!in)
        return std::nullopt;
    // One byte more than the longest path and its line end tells a path from a
    // longer line.
    std::string head(kMaxStudyPathBytes + 2, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    if (in.bad())
        return std::nullopt;
    head.resize(std::size_t(in.gcount()));
    std::optional<std::string> line = studyPathFromText(head);
    if (!line)
        return std::nullopt;
    StudyFileContent content;
    content.line = *line;
    content.path = *line;
    // "E:/..." names a drive of the other platform: an absolute path, not found here.
    const bool drive = line->size() >= 2 && (*line)[1] == ':';
    if (!line->empty() && !drive && fs::path(*line).is_relative())
        content.path = (fs::path(studyFile).parent_path() / *line).string();
    return content;
}

std::optional<StudyColour> meshFileColour(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string head(256, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    head.resize(std::size_t(in.gcount()));
    std::size_t start = 0;
    if (head.rfind("Data3D_V1.0\n", 0) == 0)
        start = 12;
    else if (head.rfind("Data3D_V1.0\r\n", 0) == 0)
        start = 13;
    else
        return std::nullopt;
    std::istringstream lines(head.substr(start));
    static const char* const kNames[3] = { "rouge", "vert", "bleu" };
    int values[3] = {};
    for (int i = 0; i < 3; ++i) {
        std::string word, colon;
        if (!(lines >> word >> colon >> values[i]) || word != kNames[i] || colon != ":")
            return std::nullopt;
        values[i] = std::clamp(values[i], 0, 255);
    }
    return StudyColour { std::uint8_t(values[0]), std::uint8_t(values[1]),
        std::uint8_t(values[2]) };
}

void fillStudy(StudyObject& study)
{
    study.maxWidth = study.maxHeight = study.maxDepth = 0;
    const std::string data = joinFolder(study.path, "DATA");
    study.seismicTree = {};
    study.seismicTree.label = "SEISMIC";
    study.seismicTree.path = joinFolder(data, "SEISMIC");
    study.seismicTree.folder = true;
    study.dataTree = {};
    study.dataTree.label = "DATA";
    study.dataTree.path = data;
    study.dataTree.folder = true;
    std::error_code ec;
    study.folderMissing = study.path.empty() || !fs::is_directory(study.path, ec);
    if (study.folderMissing)
        return;
    listSeismic(study, study.seismicTree, 1);
    listData(study.dataTree);
}

} // namespace vexa::study
