#include "data/section.h"

#include "data/registry.h"
#include "vexafile.h"
#include "vexamem.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <system_error>
#include <thread>

namespace vexa {

const int kSoneDx[1] = { 1 };
const int kSoneDz[1] = { 1 };
const int kNoseDx[1] = { 1 };
const int kNoseDz[1] = { -1 };

namespace {

std::mutex gPaletteMutex;
std::function<bool(PaletteRef, PaletteTable&)> gPaletteProvider;

// An element count that the int-sized conversion routines and the C interface can
// carry; false for empty or oversized rectangles.
bool countFits(std::int64_t w, std::int64_t h, int elementSize)
{
    return w > 0 && h > 0 && w * h <= INT_MAX / std::max(elementSize, 8);
}

// A RIGHT section takes one sample from each row of each plane: every sample is a
// cache line of its own, and on large blocks a page of its own too, so the gather is
// bound by how many fetches are in flight rather than by bandwidth. Rows are requested
// kAheadRows ahead of the reads, for kPlanes planes at a time, and the output is
// written in its final order. The prefetches ask for the second-level cache only
// (locality 1): the first level has few miss buffers and, filled by prefetches, held
// the gather to half the rate the second level's reach gives.
constexpr int kPlanes = 4;
constexpr int kAheadRows = 32;
constexpr int kLocality = 1;
// From this many fetches (a 512 x 512 section) a second thread gathers half the planes:
// starting it costs tens of microseconds against milliseconds of waiting on memory.
constexpr std::int64_t kThreadedFetches = std::int64_t { 1 } << 18;

// Planes zs..ze of the RIGHT section at x, rows rs..re, into out (W samples a row,
// column 0 at plane c0, row 0 at r0).
template <typename T>
void gatherRightPlanes(
    const BlockDescriptor& b, int x, int zs, int ze, int rs, int re, int c0, int r0, int W, T* out)
{
    const T* base = reinterpret_cast<const T*>(b.samples.data());
    const std::size_t planeElems = std::size_t(b.dimX) * std::size_t(b.dimY);
    const std::size_t rowElems = std::size_t(b.dimX);
    const std::size_t ahead = std::size_t(kAheadRows) * rowElems;
    for (int z = zs; z <= ze; z += kPlanes) {
        const int n = std::min(kPlanes, ze - z + 1);
        // A short last group repeats its last plane, so that the prefetches stay simple.
        const T* src[kPlanes];
        for (int k = 0; k < kPlanes; ++k)
            src[k] = base + std::size_t(z + std::min(k, n - 1)) * planeElems + std::size_t(x);
        for (int y = rs; y < std::min(re + 1, rs + kAheadRows); ++y)
            for (int k = 0; k < kPlanes; ++k)
                __builtin_prefetch(src[k] + std::size_t(y) * rowElems, 0, kLocality);
        T* dst = out + std::size_t(z - c0);
        for (int y = rs; y <= re; ++y) {
            const std::size_t s = std::size_t(y) * rowElems;
            if (y + kAheadRows <= re)
                for (int k = 0; k < kPlanes; ++k)
                    __builtin_prefetch(src[k] + s + ahead, 0, kLocality);
            T* d = dst + std::size_t(y - r0) * std::size_t(W);
            if (n == kPlanes) {
                for (int k = 0; k < kPlanes; ++k)
                    d[k] = src[k][s];
            } else {
                for (int k = 0; k < n; ++k)
                    d[k] = src[k][s];
            }
        }
    }
}

// Copies the part of the rectangle (c0, r0, W x H) of a RIGHT section that lies inside
// it (planes cs..ce, rows rs..re) into out (zero-filled, W x H samples).
template <typename T>
void gatherRight(
    const BlockDescriptor& b, int x, int cs, int ce, int rs, int re, int c0, int r0, int W, T* out)
{
    static const bool twoCores = std::thread::hardware_concurrency() >= 2;
    const std::int64_t fetches = std::int64_t(ce - cs + 1) * (re - rs + 1);
    if (twoCores && fetches >= kThreadedFetches) {
        // The halves meet on a cache-line boundary of the output rows.
        constexpr int kLine = int(64 / sizeof(T));
        const int mid = c0 + (cs - c0 + (ce - cs + 1) / 2) / kLine * kLine;
        std::thread helper;
        if (mid > cs && mid <= ce) {
            try {
                helper = std::thread(
                    [&] { gatherRightPlanes(b, x, mid, ce, rs, re, c0, r0, W, out); });
            } catch (const std::system_error&) {
                // No thread to be had: this one gathers everything.
            }
        }
        if (helper.joinable()) {
            gatherRightPlanes(b, x, cs, mid - 1, rs, re, c0, r0, W, out);
            helper.join();
            return;
        }
    }
    gatherRightPlanes(b, x, cs, ce, rs, re, c0, r0, W, out);
}

void readMemoryRect(
    const BlockDescriptor& b, int plane, int index, int c0, int r0, int W, int H, std::uint8_t* out)
{
    int sw = 0, sh = 0;
    sectionSize(b, plane, sw, sh);
    int cs = std::max(c0, 0), ce = std::min<std::int64_t>(std::int64_t(c0) + W - 1, sw - 1);
    int rs = std::max(r0, 0), re = std::min<std::int64_t>(std::int64_t(r0) + H - 1, sh - 1);
    if (cs > ce || rs > re)
        return;
    const std::size_t es = std::size_t(b.elementSize());
    const std::size_t runBytes = std::size_t(ce - cs + 1) * es;
    switch (plane) {
    case PLANE_FRONT: {
        const std::uint8_t* p = b.plane(index);
        for (int y = rs; y <= re; ++y)
            std::memcpy(out + (std::size_t(y - r0) * W + (cs - c0)) * es,
                p + (std::size_t(y) * b.dimX + cs) * es, runBytes);
        break;
    }
    case PLANE_TOP:
        for (int r = rs; r <= re; ++r) {
            const std::uint8_t* p = b.plane(b.dimZ - 1 - r);
            std::memcpy(out + (std::size_t(r - r0) * W + (cs - c0)) * es,
                p + (std::size_t(index) * b.dimX + cs) * es, runBytes);
        }
        break;
    case PLANE_RIGHT:
        switch (es) {
        case 1:
            gatherRight(b, index, cs, ce, rs, re, c0, r0, W, out);
            break;
        case 2:
            gatherRight(b, index, cs, ce, rs, re, c0, r0, W, reinterpret_cast<std::uint16_t*>(out));
            break;
        case 4:
            gatherRight(b, index, cs, ce, rs, re, c0, r0, W, reinterpret_cast<std::uint32_t*>(out));
            break;
        case 8:
            gatherRight(b, index, cs, ce, rs, re, c0, r0, W, reinterpret_cast<std::uint64_t*>(out));
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

void* readFileRect(const BlockDescriptor& b, int plane, int index, int c0, int r0, int W, int H)
{
    switch (plane) {
    case PLANE_FRONT:
        return vexaFileReadImagePart(b.file.get(), 0, c0, r0, index, W, H);
    case PLANE_RIGHT:
        if (b.rightFile)
            return vexaFileReadImagePart(b.rightFile.get(), 0, c0, r0, b.dimX - 1 - index, W, H);
        return vexaFileReadImagePart(b.file.get(), 1, c0, r0, index, W, H);
    case PLANE_TOP:
        if (b.topFile)
            return vexaFileReadImagePart(b.topFile.get(), 0, c0, r0, index, W, H);
        return vexaFileReadImagePart(b.file.get(), 2, c0, r0, index, W, H);
    default:
        return nullptr;
    }
}

// One value per RGBA pixel: the mean of red, green and blue, as U8.
void* reduceRgba(const void* rgba, int count)
{
    auto* out = static_cast<std::uint8_t*>(std::malloc(std::size_t(count)));
    if (!out)
        return nullptr;
    const auto* p = static_cast<const std::uint8_t*>(rgba);
    for (int i = 0; i < count; ++i, p += 4)
        out[i] = static_cast<std::uint8_t>((unsigned(p[0]) + p[1] + p[2]) / 3);
    return out;
}

// Converts raw samples to the wanted type; takes ownership of raw.
void* convertOwned(void* raw, int count, double gain, double offset, int from, int to)
{
    if (!raw)
        return nullptr;
    if (from == TYPEDATA_RGBA) {
        if (to == TYPEDATA_RGBA)
            return raw; // colours are copied, never scaled
        void* mean = reduceRgba(raw, count);
        std::free(raw);
        if (!mean || (to == TYPEDATA_U8 && gain == 1 && offset == 0))
            return mean;
        void* out = vexaMemConvert(mean, count, gain, offset, TYPEDATA_U8, to);
        std::free(mean);
        return out;
    }
    if (from == to && gain == 1 && offset == 0)
        return raw;
    void* out = vexaMemConvert(raw, count, gain, offset, from, to);
    std::free(raw);
    return out;
}

void dropCompanions(BlockDescriptor& b)
{
    // Companions are copies made beside the file; once the file changes they are
    // stale, and sections are read from the file itself.
    b.topFile.reset();
    b.rightFile.reset();
    ++b.fileWrites;
}

// Writes a rectangle in the block's type; the caller holds the block's lock alone.
bool writeRectLocked(BlockDescriptor& b, int plane, int index, int c0, int r0,
    const std::uint8_t* data, int w, int h)
{
    const int type = b.typeData;
    const std::size_t es = std::size_t(b.elementSize());
    const bool memory = b.storage == STORAGE_MEMORY;
    if (memory ? !b.samples : !b.file)
        return false;
    if (index < 0 || index >= sectionCount(b, plane))
        return false;
    int sw = 0, sh = 0;
    sectionSize(b, plane, sw, sh);
    const bool inside
        = c0 >= 0 && r0 >= 0 && std::int64_t(c0) + w <= sw && std::int64_t(r0) + h <= sh;

    if (plane == PLANE_FRONT) {
        int cs = std::max(c0, 0), ce = std::min<std::int64_t>(std::int64_t(c0) + w - 1, sw - 1);
        int rs = std::max(r0, 0), re = std::min<std::int64_t>(std::int64_t(r0) + h - 1, sh - 1);
        if (cs > ce || rs > re)
            return false;
        const std::uint8_t* src = data;
        void* cut = nullptr;
        int cw = ce - cs + 1, ch = re - rs + 1;
        if (!inside) {
            cut = vexaMemExtract(data, w, h, cs - c0, rs - r0, cw, ch, type);
            if (!cut)
                return false;
            src = static_cast<const std::uint8_t*>(cut);
        }
        bool ok = true;
        if (memory) {
            std::uint8_t* p = b.plane(index);
            if (b.writeOp == 0) {
                for (int j = 0; j < ch; ++j)
                    std::memcpy(p + (std::size_t(rs + j) * b.dimX + cs) * es,
                        src + std::size_t(j) * cw * es, std::size_t(cw) * es);
            } else {
                vexaMemOp(
                    src, type, cw, ch, 0, 0, cw, ch, p, type, b.dimX, b.dimY, cs, rs, b.writeOp);
            }
        } else {
            ok = vexaFileWriteImagePart(b.file.get(), src, 0, cs, rs, index, cw, ch) != 0;
        }
        std::free(cut);
        return ok;
    }

    if (!inside)
        return false;
    if (!memory)
        return vexaFileWriteImagePart(b.file.get(), data, plane, c0, r0, index, w, h) != 0;

    if (plane == PLANE_RIGHT) {
        for (int i = 0; i < w; ++i) {
            std::uint8_t* p = b.plane(c0 + i);
            if (b.writeOp == 0) {
                for (int j = 0; j < h; ++j)
                    std::memcpy(p + (std::size_t(r0 + j) * b.dimX + index) * es,
                        data + (std::size_t(j) * w + i) * es, es);
            } else {
                vexaMemOp(
                    data, type, w, h, i, 0, 1, h, p, type, b.dimX, b.dimY, index, r0, b.writeOp);
            }
        }
        return true;
    }
    for (int i = 0; i < h; ++i) {
        std::uint8_t* p = b.plane(b.dimZ - 1 - (r0 + i));
        if (b.writeOp == 0)
            std::memcpy(p + (std::size_t(index) * b.dimX + c0) * es, data + std::size_t(i) * w * es,
                std::size_t(w) * es);
        else
            vexaMemOp(data, type, w, h, 0, i, w, 1, p, type, b.dimX, b.dimY, c0, index, b.writeOp);
    }
    return true;
}

// The data in the block's type: data itself, or a converted copy kept in holder.
const std::uint8_t* inBlockType(
    const BlockDescriptor& b, const void* data, std::int64_t count, int dataType, void*& holder)
{
    holder = nullptr;
    if (dataType == b.typeData)
        return static_cast<const std::uint8_t*>(data);
    if (!vexaTypeIsValid(dataType) || count <= 0 || count > INT_MAX)
        return nullptr;
    holder = vexaMemConvert(data, int(count), 1.0, 0.0, dataType, b.typeData);
    return static_cast<const std::uint8_t*>(holder);
}

} // namespace

bool sectionSize(const BlockDescriptor& b, int plane, int& width, int& height)
{
    switch (plane) {
    case PLANE_FRONT:
        width = b.dimX;
        height = b.dimY;
        return true;
    case PLANE_RIGHT:
        width = b.dimZ;
        height = b.dimY;
        return true;
    case PLANE_TOP:
        width = b.dimX;
        height = b.dimZ;
        return true;
    default:
        return false;
    }
}

int sectionCount(const BlockDescriptor& b, int plane)
{
    switch (plane) {
    case PLANE_FRONT:
        return b.dimZ;
    case PLANE_RIGHT:
        return b.dimX;
    case PLANE_TOP:
        return b.dimY;
    default:
        return 0;
    }
}

void* readSection(const BlockDescriptor& b, bool scale, int wantedType, int plane, int index,
    int c0, int r0, int c1, int r1)
{
    if (plane < PLANE_FRONT || plane > PLANE_TOP)
        return nullptr;
    if (wantedType != -1 && !vexaTypeIsValid(wantedType))
        return nullptr;
    std::int64_t W = std::int64_t(c1) - c0 + 1;
    std::int64_t H = std::int64_t(r1) - r0 + 1;
    std::shared_lock lock(b.lock);
    const int blockType = b.typeData;
    const int outType = wantedType == -1 ? blockType : wantedType;
    if (!vexaTypeIsValid(blockType) || !countFits(W, H, 8))
        return nullptr;
    const int count = int(W * H);

    if (index < 0 || index >= sectionCount(b, plane))
        return std::calloc(std::size_t(count), std::size_t(vexaTypeSize(outType)));

    void* raw = nullptr;
    if (b.storage == STORAGE_MEMORY) {
        raw = std::calloc(std::size_t(count), std::size_t(b.elementSize()));
        if (raw && b.samples)
            readMemoryRect(
                b, plane, index, c0, r0, int(W), int(H), static_cast<std::uint8_t*>(raw));
    } else if (b.file) {
        raw = readFileRect(b, plane, index, c0, r0, int(W), int(H));
    } else {
        raw = std::calloc(std::size_t(count), std::size_t(b.elementSize()));
    }
    if (!raw)
        return nullptr;

    double gain = 1, offset = 0;
    if (scale && b.valueScaleOn) {
        gain = b.valueGain;
        offset = b.valueOffset;
    }
    if (!scale && wantedType == -1)
        return raw;
    return convertOwned(raw, count, gain, offset, blockType, outType);
}

bool writeSection(BlockDescriptor& b, int plane, int index, int c0, int r0, const void* data, int w,
    int h, int dataType)
{
    if (!data || w <= 0 || h <= 0 || plane < PLANE_FRONT || plane > PLANE_TOP)
        return false;
    std::unique_lock lock(b.lock);
    if (!vexaTypeIsValid(b.typeData) || !countFits(w, h, b.elementSize()))
        return false;
    if (b.writeOp == 99 && b.storage == STORAGE_MEMORY)
        return false;
    void* converted = nullptr;
    const std::uint8_t* src = inBlockType(b, data, std::int64_t(w) * h, dataType, converted);
    bool written = src && writeRectLocked(b, plane, index, c0, r0, src, w, h);
    std::free(converted);
    if (written && b.storage == STORAGE_FILE)
        dropCompanions(b);
    return written;
}

std::vector<PathPoint> pathPoints(int dimX, int dimZ, int p, const int* dx, const int* dz, int n)
{
    std::vector<PathPoint> points;
    if (!dx || !dz || n <= 0 || dimX <= 0 || dimZ <= 0)
        return points;
    // Pattern signs; zero counts as positive.
    bool negX = n == 1 ? dx[0] < 0 : std::int64_t(dx[n - 1]) - dx[0] < 0;
    bool negZ = n == 1 ? dz[0] < 0 : std::int64_t(dz[n - 1]) - dz[0] < 0;
    const std::int64_t P = p, X = dimX, Z = dimZ;
    std::int64_t x = 0, z = 0;
    if (!negX && !negZ) {
        if (P >= 0) {
            x = P;
            z = 0;
        } else {
            x = 0;
            z = -P;
        }
    } else if (!negX && negZ) {
        if (P <= 1 - Z) {
            x = 1 - P - Z;
            z = Z - 1;
        } else {
            x = 0;
            z = -P;
        }
    } else if (negX && !negZ) {
        if (P < X - 1) {
            x = X - 1;
            z = 0;
        } else {
            x = X - 1;
            z = P - X + 1;
        }
    } else {
        if (P >= X - 1) {
            x = X - 1;
            z = X + Z - 2 - P;
        } else if (1 - Z < P) {
            x = X - 1;
            z = Z - 1;
        } else {
            x = X - 1 + P + Z - 1;
            z = Z - 1;
        }
    }
    // A path cannot have more distinct points than the map plane; a pattern that
    // stands still or turns back would otherwise never leave it.
    const std::int64_t limit = X * Z;
    for (std::int64_t k = 0; x >= 0 && x < X && z >= 0 && z < Z; ++k) {
        if (std::int64_t(points.size()) >= limit)
            break;
        points.push_back({ int(x), int(z) });
        x += dx[k % n];
        z += dz[k % n];
    }
    return points;
}

void* readPathSection(const BlockDescriptor& b, int p, int wantedType, const int* dx, const int* dz,
    int n, int& width, int& height)
{
    width = height = 0;
    int dimX, dimY, dimZ, blockType;
    {
        std::shared_lock lock(b.lock);
        dimX = b.dimX;
        dimY = b.dimY;
        dimZ = b.dimZ;
        blockType = b.typeData;
    }
    const int outType = wantedType == -1 ? blockType : wantedType;
    if (!vexaTypeIsValid(outType))
        return nullptr;
    std::vector<PathPoint> points = pathPoints(dimX, dimZ, p, dx, dz, n);
    const int L = int(points.size());
    if (L == 0 || !countFits(L, dimY, 8))
        return nullptr;
    const std::size_t es = std::size_t(vexaTypeSize(outType));
    auto* out = static_cast<std::uint8_t*>(std::calloc(std::size_t(L) * dimY, es));
    if (!out)
        return nullptr;
    for (int k = 0; k < L; ++k) {
        auto* column = static_cast<std::uint8_t*>(readSection(
            b, true, outType, PLANE_FRONT, points[k].z, points[k].x, 0, points[k].x, dimY - 1));
        if (!column)
            continue;
        for (int y = 0; y < dimY; ++y)
            std::memcpy(out + (std::size_t(y) * L + k) * es, column + std::size_t(y) * es, es);
        std::free(column);
    }
    width = L;
    height = dimY;
    return out;
}

bool writePathSection(
    BlockDescriptor& b, int p, const int* dx, const int* dz, int n, const void* data, int dataType)
{
    if (!data)
        return false;
    std::unique_lock lock(b.lock);
    std::vector<PathPoint> points = pathPoints(b.dimX, b.dimZ, p, dx, dz, n);
    const int L = int(points.size());
    const int type = b.typeData;
    if (L == 0 || !vexaTypeIsValid(type) || !countFits(L, b.dimY, b.elementSize()))
        return false;
    const bool memory = b.storage == STORAGE_MEMORY;
    if (memory ? !b.samples : !b.file)
        return false;
    void* converted = nullptr;
    const std::uint8_t* src = inBlockType(b, data, std::int64_t(L) * b.dimY, dataType, converted);
    if (!src)
        return false;
    const std::size_t es = std::size_t(b.elementSize());
    bool written = false;
    for (int k = 0; k < L; ++k) {
        const PathPoint& pt = points[k];
        if (memory) {
            if (b.writeOp == 99)
                break;
            std::uint8_t* plane = b.plane(pt.z);
            if (b.writeOp == 0) {
                for (int y = 0; y < b.dimY; ++y)
                    std::memcpy(plane + (std::size_t(y) * b.dimX + pt.x) * es,
                        src + (std::size_t(y) * L + k) * es, es);
            } else {
                vexaMemOp(src, type, L, b.dimY, k, 0, 1, b.dimY, plane, type, b.dimX, b.dimY, pt.x,
                    0, b.writeOp);
            }
            written = true;
        } else {
            void* column = vexaMemExtract(src, L, b.dimY, k, 0, 1, b.dimY, type);
            if (column && vexaFileWriteImagePart(b.file.get(), column, 0, pt.x, 0, pt.z, 1, b.dimY))
                written = true;
            std::free(column);
        }
    }
    std::free(converted);
    if (written && !memory)
        dropCompanions(b);
    return written;
}

void prepareDisplayedSection(ImageObject& object)
{
    BlockDescriptor* b = object.block.get();
    if (!b)
        return;
    if (b->cursorX == 0 && b->cursorY == 0 && b->cursorZ == 0) {
        b->cursorX = b->dimX / 2;
        b->cursorY = b->dimY / 2;
        b->cursorZ = b->dimZ / 2;
    }
    ImageDescriptor& image = *object.image;
    std::lock_guard lock(image.lock);
    if (image.samples)
        return;
    void* raw = readSection(*b, false, -1, PLANE_FRONT, b->cursorZ, 0, 0, b->dimX - 1, b->dimY - 1);
    if (!raw)
        return;
    image.width = b->dimX;
    image.height = b->dimY;
    image.typeData = b->typeData;
    image.samples.adopt(raw, std::size_t(image.sampleCount()) * std::size_t(b->elementSize()));
}

std::string positionLabel(int plane, int index)
{
    static const char* const names[] = { "FRONT", "RIGHT", "TOP" };
    if (plane < PLANE_FRONT || plane > PLANE_TOP)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%s %.5d", names[plane], index);
    return text;
}

bool showBlockSection(DataRecord* record, int plane, int index)
{
    if (!record || !record->block())
        return false;
    BlockDescriptor& b = *record->block();
    int w = 0, h = 0;
    if (!sectionSize(b, plane, w, h) || index < 0 || index >= sectionCount(b, plane))
        return false;
    void* raw = readSection(b, false, -1, plane, index, 0, 0, w - 1, h - 1);
    if (!raw)
        return false;
    {
        ImageDescriptor& image = *record->image2d();
        std::lock_guard lock(image.lock);
        image.width = w;
        image.height = h;
        image.typeData = b.typeData;
        image.samples.adopt(raw, std::size_t(w) * std::size_t(h) * std::size_t(b.elementSize()));
    }
    if (plane == PLANE_FRONT)
        b.cursorZ = index;
    else if (plane == PLANE_RIGHT)
        b.cursorX = index;
    else
        b.cursorY = index;
    dataSetPosition(record, positionLabel(plane, index));
    dataRedraw(record);
    return true;
}

void setPaletteTableProvider(std::function<bool(PaletteRef, PaletteTable&)> provider)
{
    std::lock_guard lock(gPaletteMutex);
    gPaletteProvider = std::move(provider);
}

void* readImageData(const ImageDescriptor& image, double gain, double offset, int type)
{
    if (!image.samples || !vexaTypeIsValid(type) || !vexaTypeIsValid(image.typeData))
        return nullptr;
    if (!countFits(image.width, image.height, 8))
        return nullptr;
    const int count = int(image.sampleCount());
    const void* src = image.samples.data();
    if (image.typeData == TYPEDATA_RGBA) {
        if (type == TYPEDATA_RGBA) {
            void* out = std::malloc(std::size_t(count) * 4);
            if (out)
                std::memcpy(out, src, std::size_t(count) * 4);
            return out;
        }
        void* mean = reduceRgba(src, count);
        if (!mean)
            return nullptr;
        void* out = vexaMemConvert(mean, count, gain, offset, TYPEDATA_U8, type);
        std::free(mean);
        return out;
    }
    if (type != TYPEDATA_RGBA)
        return vexaMemConvert(src, count, gain, offset, image.typeData, type);

    auto* levels = static_cast<std::uint8_t*>(
        vexaMemConvert(src, count, gain, offset, image.typeData, TYPEDATA_U8));
    if (!levels)
        return nullptr;
    PaletteTable table;
    bool coloured = false;
    {
        std::lock_guard lock(gPaletteMutex);
        if (gPaletteProvider)
            coloured = gPaletteProvider(image.palette, table);
    }
    if (!coloured)
        for (int i = 0; i < 256; ++i)
            table[i][0] = table[i][1] = table[i][2] = std::uint8_t(i), table[i][3] = 0;
    auto* out = static_cast<std::uint8_t*>(std::malloc(std::size_t(count) * 4));
    if (out) {
        for (int i = 0; i < count; ++i) {
            const std::uint8_t* c = table[levels[i]];
            out[4 * i + 0] = c[2];
            out[4 * i + 1] = c[1];
            out[4 * i + 2] = c[0];
            out[4 * i + 3] = 0;
        }
    }
    std::free(levels);
    return out;
}

} // namespace vexa
