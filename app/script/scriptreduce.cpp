#include "script/scriptreduce.h"

#include <cmath>
#include <cstdio>

namespace vexa::script {
namespace {

std::string valueText(double v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}

void traceTexts(const std::vector<Token>& tokens, const TraceSink& trace)
{
    if (!trace)
        return;
    std::string all;
    for (const Token& t : tokens) {
        if (all.size() >= kMaxReductionTrace)
            break;
        all.append(t.text, 0, kMaxReductionTrace - all.size());
    }
    trace(all);
}

double apply(int32_t code, double a, double b)
{
    switch (code) {
    case kOpAdd:
        return a + b;
    case kOpSub:
        return a - b;
    case kOpMul:
        return a * b;
    default:
        return a / b;
    }
}

// Evaluates tokens[begin, end) when it reads number (operator number)* with at least
// one operator, replacing it by one number token. Returns the new end of the range.
size_t evaluateFlat(std::vector<Token>& tokens, size_t begin, size_t end)
{
    size_t n = end - begin;
    if (n < 3 || n % 2 == 0)
        return end;
    for (size_t i = 0; i < n; ++i) {
        const Token& t = tokens[begin + i];
        if (t.kind != (i % 2 == 0 ? kTokenNumber : kTokenOperator))
            return end;
    }
    // "*" and "/" bind first; what is left is summed from left to right.
    std::vector<double> terms { tokens[begin].value };
    std::vector<int32_t> additive;
    for (size_t i = 1; i < n; i += 2) {
        int32_t code = tokens[begin + i].code;
        double rhs = tokens[begin + i + 1].value;
        if (code == kOpMul || code == kOpDiv) {
            terms.back() = apply(code, terms.back(), rhs);
        } else {
            additive.push_back(code);
            terms.push_back(rhs);
        }
    }
    double result = terms[0];
    for (size_t i = 0; i < additive.size(); ++i)
        result = apply(additive[i], result, terms[i + 1]);

    tokens[begin] = numberToken(result, valueText(result));
    tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(begin + 1),
        tokens.begin() + static_cast<std::ptrdiff_t>(end));
    return begin + 1;
}

// The innermost pair: the first opening token of the greatest depth and the first
// closing token of that depth after it.
bool innermostPair(const std::vector<Token>& tokens, size_t& open, size_t& close)
{
    bool anyOpen = false;
    int32_t deepest = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind == kTokenOpen && (!anyOpen || tokens[i].depth > deepest)) {
            anyOpen = true;
            deepest = tokens[i].depth;
            open = i;
        }
    }
    if (!anyOpen)
        return false;
    for (size_t i = open + 1; i < tokens.size(); ++i) {
        if (tokens[i].kind == kTokenClose && tokens[i].depth == deepest) {
            close = i;
            return true;
        }
    }
    return false;
}

} // namespace

bool reduceTokens(std::vector<Token>& tokens, const TraceSink& trace)
{
    // Every pass removes a parenthesis pair or stops, so any line ends.
    for (;;) {
        traceTexts(tokens, trace);
        size_t open = 0, close = 0;
        if (!innermostPair(tokens, open, close)) {
            evaluateFlat(tokens, 0, tokens.size());
            break;
        }
        close = evaluateFlat(tokens, open + 1, close);
        size_t inner = close - open - 1;
        if (inner > 1)
            break;
        tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(close));
        tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(open));
        if (inner == 1 && open > 0 && tokens[open].kind == kTokenNumber
            && tokens[open - 1].kind == kTokenName && tokens[open - 1].code == kNameSin) {
            double v = std::sin(tokens[open].value);
            tokens[open - 1] = numberToken(v, valueText(v));
            tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(open));
        }
    }
    for (const Token& t : tokens)
        if (t.kind == kTokenOperator)
            return false;
    return true;
}

} // namespace vexa::script
