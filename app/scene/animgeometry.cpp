#include "scene/animgeometry.h"

#include "vexa_types.h"
#include "vexafile.h"
#include "vexamem.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace vexa::scene {

namespace {

// A height field or a texture read whole stays below this many samples: animation
// files name their images, and a damaged header must not reserve gigabytes.
constexpr std::int64_t kMaxImageSamples = std::int64_t(1) << 26;
constexpr int kMaxSliceSide = 2048;

struct FileDeleter {
    void operator()(FileDescriptor* desc) const { vexaFileRelease(desc); }
};
using FilePtr = std::unique_ptr<FileDescriptor, FileDeleter>;
struct BufferDeleter {
    void operator()(void* buffer) const { std::free(buffer); }
};
using BufferPtr = std::unique_ptr<void, BufferDeleter>;

FilePtr openImageFile(const std::string& path, std::string& reason)
{
    FilePtr desc(vexaFileNameOpen(path.c_str()));
    if (!desc || !vexaFileReadHeader(desc.get())) {
        reason = path + " : impossible d'ouvrir le fichier";
        return nullptr;
    }
    return desc;
}

// Samples of a buffer converted to 8 bits, or RGBA copied; 4 bytes per sample.
std::shared_ptr<Texture> textureFromSamples(
    const void* samples, int type, int w, int h, std::string& reason)
{
    if (!(reason = textureSizeError(w, h)).empty())
        return nullptr;
    auto texture = std::make_shared<Texture>();
    texture->width = w;
    texture->height = h;
    const std::size_t count = std::size_t(w) * std::size_t(h);
    texture->rgba.resize(count * 4);
    if (type == TYPEDATA_RGBA) {
        std::memcpy(texture->rgba.data(), samples, count * 4);
        return texture;
    }
    std::vector<std::uint8_t> levels(count);
    if (!vexaMemConvertInto(samples, int(count), 1.0, 0.0, type, TYPEDATA_U8, levels.data())) {
        reason = "conversion impossible";
        return nullptr;
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* p = texture->rgba.data() + 4 * i;
        p[0] = p[1] = p[2] = levels[i];
        p[3] = 255;
    }
    return texture;
}

bool planeSize(FileDescriptor* desc, const std::string& path, int& w, int& h, std::string& reason)
{
    w = vexaFileGetDimX(desc);
    h = vexaFileGetDimY(desc);
    if (w < 1 || h < 1 || std::int64_t(w) * h > kMaxImageSamples) {
        reason = path + " : image trop grande";
        return false;
    }
    return true;
}

} // namespace

TriMeshPtr animQuad(const std::array<Vec3, 4>& corners)
{
    auto* points = static_cast<float*>(std::malloc(12 * sizeof(float)));
    auto* triangles = static_cast<std::int32_t*>(std::malloc(6 * sizeof(std::int32_t)));
    if (!points || !triangles) {
        std::free(points);
        std::free(triangles);
        return nullptr;
    }
    for (int i = 0; i < 4; ++i) {
        points[3 * i] = float(corners[i].x);
        points[3 * i + 1] = float(corners[i].y);
        points[3 * i + 2] = float(corners[i].z);
    }
    const std::int32_t order[6] = { 0, 1, 2, 0, 2, 3 };
    std::memcpy(triangles, order, sizeof order);
    TriMeshPtr mesh(triMeshCreate(points, 4, triangles, 2));
    if (!mesh) {
        std::free(points);
        std::free(triangles);
    }
    return mesh;
}

TriMeshPtr animHeightField(
    const std::vector<double>& values, int w, int h, int step, int type, std::vector<float>* uv)
{
    if (step < 1 || w < 1 || h < 1 || values.size() < std::size_t(w) * std::size_t(h))
        return nullptr;
    const int nc = (w - 1) / step + 1, nr = (h - 1) / step + 1;
    if (nc < 2 || nr < 2)
        return nullptr;
    const std::int64_t nbPoints = std::int64_t(nc) * nr;
    const std::int64_t nbTriangles = 2 * std::int64_t(nc - 1) * (nr - 1);
    if (nbPoints > kMaxImageSamples)
        return nullptr;
    auto* points = static_cast<float*>(std::malloc(std::size_t(nbPoints) * 3 * sizeof(float)));
    auto* triangles = static_cast<std::int32_t*>(
        std::malloc(std::size_t(nbTriangles) * 3 * sizeof(std::int32_t)));
    if (!points || !triangles) {
        std::free(points);
        std::free(triangles);
        return nullptr;
    }
    if (uv)
        uv->assign(std::size_t(nbPoints) * 2, 0.0f);
    std::size_t p = 0;
    for (int j = 0; j < nr; ++j) {
        for (int i = 0; i < nc; ++i, ++p) {
            const int c = i * step, r = j * step;
            const auto v = float(values[std::size_t(r) * std::size_t(w) + std::size_t(c)]);
            float* q = points + 3 * p;
            if (type == 1) {
                q[0] = v, q[1] = float(r), q[2] = float(c);
            } else if (type == 2) {
                q[0] = float(c), q[1] = v, q[2] = float(r);
            } else {
                q[0] = float(c), q[1] = float(r), q[2] = v;
            }
            if (uv) {
                // The free coordinates are the column and the row whatever the type.
                (*uv)[2 * p] = w > 1 ? float(c) / float(w - 1) : 0.0f;
                (*uv)[2 * p + 1] = h > 1 ? float(r) / float(h - 1) : 0.0f;
            }
        }
    }
    std::int32_t* t = triangles;
    for (int j = 0; j + 1 < nr; ++j) {
        for (int i = 0; i + 1 < nc; ++i) {
            const auto a = std::int32_t(j * nc + i), b = a + 1, d = a + nc, e = d + 1;
            *t++ = a, *t++ = b, *t++ = e;
            *t++ = a, *t++ = e, *t++ = d;
        }
    }
    TriMeshPtr mesh(
        triMeshCreate(points, std::int32_t(nbPoints), triangles, std::int32_t(nbTriangles)));
    if (!mesh) {
        std::free(points);
        std::free(triangles);
    }
    return mesh;
}

std::vector<float> animPlanarMapping(const TriMesh& mesh)
{
    std::vector<float> uv(std::size_t(mesh.nbPoints) * 2, 0.0f);
    if (mesh.nbPoints < 1)
        return uv;
    float lo[2] = { mesh.points[0], mesh.points[1] }, hi[2] = { lo[0], lo[1] };
    for (std::int32_t i = 0; i < mesh.nbPoints; ++i) {
        for (int a = 0; a < 2; ++a) {
            lo[a] = std::min(lo[a], mesh.points[3 * i + a]);
            hi[a] = std::max(hi[a], mesh.points[3 * i + a]);
        }
    }
    for (std::int32_t i = 0; i < mesh.nbPoints; ++i)
        for (int a = 0; a < 2; ++a)
            if (hi[a] > lo[a])
                uv[2 * std::size_t(i) + a] = (mesh.points[3 * i + a] - lo[a]) / (hi[a] - lo[a]);
    return uv;
}

Colour animHslColour(double hue, double saturation, double lightness)
{
    const double h = std::fmod(std::max(hue, 0.0), 240.0) / 240.0;
    const double s = std::clamp(saturation / 240.0, 0.0, 1.0);
    const double l = std::clamp(lightness / 240.0, 0.0, 1.0);
    if (s == 0)
        return { l, l, l, 1 };
    const double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
    const double p = 2 * l - q;
    auto channel = [p, q](double t) {
        t -= std::floor(t);
        if (t < 1.0 / 6)
            return p + (q - p) * 6 * t;
        if (t < 0.5)
            return q;
        if (t < 2.0 / 3)
            return p + (q - p) * (2.0 / 3 - t) * 6;
        return p;
    };
    // The 0..255 levels of the usual conversion, divided by 255.
    auto level = [](double c) { return std::round(std::clamp(c, 0.0, 1.0) * 255) / 255; };
    return { level(channel(h + 1.0 / 3)), level(channel(h)), level(channel(h - 1.0 / 3)), 1 };
}

bool animReadImage(
    const std::string& path, std::vector<double>& values, int& w, int& h, std::string& reason)
{
    FilePtr desc = openImageFile(path, reason);
    if (!desc || !planeSize(desc.get(), path, w, h, reason))
        return false;
    BufferPtr samples(vexaFileReadImage(desc.get(), VEXAFILE_FRONT, 0));
    if (!samples) {
        reason = path + " : lecture impossible";
        return false;
    }
    values.assign(std::size_t(w) * std::size_t(h), 0.0);
    if (!vexaMemConvertInto(samples.get(), w * h, 1.0, 0.0, vexaFileGetTypeData(desc.get()),
            TYPEDATA_F64, values.data())) {
        reason = path + " : conversion impossible";
        return false;
    }
    return true;
}

std::shared_ptr<Texture> animImageTexture(const std::string& path, std::string& reason)
{
    int w = 0, h = 0;
    FilePtr desc = openImageFile(path, reason);
    if (!desc || !planeSize(desc.get(), path, w, h, reason))
        return nullptr;
    BufferPtr samples(vexaFileReadImage(desc.get(), VEXAFILE_FRONT, 0));
    if (!samples) {
        reason = path + " : lecture impossible";
        return nullptr;
    }
    return textureFromSamples(samples.get(), vexaFileGetTypeData(desc.get()), w, h, reason);
}

std::shared_ptr<Texture> animFrontTexture(const std::string& path, double x1, double y1, double x2,
    double y2, double no, std::string& reason)
{
    for (double v : { x1, y1, x2, y2, no })
        if (!std::isfinite(v) || std::fabs(v) > 1e9) {
            reason = path + " : rectangle invalide";
            return nullptr;
        }
    const auto c1 = std::lround(x1), c2 = std::lround(x2), r1 = std::lround(y1),
               r2 = std::lround(y2);
    const long w = std::labs(c2 - c1) + 1, h = std::labs(r2 - r1) + 1;
    if (!(reason = textureSizeError(int(std::min(w, 1L << 30)), int(std::min(h, 1L << 30)))).empty()
        || std::int64_t(w) * h > kMaxImageSamples) {
        reason = path + " : rectangle trop grand";
        return nullptr;
    }
    FilePtr desc = openImageFile(path, reason);
    if (!desc)
        return nullptr;
    BufferPtr samples(vexaFileReadImagePart(desc.get(), VEXAFILE_FRONT, int(std::min(c1, c2)),
        int(std::min(r1, r2)), int(std::lround(no)), int(w), int(h)));
    if (!samples) {
        reason = path + " : lecture impossible";
        return nullptr;
    }
    return textureFromSamples(
        samples.get(), vexaFileGetTypeData(desc.get()), int(w), int(h), reason);
}

std::shared_ptr<Texture> animSliceTexture(
    const std::string& path, const std::array<Vec3, 4>& corners, std::string& reason)
{
    for (const Vec3& c : corners)
        if (!isFinite(c) || std::fabs(c.x) > 1e9 || std::fabs(c.y) > 1e9 || std::fabs(c.z) > 1e9) {
            reason = path + " : coupe invalide";
            return nullptr;
        }
    FilePtr desc = openImageFile(path, reason);
    if (!desc)
        return nullptr;
    const int nx = vexaFileGetDimX(desc.get()), ny = vexaFileGetDimY(desc.get()),
              nz = vexaFileGetDimZ(desc.get());
    // Only the voxels of the quad's box inside the volume are read.
    Box box;
    for (const Vec3& c : corners)
        box.add(c);
    const int x0 = std::clamp(int(std::floor(box.min.x)), 0, std::max(nx - 1, 0));
    const int y0 = std::clamp(int(std::floor(box.min.y)), 0, std::max(ny - 1, 0));
    const int z0 = std::clamp(int(std::floor(box.min.z)), 0, std::max(nz - 1, 0));
    const int x1 = std::clamp(int(std::ceil(box.max.x)), x0, std::max(nx - 1, 0));
    const int y1 = std::clamp(int(std::ceil(box.max.y)), y0, std::max(ny - 1, 0));
    const int z1 = std::clamp(int(std::ceil(box.max.z)), z0, std::max(nz - 1, 0));
    const int bx = x1 - x0 + 1, by = y1 - y0 + 1, bz = z1 - z0 + 1;
    if (nx < 1 || ny < 1 || nz < 1 || std::int64_t(bx) * by * bz > kMaxImageSamples) {
        reason = path + " : coupe trop grande";
        return nullptr;
    }
    const int type = vexaFileGetTypeData(desc.get());
    BufferPtr samples(vexaFileReadBlockPart(desc.get(), VEXAFILE_FRONT, x0, y0, z0, bx, by, bz));
    if (!samples) {
        reason = path + " : lecture impossible";
        return nullptr;
    }
    const Vec3 across = corners[1] - corners[0], down = corners[3] - corners[0];
    const int w = std::clamp(int(std::ceil(length(across))) + 1, 2, kMaxSliceSide);
    const int h = std::clamp(int(std::ceil(length(down))) + 1, 2, kMaxSliceSide);
    const std::size_t size = std::size_t(vexaTypeSize(type));
    std::vector<std::uint8_t> picked(std::size_t(w) * std::size_t(h) * size, 0);
    const auto* bytes = static_cast<const std::uint8_t*>(samples.get());
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            const Vec3 p
                = corners[0] + across * (double(i) / (w - 1)) + down * (double(j) / (h - 1));
            const long x = std::lround(p.x) - x0, y = std::lround(p.y) - y0,
                       z = std::lround(p.z) - z0;
            if (x < 0 || y < 0 || z < 0 || x >= bx || y >= by || z >= bz)
                continue; // outside the volume: left black
            const std::size_t at
                = ((std::size_t(z) * by + std::size_t(y)) * bx + std::size_t(x)) * size;
            std::memcpy(
                picked.data() + (std::size_t(j) * w + std::size_t(i)) * size, bytes + at, size);
        }
    }
    return textureFromSamples(picked.data(), type, w, h, reason);
}

} // namespace vexa::scene
