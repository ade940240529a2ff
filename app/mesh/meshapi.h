/* Meshes exchanged with plug-ins: the Mesh3d record and the mesh callbacks.
 *
 * A Mesh3d and every array in it are malloc blocks; the plug-in releases a mesh it
 * received with vexaMesh3dFree. All callbacks accept a null mesh and then do nothing
 * and return 0 (or null). Geometric callbacks work on a single-precision copy of the
 * coordinates, so the mesh's doubles come back rounded to float. Names joined by "="
 * are one function in the callback table. */
#ifndef VEXA_MESHAPI_H
#define VEXA_MESHAPI_H

#include "mesh/trimesh.h"

#include "vexa_export.h"
#include "vexa_plugin.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Mesh3d and Mesh3dExtra are the SDK's own records. */

/* New mesh with zero-filled arrays; null when a count is 0, negative or too large. */
VEXA_API Mesh3d* vexaMesh3dAlloc(int32_t nbPoints, int32_t nbTriangles) VEXA_MESH_NOEXCEPT;

/* Frees the arrays, the extra block with its colours, and the record. 1 when a mesh
 * was freed. = dozMesh3dFree */
VEXA_API int vexaMesh3dFree(Mesh3d* mesh) VEXA_MESH_NOEXCEPT;

/* Adds (dx, dy, dz) to every vertex; a placement matrix M becomes M x T.
 * = dozMesh3dTranslate */
VEXA_API int vexaMesh3dTranslate(Mesh3d* mesh, double dx, double dy, double dz) VEXA_MESH_NOEXCEPT;

/* Multiplies every vertex by (sx, sy, sz) about the origin; M becomes
 * M x diag(sx, sy, sz, 1). = dozMesh3dScale */
VEXA_API int vexaMesh3dScale(Mesh3d* mesh, double sx, double sy, double sz) VEXA_MESH_NOEXCEPT;

/* Rotates every vertex by angle radians about the axis (ax, ay, az) through the
 * origin; M becomes M x R, with R the same rotation acting on row vectors.
 * = dozMesh3dRotate */
VEXA_API int vexaMesh3dRotate(
    Mesh3d* mesh, double ax, double ay, double az, double angle) VEXA_MESH_NOEXCEPT;

/* x' = m0 x + m3 y + m6 z, y' = m1 x + m4 y + m7 z, z' = m2 x + m5 y + m8 z (m is
 * column-major). The extra block is not touched. 0 when m is null. */
VEXA_API int vexaMesh3dTransform(Mesh3d* mesh, const double m[9]) VEXA_MESH_NOEXCEPT;

/* Copies nbPoints x 4 bytes of colours and replaces the extra block by one holding
 * only them: a placement matrix and name are dropped (hasMatrix becomes 0). 0 when
 * colours is null or the mesh has no points (the mesh is then unchanged). */
VEXA_API int vexaMesh3dAddColorVertices(Mesh3d* mesh, const uint8_t* colours) VEXA_MESH_NOEXCEPT;

/* Reads a mesh file as the workstation opens one (format from the name's ending:
 * ".stl", ".off", ".vtk", anything else the workstation's own text format); the
 * colour a file may carry is dropped. Null when the file cannot be read, is malformed
 * or holds no triangle. = dozMesh3dReadFromFile */
VEXA_API Mesh3d* vexaMesh3dReadFromFile(const char* path) VEXA_MESH_NOEXCEPT;

/* Primitives with an extra block holding the identity matrix, hasMatrix 1 and the
 * shape's name. Null when precision is below 3. */
/* Cube of side 1 centred on the origin, "CUBE". = dozMesh3dCube */
VEXA_API Mesh3d* vexaMesh3dCube(void) VEXA_MESH_NOEXCEPT;
/* Sphere of radius 1, "SPHERE": (n - 2) n + 2 points. = dozMesh3dSphere */
VEXA_API Mesh3d* vexaMesh3dSphere(int32_t precision) VEXA_MESH_NOEXCEPT;
/* Cone of base radius 1 at the origin and apex (0, 1, 0), "CONE". */
VEXA_API Mesh3d* vexaMesh3dCone(int32_t precision) VEXA_MESH_NOEXCEPT;
/* Open cylinder of radius 1 about the x axis from x = -0.5 to 0.5, "CYLINDER". */
VEXA_API Mesh3d* vexaMesh3dCylinder(int32_t precision) VEXA_MESH_NOEXCEPT;

/* Arrow from `from` to `to` (3 doubles each): a shaft of radius radius / 2 over the
 * first 80 %, a cone of base radius radius over the last 20 %. No extra block. Null
 * when a point is null or from and to coincide. = dozMesh3dArrow */
VEXA_API Mesh3d* vexaMesh3dArrow(
    const double from[3], const double to[3], double radius, int32_t precision) VEXA_MESH_NOEXCEPT;

/* Open tube of the given radius along count points (3 doubles each, count >= 2).
 * No extra block. */
VEXA_API Mesh3d* vexaMesh3dLine(
    const double* points, int32_t count, double radius, int32_t precision) VEXA_MESH_NOEXCEPT;

#ifdef __cplusplus
}

namespace vexa::mesh {

// Widened copy of a working mesh (no extra block), or null for a null or empty mesh.
Mesh3d* triMeshToMesh3d(const TriMesh* mesh);
// Single-precision copy of an exchanged mesh with its indices checked (a plug-in
// may hand over anything); the box is not computed. Null when the counts, arrays or
// indices are inconsistent.
TriMesh* mesh3dToTriMesh(const Mesh3d* mesh);

} // namespace vexa::mesh
#endif

#endif
