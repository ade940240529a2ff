#include "mesh/shapecommand.h"

#include "vexa_guard.hpp"

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

} // namespace

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
        return makeDisc(s.discNormal, s.discRadius, s.discPrecision);
    case ShapeKind::Sphere:
        return scaled(
            makeSphere(s.spherePrecision), s.sphereRadius, s.sphereRadius, s.sphereRadius);
    case ShapeKind::Ellipsoid:
        return scaled(makeSphere(s.ellipsoidPrecision), s.ellipsoidRadii.x, s.ellipsoidRadii.y,
            s.ellipsoidRadii.z);
    case ShapeKind::Cube:
        return scaled(makeCube(), s.cubeSide, s.cubeSide, s.cubeSide);
    case ShapeKind::Box:
        return scaled(makeCube(), s.boxSize.x, s.boxSize.y, s.boxSize.z);
    case ShapeKind::Torus:
        return makeTorus(s.torusNormal, s.torusRadius, s.torusSectionRadius, s.torusPrecision,
            s.torusSectionPrecision);
    case ShapeKind::Pyramid:
        return scaled(makePyramid(), s.pyramidBase, s.pyramidHeight, s.pyramidBase);
    case ShapeKind::Cone: {
        // The normal is taken as typed (not normalised): its length scales the height.
        const Vec3 axis = times(s.coneNormal, s.coneHeight);
        if (s.coneRadius2 == 0.0)
            return makeCone(axis, s.coneRadius1, s.conePrecision);
        return makeTruncatedCone(axis, s.coneRadius1, s.coneRadius2, s.conePrecision);
    }
    case ShapeKind::Cylinder:
        return makeCylinder(
            times(s.cylinderNormal, s.cylinderLength), s.cylinderRadius, s.cylinderPrecision);
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
