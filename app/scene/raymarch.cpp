#include "scene/raymarch.h"
#include "scene/raymarchkernel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace vexa::scene {

namespace marchkernel {

RowsFn rowsFunction(bool plainOnly)
{
    if (plainOnly)
        return &generic::marchRows;
    static const RowsFn chosen = [] {
#if defined(VEXA_MARCH_AVX2)
        const char* limit = std::getenv("VEXA_MARCH_ISA");
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")
            && !(limit && std::strcmp(limit, "generic") == 0))
            return RowsFn(&avx2::marchRows);
#endif
        return RowsFn(&generic::marchRows);
    }();
    return chosen;
}

} // namespace marchkernel

std::shared_ptr<const MarchVolume> marchVolumeOf(const Volume& volume)
{
    const bool floats = volume.format == VOLUME_R32F;
    if (!volume.samplesMatchSides())
        return nullptr;
    try {
        auto out = std::make_shared<MarchVolume>();
        out->nx = volume.nx;
        out->ny = volume.ny;
        out->nz = volume.nz;
        out->floats = floats;
        out->transfer = volume.transfer;
        out->low = volume.low;
        out->high = volume.high;
        out->rowStride = std::size_t(volume.nx) + 1;
        // Planes an odd number of 64-byte lines apart (16 voxels of 4 bytes a line).
        std::size_t lines = (out->rowStride * (std::size_t(volume.ny) + 1) + 15) / 16;
        lines += 1 - lines % 2;
        out->planeStride = lines * 16;
        const std::size_t total = out->planeStride * (std::size_t(volume.nz) + 1);
        const std::size_t nx = std::size_t(volume.nx), ny = std::size_t(volume.ny);
        // Rows and planes past the last take the last one's samples; 4 bytes a voxel
        // either way.
        const auto fill = [&](auto& to, const unsigned char* from) {
            to.assign(total, {});
            for (std::size_t z = 0; z <= std::size_t(volume.nz); ++z)
                for (std::size_t y = 0; y <= ny; ++y) {
                    const unsigned char* row = from
                        + (std::min(z, std::size_t(volume.nz) - 1) * ny + std::min(y, ny - 1)) * nx
                            * 4;
                    auto* dst = to.data() + z * out->planeStride + y * out->rowStride;
                    std::memcpy(dst, row, nx * 4);
                    std::memcpy(dst + nx, row + (nx - 1) * 4, 4);
                }
        };
        if (floats)
            fill(out->values, reinterpret_cast<const unsigned char*>(volume.values.data()));
        else
            fill(out->rgba, volume.rgba.data());
        out->bricks = volumeBricks(volume);
        return out;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::optional<MarchFrame> marchFrameOf(const Volume& volume, const Box& box, const Mat4& projection,
    const Mat4& modelView, int width, int height)
{
    const auto toObject = inverse(modelView);
    const auto clipToObject = inverse(projection * modelView);
    if (!toObject || !clipToObject || box.empty())
        return std::nullopt;
    const Vec3 size = box.max - box.min;
    // Voxel coordinates: (0, 0, 0) .. (nx, ny, nz) over the box.
    const Mat4 toVoxels = scaling({ volume.nx / size.x, volume.ny / size.y, volume.nz / size.z })
        * translation(Vec3 {} - box.min);
    MarchFrame frame;
    frame.clipToVoxel = toVoxels * *clipToObject;
    frame.eye = transformPoint(toVoxels * *toObject, { 0, 0, 0 });
    frame.width = width;
    frame.height = height;
    return frame;
}

PixelRect marchedRect(const MarchVolume& volume, const MarchFrame& frame)
{
    const PixelRect whole { 0, 0, std::max(frame.width, 0), std::max(frame.height, 0) };
    const auto toClip = inverse(frame.clipToVoxel);
    if (!toClip)
        return whole;
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (int corner = 0; corner < 8; ++corner) {
        const marchkernel::Homogeneous c = marchkernel::apply(*toClip, corner & 1 ? volume.nx : 0,
            corner & 2 ? volume.ny : 0, corner & 4 ? volume.nz : 0, 1);
        if (!(c.w > 1e-12) || !std::isfinite(c.x) || !std::isfinite(c.y))
            return whole;
        const double px = (c.x / c.w + 1) * 0.5 * frame.width;
        const double py = (c.y / c.w + 1) * 0.5 * frame.height;
        x0 = std::min(x0, px);
        x1 = std::max(x1, px);
        y0 = std::min(y0, py);
        y1 = std::max(y1, py);
    }
    // A pixel more on each side: a ray through a pixel centre just outside the corners'
    // hull cannot meet the box, but rounding should not decide that.
    const int left = int(std::clamp(std::floor(x0) - 1, 0.0, double(whole.width)));
    const int right = int(std::clamp(std::ceil(x1) + 1, 0.0, double(whole.width)));
    const int bottom = int(std::clamp(std::floor(y0) - 1, 0.0, double(whole.height)));
    const int top = int(std::clamp(std::ceil(y1) + 1, 0.0, double(whole.height)));
    return { left, bottom, std::max(right - left, 0), std::max(top - bottom, 0) };
}

void marchVolume(const MarchVolume& volume, const MarchFrame& frame, PixelRect rect,
    std::uint8_t* out, int threads)
{
    if (rect.empty() || !out || frame.width <= 0 || frame.height <= 0 || volume.nx <= 0
        || volume.ny <= 0 || volume.nz <= 0)
        return;
    const marchkernel::RowsFn marchRows = marchkernel::rowsFunction();
    // Rows are handed out a few at a time: rays through the middle of a volume cost
    // far more than those along its edges.
    constexpr int kRowsPerTake = 4;
    std::atomic<int> nextRow { 0 };
    const auto work = [&] {
        for (;;) {
            const int first = nextRow.fetch_add(kRowsPerTake);
            if (first >= rect.height)
                return;
            marchRows(volume, frame, rect, out, first, std::min(first + kRowsPerTake, rect.height));
        }
    };
    int count = threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency()));
    count = std::min(count, (rect.height + kRowsPerTake - 1) / kRowsPerTake);
    std::vector<std::thread> helpers;
    for (int i = 1; i < count; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // the rows left go to the threads there are
        }
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
}

} // namespace vexa::scene
