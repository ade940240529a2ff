// Colormap files of any bytes. A file that loads must write back and load again with
// the same colours and name.
#include "display/colormap.h"
#include "fuzzscratch.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexa;
    static const std::string in = fuzzscratch::folder().file("in.xml");
    static const std::string out = fuzzscratch::folder().file("out.xml");
    if (!fuzzscratch::put(in, data, size))
        return 0;
    PaletteRecord record;
    std::string why;
    if (!loadColormap(in, 3, record, &why)) {
        if (why.empty())
            __builtin_trap();
        return 0;
    }
    if (record.family != kFamilyColourTable || record.name.empty())
        __builtin_trap();
    if (!writeColormap(record, out, record.name))
        return 0;
    PaletteRecord back;
    if (!loadColormap(out, 3, back) || back.name != record.name)
        __builtin_trap();
    for (int i = 0; i < 256; ++i)
        if (back.table[i].red != record.table[i].red || back.table[i].green != record.table[i].green
            || back.table[i].blue != record.table[i].blue)
            __builtin_trap();
    return 0;
}
