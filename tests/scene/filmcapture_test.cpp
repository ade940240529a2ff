#include "scene/filmcapture.h"

#include "tasks/frametimer.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace vexa;
using namespace vexa::scene;
namespace fs = std::filesystem;

namespace {

class FakeClock : public frametimer::Clock {
public:
    std::int64_t counter() const override { return us; }
    std::int64_t frequency() const override { return 1000000; }
    std::int64_t us = 1000000;
};

// Sub-timers are fired by hand through onSubTimer.
struct QuietSource : frametimer::TimerSource {
    void arm(std::uint32_t, double, std::int64_t) override { }
    void kill(std::uint32_t) override { }
};

struct Timers {
    FakeClock clock;
    frametimer::FrameTimerSystem system { clock,
        [](frametimer::TickSink) { return std::make_unique<QuietSource>(); } };
    // Ten sub-timers, each every 4 ms, for durationMs: 250 ticks a second offered.
    void run(int durationMs)
    {
        for (int t = 0; t < durationMs * 10 / 4; ++t) {
            clock.us += 400;
            system.onSubTimer(std::uint32_t(1 + t % 10));
        }
    }
};

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

FilmCapture::Grab grey(int* calls = nullptr)
{
    return [calls](int w, int h, std::vector<std::uint8_t>& rgba) {
        if (calls)
            ++*calls;
        rgba.assign(std::size_t(w) * h * 4, 128);
        return true;
    };
}

class FilmCaptureTest : public ::testing::TestWithParam<int> {
protected:
    FilmCaptureSettings settings(const std::string& name, int w = 64, int h = 48)
    {
        FilmCaptureSettings s;
        s.path = dir.file(name);
        s.width = w;
        s.height = h;
        s.queueFrames = GetParam();
        return s;
    }
    vexatest::TempDir dir { "vexa-filmcapture" };
    Timers timers;
};

// At 25 frames a second over 2 s of ticks offered ten times faster, about 50 frames
// are grabbed, all reach the film, and the timer is gone afterwards.
TEST_P(FilmCaptureTest, PacesGrabsAtTheFilmRate)
{
    std::string reason;
    auto capture = FilmCapture::open(settings("paced.avi"), reason);
    ASSERT_TRUE(capture) << reason;
    int calls = 0;
    ASSERT_TRUE(capture->start(timers.system, grey(&calls)));
    EXPECT_FALSE(capture->start(timers.system, grey()));
    timers.run(2000);
    EXPECT_NEAR(calls, 50, 2);
    EXPECT_EQ(capture->framesGrabbed(), calls);
    ASSERT_TRUE(capture->finish(reason)) << reason;
    EXPECT_EQ(capture->framesWritten(), calls);
    EXPECT_NEAR(capture->seconds(), 2.0, 0.01);
    EXPECT_NEAR(capture->acquisitionRate(), 25.0, 1.0);
    EXPECT_FALSE(capture->recording());
    EXPECT_EQ(timers.system.timerCount(), 0);
    EXPECT_GT(fs::file_size(capture->settings().path), 0u);
    EXPECT_FALSE(capture->finish(reason));
    EXPECT_FALSE(
        capture->addFrame(std::vector<std::uint8_t>(64 * 48 * 4).data(), 64, 48, 256, reason));
}

// Odd film sizes, and frames of other sizes (a resized view) cropped or padded.
TEST_P(FilmCaptureTest, TakesOddAndMismatchedFrames)
{
    std::string reason;
    auto capture = FilmCapture::open(settings("odd.mp4", 33, 17), reason);
    ASSERT_TRUE(capture) << reason;
    for (auto [w, h] : { std::pair { 33, 17 }, { 40, 20 }, { 10, 5 } }) {
        std::vector<std::uint8_t> rgba(std::size_t(w + 3) * 4 * h, 200);
        EXPECT_TRUE(capture->addFrame(rgba.data(), w, h, (w + 3) * 4, reason)) << reason;
    }
    EXPECT_FALSE(capture->addFrame(nullptr, 33, 17, 132, reason));
    EXPECT_FALSE(capture->addFrame(std::vector<std::uint8_t>(132).data(), 33, 1, 4, reason));
    ASSERT_TRUE(capture->finish(reason)) << reason;
    EXPECT_EQ(capture->framesWritten(), 3);
}

// Refused settings and unwritable places write nothing; a film that ends without a
// frame fails and leaves the older file as it was; a grab without a frame skips a tick.
TEST_P(FilmCaptureTest, FailuresLoseNothing)
{
    std::string reason;
    FilmCaptureSettings s = settings("bad.avi");
    s.framesPerSecond = 0;
    EXPECT_FALSE(FilmCapture::open(s, reason));
    EXPECT_FALSE(reason.empty());
    s = settings("bad.avi", 0, 10);
    EXPECT_FALSE(FilmCapture::open(s, reason));
    s = settings("no/such/folder/x.avi");
    reason.clear();
    EXPECT_FALSE(FilmCapture::open(s, reason));
    EXPECT_NE(reason.find("x.avi"), std::string::npos) << reason;
    EXPECT_TRUE(fs::is_empty(dir.path()));

    const std::string old = dir.file("old.avi");
    std::ofstream(old) << "older film";
    auto capture = FilmCapture::open(settings("old.avi"), reason);
    ASSERT_TRUE(capture) << reason;
    ASSERT_TRUE(
        capture->start(timers.system, [](int, int, std::vector<std::uint8_t>&) { return false; }));
    timers.run(500);
    EXPECT_EQ(capture->framesGrabbed(), 0);
    EXPECT_FALSE(capture->finish(reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(contents(old), "older film");

    // Abandoned while recording: the timer goes, the older file stays.
    capture = FilmCapture::open(settings("old.avi"), reason);
    ASSERT_TRUE(capture && capture->start(timers.system, grey()));
    timers.run(200);
    capture.reset();
    EXPECT_EQ(timers.system.timerCount(), 0);
    EXPECT_EQ(contents(old), "older film");
}

INSTANTIATE_TEST_SUITE_P(Encoding, FilmCaptureTest, ::testing::Values(0, 4),
    [](const auto& param) { return param.param ? "Threaded" : "Inline"; });

} // namespace
