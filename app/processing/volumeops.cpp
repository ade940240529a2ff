#include "processing/volumeops.h"

#include "data/dataapi.h"
#include "processing/transform2d.h"
#include "processing/valueoperators.h"
#include "tasks/taskapi.h"
#include "tasks/taskcontext.h"
#include "vexa_types.h"
#include "vexamem.h"
#include "views/displaybuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace vexa::processing {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Section = std::unique_ptr<void, FreeDeleter>;

// A slice of a volume as doubles, value scale applied.
Section frontAsDoubles(unsigned int blockId, int z)
{
    return Section(dozDataGetFront(blockId, z, TYPEDATA_F64));
}

template <typename Fn> bool noThrow(Fn fn)
{
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool sameSizes(const VolumeInfo& a, const VolumeInfo& b)
{
    return a.dimX == b.dimX && a.dimY == b.dimY && a.dimZ == b.dimZ;
}

void progressRange(int steps)
{
    taskProgressRange(0, steps - 1);
}

// Reports the step and checks for a stop (waiting while the task is suspended): one
// plane is the unit of work between two checks. False when the work must end.
bool progressAt(int step)
{
    return taskProgressContinue(step);
}

} // namespace

bool volumeInfo(unsigned int blockId, VolumeInfo& info)
{
    info = VolumeInfo();
    if (!vexaBlockGetSize(blockId, &info.dimX, &info.dimY, &info.dimZ))
        return false;
    info.type = vexaBlockGetTypeData(blockId);
    return info.dimX > 0 && info.dimY > 0 && info.dimZ > 0 && vexaTypeIsValid(info.type);
}

bool unaryVolume(unsigned int source, unsigned int result, int code, double p)
{
    VolumeInfo in, out;
    if (!unaryCodeValid(code) || !volumeInfo(source, in) || !volumeInfo(result, out)
        || !sameSizes(in, out))
        return false;
    return noThrow([&] {
        progressRange(in.dimZ);
        std::vector<double> slice(std::size_t(in.dimX) * std::size_t(in.dimY));
        for (int z = 0; z < in.dimZ; ++z) {
            if (!progressAt(z))
                return false;
            Section a = frontAsDoubles(source, z);
            if (!a)
                return false;
            unaryKernel(
                static_cast<const double*>(a.get()), slice.data(), in.dimX, in.dimY, code, p);
            dozDataSetFrontByType(result, z, slice.data(), TYPEDATA_F64);
        }
        return true;
    });
}

bool binaryVolume(unsigned int a, unsigned int b, unsigned int result, int code)
{
    return naryVolume({ a, b }, result, code);
}

bool naryVolume(const std::vector<unsigned int>& inputs, unsigned int result, int code)
{
    if (inputs.empty() || !binaryCodeValid(code))
        return false;
    VolumeInfo first, out;
    if (!volumeInfo(inputs[0], first) || !volumeInfo(result, out) || !sameSizes(first, out))
        return false;
    for (unsigned int id : inputs) {
        VolumeInfo other;
        if (!volumeInfo(id, other) || !sameSizes(first, other))
            return false;
    }
    return noThrow([&] {
        progressRange(first.dimZ);
        for (int z = 0; z < first.dimZ; ++z) {
            if (!progressAt(z))
                return false;
            Section accumulator = frontAsDoubles(inputs[0], z);
            if (!accumulator)
                return false;
            double* acc = static_cast<double*>(accumulator.get());
            for (std::size_t i = 1; i < inputs.size(); ++i) {
                Section b = frontAsDoubles(inputs[i], z);
                if (!b)
                    return false;
                binaryKernel(
                    acc, static_cast<const double*>(b.get()), acc, first.dimX, first.dimY, code);
            }
            dozDataSetFrontByType(result, z, acc, TYPEDATA_F64);
        }
        return true;
    });
}

bool mirrorVolume(unsigned int source, unsigned int result, int mirror)
{
    VolumeInfo in, out;
    if (!volumeInfo(source, in) || !volumeInfo(result, out) || !sameSizes(in, out)
        || in.type != out.type)
        return false;
    using Read = void* (*)(unsigned int, int, int);
    using Write = int (*)(unsigned int, int, const void*);
    Read read = nullptr;
    Write write = nullptr;
    int count = 0;
    switch (mirror) {
    case MIRROR_X:
        read = dozDataGetRight;
        write = dozDataSetRight;
        count = in.dimX;
        break;
    case MIRROR_Y:
        read = dozDataGetTop;
        write = dozDataSetTop;
        count = in.dimY;
        break;
    case MIRROR_Z:
        read = dozDataGetFront;
        write = dozDataSetFront;
        count = in.dimZ;
        break;
    default:
        return false;
    }
    progressRange(count);
    for (int i = 0; i < count; ++i) {
        if (!progressAt(i))
            return false;
        Section section(read(source, i, in.type));
        if (!section)
            return false;
        write(result, count - 1 - i, section.get());
    }
    return true;
}

bool rotatedVolumeSizes(
    int axis, int angle, int dimX, int dimY, int dimZ, int& outX, int& outY, int& outZ)
{
    if (angle < ANGLE_PLUS_90 || angle > ANGLE_MINUS_90)
        return false;
    const bool half = angle == ANGLE_180;
    switch (axis) {
    case AXIS_OX:
        outX = dimX, outY = half ? dimY : dimZ, outZ = half ? dimZ : dimY;
        return true;
    case AXIS_OY:
        outX = half ? dimX : dimZ, outY = dimY, outZ = half ? dimZ : dimX;
        return true;
    case AXIS_OZ:
        outX = half ? dimX : dimY, outY = half ? dimY : dimX, outZ = dimZ;
        return true;
    default:
        return false;
    }
}

bool rotateVolume(unsigned int source, unsigned int result, int axis, int angle)
{
    VolumeInfo in, out;
    if (!volumeInfo(source, in) || !volumeInfo(result, out) || in.type == TYPEDATA_RGBA
        || in.type != out.type)
        return false;
    int rx = 0, ry = 0, rz = 0;
    if (!rotatedVolumeSizes(axis, angle, in.dimX, in.dimY, in.dimZ, rx, ry, rz) || out.dimX != rx
        || out.dimY != ry || out.dimZ != rz)
        return false;

    using Move = void (*)(const void*, int, int, int, void*);
    using Write = int (*)(unsigned int, int, const void*);
    // Every turn but Ox +90 reads the FRONT sections (X x Y) of the source.
    Move move = nullptr;
    Write write = dozDataSetFront;
    bool reversed = false;
    bool fromTop = false;
    switch (axis * 3 + angle) {
    case AXIS_OX * 3 + ANGLE_PLUS_90:
        fromTop = true;
        break;
    case AXIS_OX * 3 + ANGLE_180:
        move = vexaMemSwapVertical;
        reversed = true;
        break;
    case AXIS_OX * 3 + ANGLE_MINUS_90:
        write = dozDataSetTop;
        break;
    case AXIS_OY * 3 + ANGLE_PLUS_90:
        move = vexaMemSwapHorizontal;
        write = dozDataSetRight;
        break;
    case AXIS_OY * 3 + ANGLE_180:
        move = vexaMemSwapHorizontal;
        reversed = true;
        break;
    case AXIS_OY * 3 + ANGLE_MINUS_90:
        write = dozDataSetRight;
        reversed = true;
        break;
    case AXIS_OZ * 3 + ANGLE_PLUS_90:
        move = vexaMemRotate270;
        break;
    case AXIS_OZ * 3 + ANGLE_180:
        move = vexaMemRotate180;
        break;
    case AXIS_OZ * 3 + ANGLE_MINUS_90:
        move = vexaMemRotate90;
        break;
    default:
        return false;
    }

    const int count = fromTop ? in.dimY : in.dimZ;
    return noThrow([&] {
        std::vector<std::uint8_t> turned;
        if (move)
            turned.resize(
                std::size_t(in.dimX) * std::size_t(in.dimY) * std::size_t(vexaTypeSize(in.type)));
        progressRange(count);
        for (int i = 0; i < count; ++i) {
            if (!progressAt(i))
                return false;
            Section section(
                fromTop ? dozDataGetTop(source, i, in.type) : dozDataGetFront(source, i, in.type));
            if (!section)
                return false;
            const void* data = section.get();
            if (move) {
                move(data, in.dimX, in.dimY, in.type, turned.data());
                data = turned.data();
            }
            write(result, reversed ? count - 1 - i : i, data);
        }
        return true;
    });
}

bool decimatedVolumeSizes(
    const VolumeInfo& source, int fx, int fy, int fz, VolumeInfo& result, std::string* reason)
{
    if (fx < 1 || fy < 1 || fz < 1) {
        if (reason)
            *reason = "Les facteurs de décimation doivent être au moins 1";
        return false;
    }
    result = source;
    result.dimX = source.dimX / fx;
    result.dimY = source.dimY / fy;
    result.dimZ = source.dimZ / fz;
    if (result.dimX < 1 || result.dimY < 1 || result.dimZ < 1) {
        if (reason)
            *reason = "Facteurs de décimation plus grands que le volume";
        return false;
    }
    return true;
}

bool decimateVolume(unsigned int source, unsigned int result, int fx, int fy, int fz)
{
    VolumeInfo in, out, expected;
    if (!volumeInfo(source, in) || !volumeInfo(result, out)
        || !decimatedVolumeSizes(in, fx, fy, fz, expected, nullptr) || !sameSizes(out, expected))
        return false;
    return noThrow([&] {
        const std::size_t w = std::size_t(in.dimX);
        std::vector<double> sum(w * std::size_t(in.dimY));
        std::vector<double> slice(std::size_t(out.dimX) * std::size_t(out.dimY));
        const double divisor = double(fx) * double(fy) * double(fz);
        progressRange(out.dimZ);
        for (int k = 0; k < out.dimZ; ++k) {
            if (!progressAt(k))
                return false;
            std::fill(sum.begin(), sum.end(), 0.0);
            for (int z = k * fz; z < k * fz + fz; ++z) {
                Section s = frontAsDoubles(source, z);
                if (!s)
                    return false;
                const double* v = static_cast<const double*>(s.get());
                for (std::size_t i = 0; i < sum.size(); ++i)
                    sum[i] += v[i];
            }
            for (int r = 0; r < out.dimY; ++r)
                for (int c = 0; c < out.dimX; ++c) {
                    double total = 0;
                    for (int y = r * fy; y < r * fy + fy; ++y)
                        for (int x = c * fx; x < c * fx + fx; ++x)
                            total += sum[std::size_t(y) * w + std::size_t(x)];
                    slice[std::size_t(r) * std::size_t(out.dimX) + std::size_t(c)]
                        = total / divisor;
                }
            dozDataSetFrontByType(result, k, slice.data(), TYPEDATA_F64);
        }
        return true;
    });
}

bool rescaleVolume(unsigned int source, unsigned int result)
{
    VolumeInfo in, out;
    if (!volumeInfo(source, in) || !volumeInfo(result, out) || in.type != out.type)
        return false;
    return noThrow([&] {
        const std::size_t size = std::size_t(vexaTypeSize(in.type));
        std::vector<std::uint8_t> slice(std::size_t(out.dimX) * std::size_t(out.dimY) * size);
        std::vector<int> fromX(std::size_t(out.dimX), 0);
        for (int x = 0; x < out.dimX; ++x)
            fromX[std::size_t(x)] = int(std::int64_t(x) * in.dimX / out.dimX);
        progressRange(out.dimZ);
        for (int z = 0; z < out.dimZ; ++z) {
            if (!progressAt(z))
                return false;
            const int sz = int(std::int64_t(z) * in.dimZ / out.dimZ);
            Section a(dozDataGetFront(source, sz, in.type));
            if (!a)
                return false;
            const auto* from = static_cast<const std::uint8_t*>(a.get());
            for (int y = 0; y < out.dimY; ++y) {
                const std::size_t row = std::size_t(std::int64_t(y) * in.dimY / out.dimY);
                std::uint8_t* to = slice.data() + std::size_t(y) * std::size_t(out.dimX) * size;
                for (int x = 0; x < out.dimX; ++x)
                    std::memcpy(to + std::size_t(x) * size,
                        from
                            + (row * std::size_t(in.dimX) + std::size_t(fromX[std::size_t(x)]))
                                * size,
                        size);
            }
            dozDataSetFrontByType(result, z, slice.data(), in.type);
        }
        return true;
    });
}

bool smoothVolume(unsigned int source, unsigned int result, double alpha)
{
    VolumeInfo in, out;
    if (!(alpha > 0) || !volumeInfo(source, in) || !volumeInfo(result, out) || !sameSizes(in, out))
        return false;
    return noThrow([&] {
        const std::size_t nx = std::size_t(in.dimX), ny = std::size_t(in.dimY);
        const std::size_t plane = nx * ny;
        std::vector<double> volume(plane * std::size_t(in.dimZ));
        // Reading and each axis count as one pass of the progress.
        progressRange(4 * in.dimZ);
        int step = 0;
        for (int z = 0; z < in.dimZ; ++z) {
            if (!progressAt(step++))
                return false;
            Section a = frontAsDoubles(source, z);
            if (!a)
                return false;
            std::memcpy(volume.data() + std::size_t(z) * plane, a.get(), plane * sizeof(double));
        }
        std::vector<double> line(std::max({ nx, ny, std::size_t(in.dimZ) }));
        for (int z = 0; z < in.dimZ; ++z) {
            if (!progressAt(step++))
                return false;
            double* p = volume.data() + std::size_t(z) * plane;
            for (std::size_t y = 0; y < ny; ++y)
                dericheSmoothLine(p + y * nx, in.dimX, alpha);
            for (std::size_t x = 0; x < nx; ++x) {
                for (std::size_t y = 0; y < ny; ++y)
                    line[y] = p[y * nx + x];
                dericheSmoothLine(line.data(), in.dimY, alpha);
                for (std::size_t y = 0; y < ny; ++y)
                    p[y * nx + x] = line[y];
            }
        }
        for (std::size_t y = 0; y < ny; ++y) {
            if (!progressAt(step + int(y * std::size_t(in.dimZ) / ny)))
                return false;
            for (std::size_t x = 0; x < nx; ++x) {
                const std::size_t at = y * nx + x;
                for (int z = 0; z < in.dimZ; ++z)
                    line[std::size_t(z)] = volume[std::size_t(z) * plane + at];
                dericheSmoothLine(line.data(), in.dimZ, alpha);
                for (int z = 0; z < in.dimZ; ++z)
                    volume[std::size_t(z) * plane + at] = line[std::size_t(z)];
            }
        }
        step += in.dimZ;
        for (int z = 0; z < in.dimZ; ++z) {
            if (!progressAt(step++))
                return false;
            dozDataSetFrontByType(result, z, volume.data() + std::size_t(z) * plane, TYPEDATA_F64);
        }
        return true;
    });
}

bool splitVolumeBoxes(const VolumeInfo& volume, const int counts[3], const int borders[3],
    std::vector<VolumeBox>& boxes, std::string* reason)
{
    boxes.clear();
    std::vector<TileRect> xy, zs;
    if (!splitTiles(
            volume.dimX, volume.dimY, counts[0], counts[1], borders[0], borders[1], xy, reason)
        || !splitTiles(volume.dimZ, 1, counts[2], 1, borders[2], 0, zs, reason))
        return false;
    for (const TileRect& r : xy)
        for (const TileRect& d : zs)
            boxes.push_back({ r.x, r.y, d.x, r.width, r.height, d.width });
    return true;
}

int mergedLength(const std::vector<int>& parts, int border)
{
    const int count = int(parts.size());
    if (count < 1 || border < 0)
        return 0;
    std::int64_t total = 0;
    for (int p : parts) {
        if (p < 1)
            return 0;
        total += p;
    }
    // Parts only overlap: the length lies between the largest part and their sum.
    for (std::int64_t n = *std::max_element(parts.begin(), parts.end()); n <= total; ++n) {
        bool same = true;
        for (int i = 0; i < count && same; ++i) {
            const std::int64_t first = std::max<std::int64_t>(0, i * n / count - border);
            const std::int64_t last
                = std::min<std::int64_t>(n - 1, (i + 1) * n / count + border - 1);
            same = last - first + 1 == parts[std::size_t(i)];
        }
        if (same)
            return int(n);
    }
    return 0;
}

bool copyVolumeBox(unsigned int source, unsigned int result, int x, int y, int z)
{
    VolumeInfo in, out;
    if (!volumeInfo(source, in) || !volumeInfo(result, out) || in.type != out.type || x < 0 || y < 0
        || z < 0 || x + out.dimX > in.dimX || y + out.dimY > in.dimY || z + out.dimZ > in.dimZ)
        return false;
    return noThrow([&] {
        progressRange(out.dimZ);
        for (int k = 0; k < out.dimZ; ++k) {
            if (!progressAt(k))
                return false;
            Section a(dozDataGetFront(source, z + k, in.type));
            if (!a)
                return false;
            Section part(
                vexaMemExtract(a.get(), in.dimX, in.dimY, x, y, out.dimX, out.dimY, in.type));
            if (!part)
                return false;
            dozDataSetFrontByType(result, k, part.get(), in.type);
        }
        return true;
    });
}

bool pasteVolumeBox(const std::function<void*(int)>& front, const VolumeInfo& in,
    unsigned int result, int x, int y, int z)
{
    VolumeInfo out;
    if (!volumeInfo(result, out) || in.type != out.type || x < 0 || y < 0 || z < 0
        || x + in.dimX > out.dimX || y + in.dimY > out.dimY || z + in.dimZ > out.dimZ)
        return false;
    return noThrow([&] {
        const std::size_t size = std::size_t(vexaTypeSize(in.type));
        for (int k = 0; k < in.dimZ; ++k) {
            if (!progressAt(k))
                return false;
            Section a(front(k));
            Section whole(dozDataGetFront(result, z + k, out.type));
            if (!a || !whole)
                return false;
            auto* to = static_cast<std::uint8_t*>(whole.get());
            const auto* from = static_cast<const std::uint8_t*>(a.get());
            for (int r = 0; r < in.dimY; ++r)
                std::memcpy(
                    to + ((std::size_t(y + r)) * std::size_t(out.dimX) + std::size_t(x)) * size,
                    from + std::size_t(r) * std::size_t(in.dimX) * size,
                    std::size_t(in.dimX) * size);
            dozDataSetFrontByType(result, z + k, whole.get(), out.type);
        }
        return true;
    });
}

} // namespace vexa::processing
