#include "display/colormap.h"
#include "display/palettelist.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace vexa;
namespace fs = std::filesystem;

namespace {

class Colormap : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.ok());
        buildPaletteList("/nonexistent-vexa-dir");
    }
    void TearDown() override { releasePaletteList(); }

    std::string path(const std::string& name) const { return dir_.file(name); }

    std::string write(const std::string& name, const std::string& text) const
    {
        std::ofstream out(path(name), std::ios::binary);
        out << text;
        return path(name);
    }

    vexatest::TempDir dir_ { "vexa-colormap" };
};

// A colormap document with a given root, title/size attributes and color nodes.
std::string document(
    const std::string& head, const std::string& nodes, const std::string& root = "COLORMAP")
{
    return "<?xml version=\"1.0\"?>\n<" + root + " " + head + ">\n" + nodes + "</" + root + ">\n";
}

std::string colourNode(int index, const std::string& r, const std::string& g, const std::string& b)
{
    return "<color index=\"" + std::to_string(index) + "\" r=\"" + r + "\" g=\"" + g + "\" b=\"" + b
        + "\"/>\n";
}

std::string greyNodes(int count)
{
    std::string nodes;
    for (int k = 0; k < count; ++k) {
        const std::string v = std::to_string((k % 256) / 255.0);
        nodes += colourNode(k, v, v, v);
    }
    return nodes;
}

int maxStepDifference(const ColourTable& a, const ColourTable& b)
{
    int worst = 0;
    for (int i = 0; i < 256; ++i) {
        worst = std::max(worst, std::abs(a[i].red - b[i].red));
        worst = std::max(worst, std::abs(a[i].green - b[i].green));
        worst = std::max(worst, std::abs(a[i].blue - b[i].blue));
    }
    return worst;
}

} // namespace

TEST_F(Colormap, ExportThenImportGivesTheSameTable)
{
    const int builtins = paletteCount();
    for (int i = 0; i < builtins; ++i) {
        const PaletteRecord exported = *paletteAt(i);
        const std::string file = path("export" + std::to_string(i) + ".xml");
        ASSERT_TRUE(writeColormap(exported, file, exported.name)) << exported.name;
        PaletteRecord* imported = readColormap(file, 20 + i);
        ASSERT_NE(imported, nullptr) << exported.name;
        EXPECT_EQ(imported->name, exported.name);
        EXPECT_EQ(imported->family, kFamilyColourTable);
        EXPECT_EQ(imported->variant, 20 + i);
        ColourTable expected;
        computePalette(exported, expected);
        // Six decimals of byte / 255 read back to the very byte.
        EXPECT_EQ(maxStepDifference(expected, imported->table), 0) << exported.name;
        EXPECT_EQ(findPalette(kFamilyColourTable, 20 + i), imported);
    }
}

TEST_F(Colormap, ImportTakesTheNextFreeVariant)
{
    PaletteRecord france = *findPalette(kFamilySlope, 7);
    const std::string file = path("france.xml");
    ASSERT_TRUE(writeColormap(france, file, "Drapeau"));
    PaletteRecord* first = importColormap(file);
    PaletteRecord* second = importColormap(file);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->variant, 14);
    EXPECT_EQ(second->variant, 15);
    EXPECT_EQ(second->name, "Drapeau");
    EXPECT_EQ(paletteIndexOf(second), paletteCount() - 1);
}

TEST_F(Colormap, EveryByteSurvivesSixDecimals)
{
    for (int byte = 0; byte < 256; ++byte) {
        char text[32];
        std::snprintf(text, sizeof text, "%f", byte / 255.0);
        ASSERT_EQ(colormapComponentToByte(std::atof(text)), byte) << text;
        // A plain floor of the exact fraction loses at most one step.
        ASSERT_GE(colormapComponentToByte(byte / 255.0 - 1e-12), byte == 0 ? 0 : byte - 1);
    }
    EXPECT_EQ(colormapComponentToByte(0.5), 127);
    EXPECT_EQ(colormapComponentToByte(0.99), 252);
}

TEST_F(Colormap, WrittenDocumentFollowsTheFormat)
{
    PaletteRecord rec; // grey slope
    const std::string file = path("grey.xml");
    ASSERT_TRUE(writeColormap(rec, file, ""));
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    const std::string xml = text.str();
    EXPECT_NE(xml.find("COLORMAP"), std::string::npos);
    EXPECT_NE(xml.find("Sans titre"), std::string::npos);
    EXPECT_NE(xml.find("0.501961"), std::string::npos); // 128 / 255 with "%f"
    PaletteRecord back;
    ASSERT_TRUE(loadColormap(file, 0, back));
    EXPECT_EQ(back.name, "Sans titre");
    EXPECT_EQ(back.table[128].red, 128);
}

TEST_F(Colormap, WritingIgnoresTheProcessLocale)
{
    const char* comma = nullptr;
    for (const char* name : { "fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR.utf8", "de_DE.utf8" })
        if (std::setlocale(LC_NUMERIC, name)) {
            comma = name;
            break;
        }
    if (!comma)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    PaletteRecord rec;
    const std::string file = path("locale.xml");
    const bool written = writeColormap(rec, file, "x");
    std::setlocale(LC_NUMERIC, "C");
    ASSERT_TRUE(written);
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("0.501961"), std::string::npos);
}

TEST_F(Colormap, DecimalCommaIsRead)
{
    const std::string file = write(
        "comma.xml", document("title=\"c\" size=\"256\"", colourNode(0, "0,5", "1,0", "0")));
    PaletteRecord rec;
    ASSERT_TRUE(loadColormap(file, 0, rec));
    EXPECT_EQ(rec.table[0].red, 127);
    EXPECT_EQ(rec.table[0].green, 255);
}

TEST_F(Colormap, UnwritablePathFails)
{
    PaletteRecord rec;
    EXPECT_FALSE(writeColormap(rec, path("missing-folder/x.xml"), "x"));
    EXPECT_FALSE(writeColormap(rec, "", "x"));
    // A failed write leaves an existing file as it was.
    const std::string file = write("keep.xml", "old");
    fs::permissions(dir_.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool written = writeColormap(rec, file, "x");
    fs::permissions(dir_.path(), fs::perms::owner_all);
    if (::geteuid() != 0) {
        EXPECT_FALSE(written);
        std::ifstream in(file);
        std::string content;
        in >> content;
        EXPECT_EQ(content, "old");
    }
}

TEST_F(Colormap, DocumentsThatAreNotColormapsAddNothing)
{
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        { "root", document("title=\"t\" size=\"256\"", greyNodes(256), "PALETTE") },
        { "size255", document("title=\"t\" size=\"255\"", greyNodes(256)) },
        { "size512", document("title=\"t\" size=\"512\"", greyNodes(256)) },
        { "sizeText", document("title=\"t\" size=\"abc\"", greyNodes(256)) },
        { "sizeMissing", document("title=\"t\"", greyNodes(256)) },
        { "sizeHuge", document("title=\"t\" size=\"99999999999999999999999\"", greyNodes(4)) },
        { "titleMissing", document("size=\"256\"", greyNodes(256)) },
        { "titleTwice", document("title=\"a\" size=\"256\"", "<title>b</title>\n" + greyNodes(4)) },
        { "notXml", "this is not <xml" },
        { "empty", "" },
        { "binary", std::string("\0\1\2\3\xff\xfe", 6) },
    };
    const int before = paletteCount();
    for (const Case& c : cases) {
        const std::string file = write(std::string(c.name) + ".xml", c.text);
        std::string why;
        EXPECT_EQ(readColormap(file, 0, &why), nullptr) << c.name;
        EXPECT_NE(why.find(file), std::string::npos) << c.name << ": " << why;
    }
    EXPECT_EQ(readColormap(path("absent.xml"), 0), nullptr);
    EXPECT_EQ(readColormap(dir_.path(), 0), nullptr); // a folder
    EXPECT_EQ(readColormap("", 0), nullptr);
    EXPECT_EQ(paletteCount(), before);
}

TEST_F(Colormap, EnormousFileIsRefusedBeforeReading)
{
    std::string padding(static_cast<std::size_t>(kColormapMaxFileBytes) + 1024, ' ');
    const std::string file
        = write("huge.xml", document("title=\"t\" size=\"256\"", greyNodes(256) + padding));
    std::string why;
    EXPECT_EQ(readColormap(file, 0, &why), nullptr);
    EXPECT_NE(why.find("trop grand"), std::string::npos);
}

TEST_F(Colormap, TitleWithoutValueIsSansTitre)
{
    PaletteRecord rec;
    ASSERT_TRUE(
        loadColormap(write("t.xml", document("title=\"\" size=\"256\"", greyNodes(256))), 3, rec));
    EXPECT_EQ(rec.name, "Sans titre");
    EXPECT_EQ(rec.variant, 3);
    // Size written as a text element rather than an attribute reads the same.
    ASSERT_TRUE(loadColormap(
        write("e.xml", document("title=\"Elem\"", "<size> 256 </size>\n" + greyNodes(2))), 0, rec));
    EXPECT_EQ(rec.name, "Elem");
    EXPECT_EQ(rec.table[1].red, 1);
}

TEST_F(Colormap, ThreeHundredNodesUseTheFirst256)
{
    std::string nodes = greyNodes(256);
    for (int k = 256; k < 300; ++k)
        nodes += colourNode(k, "1", "0", "0");
    PaletteRecord rec;
    ASSERT_TRUE(
        loadColormap(write("300.xml", document("title=\"t\" size=\"256\"", nodes)), 0, rec));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(rec.table[i].red, i) << i;
}

TEST_F(Colormap, BadNodesLeaveTheirEntryBlack)
{
    std::string nodes;
    nodes += colourNode(0, "1", "1", "1"); // good
    nodes += colourNode(5, "1", "1", "1"); // index differs from position 1
    nodes += "<color index=\"2\" r=\"1\" g=\"1\"/>\n"; // missing b
    nodes += colourNode(3, "abc", "1", "1"); // not a number
    nodes += colourNode(4, "1", "0.5x", "1"); // trailing garbage
    nodes += colourNode(5, "nan", "1", "1"); // not a finite number
    nodes += colourNode(6, "1.5", "-0.25", "1e300"); // limited to [0, 1]
    // Components may also be text elements; two "r" items are not exactly one.
    nodes += "<color index=\"7\" g=\"1\" b=\"1\"><r>1</r><r>0</r></color>\n";
    nodes += colourNode(8, " 0.2 ", "+0.4", "1E-1");
    const std::string wellFormed = document("title=\"t\" size=\"256\"", nodes);
    PaletteRecord rec;
    ASSERT_TRUE(loadColormap(write("bad.xml", wellFormed), 0, rec));
    auto grey = [&](int i) { return rec.table[i].red + rec.table[i].green + rec.table[i].blue; };
    EXPECT_EQ(grey(0), 3 * 255);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(grey(i), 0) << i;
    EXPECT_EQ(rec.table[6].red, 255);
    EXPECT_EQ(rec.table[6].green, 0);
    EXPECT_EQ(rec.table[6].blue, 255);
    EXPECT_EQ(grey(7), 0);
    EXPECT_EQ(rec.table[8].red, 51);
    EXPECT_EQ(rec.table[8].green, 102);
    EXPECT_EQ(rec.table[8].blue, 25);
    for (int i = 9; i < 256; ++i)
        ASSERT_EQ(grey(i), 0) << i;
}

TEST_F(Colormap, ThirdPartyColourMapFilesAreOfAnotherSchema)
{
    const fs::path folder = fs::path(VEXA_TESTDATA_DIR) / "colormap";
    if (!fs::is_directory(folder))
        GTEST_SKIP() << "no test data";
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string why;
        EXPECT_EQ(readColormap(entry.path().string(), 0, &why), nullptr) << entry.path();
        EXPECT_NE(why.find("COLORMAP"), std::string::npos) << why;
        ++seen;
    }
    EXPECT_GE(seen, 3);
    EXPECT_EQ(paletteCount(), 16);
}

TEST(ShippedColormaps, EachShowsWhatItsNameSays)
{
    const fs::path folder = fs::path(VEXA_SOURCE_DIR) / "colormap";
    ColourTable t[14];
    for (int k = 0; k < 14; ++k) {
        PaletteRecord rec;
        ASSERT_TRUE(loadColormap((folder / kColormapFileNames[k]).string(), k, rec))
            << kColormapFileNames[k];
        t[k] = rec.table;
    }
    auto rgb = [&](int map, int i) {
        return std::make_tuple(int(t[map][i].red), int(t[map][i].green), int(t[map][i].blue));
    };
    auto index = [](const char* name) {
        for (int k = 0; k < 14; ++k)
            if (std::strncmp(kColormapFileNames[k], name, std::strlen(name)) == 0)
                return k;
        return -1;
    };
    using C = std::tuple<int, int, int>;
    // Heat ramps: black to white.
    for (const char* name : { "blackbdy", "hotiron", "trecscan", "fusion16" }) {
        EXPECT_EQ(rgb(index(name), 0), C(0, 0, 0)) << name;
        EXPECT_EQ(rgb(index(name), 255), C(255, 255, 255)) << name;
    }
    // Hot iron: red leads, then green, then blue.
    EXPECT_EQ(rgb(index("hotiron"), 128), C(255, 1, 0));
    // Rainbows: blue to red.
    EXPECT_EQ(rgb(index("rainbow"), 0), C(0, 0, 255));
    EXPECT_EQ(rgb(index("rainbow"), 255), C(255, 0, 0));
    EXPECT_EQ(rgb(index("concolor"), 0), C(0, 0, 255));
    EXPECT_EQ(rgb(index("nih"), 0), C(0, 0, 0));
    EXPECT_EQ(rgb(index("nih"), 255), C(255, 0, 0));
    // Grey then rainbow.
    const int grayrain = index("grayrain");
    for (int i = 0; i < 128; ++i)
        ASSERT_TRUE(t[grayrain][i].red == t[grayrain][i].green
            && t[grayrain][i].green == t[grayrain][i].blue)
            << i;
    EXPECT_EQ(rgb(grayrain, 255), C(255, 0, 0));
    // Diverging maps: cool low end, warm high end.
    for (const char* name : { "redblue", "flow" }) {
        const int m = index(name);
        EXPECT_GT(t[m][0].blue, t[m][0].red) << name;
        EXPECT_GT(t[m][255].red, t[m][255].blue) << name;
    }
    // No flow is black, in the middle.
    const int flow = index("flow");
    for (int i : { 127, 128 })
        EXPECT_LT(t[flow][i].red + t[flow][i].green + t[flow][i].blue, 8) << i;
    // Spectrum: violet to deep red.
    EXPECT_GT(t[index("spectrum")][0].blue, t[index("spectrum")][0].green);
    EXPECT_EQ(t[index("spectrum")][255].green, 0);
    // Banded maps hold flat steps.
    EXPECT_EQ(rgb(index("fusion16"), 16), rgb(index("fusion16"), 31));
    EXPECT_NE(rgb(index("fusion16"), 31), rgb(index("fusion16"), 32));
}
