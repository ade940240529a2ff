// Volume objects of a scene: a block of samples drawn by ray-marching inside its
// placement box. The samples reach the GPU either as RGBA bytes (a block's values
// mapped through a range and its palette) or as 32-bit floats looked up in a
// transfer function while marching.
//
// Voxel (i, j, k) fills the cell [i, i + 1] x [j, j + 1] x [k, k + 1] of the default
// box, which is therefore (0, 0, 0) .. (nx, ny, nz): the block's own reference box.
#pragma once

#include "scene/scenemath.h"

#include "data/block.h"
#include "display/palette.h"
#include "mesh/trimesh.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexa::scene {

enum VolumeFormat : int {
    VOLUME_RGBA8 = 0,
    VOLUME_R32F = 1,
};

// A side above this is refused: it is what 3D textures are commonly limited to, and
// larger requests are far more likely a corrupt size than a real volume.
constexpr int kMaxVolumeSide = 2048;
// At most this many voxels (1 GiB of floats): the whole volume lives on the GPU.
constexpr std::int64_t kMaxVolumeVoxels = std::int64_t(1) << 28;
// Entries of the table a transfer function is sampled into.
constexpr int kTransferEntries = 256;

// One control point: a value and its colour (components and alpha in [0, 1]). Alpha
// is the opacity of one voxel's thickness.
struct TransferPoint {
    double value = 0;
    double r = 0, g = 0, b = 0, a = 0;
};

struct Volume {
    int nx = 0, ny = 0, nz = 0;
    int format = VOLUME_RGBA8;
    std::vector<std::uint8_t> rgba; // VOLUME_RGBA8: 4 per voxel, x fastest
    std::vector<float> values; // VOLUME_R32F: 1 per voxel, x fastest
    // VOLUME_R32F: kTransferEntries RGBA entries spread evenly over [low, high];
    // values outside take the end entries.
    std::vector<std::uint8_t> transfer;
    double low = 0, high = 1;

    std::int64_t voxelCount() const { return std::int64_t(nx) * ny * nz; }
    // True when every side is positive and the samples fill them exactly (floats
    // with their full transfer table): what drawing or sampling may rely on.
    bool samplesMatchSides() const;
};

// Reason a volume of those sides is refused ("" when it is acceptable).
std::string volumeSizeError(int nx, int ny, int nz);

// Reason the control points are refused (""): at least two, finite, values strictly
// increasing, components in [0, 1].
std::string transferFunctionError(const std::vector<TransferPoint>& points);
// The points sampled at kTransferEntries values evenly spread from the first point's
// value to the last one's, linearly between neighbours: 4 bytes per entry. Empty when
// the points are refused.
std::vector<std::uint8_t> transferTable(const std::vector<TransferPoint>& points);

// Maps values through [low, high] onto levels 0 .. 255 (values below low give 0, above
// high 255, NaN 0) and each level to its palette colour, with the level / 255 as alpha:
// the low end of the range is clear, the high end opaque. Appends 4 bytes per value.
void appendPaletteVoxels(const double* values, std::size_t count, double low, double high,
    const ColourTable& palette, std::vector<std::uint8_t>& out);

// A VOLUME_RGBA8 volume of a block's samples (value scale applied) through [low, high]
// and the palette; when low == high the block's own range of finite values is taken.
// Null with a French reason for a refused size, a range that is not finite, or when
// the samples cannot be read.
std::shared_ptr<Volume> volumeFromBlock(const BlockDescriptor& block, double low, double high,
    const ColourTable& palette, std::string* reason = nullptr);

// A VOLUME_R32F volume of nx x ny x nz floats (x fastest) coloured by the transfer
// function. Null with a French reason when the size or the points are refused.
std::shared_ptr<Volume> volumeFromFloats(const float* values, int nx, int ny, int nz,
    const std::vector<TransferPoint>& points, std::string* reason = nullptr);

// The volume's colour at a point of its object's coordinates, the samples filling box
// (voxel centres at the middle of their cells, trilinear between them, as the GPU
// samples them; a float volume interpolates its values and then looks them up in the
// transfer table). False, out untouched, outside the box or for a point that is not
// finite. out is RGB in bytes; the voxel's opacity is not part of it.
bool sampleVolumeColour(const Volume& volume, const Box& box, Vec3 p, std::uint8_t out[3]);

// "Ajouter une texture 3D": one RGBA colour per point of mesh, the volume's colour
// where the point (through toVolume, from mesh coordinates to the volume object's)
// lies inside the box, otherwise fallback; alpha is fallback's. Empty for a null or
// empty mesh.
std::vector<std::uint8_t> volumeVertexColours(const Volume& volume, const Box& box,
    const Mat4& toVolume, const TriMesh* mesh, const std::array<std::uint8_t, 4>& fallback);

// Empty-space skipping: the volume cut into bricks of kBrickSide voxels a side (the
// last ones shorter). A brick is marked occupied when something visible may be sampled
// inside it: the interpolation there reads the brick's voxels and their neighbours,
// and for a float volume any value between their extremes may come out, so the
// transfer table must be clear over that whole span (linear between entries) for the
// brick to be skipped.
constexpr int kBrickSide = 8;
struct BrickGrid {
    int bx = 0, by = 0, bz = 0;
    std::vector<std::uint8_t> occupied; // 1 or 0 per brick, x fastest
};
BrickGrid volumeBricks(const Volume& volume);

// Reason a placement box is refused (""): finite origin, finite positive sizes.
std::string volumeBoxError(Vec3 origin, Vec3 size);
// The twelve triangles of the box, outward, for framing and picking; the caller frees it.
TriMesh* boxMesh(const Box& box);

} // namespace vexa::scene
