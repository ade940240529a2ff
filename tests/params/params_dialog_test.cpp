#include "params/paramdialog.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

using namespace vexa::params;

namespace {

ParamBox parse(const char* description, std::vector<Binding> bindings = {})
{
    ParamBox box;
    ListBindings source(std::move(bindings));
    parseDescription(box, description, source);
    return box;
}

// Six pixels per byte: easy to work out by hand.
int sixPerByte(std::string_view s)
{
    return static_cast<int>(6 * s.size());
}

} // namespace

TEST(ParamListLabel, CutsAtEveryComma)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(cutListLabel("Entier,Flottant"), (V { "Entier", "Flottant" }));
    EXPECT_EQ(cutListLabel("Un,,Deux"), (V { "Un", "", "Deux" }));
    EXPECT_EQ(cutListLabel("Un,Deux,"), (V { "Un", "Deux" }));
    EXPECT_EQ(cutListLabel(","), (V { "" }));
    EXPECT_EQ(cutListLabel(""), V {});
    EXPECT_EQ(cutListLabel("16,32,64,128,192,256,320,384,448,512").size(), 10u);
}

TEST(ParamListLabel, EntriesAreCutTo199Characters)
{
    std::string label(5000, 'a');
    label += ",b";
    auto entries = cutListLabel(label);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].size(), kMaxListEntryChars);
    EXPECT_EQ(entries[1], "b");
}

TEST(ParamRealReader, ReadsTheAcceptedForms)
{
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[]
        = { { "1,5", 1.5 }, { "1.5", 1.5 }, { "1e-3", 0.001 }, { "2-", -2.0 }, { "", 0.0 },
              { "-1e-2", -0.01 }, { "1e3-", 0.001 }, { "1,5e1", 15.0 }, { "1e", 1.0 }, { ".", 0.0 },
              { "e5", 0.0 }, { "12-3", -123.0 }, { "0.25", 0.25 }, { "1E2", 100.0 }, { "-", 0.0 } };
    for (const Case& c : cases) {
        auto v = readReal(c.text);
        ASSERT_TRUE(v.has_value()) << c.text;
        EXPECT_DOUBLE_EQ(*v, c.value) << c.text;
    }
}

TEST(ParamRealReader, RejectsEverythingElse)
{
    for (const char* text : { "+1", " 1", "1 ", "1.2.3", "1,2.3", "1e2e3", "1e2.5", "--1", "1e--2",
             "abc", "1f", "0x10", "inf", "nan" })
        EXPECT_FALSE(readReal(text).has_value()) << text;
    EXPECT_FALSE(readReal("-1", true).has_value());
    EXPECT_TRUE(readReal("1e-1", true).has_value());
}

TEST(ParamRealReader, LongDigitStringsStayFinite)
{
    std::string tiny = "0." + std::string(400, '0') + "1";
    auto t = readReal(tiny);
    ASSERT_TRUE(t);
    EXPECT_EQ(*t, 0.0);

    std::string ones(400, '1');
    auto big = readReal(ones + "e-399");
    ASSERT_TRUE(big);
    EXPECT_NEAR(*big, 1.1111111111111, 1e-9);

    auto huge = readReal("1e99999999999999999999");
    ASSERT_TRUE(huge);
    EXPECT_TRUE(std::isinf(*huge));
    auto zero = readReal("0e99999999");
    ASSERT_TRUE(zero);
    EXPECT_EQ(*zero, 0.0);
}

TEST(ParamIntReader, SignedDecimalWithBlanksAround)
{
    EXPECT_EQ(readInt32(" 12 "), 12);
    EXPECT_EQ(readInt32("\t-7"), -7);
    EXPECT_EQ(readInt32("2147483647"), INT32_MAX);
    EXPECT_EQ(readInt32("-2147483648"), INT32_MIN);
    for (const char* text : { "", "  ", "-", "+7", "1 2", "12a", "2147483648", "-2147483649",
             "99999999999999999999999", "1.0", "- 1" })
        EXPECT_FALSE(readInt32(text).has_value()) << text;
}

TEST(ParamValidation, WritesTypedValuesBackAndKeepsWhatDoesNotRead)
{
    int32_t count = 5, keep = 9;
    double ratio = 2.0, other = 3.0, tooLong = 4.0;
    char text[1000] = "ancien";
    int32_t list = 1;
    ParamBox box = parse(
        "N%dK%dR%fO%fT%fS%sL,M%l", { &count, &keep, &ratio, &other, &tooLong, text, &list });
    std::vector<std::string> typed { " -12 ", "", "1,5", "",
        std::string(kMaxRealFieldChars + 1, '1'), "nouveau", "ignored" };
    validateParamBox(box, typed);
    EXPECT_EQ(count, -12);
    EXPECT_EQ(keep, 9); // an emptied integer field keeps its value
    EXPECT_EQ(ratio, 1.5);
    EXPECT_EQ(other, 0.0); // an emptied real field reads as zero
    EXPECT_EQ(tooLong, 4.0);
    EXPECT_STREQ(text, "nouveau");
    EXPECT_EQ(list, 1);
}

TEST(ParamValidation, TextIsCutTo999CharactersAndMissingTextsChangeNothing)
{
    char buffer[1001];
    std::memset(buffer, '#', sizeof buffer);
    buffer[0] = '\0';
    int32_t later = 3;
    ParamBox box = parse("S%sI%d", { buffer, &later });
    std::vector<std::string> typed { std::string(5000, 'z') };
    validateParamBox(box, typed);
    EXPECT_EQ(std::strlen(buffer), kMaxStringChars);
    EXPECT_EQ(buffer[1000], '#'); // nothing written past the 1000 bytes the caller promised
    EXPECT_EQ(later, 3);
}

TEST(ParamFieldText, ShowsBoundValues)
{
    int32_t i = -3;
    double r = 2.5;
    char s[1000] = "texte";
    char h[300] = "/data/a.gdr";
    int32_t l = 1;
    ParamBox box = parse("%d%f%s%h%l", { &i, &r, s, h, &l });
    EXPECT_EQ(fieldText(box.items[0]), "-3");
    EXPECT_EQ(fieldText(box.items[1]), "2.500000");
    EXPECT_EQ(fieldText(box.items[2]), "texte");
    EXPECT_EQ(fieldText(box.items[3]), "/data/a.gdr");
    EXPECT_EQ(fieldText(box.items[4]), "");
    EXPECT_EQ(boundIndex(box.items[4]), 1);

    char unterminated[1000];
    std::memset(unterminated, 'u', sizeof unterminated);
    ParamBox raw = parse("%s", { unterminated });
    EXPECT_EQ(fieldText(raw.items[0]).size(), kMaxStringChars);
}

TEST(ParamLiveUpdates, ListCheckAndButtonChangeBindingsAtOnce)
{
    int32_t list = 7, flag = 0, presses = 0;
    ParamProcedure bump = [](void* p) { ++*static_cast<int32_t*>(p); };
    ParamBox box = parse("A,B%lCoche%cGo%P", { &list, &flag, bump, &presses });
    // An index outside the entries is kept until the user picks one.
    EXPECT_EQ(boundIndex(box.items[0]), 7);
    selectListEntry(box.items[0], 1);
    EXPECT_EQ(list, 1);
    EXPECT_EQ(toggleCheck(box.items[1]), 1);
    EXPECT_EQ(toggleCheck(box.items[1]), 0);
    pressButton(box.items[2]);
    pressButton(box.items[2]);
    EXPECT_EQ(presses, 2);
}

class FileChoice : public ::testing::Test {
protected:
    void TearDown() override { setFileChooserPresenter(nullptr); }
};

TEST_F(FileChoice, ChosenPathIsCopiedIntoTheBindingAtOnce)
{
    char path[300] = "/old/file.raw";
    std::string seenTitle, seenInitial;
    setFileChooserPresenter([&](const FileSelector& s) -> std::optional<std::string> {
        seenTitle = s.title;
        seenInitial = s.fileName.data();
        return "/data/cube.gdr";
    });
    ParamBox box = parse("Fichier%h%n", { path });
    EXPECT_EQ(chooseFile(box.items[0]), 1);
    EXPECT_STREQ(path, "/data/cube.gdr");
    EXPECT_EQ(seenTitle, "Choix d'un fichier");
    EXPECT_EQ(seenInitial, "/old/file.raw");
    ASSERT_TRUE(box.items[0].fileSelector);
    EXPECT_STREQ(box.items[0].fileSelector->fileTitle.data(), "cube.gdr");
}

TEST_F(FileChoice, CancelledOrTooLongChoiceChangesNothing)
{
    char path[300] = "/old/file.raw";
    ParamBox box = parse("%h", { path });
    EXPECT_EQ(chooseFile(box.items[0]), 0); // no chooser installed

    setFileChooserPresenter([](const FileSelector&) { return std::optional<std::string> {}; });
    EXPECT_EQ(chooseFile(box.items[0]), 0);
    EXPECT_STREQ(path, "/old/file.raw");

    setFileChooserPresenter([](const FileSelector&) { return std::string(400, 'p'); });
    EXPECT_EQ(chooseFile(box.items[0]), 0);
    EXPECT_STREQ(path, "/old/file.raw");
}

TEST(FileSelectorCalls, ToleratesNullAndBoundsTheName)
{
    dozFileSetName(nullptr, "x");
    EXPECT_EQ(dozFileSelectorOpen(nullptr), 0);
    EXPECT_EQ(dozFileGetName(nullptr), nullptr);
    EXPECT_EQ(dozFileDestroy(nullptr), 0);

    FileSelector* s = dozFileInit(nullptr, "Titre");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->title, "Titre");
    EXPECT_EQ(s->filter[0], '\0');
    std::string longName(2000, 'n');
    dozFileSetName(s, longName.c_str());
    EXPECT_EQ(std::strlen(dozFileGetName(s)), kMaxPathChars);
    EXPECT_EQ(dozFileSelectorOpen(s), 0); // no chooser installed
    EXPECT_EQ(dozFileDestroy(s), 0);
}

TEST(ParamLayout, EmptyBoxHoldsOnlyOk)
{
    ParamBox box;
    ParamLayout layout = layoutParamBox(box, { 8, 16 }, sixPerByte);
    ASSERT_EQ(layout.controls.size(), 1u);
    EXPECT_TRUE(layout.labels.empty());
    const PlacedControl& ok = layout.controls[0];
    EXPECT_EQ(ok.kind, PlacedKind::Ok);
    EXPECT_EQ(ok.id, kOkId);
    EXPECT_EQ(ok.x, 8 / 2 - 3 * 8); // negative: half a character left of the first column
    EXPECT_EQ(ok.y, 4 * 16);
    EXPECT_EQ(layout.clientWidth, 2 * 8);
    EXPECT_EQ(layout.clientHeight, 4 * 16 + 7 * 16 / 3);
}

TEST(ParamLayout, RowOfIntegersAndCheckBoxWorkedByHand)
{
    int32_t v[5] = {};
    ParamBox box = parse("Taille Entete%dw%dh%dd%dFile%c%n", { &v[0], &v[1], &v[2], &v[3], &v[4] });
    // cw 7, ch 13: edit height 21; "Taille Entete" measures 78, its label 3*78/4+5 = 63.
    ParamLayout layout = layoutParamBox(box, { 7, 13 }, sixPerByte);
    ASSERT_EQ(layout.labels.size(), 4u);
    ASSERT_EQ(layout.controls.size(), 6u);
    auto expect = [](const PlacedControl& c, int id, int x, int y, int w, int h) {
        EXPECT_EQ(c.id, id);
        EXPECT_EQ(c.x, x) << c.id;
        EXPECT_EQ(c.y, y) << c.id;
        EXPECT_EQ(c.width, w) << c.id;
        EXPECT_EQ(c.height, h) << c.id;
    };
    expect(layout.labels[0], 10, 7, 15, 63, 26);
    expect(layout.controls[0], 100, 70, 13, 35, 21);
    expect(layout.labels[1], 11, 112, 15, 9, 26);
    expect(layout.controls[1], 101, 121, 13, 35, 21);
    expect(layout.controls[2], 102, 172, 13, 35, 21);
    expect(layout.labels[3], 13, 214, 15, 9, 26);
    expect(layout.controls[3], 103, 223, 13, 35, 21);
    expect(layout.controls[4], 104, 265, 13, 24 + 5 + 28, 26);
    EXPECT_EQ(layout.controls[4].kind, PlacedKind::Check);
    EXPECT_EQ(layout.controls[4].text, "File");
    // The row ends at 329; the newline moves to y 52 and "Ok" sits at 91.
    expect(layout.controls[5], 1000, 329 / 2 - 21, 91, 42, 26);
    EXPECT_EQ(layout.clientWidth, 336);
    EXPECT_EQ(layout.clientHeight, 91 + 30);
}

TEST(ParamLayout, FileItemTakesTwoIdentifiersAndListsHaveNoTextLabel)
{
    char path[300] = "";
    double f = 0;
    int32_t a = 0, b = 0;
    ParamBox box = parse("Fichier%h%nFréquence%fA,B%lC,D%L", { path, &f, &a, &b });
    ParamLayout layout = layoutParamBox(box, { 8, 16 }, sixPerByte);
    ASSERT_EQ(layout.controls.size(), 6u);
    const auto& field = layout.controls[0];
    const auto& choose = layout.controls[1];
    EXPECT_EQ(field.kind, PlacedKind::FileField);
    EXPECT_EQ(choose.kind, PlacedKind::ChooserButton);
    EXPECT_EQ(choose.text, "Choix");
    EXPECT_EQ(field.id, 100);
    EXPECT_EQ(choose.id, 101);
    EXPECT_EQ(choose.x, field.x + 50 * 8);
    EXPECT_EQ(choose.width, 6 * 8);
    EXPECT_EQ(layout.controls[2].id, 102);
    EXPECT_EQ(layout.controls[2].y, 16 + 3 * 16);
    const auto& list = layout.controls[3];
    const auto& wide = layout.controls[4];
    EXPECT_EQ(list.kind, PlacedKind::List);
    EXPECT_EQ(list.width, 20 * 8);
    EXPECT_EQ(list.height, 10 * 16);
    EXPECT_EQ(list.text, "A,B");
    EXPECT_EQ(wide.kind, PlacedKind::LongList);
    EXPECT_EQ(wide.x, list.x + 21 * 8);
    EXPECT_EQ(wide.width, 50 * 8);
    // Labels only for the file and the real field.
    ASSERT_EQ(layout.labels.size(), 2u);
    EXPECT_EQ(layout.labels[1].text, "Fréquence");
}

TEST(ParamLayout, HugeLabelsDoNotOverflowTheArithmetic)
{
    std::string description;
    std::vector<Binding> bindings;
    std::vector<int32_t> values(PARAM_MAX_ITEMS);
    for (int i = 0; i < PARAM_MAX_ITEMS; ++i) {
        description += "label%c";
        bindings.emplace_back(&values[i]);
    }
    ParamBox box = parse(description.c_str(), bindings);
    ParamLayout layout = layoutParamBox(box, { 8, 16 }, [](std::string_view) { return INT_MAX; });
    EXPECT_GT(layout.clientWidth, 0);
    EXPECT_GT(layout.controls.back().x, 0);
}
