// Mouse input of an image window without the widget: the words handed to callbacks,
// the cursor, the zoom, move, measure and event modes, the context menu and block
// cursor clicks, and view changes made under the image's lock.
#include "views/imagemouse.h"
#include "views/viewzoom.h"

#include "data/block.h"
#include "data/registry.h"
#include "data/section.h"
#include "vexa_types.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>

using namespace vexa;

namespace {

// A plain U8 image shown at a zoom, the whole image visible unless a client area
// is given.
std::unique_ptr<DataRecord> shownImage(int w, int h, double zoom, int clientW = 0, int clientH = 0)
{
    auto record = std::make_unique<DataRecord>();
    record->image = std::make_unique<ImageObject>();
    ImageDescriptor& image = *record->image->image;
    image.width = w;
    image.height = h;
    image.samples.allocate(std::size_t(w) * std::size_t(h));
    ZoomView& z = imageViewData(image).zoom;
    z.imageW = w;
    z.imageH = h;
    z.zoomX = z.zoomY = zoom;
    z.clientW = clientW;
    z.clientH = clientH;
    updateVisible(z);
    return record;
}

ImageViewData& viewOf(DataRecord& record)
{
    return imageViewData(*record.image2d());
}

MouseInput input(MouseAction action, int x, int y, unsigned button = 0, unsigned buttons = 0,
    unsigned modifiers = 0)
{
    return { action, x, y, button, buttons, modifiers };
}

struct SeenEvent {
    DataRecord* record = nullptr;
    std::vector<std::string> names;
    int x = -1, x1 = -1, wparam = -1, lparam = -1;
};

int recordEvent(unsigned int, void*, void* argument)
{
    auto* seen = static_cast<SeenEvent*>(argument);
    for (const char* name : { "MOUSEMOVE", "LBUTTONDOWN", "LBUTTONUP", "RBUTTONDBLCLICK" })
        if (dataCallbackGetEvent(seen->record, name, "x_image", &seen->x)) {
            seen->names.push_back(name);
            dataCallbackGetEvent(seen->record, name, "x1_image", &seen->x1);
            dataCallbackGetEvent(seen->record, name, "wparam", &seen->wparam);
            dataCallbackGetEvent(seen->record, name, "lparam", &seen->lparam);
        }
    return 0;
}

} // namespace

TEST(MouseWords, KeyStateAndPositionFollowTheWindowsLayout)
{
    EXPECT_EQ(mouseKeyState(kMouseLeft, 0), 0x1);
    EXPECT_EQ(mouseKeyState(kMouseRight | kMouseMiddle, kModShift | kModControl | kModAlt),
        0x2 | 0x10 | 0x4 | 0x8);
    EXPECT_EQ(mousePositionWord(3, 2), 0x00020003);
    // A drag beyond the left or top edge keeps 16-bit negative coordinates.
    EXPECT_EQ(std::uint32_t(mousePositionWord(-1, 5)), 0x0005FFFFu);
    EXPECT_EQ(std::uint32_t(mousePositionWord(7, -2)), 0xFFFE0007u);
    EXPECT_EQ(mouseEventName(input(MouseAction::Move, 0, 0, kMouseLeft)), "MOUSEMOVE");
    EXPECT_EQ(mouseEventName(input(MouseAction::Press, 0, 0, kMouseRight)), "RBUTTONDOWN");
    EXPECT_EQ(mouseEventName(input(MouseAction::Release, 0, 0, kMouseMiddle)), "MBUTTONUP");
    EXPECT_EQ(mouseEventName(input(MouseAction::DoubleClick, 0, 0, kMouseLeft)), "LBUTTONDBLCLICK");
}

TEST(ImageMouse, CursorFollowsOnlyInsideTheShownImage)
{
    auto record = shownImage(40, 8, 4, 80, 32); // 20 x 8 samples visible
    setOrigin(viewOf(*record).zoom, 10, 0);
    ImageMouse mouse;
    EXPECT_TRUE(mouse.handle(*record, input(MouseAction::Move, 4 * 3 + 3, 4 * 2)).cursorMoved);
    EXPECT_EQ(viewOf(*record).cursorX, 13);
    EXPECT_EQ(viewOf(*record).cursorY, 2);
    viewOf(*record).cursorSolidV = 0;
    // Beyond the display, left of the area (a sample of the image lies there, hidden),
    // and on a release, the cursor stays where it was.
    EXPECT_FALSE(mouse.handle(*record, input(MouseAction::Move, 80, 5)).cursorMoved);
    EXPECT_FALSE(mouse.handle(*record, input(MouseAction::Move, -1, 5)).cursorMoved);
    EXPECT_FALSE(mouse.handle(*record, input(MouseAction::Move, 5, -1)).cursorMoved);
    EXPECT_FALSE(mouse.handle(*record, input(MouseAction::Release, 1, 1, kMouseLeft)).cursorMoved);
    EXPECT_EQ(viewOf(*record).cursorX, 13);
    EXPECT_EQ(viewOf(*record).cursorSolidV, 0);
    EXPECT_TRUE(
        mouse.handle(*record, input(MouseAction::Press, 1, 1, kMouseLeft, kMouseLeft)).cursorMoved);
    EXPECT_EQ(viewOf(*record).cursorX, 10);
    EXPECT_EQ(viewOf(*record).cursorSolidV, 1);
}

TEST(ImageMouse, ZoomModeDoublesWithLeftAndHalvesWithRightAroundTheSample)
{
    auto record = shownImage(100, 80, 4, 200, 200);
    viewOf(*record).mouseMode = MOUSE_ZOOM;
    ImageMouse mouse;
    // Sample (30, 20) is at pixel (120, 80) with the origin at 0.
    EXPECT_TRUE(
        mouse.handle(*record, input(MouseAction::Press, 121, 81, kMouseLeft, kMouseLeft)).zoomed);
    ZoomView& z = viewOf(*record).zoom;
    EXPECT_EQ(z.zoomX, 8);
    EXPECT_EQ(z.originX, 30 - 50 / 4); // old visible width 50
    EXPECT_EQ(z.originY, 20 - 50 / 4);
    mouse.handle(*record, input(MouseAction::Release, 121, 81, kMouseLeft));
    EXPECT_TRUE(
        mouse.handle(*record, input(MouseAction::Press, 8, 8, kMouseRight, kMouseRight)).zoomed);
    EXPECT_EQ(z.zoomX, 4);
    mouse.handle(*record, input(MouseAction::Release, 8, 8, kMouseRight));
    // Outside the image nothing happens.
    EXPECT_FALSE(mouse.handle(*record, input(MouseAction::Press, 5000, 8, kMouseLeft)).zoomed);
}

TEST(ImageMouse, MoveModeDragsTheOriginAgainstTheMouseWhileLeftIsHeld)
{
    auto record = shownImage(100, 80, 4, 100, 100);
    ZoomView& z = viewOf(*record).zoom;
    setOrigin(z, 10, 10);
    viewOf(*record).mouseMode = MOUSE_MOVE;
    ImageMouse mouse;
    mouse.handle(*record, input(MouseAction::Press, 40, 40, kMouseLeft, kMouseLeft));
    EXPECT_TRUE(mouse.dragging());
    // Eight pixels left at zoom 4 are two samples: the origin moves two to the right,
    // counted from the origin of the press, not the current one.
    EXPECT_TRUE(mouse.handle(*record, input(MouseAction::Move, 32, 40, 0, kMouseLeft)).panned);
    EXPECT_EQ(z.originX, 12);
    EXPECT_TRUE(mouse.handle(*record, input(MouseAction::Move, 28, 48, 0, kMouseLeft)).panned);
    EXPECT_EQ(z.originX, 13);
    EXPECT_EQ(z.originY, 8);
    // Without the left button held, or after the release, the mouse only moves.
    EXPECT_FALSE(mouse.handle(*record, input(MouseAction::Move, 0, 0, 0, kMouseRight)).panned);
    mouse.handle(*record, input(MouseAction::Release, 0, 0, kMouseLeft));
    EXPECT_FALSE(mouse.dragging());
    EXPECT_FALSE(mouse.handle(*record, input(MouseAction::Move, 4, 4, 0, kMouseLeft)).panned);
}

TEST(ImageMouse, MeasureDragGivesTheRectangleAndItsSampleCount)
{
    auto record = shownImage(20, 20, 4);
    viewOf(*record).mouseMode = MOUSE_MEASURE;
    const ZoomView& z = viewOf(*record).zoom;
    ImageMouse mouse;
    EXPECT_FALSE(mouse.dragRectangle(z, MOUSE_MEASURE));
    mouse.handle(*record, input(MouseAction::Press, 4 * 5 + 1, 4 * 6 + 1, kMouseLeft, kMouseLeft));
    mouse.handle(*record, input(MouseAction::Move, 4 * 2 + 2, 4 * 7 + 3, 0, kMouseLeft));
    std::optional<DragRectangle> r = mouse.dragRectangle(z, MOUSE_MEASURE);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->left, 8);
    EXPECT_EQ(r->top, 24);
    EXPECT_EQ(r->right, 20);
    EXPECT_EQ(r->bottom, 28);
    EXPECT_EQ(r->size, "[4 x 2]");
    EXPECT_EQ(r->textX, 10 + 10);
    EXPECT_EQ(r->textY, 31 - 4);
    EXPECT_TRUE(mouse.dragRectangle(z, MOUSE_RECTANGLE)->size.empty());
    EXPECT_FALSE(mouse.dragRectangle(z, MOUSE_NONE));
    // Released beyond the right edge: the kept selection stops at the last column.
    mouse.handle(*record, input(MouseAction::Release, 4 * 30, 31, kMouseLeft));
    EXPECT_FALSE(mouse.dragRectangle(z, MOUSE_MEASURE));
    ASSERT_TRUE(viewOf(*record).selectionSet);
    const int* sel = viewOf(*record).selection;
    EXPECT_EQ(std::vector<int>(sel, sel + 4), (std::vector<int> { 5, 6, 19, 7 }));
}

TEST(ImageMouse, PlainModeOpensTheMenuOnRightAndMovesTheBlockCursorOnLeft)
{
    auto plain = shownImage(10, 10, 2);
    ImageMouse mouse;
    MouseResponse r = mouse.handle(*plain, input(MouseAction::Press, 3, 3, kMouseRight));
    EXPECT_TRUE(r.contextMenu);
    EXPECT_FALSE(mouse.dragging());
    EXPECT_FALSE(mouse.handle(*plain, input(MouseAction::Press, 50, 3, kMouseRight)).contextMenu);
    EXPECT_FALSE(
        mouse.handle(*plain, input(MouseAction::Press, 3, 3, kMouseLeft)).blockCursorMoved);

    auto record = std::make_unique<DataRecord>();
    record->image = std::make_unique<ImageObject>();
    auto block = std::make_unique<BlockDescriptor>();
    block->dimX = 6;
    block->dimY = 5;
    block->dimZ = 4;
    block->samples.allocate(6 * 5 * 4);
    record->image->block = std::move(block);
    prepareDisplayedSection(*record->image);
    ASSERT_TRUE(loadSection(*record, PLANE_RIGHT, 2));
    ZoomView& z = viewOf(*record).zoom;
    z.zoomX = z.zoomY = 1;
    updateVisible(z);
    // On RIGHT, column c is z and row r is y; x stays the shown section.
    EXPECT_TRUE(mouse.handle(*record, input(MouseAction::Press, 3, 1, kMouseLeft, kMouseLeft))
                    .blockCursorMoved);
    EXPECT_EQ(record->block()->cursorX, 2);
    EXPECT_EQ(record->block()->cursorY, 1);
    EXPECT_EQ(record->block()->cursorZ, 3);
}

TEST(ImageMouse, EventModeDeliversButtonEventsWithThePressPoint)
{
    auto record = shownImage(16, 16, 2);
    viewOf(*record).mouseMode = MOUSE_EVENTS;
    SeenEvent seen;
    seen.record = record.get();
    for (const char* name : { "MOUSEMOVE", "LBUTTONDOWN", "LBUTTONUP", "RBUTTONDBLCLICK" })
        dataCallbackAdd(record.get(), name, recordEvent, &seen);
    ImageMouse mouse;
    const MouseResponse r = mouse.handle(
        *record, input(MouseAction::Press, 10, 6, kMouseLeft, kMouseLeft, kModShift));
    EXPECT_TRUE(r.cursorMoved);
    EXPECT_FALSE(mouse.dragging()); // events mode draws no drag
    EXPECT_EQ(seen.x, 5);
    EXPECT_EQ(seen.x1, 5);
    EXPECT_EQ(seen.wparam, 0x1 | 0x4);
    EXPECT_EQ(seen.lparam, (6 << 16) | 10);
    mouse.handle(*record, input(MouseAction::Move, 20, 6, 0, kMouseLeft));
    EXPECT_EQ(seen.x, 10);
    EXPECT_EQ(seen.x1, 5); // the press point
    mouse.handle(*record, input(MouseAction::Release, 22, 6, kMouseLeft));
    EXPECT_EQ(seen.wparam, 0);
    mouse.handle(*record, input(MouseAction::Move, 24, 6));
    EXPECT_EQ(seen.x1, 12); // no press any more: the current point
    mouse.handle(*record, input(MouseAction::DoubleClick, 2, 2, kMouseRight, kMouseRight));
    const std::vector<std::string> expected
        = { "LBUTTONDOWN", "MOUSEMOVE", "LBUTTONUP", "MOUSEMOVE", "RBUTTONDBLCLICK" };
    EXPECT_EQ(seen.names, expected);
}

TEST(ViewZoom, ViewChangesWaitForTheImageLock)
{
    auto record = shownImage(64, 64, 1, 32, 32);
    ImageDescriptor& image = *record->image2d();
    std::future<void> pan;
    {
        std::lock_guard lock(image.lock);
        pan = std::async(std::launch::async, [&] { panView(*record, 20, 20); });
        EXPECT_EQ(pan.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
        EXPECT_EQ(viewOf(*record).zoom.originX, 0);
    }
    pan.get();
    EXPECT_EQ(viewOf(*record).zoom.originX, 20);
    // The display is handed out with the lock held.
    bool heldElsewhere = false;
    withDisplay(*record, [&](const DisplayBitmap&) {
        heldElsewhere = !std::async(std::launch::async, [&] {
            const bool taken = image.lock.try_lock();
            if (taken)
                image.lock.unlock();
            return taken;
        }).get();
    });
    EXPECT_TRUE(heldElsewhere);
}

namespace {

struct Delivery {
    std::vector<std::string> order; // "datum" or "global", one per call
    unsigned int globalId = 99, namedId = 0;
    int key = 0;
};

int onDatum(unsigned int, void*, void* argument)
{
    static_cast<Delivery*>(argument)->order.push_back("datum");
    return 1;
}

int onGlobal(unsigned int id, void*, void* argument)
{
    auto* d = static_cast<Delivery*>(argument);
    d->order.push_back("global");
    d->globalId = id;
    dataCallbackGetEvent(nullptr, "LBUTTONDOWN", "id", &d->namedId);
    dataCallbackGetEvent(nullptr, "MSG_HOOK", "wparam", &d->key);
    return 2;
}

} // namespace

TEST(ImageMouse, EveryModeDeliversToTheDatumThenTheGlobalListAndStillActs)
{
    auto record = shownImage(10, 10, 2);
    record->imageId = 77;
    Delivery d;
    dataCallbackAdd(record.get(), "LBUTTONDOWN", onDatum, &d);
    dataCallbackAdd(nullptr, "LBUTTONDOWN", onGlobal, &d);
    dataCallbackAdd(nullptr, "MSG_HOOK", onGlobal, &d);
    viewOf(*record).mouseMode = MOUSE_ZOOM;
    ImageMouse mouse;
    EXPECT_TRUE(
        mouse.handle(*record, input(MouseAction::Press, 4, 4, kMouseLeft, kMouseLeft)).zoomed);
    EXPECT_EQ(d.order, (std::vector<std::string> { "datum", "global" }));
    EXPECT_EQ(d.globalId, 0u);
    EXPECT_EQ(d.namedId, 77u);

    // A key reaches the global list alone; a datum's key event with no callbacks is 0.
    EXPECT_EQ(fireMessageHook(*record, 'K', 0), 2);
    EXPECT_EQ(d.key, int('K'));
    EXPECT_EQ(fireImageUpdate(*record), 0);
    dataCallbackSub(nullptr, "LBUTTONDOWN", onGlobal);
    dataCallbackSub(nullptr, "MSG_HOOK", onGlobal);
    EXPECT_EQ(fireMessageHook(*record, 'K', 0), 0);
}
