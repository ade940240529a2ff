#include "mesh/primitives.h"

#include "vexa_guard.hpp"

#include <cmath>
#include <utility>
#include <vector>

namespace vexa::mesh {

namespace {

// Angles use pi to 11 decimals, so that shapes match those made by earlier versions.
constexpr double kPi = 3.14159265359;
constexpr double kTwoPi = 6.28318530718;

Vec3 operator+(Vec3 a, Vec3 b)
{
    return { a.x + b.x, a.y + b.y, a.z + b.z };
}
Vec3 operator-(Vec3 a, Vec3 b)
{
    return { a.x - b.x, a.y - b.y, a.z - b.z };
}
Vec3 operator*(double s, Vec3 a)
{
    return { s * a.x, s * a.y, s * a.z };
}
double dot(Vec3 a, Vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 cross(Vec3 a, Vec3 b)
{
    return { a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x };
}
Vec3 normalise(Vec3 a)
{
    double length = std::sqrt(dot(a, a));
    return length > 0.0 ? (1.0 / length) * a : a;
}
bool finite(Vec3 a)
{
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

// Collects points and triangles and hands them over as one mesh.
class Builder {
public:
    Builder(int64_t nbPoints, int64_t nbTriangles)
        : mesh_(allocateTriMesh(nbPoints, nbTriangles))
    {
    }
    ~Builder() { triMeshFree(&mesh_); }
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;

    bool ok() const { return mesh_ != nullptr; }
    void point(Vec3 p)
    {
        float* out = mesh_->points + 3 * nextPoint_++;
        out[0] = float(p.x);
        out[1] = float(p.y);
        out[2] = float(p.z);
    }
    void triangle(int64_t a, int64_t b, int64_t c)
    {
        int32_t* out = mesh_->triangles + 3 * nextTriangle_++;
        out[0] = int32_t(a);
        out[1] = int32_t(b);
        out[2] = int32_t(c);
    }
    TriMesh* release()
    {
        TriMesh* mesh = mesh_;
        mesh_ = nullptr;
        triMeshComputeBox(mesh);
        return mesh;
    }

private:
    TriMesh* mesh_;
    int64_t nextPoint_ = 0;
    int64_t nextTriangle_ = 0;
};

bool precisionOk(int n)
{
    return n >= 3 && n <= TRIMESH_MAX_COUNT;
}

// Circle point k of n about the origin in the plane of u and w.
Vec3 circlePoint(Vec3 u, Vec3 w, double r, int64_t k, int64_t n)
{
    double t = kTwoPi * double(k) / double(n);
    return r * (std::cos(t) * u + std::sin(t) * w);
}

} // namespace

Vec3 perpendicular(Vec3 d)
{
    Vec3 u { 1, 1, 1 };
    if (d.x == 0.0) {
        if (d.y != 0.0)
            u.y = -d.z / d.y;
        else
            u.z = 0.0;
    } else {
        u.x = -(d.y + d.z) / d.x;
    }
    return normalise(u);
}

TriMesh* makeCube()
{
    Builder b(8, 12);
    if (!b.ok())
        return nullptr;
    const Vec3 corners[8] = { { -.5, -.5, -.5 }, { .5, -.5, -.5 }, { .5, .5, -.5 },
        { -.5, .5, -.5 }, { -.5, -.5, .5 }, { .5, -.5, .5 }, { .5, .5, .5 }, { -.5, .5, .5 } };
    for (Vec3 p : corners)
        b.point(p);
    const int faces[12][3] = { { 0, 1, 2 }, { 2, 3, 0 }, { 0, 4, 5 }, { 5, 1, 0 }, { 1, 5, 6 },
        { 1, 6, 2 }, { 2, 6, 7 }, { 2, 7, 3 }, { 4, 0, 3 }, { 3, 7, 4 }, { 5, 4, 7 }, { 5, 7, 6 } };
    for (const auto& f : faces)
        b.triangle(f[0], f[1], f[2]);
    return b.release();
}

TriMesh* makePyramid()
{
    Builder b(5, 6);
    if (!b.ok())
        return nullptr;
    const Vec3 corners[5]
        = { { -.5, 0, -.5 }, { .5, 0, -.5 }, { .5, 0, .5 }, { -.5, 0, .5 }, { 0, 1, 0 } };
    for (Vec3 p : corners)
        b.point(p);
    const int faces[6][3]
        = { { 0, 4, 1 }, { 1, 4, 2 }, { 2, 4, 3 }, { 3, 4, 0 }, { 0, 1, 2 }, { 0, 2, 3 } };
    for (const auto& f : faces)
        b.triangle(f[0], f[1], f[2]);
    return b.release();
}

TriMesh* makeSphere(int n)
{
    if (!precisionOk(n))
        return nullptr;
    const int64_t N = n;
    const int64_t south = (N - 2) * N + 1;
    Builder b(south + 1, 2 * (N - 1) * (N - 2));
    if (!b.ok())
        return nullptr;
    b.point({ 0, 1, 0 });
    for (int64_t k = 1; k <= N - 2; ++k) {
        double a = (0.5 - double(k) / double(N - 1)) * kPi;
        for (int64_t j = 0; j < N; ++j) {
            double lon = kTwoPi * double(j) / double(N - 1);
            b.point({ std::cos(lon) * std::cos(a), std::sin(a), std::sin(lon) * std::cos(a) });
        }
    }
    b.point({ 0, -1, 0 });
    for (int64_t j = 1; j <= N - 1; ++j)
        b.triangle(0, j, j + 1);
    for (int64_t k = 1; k <= N - 3; ++k) {
        int64_t s = 1 + (k - 1) * N;
        for (int64_t j = 0; j <= N - 2; ++j) {
            b.triangle(s + j, s + j + 1, s + N + j);
            b.triangle(s + j + 1, s + N + j + 1, s + N + j);
        }
    }
    for (int64_t j = 0; j <= N - 2; ++j)
        b.triangle((N - 3) * N + 1 + j, (N - 3) * N + 2 + j, south);
    return b.release();
}

TriMesh* makeDisc(Vec3 normal, double r, int n)
{
    if (!precisionOk(n) || !finite(normal) || !std::isfinite(r))
        return nullptr;
    Builder b(int64_t(n) + 1, n);
    if (!b.ok())
        return nullptr;
    Vec3 u = perpendicular(normal);
    Vec3 w = normalise(cross(normal, u));
    b.point({ 0, 0, 0 });
    for (int64_t k = 1; k <= n; ++k)
        b.point(circlePoint(u, w, r, k - 1, n));
    for (int64_t k = 1; k <= n; ++k)
        b.triangle(0, k, k % n + 1);
    return b.release();
}

// Two unit vectors spanning the plane across axis, in which circles are laid out.
static std::pair<Vec3, Vec3> crossSection(Vec3 axis)
{
    const Vec3 d = normalise(axis);
    const Vec3 u = perpendicular(d);
    return { u, normalise(cross(u, d)) };
}

TriMesh* makeCone(Vec3 axis, double r, int n)
{
    if (!precisionOk(n) || !finite(axis) || !std::isfinite(r))
        return nullptr;
    Builder b(int64_t(n) + 2, 2 * int64_t(n));
    if (!b.ok())
        return nullptr;
    const auto [u, w] = crossSection(axis);
    b.point({ 0, 0, 0 });
    b.point(axis);
    for (int64_t k = 0; k < n; ++k)
        b.point(circlePoint(u, w, r, k, n));
    for (int64_t k = 0; k < n; ++k) {
        int64_t j = k + 2, j2 = (k + 1) % n + 2;
        b.triangle(0, j, j2);
        b.triangle(1, j, j2);
    }
    return b.release();
}

TriMesh* makeTruncatedCone(Vec3 axis, double r1, double r2, int n)
{
    if (!precisionOk(n) || !finite(axis) || !std::isfinite(r1) || !std::isfinite(r2))
        return nullptr;
    Builder b(2 * int64_t(n) + 2, 4 * int64_t(n));
    if (!b.ok())
        return nullptr;
    const auto [u, w] = crossSection(axis);
    b.point({ 0, 0, 0 });
    b.point(axis);
    for (int64_t k = 0; k < n; ++k)
        b.point(circlePoint(u, w, r1, k, n));
    for (int64_t k = 0; k < n; ++k)
        b.point(axis + circlePoint(u, w, r2, k, n));
    for (int64_t k = 0; k < n; ++k) {
        int64_t j = k + 2, j2 = (k + 1) % n + 2;
        b.triangle(0, j, j2);
        b.triangle(1, j + n, j2 + n);
        b.triangle(j, j2, j2 + n);
        b.triangle(j, j2 + n, j + n);
    }
    return b.release();
}

TriMesh* makeTube(const Vec3* points, int count, double r, int n)
{
    if (!points || count < 2 || !precisionOk(n) || !std::isfinite(r))
        return nullptr;
    for (int i = 0; i < count; ++i)
        if (!finite(points[i]))
            return nullptr;
    const int64_t m = count;
    if (m * n > TRIMESH_MAX_COUNT)
        return nullptr;
    return guarded([&]() -> TriMesh* {
        Builder b(m * n, 2 * int64_t(n) * (m - 1));
        if (!b.ok())
            return nullptr;
        std::vector<Vec3> dirs(static_cast<size_t>(m - 1));
        for (int64_t k = 0; k + 1 < m; ++k)
            dirs[size_t(k)] = normalise(points[k + 1] - points[k]);
        Vec3 u = perpendicular(dirs[0]);
        Vec3 w = normalise(cross(u, dirs[0]));
        std::vector<Vec3> ring(static_cast<size_t>(n));
        for (int64_t j = 0; j < n; ++j) {
            ring[size_t(j)] = points[0] + circlePoint(u, w, r, j, n);
            b.point(ring[size_t(j)]);
        }
        for (int64_t k = 0; k + 1 < m; ++k) {
            const Vec3 dk = dirs[size_t(k)];
            const Vec3 next = points[k + 1];
            Vec3 plane = k < m - 2 ? normalise(normalise(dirs[size_t(k + 1)]) + dk) : dk;
            // A path that turns straight back has no bisecting plane: the ring is
            // then cut square to the segment instead of collapsing onto the origin.
            if (std::fabs(dot(dk, plane)) < 1e-12)
                plane = dk;
            const double along = dot(dk, plane);
            for (Vec3& q : ring) {
                if (std::fabs(along) < 1e-12)
                    q = q + (next - points[k]); // zero-length segment: ring moves with it
                else
                    q = q + (dot(next - q, plane) / along) * dk;
                b.point(q);
            }
        }
        for (int64_t k = 0; k + 1 < m; ++k)
            for (int64_t j = 0; j < n; ++j) {
                int64_t a = k * n + j, bb = (k + 1) * n + j;
                int64_t a2 = k * n + (j + 1) % n, b2 = (k + 1) * n + (j + 1) % n;
                b.triangle(a, bb, a2);
                b.triangle(bb, b2, a2);
            }
        return b.release();
    });
}

TriMesh* makeCylinder(Vec3 axis, double r, int n)
{
    const Vec3 path[2] = { { 0, 0, 0 }, axis };
    return makeTube(path, 2, r, n);
}

TriMesh* makeTorus(Vec3 normal, double bigR, double r, int bigN, int n)
{
    if (!precisionOk(bigN) || !precisionOk(n) || !finite(normal) || !std::isfinite(bigR))
        return nullptr;
    if (int64_t(bigN) + 1 > TRIMESH_MAX_COUNT / 3)
        return nullptr;
    return guarded([&]() -> TriMesh* {
        Vec3 u = perpendicular(normal);
        Vec3 w = normalise(cross(normal, u));
        std::vector<Vec3> path(size_t(bigN) + 1);
        for (int64_t k = 0; k <= bigN; ++k)
            path[size_t(k)] = circlePoint(u, w, bigR, k, bigN);
        return makeTube(path.data(), bigN + 1, r, n);
    });
}

} // namespace vexa::mesh
