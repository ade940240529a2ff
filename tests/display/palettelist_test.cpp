#include "display/palettelist.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <tuple>

using namespace vexa;

namespace {

const char* const kBuiltinNames[16] = {
    "---- Niveaux de Gris (Type Pente)",
    "Niveaux de Gris Inverses",
    "Atlas",
    "Profondeur",
    "Noir-Blanc-Rouge",
    "Noir-Blanc-Bleu",
    "Noir-Blanc-Vert",
    "France",
    "Noir-Rouge",
    "---- Niveaux de Gris (Type Editable)",
    "Aleatoire",
    "Aleatoire Modulo",
    "---- Direction (Type Demi-circulaire)",
    "---- Direction HSL (Type Demi-circulaire)",
    "---- Orientation HSL (Type Circulaire)",
    "---- Orientation HSL (Type Couleur Linéaire)",
};

// A program folder without colormap files: only the built-in palettes.
class PaletteList : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(buildPaletteList("/nonexistent-vexa-dir"), 16); }
    void TearDown() override { releasePaletteList(); }
};

} // namespace

TEST_F(PaletteList, BuiltinsInOrderWithTheirFamilies)
{
    const std::pair<int, int> pairs[16]
        = { { 0, 0 }, { 0, 1 }, { 0, 2 }, { 0, 3 }, { 0, 4 }, { 0, 5 }, { 0, 6 }, { 0, 7 },
              { 0, 8 }, { 1, 0 }, { 1, 1 }, { 1, 2 }, { 2, 0 }, { 3, 0 }, { 4, 0 }, { 5, 0 } };
    for (int i = 0; i < 16; ++i) {
        const PaletteRecord* rec = paletteAt(i);
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(rec->name, kBuiltinNames[i]);
        EXPECT_EQ(std::make_pair(rec->family, rec->variant), pairs[i]) << i;
        EXPECT_EQ(rec->user, 0);
        EXPECT_EQ(findPalette(pairs[i].first, pairs[i].second), rec);
        EXPECT_EQ(paletteIndexOf(rec), i);
    }
    EXPECT_EQ(paletteAt(16), nullptr);
    EXPECT_EQ(paletteAt(-1), nullptr);
    EXPECT_EQ(findPalette(6, 0), nullptr);
}

TEST_F(PaletteList, EditableGreyIsARamp)
{
    ColourTable t;
    ASSERT_EQ(copyPaletteTable(kFamilyEditable, 0, t), 1);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(t[i].green, i);
}

TEST_F(PaletteList, RandomTablesStartBlackAndVary)
{
    ColourTable random, bright;
    ASSERT_EQ(copyPaletteTable(kFamilyEditable, 1, random), 1);
    ASSERT_EQ(copyPaletteTable(kLabelPaletteFamily, kLabelPaletteVariant, bright), 1);
    for (const ColourTable* t : { &random, &bright }) {
        EXPECT_EQ((*t)[0].red + (*t)[0].green + (*t)[0].blue, 0);
        std::set<std::tuple<int, int, int>> distinct;
        for (int i = 1; i < 256; ++i)
            distinct.insert({ (*t)[i].red, (*t)[i].green, (*t)[i].blue });
        // Labels must be told apart: nearly every entry is its own colour.
        EXPECT_GE(distinct.size(), 250u);
    }
    int dark = 0;
    for (int i = 1; i < 256; ++i) {
        // r + g + b >= 1.2 as reals; each byte is floored, so the byte sum exceeds 303.
        const int sum = bright[i].red + bright[i].green + bright[i].blue;
        ASSERT_GT(sum, 303) << i;
        if (random[i].red + random[i].green + random[i].blue < 306)
            ++dark;
    }
    // The unconstrained table does hold dark colours (about a fifth of them).
    EXPECT_GT(dark, 10);
}

TEST_F(PaletteList, RandomTablesAreTheSameOnEveryBuildAndLeaveRandAlone)
{
    ColourTable first, second;
    copyPaletteTable(kFamilyEditable, 1, first);
    std::srand(1234);
    const int expected = std::rand();
    std::srand(1234);
    buildPaletteList("/nonexistent-vexa-dir");
    EXPECT_EQ(std::rand(), expected);
    copyPaletteTable(kFamilyEditable, 1, second);
    EXPECT_EQ(std::memcmp(first.data(), second.data(), sizeof first), 0);
}

TEST_F(PaletteList, UnknownPairFallsBackToTheFirstPalette)
{
    ColourTable t;
    setPaletteColour(t, 10, 1, 2, 3);
    EXPECT_EQ(copyPaletteTable(0, 42, t), 0);
    EXPECT_EQ(t[10].red, 10); // the grey slope
    releasePaletteList();
    EXPECT_EQ(copyPaletteTable(0, 0, t), 0);
    EXPECT_EQ(t[200].blue, 200);
    EXPECT_EQ(paletteCount(), 0);
}

TEST_F(PaletteList, UserPalettesTakeTheNextFreeVariant)
{
    PaletteRecord editor;
    editor.family = kFamilySlope;
    editor.name = "Mes couleurs";
    editor.control = { 255, 0, 0, 0, 255, 0, 0, 0, 255 };
    PaletteRecord* first = addUserPalette(editor);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->variant, 9);
    EXPECT_EQ(first->user, 1);
    EXPECT_EQ(first->name, "Mes couleurs");
    EXPECT_EQ(addUserPalette(editor)->variant, 10);
    ColourTable t;
    ASSERT_EQ(copyPaletteTable(kFamilySlope, 9, t), 1);
    EXPECT_EQ(t[0].red, 255);
    EXPECT_EQ(t[255].blue, 255);

    editor.family = kFamilyEditable;
    editor.name.clear();
    setPaletteColour(editor.table, 7, 255, 0, 0);
    PaletteRecord* editable = addUserPalette(editor);
    EXPECT_EQ(editable->variant, 3);
    EXPECT_EQ(editable->name, kPaletteNewName);
    EXPECT_EQ(editable->table[7].red, 7); // starts as a grey ramp

    editor.family = kFamilyDirectionHsl;
    editor.alpha1 = 0.3;
    editor.alpha2 = 0.2;
    PaletteRecord* hsl = addUserPalette(editor);
    EXPECT_EQ(hsl->variant, 1);
    EXPECT_EQ(hsl->alpha1, 0.0);
    EXPECT_EQ(hsl->alpha2, 1.0);

    editor.family = kFamilyOrientationLinear;
    editor.p1 = 0.4;
    editor.p2 = 2.0;
    PaletteRecord* linear = addUserPalette(editor);
    EXPECT_EQ(linear->p1, 0.4);
    EXPECT_EQ(linear->p2, 2.0);
    EXPECT_EQ(paletteCount(), 16 + 5);
    EXPECT_EQ(paletteIndexOf(linear), 20);
}

TEST_F(PaletteList, UserDirectionPaletteNeverTakesTheBuiltinVariant)
{
    ASSERT_EQ(removePalette(findPalette(kFamilyDirection, 0)), 1);
    PaletteRecord editor;
    editor.family = kFamilyDirection;
    editor.control = { 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255 };
    PaletteRecord* rec = addUserPalette(editor);
    EXPECT_EQ(rec->variant, 1);
    ColourTable t;
    computePalette(*rec, t);
    EXPECT_EQ(t[0].red, 255); // its own colours, not the built-in black
    EXPECT_EQ(nextPaletteVariant(kFamilyColourTable), 14);
}

TEST_F(PaletteList, RemovingKeepsOtherRecordsValid)
{
    PaletteRecord* france = findPalette(0, 7);
    PaletteRecord* atlas = findPalette(0, 2);
    ASSERT_EQ(removePalette(atlas), 1);
    EXPECT_EQ(removePalette(atlas), 0);
    EXPECT_EQ(removePalette(nullptr), 0);
    EXPECT_EQ(findPalette(0, 2), nullptr);
    EXPECT_EQ(france->name, "France");
    EXPECT_EQ(paletteIndexOf(france), 6);
    EXPECT_EQ(paletteCount(), 15);
}

TEST_F(PaletteList, ConcurrentTableReadsWhileTheListChanges)
{
    std::thread reader([] {
        ColourTable t;
        for (int k = 0; k < 2000; ++k)
            copyPaletteTable(kFamilySlope, 9 + k % 20, t);
    });
    PaletteRecord editor;
    for (int k = 0; k < 200; ++k) {
        PaletteRecord* rec = addUserPalette(editor);
        if (k % 2)
            removePalette(rec);
    }
    reader.join();
    EXPECT_EQ(paletteCount(), 16 + 100);
}

TEST(PaletteListFiles, ShippedColormapsFollowTheBuiltins)
{
    const std::string source = VEXA_SOURCE_DIR;
    ASSERT_EQ(buildPaletteList(source), 30);
    for (int k = 0; k < 14; ++k) {
        const PaletteRecord* rec = paletteAt(16 + k);
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(rec->family, kFamilyColourTable);
        EXPECT_EQ(rec->variant, k);
        std::string stem = kColormapFileNames[k];
        stem.resize(stem.size() - 4);
        EXPECT_EQ(rec->name, stem);
    }
    releasePaletteList();
}

TEST(PaletteListFiles, BuildCopiesTheColormapsBesideThePrograms)
{
    EXPECT_EQ(buildPaletteList(VEXA_BIN_DIR), 30);
    releasePaletteList();
}

TEST(PaletteListFiles, MissingColormapFileAddsNothingAndKeepsVariants)
{
    namespace fs = std::filesystem;
    vexatest::TempDir folder("vexa-palettes");
    ASSERT_TRUE(folder.ok());
    const fs::path dir = folder.path();
    fs::create_directories(dir / "colormap");
    const fs::path shipped = fs::path(VEXA_SOURCE_DIR) / "colormap";
    fs::copy_file(shipped / "hotiron.xml", dir / "colormap" / "hotiron.xml");
    fs::copy_file(shipped / "flow.xml", dir / "colormap" / "flow.xml");
    // An invalid file in place of another one adds nothing.
    fs::copy_file(shipped / "flow.xml", dir / "colormap" / "nih.xml");
    {
        FILE* f = std::fopen((dir / "colormap" / "nih.xml").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("<COLORMAP title=\"x\" size=\"16\"/>", f);
        std::fclose(f);
    }
    EXPECT_EQ(buildPaletteList(dir.string()), 18);
    EXPECT_EQ(paletteAt(16)->name, "flow");
    EXPECT_EQ(paletteAt(16)->variant, 4);
    EXPECT_EQ(paletteAt(17)->name, "hotiron");
    EXPECT_EQ(paletteAt(17)->variant, 8);
    releasePaletteList();
}
