#include "mesh/isoslabs.h"

#include "tasks/taskcontext.h"
#include "vexa_reason.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <malloc.h>
#include <sys/mman.h>

namespace vexa::mesh::detail {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kNoVertex = std::numeric_limits<int32_t>::min();

// Unit-cube positions of the corners in the case numbering.
constexpr int kCorner[8][3] = { { 0, 0, 0 }, { 1, 0, 0 }, { 1, 1, 0 }, { 0, 1, 0 }, { 0, 0, 1 },
    { 1, 0, 1 }, { 1, 1, 1 }, { 0, 1, 1 } };

enum Rule { kRuleCuberille, kRuleMarching, kRuleSimplifiedStrict, kRuleSimplifiedTable };

// Where a vertex lives relative to the cube at (x, y, z): the plane of slice z, the
// plane of slice z + 1 or the layer between them, a kind (x- or y-edges share a
// plane), and an in-plane offset.
enum Place : uint8_t { kBottom = 0, kTop = 1, kLayer = 2 };

// The twelve cube edges, each from its lower corner (both cubes that share an edge
// interpolate it the same way).
struct EdgeSlot {
    uint8_t lower, upper, place, kind;
};
constexpr EdgeSlot kEdges[12]
    = { { 0, 1, kBottom, 0 }, { 3, 2, kBottom, 0 }, { 4, 5, kTop, 0 }, { 7, 6, kTop, 0 },
          { 0, 3, kBottom, 1 }, { 1, 2, kBottom, 1 }, { 4, 7, kTop, 1 }, { 5, 6, kTop, 1 },
          { 0, 4, kLayer, 0 }, { 1, 5, kLayer, 0 }, { 3, 7, kLayer, 0 }, { 2, 6, kLayer, 0 } };

struct MarchingEntry {
    uint8_t nbPoints = 0, nbTriangles = 0;
    uint8_t slot[12] {};
    uint8_t triangles[3 * kMaxMarchingTriangles] {};
};

const std::array<MarchingEntry, 256>& marchingEntries()
{
    static const std::array<MarchingEntry, 256> table = [] {
        std::array<MarchingEntry, 256> t {};
        for (int c = 0; c < 256; ++c) {
            const MarchingCase& source = marchingCase(c);
            MarchingEntry& e = t[size_t(c)];
            if (source.nbTriangles == 0)
                continue;
            e.nbPoints = uint8_t(source.nbPoints);
            e.nbTriangles = uint8_t(source.nbTriangles);
            for (int p = 0; p < source.nbPoints; ++p) {
                const int a = std::min(source.edges[p][0], source.edges[p][1]);
                const int b = std::max(source.edges[p][0], source.edges[p][1]);
                for (int s = 0; s < 12; ++s)
                    if (std::min(kEdges[s].lower, kEdges[s].upper) == a
                        && std::max(kEdges[s].lower, kEdges[s].upper) == b)
                        e.slot[p] = uint8_t(s);
            }
            for (int i = 0; i < 3 * source.nbTriangles; ++i)
                e.triangles[i] = source.triangles[i / 3][i % 3];
        }
        return t;
    }();
    return table;
}

// Simplified rule: the corners in order of first use, triangles as indices into them.
struct CornerEntry {
    uint8_t nbCorners = 0, nbTriangles = 0;
    uint8_t corner[8] {};
    uint8_t triangles[27] {};
};

const std::array<CornerEntry, 256>& cornerEntries()
{
    static const std::array<CornerEntry, 256> table = [] {
        std::array<CornerEntry, 256> t {};
        for (int c = 0; c < 256; ++c) {
            const std::vector<int> corners = simplifiedCaseTriangles(c);
            CornerEntry& e = t[size_t(c)];
            int local[8];
            std::fill(local, local + 8, -1);
            for (size_t i = 0; i < corners.size() && i < 27; ++i) {
                const int k = corners[i];
                if (local[k] < 0) {
                    local[k] = e.nbCorners;
                    e.corner[e.nbCorners++] = uint8_t(k);
                }
                e.triangles[i] = uint8_t(local[k]);
            }
            e.nbTriangles = uint8_t(std::min<size_t>(corners.size(), 27) / 3);
        }
        return t;
    }();
    return table;
}

// Cuberille squares on the plane halfway to the x+1, y+1 and z+1 neighbours,
// relative to the sample; each wound so its normal points along +axis.
constexpr float kSquares[3][4][3] = {
    { { 0.5f, -0.5f, -0.5f }, { 0.5f, 0.5f, -0.5f }, { 0.5f, 0.5f, 0.5f }, { 0.5f, -0.5f, 0.5f } },
    { { -0.5f, 0.5f, 0.5f }, { 0.5f, 0.5f, 0.5f }, { 0.5f, 0.5f, -0.5f }, { -0.5f, 0.5f, -0.5f } },
    { { -0.5f, -0.5f, 0.5f }, { 0.5f, -0.5f, 0.5f }, { 0.5f, 0.5f, 0.5f }, { -0.5f, 0.5f, 0.5f } },
};

// Asks for huge pages over a large block: the output arrays are filled once, front to
// back, and faults on 4 KiB pages cost a good share of the walk on a large surface.
// Only a block that is a mapping of its own (the allocator's page header in front,
// its end on a page) is advised, and as a whole: advising part of a mapping splits it,
// and a split mapping can no longer grow in place when the buffer doubles.
void adviseHugePages(void* block)
{
    constexpr uintptr_t kPage = 4096, kHeader = 16;
    if (!block)
        return;
    const size_t usable = malloc_usable_size(block);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(block) - kHeader;
    const uintptr_t end = reinterpret_cast<uintptr_t>(block) + usable;
    if (usable >= (size_t(4) << 20) && begin % kPage == 0 && end % kPage == 0)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE); // only a hint
}

// A malloc block that grows by doubling; a mesh can take it over without a copy.
template <typename T> class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr))
        , size_(std::exchange(other.size_, 0))
        , capacity_(std::exchange(other.capacity_, 0))
    {
    }
    Buffer& operator=(Buffer&&) = delete;
    ~Buffer() { std::free(data_); }

    T* claim(size_t n)
    {
        if (size_ + n > capacity_)
            grow(size_ + n);
        T* p = data_ + size_;
        size_ += n;
        return p;
    }
    size_t size() const { return size_; }
    // Room for n elements if memory allows: only a hint, growth still works without.
    void reserveHint(size_t n)
    {
        if (n <= capacity_ || n > std::numeric_limits<size_t>::max() / sizeof(T))
            return;
        if (T* p = static_cast<T*>(std::realloc(data_, n * sizeof(T)))) {
            adviseHugePages(p);
            data_ = p;
            capacity_ = n;
        }
    }
    const T* data() const { return data_; }
    void truncate(size_t n) { size_ = std::min(size_, n); }
    // Hands the block over with room for total elements, the first size() kept.
    T* releaseWithRoom(size_t total)
    {
        T* p = static_cast<T*>(std::realloc(data_, std::max<size_t>(total, 1) * sizeof(T)));
        if (!p)
            throw std::bad_alloc(); // the block stays ours and is freed with us
        adviseHugePages(p);
        data_ = nullptr;
        size_ = capacity_ = 0;
        return p;
    }
    // Hands the block over, trimmed to its size (null when empty).
    T* release()
    {
        T* p = data_;
        if (p && size_ < capacity_) {
            if (T* trimmed
                = static_cast<T*>(std::realloc(p, std::max<size_t>(size_, 1) * sizeof(T))))
                p = trimmed;
        }
        if (size_ == 0) {
            std::free(p);
            p = nullptr;
        }
        data_ = nullptr;
        size_ = capacity_ = 0;
        return p;
    }

private:
    void grow(size_t needed)
    {
        size_t capacity = std::max<size_t>(capacity_ * 2, 4096);
        while (capacity < needed)
            capacity *= 2;
        T* p = static_cast<T*>(std::realloc(data_, capacity * sizeof(T)));
        if (!p)
            throw std::bad_alloc();
        adviseHugePages(p);
        data_ = p;
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Counts at the end of a layer, cumulative within the slab.
struct LayerCount {
    int64_t soupPoints = 0, soupTriangles = 0; // as the cube-by-cube soup would hold
    int64_t points = 0, triangles = 0; // what the slab made
};

// A place on a plane and the local vertex made there.
using PlaceVertex = std::pair<int64_t, int32_t>;

struct Slab {
    int zBegin = 0, zEnd = 0; // layers [zBegin, zEnd)
    int layersDone = 0;
    Buffer<float> points;
    Buffer<int32_t> triangles;
    std::vector<PlaceVertex> bottom; // made on the first plane, in order (later slabs only)
    std::vector<PlaceVertex> top; // made on the last plane, by place
    std::vector<LayerCount> layers;
    bool needsWeld = false, alert = false, readFailed = false;
    double ms = 0;
    bool hasBox = false; // boxMin / boxMax hold the box of its points
    float boxMin[3] = { 0, 0, 0 }, boxMax[3] = { 0, 0, 0 };

    // Filled by the merge.
    int64_t base = 0;
    std::vector<int32_t> resolvedLocal, resolvedGlobal; // bottom vertices the slab before made

    int64_t nbPoints() const { return int64_t(points.size() / 3); }
    int64_t nbTriangles() const { return int64_t(triangles.size() / 3); }
    int64_t global(int32_t local) const
    {
        auto it = std::lower_bound(resolvedLocal.begin(), resolvedLocal.end(), local);
        if (it != resolvedLocal.end() && *it == local)
            return resolvedGlobal[size_t(it - resolvedLocal.begin())];
        return base + local - (it - resolvedLocal.begin());
    }
};

// First and last change along a row of classes, and its values at both ends.
struct RowSpan {
    int32_t first, last; // first/last x with class[x] != class[x + 1]; none: INT32_MAX / -1
    uint8_t head, tail;
};

struct Shared {
    Shared(const SliceReader& r, std::mutex* lock, const RawVolume* volume, const WalkBox& b,
        const IsoSurfaceParams& p)
        : reader(r)
        , readLock(lock)
        , raw(volume && volume->samples && p.selection == kIsoThreshold ? volume : nullptr)
        , box(b)
        , params(p)
    {
    }

    const SliceReader& reader;
    std::mutex* readLock; // null when reads may run at once
    const RawVolume* raw; // read directly when set
    WalkBox box;
    const IsoSurfaceParams& params;
    Rule rule = kRuleMarching;
    double level = 0;
    double tolerance = 0;
    std::vector<double> values; // sorted
    bool alwaysWeld = false;
    std::atomic<bool> abort { false };
    // Points and triangles per layer of the densest slab so far (x 1024): later slabs
    // size their blocks from it rather than growing them step by step.
    std::atomic<int64_t> pointsPerLayer { 0 }, trianglesPerLayer { 0 };
};

// The calling thread's stop and progress checks.
class Poll {
public:
    Poll(const IsoSurfaceHooks& hooks, Shared& shared)
        : hooks_(hooks)
        , shared_(shared)
        , last_(Clock::now())
    {
    }
    void layer(int z)
    {
        if (hooks_.progress && z > reported_) {
            hooks_.progress(z);
            reported_ = z;
        }
        ask();
    }
    // Asks for a stop now.
    void check() { ask(); }
    // Called once a row: the clock is read every few rows, which still keeps well
    // within the 50 ms between checks and costs little on rows that are skipped.
    void often()
    {
        if (++calls_ % 4 != 0)
            return;
        const Clock::time_point now = Clock::now();
        if (now - last_ >= std::chrono::milliseconds(40))
            ask();
    }
    bool stopped() const { return stopped_; }

private:
    void ask()
    {
        last_ = Clock::now();
        if (stopped_)
            return;
        if (hooks_.stopRequested ? hooks_.stopRequested() : taskStopRequested()) {
            stopped_ = true;
            shared_.abort = true;
        }
    }

    const IsoSurfaceHooks& hooks_;
    Shared& shared_;
    Clock::time_point last_;
    int reported_ = std::numeric_limits<int>::min();
    unsigned calls_ = 0;
    bool stopped_ = false;
};

class Walker {
public:
    explicit Walker(Shared& shared)
        : s_(shared)
        , box_(shared.box)
        , nx_(size_t(box_.x2 - box_.x1 + 1))
        , planeSize_(nx_ * size_t(box_.y2 - box_.y1 + 1))
    {
        const size_t slice = size_t(box_.dimX) * size_t(box_.dimY);
        for (int b = 0; b < 2; ++b) {
            values_[b].resize(slice);
            classes_[b].resize(slice);
            rows_[b].resize(size_t(box_.dimY));
            for (auto& plane : planes_[b])
                plane.resize(planeSize_);
        }
        layerCells_.resize(planeSize_);
    }

    // Walks the slab; afterLayer (may be empty) returns false to end it after a layer.
    // False when a slice could not be read or the run was aborted.
    template <typename AfterLayer> bool run(Slab& slab, Poll* poll, const AfterLayer& afterLayer)
    {
        for (int b = 0; b < 2; ++b)
            for (auto& plane : planes_[b])
                std::fill(plane.begin(), plane.end(), kNoVertex);
        std::fill(layerCells_.begin(), layerCells_.end(), kNoVertex);
        floor_[0] = floor_[1] = 0;
        bottomPlane_ = 0;
        slab_ = &slab;
        const auto expected = [&](const std::atomic<int64_t>& rate) {
            const double n = double(rate.load()) / 1024 * (slab.zEnd - slab.zBegin) * 1.125;
            return size_t(std::min(n, double(TRIMESH_MAX_COUNT))) * 3;
        };
        slab.points.reserveHint(expected(s_.pointsPerLayer));
        slab.triangles.reserveHint(expected(s_.trianglesPerLayer));
        const auto start = Clock::now();
        if (!readSlice(slab.zBegin, 0)) {
            slab.readFailed = true;
            return false;
        }
        int a = 0;
        for (int z = slab.zBegin; z < slab.zEnd; ++z) {
            if (poll)
                poll->layer(z);
            if (s_.abort.load(std::memory_order_relaxed))
                return false;
            if (!readSlice(z + 1, a ^ 1)) {
                slab.readFailed = true;
                return false;
            }
            if (z > slab.zBegin) {
                bottomPlane_ ^= 1;
                floor_[bottomPlane_ ^ 1] = int32_t(slab.nbPoints());
            }
            layerFloor_ = int32_t(slab.nbPoints());
            recordBottom_ = z == slab.zBegin && slab.zBegin != box_.z1;
            z_ = z;
            if (!walkLayer(a, poll))
                return false;
            slab.layers.push_back(
                { soupPoints_, soupTriangles_, slab.nbPoints(), slab.nbTriangles() });
            ++slab.layersDone;
            a ^= 1;
            if (slab.nbPoints() > TRIMESH_MAX_COUNT || slab.nbTriangles() > TRIMESH_MAX_COUNT)
                break; // the merge keeps what fits
            if (!afterLayer(slab))
                break;
        }
        // The last plane's vertices, for the slab after this one.
        const int top = bottomPlane_ ^ 1;
        for (int kind = 0; kind < 2; ++kind)
            for (size_t i = 0; i < planeSize_; ++i) {
                const int32_t v = planes_[top][kind][i];
                if (v != kNoVertex && v >= floor_[top])
                    slab.top.push_back({ int64_t(kind) * int64_t(planeSize_) + int64_t(i), v });
            }
        if (slab.layersDone > 0) {
            const auto raise = [](std::atomic<int64_t>& rate, int64_t value) {
                int64_t old = rate.load();
                while (value > old && !rate.compare_exchange_weak(old, value)) { }
            };
            raise(s_.pointsPerLayer, slab.nbPoints() * 1024 / slab.layersDone);
            raise(s_.trianglesPerLayer, slab.nbTriangles() * 1024 / slab.layersDone);
        }
        // The box on this thread, while the points are still near in cache.
        if (const int64_t n = slab.nbPoints(); n > 0) {
            const float* p = slab.points.data();
            slab.hasBox = true;
            std::copy(p, p + 3, slab.boxMin);
            std::copy(p, p + 3, slab.boxMax);
            for (int64_t i = 1; i < n; ++i)
                for (int k = 0; k < 3; ++k) {
                    slab.boxMin[k] = std::min(slab.boxMin[k], p[3 * i + k]);
                    slab.boxMax[k] = std::max(slab.boxMax[k], p[3 * i + k]);
                }
        }
        slab.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        return true;
    }

private:
    bool readSlice(int z, int b)
    {
        if (s_.raw) {
            switch (s_.raw->type) {
            case TYPEDATA_U8:
                return classifyRaw<uint8_t>(z, b);
            case TYPEDATA_S8:
                return classifyRaw<int8_t>(z, b);
            case TYPEDATA_U16:
                return classifyRaw<uint16_t>(z, b);
            case TYPEDATA_S16:
                return classifyRaw<int16_t>(z, b);
            case TYPEDATA_U32:
                return classifyRaw<uint32_t>(z, b);
            case TYPEDATA_S32:
                return classifyRaw<int32_t>(z, b);
            case TYPEDATA_F32:
                return classifyRaw<float>(z, b);
            case TYPEDATA_F64:
                return classifyRaw<double>(z, b);
            default:
                break; // through the reader
            }
        }
        bool ok;
        if (s_.readLock) {
            std::lock_guard lock(*s_.readLock);
            ok = s_.reader(z, values_[b].data());
        } else {
            ok = s_.reader(z, values_[b].data());
        }
        if (ok)
            classify(b);
        return ok;
    }

    // A plain threshold straight from the samples in memory: one pass widens, classes
    // and stores each sample (the reader's conversion gives the very same doubles).
    template <typename T> bool classifyRaw(int z, int b)
    {
        const size_t dimX = size_t(box_.dimX);
        const T* slice
            = static_cast<const T*>(s_.raw->samples) + size_t(z) * dimX * size_t(box_.dimY);
        const double level = s_.level;
        const auto widen = [](T sample) {
            if constexpr (std::is_floating_point_v<T>)
                return std::isnan(sample) ? -std::numeric_limits<double>::infinity()
                                          : double(sample);
            else
                return double(sample);
        };
        for (int y = box_.y1; y <= box_.y2; ++y) {
            const T* in = slice + size_t(y) * dimX;
            double* v = values_[b].data() + size_t(y) * dimX;
            uint8_t* c = classes_[b].data() + size_t(y) * dimX;
            switch (s_.rule) {
            case kRuleCuberille:
                for (int x = box_.x1; x <= box_.x2; ++x) {
                    const double d = widen(in[x]);
                    v[x] = d;
                    c[x] = uint8_t(d < level ? 0 : d == level ? 1 : 2);
                }
                break;
            case kRuleSimplifiedStrict:
                for (int x = box_.x1; x <= box_.x2; ++x) {
                    const double d = widen(in[x]);
                    v[x] = d;
                    c[x] = uint8_t(level < d);
                }
                break;
            default:
                for (int x = box_.x1; x <= box_.x2; ++x) {
                    const double d = widen(in[x]);
                    v[x] = d;
                    c[x] = uint8_t(d >= level);
                }
                break;
            }
            rowSpan(b, y, c);
        }
        return true;
    }

    // Applies the selection to the box's samples and classes them once.
    void classify(int b)
    {
        const double level = s_.level;
        const double negInf = -std::numeric_limits<double>::infinity();
        const int selection = s_.params.selection;
        const double seuil1 = s_.params.seuil1, seuil2 = s_.params.seuil2;
        for (int y = box_.y1; y <= box_.y2; ++y) {
            double* v = values_[b].data() + size_t(y) * size_t(box_.dimX);
            uint8_t* c = classes_[b].data() + size_t(y) * size_t(box_.dimX);
            // A missing sample counts as outside whatever the selection.
            for (int x = box_.x1; x <= box_.x2; ++x)
                v[x] = std::isnan(v[x]) ? negInf : v[x];
            if (selection == kIsoInterval) {
                for (int x = box_.x1; x <= box_.x2; ++x)
                    if (v[x] > seuil2)
                        v[x] = seuil1 - (v[x] - seuil2);
            } else if (selection == kIsoList) {
                for (int x = box_.x1; x <= box_.x2; ++x)
                    v[x] = listed(v[x]) ? 1.0 : 0.0;
            }
            switch (s_.rule) {
            case kRuleCuberille:
                for (int x = box_.x1; x <= box_.x2; ++x)
                    c[x] = uint8_t(v[x] < level ? 0 : v[x] == level ? 1 : 2);
                break;
            case kRuleSimplifiedStrict:
                for (int x = box_.x1; x <= box_.x2; ++x)
                    c[x] = uint8_t(level < v[x]);
                break;
            default:
                for (int x = box_.x1; x <= box_.x2; ++x)
                    c[x] = uint8_t(v[x] >= level);
                break;
            }
            rowSpan(b, y, c);
        }
    }

    // Where the classes of a row change.
    void rowSpan(int b, int y, const uint8_t* c)
    {
        RowSpan& span = rows_[b][size_t(y)];
        span.head = c[box_.x1];
        span.tail = c[box_.x2];
        span.first = std::numeric_limits<int32_t>::max();
        span.last = -1;
        for (int x = box_.x1 + 1; x <= box_.x2; ++x)
            if (c[x] != span.head) {
                span.first = x - 1;
                break;
            }
        for (int x = box_.x2 - 1; x >= box_.x1; --x)
            if (c[x] != span.tail) {
                span.last = x;
                break;
            }
    }

    bool listed(double s) const
    {
        // Only the values round s - tolerance can match (one step back for rounding).
        auto w = std::lower_bound(s_.values.begin(), s_.values.end(), s - s_.tolerance);
        if (w != s_.values.begin())
            --w;
        for (; w != s_.values.end() && *w - s_.tolerance <= s; ++w)
            if (s <= *w + s_.tolerance)
                return true;
        return false;
    }

    // The cubes of row y worth looking at, from the four rows of classes they read.
    bool span(int a, int y, int& xs, int& xe) const
    {
        const RowSpan* r[4] = { &rows_[a][size_t(y)], &rows_[a][size_t(y) + 1],
            &rows_[a ^ 1][size_t(y)], &rows_[a ^ 1][size_t(y) + 1] };
        bool sameHead = true, sameTail = true;
        int32_t first = r[0]->first, last = r[0]->last;
        for (int k = 1; k < 4; ++k) {
            sameHead = sameHead && r[k]->head == r[0]->head;
            sameTail = sameTail && r[k]->tail == r[0]->tail;
            first = std::min(first, r[k]->first);
            last = std::max(last, r[k]->last);
        }
        xs = sameHead ? std::max(box_.x1, first) : box_.x1;
        xe = sameTail ? std::min(box_.x2 - 1, last) : box_.x2 - 1;
        return xs <= xe;
    }

    bool walkLayer(int a, Poll* poll)
    {
        soupPoints_ = slab_->layers.empty() ? 0 : slab_->layers.back().soupPoints;
        soupTriangles_ = slab_->layers.empty() ? 0 : slab_->layers.back().soupTriangles;
        for (int y = box_.y1; y < box_.y2; ++y) {
            if (poll)
                poll->often();
            if (s_.abort.load(std::memory_order_relaxed))
                return false;
            int xs, xe;
            if (!span(a, y, xs, xe))
                continue;
            switch (s_.rule) {
            case kRuleCuberille:
                cuberilleRow(a, y, xs, xe);
                break;
            case kRuleMarching:
                marchingRow(a, y, xs, xe);
                break;
            default:
                simplifiedRow(a, y, xs, xe);
                break;
            }
        }
        return true;
    }

    // The vertex cell of a place; a cell holds a vertex made on its plane's or layer's
    // watch when its value reaches the floor set when that plane came into use.
    int32_t* cell(int place, int kind, int x, int y, int32_t& floor)
    {
        const size_t i = size_t(y - box_.y1) * nx_ + size_t(x - box_.x1);
        if (place == kLayer) {
            floor = layerFloor_;
            return &layerCells_[i];
        }
        const int plane = place == kBottom ? bottomPlane_ : bottomPlane_ ^ 1;
        floor = floor_[plane];
        return &planes_[plane][kind][i];
    }

    int32_t newVertex(int32_t* at, int place, int kind, int x, int y, const float p[3])
    {
        const int32_t index = int32_t(slab_->nbPoints());
        float* out = slab_->points.claim(3);
        out[0] = p[0], out[1] = p[1], out[2] = p[2];
        *at = index;
        if (recordBottom_ && place == kBottom) {
            const size_t i = size_t(y - box_.y1) * nx_ + size_t(x - box_.x1);
            slab_->bottom.push_back({ int64_t(kind) * int64_t(planeSize_) + int64_t(i), index });
        }
        return index;
    }

    // An edge slot along one row of cubes: its vertex cells and the samples at its
    // two ends, both indexed by the cube's x.
    struct RowSlot {
        int32_t* cells; // cell of the cube at x1
        int32_t floor;
        const double* lower; // sample of the lower corner, by x
        const double* upper;
    };

    void rowSlots(int a, int y, RowSlot slots[12])
    {
        for (int s = 0; s < 12; ++s) {
            const EdgeSlot& e = kEdges[s];
            const int* pa = kCorner[e.lower];
            const int* pb = kCorner[e.upper];
            RowSlot& r = slots[s];
            r.cells = cell(e.place, e.kind, box_.x1 + pa[0], y + pa[1], r.floor);
            r.lower = values_[pa[2] ? a ^ 1 : a].data() + size_t(y + pa[1]) * size_t(box_.dimX)
                + size_t(pa[0]);
            r.upper = values_[pb[2] ? a ^ 1 : a].data() + size_t(y + pb[1]) * size_t(box_.dimX)
                + size_t(pb[0]);
        }
    }

    int32_t edgeVertex(const RowSlot& r, int slot, int x, int y)
    {
        int32_t* at = r.cells + (x - box_.x1);
        if (*at >= r.floor)
            return *at;
        const EdgeSlot& e = kEdges[slot];
        const int* pa = kCorner[e.lower];
        const int* pb = kCorner[e.upper];
        const double va = r.lower[x], vb = r.upper[x];
        const double divisor = vb == va ? 1.0 : vb - va;
        double t = (s_.level - va) / divisor;
        const int offset[3] = { x, y, z_ };
        const int axis = slot < 4 ? 0 : slot < 8 ? 1 : 2;
        float p[3];
        if (t >= 0 && t <= 1) {
            // Along the edge the unit coordinate is t itself; across it the corner's
            // own (whole) coordinate: the general formula below gives the same floats.
            t = std::clamp(t, 0.00001, 0.99999);
            for (int k = 0; k < 3; ++k)
                p[k] = float(offset[k] + pa[k]);
            p[axis] = float(t) + float(offset[axis]);
            // A point rounded onto a lattice place may coincide with one of another
            // edge: the welding pass then merges them as the soup's would.
            if (p[axis] == float(offset[axis]) || p[axis] == float(offset[axis] + 1))
                slab_->needsWeld = true;
        } else {
            if (!std::isfinite(t)) {
                t = 0.5; // infinite samples: no position to interpolate
            } else {
                slab_->alert = true;
                slab_->needsWeld = true;
            }
            for (int k = 0; k < 3; ++k)
                p[k] = float(pa[k] * (1 - t) + pb[k] * t) + float(offset[k]);
        }
        return newVertex(at, e.place, e.kind, x + pa[0], y + pa[1], p);
    }

    void marchingRow(int a, int y, int xs, int xe)
    {
        const auto& table = marchingEntries();
        const size_t row = size_t(y) * size_t(box_.dimX);
        const uint8_t* a0 = classes_[a].data() + row;
        const uint8_t* a1 = a0 + box_.dimX;
        const uint8_t* b0 = classes_[a ^ 1].data() + row;
        const uint8_t* b1 = b0 + box_.dimX;
        RowSlot slots[12];
        rowSlots(a, y, slots);
        unsigned left
            = a0[xs] | unsigned(a1[xs]) << 3 | unsigned(b0[xs]) << 4 | unsigned(b1[xs]) << 7;
        for (int x = xs; x <= xe; ++x) {
            const unsigned r0 = a0[x + 1], r1 = a1[x + 1], r2 = b0[x + 1], r3 = b1[x + 1];
            const unsigned index = left | r0 << 1 | r1 << 2 | r2 << 5 | r3 << 6;
            left = r0 | r1 << 3 | r2 << 4 | r3 << 7;
            if (index == 0 || index == 255)
                continue;
            const MarchingEntry& e = table[index];
            soupPoints_ += e.nbPoints;
            soupTriangles_ += e.nbTriangles;
            int32_t local[12];
            for (int p = 0; p < e.nbPoints; ++p)
                local[p] = edgeVertex(slots[e.slot[p]], e.slot[p], x, y);
            int32_t* out = slab_->triangles.claim(3 * size_t(e.nbTriangles));
            for (int i = 0; i < 3 * e.nbTriangles; ++i)
                out[i] = local[e.triangles[i]];
        }
    }

    void simplifiedRow(int a, int y, int xs, int xe)
    {
        const auto& table = cornerEntries();
        const size_t row = size_t(y) * size_t(box_.dimX);
        const uint8_t* a0 = classes_[a].data() + row;
        const uint8_t* a1 = a0 + box_.dimX;
        const uint8_t* b0 = classes_[a ^ 1].data() + row;
        const uint8_t* b1 = b0 + box_.dimX;
        for (int x = xs; x <= xe; ++x) {
            const unsigned index = a0[x] | unsigned(a0[x + 1]) << 1 | unsigned(a1[x + 1]) << 2
                | unsigned(a1[x]) << 3 | unsigned(b0[x]) << 4 | unsigned(b0[x + 1]) << 5
                | unsigned(b1[x + 1]) << 6 | unsigned(b1[x]) << 7;
            const CornerEntry& e = table[index];
            if (e.nbTriangles == 0)
                continue;
            soupPoints_ += e.nbCorners;
            soupTriangles_ += e.nbTriangles;
            int32_t local[8];
            for (int i = 0; i < e.nbCorners; ++i) {
                const int* c = kCorner[e.corner[i]];
                const int place = c[2] ? kTop : kBottom;
                int32_t floor;
                int32_t* at = cell(place, 0, x + c[0], y + c[1], floor);
                if (*at >= floor) {
                    local[i] = *at;
                    continue;
                }
                const float p[3]
                    = { float(c[0]) + float(x), float(c[1]) + float(y), float(c[2]) + float(z_) };
                local[i] = newVertex(at, place, 0, x + c[0], y + c[1], p);
            }
            int32_t* out = slab_->triangles.claim(3 * size_t(e.nbTriangles));
            for (int i = 0; i < 3 * e.nbTriangles; ++i)
                out[i] = local[e.triangles[i]];
        }
    }

    void cuberilleRow(int a, int y, int xs, int xe)
    {
        const size_t row = size_t(y) * size_t(box_.dimX);
        const uint8_t* a0 = classes_[a].data() + row;
        const uint8_t* a1 = a0 + box_.dimX;
        const uint8_t* b0 = classes_[a ^ 1].data() + row;
        for (int x = xs; x <= xe; ++x) {
            const uint8_t c0 = a0[x];
            const uint8_t neighbour[3] = { a0[x + 1], a1[x], b0[x] };
            for (int n = 0; n < 3; ++n) {
                // Classes below / at / above the level: a face wherever they differ.
                if (neighbour[n] == c0)
                    continue;
                soupPoints_ += 4;
                soupTriangles_ += 2;
                int32_t v[4];
                for (int j = 0; j < 4; ++j) {
                    const float* d = kSquares[n][j];
                    const int place = d[2] > 0 ? kTop : kBottom;
                    const int px = x + (d[0] > 0), py = y + (d[1] > 0);
                    int32_t floor;
                    int32_t* at = cell(place, 0, px, py, floor);
                    if (*at >= floor) {
                        v[j] = *at;
                        continue;
                    }
                    const float p[3] = { d[0] + float(x), d[1] + float(y), d[2] + float(z_) };
                    v[j] = newVertex(at, place, 0, px, py, p);
                }
                // Faces outward from whichever of the two samples is inside.
                int32_t* out = slab_->triangles.claim(6);
                if (c0 > neighbour[n]) {
                    const int32_t t[6] = { v[0], v[1], v[2], v[2], v[3], v[0] };
                    std::copy(t, t + 6, out);
                } else {
                    const int32_t t[6] = { v[0], v[2], v[1], v[2], v[0], v[3] };
                    std::copy(t, t + 6, out);
                }
            }
        }
    }

    Shared& s_;
    const WalkBox& box_;
    const size_t nx_;
    const size_t planeSize_;
    std::vector<double> values_[2];
    std::vector<uint8_t> classes_[2];
    std::vector<RowSpan> rows_[2];
    std::vector<int32_t> planes_[2][2]; // [plane buffer][kind]
    int32_t floor_[2] = { 0, 0 };
    std::vector<int32_t> layerCells_;
    int32_t layerFloor_ = 0;
    int bottomPlane_ = 0;
    bool recordBottom_ = false;
    int z_ = 0;
    Slab* slab_ = nullptr;
    int64_t soupPoints_ = 0, soupTriangles_ = 0;
};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

int automaticThreads(const WalkBox& box)
{
    const int64_t cubes = int64_t(box.x2 - box.x1) * (box.y2 - box.y1) * (box.z2 - box.z1);
    if (cubes < (int64_t(1) << 20))
        return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return int(std::clamp(cores, 1u, 2u));
}

// Runs the slabs: the calling thread takes part and keeps checking for a stop while
// helpers finish. Rethrows what a helper threw (memory) once all have ended.
template <typename AfterLayer>
void runSlabs(
    std::vector<Slab>& slabs, int threads, Shared& shared, Poll& poll, const AfterLayer& afterLayer)
{
    std::atomic<size_t> next { 0 };
    std::atomic<int> running { threads - 1 };
    std::atomic<bool> helperFailed { false };
    auto work = [&](Walker& walker, Poll* own) {
        while (!shared.abort.load()) {
            const size_t i = next.fetch_add(1);
            if (i >= slabs.size())
                break;
            if (!walker.run(slabs[i], own, afterLayer)) {
                shared.abort = true;
                break;
            }
        }
    };
    std::vector<std::thread> helpers;
    auto joinAll = [&] {
        for (std::thread& helper : helpers)
            helper.join();
        helpers.clear();
    };
    try {
        for (int t = 1; t < threads; ++t)
            helpers.emplace_back([&] {
                try {
                    Walker walker(shared);
                    work(walker, nullptr);
                } catch (...) {
                    helperFailed = true;
                    shared.abort = true;
                }
                running.fetch_sub(1);
            });
        {
            Walker walker(shared);
            work(walker, &poll);
        }
        while (running.load() > 0) {
            poll.often();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } catch (...) {
        shared.abort = true;
        joinAll();
        throw;
    }
    joinAll();
    if (helperFailed)
        throw std::bad_alloc();
}

} // namespace

TriMesh* walkSlabs(const SliceReader& reader, bool concurrentReads, const RawVolume* raw,
    const WalkBox& box, const IsoSurfaceParams& params, const IsoSurfaceHooks& hooks,
    const LineSink& log, IsoSurfaceReport& report, std::string* error)
{
    std::mutex readLock;
    Shared shared(reader, concurrentReads ? nullptr : &readLock, raw, box, params);
    switch (params.method) {
    case kIsoCuberille:
        shared.rule = kRuleCuberille;
        break;
    case kIsoSimplified:
        shared.rule = kRuleSimplifiedStrict;
        break;
    case kIsoSimplifiedTable:
        shared.rule = kRuleSimplifiedTable;
        break;
    default:
        shared.rule = kRuleMarching;
        break;
    }
    shared.level = params.selection == kIsoList ? 0.5 : params.seuil1;
    shared.tolerance = std::fabs(params.tolerance);
    shared.values = params.values;
    std::sort(shared.values.begin(), shared.values.end());
    // Past 2^22 the float lattice is too coarse to tell places apart by their index.
    shared.alwaysWeld = std::max({ box.x2, box.y2, box.z2 }) + 2 >= (1 << 22);

    const int layers = box.z2 - box.z1;
    const bool limited = params.maxPoints >= 0 || params.maxTriangles >= 0;
    int threads = params.threads > 0 ? params.threads : automaticThreads(box);
    if (limited)
        threads = 1; // the limits are judged layer by layer in walk order
    threads = std::clamp(threads, 1, std::max(layers, 1));
    int perSlab = params.slabLayers > 0 ? params.slabLayers
        : threads == 1                  ? std::max(layers, 1)
                                        : std::max(4, (layers + 4 * threads - 1) / (4 * threads));
    // The first slab's blocks become the result's, so a chosen layout makes it larger:
    // less to copy, while the other threads share the small ones that follow.
    const int firstLayers = params.slabLayers > 0 || threads == 1
        ? perSlab
        : std::max(perSlab, layers / (threads + 1));
    const int rest = std::max(layers - firstLayers, 0);
    std::vector<Slab> slabs(size_t(layers > 0 ? 1 + (rest + perSlab - 1) / perSlab : 0));
    for (size_t i = 0; i < slabs.size(); ++i) {
        slabs[i].zBegin = i == 0 ? box.z1 : box.z1 + firstLayers + int(i - 1) * perSlab;
        slabs[i].zEnd = std::min(box.z2, slabs[i].zBegin + (i == 0 ? firstLayers : perSlab));
    }

    if (hooks.progressRange)
        hooks.progressRange(box.z1, box.z2);
    Poll poll(hooks, shared);
    // With limits the slabs run in order on this thread: the soup counts so far decide.
    int64_t soupBefore[2] = { 0, 0 };
    bool limitHit = false;
    auto afterLayer = [&](const Slab& slab) {
        if (!limited)
            return true;
        const LayerCount& c = slab.layers.back();
        if ((params.maxPoints >= 0 && soupBefore[0] + c.soupPoints > params.maxPoints)
            || (params.maxTriangles >= 0
                && soupBefore[1] + c.soupTriangles > params.maxTriangles)) {
            limitHit = true;
            shared.abort = true;
            return false;
        }
        if (slab.zBegin + slab.layersDone == slab.zEnd) {
            soupBefore[0] += c.soupPoints;
            soupBefore[1] += c.soupTriangles;
        }
        return true;
    };
    runSlabs(slabs, threads, shared, poll, afterLayer);
    if (!poll.stopped())
        poll.check(); // one last look before the result is made
    if (poll.stopped()) {
        report.stopped = true;
        setReason(error, "");
        return nullptr;
    }
    for (const Slab& slab : slabs)
        if (slab.readFailed) {
            setReason(error, "Lecture de la coupe impossible");
            return nullptr;
        }

    // Merge in walk order: each slab's first-plane vertices that the slab before made
    // are that slab's; the others are new, at the place the slab met them.
    int64_t nbPoints = 0, nbTriangles = 0, soupPoints = 0;
    size_t kept = 0;
    bool full = false, needsWeld = shared.alwaysWeld, alert = false, boxStale = false;
    for (size_t i = 0; i < slabs.size() && !full; ++i) {
        Slab& slab = slabs[i];
        if (slab.layersDone == 0)
            break;
        slab.base = nbPoints;
        if (i > 0)
            for (const PlaceVertex& v : slab.bottom) {
                const std::vector<PlaceVertex>& top = slabs[i - 1].top;
                auto it = std::lower_bound(top.begin(), top.end(), PlaceVertex { v.first, 0 },
                    [](const PlaceVertex& l, const PlaceVertex& r) { return l.first < r.first; });
                if (it != top.end() && it->first == v.first) {
                    slab.resolvedLocal.push_back(v.second);
                    slab.resolvedGlobal.push_back(int32_t(slabs[i - 1].global(it->second)));
                }
            }
        const int64_t resolved = int64_t(slab.resolvedLocal.size());
        int done = slab.layersDone;
        while (done > 0
            && (nbPoints + slab.layers[size_t(done - 1)].points - resolved > TRIMESH_MAX_COUNT
                || nbTriangles + slab.layers[size_t(done - 1)].triangles > TRIMESH_MAX_COUNT)) {
            --done;
            full = true;
        }
        if (done == 0)
            break;
        if (done < slab.layersDone || slab.zBegin + slab.layersDone < slab.zEnd)
            full = full || !limitHit;
        boxStale = boxStale || done < slab.layersDone;
        slab.layersDone = done;
        slab.points.truncate(size_t(slab.layers[size_t(done - 1)].points) * 3);
        slab.triangles.truncate(size_t(slab.layers[size_t(done - 1)].triangles) * 3);
        nbPoints += slab.nbPoints() - resolved;
        nbTriangles += slab.nbTriangles();
        needsWeld = needsWeld || slab.needsWeld;
        alert = alert || slab.alert;
        ++kept;
    }
    slabs.resize(kept);

    if (alert)
        log("Extraction de surfaces - Alert");
    double ms = 0;
    int64_t soupTriangles = 0;
    for (const Slab& slab : slabs) {
        report.slabs += slab.layersDone;
        ms += slab.ms;
        for (int l = 0; l < slab.layersDone && params.messages; ++l) {
            const LayerCount& c = slab.layers[size_t(l)];
            const int z = slab.zBegin + l;
            log(format("Extraction de surface - étape %d/%d = ( %d pts , %d tr )", z - box.z1 + 1,
                layers, int(soupPoints + c.soupPoints), int(soupTriangles + c.soupTriangles)));
            if (z == box.z2 - 1)
                log(format("Temps : %f", ms));
        }
        soupPoints += slab.layers[size_t(slab.layersDone - 1)].soupPoints;
        soupTriangles += slab.layers[size_t(slab.layersDone - 1)].soupTriangles;
    }
    report.pointsBeforeWeld = soupPoints;
    report.stoppedByLimit = limitHit || full;
    report.triangulationMs = params.messages ? ms : 0.0;

    // Assemble: one slab without shared vertices hands its blocks over as they are.
    float* points = nullptr;
    int32_t* triangles = nullptr;
    if (slabs.size() == 1) {
        points = slabs[0].points.release();
        triangles = slabs[0].triangles.release();
    } else if (nbPoints > 0) {
        std::vector<int64_t> triangleBase(slabs.size() + 1, 0);
        for (size_t i = 0; i < slabs.size(); ++i)
            triangleBase[i + 1] = triangleBase[i] + slabs[i].nbTriangles();
        // The first slab's blocks grow into the result: its vertices come first under
        // their own numbers, so only the slabs after it are copied.
        points = slabs[0].points.releaseWithRoom(size_t(nbPoints) * 3);
        try {
            triangles = slabs[0].triangles.releaseWithRoom(size_t(nbTriangles) * 3);
        } catch (...) {
            std::free(points);
            throw;
        }
        auto copySlab = [&](size_t i) {
            const Slab& slab = slabs[i];
            const float* from = slab.points.data();
            float* to = points + slab.base * 3;
            const int32_t n = int32_t(slab.nbPoints());
            size_t r = 0;
            for (int32_t v = 0; v < n; ++v) {
                if (r < slab.resolvedLocal.size() && slab.resolvedLocal[r] == v) {
                    ++r;
                    continue;
                }
                std::copy(from + 3 * size_t(v), from + 3 * size_t(v) + 3, to);
                to += 3;
            }
            const int32_t* in = slab.triangles.data();
            int32_t* out = triangles + triangleBase[i] * 3;
            const size_t count = slab.triangles.size();
            const int32_t lastResolved
                = slab.resolvedLocal.empty() ? -1 : slab.resolvedLocal.back();
            const int64_t shift = slab.base - int64_t(slab.resolvedLocal.size());
            for (size_t k = 0; k < count; ++k)
                out[k]
                    = in[k] > lastResolved ? int32_t(in[k] + shift) : int32_t(slab.global(in[k]));
        };
        // Slabs land in disjoint parts of the arrays: the copy runs on the walk's threads.
        std::atomic<size_t> nextCopy { 1 };
        auto copyWork = [&] {
            for (size_t i = nextCopy.fetch_add(1); i < slabs.size(); i = nextCopy.fetch_add(1))
                copySlab(i);
        };
        std::vector<std::thread> copiers;
        try {
            for (int t = 1; t < threads; ++t)
                copiers.emplace_back(copyWork);
        } catch (...) {
            // Without a helper thread this one copies everything.
        }
        copyWork();
        for (std::thread& copier : copiers)
            copier.join();
    }
    if (needsWeld && nbPoints > 0) {
        std::vector<float> p(points, points + nbPoints * 3);
        std::vector<int32_t> t(triangles, triangles + nbTriangles * 3);
        std::free(points);
        std::free(triangles);
        points = nullptr;
        triangles = nullptr;
        weldVertices(p, t);
        nbPoints = int64_t(p.size() / 3);
        points = static_cast<float*>(std::malloc(p.size() * sizeof(float)));
        triangles = static_cast<int32_t*>(std::malloc(t.size() * sizeof(int32_t)));
        if (!points || !triangles) {
            std::free(points);
            std::free(triangles);
            throw std::bad_alloc();
        }
        std::copy(p.begin(), p.end(), points);
        std::copy(t.begin(), t.end(), triangles);
    }
    if (nbPoints == 0 || nbTriangles == 0) {
        std::free(points);
        std::free(triangles);
        TriMesh* empty = triMeshCreate(nullptr, 0, nullptr, 0);
        if (!empty)
            setReason(error, "Mémoire insuffisante");
        return empty;
    }
    // The indices are valid by construction and the box was gathered slab by slab:
    // the mesh is put together here rather than checked over again.
    auto* mesh = static_cast<TriMesh*>(std::calloc(1, sizeof(TriMesh)));
    if (!mesh) {
        std::free(points);
        std::free(triangles);
        setReason(error, "Mémoire insuffisante");
        return nullptr;
    }
    mesh->points = points;
    mesh->nbPoints = int32_t(nbPoints);
    mesh->triangles = triangles;
    mesh->nbTriangles = int32_t(nbTriangles);
    if (boxStale) {
        triMeshComputeBox(mesh); // layers were dropped after their slab's box was taken
    } else {
        bool first = true;
        for (const Slab& slab : slabs) {
            if (!slab.hasBox)
                continue;
            for (int k = 0; k < 3; ++k) {
                mesh->boxMin[k]
                    = first ? slab.boxMin[k] : std::min(mesh->boxMin[k], slab.boxMin[k]);
                mesh->boxMax[k]
                    = first ? slab.boxMax[k] : std::max(mesh->boxMax[k], slab.boxMax[k]);
            }
            first = false;
        }
    }
    return mesh;
}

} // namespace vexa::mesh::detail
