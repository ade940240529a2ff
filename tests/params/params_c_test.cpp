#include "params/paramdialog.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vexa::params;

extern "C" {
int paramsFromCMixed(
    int* integer, double* real, char* text, char* path, int* list, int* check, int* presses);
int paramsFromCRawImport(int v[10]);
int paramsFromCPieces(int* first, double* second, int* third);
int paramsFromCInvalidPieces(int* first, int* second);
}

namespace {

// Stands in for the dialog: shows nothing, lets each test act as the user would.
class ScriptedDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        setParamDialogPresenter([this](ParamBox* box) {
            ++shown;
            itemCount = box->count();
            initialTexts.clear();
            for (const ParamItem& item : box->items)
                initialTexts.push_back(fieldText(item));
            return user ? user(*box) : 0;
        });
    }
    void TearDown() override
    {
        setParamDialogPresenter(nullptr);
        setFileChooserPresenter(nullptr);
    }

    std::function<int(ParamBox&)> user;
    int shown = 0;
    int itemCount = 0;
    std::vector<std::string> initialTexts;
};

} // namespace

TEST_F(ScriptedDialog, CCallerGetsTypedValuesAfterOk)
{
    int integer = 7, list = 0, check = 0, presses = 0;
    double real = 2.5;
    char text[1000] = "abc";
    char path[300] = "/old.raw";
    setFileChooserPresenter([](const FileSelector&) { return std::string("/data/cube.gdr"); });
    user = [](ParamBox& box) {
        // Entier, Reel, newline, Texte, newline, Fichier, newline, list, check, button, newline
        EXPECT_EQ(box.count(), 11);
        chooseFile(box.items[5]);
        selectListEntry(box.items[7], 2);
        toggleCheck(box.items[8]);
        pressButton(box.items[9]);
        pressButton(box.items[9]);
        std::vector<std::string> typed(box.items.size());
        typed[0] = " -42 ";
        typed[1] = "1,5";
        typed[3] = "nouveau texte";
        validateParamBox(box, typed);
        return 1;
    };
    EXPECT_EQ(paramsFromCMixed(&integer, &real, text, path, &list, &check, &presses), 1);
    EXPECT_EQ(initialTexts[0], "7");
    EXPECT_EQ(initialTexts[1], "2.500000");
    EXPECT_EQ(initialTexts[3], "abc");
    EXPECT_EQ(initialTexts[5], "/old.raw");
    EXPECT_EQ(integer, -42);
    EXPECT_EQ(real, 1.5);
    EXPECT_STREQ(text, "nouveau texte");
    EXPECT_STREQ(path, "/data/cube.gdr");
    EXPECT_EQ(list, 2);
    EXPECT_EQ(check, 1);
    EXPECT_EQ(presses, 2);
}

TEST_F(ScriptedDialog, ClosingKeepsLiveChangesButNotTypedFields)
{
    int integer = 7, list = 0, check = 0, presses = 0;
    double real = 2.5;
    char text[1000] = "abc";
    char path[300] = "";
    user = [](ParamBox& box) {
        toggleCheck(box.items[8]);
        selectListEntry(box.items[7], 1);
        return 0;
    };
    EXPECT_EQ(paramsFromCMixed(&integer, &real, text, path, &list, &check, &presses), 0);
    EXPECT_EQ(integer, 7);
    EXPECT_EQ(real, 2.5);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(check, 1);
    EXPECT_EQ(list, 1);
}

TEST_F(ScriptedDialog, RawImportBindsTenVariablesInTextOrder)
{
    int v[10] = {};
    std::vector<void*> bound;
    std::vector<int32_t> kinds;
    user = [&](ParamBox& box) {
        for (const ParamItem& item : box.items) {
            kinds.push_back(item.kind);
            if (item.value)
                bound.push_back(item.value);
        }
        return 1;
    };
    EXPECT_EQ(paramsFromCRawImport(v), 1);
    EXPECT_EQ(itemCount, 17);
    ASSERT_EQ(bound.size(), 10u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(bound[i], &v[i]) << i;
    EXPECT_EQ(kinds.back(), PARAM_LIST);
}

TEST_F(ScriptedDialog, PiecesBuiltWithAddKeepTheirOwnBindings)
{
    int first = 1, third = 3;
    double second = 2;
    user = [](ParamBox& box) {
        std::vector<std::string> typed { "10", "", "20,5", "30", "" };
        validateParamBox(box, typed);
        return 1;
    };
    EXPECT_EQ(paramsFromCPieces(&first, &second, &third), 1);
    EXPECT_EQ(itemCount, 5);
    EXPECT_EQ(first, 10);
    EXPECT_EQ(second, 20.5);
    EXPECT_EQ(third, 30);
}

TEST_F(ScriptedDialog, InvalidBoxIsNeverShownAndReleased)
{
    int first = 1, second = 2;
    user = [](ParamBox&) { return 1; };
    EXPECT_EQ(paramsFromCInvalidPieces(&first, &second), 0);
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(dozBoxParameter("%x%d", &first), 0);
    EXPECT_EQ(dozBoxParameter(nullptr), 0);
    EXPECT_EQ(dozBoxParameterDialog(nullptr), 0);
    EXPECT_EQ(shown, 0);
}

TEST_F(ScriptedDialog, EmptyDescriptionShowsADialogWithOnlyOk)
{
    user = [](ParamBox& box) { return box.count() == 0 ? 1 : 0; };
    EXPECT_EQ(dozBoxParameter(""), 1);
    EXPECT_EQ(shown, 1);
}

TEST_F(ScriptedDialog, OnlyBoxesOfTheProgramOfferCancel)
{
    std::vector<bool> cancellable;
    user = [&](ParamBox& box) {
        cancellable.push_back(box.cancellable);
        return 1;
    };
    int v = 0;
    EXPECT_EQ(dozBoxParameter("V%d", &v), 1);
    EXPECT_EQ(dozBoxParameterDialog(dozBoxParameterAdd(nullptr, "V%d", &v)), 1);
    EXPECT_EQ(dozBoxParameterPlugin("V%d", &v), 1);
    EXPECT_EQ(dozBoxParameterDialogPlugin(dozBoxParameterAdd(nullptr, "V%d", &v)), 1);
    EXPECT_EQ(cancellable, (std::vector<bool> { true, true, false, false }));
    EXPECT_EQ(dozBoxParameterPlugin("V%x", &v), 0); // invalid: never shown
    EXPECT_EQ(dozBoxParameterDialogPlugin(nullptr), 0);
    EXPECT_EQ(shown, 4);
}

TEST(ParamDialogWithoutPresenter, AnswersClosed)
{
    int v = 4;
    EXPECT_EQ(dozBoxParameter("%d", &v), 0);
    EXPECT_EQ(v, 4);
    EXPECT_EQ(dozBoxParameterDialog(dozBoxParameterAdd(nullptr, "%d", &v)), 0);
}
