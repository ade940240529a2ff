#include "data/graph.h"
#include "support/recordingpainter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using vexa::Graph;
using vexa::graphTicks;
using vexa::PixelPoint;
using vexa::Rgb;

namespace {

using Ticks = std::vector<double>;

void expectTicks(const Ticks& actual, const Ticks& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-9) << "tick " << i;
}

TEST(GraphTicks, PickOneTwoOrFiveTimesAPowerOfTen)
{
    expectTicks(graphTicks(0, 10, 5), { 0, 2, 4, 6, 8, 10 });
    Ticks minor = graphTicks(0, 10, 25);
    ASSERT_EQ(minor.size(), 21u);
    EXPECT_DOUBLE_EQ(minor[1], 0.5);
    expectTicks(graphTicks(0, 1, 10), { 0, .1, .2, .3, .4, .5, .6, .7, .8, .9, 1 });
    expectTicks(graphTicks(0, 7, 10), { 0, 1, 2, 3, 4, 5, 6, 7 }); // d 0.7 -> step 1
    expectTicks(graphTicks(0, 30, 10), { 0, 5, 10, 15, 20, 25, 30 }); // d 3 -> step 5
}

TEST(GraphTicks, StartAtTheFirstMultipleInsideTheRange)
{
    expectTicks(graphTicks(-3.3, 4.1, 5), { -2, 0, 2, 4 });
    expectTicks(graphTicks(101, 109, 4), { 102, 104, 106, 108 });
    expectTicks(graphTicks(10, 0, 5), { 0, 2, 4, 6, 8, 10 }); // a reversed range
}

TEST(GraphTicks, DegenerateInputsGiveNoTicks)
{
    EXPECT_TRUE(graphTicks(3, 3, 5).empty());
    EXPECT_TRUE(graphTicks(0, 10, 0).empty());
    EXPECT_TRUE(graphTicks(0, 10, -2).empty());
    EXPECT_TRUE(graphTicks(0, std::nan(""), 5).empty());
    EXPECT_TRUE(graphTicks(-std::numeric_limits<double>::infinity(), 0, 5).empty());
    // A huge offset with a tiny span: bounded, and no endless loop.
    EXPECT_LE(graphTicks(1e300, 1e300 * (1 + 1e-15), 5).size(), 100001u);
    EXPECT_LE(graphTicks(1e17, 1e17 + 64, 5).size(), 100001u);
}

TEST(GraphRanges, AnEmptyRangeIsWidenedByAHalf)
{
    Graph g("g", 0, 0, 100, 100);
    ASSERT_TRUE(g.setXRange(3, 3));
    EXPECT_DOUBLE_EQ(g.xMin, 2.5);
    EXPECT_DOUBLE_EQ(g.xMax, 3.5);
    EXPECT_DOUBLE_EQ(g.xSpan, 1.0);
    EXPECT_FALSE(g.autoRange);
}

TEST(GraphRanges, LinearAndPolarLayoutsUseTheirTickCounts)
{
    Graph g("g", 0, 0, 100, 100);
    g.setXRange(0, 10);
    g.setYRange(0, 10);
    EXPECT_EQ(g.xMajorTicks.size(), 6u); // n = 5: step 2
    EXPECT_EQ(g.xMinorTicks.size(), 21u); // n = 25: step 0.5
    EXPECT_EQ(g.yMajorTicks.size(), 11u); // n = 10: step 1
    EXPECT_EQ(g.yMinorTicks.size(), 51u); // n = 50: step 0.2

    g.polar = true;
    g.setXRange(-0.01, 3.15);
    // Steps are chosen in quarter turns of pi/4 (major) and pi/16 (minor) units.
    ASSERT_EQ(g.xMajorTicks.size(), 5u);
    EXPECT_NEAR(g.xMajorTicks[1], M_PI / 4, 1e-12);
    EXPECT_NEAR(g.xMajorTicks.back(), M_PI, 1e-12);
    ASSERT_EQ(g.xMinorTicks.size(), 17u);
    EXPECT_NEAR(g.xMinorTicks[1], M_PI / 16, 1e-12);
    g.setYRange(0, 7);
    EXPECT_EQ(g.yMajorTicks.size(), 15u); // n = 20: step 0.5
    EXPECT_EQ(g.yMinorTicks.size(), 36u); // n = 40: step 0.2
}

TEST(GraphRanges, UndefinedBoundsAreRefused)
{
    Graph g("g", 0, 0, 100, 100);
    g.setXRange(0, 10);
    EXPECT_FALSE(g.setXRange(0, std::nan("")));
    EXPECT_FALSE(g.setYRange(std::numeric_limits<double>::infinity(), 1));
    EXPECT_DOUBLE_EQ(g.xMax, 10.0);
}

TEST(GraphData, GrowingCreatesEmptyInvisibleSeries)
{
    Graph g("g", 0, 0, 100, 100);
    const double x[] = { 0, 1 }, y[] = { 0, 1 };
    ASSERT_TRUE(g.setData(1, x, y, 2));
    g.setDataVisibility(1, 1);
    ASSERT_TRUE(g.setData(3, x, y, 2));
    ASSERT_EQ(g.seriesCount(), 3);
    EXPECT_EQ(g.series[1].count(), 0);
    EXPECT_FALSE(g.series[1].lineVisible);
    EXPECT_FALSE(g.series[1].markersVisible);
    EXPECT_TRUE(g.series[0].lineVisible); // untouched
}

TEST(GraphData, ReplacingASeriesKeepsItsLook)
{
    Graph g("g", 0, 0, 100, 100);
    const double x[] = { 0, 1, 2 }, y[] = { 5, 6, 7 };
    g.setData(1, x, y, 3);
    g.setDataColor(1, { 1, 0, 0 });
    g.setDataWidth(1, 4);
    g.setData(1, x, y, 1);
    EXPECT_EQ(g.series[0].count(), 1);
    EXPECT_EQ(g.series[0].color, (Rgb { 1, 0, 0 }));
    EXPECT_EQ(g.series[0].width, 4);
}

TEST(GraphData, BadSeriesNumbersAndArraysAreRefused)
{
    Graph g("g", 0, 0, 100, 100);
    const double x[] = { 0, 1 }, y[] = { 0, 1 };
    EXPECT_FALSE(g.setData(0, x, y, 2));
    EXPECT_FALSE(g.setData(-1, x, y, 2));
    EXPECT_FALSE(g.setData(1, x, y, -1));
    EXPECT_FALSE(g.setData(1, nullptr, y, 2));
    EXPECT_EQ(g.seriesCount(), 0);
    EXPECT_TRUE(g.setData(1, nullptr, nullptr, 0)); // an empty series is fine
    EXPECT_FALSE(g.setDataVisibility(2, 1));
    EXPECT_FALSE(g.setDataWidth(0, 1));
    EXPECT_FALSE(g.setDataColor(5, {}));
}

TEST(GraphData, AutoRangeFollowsEveryPointOfEverySeries)
{
    Graph g("g", 0, 0, 100, 100);
    const double x1[] = { 0, 4 }, y1[] = { 1, 3 };
    g.setData(1, x1, y1, 2);
    EXPECT_DOUBLE_EQ(g.yMax, 3);
    EXPECT_TRUE(g.autoRange);
    const double x2[] = { -2, 1 }, y2[] = { 2, 7 };
    g.setData(2, x2, y2, 2);
    EXPECT_DOUBLE_EQ(g.xMin, -2);
    EXPECT_DOUBLE_EQ(g.xMax, 4);
    EXPECT_DOUBLE_EQ(g.yMin, 1);
    EXPECT_DOUBLE_EQ(g.yMax, 7);
    EXPECT_NEAR(g.yMajorTicks.back(), 7, 1e-12);
    EXPECT_TRUE(g.autoRange);
}

TEST(GraphData, AutoRangeSkipsUndefinedPointsAndEmptySeries)
{
    Graph g("g", 0, 0, 100, 100);
    g.setData(1, nullptr, nullptr, 0);
    const double x[] = { 1, std::nan(""), 3 },
                 y[] = { 2, 100, std::numeric_limits<double>::infinity() };
    g.setData(2, x, y, 3);
    EXPECT_DOUBLE_EQ(g.xMin, 0.5); // one usable point: (1, 2), widened
    EXPECT_DOUBLE_EQ(g.xMax, 1.5);
    EXPECT_DOUBLE_EQ(g.yMax, 2.5);
}

TEST(GraphData, ExplicitRangeStopsAutoRangeUntilAskedAgain)
{
    Graph g("g", 0, 0, 100, 100);
    g.setXRange(0, 1);
    const double x[] = { 0, 50 }, y[] = { 0, 50 };
    g.setData(1, x, y, 2);
    EXPECT_DOUBLE_EQ(g.xMax, 1);
    g.autoRange = true;
    g.setData(1, x, y, 2);
    EXPECT_DOUBLE_EQ(g.xMax, 50);
}

TEST(GraphData, PolarAutoRangePutsTheAxisAtTheLargestRadius)
{
    Graph g("g", 0, 0, 100, 100);
    g.polar = true;
    const double a[] = { 0, 1, 2 }, r[] = { 1, 4, 2 };
    g.setData(1, a, r, 3);
    EXPECT_DOUBLE_EQ(g.xAxisPosition, 4);
}

TEST(GraphData, VisibilityControlsLineAndMarkersSeparately)
{
    Graph g("g", 0, 0, 100, 100);
    const double x[] = { 0, 1 }, y[] = { 0, 1 };
    g.setData(1, x, y, 2);
    g.setDataVisibility(1, -1);
    EXPECT_FALSE(g.series[0].lineVisible);
    EXPECT_TRUE(g.series[0].markersVisible);
    g.setDataVisibility(1, 2);
    EXPECT_TRUE(g.series[0].lineVisible);
    EXPECT_TRUE(g.series[0].markersVisible);
    g.setDataVisibility(1, 0);
    EXPECT_FALSE(g.series[0].lineVisible);
    EXPECT_FALSE(g.series[0].markersVisible);
}

TEST(GraphPlacement, LinearLayoutMapsTheRangeOntoTheRectangle)
{
    Graph g("g", 10, 20, 110, 70);
    g.setXRange(0, 10);
    g.setYRange(0, 5);
    auto p = g.place(0, 0);
    EXPECT_DOUBLE_EQ(p.x, 10);
    EXPECT_DOUBLE_EQ(p.y, 70); // y grows upward
    p = g.place(10, 5);
    EXPECT_DOUBLE_EQ(p.x, 110);
    EXPECT_DOUBLE_EQ(p.y, 20);
    p = g.place(5, 2.5);
    EXPECT_DOUBLE_EQ(p.x, 60);
    EXPECT_DOUBLE_EQ(p.y, 45);
}

TEST(GraphPlacement, TurnsAboutTheCentre)
{
    Graph g("g", 0, 0, 100, 100);
    g.setXRange(0, 10);
    g.setYRange(0, 10);
    g.setOrientation(90);
    auto p = g.place(10, 5); // the right middle point of the frame: (100, 50)
    EXPECT_NEAR(p.x, 50, 1e-9);
    EXPECT_NEAR(p.y, 100, 1e-9);
    EXPECT_NEAR(g.angle, 3.14159265359 / 2, 1e-15);
}

TEST(GraphPlacement, PolarLayoutUsesAngleAndRadius)
{
    Graph g("g", 0, 0, 200, 100); // R = 50, centre (100, 50)
    g.polar = true;
    g.setYRange(0, 10);
    auto p = g.place(0, 10);
    EXPECT_NEAR(p.x, 150, 1e-9);
    EXPECT_NEAR(p.y, 50, 1e-9);
    p = g.place(M_PI / 2, 5);
    EXPECT_NEAR(p.x, 100, 1e-9);
    EXPECT_NEAR(p.y, 25, 1e-9);
}

TEST(GraphPlacement, ScreenMappingRoundsHalfUpAndRejectsUndefinedPoints)
{
    Graph g("g", 0, 0, 100, 100);
    g.offsetX = 10;
    g.offsetY = -10;
    g.scaleX = 2;
    g.scaleY = 0.5;
    auto p = g.toScreen({ 20.25, 1 });
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, (PixelPoint { 21, 6 })); // 20.5 -> 21, 5.5 -> 6
    p = g.toScreen({ 9.25, -11 });
    EXPECT_EQ(*p, (PixelPoint { -1, 0 })); // -1.5 -> -1, -0.5 -> 0
    EXPECT_FALSE(g.toScreen({ std::nan(""), 0 }));
    EXPECT_TRUE(g.toScreen({ 1e300, 0 })); // far away, clamped rather than undefined
}

TEST(GraphDrawing, DrawsLayersInOrderClippedToTheFrame)
{
    Graph g("g", 0, 0, 100, 100);
    const double x[] = { 0, 5, 10 }, y[] = { 0, 10, 0 };
    g.setData(1, x, y, 3);
    g.setDataVisibility(1, 1);
    g.setDataColor(1, { 0, 0, 1 });
    RecordingPainter p;
    g.draw(p);
    ASSERT_GE(p.calls.size(), 4u);
    EXPECT_EQ(p.calls.front().op, "clip");
    EXPECT_EQ(p.calls.front().points,
        (std::vector<PixelPoint> { { 0, 0 }, { 100, 0 }, { 100, 100 }, { 0, 100 } }));
    EXPECT_EQ(p.calls[1].op, "fill");
    EXPECT_EQ(p.calls[1].color, (Rgb { 1, 1, 0.85 }));
    EXPECT_EQ(p.calls.back().op, "unclip");
    // Series after border after grids.
    int border = -1, series = -1, firstGrid = -1;
    for (int i = 0; i < static_cast<int>(p.calls.size()); ++i) {
        const auto& c = p.calls[i];
        if (c.op == "outline")
            border = i;
        if (c.op == "polyline" && c.color == Rgb { 0, 0, 1 })
            series = i;
        if (firstGrid < 0 && c.op == "polyline" && c.color == Rgb { 0.8, 0.8, 0.8 })
            firstGrid = i;
    }
    EXPECT_LT(firstGrid, border);
    EXPECT_LT(border, series);
    EXPECT_EQ(
        p.calls[series].points, (std::vector<PixelPoint> { { 0, 100 }, { 50, 0 }, { 100, 100 } }));
    EXPECT_EQ(p.calls[border].width, 3);
}

TEST(GraphDrawing, GridsAndTickMarksFollowTheTicks)
{
    Graph g("g", 0, 0, 100, 100);
    g.setXRange(0, 10);
    g.setYRange(0, 10);
    g.xAxisPosition = 5;
    RecordingPainter p;
    g.draw(p);
    // X major grid lines (6) and Y major grid lines (11) share the colour.
    EXPECT_EQ(p.withColor("polyline", { 0.5, 0.5, 0.5 }).size(), 6u + 11u);
    // A major X tick mark at x = 2 reaches S/20 = 0.5 either side of y = 5.
    bool found = false;
    for (const auto& c : p.withColor("polyline", { 0, 0, 0 }))
        if (c.points == std::vector<PixelPoint> { { 20, 55 }, { 20, 45 } })
            found = true;
    EXPECT_TRUE(found);
    // The X axis line with its own width.
    found = false;
    for (const auto& c : p.withOp("polyline"))
        if (c.width == 2 && c.points == std::vector<PixelPoint> { { 0, 50 }, { 100, 50 } })
            found = true;
    EXPECT_TRUE(found);
}

TEST(GraphDrawing, HiddenPartsAreNotDrawn)
{
    Graph g("g", 0, 0, 100, 100);
    g.setXRange(0, 10);
    g.setYRange(0, 10);
    g.backgroundVisible = g.borderVisible = g.xAxisVisible = g.yAxisVisible = false;
    RecordingPainter p;
    g.draw(p);
    EXPECT_EQ(p.calls.size(), 2u); // the clip and its end only
}

TEST(GraphDrawing, PolarLayoutDrawsNoYAxis)
{
    Graph g("g", 0, 0, 100, 100);
    g.polar = true;
    g.setXRange(0, M_PI);
    g.setYRange(0, 10);
    RecordingPainter p;
    g.draw(p);
    EXPECT_TRUE(p.withColor("polyline", { 0.8, 0.8, 0.8 }).size() > 0); // X minor grid
    // Without the Y axis the only major grid lines are the X ones.
    EXPECT_EQ(p.withColor("polyline", { 0.5, 0.5, 0.5 }).size(), g.xMajorTicks.size());
}

TEST(GraphDrawing, HighlightedGraphUsesTheHighlightBackground)
{
    Graph g("g", 0, 0, 10, 10);
    g.highlighted = true;
    RecordingPainter p;
    g.draw(p);
    EXPECT_EQ(p.withOp("fill").at(0).color, (Rgb { 0.8, 0.8, 0.65 }));
}

TEST(GraphDrawing, MarkersShowEvenWhenTheLineIsHidden)
{
    Graph g("g", 0, 0, 100, 100);
    g.backgroundVisible = false;
    const double x[] = { 0, 10 }, y[] = { 0, 10 };
    g.setData(1, x, y, 2);
    g.setDataVisibility(1, -1);
    g.setDataColor(1, { 1, 0, 0 });
    RecordingPainter p;
    g.draw(p);
    EXPECT_TRUE(p.withColor("polyline", { 1, 0, 0 }).empty());
    auto markers = p.withColor("fill", { 1, 0, 0 });
    ASSERT_EQ(markers.size(), 2u);
    EXPECT_EQ(markers[0].points.size(), 4u);
    // Centred on the point (0, 100), side kGraphMarkerSize.
    int minX = 1000, maxX = -1000;
    for (auto& q : markers[0].points) {
        minX = std::min(minX, q.x);
        maxX = std::max(maxX, q.x);
    }
    EXPECT_NEAR(maxX - minX, vexa::kGraphMarkerSize, 1);
    EXPECT_NEAR((minX + maxX) / 2.0, 0, 1);
}

TEST(GraphDrawing, AnUndefinedPointBreaksTheCurve)
{
    Graph g("g", 0, 0, 100, 100);
    g.setXRange(0, 4);
    g.setYRange(0, 4);
    const double x[] = { 0, 1, 2, 3, 4 }, y[] = { 0, 1, std::nan(""), 3, 4 };
    g.setData(1, x, y, 5);
    g.setDataVisibility(1, 1);
    g.setDataColor(1, { 0, 1, 0 });
    RecordingPainter p;
    g.draw(p);
    auto runs = p.withColor("polyline", { 0, 1, 0 });
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].points.size(), 2u);
    EXPECT_EQ(runs[1].points.size(), 2u);
}

TEST(GraphDrawing, AFreshGraphWithoutRangesDrawsOnlyFrameParts)
{
    Graph g("g", 0, 0, 100, 100); // spans 0: no point can be placed
    RecordingPainter p;
    g.draw(p);
    EXPECT_EQ(p.withOp("fill").size(), 1u);
    EXPECT_EQ(p.withOp("outline").size(), 1u);
    EXPECT_TRUE(p.withOp("polyline").empty());
}

TEST(GraphList, SettersReachEveryGraphOfTheName)
{
    vexa::GraphList list;
    list.add(Graph("a", 0, 0, 1, 1));
    list.add(Graph("b", 0, 0, 1, 1));
    list.add(Graph("a", 0, 0, 2, 2));
    EXPECT_EQ(list.forEach("a", [](Graph& g) { g.borderWidth = 9; }), 2);
    int nines = 0;
    list.forAll([&](Graph& g) { nines += g.borderWidth == 9; });
    EXPECT_EQ(nines, 2);
    EXPECT_EQ(list.remove("a"), 2);
    EXPECT_EQ(list.size(), 1);
    EXPECT_EQ(list.remove("zzz"), 0);
}

TEST(GraphList, NewestIsFirstAndDrawnLast)
{
    vexa::GraphList list;
    Graph first("first", 0, 0, 10, 10);
    first.backgroundColor = { 1, 0, 0 };
    Graph second("second", 0, 0, 10, 10);
    second.backgroundColor = { 0, 1, 0 };
    list.add(first);
    list.add(second);
    std::vector<std::string> order;
    list.forAll([&](Graph& g) { order.push_back(g.name); });
    EXPECT_EQ(order, (std::vector<std::string> { "second", "first" }));
    RecordingPainter p;
    list.draw(p);
    auto fills = p.withOp("fill");
    ASSERT_EQ(fills.size(), 2u);
    EXPECT_EQ(fills[0].color, (Rgb { 1, 0, 0 }));
    EXPECT_EQ(fills[1].color, (Rgb { 0, 1, 0 }));
}

} // namespace
