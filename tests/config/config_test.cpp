#include "config/config.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace vexa::config;

namespace {

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        path = dir.file("config.xml");
        std::ofstream(path, std::ios::binary);
        saved = configPath();
        setConfigPath(path.c_str());
    }
    void TearDown() override { setConfigPath(saved.c_str()); }
    void write(const std::string& xml)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << xml;
    }

    vexatest::TempDir dir { "vexa-config" };
    std::string path, saved;
};

} // namespace

TEST_F(ConfigFile, ListsLibrariesAndStudiesInDocumentOrder)
{
    write("<VEXA>"
          "<LIBRARY><PATH>/opt/a.so</PATH><PATH>/opt/b.so</PATH></LIBRARY>"
          "<PATHS><STUDY PATH=\"/data/etudes\"/></PATHS>"
          "</VEXA>");
    EXPECT_EQ(configCountValues(LOAD_LIBRARY), 2);
    EXPECT_EQ(configValue(LOAD_LIBRARY, 0), "/opt/a.so");
    EXPECT_EQ(configValue(LOAD_LIBRARY, 1), "/opt/b.so");
    EXPECT_EQ(configValue(LOAD_LIBRARY, 2), std::nullopt);
    EXPECT_EQ(configValue(LOAD_LIBRARY, -1), std::nullopt);
    EXPECT_EQ(configValues(LOAD_LIBRARY), (std::vector<std::string> { "/opt/a.so", "/opt/b.so" }));
    EXPECT_EQ(configCountValues(PATH_STUDY), 1);
    EXPECT_EQ(configValue(PATH_STUDY, 0), "/data/etudes");
    EXPECT_EQ(configCountValues(WINDOWS_MANAGEMENT), 0);
}

TEST_F(ConfigFile, SeveralNodesOfOneNameAreNotDescended)
{
    write(
        "<VEXA><LIBRARY><PATH>/a.so</PATH></LIBRARY><LIBRARY><PATH>/b.so</PATH></LIBRARY></VEXA>");
    EXPECT_EQ(configCountValues(LOAD_LIBRARY), 0);
    EXPECT_EQ(configValue(LOAD_LIBRARY, 0), std::nullopt);
}

TEST_F(ConfigFile, WalkStaysWhereItIsWhenANameIsMissing)
{
    // No PATHS node: the walk tries STUDY from the root and finds it there.
    write("<VEXA><STUDY><PATH>/etudes</PATH></STUDY></VEXA>");
    EXPECT_EQ(configValue(PATH_STUDY, 0), "/etudes");
    // Items of the root itself are never searched: no descent means no node.
    write("<VEXA PATH=\"/racine\"><AUTRE/></VEXA>");
    EXPECT_EQ(configCountValues(PATH_STUDY), 0);
}

TEST_F(ConfigFile, OnlyExactMultipleFreesDialogs)
{
    write("<VEXA><WINDOWS MANAGEMENT=\"MULTIPLE\" CORRECTION=\"x\"/></VEXA>");
    EXPECT_TRUE(dialogsWithoutOwner());
    EXPECT_EQ(configValue(WINDOWS_CORRECTION, 0), "x");
    // The file is read again at every query: an edit applies without a restart.
    write("<VEXA><WINDOWS MANAGEMENT=\"multiple\"/></VEXA>");
    EXPECT_FALSE(dialogsWithoutOwner());
}

TEST_F(ConfigFile, AutoRangeIsOnUnlessTurnedOff)
{
    EXPECT_TRUE(autoRangeEnabled()); // empty file
    for (const char* off : { "0", "non", "OFF", " False " }) {
        write(std::string("<VEXA><DISPLAY AUTO_RANGE=\"") + off + "\"/></VEXA>");
        EXPECT_FALSE(autoRangeEnabled()) << off;
    }
    write("<VEXA><DISPLAY AUTO_RANGE=\"1\"/></VEXA>");
    EXPECT_TRUE(autoRangeEnabled());
    std::remove(path.c_str());
    EXPECT_TRUE(autoRangeEnabled());
}

TEST_F(ConfigFile, UnknownKeysHaveNoValues)
{
    write("<VEXA><LIBRARY><PATH>/a.so</PATH></LIBRARY></VEXA>");
    EXPECT_EQ(configCountValues(42), 0);
    EXPECT_EQ(configCountValues(-1), 0);
    EXPECT_EQ(configValue(42, 0), std::nullopt);
    EXPECT_FALSE(keyLocation(6).has_value());
}

TEST_F(ConfigFile, MissingMalformedOrOversizedFilesReadAsEmpty)
{
    write("<VEXA><LIBRARY><PATH>/a.so</PATH></LIBRA");
    EXPECT_EQ(configCountValues(LOAD_LIBRARY), 0);
    write("");
    EXPECT_EQ(configCountValues(LOAD_LIBRARY), 0);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "<VEXA><LIBRARY><PATH>/a.so</PATH></LIBRARY>";
        out << std::string(static_cast<size_t>(kMaxConfigBytes), ' ');
        out << "</VEXA>";
    }
    EXPECT_EQ(configCountValues(LOAD_LIBRARY), 0);
    std::remove(path.c_str());
    EXPECT_EQ(configCountValues(LOAD_LIBRARY), 0);
    EXPECT_FALSE(dialogsWithoutOwner());
    setConfigPath("/tmp");
    EXPECT_EQ(configCountValues(LOAD_LIBRARY), 0);
}

TEST(ConfigPath, DefaultIsBesideTheExecutable)
{
    std::string p = defaultConfigPath();
    EXPECT_EQ(p, std::string(VEXA_BIN_DIR) + "/vexa.xml");
}

TEST(ConfigPath, NullLeavesThePathUnchanged)
{
    std::string before = configPath();
    setConfigPath(nullptr);
    EXPECT_EQ(configPath(), before);
}

TEST(ConfigCommandLine, ConfigOptionTakesOneWordAndCutsTheRest)
{
    std::string saved = configPath();
    std::string line = "-config /etc/vexa/poste.xml -in /data/cube.gdr";
    EXPECT_TRUE(applyConfigOption(line));
    EXPECT_EQ(configPath(), "/etc/vexa/poste.xml");
    EXPECT_EQ(line, "-config /etc/vexa/poste.xml");
    EXPECT_EQ(dataFileArgument(line), std::nullopt);

    std::string last = "-v -config /tmp/c.xml";
    EXPECT_TRUE(applyConfigOption(last));
    EXPECT_EQ(configPath(), "/tmp/c.xml");
    EXPECT_EQ(last, "-v -config /tmp/c.xml");
    setConfigPath(saved.c_str());
}

TEST(ConfigCommandLine, EmptyOrMissingConfigArgumentKeepsThePath)
{
    std::string saved = configPath();
    for (std::string line : { "-config", "-config ", "-in a.gdr", "" }) {
        EXPECT_FALSE(applyConfigOption(line)) << line;
        EXPECT_EQ(configPath(), saved);
    }
    std::string doubleBlank = "-config  x.xml";
    EXPECT_FALSE(applyConfigOption(doubleBlank));
    EXPECT_EQ(doubleBlank, "-config ");
    EXPECT_EQ(configPath(), saved);
}

TEST(ConfigCommandLine, DataFileIsTheWholeRestAfterIn)
{
    EXPECT_EQ(dataFileArgument("-in /data/mon cube.gdr"), "/data/mon cube.gdr");
    EXPECT_EQ(dataFileArgument("-in /a.gdr -config /c.xml"), "/a.gdr -config /c.xml");
    EXPECT_EQ(dataFileArgument("-in "), std::nullopt);
    EXPECT_EQ(dataFileArgument("-index"), std::nullopt);
}

TEST(ConfigCommandLine, JoinsArgumentsAfterTheProgramName)
{
    const char* argv[] = { "vexa", "-config", "/c.xml", nullptr };
    EXPECT_EQ(joinCommandLine(3, argv), "-config /c.xml");
    EXPECT_EQ(joinCommandLine(1, argv), "");
}
