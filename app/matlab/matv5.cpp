#include "matlab/matv5.h"

#include "data/dataopen.h"

#include <vexa_reason.hpp>
#include <vexamem.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace vexa::matlab::v5 {

namespace {

constexpr const char* kDamaged = "fichier MAT illisible (tronqué ou endommagé)";
constexpr std::uint32_t kMiMatrix = 14;
constexpr std::uint32_t kMiCompressed = 15;
constexpr std::uint32_t kFlagComplex = 0x0800;
constexpr std::uint32_t kFlagLogical = 0x0200;
// Enough for the flags, dimensions and name of any array of rank 2 or 3.
constexpr std::size_t kHeaderBytes = 4096;

struct File {
    std::ifstream in;
    bool bigEndian = false;
    std::uint64_t size = 0;
};

std::uint32_t word(const unsigned char* p, bool bigEndian)
{
    return bigEndian
        ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3]
        : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

bool openFile(const std::string& path, File& f)
{
    f.in.open(path, std::ios::binary | std::ios::ate);
    if (!f.in)
        return false;
    f.size = std::uint64_t(f.in.tellg());
    unsigned char header[128];
    if (f.size < sizeof header || !f.in.seekg(0)
        || !f.in.read(reinterpret_cast<char*>(header), sizeof header))
        return false;
    if (header[126] == 'M' && header[127] == 'I')
        f.bigEndian = true;
    else if (!(header[126] == 'I' && header[127] == 'M'))
        return false;
    return (f.bigEndian ? header[124] << 8 | header[125] : header[125] << 8 | header[124])
        == 0x0100;
}

// A top-level element: where its bytes start and how many there are.
struct Element {
    std::uint32_t type = 0;
    std::uint64_t at = 0;
    std::uint32_t bytes = 0;
};

// Every top-level element, each lying whole inside the file.
bool elements(File& f, std::vector<Element>& out)
{
    std::uint64_t at = 128;
    while (at < f.size) {
        unsigned char tag[8];
        if (f.size - at < sizeof tag || !f.in.seekg(std::streamoff(at))
            || !f.in.read(reinterpret_cast<char*>(tag), sizeof tag))
            return false;
        Element e;
        e.type = word(tag, f.bigEndian);
        // A small element keeps its byte count in the upper half of the type word.
        e.bytes = (e.type >> 16) != 0 ? 0 : word(tag + 4, f.bigEndian);
        e.at = at + 8;
        if (e.bytes > f.size - e.at)
            return false;
        out.push_back(e);
        at = e.at + e.bytes;
    }
    return true;
}

// The array element's contents (the bytes after its miMATRIX tag), at most limit
// bytes. A compressed element is inflated no further: a stream that ends early just
// gives fewer bytes, which the length checks of the subelements then refuse.
bool load(File& f, const Element& e, std::size_t limit, std::string& out)
{
    std::string raw(e.bytes, '\0');
    if (!f.in.seekg(std::streamoff(e.at)) || !f.in.read(raw.data(), std::streamsize(raw.size())))
        return false;
    if (e.type == kMiMatrix) {
        raw.resize(std::min(limit, raw.size()));
        out = std::move(raw);
        return true;
    }
    z_stream z {};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = reinterpret_cast<Bytef*>(raw.data());
    z.avail_in = uInt(raw.size());
    const std::size_t wanted = limit + 8; // the array's own tag first
    std::string inner(std::min<std::size_t>(wanted, std::size_t(1) << 16), '\0');
    std::size_t produced = 0;
    for (;;) {
        if (produced == inner.size()) {
            if (inner.size() >= wanted)
                break;
            inner.resize(std::min(wanted, inner.size() * 2));
        }
        z.next_out = reinterpret_cast<Bytef*>(inner.data() + produced);
        z.avail_out = uInt(std::min<std::size_t>(inner.size() - produced, std::size_t(1) << 30));
        const uInt before = z.avail_out;
        const int status = inflate(&z, Z_NO_FLUSH);
        produced += before - z.avail_out;
        if (status != Z_OK)
            break;
    }
    inflateEnd(&z);
    inner.resize(produced);
    const auto* p = reinterpret_cast<const unsigned char*>(inner.data());
    if (inner.size() < 8 || word(p, f.bigEndian) != kMiMatrix)
        return false;
    const std::uint64_t contents = word(p + 4, f.bigEndian);
    out = inner.substr(8, std::size_t(std::min<std::uint64_t>(contents, inner.size() - 8)));
    return true;
}

// A subelement inside an array's contents.
struct Sub {
    std::uint32_t type = 0;
    const unsigned char* data = nullptr;
    std::uint32_t bytes = 0;
};

bool nextSub(const std::string& contents, std::size_t& at, bool bigEndian, Sub& sub)
{
    if (contents.size() < 8 || at > contents.size() - 8)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(contents.data()) + at;
    const std::uint32_t first = word(p, bigEndian);
    if ((first >> 16) != 0) {
        sub = { first & 0xffff, p + 4, first >> 16 };
        if (sub.bytes > 4)
            return false;
        at += 8;
        return true;
    }
    sub = { first, p + 8, word(p + 4, bigEndian) };
    if (sub.bytes > contents.size() - at - 8)
        return false;
    at += 8 + ((std::size_t(sub.bytes) + 7) & ~std::size_t(7));
    at = std::min(at, contents.size());
    return true;
}

// The storage types of numeric data and the sample type they read as.
int storageType(std::uint32_t miType)
{
    switch (miType) {
    case 1:
        return TYPEDATA_S8;
    case 2:
        return TYPEDATA_U8;
    case 3:
        return TYPEDATA_S16;
    case 4:
        return TYPEDATA_U16;
    case 5:
        return TYPEDATA_S32;
    case 6:
        return TYPEDATA_U32;
    case 7:
        return TYPEDATA_F32;
    case 9:
        return TYPEDATA_F64;
    default:
        return -1;
    }
}

struct Header {
    MatVariable variable;
    std::size_t dataAt = 0; // offset of the real part's tag in the contents
};

// Flags, dimensions and name of an array; variable.supported with its shape, or its
// reason. False when the header itself is damaged.
bool parseHeader(const std::string& contents, bool bigEndian, Header& h)
{
    std::size_t at = 0;
    Sub flags, dims, name;
    if (!nextSub(contents, at, bigEndian, flags) || flags.bytes < 8 || flags.type != 6
        || !nextSub(contents, at, bigEndian, dims) || dims.type != 5 || dims.bytes % 4 != 0
        || !nextSub(contents, at, bigEndian, name) || (name.type != 1 && name.type != 2))
        return false;
    h.dataAt = at;
    MatVariable& v = h.variable;
    v.name.assign(reinterpret_cast<const char*>(name.data), name.bytes);
    const std::uint32_t flagWord = word(flags.data, bigEndian);
    const int classId = int(flagWord & 0xff);
    if (flagWord & (kFlagComplex | kFlagLogical)) {
        v.reason = "Variable logique ou complexe non prise en charge";
        return true;
    }
    std::size_t sizes[3] = {};
    const std::size_t rank = dims.bytes / 4;
    for (std::size_t i = 0; i < rank && i < 3; ++i) {
        const auto d = std::int32_t(word(dims.data + 4 * i, bigEndian));
        sizes[i] = d < 0 ? 0 : std::size_t(d);
    }
    v.supported = !v.name.empty() && shapeFromMatlab(classId, rank, sizes, v.shape, &v.reason);
    if (v.name.empty())
        v.reason = "Variable sans nom";
    return true;
}

} // namespace

bool isV5File(const std::string& path, bool& bigEndian)
{
    File f;
    const bool yes = openFile(path, f);
    bigEndian = f.bigEndian;
    return yes;
}

bool listVariables(
    const std::string& path, std::vector<MatVariable>& variables, std::string* reason)
{
    File f;
    std::vector<Element> list;
    if (!openFile(path, f) || !elements(f, list)) {
        setReason(reason, fileReason(path, kDamaged));
        return false;
    }
    std::vector<MatVariable> found;
    for (const Element& e : list) {
        if (e.type != kMiMatrix && e.type != kMiCompressed)
            continue; // not an array: nothing to offer
        std::string contents;
        Header h;
        if (!load(f, e, kHeaderBytes, contents) || !parseHeader(contents, f.bigEndian, h)) {
            setReason(reason, fileReason(path, kDamaged));
            return false;
        }
        found.push_back(std::move(h.variable));
    }
    variables = std::move(found);
    return true;
}

bool readVariable(
    const std::string& path, const std::string& name, const MatSamplesUse& use, std::string* reason)
{
    File f;
    std::vector<Element> list;
    if (!openFile(path, f) || !elements(f, list)) {
        setReason(reason, fileReason(path, kDamaged));
        return false;
    }
    for (const Element& e : list) {
        if (e.type != kMiMatrix && e.type != kMiCompressed)
            continue;
        std::string contents;
        Header h;
        if (!load(f, e, kHeaderBytes, contents) || !parseHeader(contents, f.bigEndian, h)) {
            setReason(reason, fileReason(path, kDamaged));
            return false;
        }
        if (h.variable.name != name)
            continue;
        if (!h.variable.supported) {
            setReason(reason, fileReason(path, name + " : " + h.variable.reason));
            return false;
        }
        const ArrayShape shape = h.variable.shape;
        const auto bytes = std::uint64_t(shape.byteCount());
        if (bytes > availableMemoryBytes()) {
            setReason(
                reason, fileReason(path, "mémoire insuffisante pour " + byteCountText(bytes)));
            return false;
        }
        // The stored data is at most as wide as the class: its tag and bytes follow the
        // header and nothing beyond them is inflated.
        if (!load(f, e, h.dataAt + 8 + std::size_t(bytes) + 8, contents)) {
            setReason(reason, fileReason(path, kDamaged));
            return false;
        }
        std::size_t at = h.dataAt;
        Sub data;
        const int stored = nextSub(contents, at, f.bigEndian, data) ? storageType(data.type) : -1;
        const std::int64_t count = shape.sampleCount();
        if (stored < 0
            || std::uint64_t(data.bytes) != std::uint64_t(count) * vexaTypeSize(stored)) {
            setReason(reason, fileReason(path, kDamaged));
            return false;
        }
        std::string swapped;
        const unsigned char* source = data.data;
        if (f.bigEndian && vexaTypeSize(stored) > 1) {
            swapped.assign(reinterpret_cast<const char*>(data.data), data.bytes);
            const int n = vexaTypeSize(stored);
            for (std::size_t i = 0; i < swapped.size(); i += std::size_t(n))
                std::reverse(
                    swapped.begin() + std::ptrdiff_t(i), swapped.begin() + std::ptrdiff_t(i) + n);
            source = reinterpret_cast<const unsigned char*>(swapped.data());
        }
        std::string columns(std::size_t(bytes), '\0');
        // Converted in runs: the conversion counts samples in an int.
        constexpr std::int64_t kRun = std::int64_t(1) << 24;
        for (std::int64_t done = 0; done < count; done += kRun) {
            const int n = int(std::min(kRun, count - done));
            vexaMemConvertInto(source + done * vexaTypeSize(stored), n, 1, 0, stored, shape.type,
                columns.data() + done * vexaTypeSize(shape.type));
        }
        return use(shape, columns.data());
    }
    setReason(reason, fileReason(path, "variable " + name + " absente"));
    return false;
}

} // namespace vexa::matlab::v5
