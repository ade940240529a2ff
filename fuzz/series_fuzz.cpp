// Image series whose slice files hold any bytes: the headers are read to size the
// volume, its description is written, and the written document must open as a
// logical volume of the sizes described, its planes readable.
#include "data/series.h"
#include "fuzzscratch.h"
#include "vexafile.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexa;
    static const std::string dir = fuzzscratch::folder().path();
    fuzzscratch::Controls in(data, size);
    const std::uint8_t mode = in.byte();
    // The rest is cut into three slice files at two chosen points.
    std::size_t cut1 = size ? in.byte() * size / 256 : 0;
    std::size_t cut2 = size ? in.byte() * size / 256 : 0;
    if (cut1 > size)
        cut1 = size;
    if (cut2 < cut1 || cut2 > size)
        cut2 = size;
    SeriesSettings s;
    s.destination = dir + "/assembly.xml";
    s.root = "img_";
    s.extension = ".img";
    s.digits = 2;
    s.first = 0;
    s.last = 2;
    s.checkExistence = mode & 1;
    s.sizeMode = (mode & 2) ? 0 : 1;
    s.width = 1 + (mode >> 2);
    s.height = 1 + (mode >> 4);
    const std::size_t cuts[] = { 0, cut1, cut2, size };
    for (int i = 0; i < 3; ++i)
        if (!fuzzscratch::put(seriesResolve(s.destination, seriesFileName(s, i)), data + cuts[i],
                cuts[i + 1] - cuts[i]))
            return 0;

    SeriesVolume volume;
    std::string reason;
    if (!seriesDescribe(s, volume, &reason)) {
        if (reason.empty())
            __builtin_trap();
        return 0;
    }
    if (volume.width <= 0 || volume.height <= 0 || volume.depth <= 0
        || int(volume.parts.size()) > volume.depth)
        __builtin_trap();
    if (!seriesWriteDocument(volume, s.destination, &reason))
        return 0;
    FileDescriptor* desc = vexaFileNameOpen(s.destination.c_str());
    if (!desc)
        __builtin_trap();
    if (!vexaFileReadHeader(desc)) {
        // Every slice of a checked series opened when it was described.
        if (s.checkExistence)
            __builtin_trap();
        vexaFileRelease(desc);
        return 0;
    }
    int w = 0, h = 0, d = 0;
    vexaFileGetSizes(desc, &w, &h, &d);
    if (w != volume.width || h != volume.height || d != volume.depth)
        __builtin_trap();
    if (std::int64_t(w) * h <= (std::int64_t(1) << 20)) {
        vexaFileFree(vexaFileReadImage(desc, VEXAFILE_FRONT, 0));
        vexaFileFree(vexaFileReadImage(desc, VEXAFILE_FRONT, d - 1));
    }
    vexaFileRelease(desc);
    return 0;
}
