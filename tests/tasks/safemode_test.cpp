// "Mode 'Safe'": faults inside the guarded plug-in call of a worker end the task, not
// the program. Faults are real (a write to a page without access, a trap
// instruction, a stack overflow) or raised, never undefined behaviour that a
// sanitizer would stop first.
#include "tasktestsupport.h"

#include "tasks/safemode.h"
#include "tasks/taskmutex.h"

#include <csignal>
#include <future>
#include <sys/mman.h>

namespace vexa {
namespace {

using testing::TaskFixture;

void writeToProtectedPage()
{
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    *static_cast<volatile int*>(page) = 1;
}

volatile int gDepthLimit = 1 << 30;

int recurse(int depth)
{
    volatile char frame[1024];
    frame[depth % 1024] = char(depth);
    if (depth >= gDepthLimit)
        return frame[0];
    return recurse(depth + 1) + frame[depth % 1024];
}

void trap()
{
    __builtin_trap();
}

int guardedSignal(void (*fn)())
{
    return safeModeCall(
        [](void* f) { reinterpret_cast<void (*)()>(f)(); }, reinterpret_cast<void*>(fn));
}

TEST(SafeModeGuard, ReturnsZeroWhenTheCallReturns)
{
    int calls = 0;
    auto fn = [&] { ++calls; };
    EXPECT_EQ(safeModeRun(fn), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(safeModeActive());
}

TEST(SafeModeGuard, CatchesEachFaultWithItsSignalNumber)
{
    EXPECT_EQ(guardedSignal(writeToProtectedPage), SIGSEGV);
    EXPECT_EQ(guardedSignal(trap), SIGILL);
    EXPECT_EQ(guardedSignal([] { raise(SIGFPE); }), SIGFPE);
    EXPECT_EQ(guardedSignal([] { raise(SIGBUS); }), SIGBUS);
    // The guard is usable again after a fault.
    EXPECT_EQ(guardedSignal(writeToProtectedPage), SIGSEGV);
    EXPECT_FALSE(safeModeActive());
}

TEST(SafeModeGuard, CatchesAStackOverflowOnAWorkerThread)
{
    int signal = 0;
    std::thread worker([&] { signal = guardedSignal([] { recurse(0); }); });
    worker.join();
    EXPECT_EQ(signal, SIGSEGV);
}

TEST(SafeModeGuard, NestedGuardsReportToTheInnermost)
{
    int inner = -1;
    auto outer = [&] {
        inner = guardedSignal(trap);
        EXPECT_TRUE(safeModeActive());
    };
    EXPECT_EQ(safeModeRun(outer), 0);
    EXPECT_EQ(inner, SIGILL);
}

TEST(SafeModeGuard, ExceptionsAreReportedAsSuch)
{
    auto fn = [] { throw std::runtime_error("x"); };
    EXPECT_EQ(safeModeRun(fn), kSafeModeException);
}

TEST(SafeModeGuardDeathTest, OutsideAGuardedCallAFaultStillKills)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            guardedSignal(trap);
            raise(SIGSEGV);
        },
        "");
}

class SafeModeTask : public TaskFixture { };

TEST_F(SafeModeTask, CrashingPluginEndsItsTaskWithTheExceptionBox)
{
    taskSetSafeMode(true);
    DataRecord* image = newImage();
    unsigned out = 0;
    runCommand({}, "Plante", [&] {
        EXPECT_EQ(vexaImageGetIn(), image->imageId);
        out = vexaImageNew();
        // A fault while a callback holds the task mutex must not keep it.
        taskMutexLock();
        writeToProtectedPage();
    });
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 1);
    auto requests = host.requests();
    bool boxed = false;
    for (const auto& r : requests)
        if (r.code == GuiRequest::MessageBox)
            boxed = r.text == "Erreur 11|Exception";
    EXPECT_TRUE(boxed);
    EXPECT_EQ(image->busyCount, 0);
    DataRecord* result = dataFind(out);
    ASSERT_NE(result, nullptr); // the task ended normally: its output is shown
    EXPECT_EQ(result->name, "Plante");
    EXPECT_EQ(taskContextCount(), 0);
    // Another thread can take the task mutex.
    auto other = std::async(std::launch::async, [] {
        taskMutexLock();
        taskMutexUnlock();
    });
    EXPECT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

TEST_F(SafeModeTask, StackOverflowInAPluginIsCaught)
{
    taskSetSafeMode(true);
    runCommand({}, "Récursion", [] { recurse(0); });
    auto requests = host.requests();
    ASSERT_EQ(host.count(GuiRequest::MessageBox), 1);
    EXPECT_EQ(requests.back().text, "Erreur 11|Exception");
}

TEST_F(SafeModeTask, BuiltInHandlersAreNotGuarded)
{
    // Only the plug-in call is guarded: a well-behaved command shows no box.
    taskSetSafeMode(true);
    bool ran = false;
    runCommand([&] { ran = true; }, "Calcul", [] {});
    EXPECT_TRUE(ran);
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 0);
}

TEST_F(SafeModeTask, SafeModeIsReadWhenTheCommandStarts)
{
    std::promise<void> go;
    std::shared_future<void> gate = go.get_future().share();
    taskSetSafeMode(true);
    TaskCommand command;
    command.name = "Plus tard";
    command.builtin = [gate] { gate.wait(); };
    command.plugin = [] { trap(); };
    taskStartCommand(std::move(command));
    taskSetSafeMode(false); // too late for the command already started
    go.set_value();
    ASSERT_TRUE(waitForWorkers());
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 1);
}

} // namespace
} // namespace vexa
