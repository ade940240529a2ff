// The processing commands run as tasks on data of the registry, their dialogs answered
// by the fake host after the test has set the bound values.
#include "processingtestsupport.h"

#include "processing/commandtable.h"
#include "processing/volumeops.h"
#include "support/tempdir.h"

#include <cmath>
#include <cstdint>
#include <filesystem>

using namespace vexa;
using namespace vexa::processing;

namespace {

class Commands : public vexa::testing::ProcessingFixture {
protected:
    int messages() const { return host.count(GuiRequest::MessageBox); }

    static void setPath(ParamBox& box, std::size_t index, const std::string& path)
    {
        ASSERT_LT(index, box.items.size());
        ASSERT_EQ(box.items[index].kind, PARAM_FILE);
        std::snprintf(static_cast<char*>(box.items[index].value), 300, "%s", path.c_str());
    }
};

using Bytes = std::vector<std::uint8_t>;

} // namespace

TEST_F(Commands, UnaryOperatorOpensADoubleImageNamedAfterItsCommand)
{
    DataRecord* in = image<std::uint8_t>(3, 2, TYPEDATA_U8, { 0, 1, 4, 9, 16, 25 });
    run(1106);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    const ImageDescriptor& im = *out[0]->image2d();
    EXPECT_EQ(im.width, 3);
    EXPECT_EQ(im.height, 2);
    EXPECT_EQ(im.typeData, TYPEDATA_F64);
    EXPECT_EQ(samplesOf<double>(out[0]), (std::vector<double> { 0, 1, 2, 3, 4, 5 }));
    EXPECT_EQ(out[0]->name, "Racine Carrée");
    EXPECT_EQ(samplesOf<std::uint8_t>(in), (Bytes { 0, 1, 4, 9, 16, 25 }));
    EXPECT_EQ(host.count(GuiRequest::ParamDialog), 0);
}

TEST_F(Commands, UnaryOperatorsReadScaledValuesAndTheShownSection)
{
    DataRecord* in = image<std::uint8_t>(2, 1, TYPEDATA_U8, { 1, 4 });
    in->image2d()->valueScaleOn = 1;
    in->image2d()->valueGain = 2;
    in->image2d()->valueOffset = 1;
    run(1103);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(samplesOf<double>(out[0]), (std::vector<double> { -3, -9 }));

    // A volume's window shows its FRONT section at the cursor (the middle slice).
    DataRecord* block = volume(2, 1, 3, TYPEDATA_S16);
    fill<std::int16_t>(block, [](int x, int, int z) { return 10 * z + x; });
    ASSERT_TRUE(showBlockSection(block, PLANE_FRONT, 1));
    dataActivate(block);
    run(1101);
    out = outputs({ in, out[0], block });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->image2d()->typeData, TYPEDATA_F64);
    EXPECT_EQ(samplesOf<double>(out[0]), (std::vector<double> { 10, 11 }));
}

TEST_F(Commands, PowerAsksItsExponentAndRemembersIt)
{
    DataRecord* in = image<double>(2, 1, TYPEDATA_F64, { 0, 3 });
    answer(); // the default exponent 0
    run(1110);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(samplesOf<double>(out[0]), (std::vector<double> { 1, 1 }));
    EXPECT_EQ(boxes.back(), "Puissance|");

    answer([](ParamBox& box) { setItem(box, 0, 2.0); });
    run(1110);
    out = outputs({ in });
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(samplesOf<double>(out[1]), (std::vector<double> { 0, 9 }));
    EXPECT_EQ(processingSettings().power2d, 2.0);
    // The volume power keeps its own value.
    EXPECT_EQ(processingSettings().power3d, 0.0);

    run(1110); // cancelled
    EXPECT_EQ(outputs({ in }).size(), 2u);
}

TEST_F(Commands, BinaryOperandsComeMostRecentlyActivatedFirst)
{
    DataRecord* a = image<double>(2, 1, TYPEDATA_F64, { 10, 20 });
    DataRecord* b = image<std::int16_t>(2, 1, TYPEDATA_S16, { 1, 0 });
    run(1122);
    auto out = outputs({ a, b });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(samplesOf<double>(out[0]), (std::vector<double> { -9, -20 }));

    dataActivate(a);
    run(1124);
    out = outputs({ a, b });
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(samplesOf<double>(out[1]), (std::vector<double> { 10, 0 })); // 20 / 0 gives 0
}

TEST_F(Commands, BinaryRefusesOperandsOfDifferentSizes)
{
    DataRecord* a = image<std::uint8_t>(2, 1, TYPEDATA_U8, { 1, 2 });
    DataRecord* b = image<std::uint8_t>(1, 2, TYPEDATA_U8, { 1, 2 });
    DataRecord* c = image<std::uint8_t>(1, 1, TYPEDATA_U8, { 9 });
    run(1121);
    EXPECT_TRUE(outputs({ a, b, c }).empty());
    EXPECT_EQ(messages(), 1);
}

TEST_F(Commands, MissingOperandsEndWithoutResultOrMessage)
{
    for (int command : { 1101, 1106, 1121, 1128, 1141, 1150, 1171, 1191, 1221, 1224, 1051 })
        run(command);
    EXPECT_TRUE(dataListAll().empty());
    DataRecord* one = image<std::uint8_t>(1, 1, TYPEDATA_U8, { 1 });
    run(1123);
    EXPECT_EQ(outputs({ one }).size(), 0u);
    EXPECT_EQ(messages(), 0);
}

TEST_F(Commands, EveryTableCommandWithoutInputsEndsQuietly)
{
    int started = 0;
    for (const ProcessingCommand& entry : processingCommandTable())
        if (entry.runner) {
            run(entry.id);
            ++started;
        }
    EXPECT_GT(started, 50);
    EXPECT_TRUE(dataListAll().empty());
    EXPECT_EQ(messages(), 0);
}

TEST_F(Commands, AngularSubtractionMarksItsResultAsDirections)
{
    DataRecord* a = image<double>(2, 1, TYPEDATA_F64, { 3.0, 1.0 });
    DataRecord* b = image<double>(2, 1, TYPEDATA_F64, { 0.1, 1.0 });
    run(1128);
    auto out = outputs({ a, b });
    ASSERT_EQ(out.size(), 1u);
    std::vector<double> values = samplesOf<double>(out[0]);
    EXPECT_NEAR(values[0], 0.2416, 1e-4);
    EXPECT_EQ(values[1], 0);
    EXPECT_EQ(out[0]->image2d()->valueClass, CLASS_DIRECTION);
}

TEST_F(Commands, QuarterTurnAndExchangeKeepTheSourceType)
{
    DataRecord* in = image<std::uint8_t>(3, 2, TYPEDATA_U8, { 1, 2, 3, 4, 5, 6 });
    run(1143);
    dataActivate(in);
    run(1151);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0]->image2d()->width, 2);
    EXPECT_EQ(out[0]->image2d()->height, 3);
    EXPECT_EQ(out[0]->image2d()->typeData, TYPEDATA_U8);
    EXPECT_EQ(samplesOf<std::uint8_t>(out[0]), (Bytes { 3, 6, 2, 5, 1, 4 }));
    EXPECT_EQ(out[1]->image2d()->width, 3);
    EXPECT_EQ(samplesOf<std::uint8_t>(out[1]), (Bytes { 1, 3, 5, 2, 4, 6 }));
    EXPECT_EQ(samplesOf<std::uint8_t>(in), (Bytes { 1, 2, 3, 4, 5, 6 }));
}

TEST_F(Commands, ResizeStartsFromTheSourceSize)
{
    DataRecord* in = image<std::uint16_t>(3, 2, TYPEDATA_U16, { 1, 2, 3, 4, 5, 6 });
    int shownWidth = 0, shownHeight = 0;
    answer([&](ParamBox& box) {
        shownWidth = *static_cast<int*>(box.items[0].value);
        shownHeight = *static_cast<int*>(box.items[1].value);
        setItem(box, 0, 6);
        setItem(box, 1, 1);
    });
    run(1147);
    EXPECT_EQ(shownWidth, 3);
    EXPECT_EQ(shownHeight, 2);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->image2d()->typeData, TYPEDATA_U16);
    EXPECT_EQ(out[0]->image2d()->width, 6);
    EXPECT_EQ(out[0]->image2d()->height, 1);

    answer([](ParamBox& box) { setItem(box, 0, 0); });
    run(1147);
    EXPECT_EQ(outputs({ in }).size(), 1u);
    EXPECT_EQ(messages(), 1);
}

TEST_F(Commands, ReframeRemembersItsMargins)
{
    DataRecord* in = image<std::uint8_t>(3, 2, TYPEDATA_U8, { 1, 2, 3, 4, 5, 6 });
    answer([](ParamBox& box) {
        setItem(box, 1, 1); // Gauche
        setItem(box, 4, 1); // Bas
    });
    run(1148);
    EXPECT_EQ(boxes.back(), "Recadrage|Gauche|Droite|Haut|Bas|");
    dataActivate(in);
    answer();
    run(1148);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 2u);
    for (DataRecord* r : out) {
        EXPECT_EQ(r->image2d()->width, 2);
        EXPECT_EQ(r->image2d()->height, 3);
        EXPECT_EQ(samplesOf<std::uint8_t>(r), (Bytes { 2, 3, 5, 6, 0, 0 }));
    }
    ProcessingSettings s = processingSettings();
    EXPECT_EQ(s.reframeLeft, 1);
    EXPECT_EQ(s.reframeBottom, 1);
}

TEST_F(Commands, FreeRotationByZeroGrowsByOne)
{
    DataRecord* in = image<std::int32_t>(3, 2, TYPEDATA_S32, { -1, 2, -3, 4, -5, 6 });
    answer();
    run(1146);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->image2d()->width, 4);
    EXPECT_EQ(out[0]->image2d()->height, 3);
    EXPECT_EQ(out[0]->image2d()->typeData, TYPEDATA_S32);
    EXPECT_EQ(samplesOf<std::int32_t>(out[0]),
        (std::vector<std::int32_t> { -1, 2, -3, 0, 4, -5, 6, 0, 0, 0, 0, 0 }));
}

TEST_F(Commands, SplitOpensOneImagePerTileColumnByColumn)
{
    DataRecord* in = image<std::uint8_t>(4, 2, TYPEDATA_U8, { 1, 2, 3, 4, 5, 6, 7, 8 });
    answer([](ParamBox& box) {
        setItem(box, 1, 1); // 2 columns
        setItem(box, 4, 1); // 2 rows
    });
    run(1152);
    EXPECT_EQ(boxes.back(), "Découpage X|1,2,3,4,5||Découpage Y|1,2,3,4,5||Bordure X|Bordure Y||");
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 4u);
    const Bytes expected[4] = { { 1, 2 }, { 5, 6 }, { 3, 4 }, { 7, 8 } };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(out[std::size_t(i)]->image2d()->width, 2);
        EXPECT_EQ(out[std::size_t(i)]->image2d()->height, 1);
        EXPECT_EQ(samplesOf<std::uint8_t>(out[std::size_t(i)]), expected[i]) << i;
    }
}

TEST_F(Commands, SplitOfATooSmallImageOpensNothing)
{
    DataRecord* in = image<std::uint8_t>(1, 1, TYPEDATA_U8, { 1 });
    answer([](ParamBox& box) { setItem(box, 1, 4); });
    run(1152);
    EXPECT_TRUE(outputs({ in }).empty());
    EXPECT_EQ(messages(), 1);
}

TEST_F(Commands, MergeOnlyAsksItsDialog)
{
    DataRecord* in = image<std::uint8_t>(1, 1, TYPEDATA_U8, { 1 });
    answer([](ParamBox& box) { setItem(box, 6, 3); });
    run(1153);
    EXPECT_TRUE(outputs({ in }).empty());
    EXPECT_EQ(host.count(GuiRequest::ParamDialog), 1);
    EXPECT_EQ(processingSettings().borderX, 3);
}

TEST_F(Commands, CancelledDialogsOpenNothing)
{
    DataRecord* im = image<std::uint8_t>(2, 2, TYPEDATA_U8, { 1, 2, 3, 4 });
    DataRecord* a = volume(2, 2, 2, TYPEDATA_U8);
    DataRecord* b = volume(2, 2, 2, TYPEDATA_U8);
    for (int command : { 1110, 1146, 1147, 1148, 1152, 1171, 1180, 1191, 1211, 1221, 1224, 1051 })
        run(command);
    EXPECT_TRUE(outputs({ im, a, b }).empty());
    EXPECT_EQ(messages(), 0);
}

TEST_F(Commands, VolumeUnaryKeepsTheInputType)
{
    DataRecord* in = volume(2, 2, 1, TYPEDATA_U8);
    fill<std::uint8_t>(in, [](int x, int y, int) { return (x + 2 * y) * (x + 2 * y); });
    answer();
    run(1176);
    EXPECT_EQ(boxes.back(), "Sortie|Mémoire,Fichier|Fichier|");
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    ASSERT_TRUE(out[0]->block());
    EXPECT_EQ(out[0]->block()->typeData, TYPEDATA_U8);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(at<std::uint8_t>(out[0], i % 2, i / 2, 0), i);
}

TEST_F(Commands, VolumeResultCanGoToAFile)
{
    vexatest::TempDir dir("vexa-processing");
    const std::string path = dir.file("volume.gdr");
    DataRecord* in = volume(3, 2, 2, TYPEDATA_S16);
    fill<std::int16_t>(in, [](int x, int y, int z) { return -(x + 10 * y + 100 * z); });
    answer([&](ParamBox& box) {
        setItem(box, 1, 1);
        setPath(box, 2, path);
    });
    run(1171);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    ASSERT_TRUE(out[0]->block());
    EXPECT_EQ(out[0]->block()->storage, STORAGE_FILE);
    EXPECT_TRUE(std::filesystem::exists(path));
    double* slice = static_cast<double*>(dozDataGetFront(out[0]->blockId, 1, TYPEDATA_F64));
    ASSERT_TRUE(slice);
    EXPECT_EQ(slice[5], 112);
    dozDataFree(slice);
    EXPECT_STREQ(processingSettings().unary3d.path, path.c_str());
    dataResetRegistry();
}

TEST_F(Commands, VolumeFileOutputWithoutNameIsRefused)
{
    DataRecord* in = volume(2, 2, 2, TYPEDATA_U8);
    answer([](ParamBox& box) { setItem(box, 0, 1); });
    run(1221);
    EXPECT_TRUE(outputs({ in }).empty());
    EXPECT_EQ(messages(), 1);
}

TEST_F(Commands, VolumeBinaryChoosesItsOutputType)
{
    DataRecord* a = volume(2, 1, 1, TYPEDATA_U8);
    DataRecord* b = volume(2, 1, 1, TYPEDATA_S16);
    fill<std::uint8_t>(a, [](int x, int, int) { return 10 + x; });
    fill<std::int16_t>(b, [](int x, int, int) { return 100 * x - 50; });
    dataActivate(a);
    dataActivate(b); // first operand
    answer(); // type of the first volume
    run(1192);
    answer([](ParamBox& box) {
        setItem(box, 5, 2); // "Autre"
        setItem(box, 8, 2); // 16 bits unsigned
    });
    run(1192);
    auto out = outputs({ a, b });
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0]->block()->typeData, TYPEDATA_S16);
    EXPECT_EQ(at<std::int16_t>(out[0], 0, 0, 0), -60);
    EXPECT_EQ(at<std::int16_t>(out[0], 1, 0, 0), 39);
    EXPECT_EQ(out[1]->block()->typeData, TYPEDATA_U16);
    EXPECT_EQ(at<std::uint16_t>(out[1], 0, 0, 0), 0); // clamped
    EXPECT_EQ(at<std::uint16_t>(out[1], 1, 0, 0), 39);
}

TEST_F(Commands, VolumeBinaryRefusesVolumesOfDifferentSizes)
{
    DataRecord* a = volume(2, 2, 2, TYPEDATA_U8);
    DataRecord* b = volume(2, 2, 3, TYPEDATA_U8);
    answer();
    run(1191);
    EXPECT_TRUE(outputs({ a, b }).empty());
    EXPECT_EQ(messages(), 1);
}

TEST_F(Commands, NaryAddsTheCountedVolumes)
{
    DataRecord* v[3];
    for (int i = 0; i < 3; ++i) {
        v[i] = volume(2, 1, 2, i == 2 ? TYPEDATA_S32 : TYPEDATA_U8);
        if (i == 2)
            fill<std::int32_t>(v[i], [](int x, int, int z) { return x + 10 * z; });
        else
            fill<std::uint8_t>(v[i], [](int x, int, int z) { return x + 10 * z; });
        dataActivate(v[i]);
    }
    answer([](ParamBox& box) { setItem(box, 0, 3); });
    run(1211);
    EXPECT_EQ(boxes.back(),
        "Nombre d'images 3D||Sortie|Mémoire,Fichier|Fichier||Format|Image 3D,Autre||"
        "N° Image 3D|Autre|8 bits - Non signé,8 bits - Signé,16 bits - Non signé,"
        "16 bits - Signé,32 bits - Non signé,32 bits - Signé,32 bits - Flottant,"
        "64 bits - Flottant||");
    auto out = outputs({ v[0], v[1], v[2] });
    ASSERT_EQ(out.size(), 1u);
    // Number 0 is the first input: the most recently activated, of type S32.
    EXPECT_EQ(out[0]->block()->typeData, TYPEDATA_S32);
    EXPECT_EQ(at<std::int32_t>(out[0], 1, 0, 1), 33);

    // A number outside the inputs gives doubles.
    answer([](ParamBox& box) { setItem(box, 9, 7); });
    run(1211);
    out = outputs({ v[0], v[1], v[2] });
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1]->block()->typeData, TYPEDATA_F64);
    EXPECT_EQ(at<double>(out[1], 1, 0, 1), 33);
}

TEST_F(Commands, NaryOfOneVolumeCopiesAndOfTooManyEndsWithoutResult)
{
    DataRecord* a = volume(2, 1, 1, TYPEDATA_U8);
    fill<std::uint8_t>(a, [](int x, int, int) { return 7 + x; });
    answer(); // count 1 at start
    run(1215);
    auto out = outputs({ a });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(at<std::uint8_t>(out[0], 0, 0, 0), 7);
    EXPECT_EQ(at<std::uint8_t>(out[0], 1, 0, 0), 8);

    answer([](ParamBox& box) { setItem(box, 0, 5); });
    run(1215);
    answer([](ParamBox& box) { setItem(box, 0, 0); });
    run(1215);
    EXPECT_EQ(outputs({ a }).size(), 1u);
}

TEST_F(Commands, VolumeMirrorAndRotationThroughTheirDialogs)
{
    DataRecord* in = volume(3, 2, 1, TYPEDATA_U8);
    fill<std::uint8_t>(in, [](int x, int y, int) { return 1 + x + 3 * y; });
    answer();
    run(1221);
    dataActivate(in);
    answer([](ParamBox& box) {
        setItem(box, 0, int(AXIS_OZ));
        setItem(box, 1, int(ANGLE_PLUS_90));
    });
    run(1224);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(at<std::uint8_t>(out[0], 0, 0, 0), 3);
    EXPECT_EQ(at<std::uint8_t>(out[0], 2, 1, 0), 4);
    const BlockDescriptor& turned = *out[1]->block();
    EXPECT_EQ(turned.dimX, 2);
    EXPECT_EQ(turned.dimY, 3);
    // Rows (1 2 3) (4 5 6) turned: (4 1) (5 2) (6 3).
    EXPECT_EQ(at<std::uint8_t>(out[1], 0, 0, 0), 4);
    EXPECT_EQ(at<std::uint8_t>(out[1], 1, 0, 0), 1);
    EXPECT_EQ(at<std::uint8_t>(out[1], 1, 2, 0), 3);
}

TEST_F(Commands, ColourVolumesAreNotRotated)
{
    DataRecord* in = volume(2, 2, 2, TYPEDATA_RGBA);
    answer();
    run(1224);
    EXPECT_TRUE(outputs({ in }).empty());
    EXPECT_EQ(messages(), 1);
}

TEST_F(Commands, DecimationByTwoAtStart)
{
    DataRecord* in = volume(4, 2, 2, TYPEDATA_U8);
    fill<std::uint8_t>(in, [](int x, int, int z) { return 4 * x + 8 * z; });
    answer();
    run(1051);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    const BlockDescriptor& b = *out[0]->block();
    EXPECT_EQ(b.dimX, 2);
    EXPECT_EQ(b.dimY, 1);
    EXPECT_EQ(b.dimZ, 1);
    EXPECT_EQ(at<std::uint8_t>(out[0], 0, 0, 0), 6); // (0 + 4 + 8 + 12) / 4
    EXPECT_EQ(at<std::uint8_t>(out[0], 1, 0, 0), 14);

    answer([](ParamBox& box) { setItem(box, 0, 0); });
    run(1051);
    EXPECT_EQ(outputs({ in }).size(), 1u);
    EXPECT_EQ(messages(), 1);
}

TEST_F(Commands, SubBlockExtractionKeepsItsCornersForBlocksOfTheSameSizes)
{
    DataRecord* in = volume(4, 3, 5, TYPEDATA_U8);
    fill<std::uint8_t>(in, [](int x, int y, int z) { return x + 10 * y + 50 * z; });
    answer([](ParamBox& box) {
        // Starts from the whole block: (0, 0, 0) - (3, 2, 4); item 3 ends the line.
        EXPECT_EQ(*static_cast<int*>(box.items[4].value), 3);
        EXPECT_EQ(*static_cast<int*>(box.items[6].value), 4);
        setItem(box, 0, 1);
        setItem(box, 2, 2);
        setItem(box, 4, 2);
        setItem(box, 5, 1);
    });
    run(92);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    const BlockDescriptor& b = *out[0]->block();
    EXPECT_EQ(b.dimX, 2);
    EXPECT_EQ(b.dimY, 2);
    EXPECT_EQ(b.dimZ, 3);
    EXPECT_EQ(at<std::uint8_t>(out[0], 0, 0, 0), 1 + 100);
    EXPECT_EQ(at<std::uint8_t>(out[0], 1, 1, 2), 2 + 10 + 200);

    // Same sizes: the corners come back; reversed corners are refused.
    dataActivate(in);
    answer([](ParamBox& box) {
        EXPECT_EQ(*static_cast<int*>(box.items[0].value), 1);
        setItem(box, 4, 0);
    });
    run(92);
    EXPECT_EQ(outputs({ in }).size(), 1u);
    EXPECT_EQ(messages(), 1);

    // Other sizes start again from the whole block.
    DataRecord* other = volume(2, 2, 2, TYPEDATA_U8);
    dataActivate(other);
    answer([](ParamBox& box) {
        EXPECT_EQ(*static_cast<int*>(box.items[0].value), 0);
        EXPECT_EQ(*static_cast<int*>(box.items[4].value), 1);
    });
    run(92);
    EXPECT_EQ(outputs({ in, other }).size(), 2u);
}

TEST_F(Commands, RectangleExtractionRefusesCornersOutsideTheImage)
{
    DataRecord* in = image<std::uint8_t>(3, 2, TYPEDATA_U8, { 1, 2, 3, 4, 5, 6 });
    answer([](ParamBox& box) {
        setItem(box, 0, 1);
        setItem(box, 4, 1);
    });
    run(91);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->image2d()->width, 2);
    EXPECT_EQ(samplesOf<std::uint8_t>(out[0]), (Bytes { 2, 3, 5, 6 }));

    dataActivate(in);
    answer([](ParamBox& box) { setItem(box, 4, 2); });
    run(91);
    EXPECT_EQ(outputs({ in }).size(), 1u);
    EXPECT_EQ(messages(), 1);
}

TEST_F(Commands, BlendingMixesTheShownColoursStaticallyOrSectionBySection)
{
    DataRecord* a = image<std::uint8_t>(2, 1, TYPEDATA_U8, { 0, 100 });
    DataRecord* b = image<std::uint8_t>(2, 1, TYPEDATA_U8, { 200, 100 });
    dataActivate(a); // the first operand
    answer([](ParamBox& box) { setItem(box, 0, 0.25); });
    run(1013);
    auto out = outputs({ a, b });
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0]->image2d()->typeData, TYPEDATA_RGBA);
    // Red, green, blue, alpha bytes: grey 50 and grey 100, opaque.
    EXPECT_EQ(samplesOf<std::uint32_t>(out[0]),
        (std::vector<std::uint32_t> { 0xFF323232u, 0xFF646464u }));

    dataActivate(a);
    answer([](ParamBox& box) { setItem(box, 0, 3); });
    run(1014);
    out = outputs({ a, b, out[0] });
    ASSERT_EQ(out.size(), 1u);
    ASSERT_EQ(out[0]->block()->dimZ, 3);
    EXPECT_EQ(at<std::uint32_t>(out[0], 0, 0, 0) & 0xFF, 0u);
    EXPECT_EQ(at<std::uint32_t>(out[0], 0, 0, 1) & 0xFF, 100u);
    EXPECT_EQ(at<std::uint32_t>(out[0], 0, 0, 2) & 0xFF, 200u);

    // Vector: the components seen along 0 and 90 degrees.
    dataActivate(a);
    answer([](ParamBox& box) { setItem(box, 0, 2); });
    run(1015);
    auto vector = outputs({ a, b, out[0] });
    ASSERT_EQ(vector.size(), 2u);
    EXPECT_DOUBLE_EQ(at<double>(vector[1], 0, 0, 0), 0.0);
    EXPECT_NEAR(at<double>(vector[1], 0, 0, 1), 200.0, 1e-9);

    DataRecord* small = image<std::uint8_t>(1, 1, TYPEDATA_U8, { 0 });
    answer();
    run(1013);
    EXPECT_EQ(messages(), 1); // sizes differ
    (void)small;
}

TEST_F(Commands, VolumeRescaleAndSmoothing)
{
    DataRecord* in = volume(4, 2, 2, TYPEDATA_F64);
    fill<double>(in, [](int x, int, int z) { return x + 10 * z; });
    answer([](ParamBox& box) {
        EXPECT_EQ(*static_cast<int*>(box.items[0].value), 4); // starts from the source
        setItem(box, 0, 2);
        setItem(box, 1, 1);
        setItem(box, 2, 1);
    });
    run(1052);
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]->block()->dimX, 2);
    EXPECT_EQ(at<double>(out[0], 1, 0, 0), 2.0);

    DataRecord* flat = volume(5, 4, 3, TYPEDATA_F64);
    fill<double>(flat, [](int, int, int) { return 7.0; });
    answer();
    run(1053);
    auto smoothed = outputs({ in, out[0], flat });
    ASSERT_EQ(smoothed.size(), 1u);
    EXPECT_NEAR(at<double>(smoothed[0], 0, 0, 0), 7.0, 1e-6);
    EXPECT_NEAR(at<double>(smoothed[0], 4, 3, 2), 7.0, 1e-6);

    dataActivate(flat);
    answer([](ParamBox& box) { setItem(box, 0, 0.0); });
    run(1053);
    EXPECT_EQ(outputs({ in, out[0], flat }).size(), 1u);
    EXPECT_EQ(messages(), 1);
}

TEST_F(Commands, VolumeSplitThenMergeGivesTheVolumeBack)
{
    DataRecord* in = volume(5, 4, 3, TYPEDATA_S16);
    fill<std::int16_t>(in, [](int x, int y, int z) { return x + 10 * y + 100 * z; });
    answer([](ParamBox& box) {
        setItem(box, 1, 1); // two parts along x
        setItem(box, 8, 1); // overlapping by one
    });
    run(1232);
    auto parts = outputs({ in });
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0]->block()->dimX, 3); // columns 0..2
    EXPECT_EQ(parts[1]->block()->dimX, 4); // columns 1..4
    EXPECT_EQ(at<std::int16_t>(parts[1], 0, 3, 2), 1 + 30 + 200);

    answer(); // the same counts and borders
    run(1233);
    auto merged = outputs({ in, parts[0], parts[1] });
    ASSERT_EQ(merged.size(), 1u);
    const BlockDescriptor& b = *merged[0]->block();
    ASSERT_EQ(b.dimX, 5);
    EXPECT_EQ(b.dimY, 4);
    EXPECT_EQ(b.dimZ, 3);
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(at<std::int16_t>(merged[0], x, 3, 2), x + 30 + 200) << x;

    // Three parts asked of two volumes: nothing made.
    answer([](ParamBox& box) { setItem(box, 1, 2); });
    run(1233);
    EXPECT_EQ(outputs({ in, parts[0], parts[1], merged[0] }).size(), 0u);
}

TEST(VolumeParts, MergedLengthUndoesTheSplitRule)
{
    EXPECT_EQ(mergedLength({ 50, 50 }, 0), 100);
    EXPECT_EQ(mergedLength({ 55, 55 }, 5), 100);
    EXPECT_EQ(mergedLength({ 3, 4 }, 1), 5);
    EXPECT_EQ(mergedLength({ 10, 3 }, 0), 0); // no length splits that way
    EXPECT_EQ(mergedLength({}, 0), 0);
}

TEST(ProcessingCommands, OtherIdentifiersAreNotOurs)
{
    for (int id : { 0, 1100, 1111, 1129, 1149, 1219 }) {
        EXPECT_FALSE(isProcessingCommand(id)) << id;
        EXPECT_FALSE(runProcessingCommand(id, nullptr)) << id;
    }
    EXPECT_EQ(taskRunningWorkers(), 0);
}

TEST(ProcessingCommands, OtherListFollowsTheTypeListOrder)
{
    const int expected[8] = { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_U16, TYPEDATA_S16, TYPEDATA_U32,
        TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64 };
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(otherListType(i), expected[i]);
    EXPECT_EQ(otherListType(-1), 0);
    EXPECT_EQ(otherListType(8), 0);
}
