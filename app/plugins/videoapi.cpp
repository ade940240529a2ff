#include "plugins/videoapi.h"

#include "data/registry.h"
#include "log/logmodel.h"
#include "video/film.h"
#include "video/filmwriter.h"

#include "vexa_guard.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using vexa::guarded;
using vexa::video::FilmObject;

namespace {

FilmObject* streamOf(unsigned int id)
{
    return vexa::video::filmOf(vexa::dataFind(id));
}

// What use returns on the film's record under its lock; absent for an unknown id.
template <typename T, typename Use> T underLock(unsigned int id, T absent, Use use)
{
    FilmObject* film = streamOf(id);
    if (!film)
        return absent;
    std::lock_guard lock(film->lock);
    return use(*film);
}

bool formatValid(int typeData)
{
    return typeData == TYPEDATA_RGBA || typeData == TYPEDATA_U8;
}

// Films being written by plug-ins, by number. The writer is opened with the first
// frame, once the size is known.
struct VideoFile {
    std::mutex lock; // one plug-in thread at a time per file
    vexa::video::FilmSettings settings;
    std::unique_ptr<vexa::video::FilmWriter> writer;
    bool failed = false;
};

std::mutex gFilesMutex;
std::map<int, std::shared_ptr<VideoFile>> gFiles;
int gLastFile = 0;

std::shared_ptr<VideoFile> fileOf(int file)
{
    std::lock_guard lock(gFilesMutex);
    auto it = gFiles.find(file);
    return it == gFiles.end() ? nullptr : it->second;
}

void logReason(const std::string& reason)
{
    vexa::log::logPost(reason.c_str());
}

} // namespace

extern "C" {

unsigned int vexaVideoGetId(void)
{
    return guarded([]() -> unsigned int {
        vexa::DataRecord* record = vexa::dataFindByKindRecency(vexa::DATA_AVI, 1);
        if (!record) {
            // No film activated yet: the newest one.
            for (vexa::DataRecord* r : vexa::dataListAll())
                if (r->kind == vexa::DATA_AVI)
                    record = r;
        }
        return record ? record->imageId : 0u;
    });
}

int vexaVideoSetFormatIn(unsigned int videoId, int typeData)
{
    FilmObject* film = streamOf(videoId);
    if (!film || !formatValid(typeData))
        return 0;
    std::lock_guard lock(film->lock);
    film->formatIn = typeData;
    return 1;
}

int vexaVideoSetFormatOut(unsigned int videoId, int typeData)
{
    FilmObject* film = streamOf(videoId);
    if (!film || !formatValid(typeData))
        return 0;
    std::lock_guard lock(film->lock);
    if (film->formatOut != typeData)
        film->dataOut.clear();
    film->formatOut = typeData;
    return 1;
}

void* vexaVideoGetDataIn(unsigned int videoId)
{
    FilmObject* film = streamOf(videoId);
    if (!film)
        return nullptr;
    return guarded([&]() -> void* {
        std::lock_guard lock(film->lock);
        const std::vector<std::uint8_t> samples
            = vexa::video::filmCurrentSamples(*film, film->formatIn);
        if (samples.empty())
            return nullptr;
        // Copied into the same buffer: a pointer handed out earlier stays valid.
        if (film->dataIn.size() != samples.size())
            film->dataIn.resize(samples.size());
        std::copy(samples.begin(), samples.end(), film->dataIn.begin());
        return film->dataIn.data();
    });
}

void* vexaVideoGetDataOut(unsigned int videoId)
{
    FilmObject* film = streamOf(videoId);
    if (!film)
        return nullptr;
    return guarded([&]() -> void* {
        std::lock_guard lock(film->lock);
        const std::size_t size = std::size_t(film->reader->width())
            * std::size_t(film->reader->height()) * (film->formatOut == TYPEDATA_RGBA ? 4 : 1);
        if (film->dataOut.size() != size)
            film->dataOut.assign(size, 0);
        film->outputShown = true;
        return film->dataOut.data();
    });
}

int vexaVideoGetWidth(unsigned int videoId)
{
    FilmObject* film = streamOf(videoId);
    return film ? film->reader->width() : 0;
}

int vexaVideoGetHeight(unsigned int videoId)
{
    FilmObject* film = streamOf(videoId);
    return film ? film->reader->height() : 0;
}

void* vexaVideoGetUserData(unsigned int videoId)
{
    return underLock(
        videoId, static_cast<void*>(nullptr), [](FilmObject& film) { return film.userData; });
}

int vexaVideoSetUserData(unsigned int videoId, void* userData)
{
    return underLock(videoId, 0, [&](FilmObject& film) {
        film.userData = userData;
        return 1;
    });
}

int vexaVideoInitializeCallback(unsigned int videoId, VexaVideoFrameCallback callback)
{
    return underLock(videoId, 0, [&](FilmObject& film) {
        film.frameCallback = callback;
        return 1;
    });
}

int vexaVideoCapture(unsigned int videoId)
{
    FilmObject* film = streamOf(videoId);
    if (!film)
        return 0;
    return guarded([&] {
        int next;
        {
            std::lock_guard lock(film->lock);
            next = film->current + 1;
        }
        if (next >= film->reader->frameCount())
            return 0;
        return vexa::video::filmMoveTo(*film, next) ? 1 : 0;
    });
}

int vexaVideoStart(unsigned int videoId, int on)
{
    FilmObject* film = streamOf(videoId);
    if (!film)
        return 0;
    film->playing = on != 0;
    ++film->version;
    return 1;
}

double vexaVideoGetDuration(unsigned int videoId)
{
    FilmObject* film = streamOf(videoId);
    return film ? film->reader->durationSeconds() : 0.0;
}

double vexaVideoGetCurrentDuration(unsigned int videoId)
{
    return underLock(videoId, 0.0, [](FilmObject& film) {
        if (film.current < 0)
            return 0.0;
        return film.reader->frameTime(film.current) + 1.0 / film.reader->framesPerSecond();
    });
}

double vexaVideoGetTime(unsigned int videoId)
{
    return underLock(
        videoId, 0.0, [](FilmObject& film) { return film.reader->frameTime(film.current); });
}

int vexaVideoGetNumberOfFrames(unsigned int videoId)
{
    FilmObject* film = streamOf(videoId);
    return film ? film->reader->frameCount() : 0;
}

int vexaVideoGetNoCurrentFrame(unsigned int videoId)
{
    return underLock(videoId, -1, [](FilmObject& film) { return film.current; });
}

int vexaVideoMoveTo(unsigned int videoId, int frame)
{
    FilmObject* film = streamOf(videoId);
    if (!film)
        return 0;
    return guarded([&] { return vexa::video::filmMoveTo(*film, frame) ? 1 : 0; });
}

int vexaVideoRefreshOut(unsigned int videoId)
{
    FilmObject* film = streamOf(videoId);
    if (!film)
        return 0;
    ++film->version;
    return 1;
}

int vexaVideoFileCreate(const char* path)
{
    if (!path || !*path)
        return 0;
    return guarded([&] {
        auto file = std::make_shared<VideoFile>();
        file->settings.path = path;
        std::lock_guard lock(gFilesMutex);
        // Numbers are never reused within a run: a stale number stays unknown.
        if (gLastFile == INT32_MAX)
            return 0;
        gFiles[++gLastFile] = std::move(file);
        return gLastFile;
    });
}

int vexaVideoFileSet(int file, int width, int height, double framesPerSecond)
{
    std::shared_ptr<VideoFile> f = fileOf(file);
    if (!f)
        return 0;
    std::lock_guard lock(f->lock);
    if (f->writer || width <= 0 || height <= 0 || !(framesPerSecond > 0))
        return 0;
    f->settings.width = width;
    f->settings.height = height;
    f->settings.framesPerSecond = framesPerSecond;
    return 1;
}

int vexaVideoFileAddFrame(int file, const uint8_t* rgba)
{
    std::shared_ptr<VideoFile> f = fileOf(file);
    if (!f || !rgba)
        return 0;
    std::lock_guard lock(f->lock);
    if (f->failed || f->settings.width <= 0)
        return 0;
    return guarded([&] {
        std::string reason;
        if (!f->writer) {
            f->writer = vexa::video::FilmWriter::open(f->settings, reason);
            if (!f->writer) {
                f->failed = true;
                logReason(reason);
                return 0;
            }
        }
        if (!f->writer->addFrameRgba(rgba, f->settings.width * 4, reason)) {
            logReason(reason);
            return 0;
        }
        return 1;
    });
}

int vexaVideoFileClose(int file)
{
    std::shared_ptr<VideoFile> f;
    {
        std::lock_guard lock(gFilesMutex);
        auto it = gFiles.find(file);
        if (it == gFiles.end())
            return 0;
        f = std::move(it->second);
        gFiles.erase(it);
    }
    std::lock_guard lock(f->lock);
    if (!f->writer)
        return 0;
    return guarded([&] {
        std::string reason;
        if (!f->writer->close(reason)) {
            logReason(reason);
            return 0;
        }
        return 1;
    });
}

} // extern "C"
