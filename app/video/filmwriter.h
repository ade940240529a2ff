// Writing films: AVI with Motion JPEG by default, MP4 (H.264 when the encoder is
// present, else MPEG-4 Part 2) when the name ends in ".mp4".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vexa::video {

struct FilmSettings {
    std::string path;
    int width = 0; // pixels, > 0 (odd sizes are padded by one pixel for the codecs)
    int height = 0;
    double framesPerSecond = 25.0;
};

class FilmWriter {
public:
    // A writer on settings.path, or null with a French reason naming the file.
    static std::unique_ptr<FilmWriter> open(const FilmSettings& settings, std::string& reason);
    virtual ~FilmWriter() = default;
    // One frame of width x height RGBA pixels, rows strideBytes apart, top row first.
    virtual bool addFrameRgba(const std::uint8_t* rgba, int strideBytes, std::string& reason) = 0;
    // Flushes and closes the film; false with a reason when the film could not be finished.
    virtual bool close(std::string& reason) = 0;
    virtual int framesWritten() const = 0;
};

} // namespace vexa::video
