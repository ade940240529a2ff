// Files of any bytes through the text-header readers (NRRD, MetaImage, INRIA of other
// programs, VTK images): the reader that claims the file probes it, and when the
// sizes are modest reads it. A refusal always comes with a reason naming the file.
// The same bytes also stand as the data file "data.raw" beside it, for detached
// headers. With bit 3 of the first byte set, the bytes follow a DICOM preamble, so
// that the DICOM reader's own walk of the elements meets them.
#include "formats/formats.h"
#include "fuzzscratch.h"
#include "vexa_types.h"

#include <cstdint>
#include <string>
#include <vector>

// OpenJPEG, under GDCM, leaks its decoder when a JPEG 2000 stream fails to decode, and
// GDCM its JPEG-LS buffer and its JPEG decoder when such a stream does: not ours to
// fix, and not to hide ours.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
    return "leak:libopenjp2.so\nleak:gdcm::JPEGLSCodec::Decode\nleak:libgdcmjpeg\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char* const kNames[]
        = { "in.nrrd", "in.nhdr", "in.mha", "in.mhd", "in.inr", "in.inr.gz", "in.vtk", "in.bin" };
    fuzzscratch::Controls in(data, size);
    const std::uint8_t choice = in.byte();
    const bool dicom = choice & 8;
    const std::string path = fuzzscratch::folder().file(dicom ? "in.dcm" : kNames[choice & 7]);
    std::string file;
    if (dicom) {
        file = std::string(128, '\0') + "DICM";
        file.append(reinterpret_cast<const char*>(data), size);
    }
    if (!(dicom ? fuzzscratch::put(path, file) : fuzzscratch::put(path, data, size))
        || !fuzzscratch::put(fuzzscratch::folder().file("data.raw"), data, size))
        return 0;
    const vexa::FormatReader* reader = vexa::formatReaderFor(path, vexa::formatHead(path));
    if (!reader) {
        (void)vexa::formatUnsupportedReason(path, vexa::formatHead(path));
        return 0;
    }
    vexa::FormatHeader header;
    std::string reason;
    if (!reader->probe(path, header, &reason)) {
        if (reason.rfind(path + " : ", 0) != 0)
            __builtin_trap();
        return 0;
    }
    const std::uint64_t bytes = std::uint64_t(header.width) * std::uint64_t(header.height)
        * std::uint64_t(header.depth) * std::uint64_t(vexaTypeSize(header.typeData));
    if (header.width < 1 || header.height < 1 || header.depth < 1 || bytes == 0)
        __builtin_trap();
    if (bytes > (std::uint64_t(1) << 24))
        return 0;
    std::vector<unsigned char> samples(bytes);
    if (!reader->read(path, header, samples.data(), &reason) && reason.empty())
        __builtin_trap();
    return 0;
}
