// Ray-marching a volume on the processor: the march of the volume shaders (one or two
// voxels a step along each pixel's ray, empty bricks crossed in one jump, front-to-back
// compositing, rays stopped at the opaque scene's depth), for software rasterisers. A
// generic shader pipeline there spends several times per sample what this loop does.
#pragma once

#include "scene/scenemath.h"
#include "scene/volume.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vexa::scene {

struct MarchFrame {
    Mat4 clipToVoxel = identity(); // normalised device coordinates to voxel coordinates
    Vec3 eye; // in voxel coordinates: (0, 0, 0) .. (nx, ny, nz) is the volume's box
    int width = 0, height = 0; // the viewport, in pixels
    // Window depth in [0, 1] of each viewport pixel, rows from the bottom; rays stop
    // where it is below 1. Null: nothing opaque.
    const float* depth = nullptr;
    double step = 1; // voxels per step: 1, or 2 while the view turns
    double opacity = 1;
};

// The frame of a volume filling box in its object's coordinates, seen through the
// given projection and model-view matrices; nullopt when they cannot be inverted.
std::optional<MarchFrame> marchFrameOf(const Volume& volume, const Box& box, const Mat4& projection,
    const Mat4& modelView, int width, int height);

// A volume laid out for the march: one more voxel on each axis repeating the last, so
// that edge clamping costs nothing, and planes a stride apart that is an odd number of
// cache lines, so that a ray across the planes does not keep landing in the same few
// cache sets (a power-of-two plane, 256 KiB for 256^2 colours, would).
struct MarchVolume {
    int nx = 0, ny = 0, nz = 0;
    bool floats = false;
    std::size_t rowStride = 0, planeStride = 0; // in voxels
    std::vector<std::uint32_t> rgba; // the colour bytes of each voxel, in memory order
    std::vector<float> values;
    std::vector<std::uint8_t> transfer; // of float volumes
    double low = 0, high = 1;
    BrickGrid bricks; // empty: marched without skipping
};

// Null when the volume's samples do not match its sides, or memory runs short.
std::shared_ptr<const MarchVolume> marchVolumeOf(const Volume& volume);

// Pixels of the viewport, rows counted from the bottom as GL counts them.
struct PixelRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

// The pixels whose rays may meet the volume's box: around the projection of its
// corners, or the whole viewport when a corner lies behind the eye.
PixelRect marchedRect(const MarchVolume& volume, const MarchFrame& frame);

// Premultiplied RGBA bytes of each pixel of rect, rows from the bottom, into out
// (rect.width * rect.height * 4 bytes). threads <= 0 takes one per core.
void marchVolume(const MarchVolume& volume, const MarchFrame& frame, PixelRect rect,
    std::uint8_t* out, int threads = 0);

} // namespace vexa::scene
