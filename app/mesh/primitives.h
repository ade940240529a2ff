// Unit and parametric shapes as triangle meshes, with fixed point and triangle
// orders (plug-ins and saved scenes depend on them). Precisions below 3 and shapes
// whose counts would not fit a mesh give null; a null or non-finite vector input
// gives null as well. Every result has its box computed.
#pragma once

#include "mesh/trimesh.h"

namespace vexa::mesh {

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

// Side 1 centred on the origin: 8 points, 12 triangles.
TriMesh* makeCube();
// Base 1 x 1 at y = 0, apex (0, 1, 0): 5 points, 6 triangles.
TriMesh* makePyramid();
// Radius 1; (n - 2) n + 2 points, 2 (n - 1)(n - 2) triangles; the first and last
// point of each ring coincide.
TriMesh* makeSphere(int n);
// Disc of radius r about the origin, perpendicular to normal: n + 1 points, n
// triangles.
TriMesh* makeDisc(Vec3 normal, double r, int n);
// Base centre at the origin, apex at axis: n + 2 points, 2n triangles.
TriMesh* makeCone(Vec3 axis, double r, int n);
// Base radius r1 at the origin, top radius r2 at axis: 2n + 2 points, 4n triangles.
TriMesh* makeTruncatedCone(Vec3 axis, double r1, double r2, int n);
// Open tube of radius r along count >= 2 points: count n points, 2n (count - 1)
// triangles.
TriMesh* makeTube(const Vec3* points, int count, double r, int n);
// Tube along the origin and axis, without end caps: 2n points, 2n triangles.
TriMesh* makeCylinder(Vec3 axis, double r, int n);
// Ring of large radius bigR (precision bigN) about normal, section radius r
// (precision n): (bigN + 1) n points, 2 n bigN triangles.
TriMesh* makeTorus(Vec3 normal, double bigR, double r, int bigN, int n);

// Unit perpendicular of a direction (zero when d is zero).
Vec3 perpendicular(Vec3 d);

} // namespace vexa::mesh
