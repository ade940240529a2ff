#include "scene/scenemath.h"

#include "mesh/trimesh.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace vexa::scene {

double length(Vec3 a)
{
    return std::sqrt(dot(a, a));
}

Vec3 normalised(Vec3 a)
{
    const double l = length(a);
    return l > 0 ? a * (1.0 / l) : a;
}

bool isFinite(Vec3 a)
{
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

Mat4 identity()
{
    return { 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1 };
}

Mat4 operator*(const Mat4& a, const Mat4& b)
{
    Mat4 r {};
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row) {
            double s = 0;
            for (int k = 0; k < 4; ++k)
                s += a[k * 4 + row] * b[col * 4 + k];
            r[col * 4 + row] = s;
        }
    return r;
}

Mat4 translation(Vec3 t)
{
    Mat4 m = identity();
    m[12] = t.x;
    m[13] = t.y;
    m[14] = t.z;
    return m;
}

Mat4 scaling(Vec3 s)
{
    Mat4 m = identity();
    m[0] = s.x;
    m[5] = s.y;
    m[10] = s.z;
    return m;
}

Mat4 rotation(Vec3 axis, double angle)
{
    const Vec3 u = normalised(axis);
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    Mat4 m = identity();
    m[0] = c + u.x * u.x * t;
    m[1] = u.x * u.y * t + u.z * s;
    m[2] = u.x * u.z * t - u.y * s;
    m[4] = u.x * u.y * t - u.z * s;
    m[5] = c + u.y * u.y * t;
    m[6] = u.y * u.z * t + u.x * s;
    m[8] = u.x * u.z * t + u.y * s;
    m[9] = u.y * u.z * t - u.x * s;
    m[10] = c + u.z * u.z * t;
    return m;
}

Mat4 meshRotation(Vec3 axis, double angle)
{
    return rotation(axis, -angle);
}

std::optional<Mat4> inverse(const Mat4& m)
{
    // Cofactor expansion; exact enough for placements and projections.
    Mat4 inv {};
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14]
        + m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15]
        - m[8] * m[7] * m[14] - m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13]
        + m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14]
        - m[8] * m[6] * m[13] - m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15]
        - m[9] * m[3] * m[14] - m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14]
        + m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13]
        - m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13]
        + m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14]
        + m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14]
        - m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13]
        + m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13]
        - m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10]
        - m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10]
        + m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9]
        - m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9]
        + m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    const double det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    if (det == 0 || !std::isfinite(det))
        return std::nullopt;
    for (double& v : inv)
        v /= det;
    return inv;
}

Vec3 transformPoint(const Mat4& m, Vec3 p)
{
    const double x = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
    const double y = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
    const double z = m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14];
    const double w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
    if (w == 1 || w == 0)
        return { x, y, z };
    return { x / w, y / w, z / w };
}

Vec3 transformDirection(const Mat4& m, Vec3 d)
{
    return { m[0] * d.x + m[4] * d.y + m[8] * d.z, m[1] * d.x + m[5] * d.y + m[9] * d.z,
        m[2] * d.x + m[6] * d.y + m[10] * d.z };
}

Mat4 lookAt(Vec3 eye, Vec3 target, Vec3 up)
{
    const Vec3 f = normalised(target - eye);
    const Vec3 s = normalised(cross(f, up));
    const Vec3 u = cross(s, f);
    Mat4 m = identity();
    m[0] = s.x;
    m[4] = s.y;
    m[8] = s.z;
    m[1] = u.x;
    m[5] = u.y;
    m[9] = u.z;
    m[2] = -f.x;
    m[6] = -f.y;
    m[10] = -f.z;
    m[12] = -dot(s, eye);
    m[13] = -dot(u, eye);
    m[14] = dot(f, eye);
    return m;
}

Mat4 perspective(double fovY, double aspect, double zNear, double zFar)
{
    const double f = 1.0 / std::tan(fovY / 2);
    Mat4 m {};
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (zFar + zNear) / (zNear - zFar);
    m[11] = -1;
    m[14] = 2 * zFar * zNear / (zNear - zFar);
    return m;
}

std::optional<Ray> rayFromScreen(const Mat4& projView, double px, double py, int width, int height)
{
    if (width <= 0 || height <= 0)
        return std::nullopt;
    const auto inv = inverse(projView);
    if (!inv)
        return std::nullopt;
    const double nx = 2 * px / width - 1;
    const double ny = 1 - 2 * py / height;
    const Vec3 nearPoint = transformPoint(*inv, { nx, ny, -1 });
    const Vec3 farPoint = transformPoint(*inv, { nx, ny, 1 });
    if (!isFinite(nearPoint) || !isFinite(farPoint))
        return std::nullopt;
    return Ray { nearPoint, farPoint - nearPoint };
}

std::optional<Vec3> projectToScreen(const Mat4& projView, Vec3 p, int width, int height)
{
    const double w = projView[3] * p.x + projView[7] * p.y + projView[11] * p.z + projView[15];
    if (!(w > 0))
        return std::nullopt;
    const Vec3 ndc = transformPoint(projView, p);
    return Vec3 { (ndc.x + 1) / 2 * width, (1 - ndc.y) / 2 * height, ndc.z };
}

std::optional<double> rayTriangle(const Ray& ray, Vec3 a, Vec3 b, Vec3 c)
{
    // Moller-Trumbore. NaN corners fail every comparison below and give no hit.
    const Vec3 e1 = b - a, e2 = c - a;
    const Vec3 p = cross(ray.direction, e2);
    const double det = dot(e1, p);
    if (!(std::fabs(det) > 1e-300))
        return std::nullopt;
    const double invDet = 1 / det;
    const Vec3 s = ray.origin - a;
    const double u = dot(s, p) * invDet;
    if (!(u >= 0 && u <= 1))
        return std::nullopt;
    const Vec3 q = cross(s, e1);
    const double v = dot(ray.direction, q) * invDet;
    if (!(v >= 0 && u + v <= 1))
        return std::nullopt;
    const double t = dot(e2, q) * invDet;
    if (!(t >= 0))
        return std::nullopt;
    return t;
}

void Box::add(Vec3 p)
{
    if (!isFinite(p))
        return;
    if (empty()) {
        min = max = p;
        return;
    }
    min = { std::fmin(min.x, p.x), std::fmin(min.y, p.y), std::fmin(min.z, p.z) };
    max = { std::fmax(max.x, p.x), std::fmax(max.y, p.y), std::fmax(max.z, p.z) };
}

void Box::add(const Box& b)
{
    if (b.empty())
        return;
    add(b.min);
    add(b.max);
}

Box meshBox(const TriMesh* mesh)
{
    Box box;
    if (!mesh || !mesh->points)
        return box;
    for (int32_t i = 0; i < mesh->nbPoints; ++i) {
        const float* p = mesh->points + std::size_t(i) * 3;
        box.add(Vec3 { p[0], p[1], p[2] });
    }
    return box;
}

Box transformBox(const Mat4& m, const Box& b)
{
    Box out;
    if (b.empty())
        return out;
    for (int corner = 0; corner < 8; ++corner)
        out.add(transformPoint(m,
            { corner & 1 ? b.max.x : b.min.x, corner & 2 ? b.max.y : b.min.y,
                corner & 4 ? b.max.z : b.min.z }));
    return out;
}

Sphere boundingSphere(const Box& b)
{
    if (b.empty())
        return {};
    return { b.centre(), length(b.max - b.min) / 2 };
}

std::optional<double> rayMesh(const Ray& worldRay, const Mat4& model, const TriMesh* mesh)
{
    if (!mesh || !mesh->points || !mesh->triangles)
        return std::nullopt;
    const auto inv = inverse(model);
    if (!inv)
        return std::nullopt;
    // The same parameter t names the same point in both spaces (the map is affine).
    const Ray ray { transformPoint(*inv, worldRay.origin),
        transformDirection(*inv, worldRay.direction) };
    const Sphere bound = boundingSphere(meshBox(mesh));
    const Vec3 toCentre = bound.centre - ray.origin;
    const double dd = dot(ray.direction, ray.direction);
    if (dd > 0) {
        const Vec3 closest
            = ray.origin + ray.direction * std::fmax(0.0, dot(toCentre, ray.direction) / dd);
        if (length(closest - bound.centre) > bound.radius * 1.0001 + 1e-9)
            return std::nullopt;
    }
    auto vertex = [&](int32_t index) {
        const float* p = mesh->points + std::size_t(index) * 3;
        return Vec3 { p[0], p[1], p[2] };
    };
    double best = std::numeric_limits<double>::infinity();
    for (int32_t t = 0; t < mesh->nbTriangles; ++t) {
        const int32_t* tri = mesh->triangles + std::size_t(t) * 3;
        if (tri[0] < 0 || tri[1] < 0 || tri[2] < 0 || tri[0] >= mesh->nbPoints
            || tri[1] >= mesh->nbPoints || tri[2] >= mesh->nbPoints)
            continue;
        if (auto hit = rayTriangle(ray, vertex(tri[0]), vertex(tri[1]), vertex(tri[2])))
            best = std::fmin(best, *hit);
    }
    if (std::isinf(best))
        return std::nullopt;
    return best;
}

Frustum frustumOf(const Mat4& m)
{
    // Gribb and Hartmann: each plane is the last row of the matrix plus or minus one
    // of the first three (column-major: row r is m[r], m[4 + r], m[8 + r], m[12 + r]).
    Frustum f;
    const auto row = [&m](int r) {
        return std::array<double, 4> { m[std::size_t(r)], m[std::size_t(4 + r)],
            m[std::size_t(8 + r)], m[std::size_t(12 + r)] };
    };
    const std::array<double, 4> w = row(3);
    for (int i = 0; i < 6; ++i) {
        const std::array<double, 4> r = row(i / 2);
        const double sign = i % 2 == 0 ? 1 : -1;
        std::array<double, 4> plane {};
        for (std::size_t k = 0; k < 4; ++k)
            plane[k] = w[k] + sign * r[k];
        const double norm
            = std::sqrt(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2]);
        if (!(norm > 0) || !std::isfinite(norm) || !std::isfinite(plane[3]))
            continue;
        for (double& v : plane)
            v /= norm;
        f.planes[std::size_t(i)] = plane;
        f.used[std::size_t(i)] = true;
    }
    return f;
}

SphereSide classifySphere(const Frustum& frustum, Vec3 centre, double radius)
{
    if (!isFinite(centre) || !std::isfinite(radius))
        return SphereSide::Crossing;
    bool inside = true;
    for (std::size_t i = 0; i < 6; ++i) {
        if (!frustum.used[i])
            continue;
        const auto& p = frustum.planes[i];
        const double distance = p[0] * centre.x + p[1] * centre.y + p[2] * centre.z + p[3];
        if (distance < -radius)
            return SphereSide::Outside;
        if (distance < radius)
            inside = false;
    }
    return inside ? SphereSide::Inside : SphereSide::Crossing;
}

namespace {

bool isLeaf(const MeshBlock& block)
{
    return std::none_of(std::begin(block.children), std::end(block.children),
        [](const MeshBlock* c) { return c != nullptr; });
}

// Depth-first over the tree with an explicit stack; test(block) says whether to skip
// the block (false), take it and all below untested (true, set *untested) or go on.
template <typename Test>
void walkLeaves(const MeshBlock* root, std::vector<const MeshBlock*>& leaves, Test test)
{
    std::vector<std::pair<const MeshBlock*, bool>> stack;
    if (root)
        stack.emplace_back(root, false);
    while (!stack.empty()) {
        auto [block, untested] = stack.back();
        stack.pop_back();
        if (!untested && !test(*block, untested))
            continue;
        if (isLeaf(*block)) {
            leaves.push_back(block);
            continue;
        }
        for (int o = 7; o >= 0; --o)
            if (block->children[o])
                stack.emplace_back(block->children[o], untested);
    }
}

} // namespace

void visibleBlocks(
    const MeshBlock* root, const Frustum& frustum, std::vector<const MeshBlock*>& leaves)
{
    const int level = root && root->shared ? root->shared->visibilityLevel : 0;
    walkLeaves(root, leaves, [&](const MeshBlock& block, bool& untested) {
        if (block.depth > level) {
            untested = true;
            return true;
        }
        const SphereSide side = classifySphere(
            frustum, { block.centre[0], block.centre[1], block.centre[2] }, double(block.radius));
        untested = side == SphereSide::Inside;
        return side != SphereSide::Outside;
    });
}

void partitionLeaves(const MeshBlock* root, std::vector<const MeshBlock*>& leaves)
{
    walkLeaves(root, leaves, [](const MeshBlock&, bool& untested) {
        untested = true;
        return true;
    });
}

} // namespace vexa::scene
