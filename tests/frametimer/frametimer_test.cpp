#include "tasks/frametimer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace vexa::frametimer;

namespace {

// Microsecond counter moved by hand.
class FakeClock : public Clock {
public:
    std::int64_t counter() const override { return us; }
    std::int64_t frequency() const override { return 1000000; }
    double ms() const { return us / 1000.0; }
    std::int64_t us = 5000000;
};

// The scripted periodic source: records arming and fires sub-timers in time order
// while moving the fake clock. `resolutionMs` models a platform timer that cannot
// fire faster than its resolution.
struct FakeScheduler {
    struct Entry {
        double next;
        double period;
    };
    struct Arm {
        std::uint32_t id;
        double phase;
        std::int64_t period;
    };

    explicit FakeScheduler(FakeClock& c)
        : clock(c)
    {
    }

    SourceFactory factory()
    {
        return [this](TickSink given) -> std::unique_ptr<TimerSource> {
            ++created;
            sink = std::move(given);
            entries.clear();
            return std::make_unique<Source>(this);
        };
    }

    // Fires every due sub-timer up to clock time `untilMs`.
    void runFor(double durationMs)
    {
        double until = clock.ms() + durationMs;
        for (;;) {
            auto best = entries.end();
            for (auto it = entries.begin(); it != entries.end(); ++it)
                if (it->second.next <= until
                    && (best == entries.end() || it->second.next < best->second.next))
                    best = it;
            if (best == entries.end())
                break;
            std::uint32_t id = best->first;
            clock.us = static_cast<std::int64_t>(std::llround(best->second.next * 1000.0));
            best->second.next += best->second.period;
            ++fired;
            if (sink)
                sink(id); // may destroy the source and clear `entries`
        }
        clock.us = static_cast<std::int64_t>(std::llround(until * 1000.0));
    }

    struct Source : TimerSource {
        explicit Source(FakeScheduler* owner)
            : s(owner)
        {
        }
        ~Source() override
        {
            ++s->destroyed;
            s->entries.clear();
            s->sink = nullptr;
        }
        void arm(std::uint32_t id, double phaseMs, std::int64_t periodMs) override
        {
            s->arms.push_back({ id, phaseMs, periodMs });
            double p = std::max<double>(static_cast<double>(periodMs), s->resolutionMs);
            s->entries[id] = { s->clock.ms() + phaseMs + p, p };
        }
        void kill(std::uint32_t id) override
        {
            s->kills.push_back(id);
            s->entries.erase(id);
        }
        FakeScheduler* s;
    };

    FakeClock& clock;
    TickSink sink;
    std::map<std::uint32_t, Entry> entries;
    std::vector<Arm> arms;
    std::vector<std::uint32_t> kills;
    double resolutionMs = 0;
    int created = 0;
    int destroyed = 0;
    long fired = 0;
};

class FrameTimerTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakeScheduler sched { clock };
    FrameTimerSystem timers { clock, sched.factory() };
};

TEST_F(FrameTimerTest, CreationNumbersAndSubTimerIdentifiersCountFromOne)
{
    FrameTimer* a = timers.create();
    FrameTimer* b = timers.create();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->number, 1u);
    EXPECT_EQ(b->number, 2u);
    EXPECT_EQ(a->frequency, 1.0);
    EXPECT_EQ(a->period, 1000.0);
    EXPECT_EQ(a->ticksPerTwoSeconds, 2);
    EXPECT_EQ(a->subIds, (std::vector<std::uint32_t> { 1 }));
    EXPECT_EQ(b->subIds, (std::vector<std::uint32_t> { 2 }));
    timers.setSubCount(a, 3);
    EXPECT_EQ(a->subCount, 3);
    EXPECT_EQ(a->subIds, (std::vector<std::uint32_t> { 3, 4, 5 }));
    EXPECT_EQ(sched.created, 1); // one source for every timer
}

TEST_F(FrameTimerTest, InvalidFrequenciesAndSubCountsChangeNothing)
{
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 10);
    for (double f : { 0.0, -5.0, std::nan(""), std::numeric_limits<double>::infinity() })
        timers.setFrequency(t, f);
    EXPECT_EQ(t->frequency, 10.0);
    EXPECT_EQ(t->period, 100.0);
    timers.setSubCount(t, 0);
    timers.setSubCount(t, -3);
    timers.setSubCount(t, kMaxSubCount + 1);
    EXPECT_EQ(t->subCount, 1);
    EXPECT_EQ(t->subIds.size(), 1u);
}

TEST_F(FrameTimerTest, LowFrequencyGivesAtLeastOneTickPerTwoSeconds)
{
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 0.4);
    EXPECT_DOUBLE_EQ(t->period, 2500.0);
    EXPECT_EQ(t->ticksPerTwoSeconds, 1);
    timers.setFrequency(t, 25);
    EXPECT_EQ(t->ticksPerTwoSeconds, 50);
    timers.setFrequency(t, 1e300);
    EXPECT_EQ(t->ticksPerTwoSeconds, std::numeric_limits<int>::max());
}

TEST_F(FrameTimerTest, StartStaggersTheSubTimersAcrossOnePeriod)
{
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 25);
    timers.setSubCount(t, 10);
    sched.arms.clear();
    timers.start(t);
    ASSERT_EQ(sched.arms.size(), 10u);
    for (int k = 1; k <= 10; ++k) {
        EXPECT_EQ(sched.arms[k - 1].id, t->subIds[k - 1]);
        EXPECT_DOUBLE_EQ(sched.arms[k - 1].phase, 4.0 * k); // 40 ms x k / 10
        EXPECT_EQ(sched.arms[k - 1].period, 4); // trunc(40) / 10
    }
    EXPECT_TRUE(t->running);
}

TEST_F(FrameTimerTest, SubPeriodAndPhaseNeverFallBelowOneMillisecond)
{
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 2000); // period 0.5 ms
    timers.setSubCount(t, 4);
    sched.arms.clear();
    timers.start(t);
    for (const auto& a : sched.arms) {
        EXPECT_EQ(a.period, 1);
        EXPECT_GE(a.phase, 1.0);
    }
}

TEST_F(FrameTimerTest, DropsTicksAboveTheTargetRate)
{
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 25);
    timers.setSubCount(t, 10);
    int calls = 0;
    int arg = 0;
    timers.setCallbackArg(t, &arg);
    timers.setCallback(t, [&](FrameTimer* timer, void* a) {
        EXPECT_EQ(timer, t);
        EXPECT_EQ(a, &arg);
        ++calls;
    });
    timers.start(t);
    sched.runFor(10000);
    EXPECT_GT(sched.fired, 20000); // 10 sub-timers every 4 ms
    EXPECT_EQ(calls, t->tickCount);
    EXPECT_NEAR(t->tickCount, 250, 2);
    EXPECT_LE(t->currentRate, 25.0);
    EXPECT_GT(t->currentRate, 24.5);
    EXPECT_NEAR(t->measuredRate, 25.0, 0.5);
    EXPECT_NEAR(timers.elapsed(t), 10000.0, 1e-6);
}

TEST_F(FrameTimerTest, ASlowSourceDeliversEveryTickBelowTheTarget)
{
    sched.resolutionMs = 15; // the platform timer cannot go below 15 ms
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 100);
    timers.start(t);
    long before = sched.fired;
    sched.runFor(3000);
    EXPECT_EQ(t->tickCount, sched.fired - before);
    EXPECT_LT(t->currentRate, 100.0);
    EXPECT_NEAR(t->currentRate, 1000.0 / 15.0, 1.0);
    EXPECT_NEAR(t->measuredRate, 1000.0 / 15.0, 1.0);
}

TEST_F(FrameTimerTest, MeasuredRateIsTakenOnceMoreThanTwoSecondsHavePassed)
{
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 10);
    timers.start(t);
    sched.runFor(1999);
    EXPECT_EQ(t->measuredRate, 0.0);
    sched.runFor(200);
    EXPECT_NEAR(t->measuredRate, 10.0, 0.6);
    EXPECT_LT(t->windowTicks, 3);
}

TEST_F(FrameTimerTest, StopEndsTheTicksAndStartCountsAgain)
{
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 50);
    timers.setSubCount(t, 2);
    timers.start(t);
    sched.runFor(1000);
    int ticks = t->tickCount;
    EXPECT_GT(ticks, 40);
    timers.stop(t);
    EXPECT_FALSE(t->running);
    sched.runFor(1000);
    EXPECT_EQ(t->tickCount, ticks);
    timers.start(t);
    EXPECT_EQ(t->tickCount, 0);
    sched.runFor(100);
    EXPECT_GT(t->tickCount, 0);
}

TEST_F(FrameTimerTest, ChangingFrequencyOrSubCountRestartsARunningTimer)
{
    FrameTimer* t = timers.create();
    timers.start(t);
    sched.runFor(3500);
    EXPECT_GT(t->tickCount, 0);
    timers.setFrequency(t, 20);
    EXPECT_TRUE(t->running);
    EXPECT_EQ(t->tickCount, 0);
    timers.setSubCount(t, 4);
    EXPECT_TRUE(t->running);
    EXPECT_EQ(sched.entries.size(), 4u); // the old sub-timer was killed
    sched.runFor(1000);
    EXPECT_NEAR(t->tickCount, 20, 1);
}

TEST_F(FrameTimerTest, EachSubTimerTickReachesItsOwnTimer)
{
    FrameTimer* a = timers.create();
    FrameTimer* b = timers.create();
    timers.setFrequency(a, 10);
    timers.setFrequency(b, 5);
    timers.start(a);
    timers.start(b);
    sched.runFor(2000);
    EXPECT_NEAR(a->tickCount, 20, 1);
    EXPECT_NEAR(b->tickCount, 10, 1);
    EXPECT_EQ(a->lastId, a->subIds[0]);
    EXPECT_EQ(b->lastId, b->subIds[0]);
}

TEST_F(FrameTimerTest, DestroyingTheLastTimerResetsTheRegistry)
{
    FrameTimer* a = timers.create();
    FrameTimer* b = timers.create();
    timers.setSubCount(b, 3);
    timers.start(b);
    timers.destroy(a);
    EXPECT_TRUE(timers.hasRegistry());
    EXPECT_FALSE(timers.isLive(a));
    timers.destroy(b);
    EXPECT_FALSE(timers.hasRegistry());
    EXPECT_EQ(sched.destroyed, 1);
    FrameTimer* c = timers.create();
    EXPECT_EQ(sched.created, 2);
    EXPECT_EQ(c->number, 1u);
    EXPECT_EQ(c->subIds, (std::vector<std::uint32_t> { 1 }));
}

TEST_F(FrameTimerTest, OperationsOnNoTimerOrADestroyedOneDoNothing)
{
    FrameTimer* t = timers.create();
    timers.destroy(t);
    FrameTimer* gone = t;
    timers.start(gone);
    timers.setFrequency(gone, 3);
    timers.destroy(gone);
    timers.start(nullptr);
    EXPECT_EQ(timers.getTickCount(nullptr), 0);
    EXPECT_EQ(timers.getTicksPerTwoSeconds(nullptr), 0);
    EXPECT_EQ(timers.getCurrentRate(nullptr), 0.0);
    EXPECT_EQ(timers.getMeasuredRate(nullptr), 0.0);
    EXPECT_EQ(timers.elapsed(nullptr), 0.0);
    EXPECT_EQ(timers.timerCount(), 0);
}

TEST_F(FrameTimerTest, ACallbackMayDestroyItsOwnTimer)
{
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 10);
    int calls = 0;
    auto big = std::make_shared<std::vector<int>>(1000, 7); // state the callback owns
    timers.setCallback(t, [&, big](FrameTimer* self, void*) {
        ++calls;
        if (calls == 3)
            timers.destroy(self);
        EXPECT_EQ(big->at(999), 7);
    });
    timers.start(t);
    sched.runFor(2000);
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(timers.hasRegistry());
}

// A real source delivering through a queue that this thread (the "interface thread")
// drains.
TEST(FrameTimerConcurrency, ThreadSourceDeliversOnTheInterfaceThread)
{
    std::mutex m;
    std::deque<std::function<void()>> queue;
    RunOnInterfaceThread run = [&](std::function<void()> f) {
        std::lock_guard lock(m);
        queue.push_back(std::move(f));
    };
    SteadyClock clock;
    FrameTimerSystem timers(clock,
        [&](TickSink sink) { return std::make_unique<ThreadTimerSource>(run, std::move(sink)); });
    FrameTimer* t = timers.create();
    timers.setFrequency(t, 50);
    timers.setSubCount(t, 3);
    const auto self = std::this_thread::get_id();
    int wrongThread = 0;
    timers.setCallback(t, [&](FrameTimer*, void*) {
        if (std::this_thread::get_id() != self)
            ++wrongThread;
    });
    timers.start(t);
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < end) {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard lock(m);
            batch.swap(queue);
        }
        for (auto& f : batch)
            f();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(wrongThread, 0);
    EXPECT_GE(t->tickCount, 5);
    EXPECT_LE(t->tickCount, 17); // 50 per second over 0.3 s, never above
    timers.destroy(t);
    // Deliveries still queued after the source is gone do nothing.
    std::deque<std::function<void()>> rest;
    {
        std::lock_guard lock(m);
        rest.swap(queue);
    }
    for (auto& f : rest)
        f();
    EXPECT_FALSE(timers.hasRegistry());
}

} // namespace
