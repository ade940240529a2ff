// The task mutex: one re-entrant lock over the task list and every task context.
//
// It is re-entrant because locked operations call each other (the thread procedure
// names its task while holding it; the task end looks up the current task while it
// releases taskSlots). The lock keeps a per-thread hold count so that a worker recovering
// from a fault inside a plug-in call (safemode.h) can give back the holds that the
// plug-in's interrupted callbacks left behind.
#pragma once

namespace vexa {

void taskMutexLock();
void taskMutexUnlock();

// Number of holds the calling thread has on the task mutex.
int taskMutexDepth();

// Releases holds of the calling thread until its count is `depth`.
void taskMutexReleaseTo(int depth);

class TaskLock {
public:
    TaskLock() { taskMutexLock(); }
    ~TaskLock() { taskMutexUnlock(); }
    TaskLock(const TaskLock&) = delete;
    TaskLock& operator=(const TaskLock&) = delete;
};

} // namespace vexa
