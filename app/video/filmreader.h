// Reading films (".avi", ".mp4", ".mov", ".mkv", whatever FFmpeg demuxes) frame by
// frame as RGBA pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexa::video {

// Sides above this are refused when a film is opened, before anything is allocated.
inline constexpr int kMaxFilmSide = 16384;

class FilmReader {
public:
    // The film at path with its frames indexed (the packets are read once, without
    // decoding). Null with a French reason naming the file when it is not a film,
    // holds no video, has refused sizes or no frame at all. A truncated film opens
    // with the frames that read; notice() then says what was lost.
    static std::unique_ptr<FilmReader> open(const std::string& path, std::string& reason);
    virtual ~FilmReader() = default;

    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual int frameCount() const = 0;
    virtual double framesPerSecond() const = 0;
    virtual double durationSeconds() const = 0;
    // Seconds from the first frame to frame n (0 outside the film).
    virtual double frameTime(int n) const = 0;
    // True when the pictures carry no colour (a grey pixel format).
    virtual bool grey() const = 0;
    // Empty for a whole film; otherwise what was lost, for the user.
    virtual const std::string& notice() const = 0;

    // Decodes frame n (0-based, in display order) into width() x height() RGBA pixels,
    // rows top first. False with a reason when n is outside the film or the frame does
    // not decode (a damaged end); the reader stays usable. Not thread-safe.
    virtual bool decodeFrame(int n, std::vector<std::uint8_t>& rgba, std::string& reason) = 0;
};

} // namespace vexa::video
