#include "data/object2d.h"
#include "data/object2dapi.h"
#include "data/registry.h"
#include "support/recordingpainter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

using namespace vexa;

namespace {

PixelPoint zoom1(double x, double y)
{
    return { static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)) };
}

class Object2dTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        object2dResetRegistry();
        a = dataCreate(DATA_IMAGE, std::make_unique<ImageObject>(), nullptr, kFreshId, kFreshId);
        b = dataCreate(DATA_IMAGE, std::make_unique<ImageObject>(), nullptr, kFreshId, kFreshId);
        ASSERT_TRUE(a && b);
    }
    void TearDown() override
    {
        dataResetRegistry();
        object2dResetRegistry();
    }

    std::vector<PaintCall> draw(DataRecord* r, const ImageToScreen& map = zoom1)
    {
        RecordingPainter p;
        overlayDraw(*r->image2d(), p, map);
        return p.calls;
    }

    DataRecord* a = nullptr;
    DataRecord* b = nullptr;
};

TEST_F(Object2dTest, IdentifiersStartAtOneAndUnknownCodesAreRefused)
{
    EXPECT_EQ(vexaObject2dCreate(1), 1u);
    EXPECT_EQ(vexaObject2dCreate(7), 0u);
    EXPECT_EQ(vexaObject2dCreate(-1), 0u);
    EXPECT_EQ(vexaObject2dCreate(3), 2u);
    EXPECT_EQ(object2dCount(), 2);
}

TEST_F(Object2dTest, ObjectsAreNamedAfterTheirType)
{
    const char* names[] = { "M2D_OBJECT_SETOFPOINTS", "M2D_OBJECT_LINE", "M2D_OBJECT_POLYGON",
        "M2D_OBJECT_CIRCLE", "M2D_OBJECT_ASTERISK", "M2D_OBJECT_ARROW", "M2D_OBJECT_POLYGON" };
    for (int code = 0; code <= 6; ++code) {
        auto o = object2dGet(vexaObject2dCreate(code));
        ASSERT_TRUE(o);
        EXPECT_EQ(o->name, names[code]);
        EXPECT_EQ(o->type, code == 6 ? 2 : code);
        EXPECT_TRUE(o->visible);
    }
    auto square = object2dGet(vexaObject2dCreate(6));
    EXPECT_EQ(square->xs, (std::vector<double> { -0.5, 0.5, 0.5, -0.5 }));
    EXPECT_EQ(square->ys, (std::vector<double> { -0.5, -0.5, 0.5, 0.5 }));
}

TEST_F(Object2dTest, SettersChangeOnlyKnownObjects)
{
    unsigned int id = vexaObject2dCreate(1);
    const double pts[] = { 1, 2, 3, 4, 5, 6 };
    EXPECT_EQ(vexaObject2dSetArrayPoints(id, pts, 3), 1);
    EXPECT_EQ(vexaObject2dSetArrayPoints(id, pts, 0), 0); // count 0 changes nothing
    EXPECT_EQ(vexaObject2dSetArrayPoints(id, nullptr, 2), 0);
    EXPECT_EQ(vexaObject2dSetName(id, "mark"), 1);
    EXPECT_EQ(vexaObject2dSetName(id, nullptr), 0);
    EXPECT_EQ(vexaObject2dSetColor(id, 1, 0.5, 0), 1);
    EXPECT_EQ(vexaObject2dSetThickness(id, 3), 1);
    EXPECT_EQ(vexaObject2dTranslate(id, 10, 20), 1);
    EXPECT_EQ(vexaObject2dScale(id, 2, 3), 1);
    auto o = object2dGet(id);
    EXPECT_EQ(o->xs, (std::vector<double> { 1, 3, 5 }));
    EXPECT_EQ(o->ys, (std::vector<double> { 2, 4, 6 }));
    EXPECT_EQ(o->name, "mark");
    EXPECT_EQ(o->color, (Rgb { 1, 0.5, 0 }));
    EXPECT_EQ(o->width, 3);
    EXPECT_EQ(o->translateY, 20);
    EXPECT_EQ(o->scaleX, 2);

    EXPECT_EQ(vexaObject2dSetColor(id + 100, 1, 1, 1), 0);
    EXPECT_EQ(vexaObject2dTranslate(0, 1, 1), 0);
}

TEST_F(Object2dTest, SquareIsScaledThenTranslated)
{
    unsigned int id = vexaImageAddSquare(a->imageId, 10, 20, 4);
    ASSERT_NE(id, 0u);
    auto calls = draw(a);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].op, "polyline");
    EXPECT_EQ(calls[0].points,
        (std::vector<PixelPoint> { { 8, 18 }, { 12, 18 }, { 12, 22 }, { 8, 22 }, { 8, 18 } }));
}

TEST_F(Object2dTest, LineBetweenTwoPoints)
{
    unsigned int id = vexaImageAddLine(a->imageId, 1, 2, 30, 40);
    ASSERT_NE(id, 0u);
    auto calls = draw(a);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].points, (std::vector<PixelPoint> { { 1, 2 }, { 30, 40 } }));
    EXPECT_EQ(calls[0].width, 0);
    EXPECT_EQ(calls[0].color, (Rgb { 0, 0, 0 }));
}

TEST_F(Object2dTest, ClosedColouredLineRepeatsItsFirstPoint)
{
    const double xs[] = { 0, 10, 10 }, ys[] = { 0, 0, 10 };
    unsigned int id = dozDataAddLineRGB(a->imageId, xs, ys, 3, "tri", 1, 0, 1, 0, 2);
    auto o = object2dGet(id);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->pointCount(), 4);
    EXPECT_EQ(o->xs.back(), 0);
    EXPECT_EQ(o->ys.back(), 0);
    EXPECT_EQ(o->name, "tri");
    EXPECT_EQ(o->type, M2D_OBJECT_LINE);
    EXPECT_EQ(o->color, (Rgb { 0, 1, 0 }));
    EXPECT_EQ(o->width, 2);
    unsigned int open = dozDataAddLineRGB(a->imageId, xs, ys, 3, nullptr, 0, 0, 0, 0, 1);
    EXPECT_EQ(object2dGet(open)->pointCount(), 3);
    EXPECT_EQ(object2dGet(open)->name, "M2D_OBJECT_LINE");
    EXPECT_EQ(dozDataAddLineRGB(a->imageId, nullptr, ys, 3, "x", 0, 0, 0, 0, 1), 0u);
    EXPECT_EQ(dozDataAddLineRGB(a->imageId, xs, ys, -2, "x", 0, 0, 0, 0, 1), 0u);
}

TEST_F(Object2dTest, ColouredSquareByTheBlockIdentifier)
{
    unsigned int id = dozDataAddSquareRGB(a->blockId, 5, 5, 2, "sq", 1, 0, 0, 4);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(overlayObjectIds(*a->image2d()), (std::vector<std::uint32_t> { id }));
    auto calls = draw(a);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].width, 4);
    EXPECT_EQ(calls[0].points.front(), (PixelPoint { 4, 4 }));
}

TEST_F(Object2dTest, ImageOperationsRefuseBlockIdsAndUnknownIdentifiers)
{
    unsigned int id = vexaObject2dCreate(1);
    EXPECT_EQ(vexaImageAddObject2d(a->blockId, id), 0);
    EXPECT_EQ(vexaImageAddObject2d(0, id), 0);
    EXPECT_EQ(vexaImageAddObject2d(a->imageId, id + 50), 0);
    int before = object2dCount();
    EXPECT_EQ(vexaImageAddLine(a->blockId, 0, 0, 1, 1), 0u);
    EXPECT_EQ(vexaImageAddSquare(12345u ^ a->imageId ^ b->imageId, 0, 0, 1), 0u);
    EXPECT_EQ(dozDataAddSquareRGB(0, 0, 0, 1, "x", 0, 0, 0, 1), 0u);
    EXPECT_EQ(object2dCount(), before); // nothing left behind
}

TEST_F(Object2dTest, DeletingAnItemReleasesTheObject)
{
    unsigned int id = vexaObject2dCreate(1);
    ASSERT_EQ(vexaImageAddObject2d(a->imageId, id), 1);
    EXPECT_EQ(vexaImageDeleteObject2d(b->imageId, id), 0); // not on that image
    EXPECT_TRUE(object2dGet(id));
    EXPECT_EQ(vexaImageDeleteObject2d(a->imageId, id), 1);
    EXPECT_FALSE(object2dGet(id));
    EXPECT_TRUE(overlayObjectIds(*a->image2d()).empty());
    EXPECT_EQ(vexaImageDeleteObject2d(a->imageId, id), 0);
}

TEST_F(Object2dTest, AnObjectOnTwoImagesLivesUntilTheLastLetsItGo)
{
    unsigned int id = vexaObject2dCreate(2);
    ASSERT_EQ(vexaImageAddObject2d(a->imageId, id), 1);
    ASSERT_EQ(vexaImageAddObject2d(b->imageId, id), 1);
    EXPECT_EQ(vexaImageDeleteObject2d(a->imageId, id), 1);
    ASSERT_TRUE(object2dGet(id));
    EXPECT_EQ(object2dGet(id)->attachments, 1);
    EXPECT_EQ(overlayObjectIds(*b->image2d()), (std::vector<std::uint32_t> { id }));
    EXPECT_EQ(vexaImageDeleteObject2d(b->imageId, id), 1);
    EXPECT_FALSE(object2dGet(id));
}

TEST_F(Object2dTest, DeletingByNameTouchesOnlyThatImage)
{
    const double xs[] = { 0, 1 }, ys[] = { 0, 1 };
    unsigned int a1 = dozDataAddLineRGB(a->imageId, xs, ys, 2, "horizon", 0, 1, 0, 0, 1);
    unsigned int a2 = dozDataAddLineRGB(a->imageId, xs, ys, 2, "fault", 0, 1, 0, 0, 1);
    unsigned int a3 = dozDataAddLineRGB(a->imageId, xs, ys, 2, "horizon", 0, 1, 0, 0, 1);
    unsigned int b1 = dozDataAddLineRGB(b->imageId, xs, ys, 2, "horizon", 0, 1, 0, 0, 1);
    EXPECT_EQ(vexaImageDeleteObject2dByName(a->imageId, "horizon"), 1);
    EXPECT_EQ(overlayObjectIds(*a->image2d()), (std::vector<std::uint32_t> { a2 }));
    EXPECT_EQ(overlayObjectIds(*b->image2d()), (std::vector<std::uint32_t> { b1 }));
    EXPECT_FALSE(object2dGet(a1));
    EXPECT_FALSE(object2dGet(a3));
    EXPECT_EQ(vexaImageDeleteObject2dByName(a->imageId, "horizon"), 0);
    EXPECT_EQ(vexaImageDeleteObject2dByName(a->imageId, nullptr), 0);
}

TEST_F(Object2dTest, ClosingTheImageReleasesItsObjects)
{
    unsigned int id = vexaImageAddLine(a->imageId, 0, 0, 1, 1);
    unsigned int shared = vexaObject2dCreate(1);
    vexaImageAddObject2d(a->imageId, shared);
    vexaImageAddObject2d(b->imageId, shared);
    dataDelete(a);
    a = nullptr;
    EXPECT_FALSE(object2dGet(id));
    EXPECT_TRUE(object2dGet(shared));
}

TEST_F(Object2dTest, CircleRadiusFollowsScaleAndZoom)
{
    unsigned int id = vexaObject2dCreate(M2D_OBJECT_CIRCLE);
    vexaObject2dScale(id, 5, 5);
    vexaObject2dTranslate(id, 50, 50);
    vexaImageAddObject2d(a->imageId, id);
    auto calls = draw(a);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].op, "ellipse");
    EXPECT_EQ(calls[0].points[0], (PixelPoint { 50, 50 }));
    EXPECT_EQ(calls[0].radiusX, 5);
    auto zoom2 = [](double x, double y) {
        return PixelPoint { static_cast<int>(2 * x) - 10, static_cast<int>(2 * y) };
    };
    calls = draw(a, zoom2);
    EXPECT_EQ(calls[0].points[0], (PixelPoint { 90, 100 }));
    EXPECT_EQ(calls[0].radiusX, 10);
}

TEST_F(Object2dTest, HiddenObjectsAndPointSetsAreNotDrawn)
{
    const double pts[] = { 0, 0, 5, 5 };
    unsigned int set = vexaObject2dCreate(M2D_OBJECT_SETOFPOINTS);
    vexaObject2dSetArrayPoints(set, pts, 2);
    vexaImageAddObject2d(a->imageId, set);
    unsigned int hidden = vexaImageAddLine(a->imageId, 0, 0, 1, 1);
    unsigned int star = dozDataAddAsteriskRGB(a->imageId, 5, 5, 2, "s", 1, 0, 0, 1);
    for (unsigned int id : { hidden, star })
        object2dUpdate(id, [](Object2d& o) { o.visible = false; });
    EXPECT_TRUE(draw(a).empty());
    EXPECT_TRUE(draw(b).empty()); // an image without any overlay
}

TEST_F(Object2dTest, AsteriskStrokesFollowItsSizeAndTheZoom)
{
    ASSERT_NE(dozDataAddAsteriskRGB(a->imageId, 10, 20, 4, "étoile", 0, 1, 0, 2), 0u);
    using Stroke = std::vector<PixelPoint>;
    const std::vector<Stroke> zoom1Strokes = { { { 8, 20 }, { 12, 20 } },
        { { 10, 18 }, { 10, 22 } }, { { 8, 18 }, { 12, 22 } }, { { 8, 22 }, { 12, 18 } } };
    auto calls = draw(a);
    ASSERT_EQ(calls.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(calls[i].points, zoom1Strokes[i]);
        EXPECT_EQ(calls[i].width, 2);
        EXPECT_EQ(calls[i].color, (Rgb { 0, 1, 0 }));
    }
    auto zoom2 = [](double x, double y) {
        return PixelPoint { static_cast<int>(2 * x), static_cast<int>(2 * y) };
    };
    calls = draw(a, zoom2);
    EXPECT_EQ(calls[0].points, (Stroke { { 16, 40 }, { 24, 40 } }));
    // Without a size: a fixed mark in pixels, the same at every zoom.
    unsigned int bare = vexaObject2dCreate(M2D_OBJECT_ASTERISK);
    const double centre[] = { 3, 4 };
    vexaObject2dSetArrayPoints(bare, centre, 1);
    vexaImageAddObject2d(b->imageId, bare);
    calls = draw(b, zoom2);
    ASSERT_EQ(calls.size(), 4u);
    const int h = kAsteriskPixels / 2;
    EXPECT_EQ(calls[0].points, (Stroke { { 6 - h, 8 }, { 6 + h, 8 } }));
}

TEST_F(Object2dTest, ArrowHasAShaftAndAHeadOnItsEnd)
{
    ASSERT_NE(dozDataAddArrowRGB(a->imageId, 0, 0, 20, 0, "flèche", 1, 0, 0, 1), 0u);
    auto calls = draw(a);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].points, (std::vector<PixelPoint> { { 0, 0 }, { 20, 0 } }));
    // Barbs of 8 + 2 x width pixels at 30 degrees back from the tip.
    EXPECT_EQ(calls[1].points, (std::vector<PixelPoint> { { 11, -5 }, { 20, 0 }, { 11, 5 } }));
    // A short arrow keeps its head within half its length; a point-like one has none.
    dozDataAddArrowRGB(b->imageId, 0, 0, 0, 4, "", 1, 0, 0, 1);
    dozDataAddArrowRGB(b->imageId, 3, 3, 3, 3, "", 1, 0, 0, 1);
    calls = draw(b);
    ASSERT_EQ(calls.size(), 3u);
    for (const PixelPoint& p : calls[1].points)
        EXPECT_GE(p.y, 2);
}

TEST_F(Object2dTest, FaultLineIsReadBackPlacedAndBounded)
{
    const double xs[] = { 1, 2, 3 }, ys[] = { 4, 5, 6 };
    dozDataAddLineRGB(a->imageId, xs, ys, 3, "Faille", 0, 1, 0, 0, 1);
    unsigned int other = dozDataAddLineRGB(a->imageId, xs, ys, 2, "F2", 0, 1, 0, 0, 1);
    vexaObject2dTranslate(other, 10, 0);
    double outX[3] = {}, outY[3] = {};
    EXPECT_EQ(dozDataGetFaille(a->imageId, nullptr, outX, outY, 3), 3);
    EXPECT_EQ(outX[2], 3);
    EXPECT_EQ(outY[2], 6);
    EXPECT_EQ(dozDataGetFaille(a->imageId, "F2", outX, outY, 1), 2); // one copied
    EXPECT_EQ(outX[0], 11);
    EXPECT_EQ(outX[1], 2); // untouched beyond the capacity
    EXPECT_EQ(dozDataGetFaille(a->imageId, "F2", nullptr, nullptr, 0), 2);
    EXPECT_EQ(dozDataGetFaille(b->imageId, "Faille", outX, outY, 3), 0);
    EXPECT_EQ(dozDataGetFaille(9999, "Faille", outX, outY, 3), 0);
}

TEST_F(Object2dTest, PolygonIsClosedAndUndefinedPointsAreSkipped)
{
    unsigned int id = vexaObject2dCreate(M2D_OBJECT_POLYGON);
    const double pts[] = { 0, 0, 10, 0, std::nan(""), 3, 10, 10 };
    vexaObject2dSetArrayPoints(id, pts, 4);
    vexaImageAddObject2d(a->imageId, id);
    auto calls = draw(a);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(
        calls[0].points, (std::vector<PixelPoint> { { 0, 0 }, { 10, 0 }, { 10, 10 }, { 0, 0 } }));
}

TEST_F(Object2dTest, ConcurrencyWorkersMarkWhileTheInterfaceDraws)
{
    std::atomic<bool> stop { false };
    std::uint32_t imageId = a->imageId;
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i) {
            unsigned int id = vexaImageAddLine(imageId, 0, 0, i, i);
            const double pts[] = { 1, 2, 3, 4, 5, 6, 7, 8 };
            vexaObject2dSetArrayPoints(id, pts, 1 + i % 4);
            if (i % 3 == 0)
                vexaImageDeleteObject2d(imageId, id);
            if (i % 50 == 0)
                vexaImageDeleteObject2dByName(imageId, "M2D_OBJECT_LINE");
        }
        stop = true;
    });
    int frames = 0;
    // At least one frame even when the worker is done first.
    do {
        draw(a);
        ++frames;
    } while (!stop.load());
    worker.join();
    EXPECT_GT(frames, 0);
    EXPECT_EQ(static_cast<int>(overlayObjectIds(*a->image2d()).size()), object2dCount());
}

} // namespace
