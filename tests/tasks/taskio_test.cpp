// Inputs and outputs of tasks, driven through the plug-in callbacks on worker tasks.
#include "tasktestsupport.h"

#include "data/dataapi.h"
#include "support/tempdir.h"
#include "tasks/taskmutex.h"

#include <cstdlib>
#include <filesystem>

namespace vexa {
namespace {

using testing::TaskFixture;

class TaskInputs : public TaskFixture { };
class TaskOutputs : public TaskFixture { };
class TaskCallbacks : public TaskFixture { };

TEST_F(TaskInputs, MostRecentlyActivatedComesFirstThenNone)
{
    DataRecord* a = newImage();
    DataRecord* b = newImage();
    DataRecord* c = newImage();
    dataActivate(a);
    dataActivate(b);
    dataActivate(c);
    std::vector<unsigned> taken;
    runCommand([&] {
        for (int i = 0; i < 4; ++i)
            taken.push_back(vexaImageGetIn());
    });
    EXPECT_EQ(taken, (std::vector<unsigned> { c->imageId, b->imageId, a->imageId, 0u }));
}

TEST_F(TaskInputs, NeverActivatedRecordsFollowInRegistryOrder)
{
    DataRecord* a = newImage();
    DataRecord* b = newImage();
    DataRecord* c = newImage();
    dataActivate(a);
    std::vector<unsigned> taken;
    runCommand([&] {
        for (int i = 0; i < 3; ++i)
            taken.push_back(vexaImageGetIn());
    });
    // a first, then the newest of the never-activated ones.
    EXPECT_EQ(taken, (std::vector<unsigned> { a->imageId, c->imageId, b->imageId }));
}

TEST_F(TaskInputs, HeldWhileTheTaskRunsAndReleasedAtItsEnd)
{
    DataRecord* image = newImage();
    DataRecord* view = newKind(DATA_VIEW3D);
    DataRecord* study = newKind(DATA_STUDY);
    view->busyCount = 2; // held by two other tasks
    int imageBusy = -1, viewBusy = -1, studyBusy = -1;
    runCommand([&] {
        EXPECT_EQ(vexaImageGetIn(), image->imageId);
        EXPECT_EQ(vexaView3dGetIn(), view->imageId);
        EXPECT_EQ(vexaStudyGetIn(), study->imageId);
        imageBusy = image->busyCount;
        viewBusy = view->busyCount;
        studyBusy = study->busyCount;
    });
    EXPECT_EQ(imageBusy, 1);
    EXPECT_EQ(viewBusy, 3);
    EXPECT_EQ(studyBusy, 1);
    EXPECT_EQ(image->busyCount, 0);
    EXPECT_EQ(view->busyCount, 2);
    EXPECT_EQ(study->busyCount, 0);
}

TEST_F(TaskInputs, ImageTakenAsImageIsNotOfferedAgainAsBlock)
{
    DataRecord* plain = newImage();
    DataRecord* block = newBlockImage();
    dataActivate(plain);
    dataActivate(block);
    unsigned asImage = 0, asBlock = 0, again = 0;
    runCommand([&] {
        asImage = vexaImageGetIn();
        asBlock = vexaBlockGetIn();
        again = vexaImageGetIn();
    });
    EXPECT_EQ(asImage, block->imageId);
    EXPECT_EQ(asBlock, 0u); // the plain image holds no block
    EXPECT_EQ(again, plain->imageId);
    EXPECT_EQ(block->busyCount, 0);
}

TEST_F(TaskInputs, BlockInputReturnsTheBlockIdentifier)
{
    DataRecord* block = newBlockImage();
    unsigned id = 0, byCount = 0;
    runCommand([&] {
        id = vexaBlockGetIn();
        byCount = dozDataGetIdByCount(nullptr, SLOT_BLOCK_IN, 1);
    });
    EXPECT_EQ(id, block->blockId);
    EXPECT_EQ(byCount, block->blockId);
}

TEST_F(TaskInputs, SetNumberRefusesAKindAlreadyHeld)
{
    newImage();
    newImage();
    DataRecord* third = newImage();
    int refused = -1, accepted = -1;
    std::vector<unsigned> afterwards;
    runCommand([&] {
        vexaImageGetIn();
        refused = dozDataSetNumber(nullptr, SLOT_IMAGE_IN, 2);
        afterwards.push_back(dozDataGetIdByCount(nullptr, SLOT_IMAGE_IN, 2));
        accepted = dozDataSetNombre(nullptr, SLOT_VIEW3D_IN, 5); // none exist: still 1
    });
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(afterwards, std::vector<unsigned> { 0u });
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(third->busyCount, 0);
}

TEST_F(TaskInputs, SetNumberTakesUpToCount)
{
    DataRecord* a = newImage();
    DataRecord* b = newImage();
    dataActivate(a);
    dataActivate(b);
    std::vector<unsigned> ids;
    runCommand([&] {
        EXPECT_EQ(dozDataSetNumber(nullptr, SLOT_IMAGE_IN, 3), 1);
        for (int n = 1; n <= 3; ++n)
            ids.push_back(dozDataGetIdByCount(nullptr, SLOT_IMAGE_IN, n));
    });
    EXPECT_EQ(ids, (std::vector<unsigned> { b->imageId, a->imageId, 0u }));
}

TEST_F(TaskInputs, AWindowClosedByAPluginDoesNotBreakTheRelease)
{
    DataRecord* image = newImage();
    unsigned id = image->imageId;
    runCommand([&] {
        EXPECT_EQ(vexaImageGetIn(), id);
        // What vexaWindowClose does: busyCount cleared, the record goes.
        runOnInterfaceThread(GuiRequest::OpenWindow, [&] {
            image->busyCount = 0;
            dataDelete(image);
        });
    });
    EXPECT_EQ(dataFind(id), nullptr);
}

TEST_F(TaskOutputs, NeverShownOutputIsShownAtEndWithNameAndComputeTime)
{
    unsigned id = 0;
    runCommand(
        [&] {
            id = vexaImageNew();
            EXPECT_NE(id, 0u);
            EXPECT_EQ(dataFind(id), nullptr); // declared, no record yet
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        },
        "Racine Carrée");
    DataRecord* r = dataFind(id);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->name, "Racine Carrée");
    EXPECT_EQ(r->shownByTask, 1);
    EXPECT_EQ(r->busyCount, 0);
    ASSERT_NE(r->image2d(), nullptr);
    EXPECT_EQ(r->image2d()->width, kDefaultImageSize);
    EXPECT_EQ(r->image2d()->height, kDefaultImageSize);
    EXPECT_EQ(r->image2d()->typeData, TYPEDATA_U8);
    EXPECT_GE(r->image2d()->computeTime, 0.025);
    EXPECT_LT(r->image2d()->computeTime, 30.0);
    EXPECT_EQ(host.count(GuiRequest::OpenImage), 1);
    EXPECT_NE(host.titleOf(r->window).find("Racine Carrée"), std::string::npos);
}

TEST_F(TaskOutputs, OutputShownDuringTheTaskIsBusyUntilItEnds)
{
    unsigned id = 0;
    int busyWhileRunning = -1;
    DataRecord* shown = nullptr;
    runCommand([&] {
        id = vexaImageNew();
        EXPECT_EQ(vexaImageSetTypeData(id, TYPEDATA_F32), 1);
        EXPECT_EQ(vexaImageSetSize(id, 30, 20), 1);
        shown = static_cast<DataRecord*>(vexaImageShow(id));
        busyWhileRunning = shown ? int(shown->busyCount) : -1;
        // Shown: further configuration does nothing.
        EXPECT_EQ(vexaImageSetSize(id, 5, 5), 0);
        EXPECT_EQ(vexaImageShow(id), shown);
    });
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(dataFind(id), shown);
    EXPECT_EQ(busyWhileRunning, 1);
    EXPECT_EQ(shown->busyCount, 0);
    EXPECT_EQ(shown->image2d()->width, 30);
    EXPECT_EQ(shown->image2d()->height, 20);
    EXPECT_EQ(shown->image2d()->typeData, TYPEDATA_F32);
    ASSERT_TRUE(shown->image2d()->samples);
    EXPECT_EQ(shown->image2d()->samples.size(), 30u * 20u * 4u);
    EXPECT_EQ(host.count(GuiRequest::OpenImage), 1);
}

TEST_F(TaskOutputs, BadConfigurationIsRefused)
{
    unsigned id = 0;
    runCommand([&] {
        id = vexaImageNew();
        EXPECT_EQ(vexaImageSetSize(id, 0, 10), 0);
        EXPECT_EQ(vexaImageSetSize(id, 10, -3), 0);
        EXPECT_EQ(vexaImageSetTypeData(id, 0), 0);
        EXPECT_EQ(vexaImageSetTypeData(id, 10), 0);
        EXPECT_EQ(vexaImageSetSize(id + 1, 10, 10), 0); // not an output of this task
        EXPECT_EQ(vexaGraphSetSize(id, 10, 10), 0); // an image, not a graph
    });
    DataRecord* r = dataFind(id);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->image2d()->width, kDefaultImageSize);
    EXPECT_EQ(r->image2d()->typeData, TYPEDATA_U8);
}

TEST_F(TaskOutputs, OutputTooLargeToAllocateIsDroppedWithoutARecord)
{
    unsigned id = 0;
    runCommand([&] {
        id = vexaImageNew();
        EXPECT_EQ(vexaImageSetTypeData(id, TYPEDATA_F64), 1);
        EXPECT_EQ(vexaImageSetSize(id, 2000000000, 2000000000), 1);
        EXPECT_EQ(vexaImageShow(id), nullptr);
        EXPECT_EQ(dozDataGetIdByCount(nullptr, SLOT_IMAGE_OUT, 1), 0u);
    });
    EXPECT_EQ(dataFind(id), nullptr);
    EXPECT_EQ(host.count(GuiRequest::OpenImage), 0);
}

TEST_F(TaskOutputs, UnconfiguredBlockIs64CubedBytesInMemory)
{
    unsigned id = 0;
    runCommand([&] { id = vexaBlockNew(); });
    DataRecord* r = dataFind(id);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->blockId, id);
    ASSERT_NE(r->block(), nullptr);
    EXPECT_EQ(r->block()->dimX, 64);
    EXPECT_EQ(r->block()->dimY, 64);
    EXPECT_EQ(r->block()->dimZ, 64);
    EXPECT_EQ(r->block()->typeData, TYPEDATA_U8);
    EXPECT_EQ(r->block()->storage, STORAGE_MEMORY);
    EXPECT_EQ(r->block()->samples.size(), 64u * 64u * 64u);
    EXPECT_EQ(r->name, "Racine Carrée");
    EXPECT_GE(r->block()->computeTime, 0.0);
}

TEST_F(TaskOutputs, BlockOutputsDeclaredAndConfiguredTogether)
{
    runCommand([&] {
        vexaBlockNew();
        EXPECT_EQ(dozDataSetBlockNombreTypeTaille(nullptr, 1, TYPEDATA_S16, 5, 6, 7), 1);
    });
    std::vector<DataRecord*> blocks;
    for (DataRecord* r : dataListAll())
        if (r->block())
            blocks.push_back(r);
    ASSERT_EQ(blocks.size(), 2u);
    for (DataRecord* r : blocks) {
        EXPECT_EQ(r->block()->dimX, 5);
        EXPECT_EQ(r->block()->dimY, 6);
        EXPECT_EQ(r->block()->dimZ, 7);
        EXPECT_EQ(r->block()->typeData, TYPEDATA_S16);
    }
}

TEST_F(TaskOutputs, BlockSizeAndTypeOfOneOrdinalOnly)
{
    unsigned a = 0, b = 0;
    runCommand([&] {
        a = vexaBlockNew();
        b = vexaBlockNew();
        EXPECT_EQ(dozDataSetBlockSize(nullptr, 2, 3, 4, 5), 1);
        EXPECT_EQ(dozDataSetType(nullptr, SLOT_BLOCK_OUT, 2, TYPEDATA_F32), 1);
        EXPECT_EQ(vexaBlockSetSize(a, 8, 8, 2), 1);
        EXPECT_EQ(dozDataSetBlockSize(nullptr, 3, 1, 1, 1), 0); // no third block
        EXPECT_EQ(dozDataSetBlockSize(nullptr, 1, 0, 1, 1), 0); // bad size
        EXPECT_EQ(dozDataSetType(nullptr, SLOT_GRAPH_OUT, 1, TYPEDATA_F32), 0);
        EXPECT_EQ(dozDataSetBlockMemoryAll(nullptr), 1);
    });
    DataRecord* ra = dataFind(a);
    DataRecord* rb = dataFind(b);
    ASSERT_TRUE(ra && rb);
    EXPECT_EQ(ra->block()->dimX, 8);
    EXPECT_EQ(ra->block()->dimZ, 2);
    EXPECT_EQ(ra->block()->typeData, TYPEDATA_U8);
    EXPECT_EQ(rb->block()->dimX, 3);
    EXPECT_EQ(rb->block()->dimY, 4);
    EXPECT_EQ(rb->block()->dimZ, 5);
    EXPECT_EQ(rb->block()->typeData, TYPEDATA_F32);
}

TEST_F(TaskOutputs, BlockFileIsCreatedWithItsHeaderBeforeAnySection)
{
    vexatest::TempDir dir("vexa-tasks");
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("out.gdr");
    std::uintmax_t sizeBeforeShow = 0;
    unsigned id = 0;
    runCommand([&] {
        id = vexaBlockNew();
        EXPECT_EQ(dozDataSetBlockSize(nullptr, 1, 10, 11, 3), 1);
        EXPECT_EQ(dozDataSetBlockFile(nullptr, 1, 1, path.c_str()), 1);
        std::error_code ec;
        sizeBeforeShow = std::filesystem::file_size(path, ec);
        EXPECT_EQ(dozDataSetBlockFile(nullptr, 1, 1, nullptr), 0);
        EXPECT_EQ(vexaBlockSetFile(id, 0, ""), 0);
    });
    EXPECT_GT(sizeBeforeShow, 0u);
    DataRecord* r = dataFind(id);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->block()->storage, STORAGE_FILE);
    EXPECT_EQ(r->block()->fileName, path);
    EXPECT_FALSE(r->block()->samples);
}

TEST_F(TaskOutputs, UnwritableBlockFileLeavesTheBlockInMemory)
{
    unsigned id = 0;
    runCommand([&] {
        id = vexaBlockNew();
        EXPECT_EQ(dozDataSetBlockFile(nullptr, 1, 0, "/nonexistent/dir/out.gdr"), 0);
    });
    DataRecord* r = dataFind(id);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->block()->storage, STORAGE_MEMORY);
    EXPECT_TRUE(r->block()->samples);
}

TEST_F(TaskOutputs, GraphAndView3dOutputsGetTheirSizes)
{
    unsigned graph = 0, graph2 = 0, view = 0;
    runCommand([&] {
        graph = vexaGraphNew();
        graph2 = vexaGraphNew();
        view = vexaView3dNew();
        EXPECT_EQ(dozDataSetGraphSizeAll(nullptr, 50, 60), 1);
        EXPECT_EQ(dozDataSetGraphSize(nullptr, 2, 70, 80), 1);
        EXPECT_NE(vexaView3dShow(view), nullptr);
    });
    int w, h, d;
    ASSERT_NE(dataFind(graph), nullptr);
    dataFind(graph)->graph->reportSizes(w, h, d);
    EXPECT_EQ(w, 50);
    EXPECT_EQ(h, 60);
    dataFind(graph2)->graph->reportSizes(w, h, d);
    EXPECT_EQ(w, 70);
    EXPECT_EQ(h, 80);
    ASSERT_NE(dataFind(view), nullptr);
    EXPECT_EQ(dataFind(view)->kind, DATA_VIEW3D);
    dataFind(view)->view3d->reportSizes(w, h, d);
    EXPECT_EQ(w, kDefaultObjectSize);
    EXPECT_EQ(host.count(GuiRequest::OpenGraph), 2);
    EXPECT_EQ(host.count(GuiRequest::OpenView3d), 1);
}

TEST_F(TaskOutputs, ImageOutputsConfiguredTogether)
{
    runCommand([&] {
        vexaImageNew();
        EXPECT_EQ(dozDataSetImageNombreTypeTaille(nullptr, 2, TYPEDATA_U16, 12, 9), 1);
        EXPECT_EQ(dozDataSetImageTaille(nullptr, 3, 4, 4), 1);
        EXPECT_EQ(dozDataSetTypeAll(nullptr, SLOT_IMAGE_OUT, TYPEDATA_S32), 1);
        EXPECT_EQ(dozDataSetImageSize(nullptr, 4, 4, 4), 0);
    });
    std::vector<std::pair<int, int>> sizes;
    for (DataRecord* r : dataListAll()) {
        EXPECT_EQ(r->image2d()->typeData, TYPEDATA_S32);
        sizes.emplace_back(r->image2d()->width, r->image2d()->height);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<std::pair<int, int>> { { 4, 4 }, { 12, 9 }, { 12, 9 } }));
}

TEST_F(TaskOutputs, CalibrationCopiedFromASameSizeInput)
{
    DataRecord* input = newImage(32, 24);
    for (int i = 0; i < 6; ++i)
        input->image2d()->calibration[i] = 10 + i;
    unsigned same = 0, other = 0;
    runCommand([&] {
        same = vexaImageNew();
        vexaImageGetIn();
        vexaImageSetSize(same, 32, 24);
        other = vexaImageNew();
        vexaImageSetSize(other, 32, 25);
    });
    ASSERT_TRUE(dataFind(same) && dataFind(other));
    EXPECT_EQ(dataFind(same)->image2d()->calibration[5], 15);
    EXPECT_EQ(dataFind(same)->image2d()->calibration[0], 10);
    EXPECT_EQ(dataFind(other)->image2d()->calibration[0], 0);
}

TEST_F(TaskOutputs, CalibrationNotCopiedWhenItsFirstWordIsZero)
{
    DataRecord* input = newImage(8, 8);
    input->image2d()->calibration[1] = 7;
    unsigned out = 0;
    runCommand([&] {
        vexaImageGetIn();
        out = vexaImageNew();
        vexaImageSetSize(out, 8, 8);
    });
    ASSERT_NE(dataFind(out), nullptr);
    EXPECT_EQ(dataFind(out)->image2d()->calibration[1], 0);
}

TEST_F(TaskCallbacks, GetIdByCountShowsPendingOutputsAndRefusesBadKinds)
{
    unsigned declared = 0, byCount = 0, missing = 1, badKind = 1, negative = 1;
    bool recordBefore = true, recordAfter = false;
    runCommand([&] {
        declared = vexaGraphNew();
        recordBefore = dataFind(declared) != nullptr;
        byCount = dozDataGetIdByCount(nullptr, SLOT_GRAPH_OUT, 1);
        recordAfter = dataFind(declared) != nullptr;
        missing = dozDataGetIdByCount(nullptr, SLOT_GRAPH_OUT, 2);
        badKind = dozDataGetIdByCount(nullptr, 8, 1);
        negative = dozDataGetIdByCount(nullptr, -1, 1);
    });
    EXPECT_FALSE(recordBefore);
    EXPECT_EQ(byCount, declared);
    EXPECT_TRUE(recordAfter);
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(badKind, 0u);
    EXPECT_EQ(negative, 0u);
}

TEST_F(TaskCallbacks, ProgressThroughEveryName)
{
    TaskProgress seen[3];
    runCommand([&] {
        EXPECT_EQ(dozTaskSetIntervalProgress(nullptr, 5, 5), 1);
        EXPECT_EQ(dozTaskSetProgress(nullptr, 7), 0);
        seen[0] = taskCurrent()->progress;
        dozTacheSetIntervalProgression(nullptr, 0, 200);
        EXPECT_EQ(dozTacheSetProgression(nullptr, 50), 1);
        seen[1] = taskCurrent()->progress;
        vexaProgressSetMinMax(10, 0);
        EXPECT_EQ(vexaProgressSetPosition(1), 1);
        seen[2] = taskCurrent()->progress;
    });
    EXPECT_EQ(seen[0].min, 5);
    EXPECT_EQ(seen[0].max, 6);
    EXPECT_EQ(seen[0].fraction, -1.0);
    EXPECT_DOUBLE_EQ(seen[1].fraction, 0.25);
    EXPECT_DOUBLE_EQ(seen[2].fraction, 0.1);
}

TEST_F(TaskCallbacks, ResetTimerRestartsTheComputeTime)
{
    unsigned id = 0;
    std::chrono::steady_clock::time_point reset;
    runCommand([&] {
        id = vexaImageNew();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        reset = std::chrono::steady_clock::now();
        EXPECT_EQ(vexaProgressReset(), 1);
    });
    double sinceReset
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - reset).count();
    ASSERT_NE(dataFind(id), nullptr);
    // Only the time after the reset counts, not the 300 ms before it.
    EXPECT_LE(dataFind(id)->image2d()->computeTime, sinceReset + 0.002);
}

TEST_F(TaskCallbacks, FrenchNamesAreTheSameFunctions)
{
    EXPECT_EQ(&dozDataSetNombre, &dozDataSetNumber);
    EXPECT_EQ(&dozDataSetImageTaille, &dozDataSetImageSize);
    EXPECT_EQ(&dozDataSetBlocNombreTypeTaille, &dozDataSetBlockNumberTypeSize);
    EXPECT_EQ(&dozTacheSetProgression, &dozTaskSetProgress);
    EXPECT_EQ(&dozTacheSetIntervalProgression, &dozTaskSetIntervalProgress);
}

TEST_F(TaskCallbacks, MenuIdComesFromTheInstalledResolver)
{
    int withoutTable = -1, withTable = -1;
    runCommand([&] { withoutTable = dozTaskGetMenuId(nullptr); });
    taskSetMenuIdResolver([](int commandId) { return commandId == 1300 ? 42 : -9; });
    runCommand([&] { withTable = dozTaskGetMenuId(nullptr); });
    taskSetMenuIdResolver(nullptr);
    EXPECT_EQ(withoutTable, 0);
    EXPECT_EQ(withTable, 42);
}

TEST_F(TaskCallbacks, OutsideAnyTaskTheCallbacksDoNothing)
{
    EXPECT_EQ(vexaImageGetIn(), 0u);
    EXPECT_EQ(vexaImageNew(), 0u);
    EXPECT_EQ(dozTaskSetProgress(nullptr, 0), 0);
    EXPECT_EQ(dozDataSetNumber(nullptr, SLOT_IMAGE_OUT, 2), 0);
    EXPECT_EQ(dozDataGetIdByCount(nullptr, SLOT_IMAGE_OUT, 1), 0u);
    EXPECT_EQ(taskContextCount(), 0);
}

TEST_F(TaskCallbacks, AbsurdOutputCountsAreRefused)
{
    int result = -1;
    std::size_t taskSlots = 0;
    runCommand([&] {
        result = dozDataSetNumber(nullptr, SLOT_IMAGE_OUT, 2000000000);
        taskSlots = taskCurrent()->taskSlots.size();
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(taskSlots, 0u);
}

} // namespace
} // namespace vexa
