#include "tasks/workerthread.h"

#include "log/crashnote.h"
#include "log/logmodel.h"
#include "tasks/safemode.h"
#include "tasks/taskcontext.h"
#include "tasks/taskmutex.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace vexa {

namespace {

std::atomic<bool> gMultitask { true };
std::atomic<bool> gSafeMode { false };

thread_local bool tIsWorker = false;

struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
};

// Never destroyed: a worker still running at exit must not meet a destroyed list
// (and a joinable std::thread destroyed at exit would terminate the program).
struct Workers {
    std::mutex mutex;
    std::condition_variable ended;
    std::list<Worker> list;
    int running = 0;
};

Workers& workers()
{
    static auto* w = new Workers;
    return *w;
}

void reapLocked(Workers& w, std::list<Worker>& finished)
{
    for (auto it = w.list.begin(); it != w.list.end();) {
        if (it->done->load()) {
            finished.push_back(std::move(*it));
            it = w.list.erase(it);
        } else {
            ++it;
        }
    }
}

void joinAll(std::list<Worker>& finished)
{
    for (Worker& worker : finished)
        if (worker.thread.joinable() && worker.thread.get_id() != std::this_thread::get_id())
            worker.thread.join();
}

void logTaskName(const std::string& name)
{
    if (isInterfaceThread())
        log::messageLog().add(2, name.c_str());
    else
        log::messageLog().post(name.c_str(), 2);
}

// Names the task after its command, writes the name to channel 2 of the log and
// starts its clock, under the task mutex as one step.
void beginCommand(TaskContext* context, const TaskCommand& command)
{
    TaskLock lock;
    taskSetName(context, command.name);
    logTaskName(command.name.substr(0, kTaskNameMax));
    taskSetCommand(context, command.commandId);
    taskResetTimer(context);
}

void runUnguarded(const std::function<void()>& fn)
{
    if (!fn)
        return;
    try {
        fn();
    } catch (...) {
        // A failed command ends silently; its task still ends and releases its data.
    }
}

void runGuarded(const std::function<void()>& fn)
{
    if (!fn)
        return;
    // Holds of the task mutex taken by callbacks the fault interrupted are given back.
    int depth = taskMutexDepth();
    auto call = [&fn] { fn(); };
    int signal = safeModeRun(call);
    if (signal > 0) {
        taskMutexReleaseTo(depth);
        char caption[32];
        std::snprintf(caption, sizeof caption, "Erreur %d", signal);
        hostMessageBox(caption, "Exception");
    }
}

// The plug-in call of a command; a fault outside safe mode ends the program, and the
// note it leaves names the command for the next start.
void runPluginCall(const TaskCommand& command, bool safe)
{
    if (!command.plugin)
        return;
    log::setCrashContext(("la commande « " + command.name + " »").c_str());
    if (safe)
        runGuarded(command.plugin);
    else
        runUnguarded(command.plugin);
    log::setCrashContext(nullptr);
}

void threadProcedure(TaskCommand command, bool safe, std::shared_ptr<std::atomic<bool>> done)
{
    tIsWorker = true;
    taskLowerThreadPriority();
    TaskContext* context = taskCreate();
    beginCommand(context, command);
    runUnguarded(command.builtin);
    runPluginCall(command, safe);
    runUnguarded(command.finished);
    taskEnd(context);

    Workers& w = workers();
    std::lock_guard lock(w.mutex);
    --w.running;
    done->store(true);
    w.ended.notify_all();
}

} // namespace

void taskSetMultitask(bool on)
{
    gMultitask.store(on);
}

bool taskMultitask()
{
    return gMultitask.load();
}

void taskSetSafeMode(bool on)
{
    gSafeMode.store(on);
}

bool taskSafeMode()
{
    return gSafeMode.load();
}

bool taskIsWorkerThread()
{
    return tIsWorker;
}

bool taskLowerThreadPriority()
{
    sched_param param {};
    param.sched_priority = 0;
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &param) == 0)
        return true;
    // setpriority on a thread id changes that thread only on Linux.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19) == 0;
}

bool taskStartCommand(TaskCommand command)
{
    if (!taskMultitask()) {
        // On the interface thread the command gets a context of its own for its
        // duration, so that what it takes is released and what it declares is shown
        // when it returns; plug-in calls there are never guarded.
        TaskContext* context = taskCreate();
        beginCommand(context, command);
        runUnguarded(command.builtin);
        runPluginCall(command, false);
        runUnguarded(command.finished);
        taskEnd(context);
        return false;
    }
    std::fputs("MultiThread !\n", stdout);
    std::fflush(stdout);
    bool safe = taskSafeMode();
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::list<Worker> finished;
    Workers& w = workers();
    {
        std::lock_guard lock(w.mutex);
        reapLocked(w, finished);
        ++w.running;
        try {
            w.list.push_back(
                Worker { std::thread(threadProcedure, std::move(command), safe, done), done });
        } catch (...) {
            --w.running;
            joinAll(finished);
            return false;
        }
    }
    joinAll(finished);
    return true;
}

int taskRunningWorkers()
{
    Workers& w = workers();
    std::lock_guard lock(w.mutex);
    return w.running;
}

void taskJoinFinishedWorkers()
{
    std::list<Worker> finished;
    Workers& w = workers();
    {
        std::lock_guard lock(w.mutex);
        reapLocked(w, finished);
    }
    joinAll(finished);
}

bool taskWaitForWorkers(const std::function<void()>& pump, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    Workers& w = workers();
    for (;;) {
        if (pump)
            pump();
        {
            std::unique_lock lock(w.mutex);
            if (w.running == 0)
                break;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            // Short waits: the workers may be blocked on a request only pump() serves.
            w.ended.wait_for(lock, std::chrono::milliseconds(5));
        }
    }
    taskJoinFinishedWorkers();
    return true;
}

} // namespace vexa
