// Raw import of any bytes with any answers of its box: the layout must be refused
// unless the file really holds the samples it describes, and what is accepted must
// read without touching anything past the end of the file.
#include "data/rawimport.h"
#include "fuzzscratch.h"
#include "vexafile.h"

#include <cstdint>

namespace {

// A size answer: mostly small, so that accepted layouts are common, sometimes any
// 32-bit value, so that the overflow checks are reached.
std::int32_t sizeAnswer(fuzzscratch::Controls& in, bool wide)
{
    const std::int32_t raw = in.i32();
    return wide ? raw : std::int32_t(std::uint32_t(raw) % 300) - 2;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexa;
    static const std::string path = fuzzscratch::folder().file("raw.img");
    fuzzscratch::Controls in(data, size);
    const std::uint8_t mode = in.byte();
    const bool wide = mode & 1;
    RawImportSettings s;
    s.headerSize = wide ? in.i32() : std::int32_t(in.byte()) - 1;
    s.width = sizeAnswer(in, wide);
    s.height = sizeAnswer(in, wide);
    s.depth = (mode & 2) ? 1 : sizeAnswer(in, wide);
    s.inMemory = (mode >> 2) & 1;
    s.numberFormat = (mode >> 3) & 1;
    s.littleEndian = (mode >> 4) & 1;
    s.integerSign = (mode >> 5) & 1;
    s.integerSize = (mode >> 6) & 3;
    s.floatSize = s.integerSize & 1;
    if (!fuzzscratch::put(path, data, size))
        return 0;

    std::string reason;
    std::unique_ptr<ImageObject> object = rawImportObject(path, s, &reason);
    if (!object) {
        if (reason.empty())
            __builtin_trap();
        return 0;
    }
    const RawLayout layout = rawImportLayout(s);
    const std::uint64_t bytes = std::uint64_t(s.width) * std::uint64_t(s.height)
        * std::uint64_t(s.depth) * std::uint64_t(vexaTypeSize(layout.typeData));
    if (s.headerSize < 0 || bytes + std::uint64_t(s.headerSize) > size)
        __builtin_trap();
    if (object->block && object->block->file) {
        // A block left in its file: its first and last planes read back.
        FileDescriptor* file = object->block->file.get();
        vexaFileFree(vexaFileReadImage(file, VEXAFILE_FRONT, 0));
        vexaFileFree(vexaFileReadImage(file, VEXAFILE_TOP, s.height - 1));
    }
    return 0;
}
