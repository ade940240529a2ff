#include "video/film.h"

#include "data/dataopen.h"
#include "data/datasavebmp.h"
#include "data/newdata.h"
#include "data/registry.h"
#include "log/logmodel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace vexa::video {

namespace {

void setReason(std::string* reason, const std::string& text)
{
    if (reason)
        *reason = text;
}

std::string lowerExtension(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// RGBA pixels to the export type, into out (which holds width x height samples).
void storeFrame(const std::vector<std::uint8_t>& rgba, int type, std::uint8_t* out)
{
    if (type == TYPEDATA_RGBA) {
        std::memcpy(out, rgba.data(), rgba.size());
        return;
    }
    const std::size_t pixels = rgba.size() / 4;
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* p = &rgba[i * 4];
        out[i] = std::uint8_t((unsigned(p[0]) + p[1] + p[2]) / 3);
    }
}

bool rangeValid(const FilmObject& film, int first, int last, std::string* reason)
{
    const int count = film.reader->frameCount();
    if (first < 0 || last < first || last >= count) {
        setReason(reason,
            film.path + " : intervalle d'images refusé (" + std::to_string(first) + " à "
                + std::to_string(last) + " sur " + std::to_string(count) + " images)");
        return false;
    }
    return true;
}

} // namespace

FilmObject::FilmObject(std::unique_ptr<FilmReader> filmReader)
    : reader(std::move(filmReader))
{
}

void FilmObject::reportSizes(int& width, int& height, int& depth) const
{
    width = reader->width();
    height = reader->height();
    depth = reader->frameCount();
}

FilmObject* filmOf(DataRecord* record)
{
    if (!record || record->kind != DATA_AVI)
        return nullptr;
    return dynamic_cast<FilmObject*>(record->avi.get());
}

bool filmMoveTo(FilmObject& film, int n, std::string* reason)
{
    FilmFrameCallback callback = nullptr;
    void* argument = nullptr;
    {
        std::lock_guard guard(film.lock);
        std::vector<std::uint8_t> rgba;
        std::string why;
        if (!film.reader->decodeFrame(n, rgba, why)) {
            setReason(reason, why);
            return false;
        }
        film.frame.swap(rgba);
        film.current = n;
        callback = film.frameCallback;
        argument = film.userData;
    }
    ++film.version;
    // Outside the lock: the callback reads the frame through other calls, possibly from
    // another thread waiting for this one.
    if (callback)
        callback(film.recordId, argument);
    return true;
}

std::vector<std::uint8_t> filmCurrentSamples(const FilmObject& film, int typeData)
{
    std::lock_guard guard(film.lock);
    if (film.frame.empty() || (typeData != TYPEDATA_RGBA && typeData != TYPEDATA_U8))
        return {};
    std::vector<std::uint8_t> out(film.frame.size() / (typeData == TYPEDATA_RGBA ? 1 : 4));
    storeFrame(film.frame, typeData, out.data());
    return out;
}

bool isFilmFile(const std::string& path, const std::string&)
{
    const std::string ext = lowerExtension(path);
    return ext == ".avi" || ext == ".mp4" || ext == ".mov" || ext == ".mkv";
}

DataRecord* openFilmFile(const std::string& path, std::string* reason)
{
    std::string why;
    std::unique_ptr<FilmReader> reader = FilmReader::open(path, why);
    if (!reader) {
        setReason(reason, why);
        return nullptr;
    }
    const std::string notice = reader->notice();
    auto film = std::make_unique<FilmObject>(std::move(reader));
    film->path = path;
    // The first frame is shown at once; a film whose first frame does not decode is
    // refused rather than shown empty.
    if (!filmMoveTo(*film, 0, &why)) {
        setReason(reason, why);
        return nullptr;
    }
    FilmObject* object = film.get();
    DataRecord* record = dataCreateKind(DATA_AVI, std::move(film), kFreshId, kFreshId);
    if (!record) {
        setReason(reason, path + " : " + kCannotOpenFile);
        return nullptr;
    }
    object->recordId = record->imageId;
    dataSetName(record, path);
    if (!notice.empty())
        log::logPost(notice.c_str());
    return record;
}

void installFilmFileOpener()
{
    addForeignFileOpener({ isFilmFile, openFilmFile });
}

int filmExportType(const FilmObject& film)
{
    return film.reader->grey() ? TYPEDATA_U8 : TYPEDATA_RGBA;
}

std::unique_ptr<ImageObject> filmFrameImage(FilmObject& film, int n, std::string* reason)
{
    if (!rangeValid(film, n, n, reason))
        return nullptr;
    const int type = filmExportType(film);
    auto object = newImage2dObject(film.reader->width(), film.reader->height(), type, reason);
    if (!object)
        return nullptr;
    std::lock_guard guard(film.lock);
    std::vector<std::uint8_t> rgba;
    std::string why;
    if (n == film.current)
        rgba = film.frame;
    else if (!film.reader->decodeFrame(n, rgba, why)) {
        setReason(reason, why);
        return nullptr;
    }
    storeFrame(rgba, type, object->image->samples.bytes());
    object->image->fileName = film.path;
    return object;
}

std::unique_ptr<ImageObject> filmRangeBlock(
    FilmObject& film, int first, int last, std::string* reason)
{
    if (!rangeValid(film, first, last, reason))
        return nullptr;
    const int type = filmExportType(film);
    const int width = film.reader->width(), height = film.reader->height();
    const int depth = last - first + 1;
    if (!blockSizesValid(width, height, depth, type, reason))
        return nullptr;
    const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(depth)
        * std::uint64_t(vexaTypeSize(type));
    if (bytes > availableMemoryBytes()) {
        setReason(reason,
            film.path + " : mémoire insuffisante pour " + std::to_string(depth) + " images ("
                + byteCountText(bytes) + ")");
        return nullptr;
    }
    auto object = newImage3dObject(width, height, depth, type, NEWDATA_EMPTY, reason);
    if (!object)
        return nullptr;
    BlockDescriptor& block = *object->block;
    std::lock_guard guard(film.lock);
    std::vector<std::uint8_t> rgba;
    std::string why;
    for (int n = first; n <= last; ++n) {
        if (!film.reader->decodeFrame(n, rgba, why)) {
            setReason(reason, why);
            return nullptr;
        }
        storeFrame(rgba, type, block.plane(n - first));
    }
    object->image->fileName = film.path;
    return object;
}

bool filmExportSeries(
    FilmObject& film, int first, int last, const std::string& prefix, std::string* reason)
{
    if (!rangeValid(film, first, last, reason))
        return false;
    const int type = filmExportType(film);
    const int width = film.reader->width(), height = film.reader->height();
    std::vector<std::uint8_t> rgba, grey(std::size_t(width) * std::size_t(height));
    std::string why;
    std::lock_guard guard(film.lock);
    for (int n = first; n <= last; ++n) {
        if (!film.reader->decodeFrame(n, rgba, why)) {
            setReason(reason, why);
            return false;
        }
        char number[16];
        std::snprintf(number, sizeof number, "_%04d.bmp", n - first);
        const std::string name = prefix + number;
        // Written aside and renamed: an existing picture is replaced only by a whole one.
        const std::string temporary = name + ".part";
        bool ok;
        if (type == TYPEDATA_U8) {
            storeFrame(rgba, type, grey.data());
            ok = writeBmpGrey(temporary, grey.data(), width, height);
        } else {
            ok = writeBmpColour(temporary, rgba.data(), width, height);
        }
        std::error_code error;
        if (ok)
            std::filesystem::rename(temporary, name, error);
        if (!ok || error) {
            std::filesystem::remove(temporary, error);
            setReason(reason, name + " : " + kCannotOpenFile);
            return false;
        }
    }
    return true;
}

DataRecord* filmExportFrameRecord(DataRecord* record, std::string* reason)
{
    FilmObject* film = filmOf(record);
    if (!film) {
        setReason(reason, "Ce n'est pas un film");
        return nullptr;
    }
    int current;
    {
        std::lock_guard guard(film->lock);
        current = film->current;
    }
    auto object = filmFrameImage(*film, current, reason);
    if (!object)
        return nullptr;
    DataRecord* image = dataCreateImage(std::move(object), kFreshId, kFreshId);
    if (image)
        dataSetName(image, record->name + " [" + std::to_string(current) + "]");
    return image;
}

DataRecord* filmExportBlockRecord(DataRecord* record, int first, int last, std::string* reason)
{
    FilmObject* film = filmOf(record);
    if (!film) {
        setReason(reason, "Ce n'est pas un film");
        return nullptr;
    }
    auto object = filmRangeBlock(*film, first, last, reason);
    if (!object)
        return nullptr;
    DataRecord* block = dataCreateImage(std::move(object), kFreshId, kFreshId);
    if (block)
        dataSetName(
            block, record->name + " [" + std::to_string(first) + "-" + std::to_string(last) + "]");
    return block;
}

} // namespace vexa::video
