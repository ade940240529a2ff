// Batch files run headless: parsing with line numbers, a volume opened, a command run
// with its box answered by labels, the result saved, and the first failure named.
#include "main/batch.h"
#include "main/corestart.h"

#include "data/dataopen.h"
#include "data/registry.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

using namespace vexa;
namespace fs = std::filesystem;

namespace {

class Batch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.ok());
        std::ofstream(dir / "vexa.xml") << "<?xml version=\"1.0\"?>\n<CONFIG/>\n";
        CoreStart start;
        start.programDir = dir.string();
        start.createInterface = [this]() -> Host* { return &host; };
        coreStart(start);
        // A 5 x 3 x 2 volume of U8 samples 0..29.
        std::ofstream volume(dir / "cube.nrrd", std::ios::binary);
        volume << "NRRD0004\ntype: uint8\ndimension: 3\nsizes: 5 3 2\nencoding: raw\n\n";
        for (int i = 0; i < 30; ++i)
            volume.put(static_cast<char>(i));
    }
    void TearDown() override
    {
        coreStop({ [this] { host.pump(); }, std::chrono::seconds(30), {} });
    }

    batch::BatchResult run(const std::string& text)
    {
        std::vector<batch::BatchLine> lines;
        std::string error;
        if (!batch::parseBatch(text, lines, error))
            return { false, 0, error };
        return batch::runBatch(lines, host, {});
    }

    vexatest::TempDir temp { "vexa-batch" };
    fs::path dir { temp.path() };
    batch::BatchHost host;
};

TEST(BatchParse, KeywordsCommentsAndErrorsByLine)
{
    std::vector<batch::BatchLine> lines;
    std::string error;
    ASSERT_TRUE(
        batch::parseBatch("# titre\n\nOUVRIR  a b.nrrd \r\nvaleur Seuil = 3\n", lines, error));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].number, 3);
    EXPECT_EQ(lines[0].keyword, "ouvrir");
    EXPECT_EQ(lines[0].argument, "a b.nrrd");
    EXPECT_FALSE(batch::parseBatch("ouvrir x\nlancer y\n", lines, error));
    EXPECT_EQ(error, "Ligne 2 : instruction inconnue « lancer »");
    EXPECT_FALSE(batch::parseBatch("sauver\n", lines, error));
    EXPECT_FALSE(batch::parseBatch("valeur Seuil 3\n", lines, error));
}

TEST_F(Batch, OpensRunsACommandAndSavesItsResult)
{
    const fs::path out = dir / "racine.nrrd";
    const auto result = run("ouvrir " + (dir / "cube.nrrd").string()
        + "\ncommande Racine Carrée\nsauver " + out.string() + "\n");
    ASSERT_TRUE(result.ok) << result.message;
    std::string reason;
    DataRecord* saved = dataOpenFile(out.string(), &reason);
    ASSERT_NE(saved, nullptr) << reason;
    ASSERT_NE(saved->block(), nullptr);
    EXPECT_EQ(saved->block()->dimX, 5);
    EXPECT_EQ(saved->block()->dimY, 3);
    EXPECT_EQ(saved->block()->dimZ, 2);
    std::ifstream written(out, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(written)), {});
    // The square roots of 0..29, kept in the datum's own type.
    const std::string samples = text.substr(text.find("\n\n") + 2);
    ASSERT_EQ(samples.size(), 30u);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(static_cast<unsigned char>(samples[i]), static_cast<int>(std::sqrt(i))) << i;
}

TEST_F(Batch, ListsAndFilesOfABoxAreAnsweredByTheirLabels)
{
    const fs::path out = dir / "racine.gdr";
    const auto result = run("ouvrir " + (dir / "cube.nrrd").string()
        + "\nvaleur Sortie = Fichier\nvaleur Fichier = " + out.string()
        + "\ncommande Traitement 3D > Racine Carrée\n");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_TRUE(fs::exists(out));
}

TEST_F(Batch, FirstFailureStopsTheRunAndNamesItsLine)
{
    auto result = run("ouvrir " + (dir / "absent.nrrd").string() + "\n");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.line, 1);
    EXPECT_EQ(result.message.rfind("Ligne 1 : impossible d'ouvrir", 0), 0u) << result.message;

    result = run("ouvrir " + (dir / "cube.nrrd").string() + "\ncommande Quadrature du cercle\n");
    EXPECT_EQ(result.line, 2);
    EXPECT_NE(result.message.find("commande inconnue"), std::string::npos);

    result = run("ouvrir " + (dir / "cube.nrrd").string()
        + "\nvaleur Aucun champ = 2\ncommande Racine Carrée\n");
    EXPECT_EQ(result.line, 3);
    EXPECT_NE(result.message.find("aucun paramètre « Aucun champ »"), std::string::npos)
        << result.message;

    result = run(
        "ouvrir " + (dir / "cube.nrrd").string() + "\nsauver " + (dir / "x.zzz").string() + "\n");
    EXPECT_EQ(result.line, 2);
    EXPECT_FALSE(fs::exists(dir / "x.zzz"));
}

} // namespace
