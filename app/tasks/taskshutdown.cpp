#include "tasks/taskshutdown.h"

#include "tasks/taskcontext.h"
#include "tasks/workerthread.h"

namespace vexa {

namespace {

struct ListUnlock {
    ~ListUnlock() { taskListUnlock(); }
};

} // namespace

bool taskRecordMayClose(const DataRecord* record)
{
    return !record || record->busyCount.load() == 0;
}

int taskHeldDataCount()
{
    int count = 0;
    TaskContext* head = taskListLock();
    ListUnlock unlock;
    for (TaskContext* c = head; c; c = c->next)
        for (const TaskSlot& slot : c->taskSlots)
            if (slot.record)
                ++count;
    return count;
}

bool taskMayQuit()
{
    return taskRunningWorkers() == 0;
}

bool taskPrepareQuit(const std::function<void()>& pump, std::chrono::milliseconds timeout)
{
    // A task the user suspended would hold the close until the timeout: it goes on.
    taskResumeAll();
    return taskWaitForWorkers(pump, timeout);
}

bool taskCommandRunning(const std::function<bool(int commandId)>& belongs)
{
    if (!belongs)
        return false;
    // The whole walk is under the task mutex: belongs must not wait for anything.
    TaskContext* head = taskListLock();
    ListUnlock unlock;
    for (TaskContext* c = head; c; c = c->next)
        if (!c->ending && c->commandId != 0 && belongs(c->commandId))
            return true;
    return false;
}

} // namespace vexa
