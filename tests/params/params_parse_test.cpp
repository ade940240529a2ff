#include "params/parambox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vexa::params;

namespace {

struct Parsed {
    ParamBox box;
    size_t bindingsUsed = 0;
};

Parsed parse(const char* description, std::vector<Binding> bindings = {})
{
    Parsed p;
    ListBindings source(std::move(bindings));
    parseDescription(p.box, description, source);
    p.bindingsUsed = source.used();
    return p;
}

std::vector<int32_t> kinds(const ParamBox& box)
{
    std::vector<int32_t> k;
    for (const ParamItem& item : box.items)
        k.push_back(item.kind);
    return k;
}

std::vector<std::string> labels(const ParamBox& box)
{
    std::vector<std::string> l;
    for (const ParamItem& item : box.items)
        l.push_back(item.label);
    return l;
}

void noop(void*) { }

} // namespace

TEST(ParamParse, EveryDirectiveLetterGivesItsKindAndTakesItsBindings)
{
    int i = 0, list = 0, wide = 0, flag = 0, arg = 0;
    double r = 0;
    char text[1000] = "", path[300] = "";
    Parsed p = parse(
        "a%db%fc%sd%he%lf%Lg%ch%Pi%tj%n", { &i, &r, text, path, &list, &wide, &flag, &noop, &arg });
    EXPECT_EQ(p.box.valid, 1);
    EXPECT_EQ(kinds(p.box),
        (std::vector<int32_t> { PARAM_INT, PARAM_REAL, PARAM_STRING, PARAM_FILE, PARAM_LIST,
            PARAM_LONGLIST, PARAM_CHECK, PARAM_BUTTON, PARAM_TITLE, PARAM_NEWLINE }));
    EXPECT_EQ(labels(p.box),
        (std::vector<std::string> { "a", "b", "c", "d", "e", "f", "g", "h", "i", "j" }));
    EXPECT_EQ(p.bindingsUsed, 9u);
    std::vector<void*> expected { &i, &r, text, path, &list, &wide, &flag, &arg, nullptr, nullptr };
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(p.box.items[k].value, expected[k]) << k;
    EXPECT_EQ(p.box.items[7].procedure, &noop);
    EXPECT_EQ(PARAM_REAL, 3);
}

TEST(ParamParse, EmptyDescriptionIsValidAndAddsNothing)
{
    Parsed p = parse("");
    EXPECT_EQ(p.box.valid, 1);
    EXPECT_EQ(p.box.count(), 0);
}

TEST(ParamParse, UnknownLetterInvalidatesButKeepsItemsReadBefore)
{
    int a = 0, b = 0;
    Parsed atOnce = parse("%x%d", { &a });
    EXPECT_EQ(atOnce.box.valid, 0);
    EXPECT_EQ(atOnce.box.count(), 0);
    EXPECT_EQ(atOnce.bindingsUsed, 0u);

    Parsed later = parse("A%dB%xC%d", { &a, &b });
    EXPECT_EQ(later.box.valid, 0);
    ASSERT_EQ(later.box.count(), 1);
    EXPECT_EQ(later.box.items[0].value, &a);
    EXPECT_EQ(later.bindingsUsed, 1u);
}

TEST(ParamParse, LettersAreCaseSensitive)
{
    int a = 0;
    EXPECT_EQ(parse("Taille%D", { &a }).box.valid, 0);
    EXPECT_EQ(parse("%l", { &a }).box.items.at(0).kind, PARAM_LIST);
    EXPECT_EQ(parse("%L", { &a }).box.items.at(0).kind, PARAM_LONGLIST);
    EXPECT_EQ(parse("%p", { &a }).box.valid, 0);
}

TEST(ParamParse, LabelIsTheTextBetweenDirectivesAndTrailingTextIsDropped)
{
    int a = 0;
    Parsed p = parse("A%dB", { &a });
    ASSERT_EQ(p.box.count(), 1);
    EXPECT_EQ(p.box.items[0].label, "A");

    Parsed row = parse("Nom, prénom : %tFin de ligne%n");
    EXPECT_EQ(labels(row.box), (std::vector<std::string> { "Nom, prénom : ", "Fin de ligne" }));
    EXPECT_EQ(row.box.items[1].kind, PARAM_NEWLINE);
}

TEST(ParamParse, DoublePercentReopensTheSlotAndLosesTheLabel)
{
    int a = 0;
    Parsed p = parse("A%%d", { &a });
    ASSERT_EQ(p.box.count(), 1);
    EXPECT_EQ(p.box.items[0].label, "");
    EXPECT_EQ(p.box.items[0].kind, PARAM_INT);
    EXPECT_EQ(p.box.valid, 1);
}

TEST(ParamParse, TrailingPercentAddsNoItem)
{
    int a = 0;
    Parsed p = parse("A%dB%", { &a });
    EXPECT_EQ(p.box.count(), 1);
    EXPECT_EQ(p.box.valid, 1);
}

TEST(ParamParse, ButtonTakesProcedureThenArgument)
{
    int arg = 0;
    double alpha = 0;
    Parsed p = parse("Couleur Diffuse%PAlpha%f%n", { &noop, &arg, &alpha });
    ASSERT_EQ(p.box.count(), 3);
    EXPECT_EQ(p.box.items[0].procedure, &noop);
    EXPECT_EQ(p.box.items[0].value, &arg);
    EXPECT_EQ(p.box.items[1].value, &alpha);
    EXPECT_EQ(p.bindingsUsed, 3u);
}

TEST(ParamParse, StopsSilentlyAtTwoHundredItems)
{
    std::string description;
    std::vector<Binding> bindings;
    std::vector<int> values(201);
    for (int i = 0; i < 201; ++i) {
        description += "v" + std::to_string(i) + "%d";
        bindings.emplace_back(&values[i]);
    }
    Parsed p = parse(description.c_str(), bindings);
    EXPECT_EQ(p.box.count(), PARAM_MAX_ITEMS);
    EXPECT_EQ(p.box.valid, 1);
    EXPECT_EQ(p.bindingsUsed, 200u);
    EXPECT_EQ(p.box.items.back().label, "v199");

    // A full box takes nothing more, not even an invalid directive.
    ListBindings more({ &values[0] });
    parseDescription(p.box, "X%d%x", more);
    EXPECT_EQ(p.box.count(), PARAM_MAX_ITEMS);
    EXPECT_EQ(p.box.valid, 1);
    EXPECT_EQ(more.used(), 0u);
}

TEST(ParamParse, AppendAddsItemsWithTheAppendsOwnBindings)
{
    int a = 0, b = 0, d = 0;
    Parsed p = parse("A%dB%d%n", { &a, &b });
    ASSERT_EQ(p.box.count(), 3);
    ListBindings appended({ &d });
    parseDescription(p.box, "%d%n", appended);
    ASSERT_EQ(p.box.count(), 5);
    EXPECT_EQ(p.box.items[3].value, &d);
    EXPECT_EQ(p.box.items[3].label, "");
}

TEST(ParamParse, AppendSetsValidityFromItsOwnParse)
{
    int a = 0, b = 0;
    Parsed p = parse("A%d%q", { &a });
    EXPECT_EQ(p.box.valid, 0);
    ListBindings appended({ &b });
    parseDescription(p.box, "B%d", appended);
    EXPECT_EQ(p.box.valid, 1);
    EXPECT_EQ(p.box.count(), 2);
}

TEST(ParamParse, NullDescriptionIsAFailedParse)
{
    Parsed p = parse(nullptr);
    EXPECT_EQ(p.box.valid, 0);
    EXPECT_EQ(p.box.count(), 0);
}

TEST(ParamParse, HugeLabelIsKeptWhole)
{
    std::string description(1 << 20, 'x');
    description += "%t";
    Parsed p = parse(description.c_str());
    ASSERT_EQ(p.box.count(), 1);
    EXPECT_EQ(p.box.items[0].label.size(), size_t { 1 } << 20);
}

TEST(ParamParse, VariadicBindingsFromCxx)
{
    int arg = 0;
    double alpha = 0;
    ParamBox* box = dozBoxParameterAdd(nullptr, "Couleur Diffuse%PAlpha%f%n", &noop, &arg, &alpha);
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->count(), 3);
    EXPECT_EQ(box->items[0].procedure, &noop);
    EXPECT_EQ(box->items[0].value, &arg);
    EXPECT_EQ(box->items[1].value, &alpha);
    ParamBox* same = dozBoxParameterAdd(box, nullptr);
    EXPECT_EQ(same, box);
    EXPECT_EQ(box->valid, 0);
    EXPECT_EQ(box->count(), 3);
    dozBoxParameterRelease(box);
    dozBoxParameterRelease(nullptr);
}
