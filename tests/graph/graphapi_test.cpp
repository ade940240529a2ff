#include "data/graphapi.h"
#include "data/registry.h"
#include "support/recordingpainter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace vexa;

namespace {

class GraphApi : public ::testing::Test {
protected:
    void SetUp() override
    {
        image
            = dataCreate(DATA_IMAGE, std::make_unique<ImageObject>(), nullptr, kFreshId, kFreshId);
        datum = dataCreate(DATA_GRAPH, nullptr, makeGraphDatum(), kFreshId, kFreshId);
        ASSERT_TRUE(image && datum);
    }
    void TearDown() override { dataResetRegistry(); }

    std::vector<Graph> graphsOf(std::uint32_t id, const char* name)
    {
        std::vector<Graph> out;
        if (GraphList* list = graphListFor(id))
            list->forEach(name, [&](Graph& g) { out.push_back(g); });
        return out;
    }

    DataRecord* image = nullptr;
    DataRecord* datum = nullptr;
};

TEST_F(GraphApi, ImageGraphsUseHostCoordinatesAndDatumGraphsWindowFractions)
{
    ASSERT_EQ(dozDataGraphNew(image->imageId, "p", 10, 20, 110, 220), 1);
    auto g = graphsOf(image->imageId, "p");
    ASSERT_EQ(g.size(), 1u);
    EXPECT_DOUBLE_EQ(g[0].x1, 110);
    EXPECT_DOUBLE_EQ(g[0].cx, 60);

    ASSERT_EQ(dozDataGraphNew(datum->imageId, "p", 0.1, 0.25, 0.5, 1), 1);
    g = graphsOf(datum->imageId, "p");
    ASSERT_EQ(g.size(), 1u);
    EXPECT_DOUBLE_EQ(g[0].x0, 20); // 0.1 x 200
    EXPECT_DOUBLE_EQ(g[0].y0, 50);
    EXPECT_DOUBLE_EQ(g[0].x1, 100);
    EXPECT_DOUBLE_EQ(g[0].y1, 200);
    EXPECT_DOUBLE_EQ(g[0].homeX0, 20);
    // The two lists are separate.
    EXPECT_EQ(graphListFor(image->imageId)->size(), 1);
}

TEST_F(GraphApi, UnknownIdentifiersBlockIdsAndNullNamesDoNothing)
{
    EXPECT_EQ(dozDataGraphNew(0, "p", 0, 0, 1, 1), 0);
    EXPECT_EQ(dozDataGraphNew(image->blockId, "p", 0, 0, 1, 1), 0);
    EXPECT_EQ(dozDataGraphNew(image->imageId, nullptr, 0, 0, 1, 1), 0);
    std::uint32_t unknown = image->imageId ^ datum->imageId ^ 0x5a5a5a5a;
    EXPECT_EQ(dozDataGraphSetLinear(unknown, "p"), 0);
    EXPECT_EQ(dozDataGraphSetXRange(image->imageId, "missing", 0, 1), 0);
    EXPECT_EQ(graphListFor(image->blockId), nullptr);
}

TEST_F(GraphApi, SameNamedGraphsAreSetAndDeletedTogether)
{
    std::uint32_t id = image->imageId;
    dozDataGraphNew(id, "twin", 0, 0, 10, 10);
    dozDataGraphNew(id, "other", 0, 0, 10, 10);
    dozDataGraphNew(id, "twin", 0, 0, 20, 20);
    EXPECT_EQ(dozDataGraphSetBorderColor(id, "twin", 1, 0, 0), 1);
    EXPECT_EQ(dozDataGraphSetXAxisWidth(id, "twin", 7), 1);
    EXPECT_EQ(dozDataGraphSetOrientation(id, "twin", 180), 1);
    for (const Graph& g : graphsOf(id, "twin")) {
        EXPECT_EQ(g.borderColor, (Rgb { 1, 0, 0 }));
        EXPECT_EQ(g.xAxisWidth, 7);
        EXPECT_NEAR(g.cosAngle, -1, 1e-12);
    }
    EXPECT_EQ(graphsOf(id, "other")[0].xAxisWidth, 2);
    EXPECT_EQ(dozDataGraphDelete(id, "twin"), 1);
    EXPECT_TRUE(graphsOf(id, "twin").empty());
    EXPECT_EQ(graphsOf(id, "other").size(), 1u);
    EXPECT_EQ(dozDataGraphDelete(id, "twin"), 0);
}

TEST_F(GraphApi, FlagsTakePositiveValuesAsOn)
{
    std::uint32_t id = datum->imageId;
    dozDataGraphNew(id, "g", 0, 0, 1, 1);
    dozDataGraphSetBackgroundVisibility(id, "g", -1);
    dozDataGraphSetBorderVisibility(id, "g", 0);
    dozDataGraphSetXGridVisibility(id, "g", 3);
    dozDataGraphSetYAxisVisibility(id, "g", -5);
    Graph g = graphsOf(id, "g").at(0);
    EXPECT_FALSE(g.backgroundVisible);
    EXPECT_FALSE(g.borderVisible);
    EXPECT_TRUE(g.xGridVisible);
    EXPECT_FALSE(g.yAxisVisible);
    dozDataGraphSetPolar(id, "g");
    EXPECT_TRUE(graphsOf(id, "g")[0].polar);
    dozDataGraphSetLinear(id, "g");
    EXPECT_FALSE(graphsOf(id, "g")[0].polar);
}

TEST_F(GraphApi, DataRangesAndSeriesThroughTheCallbacks)
{
    std::uint32_t id = image->imageId;
    dozDataGraphNew(id, "g", 0, 0, 100, 100);
    const double x[] = { 0, 1, 2 }, y[] = { 1, 2, 3 };
    EXPECT_EQ(dozDataGraphSetData(id, "g", 1, x, y, 3), 1);
    const double y7[] = { 0, 7, 1 };
    EXPECT_EQ(dozDataGraphSetData(id, "g", 3, x, y7, 3), 1);
    Graph g = graphsOf(id, "g").at(0);
    EXPECT_EQ(g.seriesCount(), 3);
    EXPECT_EQ(g.series[1].count(), 0);
    EXPECT_DOUBLE_EQ(g.yMax, 7);
    EXPECT_EQ(dozDataGraphSetDataVisibility(id, "g", 1, -1), 1);
    EXPECT_EQ(dozDataGraphSetDataVisibility(id, "g", 4, 1), 0); // no series 4
    EXPECT_EQ(dozDataGraphSetDataWidth(id, "g", 0, 1), 0);
    EXPECT_EQ(dozDataGraphSetDataColor(id, "g", 3, 0, 1, 0), 1);
    EXPECT_EQ(dozDataGraphSetData(id, "g", 0, x, y, 3), 0);
    g = graphsOf(id, "g").at(0);
    EXPECT_FALSE(g.series[0].lineVisible);
    EXPECT_TRUE(g.series[0].markersVisible);
    EXPECT_EQ(g.series[2].color, (Rgb { 0, 1, 0 }));

    EXPECT_EQ(dozDataGraphSetXRange(id, "g", 3, 3), 1);
    g = graphsOf(id, "g").at(0);
    EXPECT_DOUBLE_EQ(g.xMin, 2.5);
    EXPECT_DOUBLE_EQ(g.xMax, 3.5);
    EXPECT_FALSE(g.autoRange);
    dozDataGraphSetAutoRange(id, "g");
    dozDataGraphSetData(id, "g", 2, x, y, 3);
    EXPECT_DOUBLE_EQ(graphsOf(id, "g")[0].xMax, 2);
}

TEST_F(GraphApi, GraphDatumReportsItsWindowSize)
{
    int w = 0, h = 0, d = 1;
    datum->graph->reportSizes(w, h, d);
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 200);
    EXPECT_EQ(d, 0);
}

TEST_F(GraphApi, GraphsGoWithTheirRecord)
{
    std::uint32_t id = image->imageId;
    dozDataGraphNew(id, "g", 0, 0, 1, 1);
    dataDelete(image);
    image = nullptr;
    EXPECT_EQ(dozDataGraphSetLinear(id, "g"), 0);
}

TEST_F(GraphApi, ConcurrencyWorkerSetsDataWhileTheInterfaceDraws)
{
    std::uint32_t id = image->imageId;
    dozDataGraphNew(id, "live", 0, 0, 200, 100);
    dozDataGraphSetDataVisibility(id, "live", 1, 1);
    std::atomic<bool> stop { false };
    std::thread worker([&] {
        std::vector<double> x(300), y(300);
        for (int round = 0; round < 200; ++round) {
            for (int i = 0; i < 300; ++i) {
                x[i] = i;
                y[i] = (i * round) % 17;
            }
            int n = 1 + round % 200;
            dozDataGraphSetData(id, "live", 1 + round % 3, x.data(), y.data(), n);
            dozDataGraphSetDataVisibility(id, "live", 1 + round % 3, 1);
        }
        stop = true;
    });
    GraphList* list = graphListFor(id);
    int frames = 0;
    // At least one frame even when the worker is done first.
    do {
        RecordingPainter p;
        list->draw(p);
        ++frames;
    } while (!stop.load());
    worker.join();
    EXPECT_GT(frames, 0);
    EXPECT_EQ(graphsOf(id, "live").at(0).seriesCount(), 3);
}

} // namespace
