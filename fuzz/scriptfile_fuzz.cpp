// Script files of any bytes opened by name: the run must trace exactly what the same
// bytes traced from memory, and stop at the same line.
#include "fuzzscratch.h"
#include "script/scriptrunner.h"

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexa::script;
    static const std::string path = fuzzscratch::folder().file("script.txt");
    if (size == 0 || !fuzzscratch::put(path, data, size))
        return 0;
    std::string fromFile;
    const bool fileOk
        = runScriptFile(path, [&](int, const std::string& line) { fromFile += line + '\n'; });
    std::string fromMemory;
    bool memoryOk = false;
    if (std::FILE* stream = fmemopen(const_cast<std::uint8_t*>(data), size, "rb")) {
        memoryOk
            = runScriptStream(stream, [&](const std::string& line) { fromMemory += line + '\n'; });
        std::fclose(stream);
    }
    if (fileOk != memoryOk || fromFile != fromMemory)
        __builtin_trap();
    return 0;
}
