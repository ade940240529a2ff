#include "log/logmodel.h"
#include "support/fakehost.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using vexa::log::MessageLog;

namespace {

void fill(MessageLog& log, int channel, int n, const char* prefix = "l")
{
    for (int i = 1; i <= n; ++i)
        log.add(channel, (prefix + std::to_string(i)).c_str());
}

TEST(MessageLogRing, KeepsTheLastThousandLinesOldestFirst)
{
    MessageLog log;
    fill(log, 1, 1000);
    EXPECT_EQ(log.count(1), 1000);
    EXPECT_EQ(log.line(1, 0), "l1");
    log.add(1, "l1001");
    EXPECT_EQ(log.count(1), 1000);
    EXPECT_EQ(log.line(1, 0), "l2"); // the first line was replaced
    log.add(1, "l1002");
    EXPECT_EQ(log.line(1, 0), "l3");
    EXPECT_EQ(log.line(1, 998), "l1001");
    EXPECT_EQ(log.line(1, 999), "l1002");
    EXPECT_EQ(log.line(1, 1000), "");
    // Wraps around more than once without losing the order.
    fill(log, 1, 2500, "m");
    EXPECT_EQ(log.line(1, 0), "m1501");
    EXPECT_EQ(log.line(1, 999), "m2500");
}

TEST(MessageLogRing, ChannelsAreIndependentAndBadInputIsDropped)
{
    MessageLog log;
    log.add(0, "zero");
    log.add(2, "two");
    log.add(3, "nowhere");
    log.add(-1, "nowhere");
    log.add(1, nullptr);
    EXPECT_EQ(log.count(0), 1);
    EXPECT_EQ(log.count(1), 0);
    EXPECT_EQ(log.count(2), 1);
    EXPECT_EQ(log.line(2, 0), "two");
    EXPECT_EQ(log.count(7), 0);
}

TEST(MessageLogRing, LinesSentToADisabledChannelAreLost)
{
    MessageLog log;
    log.show(1);
    log.command(vexa::log::kCommandToggleEnabled); // "Msg" on the channel shown
    EXPECT_FALSE(log.enabled(1));
    EXPECT_TRUE(log.enabled(0));
    log.add(1, "lost");
    log.command(vexa::log::kCommandToggleEnabled);
    EXPECT_TRUE(log.enabled(1));
    EXPECT_EQ(log.count(1), 0);
    log.add(1, "kept");
    EXPECT_EQ(log.line(1, 0), "kept");
}

TEST(MessageLogRing, FormattedLinesGoToChannelOneWhateverTheirLength)
{
    MessageLog log;
    log.addFormatted("Thread - Destruction (%d) - Temps %f s", 12, 1.5);
    EXPECT_EQ(log.line(1, 0), "Thread - Destruction (12) - Temps 1.500000 s");
    std::string big(5000, 'x');
    log.addFormatted("%s-%d", big.c_str(), 7);
    EXPECT_EQ(log.line(1, 1), big + "-7");
}

TEST(MessageLogCommands, ClearEmptiesChannelZeroWhateverIsShown)
{
    MessageLog log;
    fill(log, 0, 5);
    fill(log, 1, 3);
    log.show(1);
    log.command(vexa::log::kCommandClear);
    EXPECT_EQ(log.count(0), 0);
    EXPECT_EQ(log.count(1), 3);
    EXPECT_EQ(log.line(1, 2), "l3");
    log.add(0, "again"); // the channel is usable after a clear
    EXPECT_EQ(log.line(0, 0), "again");
}

TEST(MessageLogCommands, ClearAfterWrapRestartsTheRing)
{
    MessageLog log;
    fill(log, 0, 1003);
    log.clearChannel0();
    fill(log, 0, 2, "n");
    EXPECT_EQ(log.count(0), 2);
    EXPECT_EQ(log.line(0, 0), "n1");
    EXPECT_EQ(log.line(0, 1), "n2");
}

TEST(MessageLogCommands, NewLinesScrollToTheLastPage)
{
    MessageLog log;
    log.resize(10 + 15 * 4, 10); // (70 - 10) / 15 = 4 lines fit
    EXPECT_EQ(log.linesThatFit(), 4);
    fill(log, 0, 10);
    EXPECT_EQ(log.firstShown(0), 6);
    EXPECT_EQ(log.visibleLines(), (std::vector<std::string> { "l7", "l8", "l9", "l10" }));
}

TEST(MessageLogCommands, ScrollingStaysWithinTheLines)
{
    MessageLog log;
    log.setLinesThatFit(4);
    fill(log, 0, 20);
    ASSERT_EQ(log.firstShown(0), 16);
    log.command(vexa::log::kScrollLineUp);
    EXPECT_EQ(log.firstShown(0), 15);
    log.command(vexa::log::kScrollPageUp);
    EXPECT_EQ(log.firstShown(0), 5);
    log.command(vexa::log::kScrollPageUp);
    EXPECT_EQ(log.firstShown(0), 0);
    log.command(vexa::log::kScrollLineDown);
    EXPECT_EQ(log.firstShown(0), 1);
    log.command(vexa::log::kScrollPosition, 500);
    EXPECT_EQ(log.firstShown(0), 19);
    log.command(vexa::log::kScrollPageDown);
    EXPECT_EQ(log.firstShown(0), 19);
    log.command(vexa::log::kScrollTrack, 3);
    EXPECT_EQ(log.firstShown(0), 3);
    EXPECT_EQ(log.visibleLines().front(), "l4");
}

TEST(MessageLogCommands, GrowingTheWindowKeepsTheLastPageFilled)
{
    MessageLog log;
    log.setLinesThatFit(4);
    fill(log, 0, 10);
    log.resize(10 + 15 * 8, 10);
    EXPECT_EQ(log.firstShown(0), 2);
    EXPECT_EQ(log.visibleLines().size(), 8u);
    log.resize(500, 0); // a degenerate font height changes nothing
    EXPECT_EQ(log.linesThatFit(), 8);
}

TEST(MessageLogCommands, RedrawsOnlyForTheChannelShown)
{
    MessageLog log;
    int redraws = 0;
    log.setChangeListener([&] { ++redraws; });
    log.add(1, "not shown");
    EXPECT_EQ(redraws, 0);
    log.add(0, "shown");
    EXPECT_EQ(redraws, 1);
    log.show(2);
    EXPECT_EQ(redraws, 2);
    log.add(2, "now shown");
    EXPECT_EQ(redraws, 3);
}

class MessageLogFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.ok()); }
    std::string readFile() const
    {
        std::ifstream in(dir_.file("vexa/log.txt"));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    vexatest::TempDir dir_ { "vexa-logtest" };
    // The log file lives under $TMPDIR: point it at the test's own folder.
    vexatest::ScopedEnv tmpdir_ { "TMPDIR", dir_.path().c_str() };
};

TEST_F(MessageLogFile, CopiesOnlyChannelZeroWhileTheSwitchIsOn)
{
    MessageLog log;
    EXPECT_EQ(MessageLog::filePath(), dir_.file("vexa/log.txt"));
    log.add(0, "before");
    log.command(vexa::log::kCommandToggleFile);
    ASSERT_TRUE(log.fileCopy());
    log.add(0, "first");
    log.add(1, "channel one");
    log.add(2, "channel two");
    log.add(0, "second");
    log.command(vexa::log::kCommandToggleFile);
    log.add(0, "after");
    EXPECT_EQ(readFile(), "first\nsecond\n");
}

TEST_F(MessageLogFile, DisabledChannelZeroWritesNothing)
{
    MessageLog log;
    log.setFileCopy(true);
    log.setEnabled(0, false);
    log.add(0, "dropped");
    EXPECT_EQ(readFile(), "");
}

TEST_F(MessageLogFile, AnUnwritableFolderLosesOnlyTheFileCopy)
{
    vexatest::ScopedEnv missing("TMPDIR", dir_.file("missing/deeper").c_str());
    MessageLog log;
    log.setFileCopy(true);
    log.add(0, "kept in memory");
    EXPECT_EQ(log.line(0, 0), "kept in memory");
}

TEST(MessageLogPosting, PostedLinesWaitForTheInterfaceThread)
{
    MessageLog log;
    int notified = 0;
    log.setPostNotifier([&] { ++notified; });
    log.post("from a worker");
    log.post("for channel two", 2);
    EXPECT_EQ(notified, 2);
    EXPECT_EQ(log.count(0), 0);
    EXPECT_EQ(log.postedCount(), 2);
    EXPECT_EQ(log.drainPosted(), 2);
    EXPECT_EQ(log.line(0, 0), "from a worker");
    EXPECT_EQ(log.line(2, 0), "for channel two");
    EXPECT_EQ(log.drainPosted(), 0);
}

TEST(MessageLogConcurrency, WorkersPostWhileTheInterfaceThreadDrains)
{
    MessageLog log;
    std::atomic<int> wakeups { 0 };
    log.setPostNotifier([&] { wakeups.fetch_add(1); });
    constexpr int kWorkers = 4;
    constexpr int kLines = 300;
    std::atomic<bool> done { false };
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < kLines; ++i)
                log.post(("w" + std::to_string(w) + " " + std::to_string(i)).c_str());
        });
    // A stray direct call from a worker must not corrupt the rings either.
    std::thread stray([&] {
        for (int i = 0; i < 200; ++i)
            log.add(1, "direct");
    });
    int drained = 0;
    while (!done.load()) {
        drained += log.drainPosted();
        if (drained == kWorkers * kLines)
            done = true;
        std::this_thread::yield();
    }
    for (auto& t : workers)
        t.join();
    stray.join();
    EXPECT_EQ(wakeups.load(), kWorkers * kLines);
    EXPECT_EQ(log.count(0), 1000);
    EXPECT_EQ(log.count(1), 200);
    // Each worker's lines keep their order.
    std::vector<int> last(kWorkers, -1);
    for (int i = 0; i < log.count(0); ++i) {
        std::string l = log.line(0, i);
        int w = l[1] - '0';
        int n = std::stoi(l.substr(3));
        EXPECT_GT(n, last[w]);
        last[w] = n;
    }
}

} // namespace

namespace {

TEST(ProgramLog, WithoutAHostPostedLinesAreAppliedAtOnce)
{
    int before = vexa::log::messageLog().count(0);
    vexa::log::logPost("headless line");
    EXPECT_EQ(vexa::log::messageLog().postedCount(), 0);
    EXPECT_EQ(vexa::log::messageLog().count(0), std::min(before + 1, 1000));
    vexa::log::logMessage("Fichier inconnu %s", "a.gdr");
    int n = vexa::log::messageLog().count(1);
    EXPECT_EQ(vexa::log::messageLog().line(1, n - 1), "Fichier inconnu a.gdr");
}

} // namespace

namespace {

TEST(ProgramLogConcurrency, WorkerLinesReachTheLogThroughTheHostLoop)
{
    vexa::FakeHost fake;
    vexa::installHost(&fake);
    auto& log = vexa::log::messageLog();
    log.clearChannel0();
    std::thread worker([] {
        for (int i = 0; i < 50; ++i)
            vexa::log::logPost(("worker " + std::to_string(i)).c_str());
    });
    worker.join();
    EXPECT_EQ(log.count(0), 0); // nothing until the interface loop runs
    EXPECT_TRUE(fake.runUntil([&] { return log.count(0) == 50; }));
    EXPECT_EQ(log.line(0, 49), "worker 49");
    // Every line added to the channel shown refreshed the log window.
    EXPECT_GE(fake.count(vexa::GuiRequest::LogLine), 50);
    vexa::installHost(nullptr);
}

} // namespace
