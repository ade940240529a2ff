// The layers over an image, through a painter that records its calls: their order,
// pens, click numbers and texts, block layers on the shown section, and the image's
// lock held while overlay objects and graphs are drawn.
#include "views/imagelayers.h"

#include "data/block.h"
#include "data/object2d.h"
#include "data/section.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

using namespace vexa;

namespace {

class LayerRecorder : public LayerPainter {
public:
    explicit LayerRecorder(ImageDescriptor& image)
        : image_(image)
    {
    }
    std::vector<std::string> calls;
    std::vector<LayerPen> pens; // of drawSegments calls
    std::vector<Segment> segments;
    bool overlayUnlocked = false;

    void pushClip(std::span<const PixelPoint>) override { overlay(); }
    void popClip() override { }
    void drawPolyline(std::span<const PixelPoint>, int, Rgb) override { overlay(); }
    void fillPolygon(std::span<const PixelPoint>, Rgb) override { overlay(); }
    void drawPolygon(std::span<const PixelPoint>, int, Rgb) override { overlay(); }
    void drawEllipse(PixelPoint, int, int, int, Rgb) override { overlay(); }
    void drawSegments(std::span<const Segment> s, const LayerPen& pen) override
    {
        calls.push_back("segments");
        pens.push_back(pen);
        segments.insert(segments.end(), s.begin(), s.end());
    }
    void drawRectangle(int left, int top, int right, int bottom, const LayerPen&) override
    {
        calls.push_back("rectangle " + std::to_string(left) + "," + std::to_string(top) + ","
            + std::to_string(right) + "," + std::to_string(bottom));
    }
    void drawTextBelow(int x, int y, const std::string& text, const LayerPen&) override
    {
        calls.push_back("below " + std::to_string(x) + "," + std::to_string(y) + " " + text);
    }
    void drawTextAt(int, int, const std::string& text, const LayerPen&) override
    {
        calls.push_back("text " + text);
    }
    void drawBitmap(int x, int y, const DisplayBitmap& bitmap) override
    {
        calls.push_back("bitmap " + std::to_string(x) + "," + std::to_string(y) + " "
            + std::to_string(bitmap.width));
    }
    void drawValueBox(int x, int y, const std::string& text) override
    {
        calls.push_back("value " + std::to_string(x) + "," + std::to_string(y) + " " + text);
    }

private:
    // Another thread must not get the image's lock while overlays are drawn.
    void overlay()
    {
        const bool free = std::async(std::launch::async, [this] {
            const bool taken = image_.lock.try_lock();
            if (taken)
                image_.lock.unlock();
            return taken;
        }).get();
        overlayUnlocked = overlayUnlocked || free;
        if (calls.empty() || calls.back() != "overlay")
            calls.push_back("overlay");
    }
    ImageDescriptor& image_;
};

std::unique_ptr<DataRecord> imageRecord(int w, int h)
{
    auto record = std::make_unique<DataRecord>();
    record->image = std::make_unique<ImageObject>();
    ImageDescriptor& image = *record->image->image;
    image.width = w;
    image.height = h;
    image.samples.allocate(std::size_t(w) * std::size_t(h));
    for (std::size_t i = 0; i < image.samples.size(); ++i)
        image.samples.bytes()[i] = std::uint8_t(i);
    return record;
}

ZoomView& zoomAt(DataRecord& record, double zoom)
{
    ImageDescriptor& image = *record.image2d();
    ZoomView& z = imageViewData(image).zoom;
    z.imageW = image.width;
    z.imageH = image.height;
    z.zoomX = z.zoomY = zoom;
    updateVisible(z);
    return z;
}

class ImageLayers : public ::testing::Test {
protected:
    void TearDown() override { object2dResetRegistry(); }
};

} // namespace

TEST_F(ImageLayers, DrawnInOrderWithOverlaysUnderTheImageLock)
{
    auto record = imageRecord(8, 8);
    ImageDescriptor& image = *record->image2d();
    zoomAt(*record, 4);
    ImageViewData& v = imageViewData(image);
    v.gridOn = v.cursorShown = v.innerLoupeOn = v.valuesOn = 1;
    v.cursorX = 2;
    v.cursorY = 3;
    image.clickX = { 1, 5 };
    image.clickY = { 1, 6 };
    const std::uint32_t line = object2dCreate(M2D_OBJECT_LINE);
    ASSERT_TRUE(object2dUpdate(line, [](Object2d& o) {
        o.xs = { 0, 4 };
        o.ys = { 0, 4 };
    }));
    ASSERT_TRUE(overlayAttach(image, line));
    imageOverlay(image).graphs.add(Graph("courbe", 0, 0, 20, 20));
    v.mouseMode = MOUSE_RECTANGLE;
    ImageMouse mouse;
    mouse.handle(*record, { MouseAction::Press, 4, 4, kMouseLeft, kMouseLeft, 0 });
    mouse.handle(*record, { MouseAction::Move, 13, 9, 0, kMouseLeft, 0 });

    LayerRecorder painter(image);
    drawImageLayers(*record, mouse, painter);
    // The mouse moved the cursor to (3, 2); the latest click is numbered 0.
    const std::vector<std::string> expected = { "segments", "segments", "segments", "segments",
        "below 4,8 1", "segments", "below 20,28 0", "overlay", "bitmap -137,-141 299",
        "value 14,10 19 (19)", "rectangle 4,4,12,8" };
    EXPECT_EQ(painter.calls, expected);
    EXPECT_FALSE(painter.overlayUnlocked);
    EXPECT_EQ(painter.pens[0], (LayerPen { 0, 0, 255, 1, PenStyle::Solid })); // grid
    EXPECT_EQ(painter.pens[1].style, PenStyle::Solid); // cursor lines
    EXPECT_EQ(painter.pens[3], (LayerPen { 0, 0, 255, 2, PenStyle::Solid })); // clicks
    // The cursor lines cross at the middle of sample (3, 2) across the whole display.
    const std::size_t grid = gridSegments(v.zoom, true).size();
    EXPECT_EQ(painter.segments[grid], (Segment { 14, 0, 14, 32 }));
    EXPECT_EQ(painter.segments[grid + 1], (Segment { 0, 10, 32, 10 }));

    // Measure mode adds the size; a dotted cursor keeps its flag; no loupe or values.
    v.mouseMode = MOUSE_MEASURE;
    v.gridOn = v.innerLoupeOn = v.valuesOn = 0;
    v.cursorSolidH = 0;
    image.clickX.clear();
    LayerRecorder again(image);
    drawImageLayers(*record, mouse, again);
    EXPECT_EQ(again.calls.back(), "text [3 x 2]");
    EXPECT_EQ(again.pens.at(1).style, PenStyle::Dotted);
    EXPECT_EQ(again.calls.size(), 5u); // two cursor lines, overlay, rectangle, size
}

TEST_F(ImageLayers, CursorOutsideTheImageDrawsNoCursorLoupeOrValue)
{
    auto record = imageRecord(4, 4);
    zoomAt(*record, 1);
    ImageViewData& v = imageViewData(*record->image2d());
    v.cursorShown = v.innerLoupeOn = v.valuesOn = v.gridOn = 1;
    v.cursorX = 4;
    LayerRecorder painter(*record->image2d());
    drawImageLayers(*record, ImageMouse {}, painter);
    EXPECT_TRUE(painter.calls.empty()); // the grid needs zoom 4
}

TEST_F(ImageLayers, BlockCursorAndTheClicksOfTheShownSection)
{
    auto record = std::make_unique<DataRecord>();
    record->image = std::make_unique<ImageObject>();
    auto block = std::make_unique<BlockDescriptor>();
    block->dimX = 6;
    block->dimY = 5;
    block->dimZ = 8;
    block->samples.allocate(6 * 5 * 8);
    block->clickX = { 1, 2 };
    block->clickY = { 1, 2 };
    block->clickZ = { 5, 4 };
    block->cursor3dShown = 1;
    record->image->block = std::move(block);
    prepareDisplayedSection(*record->image);
    ASSERT_TRUE(loadSection(*record, PLANE_FRONT, 4));
    zoomAt(*record, 2);
    moveBlockCursor(*record, 3, 1);

    LayerRecorder painter(*record->image2d());
    drawImageLayers(*record, ImageMouse {}, painter);
    ASSERT_EQ(painter.pens.size(), 3u);
    const LayerPen dottedYellow { 255, 255, 0, 1, PenStyle::Dotted };
    EXPECT_EQ(painter.pens[0], dottedYellow);
    EXPECT_EQ(painter.pens[1], dottedYellow);
    EXPECT_EQ(painter.segments[0], (Segment { 7, 0, 7, 10 }));
    // Only the click at z = 4 lies on FRONT section 4: a red box at sample (2, 2).
    EXPECT_EQ(painter.pens[2], (LayerPen { 255, 0, 0, 2, PenStyle::Solid }));
    EXPECT_EQ(painter.segments[2], (Segment { 4, 4, 6, 4 }));
}
