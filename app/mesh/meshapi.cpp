#include "mesh/meshapi.h"

#include "mesh/meshformats.h"
#include "mesh/primitives.h"

#include "vexa_guard.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace vexa::mesh {

namespace {

struct TriMeshDeleter {
    void operator()(TriMesh* mesh) const { triMeshFree(&mesh); }
};
using TriMeshPtr = std::unique_ptr<TriMesh, TriMeshDeleter>;

bool hasPoints(const Mesh3d* mesh)
{
    return mesh && mesh->nbPoints > 0 && mesh->points;
}

// Runs op on a float copy of the coordinates and copies the result back: the
// working form is single precision and the exchange form follows it.
template <typename Op> bool onFloatCopy(Mesh3d* mesh, Op op)
{
    if (!hasPoints(mesh))
        return false;
    return guarded([&] {
        const size_t n = size_t(mesh->nbPoints) * 3;
        std::vector<float> points(n);
        for (size_t i = 0; i < n; ++i)
            points[i] = float(mesh->points[i]);
        TriMesh work {};
        work.points = points.data();
        work.nbPoints = mesh->nbPoints;
        op(&work);
        for (size_t i = 0; i < n; ++i)
            mesh->points[i] = points[i];
        return true;
    });
}

// matrix = matrix x step (row-major 4x4).
void postMultiply(double matrix[16], const double step[16])
{
    double out[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k)
                s += matrix[i * 4 + k] * step[k * 4 + j];
            out[i * 4 + j] = s;
        }
    std::memcpy(matrix, out, sizeof out);
}

void identity(double m[16])
{
    for (int i = 0; i < 16; ++i)
        m[i] = i % 5 == 0 ? 1.0 : 0.0;
}

Mesh3d* withPlacement(TriMesh* shape, const char* name)
{
    TriMeshPtr owned(shape);
    Mesh3d* mesh = triMeshToMesh3d(owned.get());
    if (!mesh)
        return nullptr;
    auto* extra = static_cast<Mesh3dExtra*>(std::calloc(1, sizeof(Mesh3dExtra)));
    if (!extra) {
        vexaMesh3dFree(mesh);
        return nullptr;
    }
    identity(extra->matrix);
    std::strncpy(extra->name, name, MESH3D_NAME_CHARS - 1);
    extra->hasMatrix = 1;
    mesh->extra = extra;
    return mesh;
}

Vec3 vec(const double* p)
{
    return { p[0], p[1], p[2] };
}

} // namespace

Mesh3d* triMeshToMesh3d(const TriMesh* mesh)
{
    if (!mesh || mesh->nbPoints <= 0 || mesh->nbTriangles <= 0 || !hasValidIndices(*mesh))
        return nullptr;
    Mesh3d* out = vexaMesh3dAlloc(mesh->nbPoints, mesh->nbTriangles);
    if (!out)
        return nullptr;
    for (size_t i = 0; i < size_t(mesh->nbPoints) * 3; ++i)
        out->points[i] = mesh->points[i];
    std::memcpy(out->triangles, mesh->triangles, size_t(mesh->nbTriangles) * 3 * sizeof(int32_t));
    return out;
}

TriMesh* mesh3dToTriMesh(const Mesh3d* mesh)
{
    if (!mesh || mesh->nbPoints < 0 || mesh->nbTriangles < 0)
        return nullptr;
    TriMesh probe {};
    probe.nbPoints = mesh->nbPoints;
    probe.nbTriangles = mesh->nbTriangles;
    probe.triangles = mesh->triangles;
    probe.points = reinterpret_cast<float*>(mesh->points); // only tested for null
    if (!hasValidIndices(probe))
        return nullptr;
    TriMesh* out = allocateTriMesh(mesh->nbPoints, mesh->nbTriangles);
    if (!out)
        return nullptr;
    for (size_t i = 0; i < size_t(mesh->nbPoints) * 3; ++i)
        out->points[i] = float(mesh->points[i]);
    if (mesh->nbTriangles > 0)
        std::memcpy(
            out->triangles, mesh->triangles, size_t(mesh->nbTriangles) * 3 * sizeof(int32_t));
    return out;
}

} // namespace vexa::mesh

using namespace vexa::mesh;
using vexa::guarded;

extern "C" {

Mesh3d* vexaMesh3dAlloc(int32_t nbPoints, int32_t nbTriangles) noexcept
{
    if (nbPoints <= 0 || nbTriangles <= 0 || nbPoints > TRIMESH_MAX_COUNT
        || nbTriangles > TRIMESH_MAX_COUNT)
        return nullptr;
    auto* mesh = static_cast<Mesh3d*>(std::calloc(1, sizeof(Mesh3d)));
    if (!mesh)
        return nullptr;
    mesh->points = static_cast<double*>(std::calloc(size_t(nbPoints) * 3, sizeof(double)));
    mesh->triangles = static_cast<int32_t*>(std::calloc(size_t(nbTriangles) * 3, sizeof(int32_t)));
    if (!mesh->points || !mesh->triangles) {
        std::free(mesh->points);
        std::free(mesh->triangles);
        std::free(mesh);
        return nullptr;
    }
    mesh->nbPoints = nbPoints;
    mesh->nbTriangles = nbTriangles;
    return mesh;
}

int vexaMesh3dFree(Mesh3d* mesh) noexcept
{
    if (!mesh)
        return 0;
    std::free(mesh->points);
    std::free(mesh->triangles);
    if (mesh->extra)
        std::free(mesh->extra->colours);
    std::free(mesh->extra);
    std::free(mesh);
    return 1;
}

int vexaMesh3dTranslate(Mesh3d* mesh, double dx, double dy, double dz) noexcept
{
    if (!onFloatCopy(mesh, [&](TriMesh* m) { triMeshTranslate(m, dx, dy, dz); }))
        return 0;
    if (mesh->extra) {
        double step[16];
        identity(step);
        step[12] = dx;
        step[13] = dy;
        step[14] = dz;
        postMultiply(mesh->extra->matrix, step);
    }
    return 1;
}

int vexaMesh3dScale(Mesh3d* mesh, double sx, double sy, double sz) noexcept
{
    if (!onFloatCopy(mesh, [&](TriMesh* m) { triMeshScale(m, sx, sy, sz); }))
        return 0;
    if (mesh->extra) {
        double step[16];
        identity(step);
        step[0] = sx;
        step[5] = sy;
        step[10] = sz;
        postMultiply(mesh->extra->matrix, step);
    }
    return 1;
}

int vexaMesh3dRotate(Mesh3d* mesh, double ax, double ay, double az, double angle) noexcept
{
    if (!onFloatCopy(mesh, [&](TriMesh* m) { triMeshRotate(m, ax, ay, az, angle); }))
        return 0;
    if (mesh->extra) {
        // The placement gets the same turn as the vertices: with row vectors,
        // v x R must give what triMeshRotate gives for v.
        double length = std::sqrt(ax * ax + ay * ay + az * az);
        if (length == 0.0)
            length = 1.0;
        const double ux = ax / length, uy = ay / length, uz = az / length;
        const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
        const double a[3][3] = {
            { c + ux * ux * t, ux * uy * t + uz * s, ux * uz * t - uy * s },
            { ux * uy * t - uz * s, c + uy * uy * t, uy * uz * t + ux * s },
            { ux * uz * t + uy * s, uy * uz * t - ux * s, c + uz * uz * t },
        };
        double step[16] = {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                step[i * 4 + j] = a[j][i];
        step[15] = 1.0;
        postMultiply(mesh->extra->matrix, step);
    }
    return 1;
}

int vexaMesh3dTransform(Mesh3d* mesh, const double m[9]) noexcept
{
    if (!m)
        return 0;
    return onFloatCopy(mesh, [&](TriMesh* work) { triMeshTransform(work, m); }) ? 1 : 0;
}

int vexaMesh3dAddColorVertices(Mesh3d* mesh, const uint8_t* colours) noexcept
{
    if (!hasPoints(mesh) || !colours)
        return 0;
    const size_t bytes = size_t(mesh->nbPoints) * 4;
    auto* copy = static_cast<uint8_t*>(std::malloc(bytes));
    auto* extra = static_cast<Mesh3dExtra*>(std::calloc(1, sizeof(Mesh3dExtra)));
    if (!copy || !extra) {
        std::free(copy);
        std::free(extra);
        return 0;
    }
    std::memcpy(copy, colours, bytes);
    extra->colours = copy;
    if (mesh->extra)
        std::free(mesh->extra->colours);
    std::free(mesh->extra);
    mesh->extra = extra;
    return 1;
}

Mesh3d* vexaMesh3dReadFromFile(const char* path) noexcept
{
    if (!path)
        return nullptr;
    return guarded([&]() -> Mesh3d* {
        TriMeshPtr mesh(readMeshFile(path, nullptr));
        return triMeshToMesh3d(mesh.get());
    });
}

Mesh3d* vexaMesh3dCube(void) noexcept
{
    return guarded([] { return withPlacement(makeCube(), "CUBE"); });
}

Mesh3d* vexaMesh3dSphere(int32_t precision) noexcept
{
    return guarded([&] { return withPlacement(makeSphere(precision), "SPHERE"); });
}

Mesh3d* vexaMesh3dCone(int32_t precision) noexcept
{
    return guarded([&] { return withPlacement(makeCone({ 0, 1, 0 }, 1.0, precision), "CONE"); });
}

Mesh3d* vexaMesh3dCylinder(int32_t precision) noexcept
{
    return guarded([&]() -> Mesh3d* {
        TriMesh* shape = makeCylinder({ 1, 0, 0 }, 1.0, precision);
        triMeshTranslate(shape, -0.5, 0, 0);
        triMeshComputeBox(shape);
        return withPlacement(shape, "CYLINDER");
    });
}

Mesh3d* vexaMesh3dArrow(
    const double from[3], const double to[3], double radius, int32_t precision) noexcept
{
    if (!from || !to)
        return nullptr;
    return guarded([&]() -> Mesh3d* {
        const Vec3 a = vec(from), b = vec(to);
        const Vec3 d { b.x - a.x, b.y - a.y, b.z - a.z };
        if (d.x == 0 && d.y == 0 && d.z == 0)
            return nullptr;
        TriMeshPtr shaft(makeCylinder({ 0.8 * d.x, 0.8 * d.y, 0.8 * d.z }, radius / 2, precision));
        TriMeshPtr head(makeCone({ 0.2 * d.x, 0.2 * d.y, 0.2 * d.z }, radius, precision));
        if (!shaft || !head)
            return nullptr;
        triMeshTranslate(shaft.get(), a.x, a.y, a.z);
        triMeshTranslate(head.get(), a.x + 0.8 * d.x, a.y + 0.8 * d.y, a.z + 0.8 * d.z);
        TriMeshPtr arrow(triMeshMerge(shaft.get(), head.get()));
        return triMeshToMesh3d(arrow.get());
    });
}

Mesh3d* vexaMesh3dLine(
    const double* points, int32_t count, double radius, int32_t precision) noexcept
{
    if (!points || count < 2)
        return nullptr;
    return guarded([&]() -> Mesh3d* {
        std::vector<Vec3> path(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i)
            path[size_t(i)] = vec(points + size_t(i) * 3);
        TriMeshPtr tube(makeTube(path.data(), count, radius, precision));
        return triMeshToMesh3d(tube.get());
    });
}

} // extern "C"
