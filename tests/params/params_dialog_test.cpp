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

namespace {

// Round numbers: 6 pixels per byte of text; fields and lists 10 wider and 24 high,
// check boxes 20 wider, buttons 16 wider and 26 high.
class FakeMetrics final : public ParamMetrics {
public:
    int charWidth() const override { return 8; }
    int lineHeight() const override { return 16; }
    int textWidth(std::string_view s) const override { return sixPerByte(s); }
    Extent controlSize(PlacedKind kind, std::string_view text, int content) const override
    {
        switch (kind) {
        case PlacedKind::Check:
            return { content + 20, 20 };
        case PlacedKind::Button:
        case PlacedKind::ChooserButton:
        case PlacedKind::Ok:
        case PlacedKind::Cancel:
            return { sixPerByte(text) + 16, 26 };
        default:
            return { content + 10, 24 };
        }
    }
};

bool overlap(const PlacedControl& a, const PlacedControl& b)
{
    return a.width > 0 && b.width > 0 && a.x < b.x + b.width && b.x < a.x + a.width
        && a.y < b.y + b.height && b.y < a.y + a.height;
}

// Nothing overlaps, everything lies inside the client area, the buttons lie below the
// fields and every label is as wide as its text.
void expectSound(const ParamLayout& layout)
{
    std::vector<PlacedControl> all = layout.controls;
    all.insert(all.end(), layout.labels.begin(), layout.labels.end());
    int fieldsBottom = 0, buttonsTop = INT_MAX;
    for (size_t i = 0; i < all.size(); ++i) {
        const PlacedControl& c = all[i];
        EXPECT_GE(c.x, 0) << c.id;
        EXPECT_GE(c.y, 0) << c.id;
        EXPECT_LE(c.x + c.width, layout.clientWidth) << c.id;
        EXPECT_LE(c.y + c.height, layout.clientHeight) << c.id;
        if (c.kind == PlacedKind::Label) {
            EXPECT_GE(c.width, sixPerByte(c.text)) << c.text;
        }
        if (c.kind == PlacedKind::Ok || c.kind == PlacedKind::Cancel)
            buttonsTop = std::min(buttonsTop, c.y);
        else
            fieldsBottom = std::max(fieldsBottom, c.y + c.height);
        for (size_t j = i + 1; j < all.size(); ++j)
            EXPECT_FALSE(overlap(c, all[j])) << c.id << " and " << all[j].id;
    }
    EXPECT_LT(fieldsBottom, buttonsTop);
}

const PlacedControl& byId(const ParamLayout& layout, int id)
{
    for (const auto* list : { &layout.controls, &layout.labels })
        for (const PlacedControl& c : *list)
            if (c.id == id)
                return c;
    ADD_FAILURE() << "no control " << id;
    static const PlacedControl none;
    return none;
}

} // namespace

TEST(ParamLayout, EmptyBoxHoldsOnlyTheButtonsCentred)
{
    ParamBox box;
    ParamLayout layout = layoutParamBox(box, FakeMetrics());
    ASSERT_EQ(layout.controls.size(), 1u);
    EXPECT_TRUE(layout.labels.empty());
    const PlacedControl& ok = layout.controls[0];
    EXPECT_EQ(ok.kind, PlacedKind::Ok);
    EXPECT_EQ(ok.id, kOkId);
    EXPECT_EQ(ok.width, 6 * 8); // never narrower than six characters
    EXPECT_EQ(ok.x, layout.clientWidth - ok.x - ok.width);
    expectSound(layout);

    box.cancellable = true;
    layout = layoutParamBox(box, FakeMetrics());
    ASSERT_EQ(layout.controls.size(), 2u);
    const PlacedControl& okButton = layout.controls[0];
    const PlacedControl& cancel = layout.controls[1];
    EXPECT_EQ(cancel.kind, PlacedKind::Cancel);
    EXPECT_EQ(cancel.id, kCancelId);
    EXPECT_EQ(cancel.text, "Annuler");
    EXPECT_EQ(cancel.y, okButton.y);
    EXPECT_EQ(cancel.width, okButton.width);
    EXPECT_GT(cancel.x, okButton.x + okButton.width);
    EXPECT_EQ(okButton.x, layout.clientWidth - cancel.x - cancel.width);
    expectSound(layout);
}

TEST(ParamLayout, CellsOfARankFormAColumnWithFullLabels)
{
    int32_t v[4] = {};
    ParamBox box = parse("Origine%tX%dY%d%nPas%tX%dY%d%n", { &v[0], &v[1], &v[2], &v[3] });
    ParamLayout layout = layoutParamBox(box, FakeMetrics());
    ASSERT_EQ(layout.controls.size(), 5u);
    ASSERT_EQ(layout.labels.size(), 6u);
    // Fields in item order lead the keyboard order, labels follow.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(layout.controls[i].id, kFirstFieldId + i);
    EXPECT_EQ(layout.labels[0].text, "Origine");
    EXPECT_EQ(layout.labels[3].text, "Pas");
    EXPECT_EQ(layout.controls[0].x, layout.controls[2].x);
    EXPECT_EQ(layout.controls[1].x, layout.controls[3].x);
    EXPECT_GE(layout.controls[2].y, layout.controls[0].y + layout.controls[0].height);
    expectSound(layout);
}

TEST(ParamLayout, ATitleBeforeAListLabelsItAndLinesUpWithFieldLabels)
{
    int32_t n = 0, list = 0, other = 0, check = 0;
    ParamBox box
        = parse("Taille%d%nFormat Entier%tA,B%l%nC,D%lActif%c", { &n, &list, &other, &check });
    ParamLayout layout = layoutParamBox(box, FakeMetrics());
    ASSERT_EQ(layout.labels.size(), 2u);
    EXPECT_EQ(layout.labels[1].text, "Format Entier");
    EXPECT_EQ(layout.labels[1].item, 2);
    const PlacedControl& field = byId(layout, 100);
    const PlacedControl& titled = byId(layout, 101);
    EXPECT_EQ(titled.kind, PlacedKind::List);
    EXPECT_EQ(titled.x, field.x);
    // Without a title the list starts its column; the check box follows it.
    EXPECT_EQ(byId(layout, 102).x, layout.labels[0].x);
    EXPECT_EQ(byId(layout, 103).kind, PlacedKind::Check);
    expectSound(layout);
}

TEST(ParamLayout, ClosedListsAreOneLineAndControlsGrowToTheirText)
{
    int32_t list = 0, wide = 0, n = INT32_MIN;
    double real = -123456789.5;
    ParamBox box = parse("A,B%lCourt,Une entrée nettement plus longue que vingt caractères%L%n"
                         "N%dR%f",
        { &list, &wide, &n, &real });
    ParamLayout layout = layoutParamBox(box, FakeMetrics());
    const PlacedControl& shortList = layout.controls[0];
    const PlacedControl& longList = layout.controls[1];
    EXPECT_EQ(shortList.height, 24);
    EXPECT_EQ(shortList.width, 20 * 8 + 10);
    EXPECT_EQ(longList.width, 50 * 8 + 10);
    const PlacedControl& intField = layout.controls[2];
    const PlacedControl& realField = layout.controls[3];
    EXPECT_EQ(intField.text, "-2147483648");
    EXPECT_GE(intField.width, sixPerByte(intField.text) + 10);
    EXPECT_GE(realField.width, sixPerByte(realField.text) + 10);
    expectSound(layout);

    // An entry longer than the nominal width widens the list, within bounds.
    std::string entry(150, 'x');
    box = parse((entry + "%l").c_str(), { &list });
    layout = layoutParamBox(box, FakeMetrics());
    EXPECT_EQ(layout.controls[0].width, 100 * 8 + 10);
}

TEST(ParamLayout, ARowsLastCellDoesNotWidenItsColumn)
{
    char text[1000] = "";
    int32_t a = 0, b = 0;
    ParamBox box = parse("Nom%s%nA%dB%d%n", { text, &a, &b });
    ParamLayout layout = layoutParamBox(box, FakeMetrics());
    const PlacedControl& name = layout.controls[0];
    const PlacedControl& second = layout.controls[2];
    EXPECT_LT(second.x, name.x + name.width);
    // The labels of one column share their width, so the fields line up.
    EXPECT_EQ(name.x, layout.controls[1].x);
    expectSound(layout);
}

TEST(ParamLayout, FileFieldTakesTwoIdentifiersAndStretchesWithTheDialog)
{
    char path[300] = "/data/cube.gdr";
    double f = 0;
    ParamBox box = parse("Fichier%h%nFréquence%f", { path, &f });
    box.cancellable = true;
    ParamLayout layout = layoutParamBox(box, FakeMetrics());
    ASSERT_EQ(layout.controls.size(), 5u);
    const PlacedControl& field = byId(layout, 100);
    const PlacedControl& choose = byId(layout, 101);
    EXPECT_EQ(field.kind, PlacedKind::FileField);
    EXPECT_EQ(field.text, "/data/cube.gdr");
    EXPECT_EQ(choose.kind, PlacedKind::ChooserButton);
    EXPECT_GE(choose.x, field.x + field.width);
    EXPECT_EQ(byId(layout, 102).kind, PlacedKind::RealField);
    ASSERT_EQ(layout.labels.size(), 2u);
    EXPECT_EQ(layout.labels[1].text, "Fréquence");
    expectSound(layout);

    // Smaller than laid out changes nothing; larger widens the field, moves "Choix"
    // along and keeps the buttons centred at the bottom.
    ParamLayout same = fitParamLayout(layout, 10, 10);
    EXPECT_EQ(same.clientWidth, layout.clientWidth);
    EXPECT_EQ(byId(same, 100).width, field.width);
    ParamLayout wider = fitParamLayout(layout, layout.clientWidth + 100, layout.clientHeight + 40);
    EXPECT_EQ(byId(wider, 100).width, field.width + 100);
    EXPECT_EQ(byId(wider, 101).x, choose.x + 100);
    EXPECT_EQ(byId(wider, 102).x, byId(layout, 102).x);
    EXPECT_EQ(byId(wider, kOkId).x, byId(layout, kOkId).x + 50);
    EXPECT_EQ(byId(wider, kCancelId).y, byId(layout, kCancelId).y + 40);
    expectSound(wider);
}

TEST(ParamLayout, BlankRowsKeepTheirPlaceAndRawImportLaysOutSoundly)
{
    int32_t a = 0, b = 0;
    ParamBox box = parse("A%d%n%nB%d", { &a, &b });
    ParamLayout layout = layoutParamBox(box, FakeMetrics());
    EXPECT_GE(layout.controls[1].y - layout.controls[0].y, 24 + 16);

    int32_t v[10] = {};
    std::vector<Binding> bindings;
    for (int32_t& x : v)
        bindings.emplace_back(&x);
    box = parse("Taille Entete%dw%dh%dd%dFile%c%nFormat%tEntier,Flottant%lLittle Endian%c%n"
                "Format Entier%tNon signé,Signé%lNb bits%t8,16,32%l%n"
                "Format Flottant%tFloat,Double%l",
        bindings);
    expectSound(layoutParamBox(box, FakeMetrics()));
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
