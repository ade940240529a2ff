// Header formats: reading in order (logical, GDR, INRIA, picture, TIFF), writing GDR,
// INRIA, DF3 and RAW, and numeric comments of INRIA headers.
#include "fileio.hpp"
#include "vexafile_internal.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vexafile {

namespace {

constexpr int kGdrHeaderSize = 256;
constexpr int kInriaHeaderSize = 4096;
constexpr int kInriaProbeSize = 76;

int gdrCodeToType(long code)
{
    switch (code) {
    case 0:
        return TYPEDATA_U8;
    case 1:
        return TYPEDATA_S8;
    case 2:
        return TYPEDATA_U16;
    case 3:
        return TYPEDATA_S16;
    case 4:
        return TYPEDATA_U32;
    case 5:
        return TYPEDATA_S32;
    case 7:
        return TYPEDATA_F64;
    case 8:
        return TYPEDATA_F32;
    case 9:
        return TYPEDATA_RGBA;
    default:
        return 0;
    }
}

int typeToGdrCode(int type)
{
    switch (type) {
    case TYPEDATA_U8:
        return 0;
    case TYPEDATA_S8:
        return 1;
    case TYPEDATA_U16:
        return 2;
    case TYPEDATA_S16:
        return 3;
    case TYPEDATA_U32:
        return 4;
    case TYPEDATA_S32:
        return 5;
    case TYPEDATA_F64:
        return 7;
    case TYPEDATA_F32:
        return 8;
    case TYPEDATA_RGBA:
        return 9;
    default:
        return -1;
    }
}

// A decimal number left-aligned in a fixed-width field padded with spaces (NULs are
// taken as padding too). False when the field holds anything else.
bool parseField(const unsigned char* p, int width, long long* value, bool* blank)
{
    int i = 0;
    auto isPad = [](unsigned char c) { return c == ' ' || c == '\0' || c == '\t'; };
    while (i < width && isPad(p[i]))
        ++i;
    *blank = (i == width);
    *value = 0;
    if (*blank)
        return true;
    bool negative = false;
    if (p[i] == '-' || p[i] == '+') {
        negative = p[i] == '-';
        ++i;
    }
    int digits = 0;
    long long v = 0;
    while (i < width && p[i] >= '0' && p[i] <= '9') {
        v = v * 10 + (p[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0)
        return false;
    while (i < width && isPad(p[i]))
        ++i;
    if (i != width)
        return false;
    *value = negative ? -v : v;
    return true;
}

bool readGdr(const File& f, HeaderInfo& h)
{
    unsigned char b[kGdrHeaderSize];
    if (f.readAt(b, kGdrHeaderSize, 0) != kGdrHeaderSize)
        return false;
    if (std::memcmp(b, "GDR", 3) != 0)
        return false;
    long long w, hh, code, depth;
    bool blankW, blankH, blankCode, blankDepth;
    if (!parseField(b + 8, 6, &w, &blankW) || !parseField(b + 14, 6, &hh, &blankH)
        || !parseField(b + 27, 3, &code, &blankCode) || !parseField(b + 30, 5, &depth, &blankDepth))
        return false;
    int type = gdrCodeToType(long(code));
    if (!type || blankW || blankH || w <= 0 || hh <= 0)
        return false;
    if (depth <= 0)
        depth = 1;
    h.dimX = int(w);
    h.dimY = int(hh);
    h.dimZ = int(depth);
    h.typeData = type;
    h.nbBits = vexaTypeBits(type);
    h.sign = vexaTypeSign(type);
    h.offsetData = kGdrHeaderSize;
    h.transpose = b[40] == 'T' ? 1 : 0;
    h.tiled = b[40] == 'B' ? 1 : 0;
    h.kind = VEXAFILE_HEADER_GDR;
    return true;
}

int be16(const unsigned char* p)
{
    return (p[0] << 8) | p[1];
}

int be24(const unsigned char* p)
{
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

enum class InriaVariant { None, A, B };

InriaVariant inriaVariant(const unsigned char* b)
{
    if (b[2] == 0x69 && b[3] == 0x31)
        return InriaVariant::A;
    if (b[1] == 0x08 && b[2] == 0x96 && b[3] == 0x97)
        return InriaVariant::B;
    return InriaVariant::None;
}

int inriaOffset(const unsigned char* b, InriaVariant v)
{
    return v == InriaVariant::A ? be16(b + 74) : be16(b + 26) + be16(b + 30);
}

bool readInria(const File& f, HeaderInfo& h)
{
    unsigned char b[kInriaProbeSize];
    if (f.readAt(b, kInriaProbeSize, 0) != kInriaProbeSize)
        return false;
    InriaVariant v = inriaVariant(b);
    h.kind = VEXAFILE_HEADER_INRIA;
    if (v == InriaVariant::A) {
        int bits = b[39];
        h.dimX = be16(b + 6);
        h.dimY = be16(b + 10);
        h.dimZ = be16(b + 14);
        h.nbBits = bits;
        h.offsetData = be16(b + 74);
        h.sign = 1;
        h.transpose = 1;
        h.tiled = 0;
        switch (bits) {
        case 8:
            if (b[35] == 4) {
                h.typeData = TYPEDATA_S8;
            } else {
                h.typeData = TYPEDATA_U8;
                h.sign = 0;
            }
            break;
        case 16:
            h.typeData = TYPEDATA_S16;
            break;
        case 32:
            h.typeData = TYPEDATA_F32;
            h.transpose = 0;
            break;
        default:
            return false;
        }
        return true;
    }
    if (v == InriaVariant::B) {
        h.dimX = be24(b + 17);
        h.dimY = be24(b + 13);
        h.dimZ = 1;
        h.nbBits = 32;
        h.typeData = TYPEDATA_F32;
        h.sign = 0;
        h.transpose = 0;
        h.tiled = 0;
        h.offsetData = inriaOffset(b, v);
        return true;
    }
    return false;
}

bool sane(const HeaderInfo& h)
{
    return geometryIsSane(h.dimX, h.dimY, h.dimZ, h.typeData, h.offsetData);
}

void putLeft(char* field, int width, long long value)
{
    char text[32];
    int n = std::snprintf(text, sizeof text, "%lld", value);
    if (n > 0)
        std::memcpy(field, text, size_t(std::min(n, width)));
}

void putBe16(unsigned char* p, int v)
{
    p[0] = (unsigned char)((v >> 8) & 0xff);
    p[1] = (unsigned char)(v & 0xff);
}

void putLe32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (unsigned char)((v >> (8 * i)) & 0xff);
}

int writeGdr(FileDescriptor& d)
{
    int w, h, z;
    vexaFileGetSizes(&d, &w, &h, &z);
    int code = typeToGdrCode(d.typeData);
    // Fields wider than their columns would run into the next field.
    if (code < 0 || w <= 0 || h <= 0 || z <= 0 || w > 999999 || h > 999999 || z > 99999)
        return 0;
    char b[kGdrHeaderSize];
    std::memset(b, ' ', sizeof b);
    std::memcpy(b, "GDR 1.0 ", 8);
    putLeft(b + 8, 6, w);
    putLeft(b + 14, 6, h);
    b[27] = char('0' + code);
    putLeft(b + 30, 5, z);
    b[39] = '0';
    b[40] = d.transpose ? 'T' : (d.tiled ? 'B' : ' ');
    File f(d.name, File::Create);
    if (!f.isOpen() || !f.writeAt(b, sizeof b, 0))
        return 0;
    return 1;
}

int writeInria(FileDescriptor& d)
{
    int w, h, z;
    vexaFileGetSizes(&d, &w, &h, &z);
    int code35 = 0, bits = 0;
    switch (d.typeData) {
    case TYPEDATA_U8:
        code35 = 20;
        bits = 8;
        break;
    case TYPEDATA_S8:
        code35 = 4;
        bits = 8;
        break;
    case TYPEDATA_S16:
        code35 = 2;
        bits = 16;
        break;
    case TYPEDATA_S32:
    case TYPEDATA_F32:
        bits = 32;
        break;
    default:
        return 0; // the header has no bit count that reads back for this type
    }
    if (w <= 0 || h <= 0 || z <= 0 || w > 65535 || h > 65535 || z > 65535)
        return 0;
    std::vector<unsigned char> b(kInriaHeaderSize, 0);
    b[2] = 0x69;
    b[3] = 0x31;
    putBe16(&b[6], h);
    putBe16(&b[10], w);
    putBe16(&b[14], z);
    b[35] = (unsigned char)code35;
    b[39] = (unsigned char)bits;
    putLe32(&b[44], 1);
    putLe32(&b[48], 1);
    putLe32(&b[52], 1);
    putLe32(&b[60], 76);
    putLe32(&b[64], 2484);
    putBe16(&b[74], kInriaHeaderSize);
    File f(d.name, File::Create);
    if (!f.isOpen() || !f.writeAt(b.data(), int64_t(b.size()), 0))
        return 0;
    return 1;
}

int writeDf3(FileDescriptor& d)
{
    int w, h, z;
    vexaFileGetSizes(&d, &w, &h, &z);
    if (w <= 0 || h <= 0 || z <= 0 || w > 65535 || h > 65535 || z > 65535)
        return 0;
    unsigned char b[6];
    putBe16(b, w);
    putBe16(b + 2, h);
    putBe16(b + 4, z);
    File f(d.name, File::Create);
    if (!f.isOpen() || !f.writeAt(b, sizeof b, 0))
        return 0;
    d.offsetData = 6;
    return 1;
}

} // namespace

bool geometryIsSane(int dimX, int dimY, int dimZ, int typeData, int64_t offsetData)
{
    if (dimX <= 0 || dimY <= 0 || dimZ <= 0 || !vexaTypeIsValid(typeData) || offsetData < 0)
        return false;
    // Tiled files round every axis up to 32 and are the largest layout.
    const int64_t limit = int64_t(1) << 62;
    int64_t x = (int64_t(dimX) + 31) / 32 * 32;
    int64_t y = (int64_t(dimY) + 31) / 32 * 32;
    int64_t z = (int64_t(dimZ) + 31) / 32 * 32;
    int64_t bytes;
    if (__builtin_mul_overflow(x, y, &bytes) || __builtin_mul_overflow(bytes, z, &bytes)
        || __builtin_mul_overflow(bytes, int64_t(vexaTypeSize(typeData)), &bytes))
        return false;
    return bytes <= limit - offsetData;
}

HeaderInfo headerFrom(const FileDescriptor& d)
{
    HeaderInfo h;
    h.dimX = d.dimX;
    h.dimY = d.dimY;
    h.dimZ = d.dimZ;
    h.nbBits = d.nbBits;
    h.sign = d.sign;
    h.typeData = d.typeData;
    h.offsetData = d.offsetData;
    h.transpose = d.transpose;
    h.tiled = d.tiled;
    h.endian = d.endian;
    return h;
}

void commitHeader(FileDescriptor& d, HeaderInfo&& h)
{
    d.dimX = h.dimX;
    d.dimY = h.dimY;
    d.dimZ = h.dimZ;
    d.nbBits = h.nbBits;
    d.sign = h.sign;
    d.typeData = h.typeData;
    d.offsetData = h.offsetData;
    d.transpose = h.transpose;
    d.tiled = h.tiled;
    d.endian = h.endian;
    d.picture = h.picture;
    d.tiff = h.tiff;
    d.headerFound = h.kind;
    for (auto& p : h.parts)
        p->owner = &d;
    d.parts = std::move(h.parts);
}

int readHeader(FileDescriptor& d, int depth, HeaderRead* read)
{
    if (!d.hasName)
        return 0;
    {
        HeaderRead own;
        HeaderInfo h = headerFrom(d);
        h.picture = h.tiff = 0;
        h.transpose = h.tiled = 0;
        if (readLogicalDescription(d.name, h, depth, read ? *read : own)) {
            commitHeader(d, std::move(h));
            return 1;
        }
    }
    File f(d.name, File::Read);
    if (!f.isOpen())
        return 0;
    using Reader = bool (*)(const File&, HeaderInfo&);
    for (Reader reader : { Reader(readGdr), Reader(readInria) }) {
        HeaderInfo h = headerFrom(d);
        h.picture = h.tiff = 0;
        if (reader(f, h) && sane(h)) {
            commitHeader(d, std::move(h));
            return 1;
        }
    }
    {
        HeaderInfo h = headerFrom(d);
        h.transpose = h.tiled = 0;
        h.tiff = 0;
        if (probePicture(d.name, h) && sane(h)) {
            commitHeader(d, std::move(h));
            return 1;
        }
    }
    {
        HeaderInfo h = headerFrom(d);
        h.transpose = h.tiled = 0;
        h.picture = 0;
        if (probeTiff(d.name, h) && sane(h)) {
            commitHeader(d, std::move(h));
            return 1;
        }
    }
    setLastError(d.name, "Format de fichier non reconnu ou entête invalide");
    return 0;
}

int writeHeader(FileDescriptor& d)
{
    if (!d.hasName)
        return 0;
    int kind = d.header == 0 ? 1 : d.header;
    if (kind != 1 && kind != 3 && kind != 4)
        kind = 2;
    int written = 1; // RAW: the caller's offset, type and sizes stand as they are
    switch (kind) {
    case 1:
        written = writeGdr(d) && readHeader(d, 0);
        break;
    case 2:
        written = writeInria(d) && readHeader(d, 0);
        break;
    case 3:
        written = writeDf3(d);
        break;
    default:
        break;
    }
    if (!written && !hasLastError())
        setLastError(d.name, "Tailles ou type non représentables dans cet entête");
    return written;
}

double parseCommentNumber(const char* text, size_t length, bool* clean)
{
    double mantissa = 0;
    int scale = 0;
    int exponent = 0;
    bool point = false, exponentSeen = false, negative = false, negativeExponent = false;
    bool ok = true;
    for (size_t i = 0; i < length && ok; ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9') {
            if (exponentSeen) {
                // Saturate: an absurd exponent must not overflow the integer.
                if (exponent < 100000)
                    exponent = exponent * 10 + (c - '0');
            } else {
                mantissa = mantissa * 10 + (c - '0');
                if (point)
                    --scale;
            }
        } else if (c == '.' || c == ',') {
            if (point || exponentSeen)
                ok = false;
            else
                point = true;
        } else if (c == '-') {
            if (exponentSeen) {
                if (negativeExponent)
                    ok = false;
                else
                    negativeExponent = true;
            } else {
                if (negative)
                    ok = false;
                else
                    negative = true;
            }
        } else if (c == 'E' || c == 'e') {
            if (exponentSeen)
                ok = false;
            else
                exponentSeen = true;
        } else {
            ok = false;
        }
    }
    double m = negative ? -mantissa : mantissa;
    int e = scale + (negativeExponent ? -exponent : exponent);
    *clean = ok;
    return m * std::pow(10.0, double(e));
}

int getComment(const FileDescriptor& d, const char* key, double* value)
{
    if (!d.hasName || !*key)
        return 0;
    File f(d.name, File::Read);
    if (!f.isOpen())
        return 0;
    unsigned char probe[kInriaProbeSize];
    if (f.readAt(probe, kInriaProbeSize, 0) != kInriaProbeSize)
        return 0;
    InriaVariant v = inriaVariant(probe);
    if (v == InriaVariant::None)
        return 0;
    const int64_t begin = 60;
    int64_t end = inriaOffset(probe, v);
    if (end <= begin)
        return 0;
    std::string area(size_t(end - begin), '\0');
    int64_t got = f.readAt(area.data(), end - begin, begin);
    if (got <= 0)
        return 0;
    area.resize(size_t(got));
    // A match never spans a NUL, as in a search restarted after each NUL.
    std::string_view text(area);
    size_t at = text.find(key);
    if (at == std::string_view::npos)
        return 0;
    size_t limit = text.find('\0', at);
    if (limit == std::string_view::npos)
        limit = text.size();
    size_t eq = text.find('=', at);
    if (eq == std::string_view::npos || eq >= limit)
        return 0;
    size_t start = eq + 1;
    size_t stop = text.find_first_of(std::string_view("\n\0", 2), start);
    if (stop == std::string_view::npos)
        stop = text.size();
    bool clean = false;
    *value = parseCommentNumber(text.data() + start, stop - start, &clean);
    return clean ? 1 : 0;
}

} // namespace vexafile
