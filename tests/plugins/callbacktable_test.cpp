#include "plugins/callbacktable.h"
#include "plugins/pendingapi.h"

#include "data/dataapi.h"
#include "data/dataopen.h"
#include "data/registry.h"
#include "log/logmodel.h"
#include "params/paramapi.h"
#include "plugins/directoryapi.h"
#include "plugins/messageapi.h"
#include "support/fakehost.h"
#include "support/tempdir.h"
#include "tasks/taskapi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using vexa::FakeHost;
using vexa::GuiRequest;
using vexa::MessageAnswer;
using vexa::plugins::callbackTable;
using vexa::plugins::noOpCallback;

namespace {

// The names plug-ins are promised, family by family: groups separated by ", ",
// aliases of one function joined by " = ".
const char* const kFamilies[] = {
    // Data records, sizes, names, user data, events, clicks
    "vexaImageNew, vexaBlockNew, vexaGraphNew, vexaImageSetTypeData, vexaImageSetSize, "
    "vexaBlockSetTypeData, vexaBlockSetSize, vexaGraphSetSize, vexaImageShow, "
    "vexaBlockShow, vexaGraphShow, vexaImageGetSize, vexaImageGetClickNumber, "
    "vexaImageGetClickArray, vexaImageGetCaptureNumber, vexaImageGetCaptureArray, "
    "vexaImageGetPtrData, vexaImageGetTypeData, vexaImageSetClass, vexaBlockGetSize, "
    "vexaBlockGetClickNumber, vexaBlockGetClickArray, vexaBlockGetCaptureNumber, "
    "vexaBlockGetCaptureArray, vexaBlockGetPtrData, vexaBlockGetTypeData, "
    "vexaBlockSetClass, vexaLoadFromFile = dozDataLoadFromFile, vexaWindowRedraw = "
    "dozDataRedraw, vexaWindowClose, vexaWindowGetName = dozDataGetName, "
    "vexaWindowSetName = dozDataSetName, vexaWindowUserDataNew = dozDataNewUserData, "
    "vexaWindowUserDataDelete = dozDataDeleteUserData, vexaWindowUserDataSet = "
    "dozDataSetUserData, vexaWindowUserDataGet = dozDataGetUserData, "
    "vexaWindowCallbackAdd = dozDataCallbackAdd, vexaWindowCallbackSub = "
    "dozDataCallbackSub, vexaWindowCallbackGetEvent = vexaWindowCallbackEventGet = "
    "dozDataCallbackGetEvent = dozDataCallbackEventGet, vexaWindowCallbackSetEvent = "
    "vexaWindowCallbackEventSet = dozDataCallbackSetEvent = dozDataCallbackEventSet, "
    "dozDataGetPtr, dozDataGetCaptureNumber, dozDataGetCaptureX, dozDataGetCaptureY, "
    "dozDataGetCaptureZ, dozDataDelete, dozDataGetWidth = dozDataGetLargeur, "
    "dozDataGetHeight = dozDataGetHauteur, dozDataGetDepth = dozDataGetProfondeur, "
    "dozDataSetNombre = dozDataSetNumber, dozDataSetImageNombreTypeTaille = "
    "dozDataSetImageNumberTypeSize, dozDataSetImageTaille = dozDataSetImageSize, "
    "dozDataSetImageTailleAll = dozDataSetImageSizeAll, dozDataSetType, "
    "dozDataSetTypeAll, dozDataSetGraphSize, dozDataSetGraphSizeAll, "
    "dozDataGetClickNumber, dozDataGetClickX, dozDataGetClickY, dozDataGetClickZ, "
    "dozDataGetCursorX, dozDataGetCursorY, dozDataGetCursorZ, dozDataGetTypeData, "
    "dozDataSetClass",
    // Volume storage
    "vexaBlockSetFile, vexaBlockSetMemory, vexaBlockSetUpdateFile = dozDataSetOp, "
    "vexaBlockGetCursor, vexaBlockCopyToFile, dozDataSetBlocNombreTypeTaille = "
    "dozDataSetBlockNombreTypeTaille = dozDataSetBlockNumberTypeSize, "
    "dozDataSetBlocEmplacementFichier = dozDataSetBlockEmplacementFichier = "
    "dozDataSetBlockFile, dozDataSetBlocEmplacementMemoire = "
    "dozDataSetBlockEmplacementMemoire = dozDataSetBlockMemory, "
    "dozDataSetBlocEmplacementMemoireAll = dozDataSetBlockEmplacementMemoireAll = "
    "dozDataSetBlockMemoryAll, dozDataSetBlocTaille = dozDataSetBlockTaille = "
    "dozDataSetBlockSize, dozDataSetBlocTailleAll = dozDataSetBlockTailleAll = "
    "dozDataSetBlockSizeAll",
    // Slices and sections
    "vexaImageGetData = dozDataGetData, vexaBlockGetFront = dozDataGetInline = "
    "dozDataGetFront, vexaBlockGetPartialFront = dozDataGetPartialInline = "
    "dozDataGetPartialFront, vexaBlockGetRight = dozDataGetRight, "
    "vexaBlockGetPartialRight = dozDataGetPartialRight, vexaBlockGetTop = dozDataGetTop, "
    "vexaBlockGetPartialTop = dozDataGetPartialTop, vexaBlockGetImageFromTopPatch = "
    "dozDataGetImageFromTopPatch, vexaBlockGetImageSONE = dozDataGetImageSONE, "
    "vexaBlockGetImageNOSE = dozDataGetImageNOSE, vexaBlockSetPartialFront = "
    "dozDataSetPartialFront, vexaBlockSetFront = dozDataSetInline = dozDataSetFront, "
    "vexaBlockSetFrontByType = dozDataSetInlineByType = dozDataSetFrontByType, "
    "vexaBlockSetPartialFrontByType = dozDataSetPartialInlineByType = "
    "dozDataSetPartialFrontByType, vexaBlockSetPartialRight = dozDataSetPartialRight, "
    "vexaBlockSetRight = dozDataSetRight, vexaBlockSetRightByType = "
    "dozDataSetRightByType, vexaBlockSetPartialRightByType = "
    "dozDataSetPartialRightByType, vexaBlockSetPartialTop = dozDataSetPartialTop, "
    "vexaBlockSetTop = dozDataSetTop, vexaBlockSetTopByType = dozDataSetTopByType, "
    "vexaBlockSetPartialTopByType = dozDataSetPartialTopByType, vexaBlockSetImageSONE = "
    "dozDataSetImageSONE, vexaBlockSetImageSONEByType = dozDataSetImageSONEByType, "
    "vexaBlockSetImageNOSE = dozDataSetImageNOSE, vexaBlockSetImageNOSEByType = "
    "dozDataSetImageNOSEByType, vexaFree = dozDataFree, vexaPopupImage = dozDataPopup",
    // Task inputs and progress
    "vexaImageGetIn, vexaBlockGetIn, vexaStudyGetIn, vexaView3dGetIn, "
    "vexaProgressSetMinMax, vexaProgressSetPosition, vexaProgressReset, "
    "dozDataGetIdByCount, dozTacheSetIntervalProgression = dozTaskSetIntervalProgress, "
    "dozTacheSetProgression = dozTaskSetProgress, dozTaskResetTimer, dozTaskShouldStop",
    // Menus and libraries
    "dozMenuCreateFromDESC, dozMenuComputeNumberIdFromDESC, dozTaskGetMenuId, "
    "vexaMenuCreate = dozMenuCreate, vexaMenuAddItem, vexaMenuAddSeparator = "
    "dozMenuAddSeparator, vexaMenuAddSubMenu = dozMenuAddSubMenu, vexaLibraryAddMenu, "
    "vexaLibraryAddMenuPopup, vexaLibraryFakeLoad, dozLibraryAddMenu, dozMenuAddItem",
    // Parameter boxes
    "vexaBoxParameter = dozBoiteParametre = dozBoxParameter, vexaBoxParameterAdd = "
    "dozBoxParameterAdd, vexaBoxParameterDialog = dozBoxParameterDialog",
    // File selector
    "dozFileInit, dozFileSelectorOpen, dozFileGetName, dozFileSetName, dozFileDestroy",
    // Messages
    "vexaMsg = dozPlusMsg = dozMsg, vexaMsgFormat = dozPlusMsgFormat = dozMsgFormat, "
    "dozMsgBox = dozPlusMsgBox, dozMsgBoxYNC = dozPlusMsgBoxYNC",
    // Meshes
    "vexaMesh3dCube = dozMesh3dCube, vexaMesh3dSphere = dozMesh3dSphere, vexaMesh3dCone, "
    "vexaMesh3dCylinder, vexaMesh3dArrow = dozMesh3dArrow, vexaMesh3dLine, "
    "vexaMesh3dReadFromFile = dozMesh3dReadFromFile, vexaMesh3dAlloc, vexaMesh3dFree = "
    "dozMesh3dFree, vexaMesh3dScale = dozMesh3dScale, vexaMesh3dTranslate = "
    "dozMesh3dTranslate, vexaMesh3dRotate = dozMesh3dRotate, vexaMesh3dTransform, "
    "vexaMesh3dAddColorVertices",
    // 3D view and 3D objects
    "vexaView3dNew, vexaView3dShow, vexaView3dGetSize, vexaView3dSetSize, "
    "vexaView3dAddObject3d = dozDataView3DAddObject3d, vexaView3dDeleteObject3d = "
    "dozDataView3DDeleteObject3d, vexaView3dDeleteObject3dByName = "
    "dozDataView3DDeleteObject3dByName, vexaView3dSnapshot, vexaView3dSetCamera, "
    "vexaObject3dCreate = dozObject3dCreate, vexaObject3dSetName = dozObject3dSetName, "
    "vexaObject3dSetColor = dozObject3dSetColor, vexaObject3dSetTransparency, "
    "vexaObject3dSetMesh3d = dozObject3dSetMesh3d, vexaObject3dSetCurve3d = "
    "dozObject3dSetCurve3d, vexaObject3dSetVolumeData = dozObject3dSetVolumeData, "
    "vexaObject3dSetVolumeLocation = dozObject3dSetVolumeLocation, vexaObject3dSetVolume "
    "= dozObject3dSetVolume, vexaObject3dSetTexture = dozObject3dSetTexture, "
    "vexaObject3dSetWrapping = dozObject3dSetWrapping, dozDataAddSurface3d, "
    "dozDataGetView3D",
    // 2D overlays and positions
    "dozDataGetPositionFromScreen, dozDataGetPositionFromScreen2, vexaImageAddObject2d, "
    "vexaImageDeleteObject2d, vexaImageDeleteObject2dByName, vexaImageAddLine, "
    "vexaImageAddSquare, vexaObject2dCreate, vexaObject2dSetName, vexaObject2dSetColor, "
    "vexaObject2dSetThickness, vexaObject2dSetArrayPoints, vexaObject2dTranslate, "
    "vexaObject2dScale, dozDataGetFaille, dozDataAddLineRGB, dozDataAddSquareRGB, "
    "dozDataAddAsteriskRGB, dozDataAddArrowRGB, dozDataGetSpace",
    // Graphs
    "dozDataGraphNew, dozDataGraphDelete, dozDataGraphSetPosition, "
    "dozDataGraphSetOrientation, dozDataGraphSetLinear, dozDataGraphSetPolar, "
    "dozDataGraphSetAutoRange, dozDataGraphSetXRange, dozDataGraphSetYRange, "
    "dozDataGraphSetBackgroundVisibility, dozDataGraphSetBackgroundColor, "
    "dozDataGraphSetBorderVisibility, dozDataGraphSetBorderWidth, "
    "dozDataGraphSetBorderColor, dozDataGraphSetXAxisVisibility, "
    "dozDataGraphSetXAxisColor, dozDataGraphSetXAxisWidth, dozDataGraphSetXAxisPosition, "
    "dozDataGraphSetYAxisVisibility, dozDataGraphSetYAxisColor, "
    "dozDataGraphSetYAxisWidth, dozDataGraphSetYAxisPosition, "
    "dozDataGraphSetXGridVisibility, dozDataGraphSetXGridColor, "
    "dozDataGraphSetYGridVisibility, dozDataGraphSetYGridColor, dozDataGraphSetData, "
    "dozDataGraphSetDataVisibility, dozDataGraphSetDataWidth, dozDataGraphSetDataColor",
    // Video streams and video files
    "vexaVideoGetId = dozDataFluxGetId, vexaVideoSetFormatIn = dozDataFluxSetFormatIn, "
    "vexaVideoSetFormatOut = dozDataFluxSetFormatOut, vexaVideoGetDataIn = "
    "dozDataFluxGetDataIn, vexaVideoGetDataOut = dozDataFluxGetDataOut, vexaVideoGetWidth "
    "= dozDataFluxGetLargeur = dozDataFluxGetWidth, vexaVideoGetHeight = "
    "dozDataFluxGetHauteur = dozDataFluxGetHeight, vexaVideoGetUserData = "
    "dozDataFluxGetUserData, vexaVideoSetUserData = dozDataFluxSetUserData, "
    "vexaVideoInitializeCallback = dozDataFluxInitializeCallback, vexaVideoCapture = "
    "dozDataFluxCapture, vexaVideoStart = dozDataFluxStart, vexaVideoGetDuration, "
    "vexaVideoGetCurrentDuration, vexaVideoGetTime = vexaVideoGetCurrentTime = "
    "dozDataFluxGetTime, vexaVideoGetNumberOfFrames, vexaVideoGetNoCurrentFrame, "
    "vexaVideoMoveTo, vexaVideoRefreshOut, vexaVideoFileCreate, vexaVideoFileSet, "
    "vexaVideoFileAddFrame, vexaVideoFileClose",
    // Windows and dialogs
    "dozDialogRunFromDESC, dozDialogWithDataRunFromDESC, dozDialogModalRunFromDESC, "
    "dozDialogModalWithDataRunFromDESC, dozDataAnimateBegin, dozDataAnimateEnd, "
    "dozDataGetMainHwnd, dozDataGetHwnd, dozWindowClose, dozWindowDestroy, "
    "dozWindowEnableItem, dozWindowSetItemText, dozWindowGetItemText, "
    "dozWindowSetItemInt, dozWindowGetItemInt, dozWindowSetItemReal, "
    "dozWindowSetItemReal2, dozWindowModifyItemInt, dozWindowModifyItemIntMinMax, "
    "dozWindowModifyItemReal, dozWindowModifyItemRealMinMax, dozWindowCheckButton, "
    "dozWindowCheckRadioButton, dozDialogEnd",
    // Directories and bitmaps
    "vexaImageSaveBitmap = dozDataSaveDib, vexaDirectoryScanGetFiles, "
    "vexaDirectoryScanGetDirectories",
};

// Names outside the families' lists, with a binding of their own.
const char* const kReservedNoOp[]
    = { "vexaView3dGetDisplay", "vexaView3dSetDisplay", "dozExec", "dozLibraryAddFunction" };
const char* const kSpecialNames[]
    = { "vexaPopupHistogram", "dozDataAllocUserData", "dozDataFreeUserData" };

constexpr const char* kUnknownCaption = "Fonction Inconnue !";
constexpr const char* kWithdrawnCaption = "Fonction Classée Top Secret et Déclassée";

std::vector<std::vector<std::string>> listedGroups()
{
    std::vector<std::vector<std::string>> groups;
    for (const char* family : kFamilies) {
        std::stringstream in(family);
        std::string group;
        while (std::getline(in, group, ',')) {
            std::vector<std::string> names;
            std::stringstream words(group);
            std::string word;
            while (words >> word)
                if (word != "=")
                    names.push_back(word);
            groups.push_back(names);
        }
    }
    return groups;
}

template <typename F> VexaCallback asCallback(F* f)
{
    return reinterpret_cast<VexaCallback>(f);
}

// The callback of name, found directly in the table (no lookup, no box).
VexaCallback tableEntry(const std::string& name)
{
    for (const auto& entry : callbackTable())
        if (name == entry.name)
            return entry.fn;
    return nullptr;
}

// Tests that look names up run with a fake interface that records the boxes.
class CallbackLookup : public ::testing::Test {
protected:
    void SetUp() override { vexa::installHost(&host); }
    void TearDown() override { vexa::installHost(nullptr); }

    std::vector<std::string> boxes() const
    {
        std::vector<std::string> out;
        for (const auto& r : host.requests())
            if (r.code == GuiRequest::MessageBox || r.code == GuiRequest::MessageBoxYesNoCancel)
                out.push_back(r.text);
        return out;
    }

    FakeHost host;
};

// Log lines are posted to the interface thread, here the fake host's queue: a test
// counts what was posted, then pumps the queue and reads the newest line.
class MessageCallbacks : public CallbackLookup {
protected:
    void SetUp() override
    {
        CallbackLookup::SetUp();
        vexa::log::messageLog().drainPosted();
    }
    static int posted() { return vexa::log::messageLog().postedCount(); }
    std::string newestLine()
    {
        host.processPending();
        auto& log = vexa::log::messageLog();
        return log.line(0, log.count(0) - 1);
    }
};

} // namespace

TEST(CallbackTable, HoldsEveryListedNameOnceInListedOrder)
{
    auto table = callbackTable();
    ASSERT_EQ(table.size(), 406u);

    std::set<std::string> seen;
    for (const auto& entry : table) {
        ASSERT_NE(entry.name, nullptr);
        EXPECT_LE(std::strlen(entry.name), vexa::plugins::kMaxCallbackNameChars) << entry.name;
        EXPECT_TRUE(seen.insert(entry.name).second) << "twice: " << entry.name;
        EXPECT_NE(entry.fn, nullptr) << entry.name;
    }

    std::set<std::string> expected(std::begin(kReservedNoOp), std::end(kReservedNoOp));
    expected.insert(std::begin(kSpecialNames), std::end(kSpecialNames));
    std::vector<std::string> listed;
    for (const auto& group : listedGroups())
        for (const auto& name : group) {
            listed.push_back(name);
            expected.insert(name);
        }
    EXPECT_EQ(listed.size(), 399u);
    EXPECT_EQ(seen, expected);

    // The listed names keep their order; the others may sit between them.
    std::size_t next = 0;
    for (const auto& entry : table)
        if (next < listed.size() && listed[next] == entry.name)
            ++next;
    EXPECT_EQ(next, listed.size()) << "out of order at " << listed[next];
}

TEST(CallbackTable, AliasesShareOneFunctionAndGroupsNever)
{
    std::map<VexaCallback, std::string> owner;
    for (const auto& group : listedGroups()) {
        VexaCallback fn = tableEntry(group.front());
        ASSERT_NE(fn, nullptr) << group.front();
        EXPECT_NE(fn, noOpCallback()) << group.front();
        for (const auto& alias : group)
            EXPECT_EQ(tableEntry(alias), fn) << alias << " is not bound as " << group.front();
        auto [it, fresh] = owner.emplace(fn, group.front());
        EXPECT_TRUE(fresh) << group.front() << " shares the function of " << it->second;
    }

    // Plug-ins allocate through dozDataFreeUserData and release through
    // dozDataAllocUserData: the names are swapped on purpose.
    EXPECT_EQ(tableEntry("dozDataAllocUserData"), tableEntry("dozDataFree"));
    EXPECT_EQ(owner.count(tableEntry("dozDataFreeUserData")), 0u);
    EXPECT_EQ(owner.count(tableEntry("vexaPopupHistogram")), 0u);

    std::set<VexaCallback> distinct;
    for (const auto& entry : callbackTable())
        distinct.insert(entry.fn);
    EXPECT_EQ(distinct.size(), 280u);
}

TEST(CallbackTable, OnlyTheFourReservedNamesGiveTheNoOp)
{
    std::set<std::string> noOps;
    for (const auto& entry : callbackTable())
        if (entry.fn == noOpCallback())
            noOps.insert(entry.name);
    EXPECT_EQ(noOps, std::set<std::string>(std::begin(kReservedNoOp), std::end(kReservedNoOp)));
    reinterpret_cast<void (*)()>(noOpCallback())();
}

TEST(CallbackTable, NamesReachTheCoreFunctions)
{
    EXPECT_EQ(tableEntry("vexaBoxParameter"), asCallback(&dozBoxParameterPlugin));
    EXPECT_EQ(tableEntry("vexaLoadFromFile"), asCallback(&dozDataLoadFromFile));
    EXPECT_EQ(tableEntry("dozDataSetNombre"), asCallback(&dozDataSetNumber));
    EXPECT_EQ(tableEntry("dozDataGetInline"), asCallback(&dozDataGetFront));
    EXPECT_EQ(tableEntry("vexaMenuCreate"), asCallback(&dozMenuCreate));
    EXPECT_EQ(tableEntry("vexaMenuAddItem"), asCallback(&vexaMenuAddItem));
    EXPECT_EQ(tableEntry("dozTaskGetMenuId"), asCallback(&dozTaskGetMenuId));
    EXPECT_EQ(tableEntry("dozTaskShouldStop"), asCallback(&dozTaskShouldStop));
    EXPECT_EQ(tableEntry("vexaMsg"), asCallback(&dozMsg));
    EXPECT_EQ(tableEntry("dozPlusMsgBoxYNC"), asCallback(&dozMsgBoxYNC));
    EXPECT_EQ(tableEntry("vexaImageSaveBitmap"), asCallback(&dozDataSaveDib));
    EXPECT_EQ(tableEntry("vexaDirectoryScanGetFiles"), asCallback(&vexaDirectoryScanGetFiles));
    EXPECT_NE(tableEntry("vexaPopupHistogram"), asCallback(&vexaImageNew));
}

TEST_F(CallbackLookup, FrenchAndEnglishSpellingsGiveOneFunction)
{
    VexaCallback french = vexaCallbackLookup("dozBoiteParametre");
    EXPECT_EQ(french, vexaCallbackLookup("dozBoxParameter"));
    EXPECT_EQ(french, asCallback(&dozBoxParameterPlugin));
    EXPECT_EQ(
        vexaCallbackLookup("dozTacheSetProgression"), vexaCallbackLookup("dozTaskSetProgress"));
    EXPECT_TRUE(boxes().empty());
}

TEST_F(CallbackLookup, UnknownNamesShowABoxAndGiveTheNoOp)
{
    for (const char* name : { "dozboxparameter", "dozMsgBo", "dozMsg ", "" })
        EXPECT_EQ(vexaCallbackLookup(name), noOpCallback()) << name;
    EXPECT_EQ(boxes(),
        (std::vector<std::string> { "Fonction Inconnue !|dozboxparameter",
            "Fonction Inconnue !|dozMsgBo", "Fonction Inconnue !|dozMsg ",
            "Fonction Inconnue !|" }));

    std::string longName(5000, 'x');
    EXPECT_EQ(vexaCallbackLookup(longName.c_str()), noOpCallback());
    EXPECT_EQ(vexaCallbackLookup(nullptr), noOpCallback());
    EXPECT_EQ(boxes().back(), std::string(kUnknownCaption) + "|");
    EXPECT_EQ(host.count(GuiRequest::MessageBox), 6);
}

TEST_F(CallbackLookup, WithdrawnNamesShowOneBoxAndGiveTheNoOp)
{
    EXPECT_EQ(vexaCallbackLookup("dozExec"), noOpCallback());
    EXPECT_EQ(boxes(), (std::vector<std::string> { std::string(kWithdrawnCaption) + "|dozExec" }));
    host.clearRequests();
    EXPECT_EQ(vexaCallbackLookup("dozLibraryAddFunction"), noOpCallback());
    EXPECT_EQ(boxes(),
        (std::vector<std::string> { std::string(kWithdrawnCaption) + "|dozLibraryAddFunction" }));
    host.clearRequests();
    // The other two no-op names are not withdrawn: no box.
    EXPECT_EQ(vexaCallbackLookup("vexaView3dGetDisplay"), noOpCallback());
    EXPECT_TRUE(boxes().empty());
}

TEST(CallbackLookupHeadless, WorksWithoutAnInterface)
{
    vexa::installHost(nullptr);
    EXPECT_EQ(vexaCallbackLookup("dozExec"), noOpCallback());
    EXPECT_EQ(vexaCallbackLookup("noSuchCallback"), noOpCallback());
    EXPECT_EQ(vexaCallbackLookup(nullptr), noOpCallback());
    EXPECT_EQ(vexaCallbackLookup("dozMsg"), asCallback(&dozMsg));
}

TEST_F(CallbackLookup, WorkerLookupsWaitForTheirBoxOnTheInterfaceThread)
{
    std::atomic<bool> done { false };
    VexaCallback known = nullptr, unknown = nullptr;
    std::thread worker([&] {
        known = vexaCallbackLookup("dozDataGetFront");
        unknown = vexaCallbackLookup("dozDataGetFrontier");
        done = true;
    });
    EXPECT_TRUE(host.runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(known, asCallback(&dozDataGetFront));
    EXPECT_EQ(unknown, noOpCallback());
    EXPECT_EQ(boxes(), (std::vector<std::string> { "Fonction Inconnue !|dozDataGetFrontier" }));
}

TEST_F(MessageCallbacks, MsgPostsACopyOfTheText)
{
    auto msg = reinterpret_cast<int (*)(const char*)>(vexaCallbackLookup("dozPlusMsg"));
    char text[] = "Calcul terminé";
    EXPECT_EQ(msg(text), 1);
    text[0] = 'X'; // the caller's buffer may change at once
    EXPECT_EQ(posted(), 1);
    EXPECT_EQ(newestLine(), "Calcul terminé");

    EXPECT_EQ(msg(nullptr), 1);
    EXPECT_EQ(newestLine(), "");
}

TEST_F(MessageCallbacks, MsgFormatPostsOnlyNonEmptyResults)
{
    auto format = reinterpret_cast<int (*)(const char*, ...)>(vexaCallbackLookup("vexaMsgFormat"));
    EXPECT_EQ(format("Coupe %d sur %s (%.1f s)", 7, "12", 0.25), 1);
    EXPECT_EQ(newestLine(), "Coupe 7 sur 12 (0.2 s)");

    EXPECT_EQ(format("%s", ""), 0);
    EXPECT_EQ(format(""), 0);
    EXPECT_EQ(format(nullptr), 0);
    EXPECT_EQ(posted(), 0);
}

TEST_F(MessageCallbacks, LongFormattedLinesAreCutNotOverflowed)
{
    std::string head(VEXA_MSG_FORMAT_MAX_CHARS - 1, 'a');
    EXPECT_EQ(dozMsgFormat("%s%c", head.c_str(), 'z'), 1);
    EXPECT_EQ(newestLine(), head + "z"); // exactly the capacity: kept whole

    std::string big(3 * VEXA_MSG_FORMAT_MAX_CHARS, 'b');
    EXPECT_EQ(dozMsgFormat("<%s>", big.c_str()), 1);
    std::string line = newestLine();
    ASSERT_EQ(line.size(), std::size_t(VEXA_MSG_FORMAT_MAX_CHARS));
    EXPECT_EQ(line, "<" + big.substr(0, VEXA_MSG_FORMAT_MAX_CHARS - 1));
}

TEST_F(MessageCallbacks, BoxesTakeTheCaptionFirstAndMapTheAnswers)
{
    auto box = reinterpret_cast<int (*)(const char*, const char*)>(vexaCallbackLookup("dozMsgBox"));
    auto ync
        = reinterpret_cast<int (*)(const char*, const char*)>(vexaCallbackLookup("dozMsgBoxYNC"));
    host.queueMessageAnswer(MessageAnswer::Ok);
    EXPECT_EQ(box("Titre", "Texte"), 1);

    host.queueMessageAnswer(MessageAnswer::Yes);
    host.queueMessageAnswer(MessageAnswer::No);
    host.queueMessageAnswer(MessageAnswer::Cancel);
    host.queueMessageAnswer(MessageAnswer::Ok); // not a Yes/No/Cancel answer
    EXPECT_EQ(ync("Question", "Continuer ?"), 0);
    EXPECT_EQ(ync("Question", "Continuer ?"), 1);
    EXPECT_EQ(ync("Question", "Continuer ?"), 2);
    EXPECT_EQ(ync(nullptr, nullptr), 2);

    auto requests = host.requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].code, GuiRequest::MessageBox);
    EXPECT_EQ(requests[0].text, "Titre|Texte");
    EXPECT_EQ(requests[1].code, GuiRequest::MessageBoxYesNoCancel);
    EXPECT_EQ(requests[1].text, "Question|Continuer ?");
    EXPECT_EQ(requests[4].text, "|");
}

TEST_F(MessageCallbacks, WorkersPostLinesAndWaitForBoxes)
{
    host.queueMessageAnswer(MessageAnswer::No);
    std::atomic<bool> done { false };
    int answer = -1;
    std::thread worker([&] {
        dozMsgFormat("tâche %d", 3);
        answer = dozMsgBoxYNC("Tâche", "Arrêter ?");
        done = true;
    });
    EXPECT_TRUE(host.runUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(newestLine(), "tâche 3");
}

TEST_F(MessageCallbacks, MissingFunctionsReportOnceAndReturnZero)
{
    // The stand-in a name gets while its operation is missing.
    const VexaCallback standIn
        = reinterpret_cast<VexaCallback>(&vexa::plugins::notAvailable<"dozDataFluxEssai">);
    auto missing = reinterpret_cast<void* (*)(double)>(standIn);
    EXPECT_EQ(missing(2.0), nullptr);
    EXPECT_EQ(posted(), 1);
    EXPECT_EQ(newestLine(), "Fonction dozDataFluxEssai non disponible dans cette version");
    auto asInt = reinterpret_cast<int (*)(double)>(standIn);
    EXPECT_EQ(asInt(1.0), 0);
    EXPECT_EQ(posted(), 0);
    EXPECT_TRUE(boxes().empty());
}

TEST(UserDataCallbacks, AllocateThroughFreeAndReleaseThroughAlloc)
{
    auto allocate = reinterpret_cast<void* (*)(int)>(vexaCallbackLookup("dozDataFreeUserData"));
    auto release = reinterpret_cast<void* (*)(void*)>(vexaCallbackLookup("dozDataAllocUserData"));
    auto* block = static_cast<unsigned char*>(allocate(64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(block[i], 0) << i;
    std::memset(block, 0xAB, 64);
    EXPECT_EQ(release(block), nullptr); // LeakSanitizer fails the run if it was not freed
    EXPECT_EQ(allocate(0), nullptr);
    EXPECT_EQ(allocate(-8), nullptr);
    EXPECT_EQ(release(nullptr), nullptr);
}

namespace {

using vexatest::TempDir;

void touch(const std::string& path)
{
    std::ofstream(path) << "x";
}

// Takes over a list from the directory callbacks, freeing it as a plug-in must.
std::vector<std::string> takeList(char** list, int count)
{
    std::vector<std::string> names;
    if (!list)
        return names;
    for (int i = 0; i < count; ++i) {
        names.emplace_back(list[i]);
        dozDataFree(list[i]);
    }
    EXPECT_EQ(list[count], nullptr);
    dozDataFree(list);
    return names;
}

} // namespace

TEST(DirectoryCallbacks, ListFilesAndDirectoriesApartSortedByName)
{
    TempDir dir;
    touch(dir.file("b.txt"));
    touch(dir.file("B.dll"));
    touch(dir.file(".hidden"));
    std::filesystem::create_directory(dir.file("zeta"));
    std::filesystem::create_directory(dir.file("Alpha"));
    touch(dir.file("zeta/inner.txt"));
    std::filesystem::create_symlink(dir.file("b.txt"), dir.file("link.txt"));
    std::filesystem::create_symlink(dir.file("missing"), dir.file("dangling"));

    auto files = reinterpret_cast<char** (*)(const char*, int*)>(
        vexaCallbackLookup("vexaDirectoryScanGetFiles"));
    int count = -1;
    char** list = files(dir.path().c_str(), &count);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(takeList(list, count),
        (std::vector<std::string> { ".hidden", "B.dll", "b.txt", "link.txt" }));

    list = vexaDirectoryScanGetDirectories(dir.path().c_str(), &count);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(takeList(list, count), (std::vector<std::string> { "Alpha", "zeta" }));

    // The count is optional: the list ends with a null entry.
    list = vexaDirectoryScanGetDirectories((dir.file("zeta")).c_str(), nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list[0], nullptr);
    dozDataFree(list);
}

TEST(DirectoryCallbacks, UnreadableDirectoriesGiveNull)
{
    TempDir dir;
    touch(dir.file("file"));
    for (std::string path : { dir.file("missing"), dir.file("file"), std::string() }) {
        int count = 42;
        EXPECT_EQ(vexaDirectoryScanGetFiles(path.c_str(), &count), nullptr) << path;
        EXPECT_EQ(count, 0);
        EXPECT_EQ(vexaDirectoryScanGetDirectories(path.c_str(), &count), nullptr) << path;
    }
    int count = 42;
    EXPECT_EQ(vexaDirectoryScanGetFiles(nullptr, &count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(vexaDirectoryScanGetFiles(nullptr, nullptr), nullptr);
}

namespace {

class BitmapCallback : public ::testing::Test {
protected:
    void SetUp() override
    {
        vexa::installHost(nullptr);
        vexa::dataResetRegistry();
    }
    void TearDown() override { vexa::dataResetRegistry(); }

    static std::vector<unsigned char> readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
    }
    static std::int32_t le32(const std::vector<unsigned char>& b, std::size_t at)
    {
        return std::int32_t(
            b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24);
    }
};

} // namespace

TEST_F(BitmapCallback, SavesTheImageOfADatumAsABmpPicture)
{
    const unsigned char samples[5 * 3]
        = { 0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140 };
    unsigned int imageId = dozDataPopup(samples, 5, 3, TYPEDATA_U8);
    ASSERT_NE(imageId, 0u);
    TempDir dir;
    auto save = reinterpret_cast<int (*)(unsigned int, const char*)>(
        vexaCallbackLookup("vexaImageSaveBitmap"));
    ASSERT_EQ(save(imageId, (dir.file("out.bmp")).c_str()), 1);

    auto bytes = readFile(dir.file("out.bmp"));
    ASSERT_GE(bytes.size(), 54u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(std::size_t(le32(bytes, 2)), bytes.size());
    EXPECT_EQ(le32(bytes, 18), 5);
    EXPECT_EQ(std::abs(le32(bytes, 22)), 3);
    EXPECT_EQ(bytes[28], 8); // grey picture: 8 bits per pixel
}

TEST_F(BitmapCallback, RefusesUnknownDataAndBadPathsWithoutWriting)
{
    const unsigned char samples[4] = { 1, 2, 3, 4 };
    unsigned int imageId = dozDataPopup(samples, 2, 2, TYPEDATA_U8);
    ASSERT_NE(imageId, 0u);
    TempDir dir;
    EXPECT_EQ(dozDataSaveDib(imageId + 12345, (dir.file("a.bmp")).c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.bmp")));
    EXPECT_EQ(dozDataSaveDib(imageId, ""), 0);
    EXPECT_EQ(dozDataSaveDib(imageId, nullptr), 0);
    EXPECT_EQ(dozDataSaveDib(imageId, (dir.file("no/such/dir/a.bmp")).c_str()), 0);
}

TEST_F(BitmapCallback, OlderSetClassFormsTakeOnlyTheirSortOfIdentifier)
{
    const unsigned char samples[4] = { 1, 2, 3, 4 };
    unsigned int imageId = dozDataPopup(samples, 2, 2, TYPEDATA_U8);
    ASSERT_NE(imageId, 0u);
    auto imageSetClass
        = reinterpret_cast<int (*)(unsigned int, int)>(vexaCallbackLookup("vexaImageSetClass"));
    auto blockSetClass
        = reinterpret_cast<int (*)(unsigned int, int)>(vexaCallbackLookup("vexaBlockSetClass"));
    EXPECT_EQ(blockSetClass(imageId, 1), 0);
    EXPECT_EQ(imageSetClass(imageId, 1), 1);
    EXPECT_EQ(imageSetClass(imageId + 12345, 1), 0);
}

TEST(DataRecordCallbacks, DeleteAndAnimationReachTheHostThroughTheTable)
{
    FakeHost host;
    // As the program's windows do: a closed window takes its record along.
    host.onClose = [](vexa::WindowHandle window) {
        if (vexa::DataRecord* r = vexa::dataFindByWindow(window))
            vexa::dataDelete(r);
    };
    vexa::installHost(&host);
    vexa::dataResetRegistry();
    auto object = std::make_unique<vexa::ImageObject>();
    object->image->width = object->image->height = 2;
    object->image->samples.allocate(4);
    vexa::DataRecord* record
        = vexa::dataCreateImage(std::move(object), vexa::kFreshId, vexa::kFreshId);
    const unsigned id = record->imageId;

    using ById = int (*)(unsigned);
    auto begin = reinterpret_cast<ById>(vexaCallbackLookup("dozDataAnimateBegin"));
    auto end = reinterpret_cast<ById>(vexaCallbackLookup("dozDataAnimateEnd"));
    auto erase = reinterpret_cast<ById>(vexaCallbackLookup("dozDataDelete"));
    auto view3d = reinterpret_cast<unsigned (*)(unsigned)>(vexaCallbackLookup("dozDataGetView3D"));
    EXPECT_EQ(begin(id), 1);
    EXPECT_EQ(end(id), 1);
    EXPECT_EQ(host.count(GuiRequest::AnimateBegin), 1);
    EXPECT_EQ(host.count(GuiRequest::AnimateEnd), 1);
    EXPECT_EQ(view3d(id), 0u); // shown in no 3D view
    EXPECT_EQ(erase(id), 1);
    EXPECT_EQ(vexa::dataFind(id), nullptr);
    // Unknown identifiers do nothing.
    EXPECT_EQ(begin(id), 0);
    EXPECT_EQ(erase(id), 0);
    EXPECT_EQ(view3d(id), 0u);
    EXPECT_EQ(host.count(GuiRequest::AnimateBegin), 1);
    vexa::dataResetRegistry();
    vexa::installHost(nullptr);
}
