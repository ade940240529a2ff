// Internal definitions shared by the sources of vexaFile.
#pragma once

#include "vexafile.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

struct LogicalPart {
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0, z0 = 0, z1 = 0;
    // Shared: a description naming the same sub-file several times holds one
    // descriptor of it, read once.
    std::shared_ptr<FileDescriptor> desc;
    FileDescriptor* owner = nullptr;
};

struct FileDescriptor {
    std::string name;
    bool hasName = false;
    int dimX = 0, dimY = 0, dimZ = 0;
    int nbBits = 0;
    int endian = 1;
    int sign = 0;
    int typeData = 0;
    int transpose = 0;
    int tiled = 0;
    int offsetData = 0;
    int op = 0;
    int header = 0;
    int headerFound = 0; // kind of header vexaFileReadHeader found (GDR, INRIA), else 0
    int picture = 0;
    int tiff = 0;
    std::vector<std::unique_ptr<LogicalPart>> parts;
};

namespace vexafile {

// Logical descriptions may name other descriptions; this bounds the nesting so that
// a description naming itself ends instead of recursing without limit.
constexpr int kMaxLogicalDepth = 8;

// Pictures larger than this many pixels are refused before anything is decoded.
constexpr int64_t kMaxPicturePixels = int64_t(1) << 28;

// What a header reader found; committed to the descriptor only when it succeeds.
struct HeaderInfo {
    int dimX = 0, dimY = 0, dimZ = 0;
    int nbBits = 0, sign = 0, typeData = 0;
    int offsetData = 0;
    int transpose = 0, tiled = 0;
    int endian = 1;
    int picture = 0, tiff = 0;
    int kind = 0; // VEXAFILE_HEADER_GDR or _INRIA when read from such a header
    std::vector<std::unique_ptr<LogicalPart>> parts;
};

HeaderInfo headerFrom(const FileDescriptor& d);
void commitHeader(FileDescriptor& d, HeaderInfo&& h);

// A file as the system knows it (device, inode), whatever name reaches it.
using FileKey = std::pair<uint64_t, uint64_t>;
bool fileKeyOf(const std::string& path, FileKey& key);

// State of one header read across the logical descriptions it opens. chain holds
// the descriptions being read, outermost first: a part found on it would nest
// without end and is refused. parts holds every part descriptor read so far with
// the depth it was read at, so that a sub-file named many times (directly or
// through other descriptions) is read once.
struct HeaderRead {
    std::vector<FileKey> chain;
    std::map<FileKey, std::pair<std::shared_ptr<FileDescriptor>, int>> parts;
};

int readHeader(FileDescriptor& d, int depth, HeaderRead* read = nullptr);
int writeHeader(FileDescriptor& d);
int getComment(const FileDescriptor& d, const char* key, double* value);
double parseCommentNumber(const char* text, size_t length, bool* clean);

// Logical volume description (XML root "LOGICAL"); false when the file is not one.
bool readLogicalDescription(const std::string& path, HeaderInfo& h, int depth, HeaderRead& read);
std::string resolvePartPath(const std::string& descriptionPath, const std::string& stored);

// True when the dimensions are positive and every byte position of the volume, in
// whichever layout, fits in 63 bits.
bool geometryIsSane(int dimX, int dimY, int dimZ, int typeData, int64_t offsetData);

// Picture files decoded by stb_image.
bool probePicture(const std::string& path, HeaderInfo& h);
// The whole picture as a dimX x dimY array of the given type, rows top first.
bool decodePicture(
    const std::string& path, int typeData, int dimX, int dimY, std::vector<unsigned char>& out);

// Uncompressed single-sample TIFF files, either byte order.
bool probeTiff(const std::string& path, HeaderInfo& h);
// The whole image as a native-order dimX x dimY array of the given type.
bool decodeTiff(
    const std::string& path, int typeData, int dimX, int dimY, std::vector<unsigned char>& out);

// Inclusive box in volume coordinates.
struct Box {
    int64_t x0, x1, y0, y1, z0, z1;
    int64_t nx() const { return x1 - x0 + 1; }
    int64_t ny() const { return y1 - y0 + 1; }
    int64_t nz() const { return z1 - z0 + 1; }
};

// Where the samples of a box sit in a caller's array: sample (x, y, z) of the box is
// at element (x - x0) * sx + (y - y0) * sy + (z - z0) * sz from origin. Strides may be
// negative (TOP rows run from the last z to the first).
struct Mapping {
    unsigned char* origin;
    int64_t sx, sy, sz;
};

bool readBox(const FileDescriptor& d, const Box& box, const Mapping& m, int depth = 0);
bool writeBox(const FileDescriptor& d, const Box& box, const Mapping& m, int op, int depth = 0);

// Copies n samples of esize bytes between strided arrays, swapping bytes when asked
// (2- and 4-byte samples only).
void copySamples(unsigned char* dst, int64_t dstStride, const unsigned char* src, int64_t srcStride,
    int64_t n, int esize, bool swap);
void swapInPlace(unsigned char* data, int64_t n, int esize);

// Box <-> compact (x fastest) array.
void gatherCompact(const Box& box, const Mapping& m, int esize, unsigned char* compact);
void scatterCompact(const Box& box, const unsigned char* compact, int esize, const Mapping& m);

// The reason of the last failure on this thread (vexaFileGetLastError): French,
// naming the file first. Failures deep inside record the precise cause; the exports
// clear it on entry and on success.
void setLastError(const std::string& file, const std::string& text, int err = 0);
void clearLastError();
bool hasLastError();

// Runs the work of an export about file: no exception leaves it (C callers only see
// the failure value), and a failure always leaves a reason, a success none.
template <typename F, typename R = decltype(std::declval<F>()())>
R reported(const std::string& file, F&& work) noexcept
{
    clearLastError();
    R result {};
    try {
        result = std::forward<F>(work)();
    } catch (const std::bad_alloc&) {
        setLastError(file, "Mémoire insuffisante");
        return R {};
    } catch (...) {
        setLastError(file, "Erreur interne");
        return R {};
    }
    if (result)
        clearLastError();
    else if (!hasLastError())
        setLastError(file, "Opération impossible");
    return result;
}

// Converts count samples (any count) with scale 1, offset 0 through vexaMem.
void convertSamples(const void* src, int64_t count, int inType, int outType, void* dst);

} // namespace vexafile
