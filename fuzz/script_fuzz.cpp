// Any bytes as one script line, then as a whole script file.
#include "script/scriptreduce.h"
#include "script/scriptrunner.h"

#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace vexa::script;
    std::string_view line(reinterpret_cast<const char*>(data), size);
    size_t traced = 0;
    TraceSink trace = [&](const std::string& s) { traced += s.size(); };

    LexResult lexed = lexLine(line, trace);
    if (lexed.ok) {
        for (const Token& t : lexed.tokens)
            if (t.text.size() > kMaxTokenText)
                __builtin_trap();
        reduceTokens(lexed.tokens, trace);
    } else if (lexed.errorPosition >= line.size()) {
        __builtin_trap();
    }

    if (size > 0) {
        std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "rb");
        if (stream) {
            runScriptStream(stream, trace);
            std::fclose(stream);
        }
    }
    return 0;
}
