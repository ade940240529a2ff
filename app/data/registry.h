// The data registry: every DataRecord, newest first, with the identifiers, counters,
// recency orders and groups that the rest of the program uses to find data.
//
// Records are created, activated and deleted on the interface thread only (a worker
// goes through the typed creators, which send a synchronous request). Workers look
// records up by identifier; the registry's own lock keeps those lookups safe while
// the interface thread changes the list. A record found by a worker stays alive as
// long as the worker holds it through busyCount (the window refuses to close).
#pragma once

#include "data/datarecord.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

namespace vexa {

constexpr std::uint32_t kFreshId = 0xFFFFFFFFu; // "-1": replace by a new identifier

// A fresh identifier: never 0 or kFreshId, never the identifier of a live record or
// one handed out and not yet bound or released. Does not touch the process's rand().
std::uint32_t dataNewId();
// Gives back an identifier from dataNewId that no record will take (a discarded
// task output).
void dataReleaseId(std::uint32_t id);

// Creates and links a record. Creation, activation and deletion run on the interface
// thread: called from another thread they are sent there and waited for. The object
// goes to the field of its kind: an ImageObject for kind 0, a KindObject otherwise.
// Returns null when the kind is unknown or the object does not fit it.
DataRecord* dataCreate(int kind, std::unique_ptr<ImageObject> image,
    std::unique_ptr<KindObject> object, std::uint32_t imageId, std::uint32_t blockId);

DataRecord* dataFind(std::uint32_t id);
// The image record whose blockId is id and that holds a block, or null.
DataRecord* dataFindBlock(std::uint32_t id);
// The image record whose imageId is id, or null.
DataRecord* dataFindImage(std::uint32_t id);
DataRecord* dataFindByWindow(WindowHandle window);
DataRecord* dataFindByKindRecency(int kind, int n);
DataRecord* dataFindView3dByHandle(const void* handle);
int dataCount(int kind);
// Snapshots in list order (newest first).
std::vector<DataRecord*> dataListAll();
// True when the file at path exists and an open datum reads samples from it: the
// file of a block, one of its companions or a part of its logical volume, compared
// as the same file on disk whatever the name. The block except (about to take the
// file itself) is left out. Writing over such a file would change that datum under
// its feet.
bool dataFileInUse(const std::string& path, const BlockDescriptor* except = nullptr);
std::vector<DataRecord*> dataListByLinkGroup(std::uint32_t group);
std::vector<DataRecord*> dataListByViewGroup(std::uint32_t group);
void dataMergeLinkGroup(DataRecord* target, DataRecord* source);
DataRecord* dataFindStudyOf(DataRecord* record);
DataRecord* dataFindView3dOf(DataRecord* record);
DataRecord* dataFindMviewOf(DataRecord* record);
DataRecord* dataFindBlockImageOf(DataRecord* record);

// The record whose window was last activated, and the last activated image record.
DataRecord* dataActive();
DataRecord* dataActiveImage();

void dataActivate(DataRecord* record);
// Unlinks and frees the record; returns the new head.
DataRecord* dataDelete(DataRecord* record);
// "number - name - position - fileName - directory" (empty parts skipped), at most
// 1000 bytes.
std::string dataTitle(const DataRecord* record);
void dataUpdateTitle(DataRecord* record);
// Sets the name, updates the title and redraws.
void dataSetName(DataRecord* record, const std::string& name);
// Sets the position label (a block image's shown section).
void dataSetPosition(DataRecord* record, const std::string& position);

// Taking inputs by recency: the records of the kind in increasing kindRecency (ties
// in registry order), first one for which accept() is true.
DataRecord* dataTakeByRecency(int kind, const std::function<bool(DataRecord*)>& accept);

// Typed creators: create the record on the interface thread, store the groups when
// above 0, and have the host build the window (request 13 image ... 18 Mview). The
// image creator empties the name when the image holds a block and prepares the
// displayed section. Null (and the object freed) when the record cannot be made.
DataRecord* dataCreateImage(std::unique_ptr<ImageObject> image, std::uint32_t imageId,
    std::uint32_t blockId, std::uint32_t linkGroup = 0, std::uint32_t viewGroup = 0);
DataRecord* dataCreateKind(int kind, std::unique_ptr<KindObject> object, std::uint32_t imageId,
    std::uint32_t blockId, std::uint32_t linkGroup = 0, std::uint32_t viewGroup = 0);

// Closes the datum's window (busyCount cleared first); without a window the record
// is deleted at once.
void dataClose(DataRecord* record);
// Asks the views of a record to redraw (posted to the interface thread).
void dataRedraw(DataRecord* record);

// User data and callbacks. record null: the global lists.
void dataUserDataNew(DataRecord* record, const std::string& name);
void dataUserDataSet(DataRecord* record, const std::string& name, int value);
int dataUserDataGet(DataRecord* record, const std::string& name);
void dataUserDataDelete(DataRecord* record, const std::string& name);
void dataCallbackAdd(
    DataRecord* record, const std::string& name, DataCallbackFn function, void* userArgument);
void dataCallbackSub(DataRecord* record, const std::string& name, DataCallbackFn function);
int dataCallbackCount(DataRecord* record, const std::string& name);
// Delivers an event to the entries of that name, in list order; returns the value of
// the last call (0 when none). Entries added or removed by a callback take effect
// for later deliveries; a removed entry is not called.
int dataFire(DataRecord* record, const std::string& event, void* eventData, DataEventGetter getter,
    DataEventSetter setter);
int dataCallbackGetEvent(DataRecord* record, const char* event, const char* key, void* out);
int dataCallbackSetEvent(DataRecord* record, const char* event, const char* key, void* value);

// The registry's lock. Registry functions take it themselves; code that reads
// fields of a record that the interface thread may change (name, groups, recency)
// from a worker holds it shared.
std::shared_mutex& registryMutex();

// Removes every record and resets the counters, identifiers and globals (end of
// the run, tests).
void dataResetRegistry();

// Splits "dir/name" into ("dir/", "name"); both empty without a separator ('/' or
// '\\').
void splitFileName(const std::string& path, std::string& directory, std::string& fileName);

} // namespace vexa
