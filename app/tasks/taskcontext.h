// Tasks: every command runs as a task, described by a TaskContext found from any code
// by the calling thread's identifier. A context collects the task's inputs (data taken
// from the registry, most recently activated first) and outputs (data it declares,
// created in the registry when shown), its progress and its timing.
//
// Threads. One re-entrant mutex (taskmutex.h) guards the list and every context.
// Work that needs the interface thread (taking inputs from the registry, creating the
// records of outputs, releasing data at the end) is sent there with a synchronous
// request, and the task mutex is never held while waiting for it: the interface
// thread takes the same mutex to refresh the task display.
#pragma once

#include "data/datarecord.h"
#include "tasks/taskprogress.h"
#include "vexa_plugin.h"

#include <cstdint>
#include <ctime>
#include <memory>
#include <pthread.h>
#include <string>
#include <vector>

namespace vexa {

// Plug-ins pass these numbers: the values come from the SDK header only.
enum SlotKind : int {
    SLOT_IMAGE_IN = VEXA_SLOT_IMAGE_IN,
    SLOT_IMAGE_OUT = VEXA_SLOT_IMAGE_OUT,
    SLOT_BLOCK_IN = VEXA_SLOT_BLOCK_IN,
    SLOT_BLOCK_OUT = VEXA_SLOT_BLOCK_OUT,
    SLOT_STUDY_IN = VEXA_SLOT_STUDY_IN,
    SLOT_GRAPH_OUT = VEXA_SLOT_GRAPH_OUT,
    SLOT_VIEW3D_IN = VEXA_SLOT_VIEW3D_IN,
    SLOT_VIEW3D_OUT = VEXA_SLOT_VIEW3D_OUT,
};

constexpr bool slotIsInput(int kind)
{
    return kind == SLOT_IMAGE_IN || kind == SLOT_BLOCK_IN || kind == SLOT_STUDY_IN
        || kind == SLOT_VIEW3D_IN;
}
constexpr bool slotIsOutput(int kind)
{
    return kind == SLOT_IMAGE_OUT || kind == SLOT_BLOCK_OUT || kind == SLOT_GRAPH_OUT
        || kind == SLOT_VIEW3D_OUT;
}

// Sizes of the objects of outputs nobody configures.
constexpr int kDefaultImageSize = 512;
constexpr int kDefaultBlockSize = 64;
constexpr int kDefaultObjectSize = 200;
constexpr int kTaskNameMax = 199;

struct TaskSlot {
    int kind = SLOT_IMAGE_IN;
    std::uint32_t imageId = 0;
    std::uint32_t blockId = 0;
    // Image and block outputs until shown: the ImageObject (with its block for a block
    // output).
    std::unique_ptr<ImageObject> image;
    // Graph and View 3D outputs until shown: the size of the object to make.
    int objectWidth = kDefaultObjectSize;
    int objectHeight = kDefaultObjectSize;
    DataRecord* record = nullptr;
    // Set while the record of an output is being made, and for an output that could
    // not be made: the slot is not shown again.
    bool showing = false;
    bool failed = false;

    bool shown() const { return record != nullptr; }
};

struct TaskContext {
    TaskContext* prev = nullptr; // newer context
    TaskContext* next = nullptr; // older context
    std::string name; // the command's menu text, at most kTaskNameMax bytes
    std::int32_t commandId = 0;
    std::int32_t shownCount = 0;
    std::int32_t sequence = 0;
    std::vector<TaskSlot> taskSlots;
    TaskProgress progress;
    std::time_t startTime = 0;
    int isMain = 0; // a context of the interface thread
    pthread_t thread {};
    std::uint32_t threadId = 0;
    std::int64_t clockStart = 0; // milliseconds of a steady clock
    std::int64_t clockEnd = 0;
    double elapsed = 0;
    std::string startText;
    // Set by taskEnd: the context no longer takes inputs or outputs.
    bool ending = false;
    // Asked from the task window; guarded by the control lock of taskcontext.cpp, not
    // by the task mutex, so that a suspended task can wait without holding the latter.
    bool suspendRequested = false;
    bool stopRequested = false;
};

// What the task window may ask of a task.
enum class TaskRunState : int {
    None, // no such task, or the interface thread's own
    Running,
    Suspended,
    Stopping, // stop asked; the task ends at its next check
};

// Identifier of the calling thread (its kernel thread id): the lookup key.
std::uint32_t taskThreadId();
// Milliseconds of the steady clock used by clockStart and clockEnd.
std::int64_t taskClockMs();

// True once the user asked the task running on the calling thread to stop; long work
// checks it at least every 100 ms and ends cleanly without outputs. While the task is
// suspended the call waits until it is resumed or stopped: suspension happens at these
// checks only. False outside worker tasks; never waits on the interface thread or
// while the caller holds the task mutex (the interface thread would block on it).
bool taskStopRequested();

// Control of a worker task by its sequence number (the task window's rows). Each
// returns true when the state changed: suspend a running task, resume a suspended
// one, stop a running or suspended one. The interface thread's contexts refuse all.
// A stopped task's outputs are closed when it ends, whether or not it noticed.
bool taskSuspend(std::int32_t sequence);
bool taskResume(std::int32_t sequence);
bool taskStop(std::int32_t sequence);
TaskRunState taskRunState(std::int32_t sequence);
// Resumes every suspended task (before quitting: a suspended task would never end).
void taskResumeAll();

// Progress for built-in work: sets the interval of the calling thread's task / moves
// it to position, then checks for a stop (waiting while suspended). The second is
// false when the work should end now.
void taskProgressRange(std::int32_t first, std::int32_t last);
bool taskProgressContinue(std::int32_t position);

// Creates a context for the calling thread at the head of the list, writes
// "Thread - Création (%d)" to channel 1 of the log. The context belongs to the
// interface thread (isMain) when it is made there, outside a worker.
TaskContext* taskCreate();
// The context of the calling thread (the newest one when it has several); when it has
// none, the head of the list; null when the list is empty.
TaskContext* taskCurrent();
// Shows the outputs not shown yet, releases every datum the task holds, stores the
// compute time on the outputs, unlinks and frees the context and writes
// "Thread - Destruction (%d) - Temps %f s". A null context writes
// "Thread - Destruction Impossible" and changes nothing.
void taskEnd(TaskContext* context);

// The interface thread's own context, made on first use (start-up calls it). It
// collects what is taken or declared on the interface thread outside any command.
TaskContext* taskMainContext();

// Take the task mutex and return the head of the list / release it (task window).
TaskContext* taskListLock();
void taskListUnlock();

void taskSetName(TaskContext* context, const std::string& name);
void taskSetCommand(TaskContext* context, int commandId);
void taskResetTimer(TaskContext* context);

// Running contexts that are not the interface thread's.
int taskWorkerContextCount();
// Contexts in the list (all kinds).
int taskContextCount();

// Inputs. Takes the next record of the kind (0 image, 2 block, 4 study, 6 View 3D)
// that the task does not hold yet, in order of last activation; raises its busyCount
// and returns the slot's identifier (blockId for a block input), 0 when none is left.
std::uint32_t taskTakeInput(TaskContext* context, int slotKind);

// Outputs. Appends a slot of an output kind (1, 3, 5, 7) with two fresh identifiers
// and its default object; returns the identifier given to the task (blockId for a
// block output), 0 when the kind is not an output or the context is ending.
std::uint32_t taskDeclareOutput(TaskContext* context, int slotKind);

// Appends an output slot holding a given ImageObject (image and block outputs; null
// makes the default one). Returns the slot's index, -1 when refused.
int taskAddOutput(TaskContext* context, int slotKind, std::unique_ptr<ImageObject> object);

// Shows an output now: creates its record (on the interface thread), names it after
// the task, marks it shown by a task and, for a worker, raises its busyCount. Returns
// the record; the existing one when already shown; null when the slot is unknown or
// the record cannot be made.
DataRecord* taskShowOutput(TaskContext* context, int slotIndex);

// Index of the slot of a kind whose identifier is id (imageId, or blockId for blocks),
// -1 when none. Must be called under the task mutex.
int taskFindSlot(const TaskContext* context, int slotKind, std::uint32_t id);
// Index of the n-th (1-based) slot of a kind, -1 when none. Under the task mutex.
int taskNthSlot(const TaskContext* context, int slotKind, int n);

// Makes the kind object of a View 3D output when it is shown. The subsystem that owns
// 3D views installs its constructor; without one the record gets a plain object that
// reports its size.
using TaskObjectFactory = std::unique_ptr<KindObject> (*)(int kind, int width, int height);
void taskSetObjectFactory(TaskObjectFactory factory);

// Resolves the plug-in's item identifier of a command (Part of the plug-in command
// table); installed by the plug-in loader. Without it dozTaskGetMenuId answers 0.
using TaskMenuIdResolver = int (*)(int commandId);
void taskSetMenuIdResolver(TaskMenuIdResolver resolver);
int taskMenuIdOf(int commandId);

// Ends every context and resets the counters (end of the run, tests). Contexts of
// running workers must be gone first.
void taskResetAll();

} // namespace vexa
