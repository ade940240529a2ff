// Starting commands: with "Multitâche" on each command runs as a task on a worker
// thread of its own at the lowest scheduling priority; with it off, on the interface
// thread. With "Mode 'Safe'" on, the plug-in call of a worker task is guarded
// (safemode.h): a fault shows the "Erreur %d" / "Exception" box and the task ends
// normally, releasing its data.
#pragma once

#include "host/host.h"

#include <chrono>
#include <functional>
#include <string>

namespace vexa {

struct TaskCommand {
    int commandId = 0;
    WindowHandle window = nullptr;
    // The command's menu text (the window layer looks it up: main menu first, then
    // the menu of the image window the command came from). Kept to 199 bytes.
    std::string name;
    // Built-in handlers: run first, never guarded.
    std::function<void()> builtin;
    // The call into a plug-in: guarded in safe mode when run on a worker.
    std::function<void()> plugin;
    // Runs after the plug-in call, also when a guarded fault cut it short (the
    // loader counts the commands of a library still running).
    std::function<void()> finished;
};

// Process-wide switches of the "Librairies" menu: multitasking on, safe mode off at
// start.
void taskSetMultitask(bool on);
bool taskMultitask();
void taskSetSafeMode(bool on);
bool taskSafeMode();

// Runs a command as a task. With multitasking on it returns at once, the command
// running on a new worker thread; otherwise it returns when the command is done.
// Returns true when a worker was started.
bool taskStartCommand(TaskCommand command);

// True on a thread started by taskStartCommand.
bool taskIsWorkerThread();

// Worker threads started and not finished.
int taskRunningWorkers();

// Waits (on the interface thread) for every worker to finish, calling pump (which runs
// the requests workers send to the interface thread) between checks. True when all
// finished before the timeout. Finished threads are joined.
bool taskWaitForWorkers(const std::function<void()>& pump, std::chrono::milliseconds timeout);

// Joins the threads of workers that have finished.
void taskJoinFinishedWorkers();

// Puts the calling thread at the lowest scheduling priority (SCHED_IDLE, or nice 19
// where that is refused). True when one of them took effect.
bool taskLowerThreadPriority();

} // namespace vexa
