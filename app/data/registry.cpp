#include "data/registry.h"

#include "data/section.h"
#include "vexafile.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <unordered_set>

namespace vexa {

namespace {

struct Registry {
    std::list<std::unique_ptr<DataRecord>> records; // front = newest
    DataRecord* active = nullptr;
    DataRecord* activeImage = nullptr;
    std::uint32_t nameCounter = 1;
    std::uint32_t linkCounter = 1;
    std::uint32_t viewCounter = 1;
};

Registry gRegistry;
std::shared_mutex gMutex;

// Attachments (user data, callbacks) of every record and the global lists.
std::mutex gAttachMutex;
std::list<UserDataEntry> gUserData;
std::list<std::shared_ptr<DataCallback>> gCallbacks;

// Identifier generator. Its own engine: plug-ins and commands rely on the process's
// rand() sequence, which must not move when data are created.
std::mutex gIdMutex;
std::mt19937 gIdEngine;
bool gIdSeeded = false;
std::unordered_set<std::uint32_t> gReservedIds;

std::uint32_t millisecondClock()
{
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

bool idInUseLocked(std::uint32_t id)
{
    for (const auto& r : gRegistry.records)
        if (r->imageId == id || r->blockId == id)
            return true;
    return false;
}

DataRecord* findLocked(std::uint32_t id)
{
    if (id == 0)
        return nullptr;
    for (const auto& r : gRegistry.records)
        if (r->imageId == id || r->blockId == id)
            return r.get();
    return nullptr;
}

const char* initialName(int kind)
{
    switch (kind) {
    case DATA_IMAGE:
        return "Image";
    case DATA_VIEW3D:
        return "View 3D";
    case DATA_STUDY:
        return "Study";
    case DATA_GRAPH:
        return "Graph";
    case DATA_AUDIO:
        return "Audio";
    case DATA_AVI:
        return "Avi";
    case DATA_MVIEW:
        return "Mview";
    default:
        return nullptr;
    }
}

std::unique_ptr<KindObject>* kindField(DataRecord& r, int kind)
{
    switch (kind) {
    case DATA_VIEW3D:
        return &r.view3d;
    case DATA_STUDY:
        return &r.study;
    case DATA_GRAPH:
        return &r.graph;
    case DATA_AUDIO:
        return &r.audio;
    case DATA_AVI:
        return &r.avi;
    case DATA_MVIEW:
        return &r.mview;
    default:
        return nullptr;
    }
}

std::string titleLocked(const DataRecord& r)
{
    std::string title = r.number;
    for (const std::string* part : { &r.name, &r.position, &r.fileName, &r.directory })
        if (!part->empty())
            title += " - " + *part;
    return title;
}

std::vector<DataRecord*> listLocked(const std::function<bool(const DataRecord&)>& keep)
{
    std::vector<DataRecord*> out;
    for (const auto& r : gRegistry.records)
        if (keep(*r))
            out.push_back(r.get());
    return out;
}

DataRecord* firstInGroupLocked(DataRecord* record, bool byView, int kind, bool needBlock)
{
    for (const auto& r : gRegistry.records) {
        if (r.get() == record || r->kind != kind)
            continue;
        bool same = byView ? r->viewGroup == record->viewGroup : r->linkGroup == record->linkGroup;
        if (same && (!needBlock || r->block()))
            return r.get();
    }
    return nullptr;
}

std::list<UserDataEntry>& userDataOf(DataRecord* record)
{
    return record ? record->userData : gUserData;
}

std::list<std::shared_ptr<DataCallback>>& callbacksOf(DataRecord* record)
{
    return record ? record->callbacks : gCallbacks;
}

} // namespace

std::shared_mutex& registryMutex()
{
    return gMutex;
}

std::uint32_t dataNewId()
{
    std::lock_guard idLock(gIdMutex);
    if (!gIdSeeded) {
        gIdEngine.seed(millisecondClock());
        gIdSeeded = true;
    }
    // Two 15-bit draws shifted together plus the clock: random-looking, as before.
    std::uniform_int_distribution<std::uint32_t> draw(0, 32767);
    for (;;) {
        std::uint32_t a = draw(gIdEngine);
        std::uint32_t b = draw(gIdEngine);
        std::uint32_t candidate = (a << 16) + b + millisecondClock();
        if (candidate == 0 || candidate == kFreshId || gReservedIds.count(candidate))
            continue;
        {
            std::shared_lock lock(gMutex);
            if (idInUseLocked(candidate))
                continue;
        }
        gReservedIds.insert(candidate);
        return candidate;
    }
}

void dataReleaseId(std::uint32_t id)
{
    std::lock_guard idLock(gIdMutex);
    gReservedIds.erase(id);
}

DataRecord* dataCreate(int kind, std::unique_ptr<ImageObject> image,
    std::unique_ptr<KindObject> object, std::uint32_t imageId, std::uint32_t blockId)
{
    if (!isInterfaceThread()) {
        DataRecord* made = nullptr;
        runOnInterfaceThread(GuiRequest::OpenWindow, [&] {
            made = dataCreate(kind, std::move(image), std::move(object), imageId, blockId);
        });
        return made;
    }
    const char* name = initialName(kind);
    if (!name)
        return nullptr;
    if (kind == DATA_IMAGE ? (!image || object) : (image || !object))
        return nullptr;
    if (imageId == kFreshId)
        imageId = dataNewId();
    if (blockId == kFreshId)
        blockId = dataNewId();

    auto record = std::make_unique<DataRecord>();
    DataRecord* r = record.get();
    r->kind = kind;
    r->imageId = imageId;
    r->blockId = blockId;
    r->name = name;
    if (kind == DATA_IMAGE) {
        r->image = std::move(image);
        prepareDisplayedSection(*r->image);
        const BlockDescriptor* block = r->image->block.get();
        splitFileName(
            block ? block->fileName : r->image->image->fileName, r->directory, r->fileName);
    } else {
        *kindField(*r, kind) = std::move(object);
    }
    {
        std::unique_lock lock(gMutex);
        r->linkGroup = gRegistry.linkCounter++;
        r->viewGroup = gRegistry.viewCounter++;
        r->number = std::to_string(gRegistry.nameCounter++);
        gRegistry.records.push_front(std::move(record));
    }
    // The identifiers are live now: no longer merely reserved.
    std::lock_guard idLock(gIdMutex);
    gReservedIds.erase(imageId);
    gReservedIds.erase(blockId);
    return r;
}

DataRecord* dataFind(std::uint32_t id)
{
    std::shared_lock lock(gMutex);
    return findLocked(id);
}

DataRecord* dataFindBlock(std::uint32_t id)
{
    DataRecord* r = dataFind(id);
    return r && r->kind == DATA_IMAGE && r->blockId == id && r->block() ? r : nullptr;
}

DataRecord* dataFindImage(std::uint32_t id)
{
    DataRecord* r = dataFind(id);
    return r && r->kind == DATA_IMAGE && r->imageId == id && r->image2d() ? r : nullptr;
}

DataRecord* dataFindByWindow(WindowHandle window)
{
    if (!window)
        return nullptr;
    if (Host* h = host())
        window = h->topLevelOf(window);
    std::shared_lock lock(gMutex);
    for (const auto& r : gRegistry.records)
        if (r->window == window)
            return r.get();
    return nullptr;
}

DataRecord* dataFindByKindRecency(int kind, int n)
{
    std::shared_lock lock(gMutex);
    for (const auto& r : gRegistry.records)
        if (r->kind == kind && r->kindRecency == n)
            return r.get();
    return nullptr;
}

DataRecord* dataFindView3dByHandle(const void* handle)
{
    std::shared_lock lock(gMutex);
    for (const auto& r : gRegistry.records)
        if (r->kind == DATA_VIEW3D && (!r->view3d || r->view3d->hasHandle(handle)))
            return r.get();
    return nullptr;
}

int dataCount(int kind)
{
    std::shared_lock lock(gMutex);
    int n = 0;
    for (const auto& r : gRegistry.records)
        n += r->kind == kind;
    return n;
}

bool dataFileInUse(const std::string& path, const BlockDescriptor* except)
{
    struct stat st { };
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return false;
    for (DataRecord* r : dataListAll()) {
        const BlockDescriptor* b = r->block();
        if (!b || b == except)
            continue;
        std::shared_lock lock(b->lock);
        for (const FileHandle* f : { &b->file, &b->topFile, &b->rightFile })
            if (*f && vexaFileUsesFile(f->get(), path.c_str()))
                return true;
    }
    return false;
}

std::vector<DataRecord*> dataListAll()
{
    std::shared_lock lock(gMutex);
    return listLocked([](const DataRecord&) { return true; });
}

std::vector<DataRecord*> dataListByLinkGroup(std::uint32_t group)
{
    std::shared_lock lock(gMutex);
    return listLocked([group](const DataRecord& r) { return r.linkGroup == group; });
}

std::vector<DataRecord*> dataListByViewGroup(std::uint32_t group)
{
    std::shared_lock lock(gMutex);
    return listLocked([group](const DataRecord& r) { return r.viewGroup == group; });
}

void dataMergeLinkGroup(DataRecord* target, DataRecord* source)
{
    if (!target || !source)
        return;
    std::unique_lock lock(gMutex);
    std::uint32_t from = source->linkGroup;
    std::uint32_t to = target->linkGroup;
    for (const auto& r : gRegistry.records)
        if (r->linkGroup == from)
            r->linkGroup = to;
}

DataRecord* dataFindStudyOf(DataRecord* record)
{
    if (!record)
        return nullptr;
    if (record->kind == DATA_STUDY)
        return record;
    std::shared_lock lock(gMutex);
    return firstInGroupLocked(record, false, DATA_STUDY, false);
}

DataRecord* dataFindView3dOf(DataRecord* record)
{
    if (!record)
        return nullptr;
    if (record->kind == DATA_VIEW3D)
        return record;
    std::shared_lock lock(gMutex);
    return firstInGroupLocked(record, false, DATA_VIEW3D, false);
}

DataRecord* dataFindMviewOf(DataRecord* record)
{
    if (!record)
        return nullptr;
    if (record->kind == DATA_MVIEW)
        return record;
    std::shared_lock lock(gMutex);
    return firstInGroupLocked(record, true, DATA_MVIEW, false);
}

DataRecord* dataFindBlockImageOf(DataRecord* record)
{
    if (!record)
        return nullptr;
    if (record->kind == DATA_IMAGE && record->block())
        return record;
    std::shared_lock lock(gMutex);
    return firstInGroupLocked(record, true, DATA_IMAGE, true);
}

DataRecord* dataActive()
{
    std::shared_lock lock(gMutex);
    return gRegistry.active;
}

DataRecord* dataActiveImage()
{
    std::shared_lock lock(gMutex);
    return gRegistry.activeImage;
}

void dataActivate(DataRecord* record)
{
    if (!record)
        return;
    if (!isInterfaceThread()) {
        runOnInterfaceThread(GuiRequest::OpenWindow, [record] { dataActivate(record); });
        return;
    }
    {
        std::unique_lock lock(gMutex);
        if (gRegistry.active == record)
            return;
        gRegistry.active = record;
        int recency = record->recency;
        int kindRecency = record->kindRecency;
        for (const auto& r : gRegistry.records) {
            if (r.get() == record)
                continue;
            if (r->recency < recency)
                ++r->recency;
            if (r->kind == record->kind && r->kindRecency < kindRecency)
                ++r->kindRecency;
        }
        record->recency = 1;
        record->kindRecency = 1;
        if (record->kind == DATA_IMAGE)
            gRegistry.activeImage = record;
    }
    if (Host* h = host()) {
        h->refreshMenus(record->kind);
        if (record->kind == DATA_IMAGE)
            h->imageActivated(*record);
    }
}

DataRecord* dataDelete(DataRecord* record)
{
    if (!isInterfaceThread()) {
        DataRecord* head = nullptr;
        runOnInterfaceThread(GuiRequest::OpenWindow, [&] { head = dataDelete(record); });
        return head;
    }
    std::unique_ptr<DataRecord> doomed;
    DataRecord* head = nullptr;
    {
        std::unique_lock lock(gMutex);
        auto it = std::find_if(gRegistry.records.begin(), gRegistry.records.end(),
            [record](const auto& r) { return r.get() == record; });
        if (it == gRegistry.records.end())
            return gRegistry.records.empty() ? nullptr : gRegistry.records.front().get();
        for (const auto& r : gRegistry.records) {
            if (r.get() == record)
                continue;
            if (r->recency > record->recency)
                --r->recency;
            if (r->kind == record->kind && r->kindRecency > record->kindRecency)
                --r->kindRecency;
        }
        if (gRegistry.active == record)
            gRegistry.active = nullptr;
        if (gRegistry.activeImage == record)
            gRegistry.activeImage = nullptr;
        doomed = std::move(*it);
        gRegistry.records.erase(it);
        head = gRegistry.records.empty() ? nullptr : gRegistry.records.front().get();
    }
    {
        // Callbacks being delivered keep their entries alive through shared_ptr.
        std::lock_guard attach(gAttachMutex);
        doomed->userData.clear();
        doomed->callbacks.clear();
    }
    // Freed outside the lock: kind objects may call back into the registry.
    doomed.reset();
    return head;
}

std::string dataTitle(const DataRecord* record)
{
    if (!record)
        return {};
    std::shared_lock lock(gMutex);
    return titleLocked(*record);
}

void dataUpdateTitle(DataRecord* record)
{
    if (!record)
        return;
    std::string title = dataTitle(record);
    WindowHandle window = record->window;
    if (!window)
        return;
    postToInterfaceThread(GuiRequest::OpenWindow, [window, title] {
        if (Host* h = host())
            h->setWindowTitle(window, title);
    });
}

void dataSetName(DataRecord* record, const std::string& name)
{
    if (!record)
        return;
    {
        std::unique_lock lock(gMutex);
        record->name = name;
    }
    dataUpdateTitle(record);
    dataRedraw(record);
}

void dataSetPosition(DataRecord* record, const std::string& position)
{
    if (!record)
        return;
    {
        std::unique_lock lock(gMutex);
        record->position = position;
    }
    dataUpdateTitle(record);
}

DataRecord* dataTakeByRecency(int kind, const std::function<bool(DataRecord*)>& accept)
{
    std::vector<std::pair<int, DataRecord*>> candidates;
    {
        std::shared_lock lock(gMutex);
        for (const auto& r : gRegistry.records)
            if (r->kind == kind)
                candidates.emplace_back(r->kindRecency, r.get());
    }
    std::stable_sort(candidates.begin(), candidates.end(),
        [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& c : candidates)
        if (accept(c.second))
            return c.second;
    return nullptr;
}

namespace {

DataRecord* createWithWindow(GuiRequest code, const std::function<DataRecord*()>& make,
    std::uint32_t linkGroup, std::uint32_t viewGroup)
{
    DataRecord* result = nullptr;
    runOnInterfaceThread(code, [&] {
        DataRecord* r = make();
        if (!r)
            return;
        {
            std::unique_lock lock(gMutex);
            if (linkGroup > 0)
                r->linkGroup = linkGroup;
            if (viewGroup > 0)
                r->viewGroup = viewGroup;
        }
        if (Host* h = host()) {
            r->window = h->createWindow(*r, code);
            if (!r->window) {
                // A datum nobody can see or close would stay forever.
                dataDelete(r);
                return;
            }
            h->setWindowTitle(r->window, dataTitle(r));
        }
        result = r;
    });
    return result;
}

GuiRequest openerOf(int kind)
{
    switch (kind) {
    case DATA_GRAPH:
        return GuiRequest::OpenGraph;
    case DATA_AUDIO:
        return GuiRequest::OpenAudio;
    case DATA_VIEW3D:
        return GuiRequest::OpenView3d;
    case DATA_AVI:
        return GuiRequest::OpenAvi;
    case DATA_MVIEW:
        return GuiRequest::OpenMview;
    default:
        return GuiRequest::OpenWindow;
    }
}

} // namespace

DataRecord* dataCreateImage(std::unique_ptr<ImageObject> image, std::uint32_t imageId,
    std::uint32_t blockId, std::uint32_t linkGroup, std::uint32_t viewGroup)
{
    return createWithWindow(
        GuiRequest::OpenImage,
        [&]() -> DataRecord* {
            bool holdsBlock = image && image->block;
            DataRecord* r = dataCreate(DATA_IMAGE, std::move(image), nullptr, imageId, blockId);
            if (r && holdsBlock) {
                std::unique_lock lock(gMutex);
                r->name.clear();
            }
            return r;
        },
        linkGroup, viewGroup);
}

DataRecord* dataCreateKind(int kind, std::unique_ptr<KindObject> object, std::uint32_t imageId,
    std::uint32_t blockId, std::uint32_t linkGroup, std::uint32_t viewGroup)
{
    if (kind == DATA_IMAGE)
        return nullptr;
    return createWithWindow(
        openerOf(kind),
        [&]() { return dataCreate(kind, nullptr, std::move(object), imageId, blockId); }, linkGroup,
        viewGroup);
}

void dataClose(DataRecord* record)
{
    if (!record)
        return;
    record->busyCount = 0;
    WindowHandle window = record->window;
    if (window && host()) {
        postToInterfaceThread(GuiRequest::OpenWindow, [window] {
            if (Host* h = host())
                h->closeWindow(window);
        });
        return;
    }
    runOnInterfaceThread(GuiRequest::OpenWindow, [record] { dataDelete(record); });
}

void dataRedraw(DataRecord* record)
{
    if (!record || !host())
        return;
    std::uint32_t id = record->imageId;
    // The record is looked up again on the interface thread: it may be gone by then.
    postToInterfaceThread(GuiRequest::OpenWindow, [id] {
        DataRecord* r = dataFind(id);
        if (Host* h = host(); h && r)
            h->redraw(*r);
    });
}

void dataUserDataNew(DataRecord* record, const std::string& name)
{
    std::lock_guard lock(gAttachMutex);
    userDataOf(record).push_front({ name, 0 });
}

void dataUserDataSet(DataRecord* record, const std::string& name, int value)
{
    std::lock_guard lock(gAttachMutex);
    for (UserDataEntry& e : userDataOf(record))
        if (e.name == name)
            e.value = value;
}

int dataUserDataGet(DataRecord* record, const std::string& name)
{
    std::lock_guard lock(gAttachMutex);
    for (const UserDataEntry& e : userDataOf(record))
        if (e.name == name)
            return e.value;
    return 0;
}

void dataUserDataDelete(DataRecord* record, const std::string& name)
{
    std::lock_guard lock(gAttachMutex);
    userDataOf(record).remove_if([&](const UserDataEntry& e) { return e.name == name; });
}

void dataCallbackAdd(
    DataRecord* record, const std::string& name, DataCallbackFn function, void* userArgument)
{
    auto entry = std::make_shared<DataCallback>();
    entry->name = name;
    entry->function = function;
    entry->userArgument = userArgument;
    std::lock_guard lock(gAttachMutex);
    callbacksOf(record).push_front(std::move(entry));
}

void dataCallbackSub(DataRecord* record, const std::string& name, DataCallbackFn function)
{
    std::lock_guard lock(gAttachMutex);
    callbacksOf(record).remove_if([&](const std::shared_ptr<DataCallback>& e) {
        if (e->name != name || e->function != function)
            return false;
        e->removed = true;
        return true;
    });
}

int dataCallbackCount(DataRecord* record, const std::string& name)
{
    std::lock_guard lock(gAttachMutex);
    int n = 0;
    for (const auto& e : callbacksOf(record))
        n += e->name == name;
    return n;
}

int dataFire(DataRecord* record, const std::string& event, void* eventData, DataEventGetter getter,
    DataEventSetter setter)
{
    std::vector<std::shared_ptr<DataCallback>> targets;
    {
        std::lock_guard lock(gAttachMutex);
        for (const auto& e : callbacksOf(record))
            if (e->name == event)
                targets.push_back(e);
    }
    unsigned int id = record ? record->imageId : 0;
    int result = 0;
    for (const auto& e : targets) {
        DataCallback saved;
        DataCallbackFn fn;
        void* arg;
        {
            std::lock_guard lock(gAttachMutex);
            if (e->removed || !e->function)
                continue;
            saved.getter = e->getter;
            saved.setter = e->setter;
            saved.currentEvent = e->currentEvent;
            saved.delivering = e->delivering;
            e->getter = getter;
            e->setter = setter;
            e->currentEvent = event;
            e->delivering = true;
            fn = e->function;
            arg = e->userArgument;
        }
        result = fn(id, eventData, arg);
        std::lock_guard lock(gAttachMutex);
        // Restores the state of an outer delivery of the same entry, if any.
        e->getter = saved.getter;
        e->setter = saved.setter;
        e->currentEvent = saved.currentEvent;
        e->delivering = saved.delivering;
    }
    return result;
}

namespace {

std::shared_ptr<DataCallback> deliveringEntry(
    DataRecord* record, const char* event, bool wantGetter)
{
    std::lock_guard lock(gAttachMutex);
    for (const auto& e : callbacksOf(record))
        if (e->delivering && e->currentEvent == event && (wantGetter ? !!e->getter : !!e->setter))
            return e;
    return nullptr;
}

} // namespace

int dataCallbackGetEvent(DataRecord* record, const char* event, const char* key, void* out)
{
    if (!event || !key)
        return 0;
    auto e = deliveringEntry(record, event, true);
    if (!e)
        return 0;
    DataEventGetter getter;
    {
        std::lock_guard lock(gAttachMutex);
        getter = e->getter;
    }
    return getter ? getter(record ? record->imageId : 0, event, key, out) : 0;
}

int dataCallbackSetEvent(DataRecord* record, const char* event, const char* key, void* value)
{
    if (!event || !key)
        return 0;
    auto e = deliveringEntry(record, event, false);
    if (!e)
        return 0;
    DataEventSetter setter;
    {
        std::lock_guard lock(gAttachMutex);
        setter = e->setter;
    }
    return setter ? setter(record ? record->imageId : 0, event, key, value) : 0;
}

void dataResetRegistry()
{
    std::list<std::unique_ptr<DataRecord>> doomed;
    {
        std::unique_lock lock(gMutex);
        doomed.swap(gRegistry.records);
        gRegistry = Registry {};
    }
    {
        std::lock_guard attach(gAttachMutex);
        for (auto& r : doomed) {
            r->userData.clear();
            r->callbacks.clear();
        }
        gUserData.clear();
        gCallbacks.clear();
    }
    doomed.clear();
    std::lock_guard idLock(gIdMutex);
    gReservedIds.clear();
}

void splitFileName(const std::string& path, std::string& directory, std::string& fileName)
{
    std::size_t cut = path.find_last_of("/\\");
    if (cut == std::string::npos) {
        directory.clear();
        fileName.clear();
        return;
    }
    directory = path.substr(0, cut + 1);
    fileName = path.substr(cut + 1);
}

KindObject* DataRecord::kindObject() const
{
    switch (kind) {
    case DATA_VIEW3D:
        return view3d.get();
    case DATA_STUDY:
        return study.get();
    case DATA_GRAPH:
        return graph.get();
    case DATA_AUDIO:
        return audio.get();
    case DATA_AVI:
        return avi.get();
    case DATA_MVIEW:
        return mview.get();
    default:
        return nullptr;
    }
}

} // namespace vexa
