// Plug-in dialogs and window identifiers reached by name, as a C plug-in reaches them.
// The host stands in for the interface: it "shows" a dialog by letting a scripted user
// act on it through the same entry points the dialog widget uses.
#include "data/registry.h"
#include "log/logmodel.h"
#include "plugins/callbacktable.h"
#include "plugins/dialogapi.h"
#include "support/fakehost.h"
#include "views/imageview.h"
#include "views/zoom.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

using namespace vexa;
using namespace vexa::plugins;

namespace {

template <typename F> F lookup(const char* name)
{
    return reinterpret_cast<F>(vexaCallbackLookup(name));
}

class DialogHost : public FakeHost {
public:
    std::function<void(std::uint32_t)> user; // acts on a modal dialog
    std::vector<std::uint32_t> shown;
    int changes = 0;
    int screenDx = 0, screenDy = 0;

    bool showDialog(std::uint32_t dialog, bool modal) override
    {
        shown.push_back(dialog);
        if (modal) {
            if (user)
                user(dialog);
            if (!dialogEnded(dialog))
                dialogClosed(dialog);
        }
        return true;
    }
    void dialogChanged(std::uint32_t) override { ++changes; }
    // As the widget does when its window goes.
    void closeDialog(std::uint32_t dialog) override { dialogClosed(dialog); }
    bool screenToImageArea(DataRecord& record, int& x, int& y) override
    {
        if (!record.window.load())
            return false;
        x -= screenDx;
        y -= screenDy;
        return true;
    }
};

VexaDialogItemDesc item(int kind, int id, const char* text, int value = 0)
{
    VexaDialogItemDesc d {};
    d.kind = kind;
    d.id = id;
    std::strncpy(d.text, text, sizeof d.text);
    d.value = value;
    return d;
}

class DialogCallbacks : public ::testing::Test {
protected:
    void SetUp() override
    {
        installHost(&host);
        dataResetRegistry();
        dialogResetWindows();
        log::messageLog().drainPosted();
    }
    void TearDown() override
    {
        host.processPending();
        dialogResetWindows();
        dataResetRegistry();
        installHost(nullptr);
    }

    // Title, a labelled text field, integer and real fields, a check box, two radio
    // buttons (the first checked), OK and Cancel.
    std::vector<VexaDialogItemDesc> form()
    {
        return { item(VEXA_DIALOG_TITLE, 0, "Réglages"), item(VEXA_DIALOG_LABEL, 0, "Nom"),
            item(VEXA_DIALOG_TEXT, 10, "abc"), item(VEXA_DIALOG_INT, 11, "5"),
            item(VEXA_DIALOG_REAL, 12, "1.5"), item(VEXA_DIALOG_CHECK, 13, "Lisser"),
            item(VEXA_DIALOG_RADIO, 14, "Haut", 1), item(VEXA_DIALOG_RADIO, 15, "Bas"),
            item(VEXA_DIALOG_BUTTON, VEXA_DIALOG_OK, "OK"),
            item(VEXA_DIALOG_BUTTON, VEXA_DIALOG_CANCEL, "Annuler"), item(VEXA_DIALOG_END, 0, "") };
    }

    DialogHost host;
};

using ModalFn = int (*)(VexaDialogItemDesc*, VexaDialogProc, void*);
using ModelessFn = unsigned (*)(VexaDialogItemDesc*, VexaDialogProc);
using TextFn = int (*)(unsigned, int, const char*);
using GetTextFn = int (*)(unsigned, int, char*, int);
using IntFn = int (*)(unsigned, int, int);
using GetIntFn = int (*)(unsigned, int);
using RealFn = int (*)(unsigned, int, double);
using EndFn = int (*)(unsigned, int);

struct ProcLog {
    std::thread::id interfaceThread;
    std::atomic<int> calls { 0 };
    bool allOnInterface = true;
};

int formProc(unsigned window, int itemId, void* data)
{
    auto* procLog = static_cast<ProcLog*>(data);
    ++procLog->calls;
    procLog->allOnInterface
        = procLog->allOnInterface && std::this_thread::get_id() == procLog->interfaceThread;
    if (itemId == VEXA_DIALOG_INIT) {
        lookup<TextFn>("dozWindowSetItemText")(window, 10, "xyz");
        lookup<IntFn>("dozWindowModifyItemInt")(window, 11, 3);
    }
    return 0;
}

TEST_F(DialogCallbacks, ModalRunFromAWorkerEndsWithItsButtonAndWritesValuesBack)
{
    auto form1 = form();
    ProcLog procLog;
    procLog.interfaceThread = std::this_thread::get_id();
    host.user = [](std::uint32_t w) {
        dialogUserText(w, 12, "2.25");
        dialogUserChecked(w, 13, true);
        dialogUserChecked(w, 15, true);
        dialogUserPressed(w, VEXA_DIALOG_OK);
    };
    std::atomic<int> result { -5 };
    std::thread worker([&] {
        result = lookup<ModalFn>("dozDialogModalWithDataRunFromDESC")(
            form1.data(), formProc, &procLog);
    });
    ASSERT_TRUE(host.runUntil([&] { return result != -5; }));
    worker.join();
    EXPECT_EQ(result, VEXA_DIALOG_OK);
    EXPECT_STREQ(form1[2].text, "xyz");
    EXPECT_STREQ(form1[3].text, "8");
    EXPECT_STREQ(form1[4].text, "2.25");
    EXPECT_EQ(form1[5].value, 1);
    EXPECT_EQ(form1[6].value, 0); // the group's other radio was cleared
    EXPECT_EQ(form1[7].value, 1);
    EXPECT_STREQ(form1[0].text, "Réglages");
    // Init, the two toggles and the button, all on the interface thread.
    EXPECT_EQ(procLog.calls, 4);
    EXPECT_TRUE(procLog.allOnInterface);
}

int endFromProcedure(unsigned window, int itemId, void*)
{
    if (itemId == VEXA_DIALOG_OK) {
        lookup<EndFn>("dozDialogEnd")(window, 7);
        return 1;
    }
    return itemId == 20 ? 1 : 0; // button 20 is handled: the dialog stays
}

TEST_F(DialogCallbacks, CancellingKeepsTheDescriptionAndHandledButtonsKeepTheDialog)
{
    auto form1 = form();
    const auto before = form1;
    host.user = [](std::uint32_t w) {
        dialogUserText(w, 10, "perdu");
        dialogUserPressed(w, VEXA_DIALOG_CANCEL);
    };
    auto modal = lookup<int (*)(VexaDialogItemDesc*, VexaDialogProc)>("dozDialogModalRunFromDESC");
    EXPECT_EQ(modal(form1.data(), nullptr), VEXA_DIALOG_CANCEL);
    EXPECT_EQ(
        std::memcmp(form1.data(), before.data(), sizeof(VexaDialogItemDesc) * before.size()), 0);

    // Closed by the user: cancelled as well.
    host.user = nullptr;
    EXPECT_EQ(modal(form1.data(), nullptr), VEXA_DIALOG_CANCEL);

    std::vector<VexaDialogItemDesc> twoButtons = { item(VEXA_DIALOG_BUTTON, 20, "Appliquer"),
        item(VEXA_DIALOG_BUTTON, VEXA_DIALOG_OK, "OK"), item(VEXA_DIALOG_END, 0, "") };
    host.user = [](std::uint32_t w) {
        dialogUserPressed(w, 20);
        EXPECT_FALSE(dialogEnded(w));
        dialogUserPressed(w, VEXA_DIALOG_OK);
    };
    EXPECT_EQ(modal(twoButtons.data(), endFromProcedure), 7);
}

TEST_F(DialogCallbacks, ModelessItemsAreSetReadAndModifiedUntilTheDialogEnds)
{
    auto form1 = form();
    const unsigned w = lookup<ModelessFn>("dozDialogRunFromDESC")(form1.data(), nullptr);
    ASSERT_NE(w, 0u);
    ASSERT_EQ(host.shown.size(), 1u);
    auto setText = lookup<TextFn>("dozWindowSetItemText");
    auto getText = lookup<GetTextFn>("dozWindowGetItemText");
    auto setInt = lookup<IntFn>("dozWindowSetItemInt");
    auto getInt = lookup<GetIntFn>("dozWindowGetItemInt");
    auto setReal = lookup<RealFn>("dozWindowSetItemReal");
    auto setReal2 = lookup<int (*)(unsigned, int, double, int)>("dozWindowSetItemReal2");
    auto modInt = lookup<IntFn>("dozWindowModifyItemInt");
    auto modIntMM = lookup<int (*)(unsigned, int, int, int, int)>("dozWindowModifyItemIntMinMax");
    auto modReal = lookup<RealFn>("dozWindowModifyItemReal");
    auto modRealMM
        = lookup<int (*)(unsigned, int, double, double, double)>("dozWindowModifyItemRealMinMax");
    auto check = lookup<IntFn>("dozWindowCheckButton");
    auto checkRadio = lookup<int (*)(unsigned, int, int, int)>("dozWindowCheckRadioButton");
    auto enable = lookup<IntFn>("dozWindowEnableItem");
    char buffer[64];

    EXPECT_EQ(getInt(w, 11), 5);
    EXPECT_EQ(setInt(w, 11, -42), 1);
    EXPECT_EQ(getInt(w, 11), -42);
    EXPECT_EQ(setText(w, 12, "12.7"), 1);
    EXPECT_EQ(getInt(w, 12), 12); // cut towards 0
    EXPECT_EQ(modInt(w, 10, 4), 1); // "abc" holds no number: counts as 0
    EXPECT_EQ(getText(w, 10, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "4");
    EXPECT_EQ(modIntMM(w, 11, 100, -10, 10), 1);
    EXPECT_EQ(getInt(w, 11), 10);
    EXPECT_EQ(modIntMM(w, 11, 1, 5, 4), 0); // empty range refused, value kept
    EXPECT_EQ(getInt(w, 11), 10);

    EXPECT_EQ(setReal(w, 12, 0.1), 1);
    EXPECT_EQ(modReal(w, 12, 0.2), 1);
    getText(w, 12, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "0.3");
    EXPECT_EQ(modRealMM(w, 12, -5, -1, 1), 1);
    getText(w, 12, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "-1");
    EXPECT_EQ(setReal2(w, 12, 3.14159, 2), 1);
    getText(w, 12, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "3.14");

    EXPECT_EQ(check(w, 13, 1), 1);
    EXPECT_EQ(getInt(w, 13), 1);
    EXPECT_EQ(check(w, 10, 1), 0); // a text field has no state
    EXPECT_EQ(checkRadio(w, 14, 15, 15), 1);
    EXPECT_EQ(getInt(w, 14), 0);
    EXPECT_EQ(getInt(w, 15), 1);
    EXPECT_EQ(checkRadio(w, 30, 40, 35), 0);
    EXPECT_EQ(enable(w, 13, 0), 1);
    EXPECT_FALSE(dialogSnapshot(w)->find(13)->enabled);

    // Text is cut to the buffer, never inside a character.
    setText(w, 10, "aé");
    EXPECT_EQ(getText(w, 10, buffer, 3), 1);
    EXPECT_STREQ(buffer, "a");
    EXPECT_EQ(getText(w, 10, buffer, 4), 3);
    EXPECT_EQ(getText(w, 99, buffer, 4), 0); // unknown item
    EXPECT_STREQ(buffer, "");
    host.processPending();
    EXPECT_GT(host.changes, 0);

    EXPECT_EQ(lookup<EndFn>("dozDialogEnd")(w, 1), 1);
    host.processPending();
    // The identifier is gone: everything does nothing.
    EXPECT_EQ(setText(w, 10, "x"), 0);
    EXPECT_EQ(getInt(w, 11), 0);
    EXPECT_EQ(lookup<EndFn>("dozDialogEnd")(w, 1), 0);
    EXPECT_EQ(setText(12345, 10, "x"), 0);
}

TEST_F(DialogCallbacks, BadDescriptionsAndNoInterfaceShowNothing)
{
    auto modal = lookup<int (*)(VexaDialogItemDesc*, VexaDialogProc)>("dozDialogModalRunFromDESC");
    auto modeless = lookup<ModelessFn>("dozDialogRunFromDESC");
    EXPECT_EQ(modal(nullptr, nullptr), -1);
    std::vector<VexaDialogItemDesc> bad = { item(42, 1, "?"), item(VEXA_DIALOG_END, 0, "") };
    EXPECT_EQ(modal(bad.data(), nullptr), -1);
    EXPECT_GT(log::messageLog().drainPosted(), 0);
    // No end within the limit: nothing past it is read.
    std::vector<VexaDialogItemDesc> endless(
        VEXA_DIALOG_MAX_ITEMS + 1, item(VEXA_DIALOG_LABEL, 0, "x"));
    EXPECT_EQ(modeless(endless.data(), nullptr), 0u);
    // A text filling its 200 bytes without a terminator is taken whole.
    std::vector<VexaDialogItemDesc> full
        = { item(VEXA_DIALOG_TEXT, 3, ""), item(VEXA_DIALOG_END, 0, "") };
    std::memset(full[0].text, 'z', sizeof full[0].text);
    EXPECT_EQ(parseDialogDescription(full.data())->items[0].text.size(), 200u);
    EXPECT_TRUE(host.shown.empty());

    installHost(nullptr);
    auto form1 = form();
    EXPECT_EQ(modal(form1.data(), nullptr), -1);
    EXPECT_EQ(modeless(form1.data(), nullptr), 0u);
    EXPECT_EQ(lookup<unsigned (*)()>("dozDataGetMainHwnd")(), 0u);
    installHost(&host);
}

TEST_F(DialogCallbacks, WindowIdentifiersOfTheMainWindowAndOfData)
{
    auto mainHwnd = lookup<unsigned (*)()>("dozDataGetMainHwnd");
    auto hwnd = lookup<unsigned (*)(unsigned)>("dozDataGetHwnd");
    auto close = lookup<int (*)(unsigned)>("dozWindowClose");
    auto destroy = lookup<int (*)(unsigned)>("dozWindowDestroy");
    const unsigned main = mainHwnd();
    EXPECT_NE(main, 0u);
    EXPECT_EQ(mainHwnd(), main);
    EXPECT_EQ(close(main), 0);
    EXPECT_EQ(destroy(main), 0);
    EXPECT_EQ(lookup<TextFn>("dozWindowSetItemText")(main, 1, "x"), 0);

    host.onClose = [](WindowHandle window) {
        if (DataRecord* r = dataFindByWindow(window))
            dataDelete(r);
    };
    DataRecord* record = dataCreateImage(std::make_unique<ImageObject>(), kFreshId, kFreshId);
    const unsigned id = record->imageId;
    record->window = nullptr;
    EXPECT_EQ(hwnd(id), 0u); // no window
    int standIn = 0;
    record->window = &standIn;
    const unsigned w = hwnd(id);
    EXPECT_NE(w, 0u);
    EXPECT_EQ(hwnd(id), w);
    EXPECT_NE(w, main);
    EXPECT_EQ(hwnd(id + 999), 0u);
    EXPECT_EQ(close(w), 1);
    host.processPending();
    EXPECT_EQ(dataFind(id), nullptr);
    EXPECT_EQ(close(w), 0);

    // A dialog closed by identifier is cancelled; destroyed, it ends with 0.
    auto form1 = form();
    const unsigned d1 = lookup<ModelessFn>("dozDialogRunFromDESC")(form1.data(), nullptr);
    EXPECT_EQ(close(d1), 1);
    host.processPending();
    EXPECT_TRUE(dialogEnded(d1));
    host.user = [&](std::uint32_t d) { EXPECT_EQ(destroy(d), 1); };
    EXPECT_EQ(lookup<int (*)(VexaDialogItemDesc*, VexaDialogProc)>("dozDialogModalRunFromDESC")(
                  form1.data(), nullptr),
        0);
}

TEST_F(DialogCallbacks, PositionsUnderTheZoomAndScrollOfAnImageWindow)
{
    using PosFn = int (*)(unsigned, int, int, double*, double*);
    auto fromArea = lookup<PosFn>("dozDataGetPositionFromScreen");
    auto fromScreen = lookup<PosFn>("dozDataGetPositionFromScreen2");
    auto object = std::make_unique<ImageObject>();
    object->image->width = object->image->height = 100;
    DataRecord* record = dataCreateImage(std::move(object), kFreshId, kFreshId);
    const unsigned id = record->imageId;
    double x = -1, y = -1;
    record->window = nullptr;
    EXPECT_EQ(fromArea(id, 7, 9, &x, &y), 0); // no window
    int standIn = 0;
    record->window = &standIn;

    EXPECT_EQ(fromArea(id, 7, 9, &x, &y), 1);
    EXPECT_DOUBLE_EQ(x, 7);
    EXPECT_DOUBLE_EQ(y, 9);

    ZoomView& z = imageViewData(*record->image2d()).zoom;
    z.zoomX = z.zoomY = 2;
    z.originX = 10;
    z.originY = 20;
    EXPECT_EQ(fromArea(id, 7, 9, &x, &y), 1);
    EXPECT_DOUBLE_EQ(x, 13.5);
    EXPECT_DOUBLE_EQ(y, 24.5);
    EXPECT_EQ(int(std::floor(x)), imageCoordinate(7, 10, 2.0)); // the sample a click gives

    host.screenDx = 100;
    host.screenDy = 50;
    EXPECT_EQ(fromScreen(id, 107, 59, &x, &y), 1);
    EXPECT_DOUBLE_EQ(x, 13.5);
    EXPECT_DOUBLE_EQ(y, 24.5);
    EXPECT_EQ(fromScreen(id + 999, 107, 59, &x, &y), 0);
    record->window = nullptr;
}

} // namespace
