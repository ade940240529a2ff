// Meshes and textures of animation objects: quads, height fields, colours of
// polylines and pictures read from image files. Failures give null or false and a
// French reason; nothing here throws on bad input.
#pragma once

#include "scene/animtarget.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace vexa::scene {

// A quad of four corners with triangles (0, 1, 2) and (0, 2, 3).
TriMeshPtr animQuad(const std::array<Vec3, 4>& corners);

// The mesh of a height field of w x h values (row by row), visiting every step-th
// column and row. type 0: vertex (c, r, v); 1: (v, r, c); 2: (c, v, r). With uv,
// texture coordinates (first free coordinate / (w - 1), second / (h - 1)) are filled.
// Null for a step below 1, fewer than two visited columns or rows, or too many points.
TriMeshPtr animHeightField(
    const std::vector<double>& values, int w, int h, int step, int type, std::vector<float>* uv);

// Planar mapping over x and y of all points: u, v in [0, 1] (0 on a flat axis).
std::vector<float> animPlanarMapping(const TriMesh& mesh);

// Hue, saturation and lightness on a 0 .. 240 scale to r, g, b in [0, 1].
Colour animHslColour(double hue, double saturation, double lightness);

// The whole plane of a 2D image file as doubles (sample type kept exactly; RGBA read
// as its grey level). False with a reason when unreadable or larger than allowed.
bool animReadImage(
    const std::string& path, std::vector<double>& values, int& w, int& h, std::string& reason);

// A 2D image file as a texture: RGBA files as they are, other types converted to
// 8 bits (clamped, truncated) and each level v as (v, v, v, 255).
std::shared_ptr<Texture> animImageTexture(const std::string& path, std::string& reason);
// Columns x1 .. x2 and rows y1 .. y2 (rounded) of the FRONT plane no of a volume file.
std::shared_ptr<Texture> animFrontTexture(const std::string& path, double x1, double y1, double x2,
    double y2, double no, std::string& reason);
// The volume sampled along a quad (nearest voxel, about one texel per voxel along the
// quad's sides, at most 2048 per side): columns run from corner 0 to corner 1, rows
// from corner 0 to corner 3.
std::shared_ptr<Texture> animSliceTexture(
    const std::string& path, const std::array<Vec3, 4>& corners, std::string& reason);

} // namespace vexa::scene
