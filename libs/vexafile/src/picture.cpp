// Picture files (BMP, PNG, JPEG, GIF, PNM) decoded with stb_image.
//
// Indexed and 8-bit grey pictures give U8 samples (the blue byte of the picture
// rendered in 24-bit colour), 16-bit grey pictures S16 (the 16 bits as stored), 24-bit
// colour pictures RGBA with alpha 0; rows come top first. Pictures with an alpha
// channel or two grey channels are left to the next reader.
#include "fileio.hpp"
#include "vexafile_internal.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "stb_image.h"

namespace vexafile {

namespace {

enum class Format { None, Bmp, Png, Gif, Jpeg, Pnm };

struct Probe {
    Format format = Format::None;
    bool indexed = false;
};

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int le16(const unsigned char* p)
{
    return p[0] | p[1] << 8;
}

// Checks the fields of a BMP header that the decoder would otherwise accept or guess
// at; a file that contradicts itself is refused rather than shown half right.
bool bmpIsSound(const File& f, const unsigned char* b, int64_t n, int64_t fileSize, bool* indexed)
{
    if (n < 26)
        return false;
    uint32_t dataOffset = le32(b + 10);
    uint32_t headerSize = le32(b + 14);
    int bpp, planes;
    int64_t width, height;
    uint32_t compression = 0, colours = 0;
    if (headerSize == 12) {
        width = le16(b + 18);
        height = int16_t(le16(b + 20));
        planes = le16(b + 22);
        bpp = le16(b + 24);
    } else {
        if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 64
            && headerSize != 108 && headerSize != 124)
            return false;
        if (n < 54)
            return false;
        width = int32_t(le32(b + 18));
        height = int32_t(le32(b + 22));
        planes = le16(b + 26);
        bpp = le16(b + 28);
        compression = le32(b + 30);
        colours = le32(b + 46);
    }
    if (planes != 1 || width <= 0 || height == 0 || height == INT32_MIN)
        return false;
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return false;
    if (bpp <= 8 && colours > (1u << bpp))
        return false;
    if (dataOffset < 14 + headerSize || dataOffset >= fileSize)
        return false;
    // Sizes the header claims beyond what the file holds.
    uint32_t declaredFileSize = le32(b + 2);
    if (declaredFileSize > uint64_t(fileSize))
        return false;
    if (headerSize >= 40) {
        uint32_t imageSize = le32(b + 34);
        if (imageSize > uint64_t(fileSize - dataOffset))
            return false;
        // Pixel densities that make the picture tens of thousands of times wider than
        // high are a damaged header, not a picture.
        int64_t dx = int32_t(le32(b + 38)), dy = int32_t(le32(b + 42));
        if (dx < 0 || dy < 0 || (dx > 0 && dy > 0 && (dx > 1000 * dy || dy > 1000 * dx)))
            return false;
    }
    const int64_t rowBytes = (width * bpp + 31) / 32 * 4;
    const int64_t rows = height < 0 ? -height : height;
    if (compression == 0 || compression == 3 || compression == 6) {
        // Uncompressed rows must all be in the file.
        if (rowBytes * rows > fileSize - int64_t(dataOffset))
            return false;
        // Every palette index must name a colour of the palette.
        if (bpp <= 8 && compression == 0) {
            uint32_t entries = colours ? colours : (1u << bpp);
            if (entries < (1u << bpp)) {
                std::vector<unsigned char> row(static_cast<size_t>(rowBytes));
                for (int64_t r = 0; r < rows; ++r) {
                    if (f.readAt(row.data(), rowBytes, dataOffset + r * rowBytes) != rowBytes)
                        return false;
                    for (int64_t x = 0; x < width; ++x) {
                        int64_t bit = x * bpp;
                        unsigned v
                            = (row[size_t(bit / 8)] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
                        if (v >= entries)
                            return false;
                    }
                }
            }
        }
    }
    *indexed = bpp <= 8;
    return true;
}

Probe probeFormat(const std::string& path)
{
    Probe p;
    File f(path, File::Read);
    if (!f.isOpen())
        return p;
    unsigned char b[64] = {};
    int64_t n = f.readAt(b, sizeof b, 0);
    int64_t size = f.size();
    if (n < 4)
        return p;
    if (b[0] == 'B' && b[1] == 'M') {
        if (bmpIsSound(f, b, n, size, &p.indexed))
            p.format = Format::Bmp;
    } else if (n >= 26 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0) {
        p.format = Format::Png;
        p.indexed = b[25] == 3;
    } else if (n >= 6 && (std::memcmp(b, "GIF87a", 6) == 0 || std::memcmp(b, "GIF89a", 6) == 0)) {
        p.format = Format::Gif;
        p.indexed = true;
    } else if (b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) {
        p.format = Format::Jpeg;
    } else if (b[0] == 'P' && (b[1] == '5' || b[1] == '6')
        && (b[2] == ' ' || b[2] == '\n' || b[2] == '\r' || b[2] == '\t')) {
        p.format = Format::Pnm;
    }
    return p;
}

struct StdFile {
    FILE* f;
    ~StdFile()
    {
        if (f)
            std::fclose(f);
    }
};

struct StbImage {
    void* data;
    ~StbImage() { stbi_image_free(data); }
};

// 16-bit grey PNM ("P5" with a maximum above 255): samples are big-endian, which
// the decoder does not swap, so they are read here.
bool decodePnm16(const std::string& path, int* width, int* height, std::vector<unsigned char>& out)
{
    File f(path, File::Read);
    unsigned char head[256];
    int64_t n = f.readAt(head, sizeof head, 0);
    if (n < 3 || head[0] != 'P' || head[1] != '5')
        return false;
    int64_t pos = 2;
    long long fields[3];
    for (long long& v : fields) {
        for (;;) {
            while (pos < n && std::isspace(head[pos]))
                ++pos;
            // A comment ends at a line feed or a carriage return, as the decoder's
            // header reader (which gave the sizes checked against these) has it.
            if (pos < n && head[pos] == '#') {
                while (pos < n && head[pos] != '\n' && head[pos] != '\r')
                    ++pos;
                continue;
            }
            break;
        }
        if (pos >= n || !std::isdigit(head[pos]))
            return false;
        v = 0;
        while (pos < n && std::isdigit(head[pos]) && v < (1LL << 40))
            v = v * 10 + (head[pos++] - '0');
    }
    if (pos >= n || !std::isspace(head[pos]))
        return false;
    ++pos; // the single white space before the samples
    const long long w = fields[0], h = fields[1], maxValue = fields[2];
    // Sizes reach 2^40 each: their product is compared by division, not formed.
    if (w <= 0 || h <= 0 || maxValue < 256 || maxValue > 65535 || w > kMaxPicturePixels / h)
        return false;
    const int64_t bytes = w * h * 2;
    if (f.size() - pos < bytes)
        return false;
    out.resize(size_t(bytes));
    if (f.readAt(out.data(), bytes, pos) != bytes)
        return false;
    swapInPlace(out.data(), w * h, 2);
    *width = int(w);
    *height = int(h);
    return true;
}

// A true-colour BMP may keep a palette (a hint for indexed displays) between its
// header and its pixels. The decoder wants the pixels right after the header, so such
// a file is decoded from a copy without that gap; false when the file needs no copy.
bool bmpWithoutGap(const std::string& path, std::vector<unsigned char>& bytes)
{
    File f(path, File::Read);
    unsigned char b[54] = {};
    if (!f.isOpen() || f.readAt(b, sizeof b, 0) != int64_t(sizeof b) || b[0] != 'B' || b[1] != 'M')
        return false;
    const uint32_t dataOffset = le32(b + 10);
    const uint32_t headerSize = le32(b + 14);
    if (headerSize < 40 || headerSize > 124)
        return false;
    const int64_t width = int32_t(le32(b + 18));
    const int64_t height = int32_t(le32(b + 22));
    const int bpp = le16(b + 28);
    const uint32_t compression = le32(b + 30);
    if (bpp < 16 || (compression != 0 && compression != 3) || width <= 0 || height == 0
        || height == INT32_MIN)
        return false;
    const int64_t rows = height < 0 ? -height : height;
    if (width * rows > kMaxPicturePixels)
        return false;
    // What the decoder reads before the pixels: the headers, and the three colour
    // masks that follow a 40- or 56-byte header of 16- and 32-bit bit-field files.
    const bool masksFollow
        = (headerSize == 40 || headerSize == 56) && (bpp == 16 || bpp == 32) && compression == 3;
    const int64_t headerEnd = 14 + int64_t(headerSize) + (masksFollow ? 12 : 0);
    const int64_t fileSize = f.size();
    if (dataOffset <= headerEnd || dataOffset >= fileSize)
        return false;
    const int64_t pixelBytes = std::min(fileSize - dataOffset, (width * bpp + 31) / 32 * 4 * rows);
    bytes.resize(size_t(headerEnd + pixelBytes));
    if (f.readAt(bytes.data(), headerEnd, 0) != headerEnd
        || f.readAt(bytes.data() + headerEnd, pixelBytes, dataOffset) != pixelBytes)
        return false;
    const uint32_t newSize = uint32_t(bytes.size());
    for (int i = 0; i < 4; ++i) {
        bytes[size_t(2 + i)] = static_cast<unsigned char>(newSize >> (8 * i));
        bytes[size_t(10 + i)] = static_cast<unsigned char>(uint32_t(headerEnd) >> (8 * i));
    }
    return true;
}

// Decodes the whole picture as the given type; the result is dimX x dimY.
bool decode(
    const std::string& path, int typeData, int* width, int* height, std::vector<unsigned char>& out)
{
    StdFile file { std::fopen(path.c_str(), "rb") };
    if (!file.f)
        return false;
    std::vector<unsigned char> copy;
    const bool fromCopy = bmpWithoutGap(path, copy);
    if (fromCopy && copy.size() > size_t(INT32_MAX))
        return false;
    int w = 0, h = 0, comp = 0;
    const int infoOk = fromCopy
        ? stbi_info_from_memory(copy.data(), int(copy.size()), &w, &h, &comp)
        : stbi_info_from_file(file.f, &w, &h, &comp);
    // The header reader reports top-down BMPs with a negative height.
    if (!infoOk || w <= 0 || h == 0 || h == INT32_MIN
        || int64_t(w) * std::abs(int64_t(h)) > kMaxPicturePixels)
        return false;
    // A header may claim a canvas its bytes cannot fill, and a GIF's canvas is allocated
    // and cleared before any pixel is read: no format read here packs more than 16384
    // pixels into a byte of file, so a larger claim is refused before decoding.
    int64_t bytes = int64_t(copy.size());
    if (!fromCopy && std::fseek(file.f, 0, SEEK_END) == 0) {
        bytes = std::ftell(file.f);
        std::rewind(file.f);
    }
    if (int64_t(w) * std::abs(int64_t(h)) > std::max<int64_t>(bytes, 1) * 16384)
        return false;
    if (typeData == TYPEDATA_S16 && probeFormat(path).format == Format::Pnm)
        return decodePnm16(path, width, height, out);
    if (typeData == TYPEDATA_S16) {
        StbImage img { stbi_load_from_file_16(file.f, &w, &h, &comp, 1) };
        if (!img.data)
            return false;
        out.resize(size_t(w) * size_t(h) * 2);
        std::memcpy(out.data(), img.data, out.size());
    } else {
        StbImage img { fromCopy
                ? stbi_load_from_memory(copy.data(), int(copy.size()), &w, &h, &comp, 3)
                : stbi_load_from_file(file.f, &w, &h, &comp, 3) };
        if (!img.data)
            return false;
        const auto* rgb = static_cast<const unsigned char*>(img.data);
        const size_t count = size_t(w) * size_t(h);
        if (typeData == TYPEDATA_RGBA) {
            out.assign(count * 4, 0);
            for (size_t i = 0; i < count; ++i)
                std::memcpy(&out[i * 4], rgb + i * 3, 3);
        } else {
            out.resize(count);
            for (size_t i = 0; i < count; ++i)
                out[i] = rgb[i * 3 + 2];
        }
    }
    *width = w;
    *height = h;
    return true;
}

} // namespace

bool probePicture(const std::string& path, HeaderInfo& h)
{
    Probe p = probeFormat(path);
    if (p.format == Format::None)
        return false;
    int type = 0;
    {
        StdFile file { std::fopen(path.c_str(), "rb") };
        if (!file.f)
            return false;
        int w = 0, hh = 0, comp = 0;
        if (!stbi_info_from_file(file.f, &w, &hh, &comp))
            return false;
        if (p.indexed)
            type = TYPEDATA_U8;
        else if (comp == 1)
            type = stbi_is_16_bit_from_file(file.f) ? TYPEDATA_S16 : TYPEDATA_U8;
        else if (comp == 3)
            type = TYPEDATA_RGBA;
        else
            return false;
    }
    // The picture must decode completely, not just have a readable header.
    std::vector<unsigned char> pixels;
    int w = 0, hh = 0;
    if (!decode(path, type, &w, &hh, pixels))
        return false;
    h.dimX = w;
    h.dimY = hh;
    h.dimZ = 1;
    h.typeData = type;
    h.nbBits = vexaTypeBits(type);
    h.sign = vexaTypeSign(type);
    h.endian = 0;
    h.offsetData = 0;
    h.transpose = h.tiled = 0;
    h.picture = 1;
    h.tiff = 0;
    return true;
}

bool decodePicture(
    const std::string& path, int typeData, int dimX, int dimY, std::vector<unsigned char>& out)
{
    if (probeFormat(path).format == Format::None)
        return false;
    int w = 0, h = 0;
    return decode(path, typeData, &w, &h, out) && w == dimX && h == dimY;
}

} // namespace vexafile
