// Frame timers: a callback at a target frequency (for example grabbing 25 frames a
// second into a film) built on periodic sources that are coarse and integral in
// milliseconds. A frame timer drives several sub-timers staggered across one period,
// each firing faster than needed, and drops every tick that would push the average
// rate since the start above the target; it also measures the rate it achieves.
//
// The clock and the periodic source are injected: the program uses the steady clock
// and a thread-backed source that delivers ticks on the interface thread; tests use a
// fake clock and a scripted source. Everything here runs on the interface thread, so
// callbacks never overlap.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vexa::frametimer {

// A high-resolution counter and its frequency in counts per second.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t counter() const = 0;
    virtual std::int64_t frequency() const = 0;
};

class SteadyClock final : public Clock {
public:
    std::int64_t counter() const override;
    std::int64_t frequency() const override;
};

struct Stopwatch {
    std::int64_t counter = 0;
    std::int64_t frequency = 1;
};

Stopwatch stopwatchNow(const Clock& clock);
// (b.counter - a.counter) / frequency x 1000.
double millisecondsBetween(const Stopwatch& a, const Stopwatch& b);

// Delivers a sub-timer's identifier on the interface thread.
using TickSink = std::function<void(std::uint32_t id)>;

// The periodic source shared by all frame timers (one per timer registry).
class TimerSource {
public:
    virtual ~TimerSource() = default;
    // Sub-timer id fires first phaseMs + periodMs from now, then every periodMs,
    // replacing any earlier arming of the same id.
    virtual void arm(std::uint32_t id, double phaseMs, std::int64_t periodMs) = 0;
    virtual void kill(std::uint32_t id) = 0;
};

using SourceFactory = std::function<std::unique_ptr<TimerSource>(TickSink sink)>;

struct FrameTimer;
using FrameTimerCallback = std::function<void(FrameTimer* timer, void* arg)>;

struct FrameTimer {
    std::uint32_t number = 0;
    int subCount = 0;
    std::vector<std::uint32_t> subIds;
    std::uint32_t lastId = 0;
    bool running = false;
    double frequency = 0;
    double period = 0;
    int tickCount = 0;
    int windowTicks = 0;
    Stopwatch startWatch;
    Stopwatch windowWatch;
    int ticksPerTwoSeconds = 0;
    double currentRate = 0;
    double measuredRate = 0;
    FrameTimerCallback callback;
    // A pointer-sized argument: the capture passes its view here.
    void* callbackArg = nullptr;
};

// More sub-timers than this are refused: each one is a live periodic source.
constexpr int kMaxSubCount = 1000;

class FrameTimerSystem {
public:
    FrameTimerSystem(const Clock& clock, SourceFactory factory);
    ~FrameTimerSystem();
    FrameTimerSystem(const FrameTimerSystem&) = delete;
    FrameTimerSystem& operator=(const FrameTimerSystem&) = delete;

    // A new frame timer at 1 tick per second with one sub-timer, not running. The
    // registry and its source are created with the first timer.
    FrameTimer* create();
    // Ignored unless f is a finite value above 0. A running timer is restarted.
    void setFrequency(FrameTimer* t, double f);
    // Ignored unless 0 < n <= kMaxSubCount. Gives n fresh sub-timer identifiers.
    void setSubCount(FrameTimer* t, int n);
    void setCallback(FrameTimer* t, FrameTimerCallback callback);
    void setCallbackArg(FrameTimer* t, void* arg);
    void start(FrameTimer* t);
    void stop(FrameTimer* t);
    // Removes the timer; the last one takes the registry and its source with it, so
    // the next timer is numbered 1 again. Safe from inside the timer's own callback.
    void destroy(FrameTimer* t);

    // Milliseconds since the start; 0 for no timer.
    double elapsed(const FrameTimer* t) const;
    int getTickCount(const FrameTimer* t) const;
    int getTicksPerTwoSeconds(const FrameTimer* t) const;
    double getCurrentRate(const FrameTimer* t) const;
    double getMeasuredRate(const FrameTimer* t) const;

    // True when t is a live timer of this system.
    bool isLive(const FrameTimer* t) const;
    int timerCount() const;
    bool hasRegistry() const { return registry_ != nullptr; }

    // A sub-timer fired (called by the source on the interface thread).
    void onSubTimer(std::uint32_t id);

private:
    struct Registry;
    FrameTimer* live(const FrameTimer* t) const;
    void assignSubIds(FrameTimer& t, int n);
    Stopwatch now() const { return stopwatchNow(clock_); }

    const Clock& clock_;
    SourceFactory factory_;
    std::unique_ptr<Registry> registry_;
};

// Runs a function on the interface thread, later (queued).
using RunOnInterfaceThread = std::function<void(std::function<void()>)>;

// A periodic source on one background thread. Each firing is handed to `run`, which
// must queue it to the interface thread; a sub-timer whose previous firing has not
// been delivered yet skips a beat instead of piling up, like a window timer.
class ThreadTimerSource final : public TimerSource {
public:
    ThreadTimerSource(RunOnInterfaceThread run, TickSink sink);
    ~ThreadTimerSource() override;
    void arm(std::uint32_t id, double phaseMs, std::int64_t periodMs) override;
    void kill(std::uint32_t id) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The program's frame timers: steady clock, thread-backed source delivering through
// the runner installed at start-up. Without a runner the timers never tick.
FrameTimerSystem& frameTimers();
void setInterfaceRunner(RunOnInterfaceThread run);

} // namespace vexa::frametimer
