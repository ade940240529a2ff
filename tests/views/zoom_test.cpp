#include "views/zoom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vexa;

namespace {

ZoomView viewOf(int imageW, int imageH, int clientW, int clientH, double zoom)
{
    ZoomView v;
    v.imageW = imageW;
    v.imageH = imageH;
    v.clientW = clientW;
    v.clientH = clientH;
    v.zoomX = v.zoomY = zoom;
    updateVisible(v);
    return v;
}

} // namespace

TEST(ZoomQuantisation, RoundsDownToPowersOfTwo)
{
    EXPECT_DOUBLE_EQ(quantiseZoom(0.7, 0.7, 1).zoomX, 0.5);
    EXPECT_DOUBLE_EQ(quantiseZoom(0.2, 0.2, 1).zoomX, 0.125);
    EXPECT_DOUBLE_EQ(quantiseZoom(3, 3, 1).zoomX, 2);
    EXPECT_DOUBLE_EQ(quantiseZoom(0.25, 0.25, 1).zoomX, 0.25);
    EXPECT_DOUBLE_EQ(quantiseZoom(1000, 1000, 1).zoomX, 256);
    // The smaller wanted factor decides.
    EXPECT_DOUBLE_EQ(quantiseZoom(9, 2.5, 1).zoomX, 2);
}

TEST(ZoomQuantisation, KeepsTheWindowRatioWithinTheLimits)
{
    ZoomPair z = quantiseZoom(4, 8, 2);
    EXPECT_DOUBLE_EQ(z.zoomX, 4);
    EXPECT_DOUBLE_EQ(z.zoomY, 8);
    z = quantiseZoom(256, 1000, 2);
    EXPECT_DOUBLE_EQ(z.zoomY, 256);
    EXPECT_DOUBLE_EQ(z.zoomX, 128);
    z = quantiseZoom(0.1, 0.1, 0.5);
    EXPECT_DOUBLE_EQ(z.zoomX * 0.5, 0.125);
    EXPECT_DOUBLE_EQ(z.zoomY, 0.125);
}

TEST(ZoomQuantisation, SurvivesEmptyAndNonFiniteInput)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_DOUBLE_EQ(quantiseZoom(inf, inf, 1).zoomX, 256);
    const ZoomPair z = quantiseZoom(std::nan(""), 1, 0);
    EXPECT_TRUE(std::isfinite(z.zoomX));
    EXPECT_GE(z.zoomX, 0.125);
}

TEST(ZoomMapping, WholeZoomPartsMapCountsAndCoordinates)
{
    EXPECT_EQ(zoomCount(100, 4), 400);
    EXPECT_EQ(zoomCount(100, 0.25), 25);
    EXPECT_EQ(zoomCount(101, 0.5), 50);
    EXPECT_EQ(zoomCoordinate(10, 4, 3.0), 18);
    EXPECT_EQ(zoomCoordinate(10, 2, 0.25), 2);
    EXPECT_EQ(imageCoordinate(18, 4, 3.0), 10);
    EXPECT_EQ(imageCoordinate(20, 4, 3.0), 10);
    EXPECT_EQ(imageCoordinate(-1, 4, 3.0), 3);
    EXPECT_EQ(imageCoordinate(2, 2, 0.25), 10);
}

TEST(VisibleSizes, WholeImageHidesTheScrollBar)
{
    const ZoomView v = viewOf(100, 80, 500, 400, 4);
    EXPECT_EQ(v.visibleW, 100);
    EXPECT_EQ(v.visibleH, 80);
    EXPECT_TRUE(v.scrollXHidden);
    EXPECT_TRUE(v.scrollYHidden);
}

TEST(VisibleSizes, PartlyShownLastSampleCounts)
{
    // 302 pixels at zoom 4: 75 whole samples and half of one more.
    const AxisView a = visibleAxis(302, 200, 4, 0);
    EXPECT_EQ(a.visible, 76);
    EXPECT_FALSE(a.scrollHidden);
    EXPECT_EQ(visibleAxis(300, 200, 4, 0).visible, 75);
    // Below zoom 1 every pixel holds whole samples.
    EXPECT_EQ(visibleAxis(100, 1000, 0.25, 0).visible, 400);
}

TEST(VisibleSizes, OriginIsLimitedSoTheViewEndsAtTheLastSample)
{
    EXPECT_EQ(visibleAxis(100, 200, 1, 150).origin, 100);
    EXPECT_EQ(visibleAxis(100, 200, 1, -5).origin, 0);
    EXPECT_EQ(visibleAxis(100, 200, 1, 40).origin, 40);
    EXPECT_EQ(visibleAxis(0, 200, 1, 40).visible, 1);
}

TEST(ZoomCommands, ZoomInKeepsTheCentre)
{
    ZoomView v = viewOf(400, 400, 200, 200, 1);
    setOrigin(v, 100, 100);
    ASSERT_TRUE(zoomIn(v));
    EXPECT_DOUBLE_EQ(v.zoomX, 2);
    EXPECT_EQ(v.originX, 150);
    EXPECT_EQ(v.visibleW, 100);
    ASSERT_TRUE(zoomOut(v));
    EXPECT_DOUBLE_EQ(v.zoomX, 1);
    EXPECT_EQ(v.originX, 100);
    EXPECT_EQ(v.visibleW, 200);
}

TEST(ZoomCommands, ZoomAroundAPointCentresOnIt)
{
    ZoomView v = viewOf(400, 400, 200, 200, 1);
    ASSERT_TRUE(zoomIn(v, ImagePoint { 300, 10 }));
    EXPECT_EQ(v.originX, 250);
    EXPECT_EQ(v.originY, 0);
    ASSERT_TRUE(zoomOut(v, ImagePoint { 300, 300 }));
    // 300 - 100 for both axes, then limited so the view ends at the last sample.
    EXPECT_EQ(v.originX, 200);
    EXPECT_EQ(v.originY, 200);
}

TEST(ZoomCommands, LimitsChangeNothing)
{
    ZoomView v = viewOf(40, 40, 100, 100, 256);
    const ZoomView before = v;
    EXPECT_FALSE(zoomIn(v));
    EXPECT_DOUBLE_EQ(v.zoomX, before.zoomX);
    EXPECT_EQ(v.originX, before.originX);
    v = viewOf(40, 40, 100, 100, 0.125);
    EXPECT_FALSE(zoomOut(v));
    EXPECT_DOUBLE_EQ(v.zoomX, 0.125);
}

TEST(ZoomCommands, WindowZoomStopsBeforeTenThousandPixels)
{
    ZoomView v = viewOf(3000, 100, 100000, 100000, 1);
    ASSERT_TRUE(windowZoomIn(v));
    EXPECT_DOUBLE_EQ(v.zoomX, 2);
    EXPECT_FALSE(windowZoomIn(v)); // 3000 x 2 x 2 = 12000
    EXPECT_DOUBLE_EQ(v.zoomX, 2);
    ASSERT_TRUE(windowZoomOut(v));
    EXPECT_DOUBLE_EQ(v.zoomX, 1);
    v.zoomX = v.zoomY = 0.125;
    EXPECT_FALSE(windowZoomOut(v));
}

TEST(InitialDisplay, FitsAboutNineHundredBySixHundredSeventyFive)
{
    ZoomView v = viewOf(100, 80, 10, 10, 1);
    v.originX = 7;
    PixelSize s = initialDisplay(v);
    // 900/100 gives 8, 800 x 640 is too tall; 600/80 gives 4.
    EXPECT_DOUBLE_EQ(v.zoomX, 4);
    EXPECT_EQ(s.width, 400);
    EXPECT_EQ(s.height, 320);
    EXPECT_EQ(v.originX, 0);

    v = viewOf(512, 512, 10, 10, 1);
    s = initialDisplay(v);
    EXPECT_DOUBLE_EQ(v.zoomX, 1);
    EXPECT_EQ(s.width, 512);

    v = viewOf(2001, 1000, 10, 10, 1);
    s = initialDisplay(v);
    EXPECT_DOUBLE_EQ(v.zoomX, 0.25);
    EXPECT_EQ(s.width, 501); // 500 pixels cover only 2000 samples
    EXPECT_EQ(s.height, 250);
}
