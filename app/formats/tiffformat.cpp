// TIFF through libtiff: every compression libtiff was built with, strips or tiles,
// contiguous or separate planes, classic or BigTIFF. Pages of one size and type open
// as a volume (page = Z).
//
// Sample values are kept as stored (no photometric inversion), as the workstation's
// own TIFF reader does, except for bilevel images, which have no values to keep:
// they read as U8 with black 0 and white 255. Colour (RGB, palette, YCbCr...) reads as
// RGBA bytes R, G, B, A; without an alpha sample, alpha is 0 as for other pictures.
#include "formats/formats.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <vector>

#include "atomicsave.hpp"
#include "vexa_reason.hpp"
#include "vexa_types.h"

namespace vexa {

namespace {

// libtiff reports through handlers; the first error is kept and nothing is printed.
struct TiffMessages {
    bool failed = false;
};

int keepError(TIFF*, void* user, const char*, const char*, va_list)
{
    if (user)
        static_cast<TiffMessages*>(user)->failed = true;
    return 1; // handled: the process-wide handler is not called
}

int dropWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

void silenceLibtiff()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle openTiff(const std::string& path, const char* mode, TiffMessages* messages)
{
    silenceLibtiff();
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, keepError, messages);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, dropWarning, nullptr);
    TIFF* tif = TIFFOpenExt(path.c_str(), mode, opts);
    TIFFOpenOptionsFree(opts);
    return TiffHandle(tif);
}

enum class PageKind { Grey, Bilevel, Palette, Rgb, RgbaImage };

// One directory as the reader sees it.
struct Page {
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, samples = 1, sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE;
    bool alpha = false; // a fourth sample read as alpha
    bool tiled = false;
    PageKind kind = PageKind::Grey;
    int typeData = 0;
};

std::string bitsText(int bits)
{
    return std::to_string(bits) + " bits";
}

// Sets page from the current directory; false with the French reason otherwise.
bool classifyPage(TIFF* tif, Page& page, std::string& why)
{
    uint32_t w = 0, h = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h)
        || w == 0 || h == 0 || w > uint32_t(INT_MAX) || h > uint32_t(INT_MAX)) {
        why = "dimensions de l'image absentes ou invalides";
        return false;
    }
    page.width = w;
    page.height = h;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &page.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &page.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &page.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &page.compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric))
        page.photometric = page.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    page.tiled = TIFFIsTiled(tif) != 0;
    if (page.samples == 0) {
        why = "nombre d'échantillons par pixel nul";
        return false;
    }
    if (!TIFFIsCODECConfigured(page.compression)) {
        why = "compression TIFF non prise en charge (code " + std::to_string(page.compression)
            + ")";
        return false;
    }
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);

    // JPEG-compressed YCbCr is turned into RGB by the codec itself.
    if (page.compression == COMPRESSION_JPEG && page.photometric == PHOTOMETRIC_YCBCR) {
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        page.photometric = PHOTOMETRIC_RGB;
    }

    const int bits = page.bits;
    const bool isFloat = page.sampleFormat == SAMPLEFORMAT_IEEEFP;
    const bool isSigned = page.sampleFormat == SAMPLEFORMAT_INT;
    if (page.sampleFormat != SAMPLEFORMAT_UINT && !isFloat && !isSigned
        && page.sampleFormat != SAMPLEFORMAT_VOID) {
        why = "format d'échantillon TIFF non pris en charge (code "
            + std::to_string(page.sampleFormat) + ")";
        return false;
    }
    switch (page.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        if (bits == 1 && !isFloat) {
            page.kind = PageKind::Bilevel;
            page.typeData = TYPEDATA_U8;
            return true;
        }
        page.kind = PageKind::Grey;
        if (isFloat) {
            page.typeData = bits == 32 ? TYPEDATA_F32 : bits == 64 ? TYPEDATA_F64 : 0;
        } else if (bits == 2 || bits == 4 || bits == 8) {
            page.typeData = isSigned && bits == 8 ? TYPEDATA_S8 : TYPEDATA_U8;
        } else if (bits == 16) {
            page.typeData = isSigned ? TYPEDATA_S16 : TYPEDATA_U16;
        } else if (bits == 24 || bits == 32) {
            page.typeData = isSigned ? TYPEDATA_S32 : TYPEDATA_U32;
        }
        if (page.typeData == 0) {
            why = std::string("échantillons ") + (isFloat ? "flottants " : "entiers ") + "de "
                + bitsText(bits) + " non pris en charge";
            return false;
        }
        return true;
    case PHOTOMETRIC_PALETTE: {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) {
            why = "image à palette sans table de couleurs";
            return false;
        }
        if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16) {
            why = "image à palette de " + bitsText(bits) + " non prise en charge";
            return false;
        }
        page.kind = PageKind::Palette;
        page.typeData = TYPEDATA_RGBA;
        return true;
    }
    case PHOTOMETRIC_RGB:
        if (page.samples >= 3 && (bits == 8 || bits == 16) && !isFloat) {
            page.kind = PageKind::Rgb;
            page.typeData = TYPEDATA_RGBA;
            page.alpha = page.samples >= 4;
            return true;
        }
        break;
    default:
        break;
    }
    // Other colour models (CMYK, Lab, subsampled YCbCr...) go through libtiff's own
    // conversion to 8-bit RGBA.
    char message[1024] = { 0 };
    if (TIFFRGBAImageOK(tif, message)) {
        page.kind = PageKind::RgbaImage;
        page.typeData = TYPEDATA_RGBA;
        page.alpha = extraCount > 0
            && (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA);
        return true;
    }
    why = "représentation des couleurs TIFF non prise en charge (photométrie "
        + std::to_string(page.photometric) + ", " + std::to_string(page.samples)
        + " échantillons de " + bitsText(bits) + ")";
    return false;
}

bool samePage(const Page& a, const Page& b)
{
    return a.width == b.width && a.height == b.height && a.typeData == b.typeData;
}

// Upper bound of the decoded bytes that the stored bytes of the current directory can
// yield, so that a small file cannot announce a huge image. Fax codings need one bit
// per row at least; other codecs stay below 1:65536.
bool sizeFitsFile(TIFF* tif, const Page& page, uint64_t fileSize)
{
    const uint32_t chunks = page.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint64_t stored = 0;
    for (uint32_t i = 0; i < chunks; ++i)
        stored += std::min<uint64_t>(TIFFGetStrileByteCount(tif, i), fileSize);
    const uint64_t planes = page.planar == PLANARCONFIG_SEPARATE ? page.samples : 1;
    const uint64_t decoded = uint64_t(TIFFScanlineSize64(tif)) * page.height * planes;
    if (stored == 0)
        return false;
    switch (page.compression) {
    case COMPRESSION_NONE:
        return decoded <= stored;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_CCITTRLEW:
        return uint64_t(page.height) * planes <= stored * 8;
    default:
        return decoded / 65536 <= stored;
    }
}

struct TiffState {
    std::vector<tdir_t> pages; // directories read, in Z order
};

std::string describe(const Page& page, std::size_t pages)
{
    std::string text = "TIFF : " + std::to_string(page.width) + " x " + std::to_string(page.height)
        + ", " + std::to_string(pages) + (pages > 1 ? " pages" : " page") + ", "
        + std::to_string(page.samples) + " échantillon(s) de " + bitsText(page.bits);
    switch (page.kind) {
    case PageKind::Bilevel:
        text += ", image binaire lue en 0 (noir) et 255 (blanc)";
        break;
    case PageKind::Grey:
        text += page.photometric == PHOTOMETRIC_MINISWHITE
            ? ", niveaux de gris inversés (0 = blanc), valeurs lues telles quelles"
            : ", niveaux de gris";
        if (page.samples > 1)
            text += ", seul le premier échantillon est lu";
        break;
    case PageKind::Palette:
        text += ", palette convertie en RGBA";
        break;
    case PageKind::Rgb:
    case PageKind::RgbaImage:
        text += page.alpha ? ", couleur avec alpha" : ", couleur";
        break;
    }
    const TIFFCodec* codec = TIFFFindCODEC(page.compression);
    text += ", compression ";
    text += page.compression == COMPRESSION_NONE ? "aucune" : codec ? codec->name : "?";
    text += page.tiled ? ", en tuiles" : ", en bandes";
    return text;
}

std::string openFailure(const std::string& path)
{
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0)
        return fileReason(path, systemErrorText(errno));
    return fileReason(path, "fichier TIFF invalide ou endommagé");
}

uint64_t fileSizeOf(const std::string& path)
{
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

bool tiffSniff(const std::string&, const std::string& head)
{
    if (head.size() < 4)
        return false;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(head.data());
    if (b[0] == 'I' && b[1] == 'I')
        return b[3] == 0 && (b[2] == 42 || b[2] == 43);
    if (b[0] == 'M' && b[1] == 'M')
        return b[2] == 0 && (b[3] == 42 || b[3] == 43);
    return false;
}

bool tiffProbe(const std::string& path, FormatHeader& header, std::string* reason)
{
    TiffMessages messages;
    TiffHandle tif = openTiff(path, "rm", &messages);
    if (!tif) {
        setReason(reason, openFailure(path));
        return false;
    }
    const uint64_t fileSize = fileSizeOf(path);
    Page first;
    std::string why;
    if (!classifyPage(tif.get(), first, why)) {
        setReason(reason, fileReason(path, why));
        return false;
    }
    if (!sizeFitsFile(tif.get(), first, fileSize)) {
        setReason(reason, fileReason(path, "taille annoncée hors de proportion avec le fichier"));
        return false;
    }
    auto state = std::make_shared<TiffState>();
    state->pages.push_back(TIFFCurrentDirectory(tif.get()));
    bool mixed = false;
    while (TIFFReadDirectory(tif.get())) {
        Page next;
        std::string ignored;
        if (!classifyPage(tif.get(), next, ignored) || !samePage(first, next)
            || !sizeFitsFile(tif.get(), next, fileSize)) {
            mixed = true;
            break;
        }
        if (state->pages.size() >= std::size_t(INT_MAX))
            break;
        state->pages.push_back(TIFFCurrentDirectory(tif.get()));
    }
    if (mixed)
        state->pages.resize(1);

    header = FormatHeader {};
    header.width = int(first.width);
    header.height = int(first.height);
    header.depth = int(state->pages.size());
    header.typeData = first.typeData;
    header.info = describe(first, state->pages.size());
    if (mixed)
        header.info += "\nPages de tailles ou de types différents : seule la première est lue.";
    header.state = state;
    return true;
}

// Unsigned value of sample index (in samples from the row start) of bits width. The
// codec has already put multi-byte samples in the machine's order and the bits of
// 1, 2 and 4-bit samples most significant first.
uint64_t sampleAt(const uint8_t* row, uint64_t index, int bits)
{
    switch (bits) {
    case 8:
        return row[index];
    case 16: {
        uint16_t v;
        std::memcpy(&v, row + index * 2, 2);
        return v;
    }
    case 24: {
        const uint8_t* p = row + index * 3;
        uint32_t v = 0;
        std::memcpy(&v, p, 3); // native (little-endian) order after the codec's swap
        return v;
    }
    case 32: {
        uint32_t v;
        std::memcpy(&v, row + index * 4, 4);
        return v;
    }
    case 64: {
        uint64_t v;
        std::memcpy(&v, row + index * 8, 8);
        return v;
    }
    default: {
        const uint64_t bit = index * uint64_t(bits);
        const unsigned shift = unsigned(8 - bits - int(bit % 8));
        return (row[bit / 8] >> shift) & ((1u << bits) - 1);
    }
    }
}

void storeValue(uint8_t* out, int typeData, uint64_t v, int bits)
{
    switch (vexaTypeSize(typeData)) {
    case 1:
        *out = uint8_t(v);
        break;
    case 2: {
        const uint16_t s = uint16_t(v);
        std::memcpy(out, &s, 2);
        break;
    }
    case 4: {
        uint32_t s = uint32_t(v);
        if (bits == 24 && typeData == TYPEDATA_S32 && (s & 0x800000u))
            s |= 0xFF000000u; // sign of a 24-bit integer
        std::memcpy(out, &s, 4);
        break;
    }
    default:
        std::memcpy(out, &v, 8);
        break;
    }
}

struct Palette {
    const uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    int shift = 8; // 0 for old files that store 8-bit entries
};

Palette paletteOf(TIFF* tif, int bits)
{
    Palette pal;
    TIFFGetField(tif, TIFFTAG_COLORMAP, &pal.r, &pal.g, &pal.b);
    const long entries = 1L << bits;
    bool eightBit = true;
    for (long i = 0; i < entries && eightBit; ++i)
        eightBit = pal.r[i] < 256 && pal.g[i] < 256 && pal.b[i] < 256;
    pal.shift = eightBit ? 0 : 8;
    return pal;
}

// Reads the current directory into out (width * height samples of page.typeData).
bool readPage(TIFF* tif, const Page& page, uint8_t* out, TiffMessages& messages)
{
    const uint64_t w = page.width, h = page.height;
    const int elem = vexaTypeSize(page.typeData);
    if (page.kind == PageKind::RgbaImage) {
        std::vector<uint32_t> raster(w * h);
        if (!TIFFReadRGBAImageOriented(
                tif, page.width, page.height, raster.data(), ORIENTATION_TOPLEFT, 1)
            || messages.failed)
            return false;
        for (uint64_t i = 0; i < w * h; ++i) {
            const uint32_t p = raster[i];
            out[4 * i + 0] = uint8_t(TIFFGetR(p));
            out[4 * i + 1] = uint8_t(TIFFGetG(p));
            out[4 * i + 2] = uint8_t(TIFFGetB(p));
            out[4 * i + 3] = page.alpha ? uint8_t(TIFFGetA(p)) : 0;
        }
        return true;
    }

    const bool separate = page.planar == PLANARCONFIG_SEPARATE && page.samples > 1;
    int planes = 1;
    if (separate)
        planes = page.kind == PageKind::Rgb ? (page.alpha ? 4 : 3) : 1;
    uint32_t chunkW = page.width, chunkH = page.height;
    uint64_t rowBytes = 0, chunkBytes = 0;
    if (page.tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &chunkW);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &chunkH);
        rowBytes = uint64_t(TIFFTileRowSize64(tif));
        chunkBytes = uint64_t(TIFFTileSize64(tif));
    } else {
        uint32_t rows = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
        chunkH = std::clamp<uint32_t>(rows, 1, page.height);
        rowBytes = uint64_t(TIFFScanlineSize64(tif));
        chunkBytes = uint64_t(TIFFStripSize64(tif));
    }
    if (chunkW == 0 || chunkH == 0 || rowBytes == 0 || chunkBytes < rowBytes
        || chunkBytes / rowBytes < std::min<uint64_t>(chunkH, h))
        return false;
    const int perPixel = separate ? 1 : page.samples;
    // The whole row run of a pixel must lie in a decoded row.
    if ((uint64_t(chunkW) * perPixel * page.bits + 7) / 8 > rowBytes)
        return false;

    Palette pal;
    if (page.kind == PageKind::Palette)
        pal = paletteOf(tif, page.bits);
    const bool white = page.photometric == PHOTOMETRIC_MINISWHITE;
    const bool plainCopy = page.kind == PageKind::Grey && perPixel == 1 && page.bits % 8 == 0
        && page.bits / 8 == elem;

    std::vector<uint8_t> chunk(chunkBytes);
    for (int plane = 0; plane < planes; ++plane) {
        for (uint64_t y0 = 0; y0 < h; y0 += chunkH) {
            for (uint64_t x0 = 0; x0 < w; x0 += chunkW) {
                tmsize_t got = 0;
                if (page.tiled)
                    got = TIFFReadEncodedTile(tif,
                        TIFFComputeTile(tif, uint32_t(x0), uint32_t(y0), 0, uint16_t(plane)),
                        chunk.data(), tmsize_t(chunkBytes));
                else
                    got = TIFFReadEncodedStrip(tif,
                        TIFFComputeStrip(tif, uint32_t(y0), uint16_t(plane)), chunk.data(),
                        tmsize_t(chunkBytes));
                const uint64_t rows = std::min<uint64_t>(chunkH, h - y0);
                const uint64_t cols = std::min<uint64_t>(chunkW, w - x0);
                if (got < 0 || messages.failed
                    || uint64_t(got)
                        < (rows - 1) * rowBytes + (cols * perPixel * page.bits + 7) / 8)
                    return false;
                for (uint64_t r = 0; r < rows; ++r) {
                    const uint8_t* src = chunk.data() + r * rowBytes;
                    uint8_t* dst = out + ((y0 + r) * w + x0) * elem;
                    if (plainCopy) {
                        std::memcpy(dst, src, cols * elem);
                        continue;
                    }
                    for (uint64_t c = 0; c < cols; ++c, dst += elem) {
                        const uint64_t base = c * uint64_t(perPixel);
                        switch (page.kind) {
                        case PageKind::Bilevel: {
                            const bool set = sampleAt(src, base, 1) != 0;
                            *dst = (set != white) ? 255 : 0;
                            break;
                        }
                        case PageKind::Grey:
                            storeValue(
                                dst, page.typeData, sampleAt(src, base, page.bits), page.bits);
                            break;
                        case PageKind::Palette: {
                            const uint64_t i = sampleAt(src, base, page.bits);
                            dst[0] = uint8_t(pal.r[i] >> pal.shift);
                            dst[1] = uint8_t(pal.g[i] >> pal.shift);
                            dst[2] = uint8_t(pal.b[i] >> pal.shift);
                            dst[3] = 0;
                            break;
                        }
                        case PageKind::Rgb: {
                            const int shift = page.bits == 16 ? 8 : 0;
                            if (separate) {
                                dst[plane] = uint8_t(sampleAt(src, base, page.bits) >> shift);
                                break;
                            }
                            for (int s = 0; s < 3; ++s)
                                dst[s] = uint8_t(sampleAt(src, base + s, page.bits) >> shift);
                            dst[3] = page.alpha
                                ? uint8_t(sampleAt(src, base + 3, page.bits) >> shift)
                                : 0;
                            break;
                        }
                        case PageKind::RgbaImage:
                            break;
                        }
                    }
                }
            }
        }
    }
    if (separate && !page.alpha && page.kind == PageKind::Rgb)
        for (uint64_t i = 0; i < w * h; ++i)
            out[4 * i + 3] = 0;
    return true;
}

bool tiffRead(
    const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
{
    const auto* state = static_cast<const TiffState*>(header.state.get());
    if (!state || state->pages.size() != std::size_t(header.depth) || !samples) {
        setReason(reason, fileReason(path, "lecture TIFF sans en-tête préalable"));
        return false;
    }
    TiffMessages messages;
    TiffHandle tif = openTiff(path, "rm", &messages);
    if (!tif) {
        setReason(reason, openFailure(path));
        return false;
    }
    const uint64_t pageBytes
        = uint64_t(header.width) * uint64_t(header.height) * vexaTypeSize(header.typeData);
    for (std::size_t z = 0; z < state->pages.size(); ++z) {
        Page page;
        std::string why;
        // Consecutive pages follow the IFD chain instead of walking it from the start.
        const bool next = z > 0 && state->pages[z] == state->pages[z - 1] + 1;
        if (!(next ? TIFFReadDirectory(tif.get()) : TIFFSetDirectory(tif.get(), state->pages[z]))
            || !classifyPage(tif.get(), page, why) || int(page.width) != header.width
            || int(page.height) != header.height || page.typeData != header.typeData) {
            setReason(
                reason, fileReason(path, "le fichier a changé depuis la lecture de l'en-tête"));
            return false;
        }
        if (!readPage(tif.get(), page, static_cast<uint8_t*>(samples) + z * pageBytes, messages)) {
            setReason(reason,
                fileReason(path,
                    "données TIFF tronquées ou illisibles (page " + std::to_string(z + 1) + ")"));
            return false;
        }
    }
    return true;
}

bool tiffAccepts(int typeData)
{
    return vexaTypeIsValid(typeData) != 0;
}

bool tiffWrite(const std::string& path, const FormatBlockView& block, std::string* reason)
{
    if (!tiffAccepts(block.typeData) || block.width <= 0 || block.height <= 0 || block.depth <= 0
        || !block.samples) {
        setReason(reason, fileReason(path, "bloc invalide : rien n'est écrit"));
        return false;
    }
    const int elem = vexaTypeSize(block.typeData);
    const uint64_t rowBytes = uint64_t(block.width) * elem;
    const uint64_t pageBytes = rowBytes * uint64_t(block.height);
    const uint64_t total = pageBytes * uint64_t(block.depth);
    atomicsave::AtomicFile file;
    if (!file.open(path)) {
        setReason(reason, fileReason(path, withCause("écriture impossible", file.error())));
        return false;
    }
    TiffMessages messages;
    // Classic TIFF addresses 4 GiB; larger volumes need BigTIFF. libtiff reads back
    // what it wrote to link pages, so it opens the temporary itself, for reading too.
    const bool big = total > (uint64_t(1) << 32) - (uint64_t(1) << 24);
    TiffHandle tif = openTiff(file.tempPath(), big ? "w8" : "w", &messages);
    if (!tif) {
        setReason(reason, fileReason(path, "écriture TIFF impossible"));
        return false;
    }
    const bool rgba = block.typeData == TYPEDATA_RGBA;
    uint16_t format = SAMPLEFORMAT_UINT;
    if (block.typeData == TYPEDATA_F32 || block.typeData == TYPEDATA_F64)
        format = SAMPLEFORMAT_IEEEFP;
    else if (vexaTypeSign(block.typeData))
        format = SAMPLEFORMAT_INT;
    const auto* bytes = static_cast<const uint8_t*>(block.samples);
    bool ok = true;
    std::vector<uint8_t> row(rowBytes);
    for (int z = 0; z < block.depth && ok; ++z) {
        TIFF* t = tif.get();
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(block.width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(block.height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(rgba ? 8 : 8 * elem));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(rgba ? 4 : 1));
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, rgba ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        if (rgba) {
            const uint16_t extra[1] = { EXTRASAMPLE_UNASSALPHA };
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
        }
        if (block.depth > 1) {
            TIFFSetField(t, TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_PAGE));
            TIFFSetField(t, TIFFTAG_PAGENUMBER, uint16_t(std::min(z, 65535)),
                uint16_t(std::min(block.depth, 65535)));
        }
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
        for (int y = 0; y < block.height && ok; ++y) {
            // TIFFWriteScanline may swap bytes in place: hand it a copy.
            std::memcpy(
                row.data(), bytes + uint64_t(z) * pageBytes + uint64_t(y) * rowBytes, rowBytes);
            ok = TIFFWriteScanline(t, row.data(), uint32_t(y), 0) == 1 && !messages.failed;
        }
        ok = ok && TIFFWriteDirectory(t) == 1 && !messages.failed;
    }
    TIFF* raw = tif.release();
    ok = ok && TIFFFlush(raw) == 1;
    TIFFClose(raw);
    if (!ok || messages.failed) {
        file.discard();
        setReason(reason, fileReason(path, "écriture TIFF interrompue : fichier inchangé"));
        return false;
    }
    if (!file.commit()) {
        setReason(reason, fileReason(path, withCause("enregistrement impossible", file.error())));
        return false;
    }
    return true;
}

} // namespace

const FormatReader& tiffLibraryReader()
{
    static const FormatReader r { "TIFF", "*.tif *.tiff", tiffSniff, tiffProbe, tiffRead };
    return r;
}

const FormatWriter& tiffWriter()
{
    static const FormatWriter w { "TIFF", ".tif", "*.tif *.tiff", tiffAccepts, tiffWrite };
    return w;
}

} // namespace vexa
