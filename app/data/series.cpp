#include "data/series.h"

#include "data/dataopen.h"
#include "host/host.h"
#include "params/fileselector.h"
#include "params/paramapi.h"
#include "params/parambox.h"
#include "quill.h"
#include "vexa_reason.hpp"
#include "vexafile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace vexa {

namespace {

// A range longer than this is a typing error, not a series.
constexpr long long kMaxSeriesLength = 1000000;

std::mutex gSeriesMutex;

SeriesSettings& rememberedLocked()
{
    static SeriesSettings settings = [] {
        SeriesSettings s;
        s.destination = seriesDefaultDestination();
        return s;
    }();
    return settings;
}

struct OpenedFile {
    int index;
    int width;
    int height;
};

template <std::size_t N> void copyInto(std::array<char, N>& buffer, const std::string& text)
{
    std::snprintf(buffer.data(), buffer.size(), "%s", text.c_str());
}

template <std::size_t N> std::string textOf(std::array<char, N>& buffer)
{
    buffer.back() = '\0';
    return buffer.data();
}

} // namespace

std::string seriesDefaultDestination()
{
    const char* dir = std::getenv("TMPDIR");
    std::string base = dir && *dir ? dir : "/tmp";
    if (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/vexa/assembly.xml";
}

SeriesSettings seriesRemembered()
{
    std::lock_guard lock(gSeriesMutex);
    return rememberedLocked();
}

void seriesRemember(const SeriesSettings& settings)
{
    std::lock_guard lock(gSeriesMutex);
    rememberedLocked() = settings;
}

std::string seriesFileName(const SeriesSettings& s, int index)
{
    static const char* const kFormats[] = { "%.1d", "%.2d", "%.3d", "%.4d" };
    if (s.digits < 0 || s.digits > 3)
        return {};
    char digits[32];
    std::snprintf(digits, sizeof digits, kFormats[s.digits], index);
    return s.root + digits + s.extension;
}

std::string seriesResolve(const std::string& destination, const std::string& name)
{
    std::string n = name;
    std::replace(n.begin(), n.end(), '\\', '/');
    if (!n.empty() && n[0] == '/')
        return n;
    std::string d = destination;
    std::replace(d.begin(), d.end(), '\\', '/');
    std::size_t slash = d.find_last_of('/');
    if (slash == std::string::npos)
        return n;
    return d.substr(0, slash + 1) + n;
}

bool seriesDescribe(const SeriesSettings& s, SeriesVolume& volume, std::string* reason)
{
    volume = SeriesVolume {};
    if (s.digits < 0 || s.digits > 3) {
        setReason(reason, "Nombre de chiffres invalide");
        return false;
    }
    if (s.first > s.last) {
        setReason(reason, "Plage d'indices vide");
        return false;
    }
    if ((long long)s.last - s.first + 1 > kMaxSeriesLength) {
        setReason(reason, "Plage d'indices trop grande");
        return false;
    }
    const bool automatic = s.sizeMode == 1;
    const bool scan = s.checkExistence || automatic;
    int first = s.first, last = s.last;
    int width = automatic ? -1 : s.width;
    int height = automatic ? -1 : s.height;

    std::vector<OpenedFile> opened;
    if (scan) {
        for (long long i = first; i <= last; ++i) {
            FileHandle desc
                = dataOpenDescriptor(seriesResolve(s.destination, seriesFileName(s, int(i))));
            if (!desc)
                continue;
            int w = 0, h = 0, d = 0;
            vexaFileGetSizes(desc.get(), &w, &h, &d);
            opened.push_back({ int(i), w, h });
            if (automatic) {
                width = std::max(width, w);
                height = std::max(height, h);
            }
        }
    }
    // Says which files were looked for: a wrong root or folder is the usual cause.
    const std::string looked = "Aucun fichier de la série ne s'ouvre (de "
        + seriesResolve(s.destination, seriesFileName(s, first)) + " à "
        + seriesResolve(s.destination, seriesFileName(s, last)) + ")";
    int depth;
    if (s.checkExistence) {
        if (opened.empty()) {
            setReason(reason, looked);
            return false;
        }
        first = opened.front().index;
        last = opened.back().index;
        depth = int(opened.size());
    } else {
        depth = last - first + 1;
    }
    if (depth <= 0 || width <= 0 || height <= 0) {
        setReason(reason, automatic ? looked : "Taille de volume invalide");
        return false;
    }
    volume.width = width;
    volume.height = height;
    volume.depth = depth;

    auto next = opened.begin();
    int written = 0;
    for (long long i = first; i <= last; ++i) {
        SeriesPart part;
        if (scan) {
            while (next != opened.end() && next->index < i)
                ++next;
            if (next == opened.end() || next->index != i)
                continue;
            if (automatic) {
                part.x = (width - next->width) / 2;
                part.y = (height - next->height) / 2;
            }
        }
        // Parts are numbered as written: without the check a missing file moves the
        // later ones up a slice and leaves the last slices of the volume empty.
        part.z = written;
        part.name = seriesFileName(s, int(i));
        volume.parts.push_back(std::move(part));
        ++written;
    }
    return true;
}

bool seriesWriteDocument(const SeriesVolume& volume, const std::string& path, std::string* reason)
{
    if (path.empty()) {
        setReason(reason, "Nom du fichier destination vide");
        return false;
    }
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
        std::filesystem::create_directories(parent, ec);
        if (ec || !std::filesystem::is_directory(parent, ec)) {
            setReason(reason,
                fileReason(parent.string(),
                    withCause("Impossible de créer le dossier", ec ? ec.value() : ENOTDIR)));
            return false;
        }
    }

    QuillNode* doc = quillNew("LOGICAL");
    bool ok = doc != nullptr;
    int err = 0;
    if (ok) {
        ok = quillAddIntItem(doc, "WIDTH", volume.width)
            && quillAddIntItem(doc, "HEIGHT", volume.height)
            && quillAddIntItem(doc, "DEPTH", volume.depth);
        for (const SeriesPart& p : volume.parts) {
            if (!ok)
                break;
            QuillNode* node = quillNodeAddNode(doc, "PART");
            ok = node && quillAddIntItem(node, "X", p.x) && quillAddIntItem(node, "Y", p.y)
                && quillAddIntItem(node, "Z", p.z)
                && quillNodeAddItem(node, "NAME", p.name.c_str());
        }
        // quill replaces the file whole or not at all and leaves errno at the cause.
        errno = 0;
        ok = ok && quillWrite(doc, path.c_str());
        err = ok ? 0 : errno;
        quillDestroy(doc);
    }
    if (!ok)
        setReason(reason, fileReason(path, withCause("Impossible d'écrire le fichier", err)));
    return ok;
}

bool seriesAsk(SeriesSettings& s)
{
    std::array<char, PARAM_PATH_BUFFER> destination {};
    std::array<char, PARAM_STRING_BUFFER> root {};
    std::array<char, PARAM_STRING_BUFFER> extension {};
    copyInto(destination, s.destination);
    copyInto(root, s.root);
    copyInto(extension, s.extension);
    std::int32_t digits = s.digits, first = s.first, last = s.last;
    std::int32_t check = s.checkExistence ? 1 : 0;
    std::int32_t mode = s.sizeMode, width = s.width, height = s.height;

    ParamBox* box = dozBoxParameterAdd(nullptr, "Fichier Destination%t%n%h%n", destination.data());
    // The destination is a name to write: its chooser accepts a file that does not exist.
    params::chooseNamesToWrite(box, "Fichier destination");
    box = dozBoxParameterAdd(
        box, "Fichiers Source%t%nRacine%s%nExtension%s%n", root.data(), extension.data());
    box = dozBoxParameterAdd(box,
        "Indices%t%nNb de chiffres%t1,2,3,4%lDébut%dFin%dVérification "
        "existence%c%n",
        &digits, &first, &last, &check);
    box = dozBoxParameterAdd(
        box, "Taille%t%nManuelle,Automatique%lLargeur%dHauteur%d%n", &mode, &width, &height);
    if (dozBoxParameterDialog(box) != 1)
        return false;
    s.destination = textOf(destination);
    s.root = textOf(root);
    s.extension = textOf(extension);
    s.digits = digits;
    s.first = first;
    s.last = last;
    s.checkExistence = check != 0;
    s.sizeMode = mode;
    s.width = width;
    s.height = height;
    return true;
}

bool seriesAssemblyCommand()
{
    SeriesSettings settings = seriesRemembered();
    // The chooser starts in the destination's folder: make the default one exist.
    if (settings.destination == seriesDefaultDestination()) {
        std::error_code ec;
        std::filesystem::create_directories(
            std::filesystem::path(settings.destination).parent_path(), ec);
    }
    if (!seriesAsk(settings))
        return false;
    seriesRemember(settings);
    SeriesVolume volume;
    std::string reason;
    if (!seriesDescribe(settings, volume, &reason)
        || !seriesWriteDocument(volume, settings.destination, &reason)) {
        hostMessageBox(kErrorCaption, reason);
        return false;
    }
    // The user asked for a volume: show it (a failure to open is reported by the opener).
    dataOpenFileWithMessages(settings.destination);
    return true;
}

} // namespace vexa
