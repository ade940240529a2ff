// The extraction walk behind extractIsoSurface: slabs of consecutive layers (a layer
// being the cubes between slices z and z + 1) walked by one or more threads.
//
// Each slice is transformed by the selection and classified once; rows of cubes whose
// corners all lie on one side are skipped. Vertices live on lattice places (cube
// edges for marching cubes, voxel corners or half-voxel corners for the other rules)
// and are created once, at their first use in walk order, so the result is the one
// the cube-by-cube soup followed by welding gives: same points in the same order,
// same triangles in the same order. Slabs are merged in order; a vertex on the plane
// two slabs share belongs to the first slab that made it.
#pragma once

#include "mesh/isosurface.h"

#include <string>

namespace vexa::mesh::detail {

// The clamped box, inclusive bounds.
struct WalkBox {
    int dimX = 0, dimY = 0;
    int x1 = 0, y1 = 0, z1 = 0, x2 = 0, y2 = 0, z2 = 0;
};

// A whole volume in memory, x fastest, samples of a scalar TYPEDATA_ type. With a
// plain threshold the walk reads it directly rather than through the reader.
struct RawVolume {
    const void* samples = nullptr;
    int type = 0;
};

// Runs the walk over the box. The reader may be called from several threads at once
// only when concurrentReads is set (it is serialised otherwise); raw may be null.
// Returns the welded mesh with its box computed; null when stopped (report.stopped
// set, no reason) or on failure (reason in *error). Checks for a stop at least every
// 50 ms on the calling thread.
TriMesh* walkSlabs(const SliceReader& reader, bool concurrentReads, const RawVolume* raw,
    const WalkBox& box, const IsoSurfaceParams& params, const IsoSurfaceHooks& hooks,
    const LineSink& log, IsoSurfaceReport& report, std::string* error);

} // namespace vexa::mesh::detail
