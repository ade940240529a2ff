#include "mesh/shapecommand.h"

#include "vexa_guard.hpp"
#include "vexa_remembered.hpp"

#include <algorithm>
#include <iterator>
#include <memory>

namespace vexa::mesh {

namespace {

constexpr double kDrawMax = 32767.0;

struct TriMeshDeleter {
    void operator()(TriMesh* mesh) const { triMeshFree(&mesh); }
};

TriMesh* scaled(TriMesh* mesh, double sx, double sy, double sz)
{
    triMeshScale(mesh, sx, sy, sz);
    triMeshComputeBox(mesh);
    return mesh;
}

Vec3 times(Vec3 v, double s)
{
    return { v.x * s, v.y * s, v.z * s };
}

// Walks the copies in order, x outermost and z innermost, calling visit with each
// place; the three draws of a copy are made just before its visit so that callers
// that draw more (noise) keep the one sequence in copy order.
template <typename Visit>
void forEachCopy(const ShapeSettings& s, const RandomDraw& draw, Visit visit)
{
    if (!s.grid) {
        visit(s.position);
        return;
    }
    const GridAxis& ax = s.axes[0];
    const GridAxis& ay = s.axes[1];
    const GridAxis& az = s.axes[2];
    // Centred on the position for odd and even counts alike.
    auto offset = [](const GridAxis& a, int i) { return (i - (a.count - 1) / 2.0) * a.step; };
    for (int i = 0; i < ax.count; ++i)
        for (int j = 0; j < ay.count; ++j)
            for (int k = 0; k < az.count; ++k) {
                Vec3 p;
                p.x = s.position.x + offset(ax, i) + ax.variation * draw() / kDrawMax;
                p.y = s.position.y + offset(ay, j) + ay.variation * draw() / kDrawMax;
                p.z = s.position.z + offset(az, k) + az.variation * draw() / kDrawMax;
                visit(p);
            }
}

Remembered<ShapeSettings>& settingsStore()
{
    static Remembered<ShapeSettings> settings;
    return settings;
}

} // namespace

ShapeSettings shapeSettings()
{
    return settingsStore().copy();
}

void keepShapeCommandValues(const ShapeSettings& v)
{
    settingsStore().update([&v](ShapeSettings& s) {
        s.kind = v.kind;
        s.position = v.position;
        s.name = v.name;
        s.grid = v.grid;
        std::copy(std::begin(v.axes), std::end(v.axes), std::begin(s.axes));
        s.noise = v.noise;
        s.noiseAmplitude = v.noiseAmplitude;
    });
}

void keepShapeValues(const ShapeSettings& v, ShapeKind kind)
{
    settingsStore().update([&v, kind](ShapeSettings& s) {
        switch (kind) {
        case ShapeKind::Disc:
            s.disc = v.disc;
            break;
        case ShapeKind::Sphere:
            s.sphere = v.sphere;
            break;
        case ShapeKind::Ellipsoid:
            s.ellipsoid = v.ellipsoid;
            break;
        case ShapeKind::Cube:
            s.cube = v.cube;
            break;
        case ShapeKind::Box:
            s.box = v.box;
            break;
        case ShapeKind::Torus:
            s.torus = v.torus;
            break;
        case ShapeKind::Pyramid:
            s.pyramid = v.pyramid;
            break;
        case ShapeKind::Cone:
            s.cone = v.cone;
            break;
        case ShapeKind::Cylinder:
            s.cylinder = v.cylinder;
            break;
        case ShapeKind::BSpline:
            s.bspline = v.bspline;
            break;
        }
    });
}

void resetShapeSettings()
{
    settingsStore().reset();
}

std::string shapeCommandDescription()
{
    return "Forme%tDisque,Sphere,Ellipsoïde,Cube,Parallèlipipède,Tore,Pyramide,Cone,Cylindre,"
           "BSpline%l%n"
           "Position%tOx%fOy%fOz%f%n"
           "Nom%s%n"
           "Mosaïque%c%n"
           "X%tNb%dPas%fVariation%f%n"
           "Y%tNb%dPas%fVariation%f%n"
           "Z%tNb%dPas%fVariation%f%n"
           "Bruit%c%f%n";
}

std::string shapeDescription(ShapeKind kind)
{
    const char* normal = "Vecteur normal%tX%fY%fZ%f%n";
    switch (kind) {
    case ShapeKind::Disc:
        return std::string(normal) + "Rayon%f%nPrécision%d%n";
    case ShapeKind::Sphere:
        return "Rayon%f%nPrécision%d%n";
    case ShapeKind::Ellipsoid:
        return "Rayons%tRx%fRy%fRz%f%nPrécision%d%n";
    case ShapeKind::Cube:
        return "Côté%f%n";
    case ShapeKind::Box:
        return "Largeur%fHauteur%fProfondeur%f%n";
    case ShapeKind::Torus:
        return std::string(normal) + "Grand Rayon%fPrécision%d%nPetit Rayon%fPrécision%d%n";
    case ShapeKind::Pyramid:
        return "Largeur Base%f%nHauteur%f%n";
    case ShapeKind::Cone:
        return std::string(normal) + "Rayon 1%fRayon 2%fPrécision%d%nHauteur%f%n";
    case ShapeKind::Cylinder:
        return std::string(normal) + "Rayon%fPrécision%d%nLongueur%f%n";
    case ShapeKind::BSpline:
        break;
    }
    return {};
}

std::string bsplineDescription()
{
    return "Degré%d%n"
           "Grille U%tNb%dPas%fDivision%d%n"
           "Grille V%tNb%dPas%fDivision%d%n"
           "Elevation%f%n";
}

namespace {

// Clamped uniform knots of a B-spline of degree p on n control points, over [0, 1].
std::vector<double> clampedKnots(int n, int p)
{
    std::vector<double> knots(std::size_t(n + p + 1));
    const int inner = n - p;
    for (int i = 0; i < n + p + 1; ++i)
        knots[std::size_t(i)] = i <= p ? 0.0 : i >= n ? 1.0 : double(i - p) / inner;
    return knots;
}

// The n basis functions of degree p at t (Cox-de Boor, the last knot closing the
// last span).
std::vector<double> basis(const std::vector<double>& knots, int n, int p, double t)
{
    std::vector<double> b(knots.size() - 1, 0.0);
    for (std::size_t i = 0; i + 1 < knots.size(); ++i)
        if ((knots[i] <= t && t < knots[i + 1])
            || (t >= 1.0 && knots[i] < 1.0 && knots[i + 1] >= 1.0))
            b[i] = 1.0;
    for (int d = 1; d <= p; ++d)
        for (std::size_t i = 0; i + d + 1 < knots.size(); ++i) {
            const double left = knots[i + d] - knots[i];
            const double right = knots[i + d + 1] - knots[i + 1];
            b[i] = (left > 0 ? (t - knots[i]) / left * b[i] : 0.0)
                + (right > 0 ? (knots[i + d + 1] - t) / right * b[i + 1] : 0.0);
        }
    b.resize(std::size_t(n));
    return b;
}

} // namespace

TriMesh* makeBSplineSurface(const BSplineValues& values, const RandomDraw& draw)
{
    const int nu = std::clamp(values.u.count, 2, 64), nv = std::clamp(values.v.count, 2, 64);
    const int pu = std::clamp(values.degree, 1, nu - 1), pv = std::clamp(values.degree, 1, nv - 1);
    const int su = (nu - pu) * std::clamp(values.u.divisions, 1, 64) + 1;
    const int sv = (nv - pv) * std::clamp(values.v.divisions, 1, 64) + 1;
    std::vector<Vec3> control(std::size_t(nu) * nv);
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j)
            control[std::size_t(i) * nv + j] = { (i - (nu - 1) / 2.0) * values.u.step,
                values.elevation * (draw ? draw() : 0) / kDrawMax,
                (j - (nv - 1) / 2.0) * values.v.step };
    TriMesh* mesh = allocateTriMesh(std::int64_t(su) * sv, 2 * std::int64_t(su - 1) * (sv - 1));
    if (!mesh)
        return nullptr;
    const std::vector<double> ku = clampedKnots(nu, pu), kv = clampedKnots(nv, pv);
    std::vector<std::vector<double>> bv(static_cast<std::size_t>(sv));
    for (int b = 0; b < sv; ++b)
        bv[std::size_t(b)] = basis(kv, nv, pv, double(b) / (sv - 1));
    float* out = mesh->points;
    for (int a = 0; a < su; ++a) {
        const std::vector<double> bu = basis(ku, nu, pu, double(a) / (su - 1));
        for (int b = 0; b < sv; ++b) {
            Vec3 p;
            for (int i = 0; i < nu; ++i)
                for (int j = 0; j < nv; ++j) {
                    const double w = bu[std::size_t(i)] * bv[std::size_t(b)][std::size_t(j)];
                    const Vec3& c = control[std::size_t(i) * nv + j];
                    p.x += w * c.x;
                    p.y += w * c.y;
                    p.z += w * c.z;
                }
            *out++ = float(p.x);
            *out++ = float(p.y);
            *out++ = float(p.z);
        }
    }
    std::int32_t* t = mesh->triangles;
    for (int a = 0; a + 1 < su; ++a)
        for (int b = 0; b + 1 < sv; ++b) {
            const std::int32_t v00 = a * sv + b, v01 = v00 + 1, v10 = v00 + sv, v11 = v10 + 1;
            *t++ = v00;
            *t++ = v01;
            *t++ = v11;
            *t++ = v00;
            *t++ = v11;
            *t++ = v10;
        }
    triMeshComputeBox(mesh);
    return mesh;
}

std::vector<Vec3> shapeCopyPositions(const ShapeSettings& settings, const RandomDraw& draw)
{
    std::vector<Vec3> places;
    forEachCopy(settings, draw, [&](Vec3 p) { places.push_back(p); });
    return places;
}

TriMesh* makeShapeFromSettings(const ShapeSettings& s)
{
    switch (s.kind) {
    case ShapeKind::Disc:
        return makeDisc(s.disc.normal, s.disc.radius, s.disc.precision);
    case ShapeKind::Sphere:
        return scaled(
            makeSphere(s.sphere.precision), s.sphere.radius, s.sphere.radius, s.sphere.radius);
    case ShapeKind::Ellipsoid:
        return scaled(makeSphere(s.ellipsoid.precision), s.ellipsoid.radii.x, s.ellipsoid.radii.y,
            s.ellipsoid.radii.z);
    case ShapeKind::Cube:
        return scaled(makeCube(), s.cube.side, s.cube.side, s.cube.side);
    case ShapeKind::Box:
        return scaled(makeCube(), s.box.size.x, s.box.size.y, s.box.size.z);
    case ShapeKind::Torus:
        return makeTorus(s.torus.normal, s.torus.radius, s.torus.sectionRadius, s.torus.precision,
            s.torus.sectionPrecision);
    case ShapeKind::Pyramid:
        return scaled(makePyramid(), s.pyramid.base, s.pyramid.height, s.pyramid.base);
    case ShapeKind::Cone: {
        // The normal is taken as typed (not normalised): its length scales the height.
        const Vec3 axis = times(s.cone.normal, s.cone.height);
        if (s.cone.radius2 == 0.0)
            return makeCone(axis, s.cone.radius1, s.cone.precision);
        return makeTruncatedCone(axis, s.cone.radius1, s.cone.radius2, s.cone.precision);
    }
    case ShapeKind::Cylinder:
        return makeCylinder(
            times(s.cylinder.normal, s.cylinder.length), s.cylinder.radius, s.cylinder.precision);
    case ShapeKind::BSpline:
        break;
    }
    return nullptr;
}

void addShapeNoise(TriMesh* mesh, double amplitude, Vec3 centre, const RandomDraw& draw)
{
    if (!mesh || !mesh->points || !draw)
        return;
    const double c[3] = { centre.x, centre.y, centre.z };
    for (int64_t i = 0; i < mesh->nbPoints; ++i) {
        if (draw() / kDrawMax <= 0.45)
            continue;
        float* p = mesh->points + i * 3;
        for (int k = 0; k < 3; ++k)
            p[k] = float(c[k] + (p[k] - c[k]) * (1.0 + amplitude * draw() / kDrawMax));
    }
}

std::vector<TriMesh*> makeShapeCopies(const ShapeSettings& settings, const RandomDraw& draw)
{
    std::vector<TriMesh*> meshes;
    if (!draw)
        return meshes;
    try {
        forEachCopy(settings, draw, [&](Vec3 place) {
            std::unique_ptr<TriMesh, TriMeshDeleter> mesh(makeShapeFromSettings(settings));
            if (!mesh)
                return;
            if (settings.noise)
                addShapeNoise(mesh.get(), settings.noiseAmplitude, { 0, 0, 0 }, draw);
            triMeshTranslate(mesh.get(), place.x, place.y, place.z);
            triMeshComputeBox(mesh.get());
            meshes.push_back(mesh.get());
            mesh.release();
        });
    } catch (...) {
        for (TriMesh*& mesh : meshes)
            triMeshFree(&mesh);
        meshes.clear();
    }
    return meshes;
}

} // namespace vexa::mesh
