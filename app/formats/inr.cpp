// INRIA images as other programs write them: "#INRIMAGE-4#{" then KEY=VALUE lines up
// to "##}", the samples right after; the whole file may be gzip-packed (.inr.gz).
// The workstation's own INRIA reader is tried first; this one takes the files it
// refuses.
#include "formats/formats.h"
#include "formats/textheader.h"

#include "vexa_reason.hpp"
#include "vexa_types.h"

#include <limits>
#include <map>
#include <memory>

namespace vexa {

namespace {

using namespace textheader;

constexpr const char* kMagic = "#INRIMAGE-4#{";

bool fail(std::string* reason, const std::string& path, const std::string& text)
{
    setReason(reason, fileReason(path, text));
    return false;
}

bool sniffInr(const std::string& path, const std::string& head)
{
    if (head.rfind(kMagic, 0) == 0)
        return true;
    return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0x1f
        && static_cast<unsigned char>(head[1]) == 0x8b && endsWith(path, ".inr.gz");
}

struct InrState {
    SampleLayout layout;
};

bool probeInr(const std::string& path, FormatHeader& header, std::string* reason)
{
    std::string head;
    if (!readStart(path, 2, head))
        return fail(reason, path, "fichier illisible");
    const bool packed = head.size() == 2 && static_cast<unsigned char>(head[0]) == 0x1f
        && static_cast<unsigned char>(head[1]) == 0x8b;
    std::string text;
    if (!readStart(path, kMaxHeaderBytes, text, packed) || text.rfind(kMagic, 0) != 0)
        return fail(reason, path, "entête INRIA absent");
    const std::size_t close = text.find("##}");
    if (close == std::string::npos)
        return fail(reason, path, "fin d'entête INRIA (« ##} ») absente");
    const std::size_t lineEnd = text.find('\n', close);
    if (lineEnd == std::string::npos)
        return fail(reason, path, "entête INRIA incomplet");
    const std::int64_t dataStart = std::int64_t(lineEnd + 1);

    std::map<std::string, std::string> fields;
    std::string info;
    std::size_t at = text.find('\n') + 1;
    while (at < close) {
        std::size_t end = text.find('\n', at);
        std::string line = trimmed(text.substr(at, end - at));
        at = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        info += line + "\n";
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            fields[trimmed(line.substr(0, eq))] = trimmed(line.substr(eq + 1));
    }
    auto field = [&](const char* name) -> std::string {
        const auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    };
    std::int64_t size[4] = { 0, 0, 1, 1 };
    const char* const names[4] = { "XDIM", "YDIM", "ZDIM", "VDIM" };
    for (int i = 0; i < 4; ++i) {
        if (field(names[i]).empty() && i >= 2)
            continue;
        if (!toInt64(field(names[i]), size[i]) || size[i] < 1
            || size[i] > std::numeric_limits<std::int32_t>::max())
            return fail(reason, path, std::string("champ ") + names[i] + " absent ou invalide");
    }
    const std::string typeWord = lowered(field("TYPE"));
    std::int64_t bits = 0;
    const std::vector<std::string> pixSize = words(field("PIXSIZE"));
    if (pixSize.empty() || !toInt64(pixSize[0], bits))
        return fail(reason, path, "champ PIXSIZE absent ou invalide");
    int type = 0;
    if (typeWord == "unsigned fixed")
        type = bits == 8 ? TYPEDATA_U8 : bits == 16 ? TYPEDATA_U16 : bits == 32 ? TYPEDATA_U32 : 0;
    else if (typeWord == "signed fixed")
        type = bits == 8 ? TYPEDATA_S8 : bits == 16 ? TYPEDATA_S16 : bits == 32 ? TYPEDATA_S32 : 0;
    else if (typeWord == "float")
        type = bits == 32 ? TYPEDATA_F32 : bits == 64 ? TYPEDATA_F64 : 0;
    if (type == 0)
        return fail(reason, path,
            "type « " + field("TYPE") + " » de " + std::to_string(bits)
                + " bits non pris en charge");
    SampleLayout layout;
    layout.headerPath = path;
    if (size[3] != 1) {
        if (type != TYPEDATA_U8 || (size[3] != 3 && size[3] != 4))
            return fail(reason, path, "VDIM=" + std::to_string(size[3]) + " non pris en charge");
        layout.components = int(size[3]);
    }
    const int sampleType = layout.components > 1 ? TYPEDATA_RGBA : type;
    if (!sizesAcceptable(path, size[0], size[1], size[2], sampleType, reason))
        return false;
    const std::string cpu = lowered(field("CPU"));
    if (cpu == "sun" || cpu == "sgi" || cpu == "hp" || cpu == "mips")
        layout.bigEndian = true;
    else if (!cpu.empty() && cpu != "decm" && cpu != "pc" && cpu != "alpha")
        return fail(reason, path, "CPU=" + field("CPU") + " inconnu : ordre des octets incertain");

    DataPart part;
    part.path = path;
    if (packed) {
        layout.encoding = Encoding::Gzip;
        part.unpackedSkip = dataStart;
    } else {
        part.offset = dataStart;
    }
    layout.parts.push_back(part);
    header = FormatHeader();
    header.width = int(size[0]);
    header.height = int(size[1]);
    header.depth = int(size[2]);
    header.typeData = sampleType;
    if (!rawPartsComplete(header, layout, reason))
        return false;
    const char* const spacing[3] = { "VX", "VY", "VZ" };
    const char* const origin[3] = { "TX", "TY", "TZ" };
    for (int i = 0; i < 3; ++i) {
        double v = 0;
        if (toDouble(field(spacing[i]), v) && v > 0)
            header.spacing[i] = v;
        if (toDouble(field(origin[i]), v))
            header.origin[i] = v;
    }
    header.info = info;
    auto state = std::make_shared<InrState>();
    state->layout = std::move(layout);
    header.state = state;
    return true;
}

bool readInr(
    const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
{
    FormatHeader fresh;
    const FormatHeader* use = &header;
    if (!header.state) {
        if (!probeInr(path, fresh, reason))
            return false;
        use = &fresh;
    }
    return readSamples(
        *use, std::static_pointer_cast<InrState>(use->state)->layout, samples, reason);
}

} // namespace

const FormatReader& inrReader()
{
    static const FormatReader r { "INRIA (autres programmes)", "*.inr *.inr.gz", sniffInr, probeInr,
        readInr };
    return r;
}

} // namespace vexa
