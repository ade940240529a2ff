// Shared set-up of the task tests: a fake host on the test thread, which acts as the
// interface thread and serves the workers' requests while it waits for them.
#pragma once

#include "data/dataapi.h"
#include "data/registry.h"
#include "log/logmodel.h"
#include "support/fakehost.h"
#include "tasks/taskapi.h"
#include "tasks/taskcontext.h"
#include "tasks/workerthread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vexa::testing {

class TaskFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        installHost(&host);
        taskResetAll();
        dataResetRegistry();
        taskSetMultitask(true);
        taskSetSafeMode(false);
        log::messageLog().drainPosted();
    }

    void TearDown() override
    {
        EXPECT_TRUE(waitForWorkers());
        taskResetAll();
        host.processPending();
        dataResetRegistry();
        host.processPending();
        taskSetMultitask(true);
        taskSetSafeMode(false);
        installHost(nullptr);
    }

    bool waitForWorkers()
    {
        return taskWaitForWorkers([this] { host.processPending(); }, std::chrono::seconds(20));
    }

    // Runs fn as the built-in part of a command on a worker and waits for the task to
    // end. The name is the command's menu text.
    void runCommand(std::function<void()> fn, const std::string& name = "Racine Carrée",
        std::function<void()> plugin = {})
    {
        TaskCommand command;
        command.commandId = 1300;
        command.name = name;
        command.builtin = std::move(fn);
        command.plugin = std::move(plugin);
        taskStartCommand(std::move(command));
        ASSERT_TRUE(waitForWorkers());
    }

    // Serves the workers' requests until ready() holds; false after 10 s.
    bool pumpUntil(const std::function<bool()>& ready)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!ready()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            host.processPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Sequence of the newest worker task, -1 when none runs.
    static std::int32_t workerSequence()
    {
        TaskContext* head = taskListLock();
        std::int32_t sequence = -1;
        for (TaskContext* c = head; c && sequence < 0; c = c->next)
            if (!c->isMain)
                sequence = c->sequence;
        taskListUnlock();
        return sequence;
    }

    DataRecord* newImage(int width = 16, int height = 16)
    {
        auto object = std::make_unique<ImageObject>();
        object->image->width = width;
        object->image->height = height;
        object->image->samples.allocate(std::size_t(width) * std::size_t(height));
        return dataCreateImage(std::move(object), kFreshId, kFreshId);
    }

    DataRecord* newBlockImage(int dim = 4)
    {
        auto object = std::make_unique<ImageObject>();
        object->block = std::make_unique<BlockDescriptor>();
        object->block->dimX = object->block->dimY = object->block->dimZ = dim;
        blockPrepareStorage(*object->block);
        return dataCreateImage(std::move(object), kFreshId, kFreshId);
    }

    DataRecord* newKind(int kind)
    {
        return dataCreateKind(kind, std::make_unique<KindObject>(), kFreshId, kFreshId);
    }

    static std::vector<std::string> logLines(int channel)
    {
        log::messageLog().drainPosted();
        std::vector<std::string> lines;
        int count = log::messageLog().count(channel);
        for (int i = 0; i < count; ++i)
            lines.push_back(log::messageLog().line(channel, i));
        return lines;
    }

    static bool logHas(int channel, const std::string& text)
    {
        for (const std::string& line : logLines(channel))
            if (line == text)
                return true;
        return false;
    }

    FakeHost host;
};

} // namespace vexa::testing
