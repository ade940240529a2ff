// What the window layer asks before closing a data window or the program: a datum
// that a task holds must not go, and the program must not tear down its data while
// worker tasks still read or produce them.
#pragma once

#include "data/datarecord.h"

#include <chrono>
#include <functional>

namespace vexa {

// True when the window of the record may close: no running task holds the datum
// (busyCount is 0). A null record may close.
bool taskRecordMayClose(const DataRecord* record);

// Data held by running tasks: input taskSlots and shown outputs of every context.
int taskHeldDataCount();

// True when the program may close now: no worker task runs.
bool taskMayQuit();

// Before the program closes its data: resumes suspended tasks, waits up to timeout
// for the worker tasks to end, running pump (the interface thread's pending requests) meanwhile.
// True when no worker remains and the close may proceed; false means refuse to close.
bool taskPrepareQuit(const std::function<void()>& pump, std::chrono::milliseconds timeout);

// True while a task started by a command for which belongs(commandId) is true is
// running: a plug-in must not be unloaded under its own running commands.
bool taskCommandRunning(const std::function<bool(int commandId)>& belongs);

} // namespace vexa
