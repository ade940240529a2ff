#include "tasks/taskmutex.h"

#include <mutex>

namespace vexa {

namespace {

std::recursive_mutex& taskMutex()
{
    // Created on first use, never destroyed: workers still ending at exit may take it.
    static auto* mutex = new std::recursive_mutex;
    return *mutex;
}

thread_local int tDepth = 0;

} // namespace

void taskMutexLock()
{
    taskMutex().lock();
    ++tDepth;
}

void taskMutexUnlock()
{
    if (tDepth <= 0)
        return;
    --tDepth;
    taskMutex().unlock();
}

int taskMutexDepth()
{
    return tDepth;
}

void taskMutexReleaseTo(int depth)
{
    if (depth < 0)
        depth = 0;
    while (tDepth > depth)
        taskMutexUnlock();
}

} // namespace vexa
