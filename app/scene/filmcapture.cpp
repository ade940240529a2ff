#include "scene/filmcapture.h"

#include "log/logmodel.h"
#include "tasks/frametimer.h"
#include "video/filmwriter.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace vexa::scene {

namespace {

constexpr int kMaxSide = 16384;
constexpr int kMaxQueue = 64;

} // namespace

// The encoding thread. Buffers go round between `spare` and `queue` so that a long
// recording allocates its frames once.
struct FilmCapture::Encoder {
    Encoder(video::FilmWriter& w, int frameBytes, int capacity)
        : writer(w)
        , bytes(std::size_t(frameBytes))
        , limit(std::size_t(capacity))
    {
        thread = std::thread([this] { run(); });
    }
    ~Encoder() { join(); }

    // An empty buffer of the frame's size, to fill and hand to push.
    std::vector<std::uint8_t> take()
    {
        std::lock_guard lock(mutex);
        if (spare.empty())
            return std::vector<std::uint8_t>(bytes);
        std::vector<std::uint8_t> b = std::move(spare.back());
        spare.pop_back();
        return b;
    }
    // Waits for room; false with the encoder's reason once it has failed.
    bool push(std::vector<std::uint8_t> frame, int stride, std::string& reason)
    {
        std::unique_lock lock(mutex);
        roomOrFailure.wait(lock, [&] { return !failure.empty() || queue.size() < limit; });
        if (!failure.empty()) {
            reason = failure;
            return false;
        }
        queue.push_back(std::move(frame));
        rowBytes = stride;
        work.notify_one();
        return true;
    }
    // Writes what is queued and stops the thread; the encoder's failure, if any.
    std::string join()
    {
        {
            std::lock_guard lock(mutex);
            closing = true;
        }
        work.notify_one();
        if (thread.joinable())
            thread.join();
        return failure;
    }
    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            work.wait(lock, [&] { return closing || !queue.empty(); });
            if (queue.empty())
                return;
            std::vector<std::uint8_t> frame = std::move(queue.front());
            queue.pop_front();
            const int stride = rowBytes;
            lock.unlock();
            std::string reason;
            const bool ok = writer.addFrameRgba(frame.data(), stride, reason);
            lock.lock();
            spare.push_back(std::move(frame));
            if (!ok) {
                failure = reason.empty() ? std::string("échec du codage de l'image") : reason;
                queue.clear();
                roomOrFailure.notify_all();
                return;
            }
            roomOrFailure.notify_all();
        }
    }

    video::FilmWriter& writer;
    const std::size_t bytes;
    const std::size_t limit;
    std::mutex mutex;
    std::condition_variable work, roomOrFailure;
    std::deque<std::vector<std::uint8_t>> queue;
    std::vector<std::vector<std::uint8_t>> spare;
    int rowBytes = 0;
    bool closing = false;
    std::string failure;
    std::thread thread;
};

std::unique_ptr<FilmCapture> FilmCapture::open(
    const FilmCaptureSettings& settings, std::string& reason)
{
    if (settings.path.empty()) {
        reason = "Aucun fichier de film choisi";
        return nullptr;
    }
    if (settings.width < 1 || settings.width > kMaxSide || settings.height < 1
        || settings.height > kMaxSide) {
        reason = settings.path + " : taille d'image refusée (" + std::to_string(settings.width)
            + " x " + std::to_string(settings.height) + ")";
        return nullptr;
    }
    if (!std::isfinite(settings.framesPerSecond) || settings.framesPerSecond <= 0
        || settings.framesPerSecond > 1000) {
        reason = settings.path + " : nombre d'images par seconde refusé";
        return nullptr;
    }
    video::FilmSettings film;
    film.path = settings.path;
    film.width = settings.width;
    film.height = settings.height;
    film.framesPerSecond = settings.framesPerSecond;
    std::unique_ptr<video::FilmWriter> writer = video::FilmWriter::open(film, reason);
    if (!writer)
        return nullptr;
    return std::unique_ptr<FilmCapture>(new FilmCapture(settings, std::move(writer)));
}

FilmCapture::FilmCapture(
    const FilmCaptureSettings& settings, std::unique_ptr<video::FilmWriter> writer)
    : settings_(settings)
    , writer_(std::move(writer))
{
    settings_.queueFrames = std::clamp(settings_.queueFrames, 0, kMaxQueue);
    if (settings_.queueFrames > 0)
        encoder_ = std::make_unique<Encoder>(
            *writer_, settings_.width * settings_.height * 4, settings_.queueFrames);
}

FilmCapture::~FilmCapture()
{
    if (timer_) {
        timers_->stop(timer_);
        timers_->destroy(timer_);
    }
    // The thread goes before the writer it uses; the writer then discards its file.
    encoder_.reset();
}

bool FilmCapture::start(frametimer::FrameTimerSystem& timers, Grab grab, FailureListener onFailure)
{
    if (timer_ || finished_ || !failure_.empty() || !grab)
        return false;
    timers_ = &timers;
    grab_ = std::move(grab);
    onFailure_ = std::move(onFailure);
    timer_ = timers.create();
    timers.setFrequency(timer_, settings_.framesPerSecond);
    timers.setSubCount(timer_, 10);
    timers.setCallbackArg(timer_, this);
    timers.setCallback(timer_,
        [](frametimer::FrameTimer*, void* arg) { static_cast<FilmCapture*>(arg)->onTick(); });
    timers.start(timer_);
    return true;
}

void FilmCapture::onTick()
{
    if (finished_ || !failure_.empty())
        return;
    const int w = settings_.width, h = settings_.height;
    if (!grab_(w, h, frame_) || frame_.size() < std::size_t(w) * std::size_t(h) * 4)
        return;
    std::string reason;
    if (!addFrame(frame_.data(), w, h, w * 4, reason))
        fail(reason);
}

bool FilmCapture::addFrame(
    const std::uint8_t* rgba, int width, int height, int strideBytes, std::string& reason)
{
    if (finished_) {
        reason = settings_.path + " : film déjà fermé";
        return false;
    }
    if (!failure_.empty()) {
        reason = failure_;
        return false;
    }
    if (!rgba || width < 1 || height < 1 || strideBytes < width * 4) {
        reason = settings_.path + " : image refusée";
        return false;
    }
    const int w = settings_.width, h = settings_.height;
    const bool fits = width == w && height == h;
    bool ok;
    if (fits && !encoder_) {
        ok = writer_->addFrameRgba(rgba, strideBytes, reason);
    } else {
        std::vector<std::uint8_t> frame
            = encoder_ ? encoder_->take() : std::vector<std::uint8_t>(std::size_t(w) * h * 4);
        const std::size_t rowBytes = std::size_t(w) * 4;
        const std::size_t copied = std::size_t(std::min(width, w)) * 4;
        for (int y = 0; y < h; ++y) {
            std::uint8_t* row = frame.data() + std::size_t(y) * rowBytes;
            std::size_t filled = 0;
            if (y < height) {
                std::memcpy(row, rgba + std::size_t(y) * std::size_t(strideBytes), copied);
                filled = copied;
            }
            // Opaque black outside the given frame.
            for (std::size_t x = filled; x < rowBytes; x += 4) {
                row[x] = row[x + 1] = row[x + 2] = 0;
                row[x + 3] = 255;
            }
        }
        ok = encoder_ ? encoder_->push(std::move(frame), w * 4, reason)
                      : writer_->addFrameRgba(frame.data(), w * 4, reason);
    }
    if (!ok) {
        if (reason.empty())
            reason = settings_.path + " : échec du codage de l'image";
        failure_ = reason;
        return false;
    }
    ++grabbed_;
    return true;
}

void FilmCapture::stopTimer()
{
    if (!timer_)
        return;
    timers_->stop(timer_);
    seconds_ = timers_->elapsed(timer_) / 1000.0;
    timers_->destroy(timer_);
    timer_ = nullptr;
    log::logMessage("VIEW3D - Capture Avi - End : %.2ffps (acquisition)", acquisitionRate());
}

void FilmCapture::fail(const std::string& reason)
{
    failure_ = reason;
    stopTimer();
    // Copied first: the listener may end this capture.
    if (FailureListener listener = onFailure_)
        listener(reason);
}

bool FilmCapture::finish(std::string& reason)
{
    if (finished_) {
        reason = settings_.path + " : film déjà fermé";
        return false;
    }
    stopTimer();
    finished_ = true;
    if (encoder_) {
        const std::string failed = encoder_->join();
        encoder_.reset();
        if (failure_.empty())
            failure_ = failed;
    }
    bool ok = failure_.empty();
    if (ok) {
        ok = writer_->close(reason);
        written_ = writer_->framesWritten();
    } else {
        reason = failure_;
    }
    writer_.reset();
    return ok;
}

} // namespace vexa::scene
