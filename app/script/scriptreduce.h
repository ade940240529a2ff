// Reduction of the tokens of a line: innermost parentheses first, each pair holding an
// operation evaluated with the usual precedence ("*" and "/" before "+" and "-", left to
// right), "SIN" applied to the parenthesised number that follows it.
#pragma once

#include "script/scriptlexer.h"

namespace vexa::script {

// Longest trace of the concatenated token texts.
constexpr size_t kMaxReductionTrace = 999;

// Reduces tokens in place, tracing the concatenated token texts before each step.
// Fails (false) when an operator is left that could not be evaluated. A line that
// reduces to a single number leaves exactly that token.
bool reduceTokens(std::vector<Token>& tokens, const TraceSink& trace);

} // namespace vexa::script
