#include "views/imageview.h"
#include "views/viewlayers.h"

#include "data/block.h"
#include "data/registry.h"
#include "data/section.h"
#include "vexa_types.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

using namespace vexa;

namespace {

ZoomView viewAt(double zoom, int visibleW, int visibleH)
{
    ZoomView v;
    v.imageW = visibleW;
    v.imageH = visibleH;
    v.visibleW = visibleW;
    v.visibleH = visibleH;
    v.zoomX = v.zoomY = zoom;
    return v;
}

// A plain 2D image record of U8 samples (not registered: no window, no host).
std::unique_ptr<DataRecord> plainRecord(int w, int h, int type = TYPEDATA_U8)
{
    auto record = std::make_unique<DataRecord>();
    record->image = std::make_unique<ImageObject>();
    ImageDescriptor& image = *record->image->image;
    image.width = w;
    image.height = h;
    image.typeData = type;
    image.samples.allocate(std::size_t(w) * std::size_t(h) * std::size_t(vexaTypeSize(type)));
    return record;
}

// A memory block whose sample (x, y, z) is x + 10 y + 100 z (S16).
std::unique_ptr<DataRecord> blockRecord(int dx, int dy, int dz)
{
    auto record = std::make_unique<DataRecord>();
    record->image = std::make_unique<ImageObject>();
    auto block = std::make_unique<BlockDescriptor>();
    block->dimX = dx;
    block->dimY = dy;
    block->dimZ = dz;
    block->typeData = TYPEDATA_S16;
    block->samples.allocate(std::size_t(dx) * dy * dz * 2);
    auto* s = static_cast<std::int16_t*>(block->samples.data());
    for (int z = 0; z < dz; ++z)
        for (int y = 0; y < dy; ++y)
            for (int x = 0; x < dx; ++x)
                s[(std::size_t(z) * dy + y) * dx + x] = std::int16_t(x + 10 * y + 100 * z);
    record->image->block = std::move(block);
    record->image->image->samples.reset();
    prepareDisplayedSection(*record->image);
    return record;
}

std::int16_t sampleAt(const ImageDescriptor& image, int c, int r)
{
    return static_cast<const std::int16_t*>(image.samples.data())[r * image.width + c];
}

} // namespace

TEST(ViewLayers, GridOnlyFromZoomFour)
{
    EXPECT_TRUE(gridSegments(viewAt(2, 10, 10), true).empty());
    EXPECT_TRUE(gridSegments(viewAt(8, 10, 10), false).empty());
    const std::vector<Segment> grid = gridSegments(viewAt(4, 3, 2), true);
    ASSERT_EQ(grid.size(), 2u * 3u + 2u * 2u);
    EXPECT_EQ(grid[0], (Segment { 0, 0, 0, 8 }));
    EXPECT_EQ(grid[1], (Segment { 3, 0, 3, 8 }));
    EXPECT_EQ(grid[6], (Segment { 0, 0, 12, 0 }));
    EXPECT_EQ(grid[7], (Segment { 0, 3, 12, 3 }));
}

TEST(ViewLayers, CursorLinesAndClickBoxesFollowTheZoom)
{
    ZoomView v = viewAt(4, 50, 50);
    v.originX = 10;
    EXPECT_EQ(cursorLineX(v, 12), 10);
    EXPECT_EQ(cursorLineY(v, 3), 14);
    v.zoomX = v.zoomY = 0.5;
    EXPECT_EQ(cursorLineX(v, 14), 2);
    const std::vector<Segment> box = clickBox(8, 12, 4, 4);
    const std::vector<Segment> expected
        = { { 8, 12, 12, 12 }, { 12, 12, 12, 16 }, { 12, 16, 7, 16 }, { 8, 16, 8, 11 } };
    EXPECT_EQ(box, expected);
    EXPECT_EQ(layerPart(0.5), 0);
}

TEST(ViewLayers, BlockClickPointsOnlyOnTheirSection)
{
    BlockDescriptor b;
    b.dimX = 20;
    b.dimY = 10;
    b.dimZ = 8;
    b.clickX = { 3, 7 };
    b.clickY = { 4, 2 };
    b.clickZ = { 5, 1 };
    b.cursorX = 7;
    b.cursorY = 9;
    b.cursorZ = 4;
    EXPECT_TRUE(blockClicksOnSection(b, PLANE_FRONT).empty());
    b.cursorZ = 5;
    EXPECT_EQ(blockClicksOnSection(b, PLANE_FRONT), (std::vector<SectionPoint> { { 3, 4 } }));
    EXPECT_EQ(blockClicksOnSection(b, PLANE_RIGHT), (std::vector<SectionPoint> { { 1, 2 } }));
    EXPECT_TRUE(blockClicksOnSection(b, PLANE_TOP).empty());
    b.cursorY = 4;
    EXPECT_EQ(blockClicksOnSection(b, PLANE_TOP), (std::vector<SectionPoint> { { 3, 2 } }));
}

TEST(ViewLayers, BlockCursorAndVolumePositionsPerPlane)
{
    BlockDescriptor b;
    b.dimX = 20;
    b.dimY = 10;
    b.dimZ = 8;
    b.cursorX = 7;
    b.cursorY = 9;
    b.cursorZ = 2;
    EXPECT_EQ(blockCursorOnSection(b, PLANE_FRONT), (SectionPoint { 7, 9 }));
    EXPECT_EQ(blockCursorOnSection(b, PLANE_RIGHT), (SectionPoint { 2, 9 }));
    EXPECT_EQ(blockCursorOnSection(b, PLANE_TOP), (SectionPoint { 7, 5 }));
    EXPECT_EQ(sectionToVolume(b, PLANE_FRONT, 3, 4), (VolumePoint { 3, 4, 2 }));
    EXPECT_EQ(sectionToVolume(b, PLANE_RIGHT, 3, 4), (VolumePoint { 7, 4, 3 }));
    EXPECT_EQ(sectionToVolume(b, PLANE_TOP, 3, 0), (VolumePoint { 3, 9, 7 }));
    int w = 0, h = 0;
    sectionExtent(b, PLANE_RIGHT, w, h);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 10);
}

TEST(CursorContrast, GreyGivesRedDarkColourBlueLightColourBlack)
{
    std::vector<std::uint8_t> grey(20 * 20, 128);
    ContrastSource s { grey.data(), 20, 20, TYPEDATA_U8, 1, 0, nullptr };
    EXPECT_EQ(cursorPen(s, 10, 10, true), CursorPen::Red);

    DisplayColours colours {};
    for (int i = 0; i < 256; ++i)
        colours[std::size_t(i)] = { 0, 0, std::uint8_t(i), 0 }; // shades of red
    s.colours = &colours;
    EXPECT_EQ(cursorPen(s, 10, 10, true), CursorPen::Blue); // m = 42
    std::vector<std::uint8_t> rgba(20 * 20 * 4);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = 255;
        rgba[i + 1] = 255;
        rgba[i + 2] = 60;
    }
    ContrastSource c { rgba.data(), 20, 20, TYPEDATA_RGBA, 1, 0, nullptr };
    EXPECT_EQ(cursorPen(c, 0, 19, false), CursorPen::Black);
}

TEST(CursorContrast, OnlyTheRunAlongTheLineCounts)
{
    // Dark red column 3, white elsewhere: the vertical line through column 3 sees red.
    std::vector<std::uint8_t> rgba(8 * 8 * 4, 255);
    for (int y = 0; y < 8; ++y) {
        std::uint8_t* p = rgba.data() + (y * 8 + 3) * 4;
        p[0] = 150;
        p[1] = p[2] = 0;
    }
    ContrastSource c { rgba.data(), 8, 8, TYPEDATA_RGBA, 1, 0, nullptr };
    EXPECT_EQ(cursorPen(c, 3, 4, true), CursorPen::Blue);
    EXPECT_EQ(cursorPen(c, 3, 4, false), CursorPen::Red);
}

TEST(InnerLoupe, GeometryFollowsTheZoom)
{
    LoupeGeometry g = loupeGeometry(1, 1);
    EXPECT_EQ(g.sx, 3);
    EXPECT_EQ(g.width, 69);
    EXPECT_EQ(g.hx, 11);
    g = loupeGeometry(8, 8);
    EXPECT_EQ(g.sx, 25);
    EXPECT_EQ(g.hx, 5);
    EXPECT_EQ(g.width, 275);
    g = loupeGeometry(0.125, 0.125);
    EXPECT_GT(std::max(g.width, g.height), 49);
    EXPECT_EQ(g.sx % 2, 1);
    g = loupeGeometry(256, 256);
    EXPECT_EQ(g.hx, 0);
    EXPECT_EQ(g.width, 769);
}

TEST(ImageViewRecord, RebuildUsesTheZoomAndTheImageScale)
{
    auto record = plainRecord(10, 6);
    ImageDescriptor& image = *record->image2d();
    image.samples.bytes()[0] = 100;
    image.valueGain = 2;
    image.valueOffset = 1;
    ImageViewData& view = imageViewData(image);
    view.zoom.zoomX = view.zoom.zoomY = 2;
    ASSERT_TRUE(rebuildDisplay(*record));
    EXPECT_TRUE(view.display.ready);
    EXPECT_EQ(view.display.width, 20);
    EXPECT_EQ(view.display.height, 12);
    EXPECT_EQ(*view.display.pixel(1, 1), 201);
    EXPECT_EQ(*view.display.pixel(2, 0), 1);
}

TEST(InitialCorrection, ValuesBeyondTheLevelsStartWithTheirRange)
{
    // 16-bit values 1000..3000: at gain 1 everything would be white.
    auto record = plainRecord(2, 1, TYPEDATA_U16);
    auto* s = static_cast<std::uint16_t*>(record->image2d()->samples.data());
    s[0] = 1000;
    s[1] = 3000;
    EXPECT_EQ(applyInitialCorrection(*record, true), InitialCorrection::MinMax);
    EXPECT_DOUBLE_EQ(record->image2d()->valueGain, 255.0 / 2000.0);
    EXPECT_DOUBLE_EQ(record->image2d()->valueOffset, -1000.0 * 255.0 / 2000.0);
    ASSERT_TRUE(rebuildDisplay(*record));
    const DisplayBitmap& shown = imageViewData(*record->image2d()).display;
    EXPECT_EQ(*shown.pixel(0, 0), 0);
    EXPECT_EQ(*shown.pixel(1, 0), 255);
    double low = 0, high = 0;
    ASSERT_TRUE(displayedRange(*record, low, high));
    EXPECT_NEAR(low, 1000.0, 1e-9);
    EXPECT_NEAR(high, 3000.0, 1e-9);

    // Negative floats in a small range (an inverted image) are spread as well.
    auto inverted = plainRecord(2, 1, TYPEDATA_F32);
    auto* f = static_cast<float*>(inverted->image2d()->samples.data());
    f[0] = -1.0f;
    f[1] = -0.5f;
    EXPECT_EQ(applyInitialCorrection(*inverted, true), InitialCorrection::MinMax);
    EXPECT_DOUBLE_EQ(inverted->image2d()->valueGain, 510.0);
}

TEST(InitialCorrection, KeepsGainOneWhenValuesFitOrSomethingElseDecides)
{
    auto fits = plainRecord(2, 1, TYPEDATA_S16);
    static_cast<std::int16_t*>(fits->image2d()->samples.data())[1] = 255;
    EXPECT_EQ(applyInitialCorrection(*fits, true), InitialCorrection::Kept);
    EXPECT_EQ(fits->image2d()->valueGain, 1.0);

    auto wide = plainRecord(2, 1, TYPEDATA_S16);
    static_cast<std::int16_t*>(wide->image2d()->samples.data())[1] = 4000;
    EXPECT_EQ(applyInitialCorrection(*wide, false), InitialCorrection::Kept); // turned off
    wide->image2d()->valueOffset = 3; // a correction the datum already carries
    EXPECT_EQ(applyInitialCorrection(*wide, true), InitialCorrection::Kept);
    EXPECT_EQ(wide->image2d()->valueOffset, 3.0);
    wide->image2d()->valueOffset = 0;
    wide->image2d()->valueClass = CLASS_LABEL; // labels keep their own colours
    EXPECT_EQ(applyInitialCorrection(*wide, true), InitialCorrection::Kept);

    // A constant image (a result not computed yet) has no range to spread: nothing
    // changes, nothing divides by zero, and the caller may ask again later.
    auto constant = plainRecord(3, 3, TYPEDATA_F64);
    auto* d = static_cast<double*>(constant->image2d()->samples.data());
    for (int i = 0; i < 9; ++i)
        d[i] = -7.0;
    EXPECT_EQ(applyInitialCorrection(*constant, true), InitialCorrection::Undecided);
    EXPECT_EQ(constant->image2d()->valueGain, 1.0);
    d[4] = 93.0;
    EXPECT_EQ(applyInitialCorrection(*constant, true), InitialCorrection::MinMax);
    EXPECT_DOUBLE_EQ(constant->image2d()->valueGain, 2.55);
}

TEST(InitialCorrection, AWindowGivenByTheFileWinsOverTheRange)
{
    auto record = plainRecord(2, 1, TYPEDATA_S16);
    static_cast<std::int16_t*>(record->image2d()->samples.data())[1] = 3000;
    ImageDescriptor& image = *record->image2d();
    image.displayRangeSet = true;
    image.displayLow = -100;
    image.displayHigh = 155; // inside 0..255 or not, the file's window is used
    EXPECT_EQ(applyInitialCorrection(*record, true), InitialCorrection::FileWindow);
    EXPECT_DOUBLE_EQ(image.valueGain, 1.0);
    EXPECT_DOUBLE_EQ(image.valueOffset, 100.0);
    // An empty window is no window: the image keeps gain 1 rather than dividing by zero.
    auto empty = plainRecord(1, 1, TYPEDATA_S16);
    empty->image2d()->displayRangeSet = true;
    empty->image2d()->displayLow = empty->image2d()->displayHigh = 40;
    EXPECT_EQ(applyInitialCorrection(*empty, true), InitialCorrection::Kept);
    EXPECT_EQ(empty->image2d()->valueGain, 1.0);
}

TEST(InitialCorrection, VolumesTakeTheRangeOfTheWholeBlock)
{
    // Values x + 10 y + 100 z: 0 .. 3 + 20 + 300 over the block, less on any one section.
    auto record = blockRecord(4, 3, 4);
    EXPECT_EQ(applyInitialCorrection(*record, true), InitialCorrection::MinMax);
    EXPECT_DOUBLE_EQ(record->block()->valueGain, 255.0 / 323.0);
    EXPECT_DOUBLE_EQ(record->block()->valueOffset, 0.0);
    EXPECT_EQ(record->image2d()->valueGain, 1.0); // the block's scale is the one shown
}

TEST(ImageViewRecord, RebuildFollowsAnImageThatChangedSize)
{
    auto record = plainRecord(10, 6);
    ImageDescriptor& image = *record->image2d();
    ASSERT_TRUE(rebuildDisplay(*record));
    image.width = 4;
    image.height = 3;
    image.samples.allocate(12);
    ASSERT_TRUE(rebuildDisplay(*record));
    EXPECT_EQ(imageViewData(image).display.width, 4);
    image.samples.reset();
    EXPECT_FALSE(rebuildDisplay(*record));
    EXPECT_FALSE(imageViewData(image).display.ready);
}

TEST(ImageViewRecord, StatusTextsOfASection)
{
    auto record = blockRecord(12, 6, 4);
    record->block()->cursor3dShown = 1;
    ASSERT_TRUE(loadSection(*record, PLANE_RIGHT, 3));
    const StatusTexts t = statusTexts(*record, 2, 5);
    EXPECT_EQ(t.type, "16BS");
    EXPECT_EQ(t.cursor, "X=00002  Y=00005  (-00001,-00000)");
    EXPECT_EQ(t.volume, "x=00003  y=00005  z=00002");
    EXPECT_EQ(t.value, "253 (253)");
    EXPECT_EQ(statusTexts(*record, 4, 0).value, "");
}

TEST(ImageViewRecord, InformationEndsWithWhatTheFileSaid)
{
    auto record = plainRecord(4, 3);
    const std::vector<std::string> plain = recordInfoLines(*record);
    record->image2d()->fileInfo = "Format : NRRD\n\nEspacement : 1 x 2";
    const std::vector<std::string> lines = recordInfoLines(*record);
    ASSERT_EQ(lines.size(), plain.size() + 3);
    EXPECT_EQ(lines[plain.size()], "");
    EXPECT_EQ(lines[plain.size() + 1], "Format : NRRD");
    EXPECT_EQ(lines.back(), "Espacement : 1 x 2");
}

TEST(SectionBrowsing, PlanesShowTheirSectionsAndLabelThePosition)
{
    auto record = blockRecord(12, 6, 4);
    BlockDescriptor& b = *record->block();
    EXPECT_EQ(b.cursorZ, 2);
    ImageDescriptor& image = *record->image2d();

    ASSERT_TRUE(loadSection(*record, PLANE_RIGHT, 5));
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(image.height, 6);
    EXPECT_EQ(sampleAt(image, 3, 2), 5 + 20 + 300);
    EXPECT_EQ(b.cursorX, 5);
    EXPECT_EQ(record->position, "RIGHT 00005");

    ASSERT_TRUE(loadSection(*record, PLANE_TOP, 1));
    EXPECT_EQ(image.width, 12);
    EXPECT_EQ(image.height, 4);
    // Row 0 of TOP is the last z.
    EXPECT_EQ(sampleAt(image, 7, 0), 7 + 10 + 300);
    EXPECT_EQ(record->position, "TOP 00001");

    // Indexes are limited to the plane.
    ASSERT_TRUE(loadSection(*record, PLANE_FRONT, 99));
    EXPECT_EQ(b.cursorZ, 3);
    EXPECT_EQ(record->position, "FRONT 00003");
    EXPECT_EQ(imageViewData(image).plane, PLANE_FRONT);
    EXPECT_FALSE(loadSection(*record, 7, 0));
    auto plain = plainRecord(3, 3);
    EXPECT_FALSE(loadSection(*plain, PLANE_FRONT, 0));
}

TEST(SectionBrowsing, ClickingMovesTheBlockCursorNotTheSection)
{
    auto record = blockRecord(12, 6, 4);
    ASSERT_TRUE(loadSection(*record, PLANE_TOP, 2));
    ASSERT_TRUE(moveBlockCursor(*record, 9, 0));
    BlockDescriptor& b = *record->block();
    EXPECT_EQ(b.cursorX, 9);
    EXPECT_EQ(b.cursorY, 2);
    EXPECT_EQ(b.cursorZ, 3);
    EXPECT_FALSE(moveBlockCursor(*record, 12, 0));
    EXPECT_EQ(imageViewData(*record->image2d()).cursor3dX, 9);
}

TEST(SectionBrowsing, RefreshWhileATaskWritesIntoTheBlock)
{
    auto record = blockRecord(64, 64, 16);
    ASSERT_TRUE(loadSection(*record, PLANE_FRONT, 3));
    std::atomic<bool> stop { false };
    std::thread writer([&] {
        std::vector<std::int16_t> plane(64 * 64);
        int value = 0;
        while (!stop) {
            std::fill(plane.begin(), plane.end(), std::int16_t(value++ % 200));
            writeSection(*record->block(), PLANE_FRONT, value % 16, 0, 0, plane.data(), 64, 64,
                TYPEDATA_S16);
        }
    });
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(reloadSection(*record));
        ASSERT_TRUE(rebuildDisplay(*record));
    }
    stop = true;
    writer.join();
    EXPECT_EQ(imageViewData(*record->image2d()).display.width, 64);
}

TEST(ConversionMenu, PlainScalarImagesOfferOtherTypesThenOtherClasses)
{
    auto record = plainRecord(2, 2, TYPEDATA_S16);
    std::vector<std::string> labels;
    for (const ConversionEntry& e : conversionMenu(*record))
        labels.push_back(e.label);
    const std::vector<std::string> expected
        = { "->8BNS", "->8BS", "->16BNS", "->32BNS", "->32BS", "->F32", "->F64", "",
              "->CLASS_LABEL", "->CLASS_DIRECTION", "->CLASS_BOOLEAN", "->CLASS_ORIENTATION" };
    EXPECT_EQ(labels, expected);
}

TEST(ConversionMenu, RgbaImagesOfferTheEightTypesAndBlocksOnlyClasses)
{
    auto rgba = plainRecord(2, 2, TYPEDATA_RGBA);
    const std::vector<ConversionEntry> entries = conversionMenu(*rgba);
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(entries.back().label, "->F64");
    auto block = blockRecord(4, 4, 4);
    block->image2d()->valueClass = CLASS_LABEL;
    const std::vector<ConversionEntry> classes = conversionMenu(*block);
    ASSERT_EQ(classes.size(), 4u);
    EXPECT_EQ(classes[0].label, "->CLASS_DEFAULT");
    EXPECT_EQ(classes[1].valueClass, CLASS_DIRECTION);
}

TEST(ConversionMenu, TypeEntriesConvertWithTheConversionRule)
{
    auto record = plainRecord(3, 1, TYPEDATA_F64);
    double* d = static_cast<double*>(record->image2d()->samples.data());
    d[0] = -2.9;
    d[1] = 300.7;
    d[2] = 7.9;
    ASSERT_TRUE(convertImageType(*record, TYPEDATA_U8));
    ImageDescriptor& image = *record->image2d();
    EXPECT_EQ(image.typeData, TYPEDATA_U8);
    EXPECT_EQ(image.samples.size(), 3u);
    EXPECT_EQ(image.samples.bytes()[0], 0);
    EXPECT_EQ(image.samples.bytes()[1], 255);
    EXPECT_EQ(image.samples.bytes()[2], 7);

    auto rgba = plainRecord(1, 1, TYPEDATA_RGBA);
    std::uint8_t px[4] = { 30, 60, 90, 255 };
    std::memcpy(rgba->image2d()->samples.data(), px, 4);
    ASSERT_TRUE(convertImageType(*rgba, TYPEDATA_S16));
    EXPECT_EQ(*static_cast<std::int16_t*>(rgba->image2d()->samples.data()), 60);

    auto block = blockRecord(4, 4, 4);
    EXPECT_FALSE(convertImageType(*block, TYPEDATA_U8));
    EXPECT_EQ(block->image2d()->typeData, TYPEDATA_S16);
    EXPECT_FALSE(convertImageType(*record, 42));
}

namespace {

struct Seen {
    DataRecord* record = nullptr;
    int x = -1, y = -1, typeView = -9, calls = 0;
};

int onMouse(unsigned int, void*, void* arg)
{
    auto* seen = static_cast<Seen*>(arg);
    ++seen->calls;
    dataCallbackGetEvent(seen->record, "MOUSEMOVE", "x_image", &seen->x);
    dataCallbackGetEvent(seen->record, "MOUSEMOVE", "y", &seen->y);
    dataCallbackGetEvent(seen->record, "MOUSEMOVE", "type_view", &seen->typeView);
    return 5;
}

} // namespace

TEST(ViewEvents, CallbacksReadTheEventThroughTheGetter)
{
    auto record = plainRecord(10, 10);
    Seen seen;
    seen.record = record.get();
    dataCallbackAdd(record.get(), "MOUSEMOVE", onMouse, &seen);
    ViewEvent e;
    e.x = 4;
    e.y = 7;
    e.typeView = -1;
    EXPECT_EQ(fireViewEvent(*record, "MOUSEMOVE", e), 5);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.x, 4);
    EXPECT_EQ(seen.y, 7);
    EXPECT_EQ(seen.typeView, -1);
    EXPECT_EQ(fireViewEvent(*record, "LBUTTONDOWN", e), 0);
    int out = 0;
    EXPECT_EQ(dataCallbackGetEvent(record.get(), "MOUSEMOVE", "x", &out), 0);
}
