#include "scene/volume.h"

#include "data/section.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace vexa::scene {

namespace {

void setReason(std::string* reason, const std::string& text)
{
    if (reason)
        *reason = text;
}

bool unit(double c)
{
    return std::isfinite(c) && c >= 0 && c <= 1;
}

std::uint8_t toByte(double c)
{
    return std::uint8_t(std::lround(std::clamp(c, 0.0, 1.0) * 255));
}

// One FRONT section of the block as doubles, value scale applied; empty when it
// cannot be read.
std::vector<double> readFront(const BlockDescriptor& block, int z)
{
    void* raw = readSection(
        block, true, TYPEDATA_F64, PLANE_FRONT, z, 0, 0, block.dimX - 1, block.dimY - 1);
    if (!raw)
        return {};
    const std::size_t count = std::size_t(block.dimX) * std::size_t(block.dimY);
    const auto* values = static_cast<const double*>(raw);
    std::vector<double> out(values, values + count);
    std::free(raw);
    return out;
}

} // namespace

std::string volumeSizeError(int nx, int ny, int nz)
{
    if (nx <= 0 || ny <= 0 || nz <= 0)
        return "Volume 3D : dimensions nulles ou négatives";
    if (nx > kMaxVolumeSide || ny > kMaxVolumeSide || nz > kMaxVolumeSide)
        return "Volume 3D : dimension supérieure à " + std::to_string(kMaxVolumeSide);
    if (std::int64_t(nx) * ny * nz > kMaxVolumeVoxels)
        return "Volume 3D : trop de voxels";
    return {};
}

std::string transferFunctionError(const std::vector<TransferPoint>& points)
{
    if (points.size() < 2)
        return "Fonction de transfert : au moins deux points sont nécessaires";
    for (std::size_t i = 0; i < points.size(); ++i) {
        const TransferPoint& p = points[i];
        if (!std::isfinite(p.value))
            return "Fonction de transfert : valeur non finie";
        if (i > 0 && !(p.value > points[i - 1].value))
            return "Fonction de transfert : les valeurs doivent être strictement croissantes";
        if (!unit(p.r) || !unit(p.g) || !unit(p.b) || !unit(p.a))
            return "Fonction de transfert : composantes hors de [0, 1]";
    }
    return {};
}

std::vector<std::uint8_t> transferTable(const std::vector<TransferPoint>& points)
{
    if (!transferFunctionError(points).empty())
        return {};
    std::vector<std::uint8_t> table(std::size_t(kTransferEntries) * 4);
    const double first = points.front().value, last = points.back().value;
    std::size_t segment = 0;
    for (int e = 0; e < kTransferEntries; ++e) {
        const double v = e == kTransferEntries - 1
            ? last
            : first + (last - first) * e / (kTransferEntries - 1);
        while (segment + 2 < points.size() && v > points[segment + 1].value)
            ++segment;
        const TransferPoint& a = points[segment];
        const TransferPoint& b = points[segment + 1];
        const double t = std::clamp((v - a.value) / (b.value - a.value), 0.0, 1.0);
        std::uint8_t* out = &table[std::size_t(e) * 4];
        out[0] = toByte(a.r + (b.r - a.r) * t);
        out[1] = toByte(a.g + (b.g - a.g) * t);
        out[2] = toByte(a.b + (b.b - a.b) * t);
        out[3] = toByte(a.a + (b.a - a.a) * t);
    }
    return table;
}

void appendPaletteVoxels(const double* values, std::size_t count, double low, double high,
    const ColourTable& palette, std::vector<std::uint8_t>& out)
{
    const double span = high - low;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = values[i];
        int level = 0;
        if (v >= high)
            level = 255;
        else if (v > low && span > 0)
            level = std::clamp(int((v - low) * 256 / span), 0, 255);
        const PaletteColour& c = palette[std::size_t(level)];
        out.push_back(c.red);
        out.push_back(c.green);
        out.push_back(c.blue);
        out.push_back(std::uint8_t(level));
    }
}

std::shared_ptr<Volume> volumeFromBlock(const BlockDescriptor& block, double low, double high,
    const ColourTable& palette, std::string* reason)
{
    const std::string refused = volumeSizeError(block.dimX, block.dimY, block.dimZ);
    if (!refused.empty()) {
        setReason(reason, refused);
        return nullptr;
    }
    if (!std::isfinite(low) || !std::isfinite(high) || low > high) {
        setReason(reason, "Volume 3D : intervalle de valeurs invalide");
        return nullptr;
    }
    try {
        auto volume = std::make_shared<Volume>();
        volume->nx = block.dimX;
        volume->ny = block.dimY;
        volume->nz = block.dimZ;
        volume->format = VOLUME_RGBA8;
        const std::size_t plane = std::size_t(block.dimX) * std::size_t(block.dimY);
        // The block's own range needs a first pass; sections are read again rather
        // than kept, so a large file block never needs its doubles all at once.
        if (low == high) {
            double lo = std::numeric_limits<double>::infinity(), hi = -lo;
            for (int z = 0; z < block.dimZ; ++z) {
                const std::vector<double> slice = readFront(block, z);
                if (slice.size() != plane) {
                    setReason(reason, "Volume 3D : lecture du bloc impossible");
                    return nullptr;
                }
                for (double v : slice)
                    if (std::isfinite(v)) {
                        lo = std::min(lo, v);
                        hi = std::max(hi, v);
                    }
            }
            low = std::isfinite(lo) ? lo : 0;
            high = std::isfinite(hi) ? hi : 0;
        }
        volume->rgba.reserve(plane * std::size_t(block.dimZ) * 4);
        for (int z = 0; z < block.dimZ; ++z) {
            const std::vector<double> slice = readFront(block, z);
            if (slice.size() != plane) {
                setReason(reason, "Volume 3D : lecture du bloc impossible");
                return nullptr;
            }
            appendPaletteVoxels(slice.data(), slice.size(), low, high, palette, volume->rgba);
        }
        volume->low = low;
        volume->high = high;
        return volume;
    } catch (const std::bad_alloc&) {
        setReason(reason, "Volume 3D : mémoire insuffisante");
        return nullptr;
    }
}

std::shared_ptr<Volume> volumeFromFloats(const float* values, int nx, int ny, int nz,
    const std::vector<TransferPoint>& points, std::string* reason)
{
    std::string refused = volumeSizeError(nx, ny, nz);
    if (refused.empty() && !values)
        refused = "Volume 3D : pas de valeurs";
    if (refused.empty())
        refused = transferFunctionError(points);
    if (!refused.empty()) {
        setReason(reason, refused);
        return nullptr;
    }
    try {
        auto volume = std::make_shared<Volume>();
        volume->nx = nx;
        volume->ny = ny;
        volume->nz = nz;
        volume->format = VOLUME_R32F;
        volume->values.assign(values, values + volume->voxelCount());
        // NaN takes the function's first value: an infinity would turn the filtered
        // samples around it into NaN as well.
        const float lowest = float(points.front().value);
        for (float& v : volume->values)
            if (!std::isfinite(v))
                v = std::isnan(v) ? lowest : std::clamp(v, -FLT_MAX, FLT_MAX);
        volume->transfer = transferTable(points);
        volume->low = points.front().value;
        volume->high = points.back().value;
        return volume;
    } catch (const std::bad_alloc&) {
        setReason(reason, "Volume 3D : mémoire insuffisante");
        return nullptr;
    }
}

bool Volume::samplesMatchSides() const
{
    if (nx <= 0 || ny <= 0 || nz <= 0)
        return false;
    const auto voxels = std::size_t(voxelCount());
    return format == VOLUME_R32F
        ? values.size() == voxels && transfer.size() == std::size_t(kTransferEntries) * 4
        : rgba.size() == voxels * 4;
}

bool sampleVolumeColour(const Volume& volume, const Box& box, Vec3 p, std::uint8_t out[3])
{
    const bool floats = volume.format == VOLUME_R32F;
    if (!volume.samplesMatchSides() || box.empty() || !isFinite(p))
        return false;
    if (p.x < box.min.x || p.y < box.min.y || p.z < box.min.z || p.x > box.max.x || p.y > box.max.y
        || p.z > box.max.z)
        return false;
    const int n[3] = { volume.nx, volume.ny, volume.nz };
    const double rel[3] = { (p.x - box.min.x) / (box.max.x - box.min.x),
        (p.y - box.min.y) / (box.max.y - box.min.y), (p.z - box.min.z) / (box.max.z - box.min.z) };
    // Lower voxel and weight of the upper one on each axis, clamped at the faces as
    // the GPU's edge clamping does.
    int lo[3], hi[3];
    double w[3];
    for (int k = 0; k < 3; ++k) {
        const double c = std::clamp(rel[k] * n[k] - 0.5, 0.0, double(n[k] - 1));
        lo[k] = std::min(int(c), n[k] - 1);
        hi[k] = std::min(lo[k] + 1, n[k] - 1);
        w[k] = c - lo[k];
    }
    const auto index = [&](int x, int y, int z) {
        return (std::size_t(z) * std::size_t(volume.ny) + std::size_t(y)) * std::size_t(volume.nx)
            + std::size_t(x);
    };
    double sum[3] = {};
    double value = 0;
    for (int corner = 0; corner < 8; ++corner) {
        const int x = corner & 1 ? hi[0] : lo[0];
        const int y = corner & 2 ? hi[1] : lo[1];
        const int z = corner & 4 ? hi[2] : lo[2];
        const double weight = (corner & 1 ? w[0] : 1 - w[0]) * (corner & 2 ? w[1] : 1 - w[1])
            * (corner & 4 ? w[2] : 1 - w[2]);
        if (floats) {
            value += weight * volume.values[index(x, y, z)];
            continue;
        }
        const std::uint8_t* v = &volume.rgba[index(x, y, z) * 4];
        for (int c = 0; c < 3; ++c)
            sum[c] += weight * v[c];
    }
    if (floats) {
        const double span = volume.high > volume.low ? volume.high - volume.low : 1;
        const double u = std::clamp((value - volume.low) / span, 0.0, 1.0);
        // The table's entries sit evenly from low to high; linear between them.
        const double e = u * (kTransferEntries - 1);
        const int a = std::min(int(e), kTransferEntries - 1);
        const int b = std::min(a + 1, kTransferEntries - 1);
        for (int c = 0; c < 3; ++c)
            sum[c] = volume.transfer[std::size_t(a) * 4 + std::size_t(c)] * (1 - (e - a))
                + volume.transfer[std::size_t(b) * 4 + std::size_t(c)] * (e - a);
    }
    for (int c = 0; c < 3; ++c)
        out[c] = std::uint8_t(std::lround(std::clamp(sum[c], 0.0, 255.0)));
    return true;
}

std::vector<std::uint8_t> volumeVertexColours(const Volume& volume, const Box& box,
    const Mat4& toVolume, const TriMesh* mesh, const std::array<std::uint8_t, 4>& fallback)
{
    if (!mesh || mesh->nbPoints <= 0 || !mesh->points)
        return {};
    std::vector<std::uint8_t> colours(std::size_t(mesh->nbPoints) * 4);
    for (std::size_t i = 0; i < std::size_t(mesh->nbPoints); ++i) {
        const float* q = mesh->points + i * 3;
        std::uint8_t* out = &colours[i * 4];
        if (!sampleVolumeColour(volume, box, transformPoint(toVolume, { q[0], q[1], q[2] }), out))
            std::copy(fallback.begin(), fallback.begin() + 3, out);
        out[3] = fallback[3];
    }
    return colours;
}

BrickGrid volumeBricks(const Volume& volume)
{
    BrickGrid grid;
    const bool floats = volume.format == VOLUME_R32F;
    if (!volume.samplesMatchSides())
        return grid;
    grid.bx = (volume.nx + kBrickSide - 1) / kBrickSide;
    grid.by = (volume.ny + kBrickSide - 1) / kBrickSide;
    grid.bz = (volume.nz + kBrickSide - 1) / kBrickSide;
    const std::size_t bricks = std::size_t(grid.bx) * std::size_t(grid.by) * std::size_t(grid.bz);
    // Extremes of each brick's own voxels: float values, or alpha bytes.
    std::vector<float> lo(bricks, std::numeric_limits<float>::infinity());
    std::vector<float> hi(bricks, -std::numeric_limits<float>::infinity());
    std::size_t i = 0;
    for (int z = 0; z < volume.nz; ++z)
        for (int y = 0; y < volume.ny; ++y) {
            const std::size_t row
                = (std::size_t(z / kBrickSide) * std::size_t(grid.by) + std::size_t(y / kBrickSide))
                * std::size_t(grid.bx);
            for (int x = 0; x < volume.nx; ++x, ++i) {
                const float v = floats ? volume.values[i] : float(volume.rgba[i * 4 + 3]);
                const std::size_t b = row + std::size_t(x / kBrickSide);
                lo[b] = std::min(lo[b], v);
                hi[b] = std::max(hi[b], v);
            }
        }
    // Table entries with some alpha, counted from the first: a span is clear when the
    // count does not grow over it.
    std::vector<int> seen(std::size_t(kTransferEntries) + 1, 0);
    if (floats)
        for (int e = 0; e < kTransferEntries; ++e)
            seen[std::size_t(e) + 1]
                = seen[std::size_t(e)] + (volume.transfer[std::size_t(e) * 4 + 3] > 0);
    const double span = volume.high > volume.low ? volume.high - volume.low : 1;
    const auto entry = [&](float v) {
        return std::clamp((double(v) - volume.low) / span, 0.0, 1.0) * (kTransferEntries - 1);
    };
    grid.occupied.assign(bricks, 0);
    // The neighbours' extremes count too: one voxel beyond the brick is interpolated,
    // and taking the whole neighbouring brick only errs on the side of drawing.
    for (int z = 0; z < grid.bz; ++z)
        for (int y = 0; y < grid.by; ++y)
            for (int x = 0; x < grid.bx; ++x) {
                float a = std::numeric_limits<float>::infinity(), b = -a;
                for (int dz = std::max(z - 1, 0); dz <= std::min(z + 1, grid.bz - 1); ++dz)
                    for (int dy = std::max(y - 1, 0); dy <= std::min(y + 1, grid.by - 1); ++dy)
                        for (int dx = std::max(x - 1, 0); dx <= std::min(x + 1, grid.bx - 1);
                             ++dx) {
                            const std::size_t n
                                = (std::size_t(dz) * std::size_t(grid.by) + std::size_t(dy))
                                    * std::size_t(grid.bx)
                                + std::size_t(dx);
                            a = std::min(a, lo[n]);
                            b = std::max(b, hi[n]);
                        }
                bool visible = b > 0;
                if (floats) {
                    const int first = int(std::floor(entry(a)));
                    const int last = int(std::ceil(entry(b)));
                    visible = seen[std::size_t(last) + 1] > seen[std::size_t(first)];
                }
                grid.occupied[(std::size_t(z) * std::size_t(grid.by) + std::size_t(y))
                        * std::size_t(grid.bx)
                    + std::size_t(x)]
                    = visible ? 1 : 0;
            }
    return grid;
}

std::string volumeBoxError(Vec3 origin, Vec3 size)
{
    if (!isFinite(origin) || !isFinite(size))
        return "Volume 3D : boîte non finie";
    if (!(size.x > 0 && size.y > 0 && size.z > 0))
        return "Volume 3D : boîte de taille nulle ou négative";
    return {};
}

TriMesh* boxMesh(const Box& box)
{
    if (box.empty())
        return nullptr;
    auto* points = static_cast<float*>(std::malloc(24 * sizeof(float)));
    auto* triangles = static_cast<std::int32_t*>(std::malloc(36 * sizeof(std::int32_t)));
    if (!points || !triangles) {
        std::free(points);
        std::free(triangles);
        return nullptr;
    }
    // Corner c has x from bit 0, y from bit 1, z from bit 2.
    for (int c = 0; c < 8; ++c) {
        points[c * 3 + 0] = float(c & 1 ? box.max.x : box.min.x);
        points[c * 3 + 1] = float(c & 2 ? box.max.y : box.min.y);
        points[c * 3 + 2] = float(c & 4 ? box.max.z : box.min.z);
    }
    static const std::int32_t faces[36] = {
        0, 2, 1, 1, 2, 3, // z min
        4, 5, 6, 5, 7, 6, // z max
        0, 1, 4, 1, 5, 4, // y min
        2, 6, 3, 3, 6, 7, // y max
        0, 4, 2, 2, 4, 6, // x min
        1, 3, 5, 3, 7, 5, // x max
    };
    std::memcpy(triangles, faces, sizeof faces);
    TriMesh* mesh = triMeshCreate(points, 8, triangles, 12);
    if (!mesh) {
        std::free(points);
        std::free(triangles);
    }
    return mesh;
}

} // namespace vexa::scene
