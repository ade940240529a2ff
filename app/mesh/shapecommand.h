// The shape command of the 3D view without its dialogs: the remembered settings,
// the parameter descriptions the dialogs are built from, and the meshes made from
// the settings (copies placed on the "Mosaïque" grid, optional "Bruit" noise).
#pragma once

#include "mesh/primitives.h"
#include "mesh/trimesh.h"

#include <functional>
#include <string>
#include <vector>

namespace vexa::mesh {

// Order of the "Forme" list.
enum class ShapeKind {
    Disc = 0, // "Disque"
    Sphere,
    Ellipsoid,
    Cube,
    Box, // "Parallèlipipède"
    Torus,
    Pyramid,
    Cone,
    Cylinder,
    BSpline, // not a mesh: made by the 3D view
};

struct GridAxis {
    int count = 3; // "Nb"
    double step = 10.0; // "Pas"
    double variation = 0.0;
};

// The values of each shape's own box, with their initial values.
struct DiscValues {
    Vec3 normal { 0, 1, 0 };
    double radius = 10.0;
    int precision = 20;
};
struct SphereValues {
    double radius = 10.0;
    int precision = 8;
};
struct EllipsoidValues {
    Vec3 radii { 10.0, 8.0, 6.0 };
    int precision = 8;
};
struct CubeValues {
    double side = 10.0;
};
struct BoxValues {
    Vec3 size { 10.0, 8.0, 6.0 }; // width, height, depth
};
struct TorusValues {
    Vec3 normal { 0, 1, 0 };
    double radius = 10.0;
    int precision = 8;
    double sectionRadius = 3.0;
    int sectionPrecision = 8;
};
struct PyramidValues {
    double base = 10.0;
    double height = 10.0;
};
struct ConeValues {
    Vec3 normal { 0, 1, 0 };
    double radius1 = 10.0;
    double radius2 = 0.0;
    int precision = 8;
    double height = 10.0;
};
struct CylinderValues {
    Vec3 normal { 0, 1, 0 };
    double radius = 10.0;
    int precision = 8;
    double length = 10.0;
};

// The spline surface: a grid of control points Nb x Nb apart by Pas on the x-z plane,
// each raised by up to Elevation, made smooth by a B-spline of the degree and drawn
// with Division segments per span of each grid.
struct SplineGrid {
    int count = 4; // "Nb"
    double step = 10.0; // "Pas"
    int divisions = 7; // "Division"
};
struct BSplineValues {
    int degree = 3;
    SplineGrid u, v;
    double elevation = 20.0;
};

// The settings kept for the run, with their initial values: the command's first box,
// then each shape's box.
struct ShapeSettings {
    ShapeKind kind = ShapeKind::Disc;
    Vec3 position { 0, 0, 0 };
    std::string name = "synthesis";
    bool grid = false; // "Mosaïque"
    GridAxis axes[3];
    bool noise = false; // "Bruit"
    double noiseAmplitude = 1.0;

    DiscValues disc;
    SphereValues sphere;
    EllipsoidValues ellipsoid;
    CubeValues cube;
    BoxValues box;
    TorusValues torus;
    PyramidValues pyramid;
    ConeValues cone;
    CylinderValues cylinder;
    BSplineValues bspline;
};

// The settings kept for the run. Several tasks may run the command at once, so a
// dialog is bound to a copy (shapeSettings) and a validated box stores only its own
// values: keepShapeCommandValues those of the first box, keepShapeValues those of the
// box of one shape.
ShapeSettings shapeSettings();
void keepShapeCommandValues(const ShapeSettings& validated);
void keepShapeValues(const ShapeSettings& validated, ShapeKind kind);
// Back to the initial values (tests).
void resetShapeSettings();

// Draws uniform integers in 0 .. 32767.
using RandomDraw = std::function<int()>;

// The parameter description of the command's first box, and that of each shape's own
// box (empty for BSpline, whose box belongs to the 3D view).
std::string shapeCommandDescription();
std::string shapeDescription(ShapeKind kind);

// Places of the copies: one at the position without the grid, otherwise
// Nx x Ny x Nz places (x outermost, z innermost), each axis centred on the position
// and shifted by variation x draw / 32767 (one draw per axis, x first). Grid counts
// below 1 give no copy.
std::vector<Vec3> shapeCopyPositions(const ShapeSettings& settings, const RandomDraw& draw);

// The shape the settings describe, about the origin; null for BSpline or parameters
// a shape cannot be made from.
TriMesh* makeShapeFromSettings(const ShapeSettings& settings);

// Moves each vertex away from or towards centre by up to amplitude times its distance:
// a vertex is moved when a first draw / 32767 exceeds 0.45, each coordinate with a
// draw of its own.
void addShapeNoise(TriMesh* mesh, double amplitude, Vec3 centre, const RandomDraw& draw);

// The box of the spline surface, and the surface as the 3D view draws it: about the
// origin, control heights Elevation x draw / 32767 (one draw per control point, u
// outermost), the grid clamped to what the degree needs (2..64 points, 1..64
// divisions, degree 1..Nb - 1). Null when memory runs out.
std::string bsplineDescription();
TriMesh* makeBSplineSurface(const BSplineValues& values, const RandomDraw& draw);

// All copies, each built, noised and moved to its place, in copy order; the caller
// owns the meshes.
std::vector<TriMesh*> makeShapeCopies(const ShapeSettings& settings, const RandomDraw& draw);

} // namespace vexa::mesh
