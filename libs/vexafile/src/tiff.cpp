// Uncompressed TIFF files holding one sample per pixel, in either byte order.
//
// The directory is read with the file's own byte order and the strips are gathered
// into one image; samples of big-endian files are brought to native order. Files that
// are compressed, tiled, hold several samples per pixel or place strips outside the
// file are refused.
#include "fileio.hpp"
#include "vexafile_internal.hpp"

#include <algorithm>
#include <cstring>

namespace vexafile {

namespace {

struct TiffLayout {
    bool bigEndian = false;
    int64_t width = 0, height = 0;
    int typeData = 0;
    int64_t rowsPerStrip = 0;
    std::vector<uint64_t> stripOffsets;
};

class Reader {
public:
    Reader(const File& f, int64_t size, bool be)
        : f_(f)
        , size_(size)
        , be_(be)
    {
    }

    bool u16(int64_t pos, uint32_t* v) const
    {
        unsigned char b[2];
        if (pos < 0 || pos + 2 > size_ || f_.readAt(b, 2, pos) != 2)
            return false;
        *v = be_ ? (uint32_t(b[0]) << 8 | b[1]) : (uint32_t(b[1]) << 8 | b[0]);
        return true;
    }
    bool u32(int64_t pos, uint32_t* v) const
    {
        unsigned char b[4];
        if (pos < 0 || pos + 4 > size_ || f_.readAt(b, 4, pos) != 4)
            return false;
        *v = be_ ? (uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3])
                 : (uint32_t(b[3]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[1]) << 8 | b[0]);
        return true;
    }
    bool bytes(int64_t pos, unsigned char* out, int64_t n) const
    {
        return pos >= 0 && n >= 0 && pos + n <= size_ && f_.readAt(out, n, pos) == n;
    }
    int64_t size() const { return size_; }
    bool bigEndian() const { return be_; }

private:
    const File& f_;
    int64_t size_;
    bool be_;
};

struct Entry {
    uint32_t tag, type, count;
    int64_t valuePos; // where the values are: inside the entry or at its offset
};

int typeBytes(uint32_t type)
{
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
        return 1;
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
    case 11:
        return 4;
    case 5:
    case 10:
    case 12:
        return 8;
    default:
        return 0;
    }
}

// Integer values of a BYTE, SHORT or LONG entry, at most maxCount of them.
bool values(const Reader& r, const Entry& e, uint32_t maxCount, std::vector<uint64_t>& out)
{
    if (e.count == 0 || e.count > maxCount)
        return false;
    const int tb = typeBytes(e.type);
    if (e.type != 1 && e.type != 3 && e.type != 4)
        return false;
    std::vector<unsigned char> raw(size_t(e.count) * size_t(tb));
    if (!r.bytes(e.valuePos, raw.data(), int64_t(raw.size())))
        return false;
    out.resize(e.count);
    for (uint32_t i = 0; i < e.count; ++i) {
        const unsigned char* p = raw.data() + size_t(i) * size_t(tb);
        uint64_t v = 0;
        for (int k = 0; k < tb; ++k)
            v |= uint64_t(p[k]) << (8 * (r.bigEndian() ? tb - 1 - k : k));
        out[i] = v;
    }
    return true;
}

bool single(const Reader& r, const Entry& e, uint64_t* v)
{
    std::vector<uint64_t> all;
    if (!values(r, e, 1, all))
        return false;
    *v = all[0];
    return true;
}

bool parse(const File& f, TiffLayout& t)
{
    int64_t size = f.size();
    unsigned char head[8];
    if (size < 8 || f.readAt(head, 8, 0) != 8)
        return false;
    if (head[0] == 'I' && head[1] == 'I' && head[2] == 0x2A && head[3] == 0)
        t.bigEndian = false;
    else if (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && head[3] == 0x2A)
        t.bigEndian = true;
    else
        return false;
    Reader r(f, size, t.bigEndian);
    uint32_t ifd, count;
    if (!r.u32(4, &ifd) || !r.u16(ifd, &count) || count == 0)
        return false;
    if (int64_t(ifd) + 2 + int64_t(count) * 12 > size)
        return false;

    uint64_t bits = 0, format = 1, compression = 1, samples = 1;
    bool haveWidth = false, haveHeight = false, haveBits = false, haveOffsets = false;
    uint64_t rowsPerStrip = 0;
    std::vector<uint64_t> list;
    for (uint32_t i = 0; i < count; ++i) {
        int64_t pos = int64_t(ifd) + 2 + int64_t(i) * 12;
        Entry e;
        uint32_t cnt, off;
        if (!r.u16(pos, &e.tag) || !r.u16(pos + 2, &e.type) || !r.u32(pos + 4, &cnt))
            return false;
        e.count = cnt;
        int tb = typeBytes(e.type);
        if (tb == 0)
            continue;
        if (uint64_t(cnt) * uint64_t(tb) <= 4) {
            e.valuePos = pos + 8;
        } else {
            if (!r.u32(pos + 8, &off))
                return false;
            e.valuePos = off;
            if (int64_t(off) + int64_t(cnt) * tb > size)
                return false;
        }
        switch (e.tag) {
        case 256:
            if (!single(r, e, &list.emplace_back()))
                return false;
            t.width = int64_t(list.back());
            haveWidth = true;
            break;
        case 257:
            if (!single(r, e, &list.emplace_back()))
                return false;
            t.height = int64_t(list.back());
            haveHeight = true;
            break;
        case 258: {
            std::vector<uint64_t> b;
            if (!values(r, e, 16, b))
                return false;
            bits = b[0];
            haveBits = true;
            break;
        }
        case 259:
            if (!single(r, e, &compression))
                return false;
            break;
        case 273:
            if (!values(r, e, uint32_t(size / 2), t.stripOffsets))
                return false;
            haveOffsets = true;
            break;
        case 277:
            if (!single(r, e, &samples))
                return false;
            break;
        case 278:
            if (!single(r, e, &rowsPerStrip))
                return false;
            break;
        case 322:
        case 323:
        case 324:
        case 325:
            return false; // tiled
        case 339: {
            std::vector<uint64_t> b;
            if (!values(r, e, 16, b))
                return false;
            format = b[0];
            break;
        }
        default:
            break;
        }
    }
    if (!haveWidth || !haveHeight || !haveBits || !haveOffsets)
        return false;
    if (compression != 1 || samples != 1 || t.width <= 0 || t.height <= 0 || t.width > INT32_MAX
        || t.height > INT32_MAX)
        return false;
    switch (bits) {
    case 8:
        t.typeData = format == 2 ? TYPEDATA_S8 : (format == 1 ? TYPEDATA_U8 : 0);
        break;
    case 16:
        t.typeData = format == 2 ? TYPEDATA_S16 : (format == 1 ? TYPEDATA_U16 : 0);
        break;
    case 32:
        t.typeData = format == 3 ? TYPEDATA_F32
            : format == 2        ? TYPEDATA_S32
            : format == 1        ? TYPEDATA_U32
                                 : 0;
        break;
    default:
        return false;
    }
    if (!t.typeData)
        return false;
    const int64_t es = vexaTypeSize(t.typeData);
    // Uncompressed strips never overlap, so the image cannot be larger than the file.
    if (t.width * t.height > size / es)
        return false;
    t.rowsPerStrip = (rowsPerStrip == 0 || int64_t(rowsPerStrip) > t.height)
        ? t.height
        : int64_t(rowsPerStrip);
    const int64_t strips = (t.height + t.rowsPerStrip - 1) / t.rowsPerStrip;
    if (int64_t(t.stripOffsets.size()) < strips)
        return false;
    t.stripOffsets.resize(size_t(strips));
    for (int64_t s = 0; s < strips; ++s) {
        int64_t rows = std::min(t.rowsPerStrip, t.height - s * t.rowsPerStrip);
        if (int64_t(t.stripOffsets[size_t(s)]) + rows * t.width * es > size)
            return false;
    }
    return true;
}

} // namespace

bool probeTiff(const std::string& path, HeaderInfo& h)
{
    File f(path, File::Read);
    TiffLayout t;
    if (!f.isOpen() || !parse(f, t))
        return false;
    h.dimX = int(t.width);
    h.dimY = int(t.height);
    h.dimZ = 1;
    h.typeData = t.typeData;
    h.nbBits = vexaTypeBits(t.typeData);
    h.sign = vexaTypeSign(t.typeData);
    h.endian = t.bigEndian ? 1 : 0;
    h.transpose = h.tiled = 0;
    h.picture = 0;
    h.tiff = 1;
    return true;
}

bool decodeTiff(
    const std::string& path, int typeData, int dimX, int dimY, std::vector<unsigned char>& out)
{
    File f(path, File::Read);
    TiffLayout t;
    if (!f.isOpen() || !parse(f, t))
        return false;
    if (t.typeData != typeData || t.width != dimX || t.height != dimY)
        return false;
    const int es = vexaTypeSize(t.typeData);
    const int64_t rowBytes = t.width * es;
    out.assign(size_t(t.width * t.height * es), 0);
    for (size_t s = 0; s < t.stripOffsets.size(); ++s) {
        int64_t first = int64_t(s) * t.rowsPerStrip;
        int64_t rows = std::min(t.rowsPerStrip, t.height - first);
        if (f.readAt(out.data() + first * rowBytes, rows * rowBytes, int64_t(t.stripOffsets[s]))
            < 0)
            return false;
    }
    if (t.bigEndian)
        swapInPlace(out.data(), t.width * t.height, es);
    return true;
}

} // namespace vexafile
