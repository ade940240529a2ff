#include "tasks/taskcontext.h"

#include "data/blockoutputs.h"
#include "data/graphapi.h"
#include "data/registry.h"
#include "host/host.h"
#include "log/logmodel.h"
#include "tasks/taskmutex.h"
#include "tasks/tasktext.h"
#include "tasks/workerthread.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace vexa {

namespace {

// Guarded by the task mutex.
TaskContext* gHead = nullptr;
TaskContext* gMain = nullptr;
int gRunning = 0;
std::int32_t gSequence = 0;

// Installed once at start-up, read by any thread.
std::atomic<TaskObjectFactory> gObjectFactory { nullptr };
std::atomic<TaskMenuIdResolver> gMenuIdResolver { nullptr };

// The object of a View 3D output when no owner installed a constructor.
struct SizedObject : KindObject {
    int width, height;
    SizedObject(int w, int h)
        : width(w)
        , height(h)
    {
    }
    void reportSizes(int& w, int& h, int& d) const override
    {
        w = width;
        h = height;
        d = 0;
    }
};

// Guards suspendRequested and stopRequested of every context; suspended tasks wait on
// controlChanged. Taken after the task mutex, never before it. Never destroyed: a
// worker may still check at exit.
std::mutex& controlMutex()
{
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::condition_variable& controlChanged()
{
    static auto* changed = new std::condition_variable;
    return *changed;
}

// The context the calling thread created (the newest when several), null when none.
// Under the task mutex.
TaskContext* ownContext()
{
    std::uint32_t threadId = taskThreadId();
    for (TaskContext* c = gHead; c; c = c->next)
        if (c->threadId == threadId)
            return c;
    return nullptr;
}

// Applies change to the worker context of that sequence under both locks; wakes the
// waiting tasks when it changed something.
template <typename Change> bool controlTask(std::int32_t sequence, Change change)
{
    TaskLock lock;
    for (TaskContext* c = gHead; c; c = c->next) {
        if (c->sequence != sequence)
            continue;
        if (c->isMain || c->ending)
            return false;
        std::lock_guard control(controlMutex());
        if (!change(*c))
            return false;
        controlChanged().notify_all();
        return true;
    }
    return false;
}

bool linked(const TaskContext* context)
{
    for (TaskContext* c = gHead; c; c = c->next)
        if (c == context)
            return true;
    return false;
}

// Gives up every hold of the task mutex for the duration of a request to the
// interface thread, which may itself need the mutex, then takes them back.
class TaskUnlocked {
public:
    TaskUnlocked()
        : depth_(taskMutexDepth())
    {
        taskMutexReleaseTo(0);
    }
    ~TaskUnlocked()
    {
        for (int i = 0; i < depth_; ++i)
            taskMutexLock();
    }
    TaskUnlocked(const TaskUnlocked&) = delete;
    TaskUnlocked& operator=(const TaskUnlocked&) = delete;

private:
    int depth_;
};

void onInterfaceThread(const std::function<void()>& fn)
{
    TaskUnlocked unlocked;
    runOnInterfaceThread(GuiRequest::OpenWindow, fn);
}

// Task lines reach the log model directly on the interface thread and are posted
// from the others, which must not redraw the log window themselves.
void taskLog(int channel, const std::string& text)
{
    if (isInterfaceThread())
        log::messageLog().add(channel, text.c_str());
    else
        log::messageLog().post(text.c_str(), channel);
}

int recordKindOfInput(int slotKind)
{
    switch (slotKind) {
    case SLOT_STUDY_IN:
        return DATA_STUDY;
    case SLOT_VIEW3D_IN:
        return DATA_VIEW3D;
    default:
        return DATA_IMAGE;
    }
}

// The record behind a slot, if it still exists: a plug-in may have closed a window
// with vexaWindowClose while a task held it. Interface thread.
DataRecord* liveRecord(const TaskSlot& slot)
{
    if (!slot.record)
        return nullptr;
    std::uint32_t id = slot.imageId ? slot.imageId : slot.blockId;
    return dataFind(id) == slot.record ? slot.record : nullptr;
}

struct HeldInput {
    int width = 0, height = 0;
    std::int32_t calibration[6] = {};
    bool present = false;
};

// Releases the data of an ending task. Interface thread. The outputs of a stopped
// task are closed: what it wrote is incomplete.
void releaseSlots(std::vector<TaskSlot>& taskSlots, double elapsed, bool discard)
{
    // The first image input is read before anything is released: once its busyCount
    // drops, its window may close.
    HeldInput input;
    for (const TaskSlot& slot : taskSlots) {
        if (slot.kind != SLOT_IMAGE_IN)
            continue;
        if (DataRecord* r = liveRecord(slot)) {
            if (const ImageDescriptor* image = r->image2d()) {
                input.width = image->width;
                input.height = image->height;
                std::copy(std::begin(image->calibration), std::end(image->calibration),
                    input.calibration);
                input.present = true;
            }
        }
        break;
    }
    for (TaskSlot& slot : taskSlots) {
        DataRecord* r = liveRecord(slot);
        if (!r)
            continue;
        if (slotIsInput(slot.kind)) {
            if (r->busyCount > 0)
                --r->busyCount;
            continue;
        }
        if (discard) {
            // Another task may have taken the output as its input meanwhile: it is
            // left to that task rather than closed under it.
            if (r->busyCount > 0)
                --r->busyCount;
            if (r->busyCount == 0)
                dataClose(r);
            continue;
        }
        // Results are stored while the datum is still held.
        if (slot.kind == SLOT_IMAGE_OUT) {
            if (ImageDescriptor* image = r->image2d()) {
                image->computeTime = elapsed;
                if (input.present && input.calibration[0] != 0 && image->width == input.width
                    && image->height == input.height)
                    std::copy(std::begin(input.calibration), std::end(input.calibration),
                        image->calibration);
            }
        } else if (slot.kind == SLOT_BLOCK_OUT) {
            if (BlockDescriptor* block = r->block())
                block->computeTime = elapsed;
        }
        if (r->busyCount > 0 && --r->busyCount == 0)
            dataRedraw(r);
    }
}

// What the block storage callbacks configure: the outputs of the calling thread's
// task that are not shown yet. Entries of shown outputs are null, so that ordinals
// keep counting every output of the kind.
class TaskPendingOutputs : public PendingOutputs {
public:
    std::vector<ImageObject*> outputs(int slotKind) override
    {
        std::vector<ImageObject*> out;
        TaskLock lock;
        TaskContext* context = taskCurrent();
        if (!context || (slotKind != SLOT_IMAGE_OUT && slotKind != SLOT_BLOCK_OUT))
            return out;
        for (TaskSlot& slot : context->taskSlots)
            if (slot.kind == slotKind)
                out.push_back(pending(slot));
        return out;
    }

    ImageObject* outputById(std::uint32_t id) override
    {
        TaskLock lock;
        TaskContext* context = taskCurrent();
        if (!context || id == 0)
            return nullptr;
        for (TaskSlot& slot : context->taskSlots) {
            if ((slot.kind == SLOT_BLOCK_OUT && slot.blockId == id)
                || (slot.kind == SLOT_IMAGE_OUT && slot.imageId == id))
                return pending(slot);
        }
        return nullptr;
    }

private:
    static ImageObject* pending(TaskSlot& slot)
    {
        return (slot.record || slot.showing || slot.failed) ? nullptr : slot.image.get();
    }
};

// dozDataPopup inside a task: the image becomes an output of the task, shown now.
DataRecord* popupAsOutput(std::unique_ptr<ImageObject> object)
{
    TaskContext* context = taskCurrent();
    if (!context)
        return showImageObject(std::move(object), kFreshId, kFreshId);
    int index = taskAddOutput(context, SLOT_IMAGE_OUT, std::move(object));
    return index < 0 ? nullptr : taskShowOutput(context, index);
}

void installDataHooks()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static TaskPendingOutputs pendingOutputs;
        setPendingOutputs(&pendingOutputs);
        setPopupHandler(popupAsOutput);
    });
}

} // namespace

std::uint32_t taskThreadId()
{
    return static_cast<std::uint32_t>(gettid());
}

std::int64_t taskClockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TaskContext* taskCreate()
{
    installDataHooks();
    auto* context = new TaskContext;
    std::uint32_t threadId = taskThreadId();
    {
        TaskLock lock;
        context->isMain = (!taskIsWorkerThread() && isInterfaceThread()) ? 1 : 0;
        context->next = gHead;
        if (gHead)
            gHead->prev = context;
        gHead = context;
        ++gRunning;
        context->progress.fraction = -1.0;
        context->startTime = std::time(nullptr);
        context->startText = taskStartText(context->startTime);
        context->thread = pthread_self();
        context->threadId = threadId;
        context->clockStart = taskClockMs();
        context->sequence = gSequence++;
    }
    char line[64];
    std::snprintf(line, sizeof line, "Thread - Création (%d)", static_cast<int>(threadId));
    taskLog(1, line);
    return context;
}

TaskContext* taskCurrent()
{
    TaskLock lock;
    std::uint32_t threadId = taskThreadId();
    for (TaskContext* c = gHead; c; c = c->next)
        if (c->threadId == threadId)
            return c;
    return gHead;
}

TaskContext* taskMainContext()
{
    {
        TaskLock lock;
        if (gMain && linked(gMain))
            return gMain;
    }
    TaskContext* context = taskCreate();
    TaskLock lock;
    if (!gMain || !linked(gMain))
        gMain = context;
    return gMain;
}

void taskEnd(TaskContext* context)
{
    if (!context) {
        taskLog(1, "Thread - Destruction Impossible");
        return;
    }
    double elapsed = 0;
    std::uint32_t threadId = 0;
    std::size_t slotCount = 0;
    bool endable = false;
    bool discard = false;
    {
        TaskLock lock;
        endable = linked(context) && !context->ending;
        if (endable) {
            {
                // From here on the task window cannot ask anything more of it.
                std::lock_guard control(controlMutex());
                discard = context->stopRequested;
            }
            context->ending = true;
            context->clockEnd = taskClockMs();
            context->elapsed = double(context->clockEnd - context->clockStart) / 1000.0;
            elapsed = context->elapsed;
            threadId = context->threadId;
            slotCount = context->taskSlots.size();
        }
    }
    if (!endable) {
        // A context that is not in the list (already ended) is left alone.
        taskLog(1, "Thread - Destruction Impossible");
        return;
    }
    // Outputs never shown are shown now, named after the command; a stopped task's
    // never appear.
    for (std::size_t i = 0; i < slotCount && !discard; ++i)
        taskShowOutput(context, static_cast<int>(i));

    std::vector<TaskSlot> taskSlots;
    {
        TaskLock lock;
        taskSlots = std::move(context->taskSlots);
        context->taskSlots.clear();
    }
    onInterfaceThread([&] { releaseSlots(taskSlots, elapsed, discard); });
    // Identifiers of outputs that never became records go back to the pool.
    for (const TaskSlot& slot : taskSlots) {
        if (slotIsOutput(slot.kind) && !slot.record) {
            dataReleaseId(slot.imageId);
            dataReleaseId(slot.blockId);
        }
    }
    taskSlots.clear();
    {
        TaskLock lock;
        --gRunning;
        if (context->prev)
            context->prev->next = context->next;
        if (context->next)
            context->next->prev = context->prev;
        if (gHead == context)
            gHead = context->next;
        if (gMain == context)
            gMain = nullptr;
        delete context;
    }
    char line[128];
    std::snprintf(line, sizeof line, "Thread - Destruction (%d) - Temps %f s",
        static_cast<int>(threadId), elapsed);
    taskLog(1, line);
}

TaskContext* taskListLock()
{
    taskMutexLock();
    return gHead;
}

void taskListUnlock()
{
    taskMutexUnlock();
}

void taskSetName(TaskContext* context, const std::string& name)
{
    TaskLock lock;
    if (!context || !linked(context))
        return;
    context->name = name.substr(0, kTaskNameMax);
}

void taskSetCommand(TaskContext* context, int commandId)
{
    TaskLock lock;
    if (context && linked(context))
        context->commandId = commandId;
}

void taskResetTimer(TaskContext* context)
{
    TaskLock lock;
    if (context && linked(context))
        context->clockStart = taskClockMs();
}

int taskWorkerContextCount()
{
    TaskLock lock;
    int count = 0;
    for (TaskContext* c = gHead; c; c = c->next)
        if (!c->isMain)
            ++count;
    return count;
}

int taskContextCount()
{
    TaskLock lock;
    return gRunning;
}

int taskFindSlot(const TaskContext* context, int slotKind, std::uint32_t id)
{
    if (!context || id == 0)
        return -1;
    bool byBlock = slotKind == SLOT_BLOCK_IN || slotKind == SLOT_BLOCK_OUT;
    for (std::size_t i = 0; i < context->taskSlots.size(); ++i) {
        const TaskSlot& slot = context->taskSlots[i];
        if (slot.kind == slotKind && (byBlock ? slot.blockId : slot.imageId) == id)
            return static_cast<int>(i);
    }
    return -1;
}

int taskNthSlot(const TaskContext* context, int slotKind, int n)
{
    if (!context || n < 1)
        return -1;
    int seen = 0;
    for (std::size_t i = 0; i < context->taskSlots.size(); ++i)
        if (context->taskSlots[i].kind == slotKind && ++seen == n)
            return static_cast<int>(i);
    return -1;
}

std::uint32_t taskTakeInput(TaskContext* context, int slotKind)
{
    if (!context || !slotIsInput(slotKind))
        return 0;
    int recordKind = recordKindOfInput(slotKind);
    bool needBlock = slotKind == SLOT_BLOCK_IN;
    std::uint32_t result = 0;
    // The registry changes only on the interface thread: choosing there, and raising
    // busyCount there, means no window can close between the choice and the hold.
    onInterfaceThread([&] {
        TaskLock lock;
        if (!linked(context) || context->ending)
            return;
        DataRecord* taken = dataTakeByRecency(recordKind, [&](DataRecord* r) {
            if (needBlock && !r->block())
                return false;
            for (const TaskSlot& slot : context->taskSlots)
                if (slotIsInput(slot.kind) && slot.record == r)
                    return false;
            return true;
        });
        if (!taken)
            return;
        TaskSlot slot;
        slot.kind = slotKind;
        slot.imageId = taken->imageId;
        slot.blockId = taken->blockId;
        slot.record = taken;
        context->taskSlots.push_back(std::move(slot));
        ++taken->busyCount;
        result = needBlock ? taken->blockId : taken->imageId;
    });
    return result;
}

int taskAddOutput(TaskContext* context, int slotKind, std::unique_ptr<ImageObject> object)
{
    if (!context || !slotIsOutput(slotKind))
        return -1;
    bool imageKind = slotKind == SLOT_IMAGE_OUT || slotKind == SLOT_BLOCK_OUT;
    if (imageKind && !object)
        object = slotKind == SLOT_BLOCK_OUT ? newBlockOutputObject() : newImageOutputObject();
    if (!imageKind)
        object.reset();
    TaskSlot slot;
    slot.kind = slotKind;
    slot.image = std::move(object);
    slot.imageId = dataNewId();
    slot.blockId = dataNewId();
    TaskLock lock;
    if (!linked(context) || context->ending) {
        dataReleaseId(slot.imageId);
        dataReleaseId(slot.blockId);
        return -1;
    }
    context->taskSlots.push_back(std::move(slot));
    return static_cast<int>(context->taskSlots.size() - 1);
}

std::uint32_t taskDeclareOutput(TaskContext* context, int slotKind)
{
    int index = taskAddOutput(context, slotKind, nullptr);
    if (index < 0)
        return 0;
    TaskLock lock;
    const TaskSlot& slot = context->taskSlots[std::size_t(index)];
    return slotKind == SLOT_BLOCK_OUT ? slot.blockId : slot.imageId;
}

DataRecord* taskShowOutput(TaskContext* context, int slotIndex)
{
    std::unique_ptr<ImageObject> object;
    int kind = 0, width = 0, height = 0, isMain = 0;
    std::uint32_t imageId = 0, blockId = 0;
    std::string name;
    {
        TaskLock lock;
        if (!context || !linked(context) || slotIndex < 0
            || std::size_t(slotIndex) >= context->taskSlots.size())
            return nullptr;
        TaskSlot& slot = context->taskSlots[std::size_t(slotIndex)];
        if (!slotIsOutput(slot.kind))
            return nullptr;
        if (slot.record)
            return slot.record;
        if (slot.showing || slot.failed)
            return nullptr;
        slot.showing = true;
        object = std::move(slot.image);
        kind = slot.kind;
        width = slot.objectWidth;
        height = slot.objectHeight;
        imageId = slot.imageId;
        blockId = slot.blockId;
        name = context->name;
        isMain = context->isMain;
    }

    std::unique_ptr<KindObject> kindObject;
    if (kind == SLOT_GRAPH_OUT) {
        kindObject = makeGraphDatum(width, height);
    } else if (kind == SLOT_VIEW3D_OUT) {
        TaskObjectFactory factory = gObjectFactory.load();
        kindObject = factory ? factory(DATA_VIEW3D, width, height)
                             : std::make_unique<SizedObject>(width, height);
    }

    DataRecord* record = nullptr;
    if (object || kindObject) {
        onInterfaceThread([&] {
            // Samples are allocated, the record made, named and held in one step of the
            // interface thread: no window can close in between.
            if (object)
                record = showImageObject(std::move(object), imageId, blockId);
            else
                record = dataCreateKind(kind == SLOT_GRAPH_OUT ? DATA_GRAPH : DATA_VIEW3D,
                    std::move(kindObject), imageId, blockId);
            if (!record)
                return;
            record->shownByTask = 1;
            // The task produces the datum until it ends: its window must not close.
            if (!isMain)
                ++record->busyCount;
            dataSetName(record, name);
        });
    }

    TaskLock lock;
    if (!linked(context) || std::size_t(slotIndex) >= context->taskSlots.size()) {
        // The context ended meanwhile (a thread outside the task showed it): nobody
        // else will release the datum.
        if (record && !isMain) {
            onInterfaceThread([&] {
                if (dataFind(imageId) == record && record->busyCount > 0)
                    --record->busyCount;
            });
        }
        return record;
    }
    TaskSlot& slot = context->taskSlots[std::size_t(slotIndex)];
    slot.showing = false;
    if (record) {
        slot.record = record;
        ++context->shownCount;
    } else {
        slot.failed = true;
    }
    return record;
}

void taskSetObjectFactory(TaskObjectFactory factory)
{
    gObjectFactory.store(factory);
}

void taskSetMenuIdResolver(TaskMenuIdResolver resolver)
{
    gMenuIdResolver.store(resolver);
}

int taskMenuIdOf(int commandId)
{
    constexpr int kCommandTableSize = 100000;
    TaskMenuIdResolver resolver = gMenuIdResolver.load();
    if (!resolver || commandId < 0 || commandId >= kCommandTableSize)
        return 0;
    return resolver(commandId);
}

void taskResetAll()
{
    for (;;) {
        TaskContext* head = nullptr;
        {
            TaskLock lock;
            head = gHead;
        }
        if (!head)
            break;
        taskEnd(head);
    }
    TaskLock lock;
    gSequence = 0;
    gMain = nullptr;
}

bool taskStopRequested()
{
    TaskContext* context = nullptr;
    bool canWait = false;
    {
        TaskLock lock;
        context = ownContext();
        if (!context || context->isMain)
            return false;
        // Waiting while holding the task mutex would freeze the task display.
        canWait = taskMutexDepth() == 1 && !isInterfaceThread();
    }
    // Only the calling thread ends its own context: it stays valid here.
    std::unique_lock control(controlMutex());
    if (canWait)
        controlChanged().wait(
            control, [context] { return !context->suspendRequested || context->stopRequested; });
    return context->stopRequested;
}

bool taskSuspend(std::int32_t sequence)
{
    return controlTask(sequence, [](TaskContext& c) {
        if (c.stopRequested || c.suspendRequested)
            return false;
        c.suspendRequested = true;
        return true;
    });
}

bool taskResume(std::int32_t sequence)
{
    return controlTask(sequence, [](TaskContext& c) {
        if (c.stopRequested || !c.suspendRequested)
            return false;
        c.suspendRequested = false;
        return true;
    });
}

bool taskStop(std::int32_t sequence)
{
    return controlTask(sequence, [](TaskContext& c) {
        if (c.stopRequested)
            return false;
        c.stopRequested = true;
        return true;
    });
}

void taskResumeAll()
{
    TaskLock lock;
    std::lock_guard control(controlMutex());
    for (TaskContext* c = gHead; c; c = c->next)
        c->suspendRequested = false;
    controlChanged().notify_all();
}

TaskRunState taskRunState(std::int32_t sequence)
{
    TaskRunState state = TaskRunState::None;
    controlTask(sequence, [&state](TaskContext& c) {
        state = c.stopRequested  ? TaskRunState::Stopping
            : c.suspendRequested ? TaskRunState::Suspended
                                 : TaskRunState::Running;
        return false;
    });
    return state;
}

void taskProgressRange(std::int32_t first, std::int32_t last)
{
    // Work run outside any task must not move another task's progress.
    TaskLock lock;
    if (TaskContext* context = ownContext())
        progressSetInterval(context->progress, first, last);
}

bool taskProgressContinue(std::int32_t position)
{
    {
        TaskLock lock;
        if (TaskContext* context = ownContext())
            progressSetPosition(context->progress, position);
    }
    return !taskStopRequested();
}

} // namespace vexa
