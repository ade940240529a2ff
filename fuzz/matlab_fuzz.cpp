// MAT files of any bytes through the variable list and the reader: every variable the
// list accepts is read, and an array handed over must have the shape the list gave
// and every one of its bytes readable.
#include "fuzzscratch.h"
#include "matlab/matfile.h"

#include <cstdint>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexa::matlab;
    // Version 7.3 files are parsed by HDF5, which leaks and asks for what a damaged
    // file announces: those bytes exercise that library, not this reader.
    if (size >= 128 && data[124] == 0 && data[125] == 2)
        return 0;
    static const std::string path = fuzzscratch::folder().file("fuzz.mat");
    if (!fuzzscratch::put(path, data, size))
        return 0;
    std::vector<MatVariable> variables;
    if (!listMatVariables(path, variables, nullptr))
        return 0;
    std::set<std::string> seen;
    for (const MatVariable& v : variables) {
        // The reader takes the first variable of a name.
        if (!seen.insert(v.name).second || !v.supported)
            continue;
        readMatVariable(
            path, v.name,
            [&](const ArrayShape& shape, const void* columns) {
                if (shape.width != v.shape.width || shape.height != v.shape.height
                    || shape.depth != v.shape.depth || shape.type != v.shape.type)
                    __builtin_trap();
                const auto* bytes = static_cast<const std::uint8_t*>(columns);
                std::uint8_t sum = 0;
                for (std::int64_t i = 0; i < shape.byteCount(); ++i)
                    sum ^= bytes[i];
                volatile std::uint8_t keep = sum;
                (void)keep;
                return true;
            },
            nullptr);
    }
    return 0;
}
