// The film datum: a DATA_AVI record holding a film reader and its current frame, the
// opener that makes such records from film files, and the exports of its frames as
// images, image series and blocks (time as Z).
#pragma once

#include "data/datarecord.h"
#include "video/filmreader.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexa::video {

// Called after each new current frame (a move, a step, a capture) with the record's
// identifier and the film's user data.
using FilmFrameCallback = int (*)(unsigned int id, void* userData);

struct FilmObject : KindObject {
    explicit FilmObject(std::unique_ptr<FilmReader> filmReader);

    // Width, height and frame count.
    void reportSizes(int& width, int& height, int& depth) const override;

    // Immutable once made; its decoding is guarded by lock.
    const std::unique_ptr<FilmReader> reader;
    std::string path;
    std::uint32_t recordId = 0;

    // Guards everything below and every use of reader.
    mutable std::recursive_mutex lock;
    int current = -1;
    std::vector<std::uint8_t> frame; // RGBA of the current frame
    // Bumped whenever the picture to show changes, so windows repaint.
    std::atomic<unsigned> version { 0 };
    // Set while the window plays the film.
    std::atomic<bool> playing { false };

    // What plug-ins see of the film as a video stream: the current frame in the input
    // format, an output picture of the output format shown instead of the frame once
    // asked for, their user data and frame callback.
    int formatIn = TYPEDATA_RGBA;
    int formatOut = TYPEDATA_RGBA;
    std::vector<std::uint8_t> dataIn;
    std::vector<std::uint8_t> dataOut;
    bool outputShown = false;
    void* userData = nullptr;
    FilmFrameCallback frameCallback = nullptr;
};

// The film object of a record, null for other records.
FilmObject* filmOf(DataRecord* record);

// Makes frame n the current frame, then calls the frame callback (outside the lock).
// False with a reason when it does not decode; the current frame is then kept.
bool filmMoveTo(FilmObject& film, int n, std::string* reason = nullptr);

// The current frame as samples of a type: RGBA as decoded, U8 as the mean of red,
// green and blue. Empty for other types or before any frame.
std::vector<std::uint8_t> filmCurrentSamples(const FilmObject& film, int typeData);

// Whether the file is a film this opener reads (".avi", ".mp4", ".mov", ".mkv", any case).
bool isFilmFile(const std::string& path, const std::string& head);

// Opens the film and makes its record (window through the host) showing frame 0.
// Null with a reason naming the file when it cannot be read; no record is made then.
// A truncated film opens with the frames that read and its notice is logged.
DataRecord* openFilmFile(const std::string& path, std::string* reason);

// Installs the opener into the data layer's file opening.
void installFilmFileOpener();

// The type a film's frames export to: U8 for grey films, RGBA otherwise.
int filmExportType(const FilmObject& film);

// Frame n as a new 2D image object of filmExportType. Null with a reason.
std::unique_ptr<ImageObject> filmFrameImage(FilmObject& film, int n, std::string* reason = nullptr);

// Frames first..last (inclusive) as a new memory block, frame first at z = 0. Null with
// a reason for a bad range, a block too large for memory or a frame that does not decode.
std::unique_ptr<ImageObject> filmRangeBlock(
    FilmObject& film, int first, int last, std::string* reason = nullptr);

// Writes frames first..last as BMP pictures prefix + "_0000.bmp", "_0001.bmp", ...
// (numbered from 0, grey or colour as filmExportType). Each picture appears whole or
// not at all. False with a reason at the first failure (pictures written before it
// stay).
bool filmExportSeries(FilmObject& film, int first, int last, const std::string& prefix,
    std::string* reason = nullptr);

// New image records (windows through the host) of the current frame or of a range.
// Null with a reason.
DataRecord* filmExportFrameRecord(DataRecord* film, std::string* reason = nullptr);
DataRecord* filmExportBlockRecord(
    DataRecord* film, int first, int last, std::string* reason = nullptr);

} // namespace vexa::video
