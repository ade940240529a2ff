#include "script/scriptreduce.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace vexa::script;

namespace {

struct Traced {
    LexResult lexed;
    std::vector<std::string> lines;
};

Traced lex(std::string_view line)
{
    Traced t;
    TraceSink sink = [&](const std::string& s) { t.lines.push_back(s); };
    t.lexed = lexLine(line, sink);
    return t;
}

// Lexes and reduces; the value when one number is left.
std::optional<double> evaluate(std::string_view line, bool* reduced = nullptr)
{
    LexResult lexed = lexLine(line, {});
    if (!lexed.ok)
        return std::nullopt;
    bool ok = reduceTokens(lexed.tokens, {});
    if (reduced)
        *reduced = ok;
    if (lexed.tokens.size() == 1 && lexed.tokens[0].kind == kTokenNumber)
        return lexed.tokens[0].value;
    return std::nullopt;
}

} // namespace

TEST(ScriptLexer, CommaIsADecimalSeparator)
{
    Traced t = lex("2,5");
    ASSERT_TRUE(t.lexed.ok);
    ASSERT_EQ(t.lexed.tokens.size(), 1u);
    const Token& n = t.lexed.tokens[0];
    EXPECT_EQ(n.kind, kTokenNumber);
    EXPECT_EQ(n.value, 2.5);
    EXPECT_EQ(n.data, std::vector<double> { 2.5 });
    EXPECT_EQ(n.width, 1);
    EXPECT_EQ(n.height, 1);
    EXPECT_EQ(t.lines, (std::vector<std::string> { "2,5", "N(2.5)" }));
}

TEST(ScriptLexer, LeadingSignBelongsToTheNumber)
{
    Traced t = lex("-3");
    ASSERT_EQ(t.lexed.tokens.size(), 1u);
    EXPECT_EQ(t.lexed.tokens[0].value, -3.0);
    Traced inner = lex("(+4)");
    ASSERT_EQ(inner.lexed.tokens.size(), 3u);
    EXPECT_EQ(inner.lexed.tokens[1].value, 4.0);
}

TEST(ScriptLexer, ExponentMarkAndMinusAfterIt)
{
    EXPECT_EQ(lex("1e3").lexed.tokens.at(0).value, 1000.0);
    Traced t = lex("1e-3");
    ASSERT_EQ(t.lexed.tokens.size(), 3u);
    EXPECT_EQ(t.lexed.tokens[0].value, 1.0);
    EXPECT_EQ(t.lexed.tokens[0].text, "1e");
    EXPECT_EQ(t.lexed.tokens[1].code, kOpSub);
    EXPECT_EQ(t.lexed.tokens[2].value, 3.0);
}

TEST(ScriptLexer, TracesEveryTokenAsTextThenForm)
{
    Traced t = lex("SIN(2*x)/1");
    ASSERT_TRUE(t.lexed.ok);
    EXPECT_EQ(t.lines,
        (std::vector<std::string> { "SIN", "U(SIN)", "(", "PHO(1)", "2", "N(2)", "*", "OP2(*)", "x",
            "U(x)", ")", "PHF(1)", "/", "OP2(/)", "1", "N(1)" }));
    EXPECT_EQ(t.lexed.tokens[0].code, kNameSin);
    EXPECT_EQ(t.lexed.tokens[4].code, 0); // "x" is a plain name
    EXPECT_EQ(t.lexed.tokens[1].depth, 1);
}

TEST(ScriptLexer, BlankAfterANumberMakesItAName)
{
    Traced t = lex("2 +1");
    ASSERT_TRUE(t.lexed.ok);
    ASSERT_EQ(t.lexed.tokens.size(), 3u);
    EXPECT_EQ(t.lexed.tokens[0].kind, kTokenName);
    EXPECT_EQ(t.lexed.tokens[0].text, "2 ");
    EXPECT_EQ(t.lexed.tokens[1].kind, kTokenOperator);
}

TEST(ScriptLexer, NestedParenthesesCarryTheirDepth)
{
    Traced t = lex("((7))");
    ASSERT_EQ(t.lexed.tokens.size(), 5u);
    EXPECT_EQ(t.lexed.tokens[0].depth, 1);
    EXPECT_EQ(t.lexed.tokens[1].depth, 2);
    EXPECT_EQ(t.lexed.tokens[3].depth, 2);
    EXPECT_EQ(t.lexed.tokens[4].depth, 1);
}

TEST(ScriptLexer, ErrorsStopAtTheOffendingCharacter)
{
    struct Case {
        const char* line;
        size_t position;
    };
    const Case cases[] = { { "*2", 0 }, { "(/2)", 1 }, { "1+*2", 2 }, { "1+-2", 2 }, { "2..5", 2 },
        { "1,2.3", 3 }, { "1)2", 2 }, { "2(3)", 1 }, { "1+)", 2 }, { "1ee", 2 }, { "(1)e", 3 },
        { "eXe", 2 } };
    for (const Case& c : cases) {
        LexResult r = lexLine(c.line, {});
        EXPECT_FALSE(r.ok) << c.line;
        EXPECT_EQ(r.errorPosition, c.position) << c.line;
    }
}

TEST(ScriptLexer, TokenTextIsCappedButTheNumberStillReads)
{
    std::string digits(500, '1');
    LexResult r = lexLine("0," + digits, {});
    ASSERT_EQ(r.tokens.size(), 1u);
    EXPECT_EQ(r.tokens[0].text.size(), kMaxTokenText);
    EXPECT_NEAR(r.tokens[0].value, 0.1111111111, 1e-9);
}

TEST(ScriptReduction, ParenthesesAroundOneTokenAreRemovedStepByStep)
{
    LexResult r = lexLine("((7))", {});
    std::vector<std::string> steps;
    EXPECT_TRUE(reduceTokens(r.tokens, [&](const std::string& s) { steps.push_back(s); }));
    EXPECT_EQ(steps, (std::vector<std::string> { "((7))", "(7)", "7" }));
    ASSERT_EQ(r.tokens.size(), 1u);
    EXPECT_EQ(r.tokens[0].value, 7.0);
}

TEST(ScriptReduction, OperatorsFollowTheUsualPrecedence)
{
    struct Case {
        const char* line;
        double value;
    };
    const Case cases[] = { { "1+2*3", 7 }, { "(1+2)*3", 9 }, { "10-4-3", 3 }, { "8/4/2", 1 },
        { "2*(3+(4-1))/3", 4 }, { "(-3)*(-2)", 6 }, { "1,5*2", 3 }, { "2-3*4+1", -9 },
        { "((2))*((3))", 6 }, { "1e3/1e2", 10 }, { "(-1)-(-1)", 0 }, { "7", 7 } };
    for (const Case& c : cases) {
        auto v = evaluate(c.line);
        ASSERT_TRUE(v.has_value()) << c.line;
        EXPECT_DOUBLE_EQ(*v, c.value) << c.line;
    }
}

TEST(ScriptReduction, SineOfAParenthesisedArgument)
{
    EXPECT_DOUBLE_EQ(*evaluate("SIN(0)"), 0.0);
    EXPECT_DOUBLE_EQ(*evaluate("SIN(1+2)"), std::sin(3.0));
    EXPECT_DOUBLE_EQ(*evaluate("2*SIN(1,5)+1"), 2 * std::sin(1.5) + 1);
    EXPECT_DOUBLE_EQ(*evaluate("SIN(SIN(1))"), std::sin(std::sin(1.0)));
    // Only the exact name is the sine.
    bool reduced = false;
    EXPECT_FALSE(evaluate("sin(1)", &reduced).has_value());
    EXPECT_TRUE(reduced);
}

TEST(ScriptReduction, LinesThatKeepAnOperatorFail)
{
    for (const char* line : { "2 +1", "x+1", "(1+2", "1+2)", "SIN+1", "(1+x)*2", ")(1+2" }) {
        bool reduced = true;
        evaluate(line, &reduced);
        EXPECT_FALSE(reduced) << line;
    }
    // No operator left: the line succeeds even without a number to report.
    for (const char* line : { "abc", "()", "SIN", "(a(2))" }) {
        bool reduced = false;
        EXPECT_FALSE(evaluate(line, &reduced).has_value()) << line;
        EXPECT_TRUE(reduced) << line;
    }
}

TEST(ScriptReduction, TraceOfTokenTextsIsCapped)
{
    std::string line;
    for (int i = 0; i < 400; ++i)
        line += "(1)+";
    line += "1";
    LexResult r = lexLine(line, {});
    ASSERT_TRUE(r.ok);
    size_t longest = 0;
    EXPECT_TRUE(reduceTokens(
        r.tokens, [&](const std::string& s) { longest = std::max(longest, s.size()); }));
    EXPECT_EQ(longest, kMaxReductionTrace);
    EXPECT_EQ(r.tokens.at(0).value, 401.0);
}

TEST(ScriptReduction, AnyBytesEnd)
{
    // Lines from the script alphabet and from arbitrary bytes. A refused line points at
    // one of its characters; a lexed one reduces in at most one pass per parenthesis
    // pair plus a last one, never gains tokens, and fails exactly when an operator is
    // left.
    std::mt19937 rng(12345);
    const std::string alphabet = "0123456789.,eE+-*/()SIN x\t\xff";
    auto countKind = [](const std::vector<Token>& tokens, int32_t kind) {
        return std::count_if(
            tokens.begin(), tokens.end(), [&](const Token& t) { return t.kind == kind; });
    };
    int reducedLines = 0;
    for (int n = 0; n < 3000; ++n) {
        std::string line(rng() % 40, ' ');
        for (char& c : line)
            c = (n % 2) ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() % 256);
        const std::string shown = ::testing::PrintToString(line);
        LexResult r = lexLine(line, {});
        if (!r.ok) {
            EXPECT_LT(r.errorPosition, line.size()) << shown;
            continue;
        }
        const auto opens = countKind(r.tokens, kTokenOpen);
        const size_t before = r.tokens.size();
        long passes = 0;
        const bool reduced = reduceTokens(r.tokens, [&](const std::string&) { ++passes; });
        EXPECT_LE(passes, opens + 1) << shown;
        EXPECT_LE(r.tokens.size(), before) << shown;
        EXPECT_EQ(reduced, countKind(r.tokens, kTokenOperator) == 0) << shown;
        ++reducedLines;
    }
    // The random lines do reach the reduction, not only the lexer's refusals.
    EXPECT_GT(reducedLines, 100);
}
