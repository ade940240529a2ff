#include "script/scriptlexer.h"

#include "params/decimal.h"

#include <cstdio>

namespace vexa::script {
namespace {

enum class State { Start, Name, Number, AfterOperator, AfterOpen, AfterClose };

std::string formatted(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string formatted(const char* format, int value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

const char* operatorForm(int32_t code)
{
    static const char* const forms[] = { "OP2(+)", "OP2(-)", "OP2(*)", "OP2(/)" };
    return forms[code & 3];
}

class Lexer {
public:
    explicit Lexer(const TraceSink& trace)
        : trace_(trace)
    {
    }

    LexResult run(std::string_view line)
    {
        LexResult result;
        for (size_t i = 0; i < line.size(); ++i) {
            if (!step(line[i])) {
                result.ok = false;
                result.errorPosition = i;
                result.tokens = std::move(tokens_);
                return result;
            }
        }
        emitPending();
        for (Token& t : tokens_)
            if (t.kind == kTokenName && t.text == "SIN")
                t.code = kNameSin;
        result.tokens = std::move(tokens_);
        return result;
    }

private:
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    bool numberMayBegin() const
    {
        return state_ == State::Start || state_ == State::AfterOperator
            || state_ == State::AfterOpen;
    }

    void append(char c)
    {
        if (text_.size() < kMaxTokenText)
            text_.push_back(c);
    }

    void beginNumber(int sign)
    {
        number_ = {};
        sign_ = sign;
        separatorSeen_ = false;
        exponentSeen_ = false;
        state_ = State::Number;
    }

    bool step(char c)
    {
        if (isDigit(c)) {
            if (state_ == State::AfterClose)
                return false;
            if (numberMayBegin()) {
                // Characters typed since the last token (a stray "e" or ".") stay in
                // the number's text, as they do for names.
                beginNumber(1);
                number_.addMantissaDigit(c - '0', false);
            } else if (state_ == State::Number) {
                if (exponentSeen_)
                    number_.addExponentDigit(c - '0');
                else
                    number_.addMantissaDigit(c - '0', separatorSeen_);
            }
            append(c);
            return true;
        }
        switch (c) {
        case '.':
        case ',':
            if (numberMayBegin()) {
                beginNumber(1);
                separatorSeen_ = true;
            } else if (state_ == State::Number) {
                if (separatorSeen_)
                    return false;
                separatorSeen_ = true;
            }
            append(c);
            return true;
        case 'e':
        case 'E':
            if (state_ == State::AfterClose || exponentSeen_)
                return false;
            exponentSeen_ = true;
            append(c);
            return true;
        case '+':
        case '-':
            if (state_ == State::Start || state_ == State::AfterOpen) {
                beginNumber(c == '+' ? 1 : -1);
                append(c);
                return true;
            }
            if (state_ == State::AfterOperator)
                return false;
            emitPending();
            emitOperator(c == '+' ? kOpAdd : kOpSub, c);
            return true;
        case '*':
        case '/':
            if (state_ == State::Start || state_ == State::AfterOpen
                || state_ == State::AfterOperator)
                return false;
            emitPending();
            emitOperator(c == '*' ? kOpMul : kOpDiv, c);
            return true;
        case '(':
            if (state_ == State::Number)
                return false;
            if (state_ == State::Name)
                emitPending();
            text_.clear();
            ++depth_;
            emitParenthesis(kTokenOpen, '(');
            state_ = State::AfterOpen;
            return true;
        case ')':
            if (state_ == State::AfterOperator)
                return false;
            emitPending();
            emitParenthesis(kTokenClose, ')');
            --depth_;
            state_ = State::AfterClose;
            return true;
        default:
            // Letters, blanks and other signs make a name; a number being read
            // becomes part of it.
            state_ = State::Name;
            append(c);
            return true;
        }
    }

    // Emits the number or name being read; text typed outside of one is dropped.
    void emitPending()
    {
        if (state_ == State::Number) {
            emit(numberToken(number_.value(sign_, 1), std::move(text_)));
        } else if (state_ == State::Name) {
            Token t;
            t.kind = kTokenName;
            t.text = std::move(text_);
            emit(std::move(t));
        }
        text_.clear();
    }

    void emitOperator(int32_t code, char c)
    {
        Token t;
        t.kind = kTokenOperator;
        t.code = code;
        t.text = std::string(1, c);
        emit(std::move(t));
        state_ = State::AfterOperator;
    }

    void emitParenthesis(int32_t kind, char c)
    {
        Token t;
        t.kind = kind;
        t.depth = depth_;
        t.text = std::string(1, c);
        emit(std::move(t));
    }

    void emit(Token t)
    {
        if (trace_) {
            trace_(t.text);
            switch (t.kind) {
            case kTokenNumber:
                trace_(formatted("N(%g)", t.value));
                break;
            case kTokenName:
                trace_("U(" + t.text + ")");
                break;
            case kTokenOperator:
                trace_(operatorForm(t.code));
                break;
            case kTokenOpen:
                trace_(formatted("PHO(%d)", t.depth));
                break;
            case kTokenClose:
                trace_(formatted("PHF(%d)", t.depth));
                break;
            }
        }
        tokens_.push_back(std::move(t));
    }

    const TraceSink& trace_;
    std::vector<Token> tokens_;
    std::string text_;
    State state_ = State::Start;
    int depth_ = 0;
    params::DecimalNumber number_;
    int sign_ = 1;
    bool separatorSeen_ = false;
    bool exponentSeen_ = false;
};

} // namespace

Token numberToken(double value, std::string text)
{
    Token t;
    t.kind = kTokenNumber;
    t.text = std::move(text);
    t.value = value;
    t.data.assign(1, value);
    t.width = 1;
    t.height = 1;
    return t;
}

LexResult lexLine(std::string_view line, const TraceSink& trace)
{
    return Lexer(trace).run(line);
}

} // namespace vexa::script
