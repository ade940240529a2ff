// Header readers and the first plane of whatever they accept, fed arbitrary bytes.
#include "vexafile.h"

#include "fuzzscratch.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzzscratch::folder().file("input");
    if (!fuzzscratch::put(path, data, size))
        return 0;

    FileDescriptor* desc = vexaFileNameOpen(path.c_str());
    if (desc && vexaFileReadHeader(desc)) {
        int w = 0, h = 0, d = 0;
        vexaFileGetSizes(desc, &w, &h, &d);
        // A header may rightly claim a huge volume; the harness reads only planes that
        // are reasonable to allocate.
        if (int64_t(w) * h * 8 <= (int64_t(4) << 20) && int64_t(w) * d * 8 <= (int64_t(4) << 20)) {
            vexaFileFree(vexaFileReadImage(desc, 0, 0));
            vexaFileFree(vexaFileReadImage(desc, 2, 0));
        }
        double value = 0;
        vexaFileGetComment(desc, "PASECH", &value);
    }
    vexaFileRelease(desc);
    return 0;
}
