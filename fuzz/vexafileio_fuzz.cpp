// vexaFile past the header: a file of any bytes (a logical description among them,
// with two small part files beside it) is read in boxes of every orientation, then
// written with every combine operation. A box written with replacement inside the
// volume of a plain file must read back as written.
#include "fuzzscratch.h"
#include "vexafile.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

struct Part {
    std::string path;
    std::string bytes;
};

// A part file made by the library itself, kept as bytes to restore it after writes.
Part makePart(const std::string& name, int kind, int type, int w, int h, int d)
{
    Part part { fuzzscratch::folder().file(name), {} };
    FileDescriptor* desc = vexaFileNew();
    vexaFileSetFullName(desc, part.path.c_str());
    vexaFileSetSizes(desc, w, h, d);
    vexaFileSetTypeData(desc, type);
    vexaFileSetNbBits(desc, vexaTypeBits(type));
    vexaFileSetSign(desc, vexaTypeSign(type));
    vexaFileSetHeader(desc, kind);
    std::vector<std::uint8_t> samples(std::size_t(w * h * d * vexaTypeSize(type)));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::uint8_t(i * 7 + 1);
    if (!vexaFileWriteHeader(desc) || !vexaFileWriteBlock(desc, samples.data()))
        __builtin_trap();
    vexaFileRelease(desc);
    FileDescriptor* back = vexaFileNameOpen(part.path.c_str());
    std::FILE* f = std::fopen(part.path.c_str(), "rb");
    char buffer[4096];
    for (std::size_t n; f && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        part.bytes.append(buffer, n);
    if (f)
        std::fclose(f);
    vexaFileRelease(back);
    return part;
}

// Writes may only reach files of the scratch folder: a description naming a path
// elsewhere (or one an entity could spell) is read but never written.
bool namesOnlyScratchFiles(std::string_view bytes)
{
    return bytes.find_first_of("/\\&") == std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<Part> parts = {
        makePart("a.gdr", VEXAFILE_HEADER_GDR, TYPEDATA_U8, 4, 3, 2),
        makePart("b.inr", VEXAFILE_HEADER_INRIA, TYPEDATA_S16, 3, 3, 3),
    };
    static const std::string path = fuzzscratch::folder().file("vol.img");

    fuzzscratch::Controls in(data, size);
    std::int32_t box[6];
    for (std::int32_t& v : box)
        v = std::int8_t(in.byte());
    const std::uint8_t mode = in.byte();
    for (const Part& part : parts)
        if (!fuzzscratch::put(part.path, part.bytes))
            return 0;
    if (!fuzzscratch::put(path, data, size))
        return 0;

    FileDescriptor* desc = vexaFileNameOpen(path.c_str());
    if (!desc || !vexaFileReadHeader(desc)) {
        vexaFileRelease(desc);
        return 0;
    }
    int w = 0, h = 0, d = 0;
    vexaFileGetSizes(desc, &w, &h, &d);
    const int type = vexaFileGetTypeData(desc);
    const int es = vexaTypeSize(type);
    // Extents up to 64 (a negative extent counts by its size), corners anywhere near
    // the volume.
    const int u = box[3] % 65, v = box[4] % 65, depth = box[5] % 9;
    const std::int64_t boxBytes = std::int64_t(u < 0 ? -u : u) * (v < 0 ? -v : v)
        * (depth < 0 ? -depth : depth) * (es > 0 ? es : 1);
    for (int orientation = 0; orientation < 4; ++orientation)
        vexaFileFree(vexaFileReadBlockPart(desc, orientation, box[0], box[1], box[2], u, v, depth));

    const bool logical = vexaFileIsLogical(desc) != 0;
    const std::int64_t volumeBytes = std::int64_t(w) * h * d * es;
    const bool writable = es > 0 && boxBytes > 0 && volumeBytes <= (std::int64_t(4) << 20)
        && vexaFileGetOffsetData(desc) <= (1 << 20)
        && (!logical
            || namesOnlyScratchFiles(std::string_view(reinterpret_cast<const char*>(data), size)));
    if (writable) {
        std::vector<std::uint8_t> samples(static_cast<std::size_t>(boxBytes));
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = std::uint8_t(i * 13 + mode);
        int written = 0;
        for (int op : { VEXAFILE_OP_ADD, VEXAFILE_OP_MULTIPLY, VEXAFILE_OP_MIN, VEXAFILE_OP_MAX,
                 VEXAFILE_OP_NONE, VEXAFILE_OP_REPLACE }) {
            vexaFileSetOp(desc, op);
            written = vexaFileWriteBlockPart(
                desc, samples.data(), (mode + op) % 3, box[0], box[1], box[2], u, v, depth);
        }
        // The last write replaced; a plain file gives the box back when it lies inside.
        const int orientation = (mode + VEXAFILE_OP_REPLACE) % 3;
        const int extent[3] = { orientation == 1 ? d : w, h, orientation == 1 ? w : d };
        const int spanV = orientation == 2 ? d : extent[1];
        const int spanW = orientation == 2 ? h : extent[2];
        const bool inside = box[0] >= 0 && box[1] >= 0 && box[2] >= 0 && u > 0 && v > 0 && depth > 0
            && box[0] + u <= extent[0] && box[1] + v <= spanV && box[2] + depth <= spanW;
        const bool plain = !logical && !vexaFileGetTiled(desc) && !vexaFileGetTranspose(desc);
        if (written && inside && plain) {
            void* back
                = vexaFileReadBlockPart(desc, orientation, box[0], box[1], box[2], u, v, depth);
            if (back && std::memcmp(back, samples.data(), samples.size()) != 0)
                __builtin_trap();
            vexaFileFree(back);
        }
    }
    vexaFileRelease(desc);
    return 0;
}
