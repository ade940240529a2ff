// "Nouvelle donnée ...": 2D and 3D images with their contents, and the audio, 3D
// view and graph data.
#include "importtest_util.h"

#include "data/graphapi.h"

#include <cmath>

using namespace importtest;
using vexa::DataRecord;

namespace {

std::function<void(ParamBox&)> image3dAnswers(int w, int h, int d, int format, int content)
{
    return [=](ParamBox& box) {
        ASSERT_EQ(boundItems(box).size(), 5u);
        setInt(box, 0, w);
        setInt(box, 1, h);
        setInt(box, 2, d);
        setInt(box, 3, format);
        setInt(box, 4, content);
    };
}

std::vector<double> blockValues(const vexa::BlockDescriptor& b)
{
    return asDoubles(b.samples.data(), int(b.sampleCount()), b.typeData);
}

} // namespace

TEST(NewDataFormats, ListPositionsMapToTypes)
{
    const int expected[] = { 1, 2, 8, 5, 9, 6, 4, 3, 7 };
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(vexa::newDataFormatType(i), expected[i]);
    EXPECT_EQ(vexa::newDataFormatType(9), -1);
    EXPECT_EQ(vexa::newDataFormatType(-1), -1);
}

using NewData = ImportTest;

TEST_F(NewData, Image3dOtherHoldsTheLargestCoordinate)
{
    answer(image3dAnswers(2, 2, 2, 0, 2));
    DataRecord* r = vexa::newImage3dCommand();
    ASSERT_NE(r, nullptr);
    ASSERT_NE(r->block(), nullptr);
    EXPECT_EQ(r->block()->typeData, TYPEDATA_U8);
    EXPECT_EQ(r->block()->storage, vexa::STORAGE_MEMORY);
    EXPECT_EQ(blockValues(*r->block()), (std::vector<double> { 0, 1, 1, 1, 1, 1, 1, 1 }));
    EXPECT_EQ(host.count(vexa::GuiRequest::OpenImage), 1);
    ASSERT_EQ(boxLabels.size(), 1u);
    EXPECT_NE(boxLabels[0].find("|Vide,Aléatoire,Autre|"), std::string::npos);
}

TEST_F(NewData, Image3dOtherClampsToSmallTypesAndSpansBatches)
{
    // 300 wide: max(x, y, z) reaches 299, clamped to 127 in S8.
    auto object = vexa::newImage3dObject(300, 2, 2, TYPEDATA_S8, vexa::NEWDATA_MAXIMUM);
    ASSERT_TRUE(object);
    std::vector<double> v = blockValues(*object->block);
    EXPECT_EQ(v[5], 5);
    EXPECT_EQ(v[299], 127);
    EXPECT_EQ(v[600], 1); // (0, 0, 1)
    // A slice wider than one fill batch is filled whole.
    auto wide = vexa::newImage3dObject(1 << 21, 2, 1, TYPEDATA_U8, vexa::NEWDATA_MAXIMUM);
    ASSERT_TRUE(wide);
    const auto* bytes = wide->block->samples.bytes();
    EXPECT_EQ(bytes[(1 << 21) + 0], 1); // (0, 1)
    EXPECT_EQ(bytes[(1 << 21) - 1], 255);
}

TEST_F(NewData, Image3dRandomDrawsRandInOrder)
{
    std::srand(7);
    const long long first = std::rand();
    const double expected
        = int(first * 32768 / (static_cast<long long>(RAND_MAX) + 1)) / 32767.0 * 256.0;
    std::srand(7);
    answer(image3dAnswers(8, 4, 3, 7, 1));
    DataRecord* r = vexa::newImage3dCommand();
    ASSERT_NE(r, nullptr);
    std::vector<double> v = blockValues(*r->block());
    EXPECT_EQ(r->block()->typeData, TYPEDATA_F64);
    EXPECT_EQ(v[0], expected);
    for (double x : v) {
        EXPECT_GE(x, 0);
        EXPECT_LE(x, 256);
    }
    EXPECT_NE(*std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));

    auto bytes = vexa::newImage3dObject(16, 16, 4, TYPEDATA_U8, vexa::NEWDATA_RANDOM);
    ASSERT_TRUE(bytes);
    std::vector<double> u = blockValues(*bytes->block);
    EXPECT_GT(*std::max_element(u.begin(), u.end()), 128);
}

TEST_F(NewData, Image3dEmptyIsZeroAndAnswersAreRemembered)
{
    answer(image3dAnswers(3, 2, 4, 3, 0));
    DataRecord* r = vexa::newImage3dCommand();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->block()->typeData, TYPEDATA_S16);
    EXPECT_EQ(blockValues(*r->block()), std::vector<double>(24, 0));
    vexa::NewDataSettings s = vexa::newDataRemembered();
    EXPECT_EQ(s.width3d, 3);
    EXPECT_EQ(s.depth3d, 4);
    EXPECT_EQ(s.format3d, 3);
    EXPECT_EQ(s.width2d, 256); // the other dialog keeps its own
}

TEST_F(NewData, Image2dRgbaHoldsZeroPixels)
{
    std::vector<int> shown;
    answer([&](ParamBox& box) {
        shown = { getInt(box, 0), getInt(box, 1), getInt(box, 2) };
        setInt(box, 0, 3);
        setInt(box, 1, 2);
        setInt(box, 2, 8);
    });
    DataRecord* r = vexa::newImage2dCommand();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(shown, (std::vector<int> { 256, 256, 0 }));
    EXPECT_EQ(r->block(), nullptr);
    const vexa::ImageDescriptor& image = *r->image2d();
    EXPECT_EQ(image.typeData, TYPEDATA_RGBA);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    ASSERT_EQ(image.samples.size(), 24u);
    EXPECT_TRUE(std::all_of(
        image.samples.bytes(), image.samples.bytes() + 24, [](std::uint8_t b) { return b == 0; }));
    ASSERT_EQ(boxLabels.size(), 1u);
    EXPECT_EQ(boxLabels[0].rfind("w|h|Format Donnée|Entier 8 Bits Non Signé,", 0), 0u);
}

TEST_F(NewData, CancelledOrRefusedDialogsCreateNothing)
{
    cancelNextBox();
    EXPECT_EQ(vexa::newImage3dCommand(), nullptr);
    cancelNextBox();
    EXPECT_EQ(vexa::newImage2dCommand(), nullptr);
    EXPECT_TRUE(messages().empty());
    answer(image3dAnswers(0, 2, 2, 0, 0));
    EXPECT_EQ(vexa::newImage3dCommand(), nullptr);
    answer(image3dAnswers(2, 2, 2, 12, 0)); // no such format
    EXPECT_EQ(vexa::newImage3dCommand(), nullptr);
    answer(image3dAnswers(2, 2, 2, 0, 5)); // no such content
    EXPECT_EQ(vexa::newImage3dCommand(), nullptr);
    answer(image3dAnswers(1 << 30, 1 << 30, 1 << 30, 7, 0)); // far too large
    EXPECT_EQ(vexa::newImage3dCommand(), nullptr);
    EXPECT_EQ(messages().size(), 4u);
    EXPECT_TRUE(vexa::dataListAll().empty());
}

TEST_F(NewData, AudioAndView3dHaveObjectsOfTheirOwn)
{
    DataRecord* audio = vexa::newAudioCommand();
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->kind, vexa::DATA_AUDIO);
    EXPECT_NE(dynamic_cast<vexa::NewAudioDatum*>(audio->audio.get()), nullptr);
    EXPECT_EQ(host.count(vexa::GuiRequest::OpenAudio), 1);

    DataRecord* view = vexa::newView3dCommand();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->kind, vexa::DATA_VIEW3D);
    int w = 0, h = 0, d = 0;
    view->kindObject()->reportSizes(w, h, d);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 100);
    EXPECT_EQ(d, 100);
    EXPECT_EQ(host.count(vexa::GuiRequest::OpenView3d), 1);

    host.windowsSucceed = false;
    EXPECT_EQ(vexa::newView3dCommand(), nullptr);
    EXPECT_EQ(messages().size(), 1u);
}

TEST_F(NewData, GraphHoldsTheDemonstrationCurve)
{
    DataRecord* r = vexa::newGraphCommand();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->kind, vexa::DATA_GRAPH);
    EXPECT_EQ(host.count(vexa::GuiRequest::OpenGraph), 1);
    vexa::GraphList* list = vexa::graphListFor(r->imageId);
    ASSERT_NE(list, nullptr);
    int found = list->forEach("graph", [](vexa::Graph& g) {
        ASSERT_EQ(g.seriesCount(), 1);
        const vexa::GraphSeries& s = g.series[0];
        ASSERT_EQ(s.count(), 1000);
        EXPECT_EQ(s.x[0], 0);
        EXPECT_DOUBLE_EQ(s.x[999], 6.28318530718);
        EXPECT_DOUBLE_EQ(s.y[500], std::cos(5 * 500 * 6.28318530718 / 999));
        EXPECT_TRUE(s.lineVisible);
        EXPECT_NEAR(g.yMax, 1, 1e-3);
        EXPECT_NEAR(g.yMin, -1, 1e-3);
    });
    EXPECT_EQ(found, 1);
    EXPECT_EQ(list->size(), 1);
}
