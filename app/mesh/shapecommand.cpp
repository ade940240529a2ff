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
        case ShapeKind::BSpline: // its values belong to the 3D view
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
