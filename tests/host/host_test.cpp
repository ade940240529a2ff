#include "support/fakehost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace vexa;

namespace {

class HostTest : public ::testing::Test {
protected:
    void SetUp() override { installHost(&fake); }
    void TearDown() override { installHost(nullptr); }
    FakeHost fake;
};

} // namespace

TEST_F(HostTest, InstallingMakesTheCallingThreadTheInterfaceThread)
{
    EXPECT_TRUE(isInterfaceThread());
    bool onWorker = true;
    std::thread([&] { onWorker = isInterfaceThread(); }).join();
    EXPECT_FALSE(onWorker);
}

TEST_F(HostTest, SynchronousRequestFromWorkerRunsOnInterfaceThreadAndBlocks)
{
    std::atomic<bool> finished { false };
    std::thread::id ranOn;
    std::thread worker([&] {
        runOnInterfaceThread(GuiRequest::OpenImage, [&] { ranOn = std::this_thread::get_id(); });
        finished = true;
    });
    // Nothing runs until the interface loop is pumped: the worker waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(finished.load());
    ASSERT_TRUE(fake.runUntil([&] { return finished.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(HostTest, ExceptionOnInterfaceThreadReachesTheWorker)
{
    std::atomic<bool> caught { false }, done { false };
    std::thread worker([&] {
        try {
            runOnInterfaceThread(GuiRequest::ParamDialog, [] { throw std::runtime_error("x"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        done = true;
    });
    ASSERT_TRUE(fake.runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(caught.load());
}

TEST_F(HostTest, RequestsOnTheInterfaceThreadRunAtOnce)
{
    bool ran = false;
    runOnInterfaceThread(GuiRequest::OpenGraph, [&] { ran = true; });
    EXPECT_TRUE(ran);
    ran = false;
    postToInterfaceThread(GuiRequest::LogLine, [&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST_F(HostTest, PostedLogLineFromWorkerDoesNotWait)
{
    std::thread([] { hostPostLogRefresh(); }).join();
    EXPECT_EQ(fake.count(GuiRequest::LogLine), 0);
    EXPECT_EQ(fake.processPending(), 1);
    EXPECT_EQ(fake.count(GuiRequest::LogLine), 1);
}

TEST_F(HostTest, OnlyTheLogLineIsAsynchronous)
{
    EXPECT_FALSE(isSynchronousRequest(GuiRequest::LogLine));
    for (GuiRequest code : { GuiRequest::CommandLine, GuiRequest::OpenImage, GuiRequest::OpenMview,
             GuiRequest::MessageBox, GuiRequest::ParamDialog, GuiRequest::AnimateEnd })
        EXPECT_TRUE(isSynchronousRequest(code));
}

TEST_F(HostTest, DialogsAnswerFromTheQueueThenCancel)
{
    fake.queueMessageAnswer(MessageAnswer::No);
    fake.queueFileAnswer(true, "/tmp/a.gdr");
    fake.queueListAnswer(2);
    fake.queueParamAnswer(1);

    MessageAnswer answer = MessageAnswer::Ok;
    std::string path;
    int index = -1, param = -1;
    std::atomic<bool> done { false };
    std::thread worker([&] {
        answer = hostMessageBox("Titre", "Texte", MessageButtons::YesNoCancel);
        hostChooseFile({}, path);
        index = hostChooseFromList("Liste", { "a", "b", "c" });
        param = hostParamDialog(nullptr);
        done = true;
    });
    ASSERT_TRUE(fake.runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(answer, MessageAnswer::No);
    EXPECT_EQ(path, "/tmp/a.gdr");
    EXPECT_EQ(index, 2);
    EXPECT_EQ(param, 1);
    auto requests = fake.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].code, GuiRequest::MessageBoxYesNoCancel);
    EXPECT_EQ(requests[0].text, "Titre|Texte");

    // Queues empty: every dialog reads as cancelled.
    EXPECT_EQ(hostMessageBox("a", "b", MessageButtons::YesNoCancel), MessageAnswer::Cancel);
    EXPECT_FALSE(hostChooseFile({}, path));
    EXPECT_EQ(hostChooseFromList("t", {}), -1);
    EXPECT_EQ(hostParamDialog(nullptr), 0);
}

TEST(HostAbsent, RequestsRunInlineAndDialogsCancel)
{
    installHost(nullptr);
    bool ran = false;
    std::thread([&] { runOnInterfaceThread(GuiRequest::OpenImage, [&] { ran = true; }); }).join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(hostMessageBox("a", "b"), MessageAnswer::Cancel);
    EXPECT_EQ(hostParamDialog(nullptr), 0);
}
