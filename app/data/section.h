// Sections of a block: whole planes along the three axes, rectangles of them, and
// vertical sections along paths of the map plane (the diagonals), read from memory
// or from the block's files with type conversion and value scaling, and written
// back with the block's write combination.
//
// Plane geometry (columns x rows):
//   FRONT 0, index z: dimX x dimY, (c, r) = (x, y)
//   RIGHT 1, index x: dimZ x dimY, (c, r) = (z, y)
//   TOP   2, index y: dimX x dimZ, (c, r) = (x, dimZ - 1 - z): rows run from the last z
//                     to the first.
#pragma once

#include "data/datarecord.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexa {

enum Plane : int { PLANE_FRONT = 0, PLANE_RIGHT = 1, PLANE_TOP = 2 };

// Width and height of a whole section; false for an unknown plane.
bool sectionSize(const BlockDescriptor& block, int plane, int& width, int& height);
// Number of sections along the plane's axis (dimZ, dimX or dimY); 0 for an unknown plane.
int sectionCount(const BlockDescriptor& block, int plane);

// The section reader. Returns a new malloc'd array of (c1 - c0 + 1) x (r1 - r0 + 1)
// samples of wantedType (of the block's type when wantedType is -1), or null for a
// bad rectangle, an unknown plane or type. An index outside the plane, a memory
// block without samples or a file block without file give zeros; so does the part
// of the rectangle outside the section. With scale, the block's value scale applies
// (when valueScaleOn); RGBA samples read as a scalar type are first reduced to the
// mean of red, green and blue.
void* readSection(const BlockDescriptor& block, bool scale, int wantedType, int plane, int index,
    int c0, int r0, int c1, int r1);

// Writes a w x h rectangle of data (in dataType; converted to the block's type with
// gain 1 and offset 0, saturating) at (c0, r0) of a section, combined by writeOp.
// FRONT rectangles are clipped to the section; RIGHT and TOP rectangles are written
// only when wholly inside. Returns true when something was written.
bool writeSection(BlockDescriptor& block, int plane, int index, int c0, int r0, const void* data,
    int w, int h, int dataType);

// Paths in the map plane: start parameter p and a repeated step pattern.
struct PathPoint {
    int x, z;
};
// The points of a path, from its start to its last point inside the block. An empty
// pattern, or one that would revisit points forever, is cut at dimX x dimZ points.
std::vector<PathPoint> pathPoints(int dimX, int dimZ, int p, const int* dx, const int* dz, int n);
// The column-per-point section along a path (height dimY), scaled, as wantedType.
// Null when the path is empty.
void* readPathSection(const BlockDescriptor& block, int p, int wantedType, const int* dx,
    const int* dz, int n, int& width, int& height);
// Writes a (path length) x dimY array of dataType along the path.
bool writePathSection(BlockDescriptor& block, int p, const int* dx, const int* dz, int n,
    const void* data, int dataType);

// The two diagonals: SONE x - z = p, NOSE x + z = -p.
extern const int kSoneDx[1], kSoneDz[1], kNoseDx[1], kNoseDz[1];

// Run when the image record of a block is created: centres a (0, 0, 0) cursor and
// fills an empty 2D image with FRONT section cursorZ.
void prepareDisplayedSection(ImageObject& object);

// Shows a section of a record's block in its 2D image (samples replaced under the
// image's lock), moves the cursor on that axis and labels the position
// ("FRONT %.5d", "RIGHT %.5d", "TOP %.5d"). False when the record holds no block or
// the index is outside.
bool showBlockSection(DataRecord* record, int plane, int index);

// "FRONT 00012" and so on.
std::string positionLabel(int plane, int index);

// Samples of a 2D image as a new array of type (dozDataGetData), with the value scale
// (gain, offset). A scalar image read as RGBA goes through the image's palette. Null
// when the image has no samples or the type is unknown.
void* readImageData(const ImageDescriptor& image, double gain, double offset, int type);

// Colours of a palette, 256 entries of blue, green, red, unused. The palette list
// installs the provider; without one (or when it answers false) palettes are grey.
using PaletteTable = std::uint8_t[256][4];
void setPaletteTableProvider(std::function<bool(PaletteRef, PaletteTable&)> provider);

} // namespace vexa
