#include "datatest_util.h"

#include "support/fakehost.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

using namespace vexa;
using datatest::RegistryTest;

namespace {

struct GraphObject : KindObject { };

DataRecord* plainImage()
{
    return dataCreate(DATA_IMAGE, newImageOutputObject(), nullptr, kFreshId, kFreshId);
}

DataRecord* kindRecord(int kind)
{
    return dataCreate(kind, nullptr, std::make_unique<GraphObject>(), kFreshId, kFreshId);
}

} // namespace

using RegistryCreation = RegistryTest;

TEST_F(RegistryCreation, NumbersCountRecordsOfEveryKindFromOne)
{
    DataRecord* a = kindRecord(DATA_GRAPH);
    DataRecord* b = plainImage();
    DataRecord* c = kindRecord(DATA_VIEW3D);
    EXPECT_EQ(a->number, "1");
    EXPECT_EQ(b->number, "2");
    EXPECT_EQ(c->number, "3");
    EXPECT_EQ(a->name, "Graph");
    EXPECT_EQ(b->name, "Image");
    EXPECT_EQ(c->name, "View 3D");
    // Each record starts in groups of its own.
    EXPECT_NE(a->linkGroup, b->linkGroup);
    EXPECT_NE(b->viewGroup, c->viewGroup);
}

TEST_F(RegistryCreation, NewestRecordIsTheHead)
{
    DataRecord* a = plainImage();
    DataRecord* b = plainImage();
    auto all = dataListAll();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], b);
    EXPECT_EQ(all[1], a);
}

TEST_F(RegistryCreation, RefusesObjectsThatDoNotFitTheKind)
{
    EXPECT_EQ(dataCreate(1, newImageOutputObject(), nullptr, kFreshId, kFreshId), nullptr);
    EXPECT_EQ(dataCreate(DATA_GRAPH, newImageOutputObject(), nullptr, kFreshId, kFreshId), nullptr);
    EXPECT_EQ(dataCreate(DATA_IMAGE, nullptr, nullptr, kFreshId, kFreshId), nullptr);
    EXPECT_EQ(dataCount(DATA_IMAGE), 0);
}

TEST_F(RegistryCreation, ImageSplitsItsFileNameIntoDirectoryAndName)
{
    auto object = newImageOutputObject();
    object->image->fileName = "/data/cubes/vol.gdr";
    DataRecord* r = dataCreate(DATA_IMAGE, std::move(object), nullptr, kFreshId, kFreshId);
    EXPECT_EQ(r->directory, "/data/cubes/");
    EXPECT_EQ(r->fileName, "vol.gdr");

    auto bare = newImageOutputObject();
    bare->image->fileName = "vol.gdr";
    DataRecord* s = dataCreate(DATA_IMAGE, std::move(bare), nullptr, kFreshId, kFreshId);
    EXPECT_EQ(s->directory, "");
    EXPECT_EQ(s->fileName, "");
}

using RegistryIdentifiers = RegistryTest;

TEST_F(RegistryIdentifiers, FreshIdentifiersAreNeverZeroMinusOneOrRepeated)
{
    std::set<std::uint32_t> seen;
    for (int i = 0; i < 2000; ++i) {
        std::uint32_t id = dataNewId();
        EXPECT_NE(id, 0u);
        EXPECT_NE(id, kFreshId);
        EXPECT_TRUE(seen.insert(id).second);
    }
}

TEST_F(RegistryIdentifiers, DoNotMoveTheProcessRandomSequence)
{
    std::srand(1234);
    int expected[3] = { std::rand(), std::rand(), std::rand() };
    std::srand(1234);
    int got0 = std::rand();
    for (int i = 0; i < 10; ++i)
        plainImage();
    int got1 = std::rand();
    dataNewId();
    int got2 = std::rand();
    EXPECT_EQ(got0, expected[0]);
    EXPECT_EQ(got1, expected[1]);
    EXPECT_EQ(got2, expected[2]);
}

TEST_F(RegistryIdentifiers, FindByBlockIdGivesTheImageRecordHoldingTheBlock)
{
    DataRecord* r = datatest::memoryBlock(4, 4, 4, TYPEDATA_U8, [](int, int, int) { return 0; });
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r->imageId, r->blockId);
    EXPECT_EQ(dataFind(r->blockId), r);
    EXPECT_EQ(dataFind(r->imageId), r);
    EXPECT_EQ(dataFindBlock(r->blockId), r);
    EXPECT_EQ(dataFindBlock(r->imageId), nullptr);
    EXPECT_EQ(dataFindImage(r->blockId), nullptr);
    EXPECT_EQ(dataFind(0), nullptr);
}

TEST_F(RegistryIdentifiers, GivenIdentifiersAreKept)
{
    std::uint32_t a = dataNewId(), b = dataNewId();
    DataRecord* r = dataCreate(DATA_IMAGE, newImageOutputObject(), nullptr, a, b);
    EXPECT_EQ(r->imageId, a);
    EXPECT_EQ(r->blockId, b);
    // A live record's identifiers are never handed out again.
    for (int i = 0; i < 1000; ++i) {
        std::uint32_t id = dataNewId();
        EXPECT_NE(id, a);
        EXPECT_NE(id, b);
    }
}

using RegistryRecency = RegistryTest;

TEST_F(RegistryRecency, NewRecordsStayBehindActivatedOnes)
{
    DataRecord* a = plainImage();
    DataRecord* b = plainImage();
    EXPECT_EQ(a->recency, 1000000);
    EXPECT_EQ(b->recency, 1000000);
    dataActivate(a);
    EXPECT_EQ(a->recency, 1);
    EXPECT_EQ(b->recency, 1000000);
}

TEST_F(RegistryRecency, ActivationMovesTheMoreRecentOnesBackByOne)
{
    DataRecord* r[4];
    for (auto& p : r)
        p = plainImage();
    for (int i = 3; i >= 0; --i)
        dataActivate(r[i]); // recency: r0 = 1, r1 = 2, r2 = 3, r3 = 4
    ASSERT_EQ(r[2]->recency, 3);
    dataActivate(r[2]);
    EXPECT_EQ(r[2]->recency, 1);
    EXPECT_EQ(r[0]->recency, 2);
    EXPECT_EQ(r[1]->recency, 3);
    EXPECT_EQ(r[3]->recency, 4);
    EXPECT_EQ(dataActive(), r[2]);
    EXPECT_EQ(dataActiveImage(), r[2]);

    // Activating the active record changes nothing.
    dataActivate(r[2]);
    EXPECT_EQ(r[0]->recency, 2);
}

TEST_F(RegistryRecency, KindRecencyCountsWithinTheKind)
{
    DataRecord* img1 = plainImage();
    DataRecord* graph = kindRecord(DATA_GRAPH);
    DataRecord* img2 = plainImage();
    dataActivate(img1);
    dataActivate(graph);
    dataActivate(img2);
    EXPECT_EQ(img2->kindRecency, 1);
    EXPECT_EQ(img1->kindRecency, 2);
    EXPECT_EQ(graph->kindRecency, 1);
    EXPECT_EQ(graph->recency, 2);
    EXPECT_EQ(img1->recency, 3);
    EXPECT_EQ(dataFindByKindRecency(DATA_IMAGE, 2), img1);
    // The active image stays the last image activated.
    EXPECT_EQ(dataActiveImage(), img2);
}

TEST_F(RegistryRecency, DeletionClosesTheGap)
{
    DataRecord* r[4];
    for (auto& p : r)
        p = plainImage();
    for (int i = 3; i >= 0; --i)
        dataActivate(r[i]);
    dataDelete(r[1]); // recency 2
    EXPECT_EQ(r[0]->recency, 1);
    EXPECT_EQ(r[2]->recency, 2);
    EXPECT_EQ(r[3]->recency, 3);
    EXPECT_EQ(r[3]->kindRecency, 3);
    EXPECT_EQ(dataCount(DATA_IMAGE), 3);
}

TEST_F(RegistryRecency, DeletingTheActiveRecordLeavesNoneActive)
{
    DataRecord* a = plainImage();
    DataRecord* b = plainImage();
    dataActivate(a);
    EXPECT_EQ(dataDelete(a), b);
    EXPECT_EQ(dataActive(), nullptr);
    EXPECT_EQ(dataActiveImage(), nullptr);
    EXPECT_EQ(dataDelete(b), nullptr);
}

TEST_F(RegistryRecency, InputsAreTakenMostRecentlyActivatedFirst)
{
    DataRecord* a = plainImage();
    DataRecord* b = plainImage();
    DataRecord* c = plainImage();
    DataRecord* never = plainImage();
    dataActivate(a);
    dataActivate(b);
    dataActivate(c);
    std::set<DataRecord*> held;
    auto take = [&] {
        DataRecord* r
            = dataTakeByRecency(DATA_IMAGE, [&](DataRecord* d) { return !held.count(d); });
        if (r)
            held.insert(r);
        return r;
    };
    EXPECT_EQ(take(), c);
    EXPECT_EQ(take(), b);
    EXPECT_EQ(take(), a);
    EXPECT_EQ(take(), never);
    EXPECT_EQ(take(), nullptr);
}

using RegistryGroups = RegistryTest;

TEST_F(RegistryGroups, MergedRecordsFindEachOther)
{
    DataRecord* image = plainImage();
    DataRecord* study = kindRecord(DATA_STUDY);
    DataRecord* view = kindRecord(DATA_VIEW3D);
    EXPECT_EQ(dataFindStudyOf(image), nullptr);
    dataMergeLinkGroup(image, study);
    dataMergeLinkGroup(image, view);
    EXPECT_EQ(dataFindStudyOf(image), study);
    EXPECT_EQ(dataFindView3dOf(image), view);
    EXPECT_EQ(dataFindView3dOf(view), view);
    EXPECT_EQ(dataListByLinkGroup(image->linkGroup).size(), 3u);
}

TEST_F(RegistryGroups, BlockImageOfAViewGroup)
{
    DataRecord* block
        = datatest::memoryBlock(2, 2, 2, TYPEDATA_U8, [](int, int, int) { return 1; });
    DataRecord* image = plainImage();
    DataRecord* mview = kindRecord(DATA_MVIEW);
    image->viewGroup = block->viewGroup;
    mview->viewGroup = block->viewGroup;
    EXPECT_EQ(dataFindBlockImageOf(image), block);
    EXPECT_EQ(dataFindBlockImageOf(block), block);
    EXPECT_EQ(dataFindMviewOf(image), mview);
    EXPECT_EQ(dataListByViewGroup(block->viewGroup).size(), 3u);
    EXPECT_TRUE(dataListByViewGroup(999999).empty());
}

using RegistryTitle = RegistryTest;

TEST_F(RegistryTitle, SkipsEmptyParts)
{
    auto object = newImageOutputObject();
    object->image->fileName = "/d/f.gdr";
    DataRecord* r = dataCreate(DATA_IMAGE, std::move(object), nullptr, kFreshId, kFreshId);
    r->name.clear();
    EXPECT_EQ(dataTitle(r), "1 - f.gdr - /d/");
    dataSetName(r, "Racine");
    dataSetPosition(r, "FRONT 00003");
    EXPECT_EQ(dataTitle(r), "1 - Racine - FRONT 00003 - f.gdr - /d/");
}

TEST_F(RegistryTitle, LongNamesAreKeptWhole)
{
    DataRecord* r = plainImage();
    std::string name(5000, 'n');
    ASSERT_EQ(dozDataSetName(r->imageId, name.c_str()), 1);
    char* got = dozDataGetName(r->imageId);
    EXPECT_EQ(std::string(got), name);
    dozDataFree(got);
    char* none = dozDataGetName(12345);
    EXPECT_STREQ(none, "");
    dozDataFree(none);
}

using RegistryUserData = RegistryTest;

TEST_F(RegistryUserData, NamedValuesOnARecordAndGlobally)
{
    DataRecord* r = plainImage();
    EXPECT_EQ(dozDataGetUserData(r->imageId, "k"), 0);
    dozDataNewUserData(r->imageId, "k");
    dozDataSetUserData(r->imageId, "k", 42);
    EXPECT_EQ(dozDataGetUserData(r->imageId, "k"), 42);
    EXPECT_EQ(dozDataGetUserData(r->blockId, "k"), 42);
    // Unknown identifiers use the global list.
    EXPECT_EQ(dozDataGetUserData(7, "k"), 0);
    dozDataNewUserData(7, "g");
    dozDataSetUserData(7, "g", 5);
    EXPECT_EQ(dozDataGetUserData(8, "g"), 5);
    EXPECT_EQ(dozDataNewUserData(r->imageId, nullptr), 0);
}

TEST_F(RegistryUserData, DeletingANameRemovesEveryEntry)
{
    DataRecord* r = plainImage();
    dozDataNewUserData(r->imageId, "k");
    dozDataNewUserData(r->imageId, "k");
    dozDataSetUserData(r->imageId, "k", 3);
    dozDataDeleteUserData(r->imageId, "k");
    EXPECT_EQ(dozDataGetUserData(r->imageId, "k"), 0);
    EXPECT_TRUE(r->userData.empty());
}

namespace {

struct EventLog {
    std::vector<std::string> calls;
    int answer = 0;
};

int recordCall(unsigned int id, void* data, void* user)
{
    auto* log = static_cast<EventLog*>(user);
    log->calls.push_back(std::to_string(id) + ":" + static_cast<const char*>(data));
    // Asks the getter while the event is being delivered.
    int x = -1;
    if (dozDataCallbackGetEvent(id, "MOUSEMOVE", "x", &x))
        log->calls.push_back("x=" + std::to_string(x));
    return ++log->answer;
}

int answerX(unsigned int, const char*, const char* key, void* out)
{
    if (std::strcmp(key, "x") != 0)
        return 0;
    *static_cast<int*>(out) = 17;
    return 1;
}

int removeSelf(unsigned int id, void*, void* user)
{
    dozDataCallbackSub(id, "EV", removeSelf);
    ++*static_cast<int*>(user);
    return 9;
}

} // namespace

using RegistryEvents = RegistryTest;

TEST_F(RegistryEvents, DeliveredInListOrderWithGetter)
{
    DataRecord* r = plainImage();
    EventLog first, second;
    dozDataCallbackAdd(r->imageId, "MOUSEMOVE", recordCall, &first);
    dozDataCallbackAdd(r->imageId, "MOUSEMOVE", recordCall, &second);
    dozDataCallbackAdd(r->imageId, "OTHER", recordCall, &first);
    char data[] = "d";
    int result = dataFire(r, "MOUSEMOVE", data, answerX, nullptr);
    // Newest first: second, then first; the last call's value is returned.
    EXPECT_EQ(result, 1);
    ASSERT_EQ(second.calls.size(), 2u);
    EXPECT_EQ(second.calls[0], std::to_string(r->imageId) + ":d");
    EXPECT_EQ(second.calls[1], "x=17");
    EXPECT_EQ(first.calls.size(), 2u);
    EXPECT_EQ(dataCallbackCount(r, "MOUSEMOVE"), 2);
}

TEST_F(RegistryEvents, GetEventOutsideDeliveryAnswersZero)
{
    DataRecord* r = plainImage();
    EventLog log;
    dozDataCallbackAdd(r->imageId, "MOUSEMOVE", recordCall, &log);
    int x = -1;
    EXPECT_EQ(dozDataCallbackGetEvent(r->imageId, "MOUSEMOVE", "x", &x), 0);
    EXPECT_EQ(dozDataCallbackGetEvent(r->imageId, nullptr, "x", &x), 0);
    EXPECT_EQ(dozDataCallbackSetEvent(r->imageId, "MOUSEMOVE", nullptr, &x), 0);
    EXPECT_EQ(x, -1);
    EXPECT_EQ(dataFire(r, "NOBODY", nullptr, nullptr, nullptr), 0);
}

TEST_F(RegistryEvents, CallbackMayRemoveItselfWhileDelivered)
{
    DataRecord* r = plainImage();
    int calls = 0;
    dozDataCallbackAdd(r->imageId, "EV", removeSelf, &calls);
    dozDataCallbackAdd(r->imageId, "EV", removeSelf, &calls);
    // The first call removes both entries: the second is not called any more.
    EXPECT_EQ(dataFire(r, "EV", nullptr, nullptr, nullptr), 9);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(dataFire(r, "EV", nullptr, nullptr, nullptr), 0);
}

TEST_F(RegistryEvents, GlobalListWithoutRecord)
{
    EventLog log;
    dozDataCallbackAdd(0, "IMAGE_UPDATE", recordCall, &log);
    char data[] = "g";
    EXPECT_EQ(dataFire(nullptr, "IMAGE_UPDATE", data, nullptr, nullptr), 1);
    ASSERT_EQ(log.calls.size(), 1u);
    EXPECT_EQ(log.calls[0], "0:g");
    dozDataCallbackSub(0, "IMAGE_UPDATE", recordCall);
    EXPECT_EQ(dataCallbackCount(nullptr, "IMAGE_UPDATE"), 0);
}

class RegistryWindows : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        installHost(&fake);
        fake.onClose = [](WindowHandle w) { dataDelete(dataFindByWindow(w)); };
    }
    FakeHost fake;
};

TEST_F(RegistryWindows, WorkerCreatesThroughTheInterfaceThread)
{
    std::atomic<DataRecord*> made { nullptr };
    std::atomic<bool> done { false };
    std::thread worker([&] {
        made = showImageObject(newBlockOutputObject(), kFreshId, kFreshId);
        done = true;
    });
    ASSERT_TRUE(fake.runUntil([&] { return done.load(); }));
    worker.join();
    DataRecord* r = made.load();
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r->window.load(), nullptr);
    EXPECT_EQ(fake.count(GuiRequest::OpenImage), 1);
    // A block image has an empty name: its title is the number alone.
    EXPECT_EQ(r->name, "");
    EXPECT_EQ(fake.titleOf(r->window), "1");
    EXPECT_EQ(dataFindByWindow(r->window), r);
}

TEST_F(RegistryWindows, RecordWithoutWindowIsNotKept)
{
    fake.windowsSucceed = false;
    EXPECT_EQ(showImageObject(newImageOutputObject(), kFreshId, kFreshId), nullptr);
    EXPECT_EQ(dataCount(DATA_IMAGE), 0);
}

TEST_F(RegistryWindows, GroupsGivenToTheCreatorReplaceFreshOnes)
{
    DataRecord* r
        = dataCreateKind(DATA_GRAPH, std::make_unique<GraphObject>(), kFreshId, kFreshId, 77, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->linkGroup, 77u);
    EXPECT_EQ(fake.count(GuiRequest::OpenGraph), 1);
}

TEST_F(RegistryWindows, CloseClearsBusyAndDeletes)
{
    DataRecord* r = showImageObject(newImageOutputObject(), kFreshId, kFreshId);
    ASSERT_NE(r, nullptr);
    r->busyCount = 3;
    std::uint32_t id = r->imageId;
    EXPECT_EQ(vexaWindowClose(id), 1);
    EXPECT_EQ(dataFind(id), nullptr);
    EXPECT_EQ(vexaWindowClose(id), 0);
}

TEST_F(RegistryWindows, RenamingRetitlesAndRedraws)
{
    DataRecord* r = showImageObject(newImageOutputObject(), kFreshId, kFreshId);
    ASSERT_NE(r, nullptr);
    dozDataSetName(r->imageId, "Racine Carrée");
    EXPECT_EQ(fake.titleOf(r->window), "1 - Racine Carrée");
    EXPECT_EQ(fake.redrawCount(r), 1);
    EXPECT_EQ(dozDataRedraw(r->blockId), 0);
}

TEST_F(RegistryWindows, WorkerDeletionAndActivationRunOnTheInterfaceThread)
{
    DataRecord* a = showImageObject(newImageOutputObject(), kFreshId, kFreshId);
    DataRecord* b = showImageObject(newImageOutputObject(), kFreshId, kFreshId);
    std::atomic<bool> done { false };
    std::thread worker([&] {
        dataActivate(b);
        dataDelete(a);
        done = true;
    });
    ASSERT_TRUE(fake.runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(dataActive(), b);
    EXPECT_EQ(dataCount(DATA_IMAGE), 1);
}
