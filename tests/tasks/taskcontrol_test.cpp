// Suspending, resuming and stopping worker tasks from the task window.
#include "tasktestsupport.h"

#include "tasks/taskdisplay.h"
#include "tasks/taskmutex.h"
#include "tasks/taskshutdown.h"

#include <atomic>
#include <thread>

namespace vexa::testing {
namespace {

using namespace std::chrono_literals;

class TaskControl : public TaskFixture {
protected:
    void SetUp() override
    {
        TaskFixture::SetUp();
        // Closing a window deletes its record, as the interface does.
        host.onClose = [](WindowHandle w) { dataDelete(dataFindByWindow(w)); };
    }

    void start(std::function<void()> fn)
    {
        TaskCommand command;
        command.commandId = 1300;
        command.name = "Calcul";
        command.builtin = std::move(fn);
        ASSERT_TRUE(taskStartCommand(std::move(command)));
    }
};

TEST_F(TaskControl, SuspendedTaskWaitsAtItsCheckThenResumesToTheFullResult)
{
    std::atomic<bool> started { false }, release { false };
    std::atomic<int> steps { 0 };
    start([&] {
        vexaImageNew();
        started = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
        taskProgressRange(0, 9);
        for (int i = 0; i < 10; ++i) {
            if (!taskProgressContinue(i))
                return;
            ++steps;
        }
    });
    ASSERT_TRUE(pumpUntil([&] { return started.load(); }));
    std::int32_t sequence = workerSequence();
    EXPECT_TRUE(taskSuspend(sequence));
    EXPECT_FALSE(taskSuspend(sequence)) << "already suspended";
    release = true;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(steps.load(), 0);
    EXPECT_EQ(taskRunState(sequence), TaskRunState::Suspended);

    TaskWindowModel model;
    model.update(std::time(nullptr));
    ASSERT_EQ(model.rows().size(), 1u);
    EXPECT_EQ(model.rows()[0].state, TaskRunState::Suspended);
    TaskButtons buttons = TaskWindowModel::buttons(sequence);
    EXPECT_FALSE(buttons.suspend);
    EXPECT_TRUE(buttons.resume);
    EXPECT_TRUE(buttons.stop);

    EXPECT_TRUE(taskResume(sequence));
    ASSERT_TRUE(waitForWorkers());
    host.processPending();
    EXPECT_EQ(steps.load(), 10);
    ASSERT_EQ(dataListAll().size(), 1u) << "the output of a resumed task is shown";
    EXPECT_EQ(dataListAll()[0]->name, "Calcul");
    EXPECT_EQ(taskRunState(sequence), TaskRunState::None);
}

TEST_F(TaskControl, StoppedTaskEndsPromptlyAndNoneOfItsOutputsRemain)
{
    DataRecord* input = newImage();
    std::atomic<bool> shown { false };
    std::atomic<int> progressAnswer { -1 };
    start([&] {
        vexaImageGetIn();
        vexaImageNew(); // never shown by the task
        vexaBlockShow(vexaBlockNew()); // shown while the work runs
        shown = true;
        dozTaskSetIntervalProgress(nullptr, 0, 100);
        while (!dozTaskShouldStop(nullptr))
            std::this_thread::sleep_for(1ms);
        progressAnswer = dozTaskSetProgress(nullptr, 50);
    });
    ASSERT_TRUE(pumpUntil([&] { return shown.load(); }));
    EXPECT_EQ(dataListAll().size(), 2u);
    std::int32_t sequence = workerSequence();
    EXPECT_TRUE(TaskWindowModel::buttons(sequence).suspend);

    auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(taskStop(sequence));
    EXPECT_EQ(taskRunState(sequence), TaskRunState::Stopping);
    TaskButtons buttons = TaskWindowModel::buttons(sequence);
    EXPECT_FALSE(buttons.suspend || buttons.resume || buttons.stop);
    ASSERT_TRUE(waitForWorkers());
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    host.processPending();

    EXPECT_EQ(progressAnswer.load(), 0) << "progress answers 0 once stopped";
    ASSERT_EQ(dataListAll().size(), 1u);
    EXPECT_EQ(dataListAll()[0], input);
    EXPECT_EQ(input->busyCount, 0);
}

TEST_F(TaskControl, StopWakesASuspendedPluginCheck)
{
    std::atomic<bool> started { false };
    std::atomic<int> answer { -1 };
    start([&] {
        started = true;
        int stop = 0;
        while (!(stop = dozTaskShouldStop(nullptr)))
            std::this_thread::sleep_for(1ms);
        answer = stop;
    });
    ASSERT_TRUE(pumpUntil([&] { return started.load(); }));
    std::int32_t sequence = workerSequence();
    ASSERT_TRUE(taskSuspend(sequence));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(answer.load(), -1);
    EXPECT_TRUE(taskStop(sequence));
    EXPECT_FALSE(taskResume(sequence)) << "a stopping task is not resumed";
    ASSERT_TRUE(waitForWorkers());
    EXPECT_EQ(answer.load(), 1);
}

TEST_F(TaskControl, QuittingResumesASuspendedTaskInsteadOfWaitingForever)
{
    std::atomic<bool> started { false };
    std::atomic<int> steps { 0 };
    start([&] {
        started = true;
        while (steps < 3 && taskProgressContinue(steps))
            ++steps;
    });
    ASSERT_TRUE(pumpUntil([&] { return started.load(); }));
    taskSuspend(workerSequence());
    EXPECT_TRUE(taskPrepareQuit([this] { host.processPending(); }, 5s));
    EXPECT_EQ(steps.load(), 3);
}

TEST_F(TaskControl, OnlyWorkerTasksAreControlledAndOthersNeverWait)
{
    EXPECT_EQ(dozTaskShouldStop(nullptr), 0);
    TaskContext* main = taskMainContext();
    std::int32_t sequence = main->sequence;
    EXPECT_FALSE(taskSuspend(sequence));
    EXPECT_FALSE(taskStop(sequence));
    EXPECT_EQ(taskRunState(sequence), TaskRunState::None);
    EXPECT_EQ(taskRunState(12345), TaskRunState::None);
    TaskButtons none = TaskWindowModel::buttons(12345);
    EXPECT_FALSE(none.suspend || none.resume || none.stop);

    // A check made while holding the task mutex answers at once even when suspended.
    std::atomic<bool> started { false }, release { false }, answered { false };
    start([&] {
        started = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
        TaskLock lock;
        answered = !taskStopRequested();
    });
    ASSERT_TRUE(pumpUntil([&] { return started.load(); }));
    std::int32_t worker = workerSequence();
    ASSERT_TRUE(taskSuspend(worker));
    release = true;
    ASSERT_TRUE(pumpUntil([&] { return answered.load(); }));
    ASSERT_TRUE(waitForWorkers());
}

} // namespace
} // namespace vexa::testing
