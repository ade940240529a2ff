// Block transfers between image files and arrays in memory: clipping, orientations,
// plain, transposed and tiled files, pictures, TIFF, logical volumes, combinations.
#include "fileio.hpp"
#include "keptmap.hpp"
#include "vexa_bigalloc.hpp"
#include "vexa_guard.hpp"
#include "vexafile_internal.hpp"
#include "vexamem.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace vexafile {

namespace {

constexpr int64_t kTileSide = 32;
constexpr int64_t kTileSamples = kTileSide * kTileSide * kTileSide;
// Scratch used by combinations and type conversions is processed in slabs of about
// this many bytes, whatever the size of the box.
constexpr int64_t kSlabBytes = int64_t(8) << 20;

template <typename T> T byteSwap(T v)
{
    if constexpr (sizeof(T) == 2)
        return T(__builtin_bswap16(v));
    else if constexpr (sizeof(T) == 4)
        return T(__builtin_bswap32(v));
    else
        return v;
}

template <typename T, bool Swap>
void copyTyped(
    unsigned char* dst, int64_t dstStride, const unsigned char* src, int64_t srcStride, int64_t n)
{
    const int64_t ds = dstStride * int64_t(sizeof(T));
    const int64_t ss = srcStride * int64_t(sizeof(T));
    for (int64_t i = 0; i < n; ++i) {
        T v;
        std::memcpy(&v, src + i * ss, sizeof(T));
        if constexpr (Swap)
            v = byteSwap(v);
        std::memcpy(dst + i * ds, &v, sizeof(T));
    }
}

struct Geometry {
    int64_t X, Y, Z;
    int esize;
    int type;
    int64_t offset;
    bool swap;
};

Geometry geometryOf(const FileDescriptor& d)
{
    Geometry g;
    g.X = d.transpose ? d.dimY : d.dimX;
    g.Y = d.transpose ? d.dimX : d.dimY;
    g.Z = d.dimZ;
    g.type = d.typeData;
    g.esize = vexaTypeSize(d.typeData);
    g.offset = d.offsetData;
    // Doubles and bytes are never swapped; RGBA swaps as one 4-byte unit.
    g.swap = d.endian == 1 && (g.esize == 2 || g.esize == 4);
    return g;
}

unsigned char* at(const Mapping& m, int esize, int64_t dx, int64_t dy, int64_t dz)
{
    return m.origin + (dx * m.sx + dy * m.sy + dz * m.sz) * esize;
}

Mapping shifted(const Mapping& m, int esize, int64_t dx, int64_t dy, int64_t dz)
{
    return Mapping { at(m, esize, dx, dy, dz), m.sx, m.sy, m.sz };
}

Mapping compactMapping(unsigned char* data, const Box& b)
{
    return Mapping { data, 1, b.nx(), b.nx() * b.ny() };
}

// ---- Plain and transposed files -------------------------------------------------

// The samples of a box seen as runs: a file plane holds lines (rows of a plain file,
// columns of a transposed one); each line crossing the box gives one contiguous run.
struct Runs {
    int64_t a0, a1, b0, b1, z0, z1;
    int64_t lineLength; // samples per line in the file
    int64_t planeBytes;
    int64_t strideA, strideB, strideZ; // buffer strides in elements
    int64_t na() const { return a1 - a0 + 1; }
    int64_t nb() const { return b1 - b0 + 1; }
};

Runs runsOf(const FileDescriptor& d, const Geometry& g, const Box& box, const Mapping& m)
{
    Runs r;
    if (d.transpose) {
        r.a0 = box.x0, r.a1 = box.x1, r.b0 = box.y0, r.b1 = box.y1;
        r.lineLength = g.Y;
        r.strideA = m.sx, r.strideB = m.sy;
    } else {
        r.a0 = box.y0, r.a1 = box.y1, r.b0 = box.x0, r.b1 = box.x1;
        r.lineLength = g.X;
        r.strideA = m.sy, r.strideB = m.sx;
    }
    r.z0 = box.z0, r.z1 = box.z1;
    r.strideZ = m.sz;
    r.planeBytes = g.X * g.Y * g.esize;
    return r;
}

class Mapped {
public:
    Mapped(int fd, int64_t offset, int64_t length)
    {
        long page = sysconf(_SC_PAGESIZE);
        if (page <= 0)
            page = 4096;
        pageStart_ = offset - offset % page;
        length_ = length + (offset - pageStart_);
        void* p = ::mmap(nullptr, size_t(length_), PROT_READ, MAP_SHARED, fd, off_t(pageStart_));
        data_ = p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
    }
    ~Mapped()
    {
        if (data_)
            ::munmap(data_, size_t(length_));
    }
    Mapped(const Mapped&) = delete;
    Mapped& operator=(const Mapped&) = delete;
    bool ok() const { return data_ != nullptr; }
    // Pointer to file position pos and how many bytes from there are mapped.
    const unsigned char* at(int64_t pos) const { return data_ + (pos - pageStart_); }
    int64_t availableFrom(int64_t pos) const { return pageStart_ + length_ - pos; }

private:
    unsigned char* data_ = nullptr;
    int64_t pageStart_ = 0;
    int64_t length_ = 0;
};

bool readRunsOnePerLine(const File& f, const Geometry& g, const Runs& r, unsigned char* origin)
{
    const int es = g.esize;
    const int64_t runBytes = r.nb() * es;
    std::vector<unsigned char> line;
    for (int64_t z = r.z0; z <= r.z1; ++z) {
        for (int64_t a = r.a0; a <= r.a1; ++a) {
            int64_t pos = g.offset + z * r.planeBytes + (a * r.lineLength + r.b0) * es;
            unsigned char* dst = origin + ((z - r.z0) * r.strideZ + (a - r.a0) * r.strideA) * es;
            if (r.strideB == 1) {
                int64_t got = f.readSamplesAt(dst, runBytes, pos, es);
                if (got < 0)
                    return false;
                if (g.swap)
                    swapInPlace(dst, got / es, es);
            } else {
                line.resize(size_t(runBytes));
                int64_t got = f.readSamplesAt(line.data(), runBytes, pos, es);
                if (got < 0)
                    return false;
                copySamples(dst, r.strideB, line.data(), 1, got / es, es, g.swap);
            }
        }
    }
    return true;
}

// Lines up to this length are read whole when only short runs of them are wanted.
constexpr int64_t kGroupedLineBytes = int64_t(64) << 10;

bool readRunsByLineGroups(const File& f, const Geometry& g, const Runs& r, unsigned char* origin)
{
    const int es = g.esize;
    const int64_t nb = r.nb();
    const int64_t lineBytes = r.lineLength * es;
    // About a megabyte per read: few system calls, and the scratch stays in cache.
    const int64_t group = std::max<int64_t>(1, (int64_t(1) << 20) / lineBytes);
    std::vector<unsigned char> scratch(size_t(std::min(group, r.na()) * lineBytes));
    for (int64_t z = r.z0; z <= r.z1; ++z) {
        for (int64_t a = r.a0; a <= r.a1; a += group) {
            const int64_t lines = std::min(group, r.a1 - a + 1);
            const int64_t pos = g.offset + z * r.planeBytes + (a * r.lineLength + r.b0) * es;
            const int64_t bytes = (lines - 1) * lineBytes + nb * es;
            const int64_t got = f.readSamplesAt(scratch.data(), bytes, pos, es);
            if (got < 0)
                return false;
            for (int64_t k = 0; k < lines; ++k) {
                // Samples past the end of the file leave the buffer as it was.
                const int64_t avail = std::min<int64_t>((got - k * lineBytes) / es, nb);
                if (avail <= 0)
                    return true;
                unsigned char* dst
                    = origin + ((z - r.z0) * r.strideZ + (a + k - r.a0) * r.strideA) * es;
                copySamples(dst, r.strideB, scratch.data() + k * lineBytes, 1, avail, es, g.swap);
            }
        }
    }
    return true;
}

bool readRuns(const File& f, const Geometry& g, const Runs& r, unsigned char* origin)
{
    const int es = g.esize;
    const int64_t na = r.na(), nb = r.nb();
    const int64_t runBytes = nb * es;
    const int64_t useful = na * runBytes;
    const int64_t span = ((na - 1) * r.lineLength + nb) * es;

    if (na == 1 || span <= 4 * useful || span <= (int64_t(64) << 10)) {
        // Each plane's runs are read in one piece.
        const bool direct = r.strideB == 1 && (na == 1 || (nb == r.lineLength && r.strideA == nb));
        std::vector<unsigned char> scratch;
        if (!direct)
            scratch.resize(size_t(span));
        for (int64_t z = r.z0; z <= r.z1; ++z) {
            int64_t pos = g.offset + z * r.planeBytes + (r.a0 * r.lineLength + r.b0) * es;
            unsigned char* dst = origin + (z - r.z0) * r.strideZ * es;
            if (direct) {
                int64_t got = f.readSamplesAt(dst, span, pos, es);
                if (got < 0)
                    return false;
                if (g.swap)
                    swapInPlace(dst, got / es, es);
                continue;
            }
            if (!f.readAtZeroFill(scratch.data(), span, pos, es))
                return false;
            for (int64_t a = 0; a < na; ++a)
                copySamples(dst + a * r.strideA * es, r.strideB,
                    scratch.data() + a * r.lineLength * es, 1, nb, es, g.swap);
        }
        return true;
    }
    if (runBytes >= 256)
        return readRunsOnePerLine(f, g, r, origin);

    // Short runs far apart (a RIGHT section of a plain file). One read per run costs
    // a system call per sample. On lines of moderate length, reading groups of whole
    // lines and picking the samples out is cheapest: copying from the page cache runs
    // at memory speed, while gathering through a fresh mapping pays a page fault per
    // page touched (measured on a 1024^3 U8 file: 45 ms against 490 ms). Only
    // very long lines, where a run touches one page in many, go through the mapping.
    const int64_t lineBytes = r.lineLength * es;
    if (lineBytes <= kGroupedLineBytes)
        return readRunsByLineGroups(f, g, r, origin);
    int64_t fileSize = f.size();
    if (fileSize < 0)
        return false;
    // One mapping per plane: pages a mapping touches stay resident until it goes, and
    // one mapping over a large file would hold every page of it at once.
    for (int64_t z = r.z0; z <= r.z1; ++z) {
        const int64_t planeStart = g.offset + z * r.planeBytes;
        const int64_t start = planeStart + (r.a0 * r.lineLength + r.b0) * es;
        const int64_t end = std::min(planeStart + (r.a1 * r.lineLength + r.b1 + 1) * es, fileSize);
        if (end <= start)
            return true; // the rest of the box is past the file: the buffer stays as it was
        unsigned char* plane = origin + (z - r.z0) * r.strideZ * es;
        Mapped map(f.fd(), start, end - start);
        if (!map.ok()) {
            Runs one = r;
            one.z0 = one.z1 = z;
            if (!readRunsOnePerLine(f, g, one, plane))
                return false;
            continue;
        }
        for (int64_t a = r.a0; a <= r.a1; ++a) {
            int64_t pos = planeStart + (a * r.lineLength + r.b0) * es;
            int64_t avail = std::min<int64_t>(map.availableFrom(pos) / es, nb);
            if (avail <= 0)
                return true;
            unsigned char* dst = plane + (a - r.a0) * r.strideA * es;
            copySamples(dst, r.strideB, map.at(pos), 1, avail, es, g.swap);
        }
    }
    return true;
}

// ---- Reads from a kept mapping ------------------------------------------------------

// Where the samples come from: a kept mapping of the file when there is one, the
// open file otherwise.
struct Source {
    const File* file = nullptr;
    const KeptMapping* map = nullptr;

    // The n bytes at pos in place, when the mapping holds all of them.
    const unsigned char* direct(int64_t pos, int64_t n) const
    {
        return map && pos >= 0 && n <= map->size() - pos ? map->data() + pos : nullptr;
    }
    // As File::readAtZeroFill: what lies past the end of the file reads as zeros.
    bool readZeroFill(void* buffer, int64_t n, int64_t pos, int unit) const
    {
        if (file)
            return file->readAtZeroFill(buffer, n, pos, unit);
        int64_t got = std::clamp<int64_t>(map->size() - pos, 0, n);
        got -= got % unit;
        if (got > 0)
            std::memcpy(buffer, map->data() + pos, size_t(got));
        if (got < n)
            std::memset(static_cast<unsigned char*>(buffer) + got, 0, size_t(n - got));
        return true;
    }
};

// Single samples far apart (a RIGHT section of a plain file), all inside the
// mapping. Several planes at a time: each step writes neighbouring samples of the
// buffer and reads one sample per plane, the lines ahead being prefetched.
template <typename T>
void gatherSingles(
    const Geometry& g, const Runs& r, const unsigned char* base, unsigned char* origin)
{
    constexpr int64_t kPlanes = 16;
    constexpr int64_t kAhead = 8; // lines prefetched ahead of the one copied
    constexpr int64_t es = int64_t(sizeof(T));
    const int64_t lineBytes = r.lineLength * es;
    for (int64_t z = r.z0; z <= r.z1; z += kPlanes) {
        const int64_t n = std::min(kPlanes, r.z1 - z + 1);
        const unsigned char* first
            = base + g.offset + z * r.planeBytes + (r.a0 * r.lineLength + r.b0) * es;
        unsigned char* out = origin + (z - r.z0) * r.strideZ * es;
        for (int64_t a = 0; a < r.na(); ++a) {
            const unsigned char* s = first + a * lineBytes;
            unsigned char* d = out + a * r.strideA * es;
            if (a + kAhead < r.na())
                for (int64_t k = 0; k < n; ++k)
                    __builtin_prefetch(s + k * r.planeBytes + kAhead * lineBytes, 0, 1);
            for (int64_t k = 0; k < n; ++k) {
                T v;
                std::memcpy(&v, s + k * r.planeBytes, sizeof(T));
                if constexpr (sizeof(T) == 2 || sizeof(T) == 4)
                    if (g.swap)
                        v = byteSwap(v);
                std::memcpy(d + k * r.strideZ * es, &v, sizeof(T));
            }
        }
    }
}

void readRunsMapped(const Geometry& g, const Runs& r, const KeptMapping& map, unsigned char* origin)
{
    const int es = g.esize;
    const int64_t nb = r.nb();
    const int64_t last = g.offset + r.z1 * r.planeBytes + (r.a1 * r.lineLength + r.b1 + 1) * es;
    if (nb == 1 && last <= map.size()) {
        switch (es) {
        case 1:
            return gatherSingles<uint8_t>(g, r, map.data(), origin);
        case 2:
            return gatherSingles<uint16_t>(g, r, map.data(), origin);
        case 4:
            return gatherSingles<uint32_t>(g, r, map.data(), origin);
        case 8:
            return gatherSingles<uint64_t>(g, r, map.data(), origin);
        default:
            break;
        }
    }
    // Runs come in increasing file order: the first one past the end of the file
    // ends the read, leaving the rest of the buffer as it was.
    for (int64_t z = r.z0; z <= r.z1; ++z) {
        for (int64_t a = r.a0; a <= r.a1; ++a) {
            const int64_t pos = g.offset + z * r.planeBytes + (a * r.lineLength + r.b0) * es;
            const int64_t avail = std::min<int64_t>((map.size() - pos) / es, nb);
            if (avail <= 0)
                return;
            unsigned char* dst = origin + ((z - r.z0) * r.strideZ + (a - r.a0) * r.strideA) * es;
            copySamples(dst, r.strideB, map.data() + pos, 1, avail, es, g.swap);
        }
    }
}

// Boxes up to this size are read through the kept mapping whatever their shape;
// larger ones only when the file does not hold them as one run per plane (a large
// contiguous read costs less through read() than through page faults on a cold file).
constexpr int64_t kMappedBoxBytes = int64_t(64) << 20;

std::shared_ptr<const KeptMapping> keptMappingFor(
    const FileDescriptor& d, const Geometry& g, const Box& box, const Mapping& m)
{
    if (g.X * g.Y * g.Z * g.esize > mappedFileLimit())
        return nullptr;
    const int64_t bytes = box.nx() * box.ny() * box.nz() * g.esize;
    if (bytes > kMappedBoxBytes) {
        if (d.tiled)
            return nullptr;
        const Runs r = runsOf(d, g, box, m);
        if (r.na() == 1 || r.nb() == r.lineLength)
            return nullptr;
    }
    return keptMapping(d.name);
}

bool writeRuns(const File& f, const Geometry& g, const Runs& r, const unsigned char* origin)
{
    const int es = g.esize;
    const int64_t na = r.na(), nb = r.nb();
    const int64_t runBytes = nb * es;
    const int64_t span = ((na - 1) * r.lineLength + nb) * es;
    std::vector<unsigned char> scratch;

    if (na == 1 || nb == r.lineLength) {
        // The runs of a plane follow each other in the file: one write per plane.
        const bool direct = !g.swap && r.strideB == 1 && (na == 1 || r.strideA == nb);
        if (!direct)
            scratch.resize(size_t(span));
        for (int64_t z = r.z0; z <= r.z1; ++z) {
            int64_t pos = g.offset + z * r.planeBytes + (r.a0 * r.lineLength + r.b0) * es;
            const unsigned char* src = origin + (z - r.z0) * r.strideZ * es;
            if (direct) {
                if (!f.writeAt(src, span, pos))
                    return false;
                continue;
            }
            for (int64_t a = 0; a < na; ++a)
                copySamples(scratch.data() + a * nb * es, 1, src + a * r.strideA * es, r.strideB,
                    nb, es, g.swap);
            if (!f.writeAt(scratch.data(), span, pos))
                return false;
        }
        return true;
    }
    if (runBytes >= 512 || span > 8 * na * runBytes + (int64_t(1) << 20)) {
        scratch.resize(size_t(runBytes));
        for (int64_t z = r.z0; z <= r.z1; ++z) {
            for (int64_t a = r.a0; a <= r.a1; ++a) {
                int64_t pos = g.offset + z * r.planeBytes + (a * r.lineLength + r.b0) * es;
                const unsigned char* src
                    = origin + ((z - r.z0) * r.strideZ + (a - r.a0) * r.strideA) * es;
                if (!g.swap && r.strideB == 1) {
                    if (!f.writeAt(src, runBytes, pos))
                        return false;
                    continue;
                }
                copySamples(scratch.data(), 1, src, r.strideB, nb, es, g.swap);
                if (!f.writeAt(scratch.data(), runBytes, pos))
                    return false;
            }
        }
        return true;
    }
    // Short runs close together: read the plane's span, patch the runs and write the
    // span back, instead of one write per sample. The span ends with the last run, so
    // the file grows exactly as far as the runs need.
    scratch.resize(size_t(span));
    for (int64_t z = r.z0; z <= r.z1; ++z) {
        int64_t pos = g.offset + z * r.planeBytes + (r.a0 * r.lineLength + r.b0) * es;
        if (!f.readAtZeroFill(scratch.data(), span, pos, es))
            return false;
        const unsigned char* src = origin + (z - r.z0) * r.strideZ * es;
        for (int64_t a = 0; a < na; ++a)
            copySamples(scratch.data() + a * r.lineLength * es, 1, src + a * r.strideA * es,
                r.strideB, nb, es, g.swap);
        if (!f.writeAt(scratch.data(), span, pos))
            return false;
    }
    return true;
}

// ---- Tiled files ----------------------------------------------------------------

struct TileGrid {
    int64_t nx, ny;
    int64_t tileBytes;
};

TileGrid tileGridOf(const Geometry& g)
{
    return TileGrid { (g.X + kTileSide - 1) / kTileSide, (g.Y + kTileSide - 1) / kTileSide,
        kTileSamples * g.esize };
}

// Visits every row of tiles (fixed tz, ty; tx from the first to the last tile the box
// meets) with the file position of the row's first tile.
template <typename F> bool forEachTileRow(const Geometry& g, const Box& box, F&& visit)
{
    TileGrid t = tileGridOf(g);
    int64_t tx0 = box.x0 / kTileSide, tx1 = box.x1 / kTileSide;
    for (int64_t tz = box.z0 / kTileSide; tz <= box.z1 / kTileSide; ++tz)
        for (int64_t ty = box.y0 / kTileSide; ty <= box.y1 / kTileSide; ++ty) {
            int64_t pos = g.offset + ((tz * t.ny + ty) * t.nx + tx0) * t.tileBytes;
            if (!visit(tz, ty, tx0, tx1, pos, (tx1 - tx0 + 1) * t.tileBytes))
                return false;
        }
    return true;
}

// Calls copy(tilePointerOffset, boxX, boxY, boxZ, count) for every run of samples of
// the tile (tx, ty, tz) inside the box; runs go along x.
template <typename F>
void forEachTileRun(const Box& box, int64_t tx, int64_t ty, int64_t tz, F&& copy)
{
    int64_t xs = std::max(box.x0, tx * kTileSide), xe = std::min(box.x1, tx * kTileSide + 31);
    int64_t ys = std::max(box.y0, ty * kTileSide), ye = std::min(box.y1, ty * kTileSide + 31);
    int64_t zs = std::max(box.z0, tz * kTileSide), ze = std::min(box.z1, tz * kTileSide + 31);
    for (int64_t z = zs; z <= ze; ++z)
        for (int64_t y = ys; y <= ye; ++y) {
            int64_t local
                = (z - tz * kTileSide) * 1024 + (y - ty * kTileSide) * 32 + (xs - tx * kTileSide);
            copy(local, xs, y, z, xe - xs + 1);
        }
}

template <int64_t RowBytes>
void copyTileRows(unsigned char* dst, int64_t dstRow, int64_t dstPlane, const unsigned char* src,
    int64_t rows, int64_t planes)
{
    for (int64_t z = 0; z < planes; ++z)
        for (int64_t y = 0; y < rows; ++y)
            std::memcpy(
                dst + z * dstPlane + y * dstRow, src + (z * kTileSide + y) * RowBytes, RowBytes);
}

// Tiles whose 32-sample rows lie whole in the box and land contiguously in the
// buffer (the inside of a box read): rows of a size known at compile time, which
// the compiler copies inline instead of calling memcpy per 32 samples. False when
// the tile needs the general path.
bool copyWholeTileRows(const Box& box, const Mapping& m, int es, bool swap, int64_t tx, int64_t ty,
    int64_t tz, const unsigned char* tile)
{
    const int64_t xs = tx * kTileSide;
    if ((swap && (es == 2 || es == 4)) || m.sx != 1 || xs < box.x0 || xs + kTileSide - 1 > box.x1)
        return false;
    const int64_t ys = std::max(box.y0, ty * kTileSide), ye = std::min(box.y1, ty * kTileSide + 31);
    const int64_t zs = std::max(box.z0, tz * kTileSide), ze = std::min(box.z1, tz * kTileSide + 31);
    unsigned char* dst = at(m, es, xs - box.x0, ys - box.y0, zs - box.z0);
    const unsigned char* src
        = tile + ((zs - tz * kTileSide) * 1024 + (ys - ty * kTileSide) * 32) * es;
    const int64_t rows = ye - ys + 1, planes = ze - zs + 1;
    switch (es) {
    case 1:
        copyTileRows<32>(dst, m.sy, m.sz, src, rows, planes);
        return true;
    case 2:
        copyTileRows<64>(dst, m.sy * 2, m.sz * 2, src, rows, planes);
        return true;
    case 4:
        copyTileRows<128>(dst, m.sy * 4, m.sz * 4, src, rows, planes);
        return true;
    case 8:
        copyTileRows<256>(dst, m.sy * 8, m.sz * 8, src, rows, planes);
        return true;
    default:
        return false;
    }
}

bool readTiles(const Source& src, const Geometry& g, const Box& box, const Mapping& m)
{
    const int es = g.esize;
    const int64_t tileBytes = kTileSamples * es;
    const int64_t planeBytes = kTileSide * kTileSide * es;
    std::vector<unsigned char> row;
    return forEachTileRow(
        g, box, [&](int64_t tz, int64_t ty, int64_t tx0, int64_t tx1, int64_t pos, int64_t bytes) {
            // Tiles the mapping holds are copied from where they lie.
            const unsigned char* tiles = src.direct(pos, bytes);
            const bool inPlace = tiles != nullptr;
            if (!inPlace) {
                row.resize(size_t(bytes));
                tiles = row.data();
            }
            // A box a few planes deep (a FRONT plane) needs only those planes of each
            // tile: they are contiguous inside the tile.
            int64_t lz0 = std::max(box.z0, tz * kTileSide) - tz * kTileSide;
            int64_t lz1 = std::min(box.z1, tz * kTileSide + 31) - tz * kTileSide;
            if (!inPlace && lz1 - lz0 + 1 <= 4) {
                for (int64_t tx = tx0; tx <= tx1; ++tx) {
                    int64_t at = (tx - tx0) * tileBytes + lz0 * planeBytes;
                    if (!src.readZeroFill(
                            row.data() + at, (lz1 - lz0 + 1) * planeBytes, pos + at, es))
                        return false;
                }
            } else if (!inPlace && !src.readZeroFill(row.data(), bytes, pos, es)) {
                // Tiles missing from a short file read as zeros.
                return false;
            }
            for (int64_t tx = tx0; tx <= tx1; ++tx) {
                const unsigned char* tile = tiles + (tx - tx0) * tileBytes;
                if (copyWholeTileRows(box, m, es, g.swap, tx, ty, tz, tile))
                    continue;
                forEachTileRun(box, tx, ty, tz,
                    [&](int64_t local, int64_t x, int64_t y, int64_t z, int64_t n) {
                        copySamples(at(m, es, x - box.x0, y - box.y0, z - box.z0), m.sx,
                            tile + local * es, 1, n, es, g.swap);
                    });
            }
            return true;
        });
}

bool writeTiles(const File& f, const Geometry& g, const Box& box, const Mapping& m)
{
    const int es = g.esize;
    const int64_t tileBytes = kTileSamples * es;
    std::vector<unsigned char> row;
    return forEachTileRow(
        g, box, [&](int64_t tz, int64_t ty, int64_t tx0, int64_t tx1, int64_t pos, int64_t bytes) {
            row.resize(size_t(bytes));
            // The samples of the tiles outside the box keep their stored values; tiles are
            // always written whole, edge tiles included.
            if (!f.readAtZeroFill(row.data(), bytes, pos, es))
                return false;
            for (int64_t tx = tx0; tx <= tx1; ++tx) {
                unsigned char* tile = row.data() + (tx - tx0) * tileBytes;
                forEachTileRun(box, tx, ty, tz,
                    [&](int64_t local, int64_t x, int64_t y, int64_t z, int64_t n) {
                        copySamples(tile + local * es, 1,
                            at(m, es, x - box.x0, y - box.y0, z - box.z0), m.sx, n, es, g.swap);
                    });
            }
            return f.writeAt(row.data(), bytes, pos);
        });
}

// ---- Decoded images (pictures, TIFF) ---------------------------------------------

void scatterPlane(
    const std::vector<unsigned char>& image, const Geometry& g, const Box& box, const Mapping& m)
{
    const int es = g.esize;
    for (int64_t y = box.y0; y <= box.y1; ++y)
        copySamples(at(m, es, 0, y - box.y0, 0), m.sx, image.data() + (y * g.X + box.x0) * es, 1,
            box.nx(), es, false);
}

// ---- Combinations ------------------------------------------------------------------

void combine(unsigned char* written, const unsigned char* stored, int64_t count, int type, int op)
{
    const int es = vexaTypeSize(type);
    const int64_t chunk = int64_t(1) << 18;
    std::vector<double> a, b;
    for (int64_t start = 0; start < count; start += chunk) {
        int64_t n = std::min(chunk, count - start);
        a.resize(size_t(n));
        b.resize(size_t(n));
        convertSamples(written + start * es, n, type, TYPEDATA_F64, a.data());
        convertSamples(stored + start * es, n, type, TYPEDATA_F64, b.data());
        for (int64_t i = 0; i < n; ++i) {
            double w = a[size_t(i)], s = b[size_t(i)];
            switch (op) {
            case 1:
                a[size_t(i)] = w + s;
                break;
            case 2:
                a[size_t(i)] = w * s;
                break;
            case 3:
                a[size_t(i)] = w < s ? w : s;
                break;
            case 4:
                a[size_t(i)] = w >= s ? w : s;
                break;
            default:
                break;
            }
        }
        convertSamples(a.data(), n, TYPEDATA_F64, type, written + start * es);
    }
}

int64_t slabPlanes(const Box& box, int esize)
{
    int64_t plane = box.nx() * box.ny() * esize;
    return std::max<int64_t>(1, kSlabBytes / std::max<int64_t>(plane, 1));
}

Box slabOf(const Box& box, int64_t z, int64_t planes)
{
    Box s = box;
    s.z0 = z;
    s.z1 = std::min(box.z1, z + planes - 1);
    return s;
}

bool writeCombined(const FileDescriptor& d, const Box& box, const Mapping& m, int op, int depth)
{
    const int es = vexaTypeSize(d.typeData);
    const int64_t planes = slabPlanes(box, es);
    std::vector<unsigned char> written, stored;
    for (int64_t z = box.z0; z <= box.z1; z += planes) {
        Box slab = slabOf(box, z, planes);
        int64_t n = slab.nx() * slab.ny() * slab.nz();
        written.resize(size_t(n * es));
        stored.assign(size_t(n * es), 0);
        gatherCompact(slab, shifted(m, es, 0, 0, z - box.z0), es, written.data());
        if (!readBox(d, slab, compactMapping(stored.data(), slab), depth))
            return false;
        combine(written.data(), stored.data(), n, d.typeData, op);
        if (!writeBox(d, slab, compactMapping(written.data(), slab), 0, depth))
            return false;
    }
    return true;
}

// ---- Logical volumes ----------------------------------------------------------------

// The part of box that a logical part covers, in volume coordinates; false when they
// do not meet. The part's own sizes bound it too, whatever corners it was given.
bool partIntersection(const LogicalPart& p, const Box& box, Box& out)
{
    int w, h, dd;
    vexaFileGetSizes(p.desc.get(), &w, &h, &dd);
    out.x0 = std::max<int64_t>(box.x0, p.x0);
    out.y0 = std::max<int64_t>(box.y0, p.y0);
    out.z0 = std::max<int64_t>(box.z0, p.z0);
    out.x1 = std::min({ box.x1, int64_t(p.x1), int64_t(p.x0) + w - 1 });
    out.y1 = std::min({ box.y1, int64_t(p.y1), int64_t(p.y0) + h - 1 });
    out.z1 = std::min({ box.z1, int64_t(p.z1), int64_t(p.z0) + dd - 1 });
    return out.x0 <= out.x1 && out.y0 <= out.y1 && out.z0 <= out.z1;
}

Box partLocal(const LogicalPart& p, const Box& b)
{
    return Box { b.x0 - p.x0, b.x1 - p.x0, b.y0 - p.y0, b.y1 - p.y0, b.z0 - p.z0, b.z1 - p.z0 };
}

bool readLogical(const FileDescriptor& d, const Box& box, const Mapping& m, int depth)
{
    const int es = vexaTypeSize(d.typeData);
    bool ok = true;
    std::vector<unsigned char> partSamples, converted;
    for (const auto& p : d.parts) {
        Box inter;
        if (!p->desc || !partIntersection(*p, box, inter))
            continue;
        Mapping sub = shifted(m, es, inter.x0 - box.x0, inter.y0 - box.y0, inter.z0 - box.z0);
        Box local = partLocal(*p, inter);
        const int partType = p->desc->typeData;
        if (partType == d.typeData) {
            ok = readBox(*p->desc, local, sub, depth + 1) && ok;
            continue;
        }
        // Another type: read the part's samples as they are, then convert.
        const int pes = vexaTypeSize(partType);
        const int64_t planes = slabPlanes(inter, std::max(es, pes));
        for (int64_t z = local.z0; z <= local.z1; z += planes) {
            Box slab = slabOf(local, z, planes);
            int64_t n = slab.nx() * slab.ny() * slab.nz();
            partSamples.assign(size_t(n * pes), 0);
            converted.resize(size_t(n * es));
            ok = readBox(*p->desc, slab, compactMapping(partSamples.data(), slab), depth + 1) && ok;
            convertSamples(partSamples.data(), n, partType, d.typeData, converted.data());
            scatterCompact(slab, converted.data(), es, shifted(sub, es, 0, 0, z - local.z0));
        }
    }
    return ok;
}

bool writeLogical(const FileDescriptor& d, const Box& box, const Mapping& m, int op, int depth)
{
    const int es = vexaTypeSize(d.typeData);
    bool ok = true;
    std::vector<unsigned char> gathered, converted;
    for (const auto& p : d.parts) {
        Box inter;
        if (!p->desc || !partIntersection(*p, box, inter))
            continue;
        Mapping sub = shifted(m, es, inter.x0 - box.x0, inter.y0 - box.y0, inter.z0 - box.z0);
        Box local = partLocal(*p, inter);
        const int partType = p->desc->typeData;
        if (partType == d.typeData) {
            ok = writeBox(*p->desc, local, sub, op, depth + 1) && ok;
            continue;
        }
        // Another type: the samples are converted (clamped, truncated) to the part's.
        const int pes = vexaTypeSize(partType);
        const int64_t planes = slabPlanes(inter, std::max(es, pes));
        for (int64_t z = local.z0; z <= local.z1; z += planes) {
            Box slab = slabOf(local, z, planes);
            int64_t n = slab.nx() * slab.ny() * slab.nz();
            gathered.resize(size_t(n * es));
            converted.resize(size_t(n * pes));
            gatherCompact(slab, shifted(sub, es, 0, 0, z - local.z0), es, gathered.data());
            convertSamples(gathered.data(), n, d.typeData, partType, converted.data());
            ok = writeBox(*p->desc, slab, compactMapping(converted.data(), slab), op, depth + 1)
                && ok;
        }
    }
    return ok;
}

bool usable(const FileDescriptor& d)
{
    return d.hasName && geometryIsSane(d.dimX, d.dimY, d.dimZ, d.typeData, d.offsetData);
}

// ---- Boxes as callers give them ------------------------------------------------------

struct Request {
    Box box; // clipped, in volume coordinates
    Mapping map; // into the caller's buffer
    bool meets; // false when the box lies wholly outside the volume
};

// Clips the caller's box (su, sv, sw, u, v, w in the orientation's axes; extents
// positive) and maps it onto the volume (X, Y, Z).
Request makeRequest(int64_t X, int64_t Y, int64_t Z, int orientation, int64_t su, int64_t sv,
    int64_t sw, int64_t u, int64_t v, int64_t w, unsigned char* buffer, int es)
{
    Request r {};
    int64_t L[3];
    switch (orientation) {
    case 1:
        L[0] = Z, L[1] = Y, L[2] = X;
        break;
    case 2:
        L[0] = X, L[1] = Z, L[2] = Y;
        break;
    default:
        L[0] = X, L[1] = Y, L[2] = Z;
        break;
    }
    const int64_t s[3] = { su, sv, sw }, n[3] = { u, v, w };
    int64_t lo[3], hi[3];
    for (int i = 0; i < 3; ++i) {
        lo[i] = std::max<int64_t>(0, s[i]);
        hi[i] = std::min<int64_t>(L[i] - 1, s[i] + n[i] - 1);
        if (lo[i] > hi[i])
            return r;
    }
    r.meets = true;
    const int64_t uv = u * v;
    auto offset = [&](int64_t bu, int64_t bv, int64_t bw) {
        return ((bu - su) + (bv - sv) * u + (bw - sw) * uv) * es;
    };
    switch (orientation) {
    case 1: // u along z, v along y, w along x
        r.box = Box { lo[2], hi[2], lo[1], hi[1], lo[0], hi[0] };
        r.map = Mapping { buffer + offset(lo[0], lo[1], lo[2]), uv, u, 1 };
        break;
    case 2: // u along x, box row t holds z = Z - 1 - t, w along y
        r.box = Box { lo[0], hi[0], lo[2], hi[2], Z - 1 - hi[1], Z - 1 - lo[1] };
        r.map = Mapping { buffer + offset(lo[0], hi[1], lo[2]), 1, uv, -u };
        break;
    default:
        r.box = Box { lo[0], hi[0], lo[1], hi[1], lo[2], hi[2] };
        r.map = Mapping { buffer + offset(lo[0], lo[1], lo[2]), 1, u, uv };
        break;
    }
    return r;
}

bool extentsOk(int orientation, int64_t& u, int64_t& v, int64_t& w, int es, int64_t* bytes)
{
    if (orientation < 0 || orientation > 2)
        return false;
    u = std::abs(u), v = std::abs(v), w = std::abs(w);
    if (u == 0 || v == 0 || w == 0)
        return false;
    int64_t b;
    if (__builtin_mul_overflow(u, v, &b) || __builtin_mul_overflow(b, w, &b)
        || __builtin_mul_overflow(b, int64_t(es), &b) || b > PTRDIFF_MAX)
        return false;
    *bytes = b;
    return true;
}

void sizesOf(const FileDescriptor& d, int64_t& X, int64_t& Y, int64_t& Z)
{
    int w, h, z;
    vexaFileGetSizes(const_cast<FileDescriptor*>(&d), &w, &h, &z);
    X = w, Y = h, Z = z;
}

void* readBlockPart(const FileDescriptor& d, int orientation, int64_t su, int64_t sv, int64_t sw,
    int64_t u, int64_t v, int64_t w)
{
    const bool logical = !d.parts.empty();
    if (!vexaTypeIsValid(d.typeData) || (!logical && !usable(d)))
        return nullptr;
    const int es = vexaTypeSize(d.typeData);
    int64_t bytes;
    if (!extentsOk(orientation, u, v, w, es, &bytes))
        return nullptr;
    auto* buffer = static_cast<unsigned char*>(vexa::allocateLarge(size_t(bytes), true));
    if (!buffer)
        return nullptr;
    int64_t X, Y, Z;
    sizesOf(d, X, Y, Z);
    Request r = makeRequest(X, Y, Z, orientation, su, sv, sw, u, v, w, buffer, es);
    // A box outside the volume reads nothing, but a missing file is still a failure.
    bool ok = r.meets ? readBox(d, r.box, r.map) : (logical || fileIsReadable(d.name));
    if (!ok) {
        std::free(buffer);
        return nullptr;
    }
    return buffer;
}

int writeBlockPart(const FileDescriptor& d, const void* buffer, int orientation, int64_t su,
    int64_t sv, int64_t sw, int64_t u, int64_t v, int64_t w)
{
    const bool logical = !d.parts.empty();
    if (!buffer || !vexaTypeIsValid(d.typeData) || (!logical && !usable(d)))
        return 0;
    const int es = vexaTypeSize(d.typeData);
    int64_t bytes;
    if (!extentsOk(orientation, u, v, w, es, &bytes))
        return 0;
    if (d.op == VEXAFILE_OP_NONE)
        return 1;
    int64_t X, Y, Z;
    sizesOf(d, X, Y, Z);
    // The buffer is only read: the mapping's pointer is non-const for sharing the type.
    auto* data = const_cast<unsigned char*>(static_cast<const unsigned char*>(buffer));
    Request r = makeRequest(X, Y, Z, orientation, su, sv, sw, u, v, w, data, es);
    if (!r.meets)
        return 1;
    return writeBox(d, r.box, r.map, d.op) ? 1 : 0;
}

} // namespace

void swapInPlace(unsigned char* data, int64_t n, int esize)
{
    if (esize == 2)
        copyTyped<uint16_t, true>(data, 1, data, 1, n);
    else if (esize == 4)
        copyTyped<uint32_t, true>(data, 1, data, 1, n);
}

void copySamples(unsigned char* dst, int64_t dstStride, const unsigned char* src, int64_t srcStride,
    int64_t n, int esize, bool swap)
{
    if (n <= 0)
        return;
    swap = swap && (esize == 2 || esize == 4);
    if (!swap && dstStride == 1 && srcStride == 1) {
        std::memcpy(dst, src, size_t(n * esize));
        return;
    }
    switch (esize) {
    case 1:
        copyTyped<uint8_t, false>(dst, dstStride, src, srcStride, n);
        break;
    case 2:
        if (swap)
            copyTyped<uint16_t, true>(dst, dstStride, src, srcStride, n);
        else
            copyTyped<uint16_t, false>(dst, dstStride, src, srcStride, n);
        break;
    case 4:
        if (swap)
            copyTyped<uint32_t, true>(dst, dstStride, src, srcStride, n);
        else
            copyTyped<uint32_t, false>(dst, dstStride, src, srcStride, n);
        break;
    case 8:
        copyTyped<uint64_t, false>(dst, dstStride, src, srcStride, n);
        break;
    default:
        for (int64_t i = 0; i < n; ++i)
            std::memcpy(dst + i * dstStride * esize, src + i * srcStride * esize, size_t(esize));
        break;
    }
}

void gatherCompact(const Box& box, const Mapping& m, int esize, unsigned char* compact)
{
    const int64_t nx = box.nx();
    for (int64_t z = 0; z < box.nz(); ++z)
        for (int64_t y = 0; y < box.ny(); ++y)
            copySamples(compact + ((z * box.ny() + y) * nx) * esize, 1, at(m, esize, 0, y, z), m.sx,
                nx, esize, false);
}

void scatterCompact(const Box& box, const unsigned char* compact, int esize, const Mapping& m)
{
    const int64_t nx = box.nx();
    for (int64_t z = 0; z < box.nz(); ++z)
        for (int64_t y = 0; y < box.ny(); ++y)
            copySamples(at(m, esize, 0, y, z), m.sx, compact + ((z * box.ny() + y) * nx) * esize, 1,
                nx, esize, false);
}

void convertSamples(const void* src, int64_t count, int inType, int outType, void* dst)
{
    const int64_t chunk = int64_t(1) << 24;
    const int is = vexaTypeSize(inType), os = vexaTypeSize(outType);
    for (int64_t start = 0; start < count; start += chunk) {
        int n = int(std::min(chunk, count - start));
        vexaMemConvertInto(static_cast<const unsigned char*>(src) + start * is, n, 1.0, 0.0, inType,
            outType, static_cast<unsigned char*>(dst) + start * os);
    }
}

bool readBox(const FileDescriptor& d, const Box& box, const Mapping& m, int depth)
{
    if (depth > kMaxLogicalDepth)
        return false;
    if (!d.parts.empty())
        return readLogical(d, box, m, depth);
    if (!usable(d))
        return false;
    Geometry g = geometryOf(d);
    if (d.picture || d.tiff) {
        std::vector<unsigned char> image;
        bool ok = d.picture ? decodePicture(d.name, d.typeData, int(g.X), int(g.Y), image)
                            : decodeTiff(d.name, d.typeData, int(g.X), int(g.Y), image);
        if (!ok)
            return false;
        scatterPlane(image, g, box, m);
        return true;
    }
    if (auto map = keptMappingFor(d, g, box, m)) {
        if (d.tiled)
            return readTiles(Source { nullptr, map.get() }, g, box, m);
        readRunsMapped(g, runsOf(d, g, box, m), *map, m.origin);
        return true;
    }
    File f(d.name, File::Read);
    if (!f.isOpen())
        return false;
    if (d.tiled)
        return readTiles(Source { &f, nullptr }, g, box, m);
    return readRuns(f, g, runsOf(d, g, box, m), m.origin);
}

bool writeBox(const FileDescriptor& d, const Box& box, const Mapping& m, int op, int depth)
{
    if (depth > kMaxLogicalDepth)
        return false;
    if (op == VEXAFILE_OP_NONE)
        return true;
    if (!d.parts.empty())
        return writeLogical(d, box, m, op, depth);
    // Decoded pictures and TIFF files are read-only: raw samples written at their
    // OffsetData would overwrite the encoded file.
    if (!usable(d) || d.picture || d.tiff)
        return false;
    if (op >= 1 && op <= 4)
        return writeCombined(d, box, m, op, depth);
    Geometry g = geometryOf(d);
    File f(d.name, File::Update);
    if (!f.isOpen())
        return false;
    if (d.tiled)
        return writeTiles(f, g, box, m);
    return writeRuns(f, g, runsOf(d, g, box, m), m.origin);
}

} // namespace vexafile

extern "C" {

void* vexaFileReadBlockPart(
    FileDescriptor* desc, int orientation, int su, int sv, int sw, int u, int v, int w)
{
    if (!desc)
        return nullptr;
    return vexafile::reported(desc->name, [&]() -> void* {
        return vexafile::readBlockPart(*desc, orientation, su, sv, sw, u, v, w);
    });
}

void* vexaFileReadBlock(FileDescriptor* desc)
{
    if (!desc)
        return nullptr;
    int w, h, d;
    vexaFileGetSizes(desc, &w, &h, &d);
    return vexaFileReadBlockPart(desc, 0, 0, 0, 0, w, h, d);
}

void* vexaFileReadImagePart(
    FileDescriptor* desc, int orientation, int su, int sv, int index, int u, int v)
{
    return vexaFileReadBlockPart(desc, orientation, su, sv, index, u, v, 1);
}

static void planeSize(FileDescriptor* desc, int orientation, int* u, int* v)
{
    int w, h, d;
    vexaFileGetSizes(desc, &w, &h, &d);
    switch (orientation) {
    case 1:
        *u = d, *v = h;
        break;
    case 2:
        *u = w, *v = d;
        break;
    default:
        *u = w, *v = h;
        break;
    }
}

void* vexaFileReadImage(FileDescriptor* desc, int orientation, int index)
{
    if (!desc)
        return nullptr;
    int u, v;
    planeSize(desc, orientation, &u, &v);
    return vexaFileReadBlockPart(desc, orientation, 0, 0, index, u, v, 1);
}

int vexaFileWriteBlockPart(FileDescriptor* desc, const void* buffer, int orientation, int su,
    int sv, int sw, int u, int v, int w)
{
    if (!desc)
        return 0;
    return vexafile::reported(desc->name,
        [&] { return vexafile::writeBlockPart(*desc, buffer, orientation, su, sv, sw, u, v, w); });
}

int vexaFileWriteBlock(FileDescriptor* desc, const void* buffer)
{
    if (!desc)
        return 0;
    int w, h, d;
    vexaFileGetSizes(desc, &w, &h, &d);
    return vexaFileWriteBlockPart(desc, buffer, 0, 0, 0, 0, w, h, d);
}

int vexaFileWriteImagePart(FileDescriptor* desc, const void* buffer, int orientation, int su,
    int sv, int index, int u, int v)
{
    return vexaFileWriteBlockPart(desc, buffer, orientation, su, sv, index, u, v, 1);
}

int vexaFileWriteImage(FileDescriptor* desc, const void* buffer, int orientation, int index)
{
    if (!desc)
        return 0;
    int u, v;
    planeSize(desc, orientation, &u, &v);
    return vexaFileWriteBlockPart(desc, buffer, orientation, 0, 0, index, u, v, 1);
}

int vexaFileWriteFull(FileDescriptor* desc)
{
    if (!desc || !desc->hasName)
        return 0;
    return vexafile::reported(desc->name, [&] {
        vexafile::File f(desc->name, vexafile::File::Update);
        return f.isOpen() ? 1 : 0;
    });
}

} // extern "C"
