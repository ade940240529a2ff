#include "params/paramdialog.h"
#include "script/scriptrunner.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace vexa::script;

namespace {

class ScriptFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        path = dir.file("script.txt");
        std::ofstream(path, std::ios::binary);
    }
    void TearDown() override { vexa::params::setParamDialogPresenter(nullptr); }

    void write(const std::string& content)
    {
        std::ofstream out(path, std::ios::binary);
        out << content;
    }

    bool run()
    {
        log.clear();
        return runScriptFile(path, [&](int channel, const std::string& line) {
            EXPECT_EQ(channel, kScriptLogChannel);
            log.push_back(line);
        });
    }

    bool logged(const std::string& line) const
    {
        return std::find(log.begin(), log.end(), line) != log.end();
    }

    std::vector<std::string> results() const
    {
        std::vector<std::string> r;
        for (const std::string& line : log)
            if (line.rfind("Résultat : ", 0) == 0)
                r.push_back(line);
        return r;
    }

    vexatest::TempDir dir { "vexa-script" };
    std::string path;
    std::vector<std::string> log;
};

} // namespace

TEST_F(ScriptFile, EveryLineReportsItsResult)
{
    write("2,5\r\n((7))\n-3\n1+2*3\nSIN(0)\n");
    EXPECT_TRUE(run());
    EXPECT_EQ(results(),
        (std::vector<std::string> { "Résultat : 2.500000", "Résultat : 7.000000",
            "Résultat : -3.000000", "Résultat : 7.000000", "Résultat : 0.000000" }));
    EXPECT_EQ(log.at(0), "2,5"); // the line itself, carriage return removed
}

TEST_F(ScriptFile, LexicalErrorReportsLineAndCorrectPrefixThenStops)
{
    write("1\n\n1+*2\n3\n");
    EXPECT_FALSE(run());
    EXPECT_TRUE(logged("Erreur de script à la ligne 2 : 1+*2")); // empty lines are not counted
    EXPECT_TRUE(logged("Code correct : 1+"));
    EXPECT_EQ(results().size(), 1u);
    EXPECT_FALSE(logged("3"));
}

TEST_F(ScriptFile, ErrorOnTheFirstCharacterHasAnEmptyCorrectPart)
{
    write("*2\n");
    EXPECT_FALSE(run());
    EXPECT_EQ(log.back(), "Code correct : ");
    EXPECT_EQ(log[log.size() - 2], "Erreur de script à la ligne 1 : *2");
}

TEST_F(ScriptFile, LineLeftWithAnOperatorStopsWithoutMessage)
{
    write("2 +1\n5\n");
    EXPECT_FALSE(run());
    EXPECT_TRUE(results().empty());
    for (const std::string& line : log)
        EXPECT_EQ(line.find("Erreur"), std::string::npos);
}

TEST_F(ScriptFile, MissingFileIsReported)
{
    std::remove(path.c_str());
    EXPECT_FALSE(run());
    EXPECT_EQ(log, std::vector<std::string> { "Fichier inconnu" });
}

TEST_F(ScriptFile, LongLinesAreReadInPiecesOf198)
{
    // 198 digits then "+1": the second piece begins with an operator.
    write(std::string(198, '1') + "*2\n");
    EXPECT_FALSE(run());
    EXPECT_TRUE(logged("Erreur de script à la ligne 2 : *2"));
}

TEST_F(ScriptFile, NulByteEndsTheLine)
{
    write(std::string("4\0+zzz\n5\n", 9));
    EXPECT_TRUE(run());
    EXPECT_EQ(
        results(), (std::vector<std::string> { "Résultat : 4.000000", "Résultat : 5.000000" }));
}

TEST_F(ScriptFile, ScriptCommandAsksForThePathAndRemembersIt)
{
    write("6/4\n");
    EXPECT_FALSE(runScriptCommand({})); // no dialog: nothing runs
    std::string chosen = path;
    vexa::params::setParamDialogPresenter([&](ParamBox* box) {
        EXPECT_EQ(box->count(), 2);
        std::vector<std::string> typed { chosen, "" };
        vexa::params::validateParamBox(*box, typed);
        return 1;
    });
    std::vector<std::string> lines;
    EXPECT_TRUE(runScriptCommand([&](int, const std::string& l) { lines.push_back(l); }));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Résultat : 1.500000"), lines.end());
    EXPECT_EQ(scriptCommandPath(), path);
}
