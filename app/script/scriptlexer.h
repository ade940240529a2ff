// Script lines: one arithmetic expression per line, written without blanks, cut into
// tokens (numbers, names, the four operators, parentheses) and reduced.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::script {

// Receives every trace line of the script machinery.
using TraceSink = std::function<void(const std::string&)>;

enum TokenKind : int32_t {
    kTokenName = 0,
    kTokenNumber = 1,
    kTokenOperator = 3,
    kTokenOpen = 4,
    kTokenClose = 5
};

enum OperatorCode : int32_t { kOpAdd = 0, kOpSub = 1, kOpMul = 2, kOpDiv = 3 };

// Code of a name token whose text is exactly "SIN".
constexpr int32_t kNameSin = 51;

// Longest token text kept; further characters of the token are read but not stored.
constexpr size_t kMaxTokenText = 199;

struct Token {
    int32_t kind = kTokenName;
    std::string text;
    double value = 0.0; // numbers
    int32_t code = 0; // operators, and kNameSin for names
    int32_t depth = 0; // parentheses, 1 for the outermost pair
    std::vector<double> data; // numbers: 1 x 1
    int32_t width = 0, height = 0;
};

struct LexResult {
    bool ok = true;
    // On error: index in the line of the character where the error was found.
    size_t errorPosition = 0;
    std::vector<Token> tokens;
};

// Cuts a line into tokens. Every emitted token is traced as its text and then its form
// ("N(%g)", "U(%s)", "OP2(+)", "PHO(%d)", "PHF(%d)"). trace may be empty.
LexResult lexLine(std::string_view line, const TraceSink& trace);

// Makes a number token.
Token numberToken(double value, std::string text);

} // namespace vexa::script
