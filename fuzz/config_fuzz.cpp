// The configuration file of any bytes: every key, the plug-in library list included,
// must read the same whether taken whole, counted or value by value. The same bytes
// also go through the command-line options.
#include "config/config.h"
#include "fuzzscratch.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexa::config;
    static const std::string path = fuzzscratch::folder().file("vexa.xml");

    std::string line(reinterpret_cast<const char*>(data), size);
    const std::string whole = line;
    if (applyConfigOption(line) && (line.size() > whole.size() || whole.rfind(line, 0) != 0))
        __builtin_trap();
    (void)dataFileArgument(line);

    if (!fuzzscratch::put(path, data, size))
        return 0;
    setConfigPath(path.c_str());
    for (int key : { int(PATH_STUDY), int(LOAD_LIBRARY), int(WINDOWS_MANAGEMENT),
             int(WINDOWS_CORRECTION), 4, -1 }) {
        const std::vector<std::string> values = configValues(key);
        const int count = configCountValues(key);
        if (count < int(values.size()) || (!keyLocation(key) && count != 0))
            __builtin_trap();
        // Items without a value are counted but not listed; the listed ones come in order.
        std::size_t next = 0;
        for (int i = 0; i < count && i < 64; ++i)
            if (std::optional<std::string> value = configValue(key, i))
                if (next >= values.size() || values[next++] != *value)
                    __builtin_trap();
        if (configValue(key, count))
            __builtin_trap();
    }
    (void)dialogsWithoutOwner();
    return 0;
}
