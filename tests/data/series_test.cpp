// The image series command end to end: a destination in a folder that does not exist
// yet, the volume opened at the end, and failures that say why.
#include "data/datasavebmp.h"
#include "data/registry.h"
#include "data/series.h"
#include "params/fileselector.h"
#include "params/parambox.h"
#include "support/fakehost.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace {

class SeriesCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.ok());
        vexa::installHost(&host);
        vexa::dataResetRegistry();
        vexa::SeriesSettings fresh;
        fresh.destination = vexa::seriesDefaultDestination();
        vexa::seriesRemember(fresh);
        vexa::params::setParamDialogPresenter([this](ParamBox* box) {
            std::vector<ParamItem*> bound;
            for (ParamItem& item : box->items)
                if (item.kind != PARAM_TITLE && item.kind != PARAM_NEWLINE)
                    bound.push_back(&item);
            destinationChooser
                = bound.at(0)->fileSelector ? bound.at(0)->fileSelector->options : -1;
            // Destination, root, extension, digits, first, last.
            std::snprintf(static_cast<char*>(bound.at(0)->value), PARAM_PATH_BUFFER, "%s",
                destination.c_str());
            std::snprintf(
                static_cast<char*>(bound.at(1)->value), PARAM_STRING_BUFFER, "%s", root.c_str());
            *static_cast<std::int32_t*>(bound.at(4)->value) = 0;
            *static_cast<std::int32_t*>(bound.at(5)->value) = 2;
            return 1;
        });
    }
    void TearDown() override
    {
        vexa::params::setParamDialogPresenter({});
        vexa::dataResetRegistry();
        vexa::installHost(nullptr);
    }

    std::vector<std::string> messages() const
    {
        std::vector<std::string> out;
        for (const auto& r : host.requests())
            if (r.code == vexa::GuiRequest::MessageBox)
                out.push_back(r.text);
        return out;
    }

    vexa::FakeHost host;
    vexatest::TempDir folder { "vexa-series" };
    std::string destination, root;
    int destinationChooser = 0;
};

} // namespace

TEST_F(SeriesCommand, ToANewFolderWritesTheDocumentAndOpensTheVolume)
{
    std::filesystem::create_directories(folder.file("src"));
    std::vector<std::uint8_t> px(6, 0);
    for (int i = 0; i < 3; ++i) {
        px.assign(6, std::uint8_t(10 * i));
        char name[32];
        std::snprintf(name, sizeof name, "src/img_%.4d.bmp", i);
        ASSERT_TRUE(vexa::writeBmpGrey(folder.file(name), px.data(), 3, 2));
    }
    destination = folder.file("nouveau/dossier/serie.xml");
    root = folder.file("src/img_");
    ASSERT_TRUE(vexa::seriesAssemblyCommand());
    EXPECT_TRUE(messages().empty());
    // The chooser of the destination is one that names a new file.
    EXPECT_TRUE(destinationChooser > 0 && (destinationChooser & FileSelector::kSaveName));
    EXPECT_TRUE(std::filesystem::is_regular_file(destination));
    const std::vector<vexa::DataRecord*> open = vexa::dataListAll();
    ASSERT_EQ(open.size(), 1u);
    ASSERT_NE(open[0]->block(), nullptr);
    EXPECT_EQ(open[0]->block()->dimX, 3);
    EXPECT_EQ(open[0]->block()->dimZ, 3);
}

TEST_F(SeriesCommand, FailuresSayWhyAndOpenNothing)
{
    // No file at the root: the box names the files looked for.
    destination = folder.file("serie.xml");
    root = folder.file("absent/img_");
    EXPECT_FALSE(vexa::seriesAssemblyCommand());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].find("Erreur|Aucun fichier"), std::string::npos);
    EXPECT_NE(messages()[0].find(folder.file("absent/img_0000.bmp")), std::string::npos);

    // A folder that cannot be made is named; nothing is written or opened.
    std::filesystem::create_directories(folder.file("src"));
    std::vector<std::uint8_t> px(4, 7);
    ASSERT_TRUE(vexa::writeBmpGrey(folder.file("src/img_0001.bmp"), px.data(), 2, 2));
    root = folder.file("src/img_");
    {
        std::ofstream(folder.file("fichier")) << "x";
    }
    destination = folder.file("fichier/serie.xml");
    EXPECT_FALSE(vexa::seriesAssemblyCommand());
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_NE(messages()[1].find("Impossible de créer le dossier"), std::string::npos);
    EXPECT_TRUE(vexa::dataListAll().empty());
}
