// Recording a live view into a film: a frame timer paces the grabs at the film's rate,
// each grabbed RGBA frame goes to a FilmWriter, and the end closes the film and logs
// the rate actually achieved. The frames come from a function the caller gives (the 3D
// view renders them offscreen), so nothing here needs a window.
//
// Encoding runs on a second thread behind a short queue, so the interface thread only
// renders and copies: a slow encoder then holds back the grabs (the queue blocks when
// full) instead of dropping frames already taken.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vexa::frametimer {
class FrameTimerSystem;
struct FrameTimer;
} // namespace vexa::frametimer

namespace vexa::video {
class FilmWriter;
}

namespace vexa::scene {

struct FilmCaptureSettings {
    std::string path; // ".mp4" gives an MP4 film, anything else AVI
    int width = 0; // size of the film's frames, 1 .. 16384
    int height = 0;
    double framesPerSecond = 25.0; // finite, in (0, 1000]
    // Frames waiting for the encoder; 0 encodes on the caller's thread.
    int queueFrames = 4;
};

class FilmCapture {
public:
    // Fills rgba with width x height RGBA pixels (tightly packed, top row first);
    // false when no frame could be had this time (the tick is skipped).
    using Grab = std::function<bool(int width, int height, std::vector<std::uint8_t>& rgba)>;
    // Told once, on the interface thread, when recording stopped by itself on a failure.
    using FailureListener = std::function<void(const std::string& reason)>;

    // Opens the film; null with a French reason when the settings are refused or the
    // file cannot be written (an existing file is left as it was).
    static std::unique_ptr<FilmCapture> open(
        const FilmCaptureSettings& settings, std::string& reason);
    // An unfinished film is abandoned: no file is left and an older one stays.
    ~FilmCapture();
    FilmCapture(const FilmCapture&) = delete;
    FilmCapture& operator=(const FilmCapture&) = delete;

    // Starts grabbing through a frame timer of `timers` at the film's rate (ten staggered
    // sub-timers). False when already started or finished.
    bool start(frametimer::FrameTimerSystem& timers, Grab grab, FailureListener onFailure = {});
    // Adds one frame of width x height pixels, rows strideBytes apart. A frame of another
    // size (the view was resized) is cropped or padded with black at the bottom right.
    // False with the reason once the film cannot take more frames.
    bool addFrame(
        const std::uint8_t* rgba, int width, int height, int strideBytes, std::string& reason);
    // Stops the timer, writes what is queued and closes the film. False with the reason
    // when the film could not be finished (then no file is left, an older one stays).
    // Logs "VIEW3D - Capture Avi - End : ...fps (acquisition)" when a timer ran.
    bool finish(std::string& reason);

    bool recording() const { return timer_ != nullptr; }
    bool finished() const { return finished_; }
    int framesGrabbed() const { return grabbed_; }
    // Frames in the closed film (after finish).
    int framesWritten() const { return written_; }
    // Seconds from the timer's start to finish, and frames grabbed per second over them.
    double seconds() const { return seconds_; }
    double acquisitionRate() const { return seconds_ > 0 ? grabbed_ / seconds_ : 0.0; }
    const FilmCaptureSettings& settings() const { return settings_; }

private:
    struct Encoder;
    FilmCapture(const FilmCaptureSettings& settings, std::unique_ptr<video::FilmWriter> writer);
    void onTick();
    void stopTimer();
    void fail(const std::string& reason);

    FilmCaptureSettings settings_;
    std::unique_ptr<video::FilmWriter> writer_;
    std::unique_ptr<Encoder> encoder_;
    frametimer::FrameTimerSystem* timers_ = nullptr;
    frametimer::FrameTimer* timer_ = nullptr;
    Grab grab_;
    FailureListener onFailure_;
    std::vector<std::uint8_t> frame_;
    std::string failure_;
    bool finished_ = false;
    int grabbed_ = 0;
    int written_ = 0;
    double seconds_ = 0;
};

} // namespace vexa::scene
