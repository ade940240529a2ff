// Volume commands worked section by section between shown blocks, addressed by their
// blockIds: operators per slice, mirrors, rotations by quarter turns and decimation.
// The result block must exist already with the sizes the operation gives (see the
// size functions); every function checks them and returns false, writing nothing,
// when they do not match. Progress goes to the calling thread's task, which is checked
// for a stop after every section: a stopped task makes them return false at once,
// the result partly written (the task closes its outputs when it ends).
#pragma once

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

} // namespace vexa::processing
