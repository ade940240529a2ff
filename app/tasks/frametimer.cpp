#include "tasks/frametimer.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace vexa::frametimer {

std::int64_t SteadyClock::counter() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t SteadyClock::frequency() const
{
    return 1000000000;
}

Stopwatch stopwatchNow(const Clock& clock)
{
    return { clock.counter(), clock.frequency() };
}

double millisecondsBetween(const Stopwatch& a, const Stopwatch& b)
{
    std::int64_t f = b.frequency > 0 ? b.frequency : 1;
    return static_cast<double>(b.counter - a.counter) / static_cast<double>(f) * 1000.0;
}

struct FrameTimerSystem::Registry {
    std::unique_ptr<TimerSource> source;
    std::vector<std::unique_ptr<FrameTimer>> timers;
    std::uint32_t creationCounter = 0;
    std::uint32_t idCounter = 0;
};

FrameTimerSystem::FrameTimerSystem(const Clock& clock, SourceFactory factory)
    : clock_(clock)
    , factory_(std::move(factory))
{
}

FrameTimerSystem::~FrameTimerSystem()
{
    if (registry_)
        for (auto& t : registry_->timers)
            for (std::uint32_t id : t->subIds)
                if (t->running)
                    registry_->source->kill(id);
}

FrameTimer* FrameTimerSystem::live(const FrameTimer* t) const
{
    if (!t || !registry_)
        return nullptr;
    for (auto& p : registry_->timers)
        if (p.get() == t)
            return p.get();
    return nullptr;
}

bool FrameTimerSystem::isLive(const FrameTimer* t) const
{
    return live(t) != nullptr;
}

int FrameTimerSystem::timerCount() const
{
    return registry_ ? static_cast<int>(registry_->timers.size()) : 0;
}

FrameTimer* FrameTimerSystem::create()
{
    if (!registry_) {
        auto reg = std::make_unique<Registry>();
        reg->source = factory_([this](std::uint32_t id) { onSubTimer(id); });
        if (!reg->source)
            return nullptr;
        registry_ = std::move(reg);
    }
    auto timer = std::make_unique<FrameTimer>();
    timer->number = ++registry_->creationCounter;
    FrameTimer* t = timer.get();
    registry_->timers.push_back(std::move(timer));
    setFrequency(t, 1.0);
    setSubCount(t, 1);
    return t;
}

void FrameTimerSystem::setFrequency(FrameTimer* t, double f)
{
    t = live(t);
    if (!t || !(f > 0) || !std::isfinite(f))
        return;
    bool wasRunning = t->running;
    if (wasRunning)
        stop(t);
    t->frequency = f;
    t->period = 1000.0 / f;
    double perTwo = std::floor(2000.0 / t->period);
    t->ticksPerTwoSeconds = perTwo >= INT_MAX ? INT_MAX : std::max(1, static_cast<int>(perTwo));
    if (wasRunning)
        start(t);
}

void FrameTimerSystem::assignSubIds(FrameTimer& t, int n)
{
    t.subCount = n;
    t.subIds.assign(static_cast<std::size_t>(n), 0);
    for (auto& id : t.subIds)
        id = ++registry_->idCounter;
}

void FrameTimerSystem::setSubCount(FrameTimer* t, int n)
{
    t = live(t);
    if (!t || n <= 0 || n > kMaxSubCount)
        return;
    bool wasRunning = t->running;
    if (wasRunning)
        stop(t);
    assignSubIds(*t, n);
    if (wasRunning)
        start(t);
}

void FrameTimerSystem::setCallback(FrameTimer* t, FrameTimerCallback callback)
{
    if ((t = live(t)))
        t->callback = std::move(callback);
}

void FrameTimerSystem::setCallbackArg(FrameTimer* t, void* arg)
{
    if ((t = live(t)))
        t->callbackArg = arg;
}

void FrameTimerSystem::start(FrameTimer* t)
{
    t = live(t);
    if (!t)
        return;
    if (t->running)
        stop(t);
    t->tickCount = 0;
    t->windowTicks = 0;
    t->startWatch = t->windowWatch = now();
    // Sub-periods are whole milliseconds, as the platform timers are.
    double wholePeriod = std::trunc(1000.0 / t->frequency);
    std::int64_t subPeriod = wholePeriod >= 9e15 ? static_cast<std::int64_t>(9e15)
                                                 : static_cast<std::int64_t>(wholePeriod);
    subPeriod = std::max<std::int64_t>(1, subPeriod / t->subCount);
    // Sub-timer k starts k/subCount of a period after the start. The source takes
    // the phase itself, so no spinning on the counter is needed to stagger them.
    for (int k = 1; k <= t->subCount; ++k) {
        double phase = std::max(1.0, t->period * k / t->subCount);
        registry_->source->arm(t->subIds[static_cast<std::size_t>(k - 1)], phase, subPeriod);
    }
    t->running = true;
}

void FrameTimerSystem::stop(FrameTimer* t)
{
    t = live(t);
    if (!t)
        return;
    for (std::uint32_t id : t->subIds)
        registry_->source->kill(id);
    t->running = false;
}

void FrameTimerSystem::destroy(FrameTimer* t)
{
    t = live(t);
    if (!t)
        return;
    auto it = std::find_if(registry_->timers.begin(), registry_->timers.end(),
        [t](const auto& p) { return p.get() == t; });
    std::unique_ptr<FrameTimer> owned = std::move(*it);
    registry_->timers.erase(it);
    owned->callback = nullptr;
    for (std::uint32_t id : owned->subIds)
        registry_->source->kill(id);
    owned.reset();
    if (registry_->timers.empty())
        registry_.reset();
}

double FrameTimerSystem::elapsed(const FrameTimer* t) const
{
    t = live(t);
    return t ? millisecondsBetween(t->startWatch, now()) : 0.0;
}

int FrameTimerSystem::getTickCount(const FrameTimer* t) const
{
    t = live(t);
    return t ? t->tickCount : 0;
}

int FrameTimerSystem::getTicksPerTwoSeconds(const FrameTimer* t) const
{
    t = live(t);
    return t ? t->ticksPerTwoSeconds : 0;
}

double FrameTimerSystem::getCurrentRate(const FrameTimer* t) const
{
    t = live(t);
    return t ? t->currentRate : 0.0;
}

double FrameTimerSystem::getMeasuredRate(const FrameTimer* t) const
{
    t = live(t);
    return t ? t->measuredRate : 0.0;
}

void FrameTimerSystem::onSubTimer(std::uint32_t id)
{
    if (!registry_)
        return;
    FrameTimer* t = nullptr;
    for (auto& p : registry_->timers)
        if (std::find(p->subIds.begin(), p->subIds.end(), id) != p->subIds.end()) {
            t = p.get();
            break;
        }
    if (!t)
        return;
    t->lastId = id;
    if (!t->running)
        return;

    Stopwatch stamp = now();
    if (t->tickCount > 0) {
        double ms = std::max(1.0, millisecondsBetween(t->startWatch, stamp));
        double rate = (t->tickCount + 1.0) * 1000.0 / ms;
        if (rate > t->frequency)
            return;
        t->currentRate = rate;
    }
    t->windowTicks += 1;
    t->tickCount += 1;
    double sinceWindow = millisecondsBetween(t->windowWatch, stamp);
    if (sinceWindow > 2000.0) {
        t->measuredRate = t->windowTicks * 1000.0 / sinceWindow;
        t->windowWatch = stamp;
        t->windowTicks = 0;
    }
    if (t->callback) {
        // A copy: the callback may destroy its own timer, and with it the original.
        FrameTimerCallback callback = t->callback;
        callback(t, t->callbackArg);
    }
}

// --- thread-backed source ---------------------------------------------------

struct ThreadTimerSource::Impl {
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Clock::time_point next;
        Clock::duration period;
    };
    // Shared with the deliveries queued to the interface thread, which may run after
    // the source is gone: they then do nothing.
    struct Shared {
        std::mutex mutex;
        bool alive = true;
        std::set<std::uint32_t> pending;
    };

    RunOnInterfaceThread run;
    TickSink sink;
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    std::mutex mutex;
    std::condition_variable wake;
    std::map<std::uint32_t, Entry> entries;
    bool quit = false;
    std::thread thread;

    void loop();
    void deliver(std::uint32_t id);
};

void ThreadTimerSource::Impl::deliver(std::uint32_t id)
{
    {
        std::lock_guard lock(shared->mutex);
        if (!shared->pending.insert(id).second)
            return; // the previous firing is still queued
    }
    if (!run) {
        std::lock_guard lock(shared->mutex);
        shared->pending.erase(id);
        return;
    }
    std::shared_ptr<Shared> s = shared;
    TickSink target = sink;
    run([s, target, id] {
        {
            std::lock_guard lock(s->mutex);
            s->pending.erase(id);
            if (!s->alive)
                return;
        }
        target(id);
    });
}

void ThreadTimerSource::Impl::loop()
{
    std::unique_lock lock(mutex);
    while (!quit) {
        if (entries.empty()) {
            wake.wait(lock);
            continue;
        }
        auto earliest = std::min_element(entries.begin(), entries.end(),
            [](auto& a, auto& b) { return a.second.next < b.second.next; });
        Clock::time_point due = earliest->second.next;
        if (Clock::now() < due) {
            wake.wait_until(lock, due);
            continue;
        }
        std::vector<std::uint32_t> fired;
        Clock::time_point t = Clock::now();
        for (auto& [id, e] : entries)
            if (e.next <= t) {
                fired.push_back(id);
                e.next += e.period;
                // A late source does not catch up with a burst.
                if (e.next <= t)
                    e.next = t + e.period;
            }
        lock.unlock();
        for (std::uint32_t id : fired)
            deliver(id);
        lock.lock();
    }
}

ThreadTimerSource::ThreadTimerSource(RunOnInterfaceThread run, TickSink sink)
    : impl_(std::make_unique<Impl>())
{
    impl_->run = std::move(run);
    impl_->sink = std::move(sink);
    impl_->thread = std::thread([impl = impl_.get()] { impl->loop(); });
}

ThreadTimerSource::~ThreadTimerSource()
{
    {
        std::lock_guard lock(impl_->mutex);
        impl_->quit = true;
    }
    impl_->wake.notify_all();
    impl_->thread.join();
    std::lock_guard lock(impl_->shared->mutex);
    impl_->shared->alive = false;
}

void ThreadTimerSource::arm(std::uint32_t id, double phaseMs, std::int64_t periodMs)
{
    using namespace std::chrono;
    // Periods of very low frequencies are capped at about a year so that the time
    // points cannot overflow the clock.
    constexpr std::int64_t kLongestMs = 365LL * 24 * 3600 * 1000;
    auto period = duration_cast<Impl::Clock::duration>(
        milliseconds(std::clamp<std::int64_t>(periodMs, 1, kLongestMs)));
    double phaseClamped
        = std::isfinite(phaseMs) ? std::clamp(phaseMs, 0.0, double(kLongestMs)) : 0.0;
    auto phase = duration_cast<Impl::Clock::duration>(duration<double, std::milli>(phaseClamped));
    {
        std::lock_guard lock(impl_->mutex);
        impl_->entries[id] = { Impl::Clock::now() + phase + period, period };
    }
    impl_->wake.notify_all();
}

void ThreadTimerSource::kill(std::uint32_t id)
{
    std::lock_guard lock(impl_->mutex);
    impl_->entries.erase(id);
}

// --- the program's timers ---------------------------------------------------

namespace {

std::mutex runnerMutex;
RunOnInterfaceThread installedRunner;

RunOnInterfaceThread currentRunner()
{
    std::lock_guard lock(runnerMutex);
    return installedRunner;
}

} // namespace

void setInterfaceRunner(RunOnInterfaceThread run)
{
    std::lock_guard lock(runnerMutex);
    installedRunner = std::move(run);
}

FrameTimerSystem& frameTimers()
{
    static SteadyClock clock;
    static FrameTimerSystem system(clock, [](TickSink sink) {
        return std::make_unique<ThreadTimerSource>(currentRunner(), std::move(sink));
    });
    return system;
}

} // namespace vexa::frametimer
