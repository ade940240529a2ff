/* The working triangle mesh: float vertices, 32-bit indices and the derived figures
 * (box, area, volume, barycentre) kept in the record.
 *
 * Every array of a TriMesh is a malloc block owned by the record and released by
 * triMeshFree. All operations accept a null mesh and then do nothing (or return
 * null / 0). Invariant kept by every function that builds a mesh: each index lies in
 * [0, nbPoints). */
#ifndef VEXA_TRIMESH_H
#define VEXA_TRIMESH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* C callers see plain declarations; C++ callers see that nothing throws. */
#ifdef __cplusplus
#define VEXA_MESH_NOEXCEPT noexcept
#else
#define VEXA_MESH_NOEXCEPT
#endif

struct MeshBlockShared;

/* One node of the block partition made for visibility tests. A block with children
 * keeps no triangle lists; leaves keep theirs. */
typedef struct MeshBlock {
    float boxMin[3];
    float boxMax[3];
    float centre[3];
    float radius;
    int32_t nbTriangles;
    int32_t* triangles; /* 3 x nbTriangles, copied index triples */
    int32_t* ids; /* nbTriangles triangle numbers in the mesh */
    struct MeshBlock* children[8];
    struct MeshBlock* root;
    int32_t depth; /* 1 for the root */
    struct MeshBlockShared* shared; /* owned by the root */
} MeshBlock;

typedef struct MeshBlockShared {
    const float* points; /* the mesh's point array, not owned */
    int32_t visibilityLevel;
} MeshBlockShared;

typedef struct TriMesh {
    float* points; /* x, y, z interleaved, 3 x nbPoints */
    int32_t nbPoints;
    int32_t nbTriangles;
    int32_t* triangles; /* 3 x nbTriangles, 0-based */
    float boxMin[3];
    float boxMax[3];
    float surface; /* 0: not computed */
    float volume; /* 0: not computed */
    float barycentre[3];
    MeshBlock* blocks; /* owned; null when there is no partition */
} TriMesh;

/* Largest count of points or triangles: 3 x count int32 or float must still be
 * addressable with an int32 element index. */
#define TRIMESH_MAX_COUNT 715827882

/* A new mesh that takes ownership of the two malloc'd arrays and has its box
 * computed. Null (and the arrays stay the caller's) when a count is negative or above
 * TRIMESH_MAX_COUNT, a non-zero count comes with a null array, an index is out of
 * range, or memory runs out. */
TriMesh* triMeshCreate(
    float* points, int32_t nbPoints, int32_t* triangles, int32_t nbTriangles) VEXA_MESH_NOEXCEPT;

/* Deep copy of points and triangles with the box recomputed and surface, volume and
 * barycentre copied; no block partition. */
TriMesh* triMeshCopy(const TriMesh* mesh) VEXA_MESH_NOEXCEPT;

/* Points of a then of b; triangles of a, then those of b shifted by a's point count.
 * No welding. A null side gives a copy of the other; both null give null. */
TriMesh* triMeshMerge(const TriMesh* a, const TriMesh* b) VEXA_MESH_NOEXCEPT;

/* Frees arrays, partition and record, and sets *mesh to null. */
void triMeshFree(TriMesh** mesh) VEXA_MESH_NOEXCEPT;

/* Geometric operations on every vertex. None of them updates the box or figures. */
void triMeshTranslate(TriMesh* mesh, double dx, double dy, double dz) VEXA_MESH_NOEXCEPT;
void triMeshScale(TriMesh* mesh, double sx, double sy, double sz) VEXA_MESH_NOEXCEPT;
/* Rotation by angle radians about the axis (ax, ay, az) through the origin; a
 * zero-length axis is used as it is. */
void triMeshRotate(TriMesh* mesh, double ax, double ay, double az, double angle) VEXA_MESH_NOEXCEPT;
/* x' = m0 x + m3 y + m6 z, y' = m1 x + m4 y + m7 z, z' = m2 x + m5 y + m8 z. */
void triMeshTransform(TriMesh* mesh, const double m[9]) VEXA_MESH_NOEXCEPT;

/* Recomputes boxMin/boxMax; does nothing on an empty mesh. */
void triMeshComputeBox(TriMesh* mesh) VEXA_MESH_NOEXCEPT;

/* Reports edges shared by three or more triangles to the message log ("Poutre"),
 * makes the orientation of each connected piece follow its lowest-numbered triangle,
 * and computes barycentre, surface and volume. 1 when done; 0 for a null or empty
 * mesh or one whose indices are out of range (nothing is changed). */
int triMeshFinish(TriMesh* mesh) VEXA_MESH_NOEXCEPT;

/* Releases a block partition tree (the whole tree when given its root). */
void meshBlocksRelease(MeshBlock* root) VEXA_MESH_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <functional>
#include <string>

namespace vexa::mesh {

// Where triMeshFinish sends its report lines.
using LineSink = std::function<void(const std::string&)>;

// triMeshFinish with the report lines given to sink instead of the message log.
int finishMesh(TriMesh* mesh, const LineSink& sink);

// True when every index of the mesh lies in [0, nbPoints) and the arrays match the
// counts.
bool hasValidIndices(const TriMesh& mesh);

// Posts one line to the message log (any thread).
void postLogLine(const std::string& line);

// malloc'd empty mesh record with arrays for the given counts (uninitialised), or
// null when a count is out of range or memory runs out.
TriMesh* allocateTriMesh(int64_t nbPoints, int64_t nbTriangles);

} // namespace vexa::mesh
#endif

#endif
