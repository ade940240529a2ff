// Volume commands worked section by section between shown blocks, addressed by their
// blockIds: operators per slice, mirrors, rotations by quarter turns and decimation.
// The result block must exist already with the sizes the operation gives (see the
// size functions); every function checks them and returns false, writing nothing,
// when they do not match. Progress goes to the calling thread's task, which is checked
// for a stop after every section: a stopped task makes them return false at once,
// the result partly written (the task closes its outputs when it ends).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vexa::processing {

struct VolumeInfo {
    int dimX = 0, dimY = 0, dimZ = 0;
    int type = 0;
};
// Sizes and type of a shown block; false for an unknown blockId.
bool volumeInfo(unsigned int blockId, VolumeInfo& info);

// Each slice z: result = op(source) on the slice read as doubles (value scale applied),
// stored in the result's type (clamped, truncated). Statistics such as the mean of
// the 'Variance' are per slice.
bool unaryVolume(unsigned int source, unsigned int result, int code, double p);
// Both inputs and the result must have the same sizes.
bool binaryVolume(unsigned int a, unsigned int b, unsigned int result, int code);
// Folds the inputs in order, ((V0 op V1) op V2) ...; a single input is copied.
bool naryVolume(const std::vector<unsigned int>& inputs, unsigned int result, int code);

enum VolumeMirror : int {
    MIRROR_X = 1, // RIGHT sections in reverse order
    MIRROR_Y = 2, // TOP sections
    MIRROR_Z = 3, // FRONT sections
};
// False for another mirror.
bool mirrorVolume(unsigned int source, unsigned int result, int mirror);

// Quarter turns about an axis. Indices are those of the rotation dialog's lists.
enum RotationAxis : int { AXIS_OX = 0, AXIS_OY = 1, AXIS_OZ = 2 };
enum RotationAngle : int { ANGLE_PLUS_90 = 0, ANGLE_180 = 1, ANGLE_MINUS_90 = 2 };
// Sizes of the turned volume; false for an unknown axis or angle.
bool rotatedVolumeSizes(
    int axis, int angle, int dimX, int dimY, int dimZ, int& outX, int& outY, int& outZ);
// Colour volumes are refused.
bool rotateVolume(unsigned int source, unsigned int result, int axis, int angle);

// Mean over blocks of fx x fy x fz samples; the samples left over at the far ends are
// dropped. False (reason in French) for a factor below 1 or larger than its size.
bool decimatedVolumeSizes(
    const VolumeInfo& source, int fx, int fy, int fz, VolumeInfo& result, std::string* reason);
bool decimateVolume(unsigned int source, unsigned int result, int fx, int fy, int fz);

// Nearest-sample resampling to the result's sizes: result (x, y, z) is the source
// sample (x X / X', y Y / Y', z Z / Z') (integer divisions), in the source's type.
bool rescaleVolume(unsigned int source, unsigned int result);

// Deriche's recursive smoothing of coefficient alpha along x, y and z (a larger alpha
// smooths less), on the source read as doubles with its value scale, written in the
// result's type. The whole volume is held as doubles meanwhile. False for alpha <= 0.
bool smoothVolume(unsigned int source, unsigned int result, double alpha);

// A box of a volume: its first sample and its sizes.
struct VolumeBox {
    int x = 0, y = 0, z = 0;
    int dimX = 0, dimY = 0, dimZ = 0;
};
// Boxes of a volume cut into countX x countY x countZ (1 to 5 each) overlapping by the
// borders, clipped to the volume, in the order x, then y, then z innermost. False with
// a reason like splitTiles.
bool splitVolumeBoxes(const VolumeInfo& volume, const int counts[3], const int borders[3],
    std::vector<VolumeBox>& boxes, std::string* reason);
// The length a split of count parts with that border was made from, given the lengths
// of its parts in order; 0 when no length gives those parts.
int mergedLength(const std::vector<int>& parts, int border);
// Copies the box of the source, at (x, y, z), into the whole result (of the box's
// sizes), section by section in the source's type.
bool copyVolumeBox(unsigned int source, unsigned int result, int x, int y, int z);
// Writes a whole volume of the sizes of source into the result with its first sample
// at (x, y, z); front(k) gives its FRONT section k in the result's type (a malloc'd
// array, null when it cannot be read). The volume must fit inside the result.
bool pasteVolumeBox(const std::function<void*(int)>& front, const VolumeInfo& source,
    unsigned int result, int x, int y, int z);

} // namespace vexa::processing
