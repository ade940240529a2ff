/* vexaMem: copies, type conversions, geometric and element-wise operations on
 * dense arrays of samples in memory.
 *
 * Arrays are row-major with x fastest and carry one sample type, given as a type
 * data code (TYPEDATA_* of vexa_types.h). Sizes, coordinates and counts are ints;
 * byte counts are computed in 64 bits inside.
 *
 * Buffers returned by this library are malloc/calloc allocations: the caller frees
 * them with free() (or vexaMemFree, which is the same). Destinations passed in are
 * allocated by the caller and must not overlap the source.
 *
 * The library trusts valid calls (rectangles inside their arrays, destinations large
 * enough) but a null pointer or a non-positive size never faults: the call does
 * nothing and a function that returns a buffer returns null. Usable from C and C++;
 * no function throws. */
#ifndef VEXAMEM_H
#define VEXAMEM_H

#include "vexa_export.h"
#include "vexa_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Copies byteCount bytes from source to destination in increasing address order. */
VEXA_API void vexaMemCopy(const void* source, void* destination, int byteCount);

/* New zero-filled buffer of w x h samples holding the rectangle whose top-left
 * sample is (x, y) of a width x height array of the given type: result sample
 * (i, j) = source sample (x + i, y + j). Only the rectangle is read. For a type
 * whose element size is 3 (no valid code) the w x h x 3 bytes stay zero.
 * Null when source is null, w or h is not positive, or memory runs out. */
VEXA_API void* vexaMemExtract(
    const void* source, int width, int height, int x, int y, int w, int h, int type);

/* New buffer of count samples of outputType: each input sample v (read exactly as a
 * double) becomes v * scale + offset (product and sum rounded separately), clamped
 * to the output type's range and truncated toward zero for integer outputs, rounded
 * to single precision for F32, kept for F64. RGBA converts only to RGBA with scale
 * 1 and offset 0 (a copy); any other RGBA input reads as 0; an RGBA output, or any
 * conversion involving another invalid code, is left zero-filled (an invalid output
 * code sizes the buffer with 3 bytes per sample). NaN inputs give 0 in integer
 * outputs. Null when source is null, count is not positive, or memory runs out. */
VEXA_API void* vexaMemConvert(
    const void* source, int count, double scale, double offset, int inputType, int outputType);

/* As vexaMemConvert, into a caller-allocated destination of count samples of
 * outputType (count x 3 bytes for an invalid code), without allocating anything.
 * Returns 1, or 0 (nothing written) when a pointer is null or count is not positive. */
VEXA_API int vexaMemConvertInto(const void* source, int count, double scale, double offset,
    int inputType, int outputType, void* destination);

/* Frees a buffer returned by this library; null is accepted. */
VEXA_API void vexaMemFree(void* buffer);

/* Transposes a width x height array in place: the result is height wide and width
 * high, sample (y, x) receiving input (x, y). Element sizes 1, 2, 4 and 8; for an
 * invalid type (element size 3) the width x height x 3 bytes are zeroed. */
VEXA_API void vexaMemTranspose(void* buffer, int type, int width, int height);

/* Mirrors and quarter turns of a width x height array into destination. Samples
 * move as units of their element size (3 bytes for an invalid code).
 * SwapHorizontal: left-right mirror, (x, y) -> (W-1-x, y), width x height.
 * SwapVertical: top-bottom mirror, (x, y) -> (x, H-1-y), width x height.
 * Rotate90: counter-clockwise as displayed, (x, y) -> (y, W-1-x), height wide.
 * Rotate180: half turn, (x, y) -> (W-1-x, H-1-y), width x height.
 * Rotate270: clockwise as displayed, (x, y) -> (H-1-y, x), height wide. */
VEXA_API void vexaMemSwapHorizontal(
    const void* source, int width, int height, int type, void* destination);
VEXA_API void vexaMemSwapVertical(
    const void* source, int width, int height, int type, void* destination);
VEXA_API void vexaMemRotate90(
    const void* source, int width, int height, int type, void* destination);
VEXA_API void vexaMemRotate180(
    const void* source, int width, int height, int type, void* destination);
VEXA_API void vexaMemRotate270(
    const void* source, int width, int height, int type, void* destination);

/* Size of the array that holds a width x height array turned by angle radians: the
 * extent of the turned corners, rounded up, plus one on each axis (so angle 0 gives
 * (width + 1) x (height + 1)). Null output pointers are skipped. */
VEXA_API void vexaMemRotateComputeDim(
    int width, int height, double angle, int* outWidth, int* outHeight);

/* Turns an array of doubles by angle radians about its centre into destination,
 * sized by vexaMemRotateComputeDim. Nearest sample, no interpolation; destination
 * samples whose source falls outside the input keep their prior value. */
VEXA_API void vexaMemRotate(
    const double* source, int width, int height, double* destination, double angle);

/* Nearest-neighbour (truncating) resize of an array of doubles into a newWidth x
 * newHeight destination; first and last rows and columns map onto each other. A
 * new size of 1 on an axis takes input index 0 on that axis. */
VEXA_API void vexaMemResize(
    const double* source, int width, int height, double* destination, int newWidth, int newHeight);

/* Rotates count 32-bit words one place towards the front, the first word going last.
 * A count of 0 or less touches nothing. */
VEXA_API void vexaMemRoll(void* words, int count);

/* vexaMemRoll(array, count) on each of the arrayCount arrays (void*) that follow. */
VEXA_API void vexaMemRolls(int arrayCount, int count, ...);

/* Element-wise operations, vexaMemOp. */
enum VexaMemOperation {
    VEXAMEM_OP_PASTE = 0, /* destination = source converted to the destination type */
    VEXAMEM_OP_ADD = 1,
    VEXAMEM_OP_MULTIPLY = 2,
    VEXAMEM_OP_MIN = 3, /* the destination's sample when equal */
    VEXAMEM_OP_MAX = 4, /* the source's sample when equal */
    VEXAMEM_OP_NONE = 99 /* the call does nothing */
};

/* Combines the width x height rectangle at (sourceX, sourceY) of the source array
 * into the rectangle at (destinationX, destinationY) of the destination array, in
 * place. Arrays may differ in type and size; sourceWidth and destinationWidth are the
 * row lengths (the heights are not used for indexing). Sums, products, minima and
 * maxima are formed in double precision and stored with the conversion rule of
 * vexaMemConvert (clamped, truncated). Any other code than those of VexaMemOperation
 * pastes the source. To paste into a plane of a volume, pass a destination pointer
 * already advanced to that plane. */
VEXA_API void vexaMemOp(const void* source, int sourceType, int sourceWidth, int sourceHeight,
    int sourceX, int sourceY, int width, int height, void* destination, int destinationType,
    int destinationWidth, int destinationHeight, int destinationX, int destinationY, int operation);

#ifdef __cplusplus
}
#endif

#endif
