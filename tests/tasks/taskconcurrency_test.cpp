// Several worker tasks at once against the interface thread: inputs, outputs,
// progress and the task display all under way together. Run under ThreadSanitizer.
#include "tasktestsupport.h"

#include "tasks/taskdisplay.h"

#include <atomic>
#include <latch>
#include <map>
#include <set>

namespace vexa {
namespace {

using testing::TaskFixture;

class TaskConcurrency : public TaskFixture { };

TEST_F(TaskConcurrency, ParallelTasksTakeInputsAndShowOutputsWhileTheDisplayRefreshes)
{
    constexpr int kImages = 3;
    constexpr int kTasks = 6;
    std::vector<DataRecord*> images;
    for (int i = 0; i < kImages; ++i) {
        images.push_back(newImage(8, 8));
        dataActivate(images.back());
    }
    std::vector<std::vector<unsigned>> inputs(kTasks);
    std::vector<std::vector<unsigned>> outputs(kTasks);
    std::atomic<int> finished { 0 };
    for (int t = 0; t < kTasks; ++t) {
        TaskCommand command;
        command.commandId = 2000 + t;
        command.name = "Commande " + std::to_string(t);
        command.builtin = [t, &inputs, &outputs, &finished] {
            // Outputs of the other tasks appear meanwhile, behind the activated images.
            for (int i = 0; i < kImages; ++i)
                inputs[t].push_back(vexaImageGetIn());
            dozTaskSetIntervalProgress(nullptr, 0, 9);
            unsigned image = vexaImageNew();
            vexaImageSetSize(image, 8, 4);
            unsigned block = vexaBlockNew();
            dozDataSetBlockSize(nullptr, 1, 4, 4, 2);
            for (int p = 0; p <= 9; ++p)
                dozTaskSetProgress(nullptr, p);
            if (t % 2)
                vexaImageShow(image);
            outputs[t] = { image, block };
            ++finished;
        };
        ASSERT_TRUE(taskStartCommand(std::move(command)));
    }
    TaskWindowModel model;
    std::set<std::string> titles;
    ASSERT_TRUE(host.runUntil([&] {
        titles.insert(taskDisplayTitle());
        model.update(std::time(nullptr));
        return finished.load() == kTasks && taskRunningWorkers() == 0;
    }));
    ASSERT_TRUE(waitForWorkers());

    for (int t = 0; t < kTasks; ++t) {
        // Each task holds every image once, most recent first.
        EXPECT_EQ(inputs[t],
            (std::vector<unsigned> { images[2]->imageId, images[1]->imageId, images[0]->imageId }));
        ASSERT_EQ(outputs[t].size(), 2u);
        for (unsigned id : outputs[t]) {
            DataRecord* r = dataFind(id);
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(r->name, "Commande " + std::to_string(t));
            EXPECT_EQ(r->shownByTask, 1);
            EXPECT_EQ(r->busyCount, 0);
        }
        EXPECT_EQ(dataFind(outputs[t][1])->block()->dimZ, 2);
    }
    for (DataRecord* image : images)
        EXPECT_EQ(image->busyCount, 0);
    EXPECT_EQ(dataListAll().size(), std::size_t(kImages + 2 * kTasks));
    EXPECT_EQ(taskDisplayTitle(), "Vexa");
    model.update(std::time(nullptr));
    EXPECT_TRUE(model.rows().empty());
    EXPECT_EQ(taskContextCount(), 0);
}

TEST_F(TaskConcurrency, EachTaskFindsItsOwnContext)
{
    constexpr int kTasks = 4;
    std::vector<std::string> names(kTasks);
    std::latch ready(kTasks);
    for (int t = 0; t < kTasks; ++t) {
        TaskCommand command;
        command.name = "Tâche parallèle " + std::to_string(t);
        command.builtin = [t, &names, &ready] {
            // Everyone waits until all contexts exist, so lookups see the others.
            ready.arrive_and_wait();
            names[t] = taskCurrent()->name;
        };
        taskStartCommand(std::move(command));
    }
    ASSERT_TRUE(waitForWorkers());
    for (int t = 0; t < kTasks; ++t)
        EXPECT_EQ(names[t], "Tâche parallèle " + std::to_string(t));
}

TEST_F(TaskConcurrency, CommandsStartedFromWorkersAndTheInterfaceAtOnce)
{
    std::atomic<int> ran { 0 };
    for (int i = 0; i < 3; ++i) {
        TaskCommand command;
        command.builtin = [&ran] {
            ++ran;
            TaskCommand nested;
            nested.builtin = [&ran] { ++ran; };
            taskStartCommand(std::move(nested));
        };
        taskStartCommand(std::move(command));
    }
    ASSERT_TRUE(host.runUntil([&] { return ran.load() == 6; }));
    ASSERT_TRUE(waitForWorkers());
    EXPECT_EQ(taskRunningWorkers(), 0);
}

} // namespace
} // namespace vexa
