// The shipped sample plug-in, loaded from the build and driven like a user would:
// its menu in "Traitement 2D", a command on the active image, the result image.
#include "../tasks/tasktestsupport.h"

#include "data/datarecord.h"
#include "plugins/libraries.h"

#include <cstring>

using namespace vexa;
using namespace vexa::plugins;

namespace {

const std::string kSamples = std::string(VEXA_BIN_DIR) + "/plugins/vexa_exemples.so";

class SamplePlugin : public vexa::testing::TaskFixture {
protected:
    void SetUp() override
    {
        TaskFixture::SetUp();
        ASSERT_EQ(loadLibrary(kSamples, true), kLoaded);
    }
    void TearDown() override
    {
        unloadAllLibraries();
        TaskFixture::TearDown();
    }
    int commandId(const std::string& text)
    {
        auto menu = menus::MenuNode::subMenu("Traitement 2D");
        appendInsertedMenus(*menu, MenuLocation::Menu2d);
        for (const auto& popup : menu->children)
            for (const auto& item : popup->children)
                if (item->text == text)
                    return item->id;
        return 0;
    }
    DataRecord* input()
    {
        DataRecord* record = newImage(4, 3);
        unsigned char* p = record->image2d()->samples.bytes();
        for (int i = 0; i < 12; ++i)
            p[i] = static_cast<unsigned char>(i * 10);
        dataActivate(record);
        return record;
    }
    DataRecord* outputBesides(DataRecord* in)
    {
        for (DataRecord* record : dataListAll())
            if (record != in && record->image2d())
                return record;
        return nullptr;
    }
};

} // namespace

TEST_F(SamplePlugin, OffersItsCommandsInTheImageMenu)
{
    EXPECT_EQ(libraryLevel(kSamples), 2);
    EXPECT_NE(commandId("Négatif"), 0);
    EXPECT_NE(commandId("Seuillage..."), 0);
    EXPECT_NE(commandId("Statistiques"), 0);
}

TEST_F(SamplePlugin, NegativeMakesAMirroredImageOfTheSameType)
{
    DataRecord* in = input();
    ASSERT_TRUE(runLibraryCommand(commandId("Négatif")));
    ASSERT_TRUE(waitForWorkers());
    host.processPending();
    DataRecord* out = outputBesides(in);
    ASSERT_TRUE(out);
    const ImageDescriptor& image = *out->image2d();
    ASSERT_EQ(image.width, 4);
    ASSERT_EQ(image.height, 3);
    EXPECT_EQ(image.typeData, TYPEDATA_U8);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(int(image.samples.bytes()[i]), 110 - i * 10) << i;
}

TEST_F(SamplePlugin, ThresholdAsksItsLevelAndStatisticsGoToTheLog)
{
    DataRecord* in = input();
    // The dialog is cancelled: nothing is made.
    ASSERT_TRUE(runLibraryCommand(commandId("Seuillage...")));
    ASSERT_TRUE(waitForWorkers());
    EXPECT_EQ(outputBesides(in), nullptr);

    ASSERT_TRUE(runLibraryCommand(commandId("Statistiques")));
    ASSERT_TRUE(waitForWorkers());
    EXPECT_TRUE(logHas(0, "4 x 3 : min 0, max 110, moyenne 55, écart type 34.5205")) << [] {
        std::string all;
        for (const std::string& line : logLines(0))
            all += line + "\n";
        return all;
    }();
}
