// Commands as tasks: worker threads, the title and task window, log lines, commands
// on the interface thread and what the window layer asks before closing.
#include "tasktestsupport.h"

#include "tasks/taskdisplay.h"
#include "tasks/taskshutdown.h"
#include "tasks/tasktext.h"

#include <atomic>
#include <cmath>
#include <future>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <thread>

namespace vexa {
namespace {

using testing::TaskFixture;

class TaskWorkers : public TaskFixture {
protected:
    // Starts a worker command that blocks until release() is called.
    void startBlocked(const std::string& name, std::function<void()> before = {})
    {
        TaskCommand command;
        command.name = name;
        command.commandId = 1400;
        command.builtin = [this, before] {
            if (before)
                before();
            ++started_;
            gate_.wait();
        };
        ASSERT_TRUE(taskStartCommand(std::move(command)));
    }
    bool waitStarted(int n)
    {
        return host.runUntil([&] { return started_.load() >= n; });
    }
    void release() { open_.set_value(); }

    std::atomic<int> started_ { 0 };
    std::promise<void> open_;
    std::shared_future<void> gate_ = open_.get_future().share();
};

class TaskLog : public TaskFixture { };
class TaskDisplay : public TaskWorkers { };
class TaskShutdown : public TaskWorkers { };
class TaskInterfaceThread : public TaskFixture { };

TEST_F(TaskWorkers, TwoTasksRunSideBySideAndTheTitleCountsThem)
{
    taskMainContext(); // the interface thread's own context is not counted
    EXPECT_EQ(taskDisplayTitle(), "Vexa");
    startBlocked("Premier");
    ASSERT_TRUE(waitStarted(1));
    EXPECT_EQ(taskDisplayTitle(), "1 Calcul en cours...");
    startBlocked("Second");
    ASSERT_TRUE(waitStarted(2));
    EXPECT_EQ(taskDisplayTitle(), "2 Calculs en cours...");
    EXPECT_EQ(taskRunningWorkers(), 2);
    EXPECT_FALSE(taskMayQuit());
    release();
    ASSERT_TRUE(waitForWorkers());
    EXPECT_EQ(taskDisplayTitle(), "Vexa");
    EXPECT_TRUE(taskMayQuit());
}

TEST_F(TaskWorkers, WorkerRunsOnItsOwnThreadAtTheLowestPriority)
{
    std::thread::id testThread = std::this_thread::get_id(), workerThread;
    int policy = -1, niceValue = 0;
    bool onWorker = false;
    runCommand([&] {
        workerThread = std::this_thread::get_id();
        onWorker = taskIsWorkerThread();
        sched_param param {};
        pthread_getschedparam(pthread_self(), &policy, &param);
        niceValue = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    });
    EXPECT_NE(workerThread, testThread);
    EXPECT_TRUE(onWorker);
    EXPECT_FALSE(taskIsWorkerThread());
    EXPECT_TRUE(policy == SCHED_IDLE || niceValue == 19) << policy << " " << niceValue;
}

TEST_F(TaskWorkers, NameIsKeptTo199BytesAndTheCommandIsRecorded)
{
    std::string name(300, 'n');
    std::string seen;
    int command = 0;
    runCommand(
        [&] {
            TaskContext* c = taskCurrent();
            seen = c->name;
            command = c->commandId;
        },
        name);
    EXPECT_EQ(seen, std::string(199, 'n'));
    EXPECT_EQ(command, 1300);
}

TEST_F(TaskWorkers, SequenceNumbersFollowCreationOrder)
{
    std::vector<int> sequences;
    for (int i = 0; i < 3; ++i)
        runCommand([&] { sequences.push_back(taskCurrent()->sequence); });
    EXPECT_EQ(sequences, (std::vector<int> { 0, 1, 2 }));
}

TEST_F(TaskWorkers, ExceptionInACommandStillEndsTheTask)
{
    DataRecord* image = newImage();
    runCommand([&] {
        vexaImageGetIn();
        throw std::runtime_error("fails");
    });
    EXPECT_EQ(image->busyCount, 0);
    EXPECT_EQ(taskContextCount(), 0);
}

TEST_F(TaskLog, CreationNameAndDestructionLines)
{
    std::uint32_t threadId = 0;
    runCommand([&] { threadId = taskThreadId(); }, "Opérateurs Unaires");
    std::string created = "Thread - Création (" + std::to_string(threadId) + ")";
    EXPECT_TRUE(logHas(1, created));
    EXPECT_TRUE(logHas(2, "Opérateurs Unaires"));
    std::string destroyed = "Thread - Destruction (" + std::to_string(threadId) + ") - Temps ";
    bool found = false;
    for (const std::string& line : logLines(1))
        if (line.rfind(destroyed, 0) == 0 && line.size() > destroyed.size() + 2
            && line.substr(line.size() - 2) == " s")
            found = true;
    EXPECT_TRUE(found);
}

TEST_F(TaskLog, EndingNothingIsReported)
{
    taskEnd(nullptr);
    EXPECT_TRUE(logHas(1, "Thread - Destruction Impossible"));
    TaskContext* c = taskCreate();
    taskEnd(c);
    taskEnd(c); // already ended: reported, nothing freed twice
    auto lines = logLines(1);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "Thread - Destruction Impossible");
    EXPECT_EQ(lines[lines.size() - 2].rfind("Thread - Destruction (", 0), 0u);
}

TEST_F(TaskDisplay, RowsFollowRunningTasksWithTheirProgress)
{
    TaskWindowModel model;
    EXPECT_FALSE(model.update(std::time(nullptr)));
    startBlocked("Calcul", [] {
        dozTaskSetIntervalProgress(nullptr, 0, 100);
        dozTaskSetProgress(nullptr, 4);
    });
    ASSERT_TRUE(waitStarted(1));
    std::time_t start = taskListLock()->startTime;
    taskListUnlock();
    EXPECT_TRUE(model.update(start + 10));
    ASSERT_EQ(model.rows().size(), 1u);
    const TaskWindowRow& row = model.rows()[0];
    EXPECT_EQ(row.text.rfind("Tâche 0 (", 0), 0u);
    ASSERT_EQ(row.lines.size(), 3u);
    EXPECT_EQ(row.lines[0], "04.0 %");
    EXPECT_EQ(row.lines[1], "00:00:10");
    EXPECT_EQ(row.lines[2], "00:04:00"); // (1 / 0.04 - 1) × 10 s
    EXPECT_EQ(taskProgressIcon(row.fraction), 1);
    EXPECT_FALSE(model.update(start + 20)); // same rows, lines refreshed
    EXPECT_EQ(model.rows()[0].lines[1], "00:00:20");
    release();
    ASSERT_TRUE(waitForWorkers());
    EXPECT_TRUE(model.update(std::time(nullptr)));
    EXPECT_TRUE(model.rows().empty());
}

TEST(TaskProgressIcon, OneIconPerQuarterAndTheLastWhenDone)
{
    EXPECT_EQ(taskProgressIcon(-1), 1);
    EXPECT_EQ(taskProgressIcon(0.249), 1);
    EXPECT_EQ(taskProgressIcon(0.25), 2);
    EXPECT_EQ(taskProgressIcon(0.74), 3);
    EXPECT_EQ(taskProgressIcon(0.99), 4);
    EXPECT_EQ(taskProgressIcon(1.0), 5);
    EXPECT_EQ(taskProgressIcon(std::nan("")), 1);
}

TEST_F(TaskDisplay, NoProgressLinesBeforeTheFirstPosition)
{
    TaskWindowModel model;
    startBlocked("Calcul");
    ASSERT_TRUE(waitStarted(1));
    model.update(std::time(nullptr));
    ASSERT_EQ(model.rows().size(), 1u);
    EXPECT_EQ(model.rows()[0].lines.size(), 1u); // elapsed only
    release();
}

TEST_F(TaskDisplay, RowsClearedWhenTheInterfaceContextIsNewest)
{
    TaskWindowModel model;
    startBlocked("Calcul");
    ASSERT_TRUE(waitStarted(1));
    model.update(std::time(nullptr));
    EXPECT_EQ(model.rows().size(), 1u);
    TaskContext* mine = taskCreate(); // a command on the interface thread
    EXPECT_TRUE(model.update(std::time(nullptr)));
    EXPECT_TRUE(model.rows().empty());
    taskEnd(mine);
    release();
}

TEST_F(TaskShutdown, BusyRecordRefusesToCloseUntilTheTaskEnds)
{
    DataRecord* image = newImage();
    startBlocked("Calcul", [] { vexaImageGetIn(); });
    ASSERT_TRUE(waitStarted(1));
    EXPECT_FALSE(taskRecordMayClose(image));
    EXPECT_EQ(taskHeldDataCount(), 1);
    EXPECT_TRUE(taskCommandRunning([](int id) { return id == 1400; }));
    EXPECT_FALSE(taskCommandRunning([](int id) { return id == 1; }));
    EXPECT_FALSE(taskPrepareQuit([this] { host.processPending(); }, std::chrono::milliseconds(20)));
    release();
    EXPECT_TRUE(taskPrepareQuit([this] { host.processPending(); }, std::chrono::seconds(20)));
    EXPECT_TRUE(taskRecordMayClose(image));
    EXPECT_EQ(taskHeldDataCount(), 0);
    EXPECT_TRUE(taskRecordMayClose(nullptr));
}

TEST_F(TaskInterfaceThread, CommandWithoutMultitaskingRunsHereAndReleasesItsData)
{
    taskSetMultitask(false);
    TaskContext* main = taskMainContext();
    DataRecord* image = newImage();
    dataActivate(image);
    std::thread::id ranOn;
    unsigned out = 0;
    int busyDuring = -1;
    TaskCommand command;
    command.name = "Sans Multitâche";
    command.builtin = [&] {
        ranOn = std::this_thread::get_id();
        EXPECT_EQ(vexaImageGetIn(), image->imageId);
        busyDuring = image->busyCount;
        out = vexaImageNew();
    };
    EXPECT_FALSE(taskStartCommand(std::move(command)));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(busyDuring, 1);
    EXPECT_EQ(image->busyCount, 0);
    DataRecord* r = dataFind(out);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name, "Sans Multitâche");
    EXPECT_EQ(r->busyCount, 0); // not raised on the interface thread
    // The interface thread's own context is still there, and a second command may
    // take the same image again.
    EXPECT_EQ(taskCurrent(), main);
    command = {};
    unsigned again = 0;
    command.builtin = [&] { again = vexaImageGetIn(); };
    taskStartCommand(std::move(command));
    EXPECT_EQ(again, image->imageId);
}

TEST_F(TaskInterfaceThread, MainContextCollectsWhatIsTakenOutsideCommands)
{
    DataRecord* image = newImage();
    TaskContext* main = taskMainContext();
    EXPECT_EQ(main->isMain, 1);
    EXPECT_EQ(taskMainContext(), main);
    EXPECT_EQ(vexaImageGetIn(), image->imageId);
    EXPECT_EQ(image->busyCount, 1);
    EXPECT_EQ(taskCurrent()->taskSlots.size(), 1u);
    EXPECT_EQ(taskWorkerContextCount(), 0);
}

} // namespace
} // namespace vexa
